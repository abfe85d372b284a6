#pragma once
// WNet enumeration and the local names, passed straight through: the seam's NETRESOURCEA has
// this system's layout, so the caller's buffer is filled by WNetEnumResourceA itself.
#include <memory>

#include "platform/Network.h"
#include "platform/win32/Win32Discovery.h"

namespace zumelko::platform::win32 {

class Win32Network final : public Network {
public:
    // Network overrides:
    std::uint32_t WNetOpenEnum(std::uint32_t scope, std::uint32_t type, std::uint32_t usage,
                               const NetResource* parent, EnumHandle& handle) override;
    std::uint32_t WNetEnumResource(EnumHandle handle, std::uint32_t& count, void* buffer,
                                   std::uint32_t& bufferSize) override;
    std::uint32_t WNetCloseEnum(EnumHandle handle) override;
    bool GetUserName(char* buffer, std::uint32_t& size) override;
    bool GetComputerName(char* buffer, std::uint32_t& size) override;
    std::vector<std::string> DiscoveredMachines() override;
    std::vector<DiscoveredRecord> DiscoveredRecords() override;

    // Announces this machine to the other instances and starts looking for them, with the
    // system's functions or with api in their place; until then (and in programs that only
    // send) nothing is announced or found. Stopping withdraws the announcement.
    void StartDiscovery(Win32Loop& loop);
    void StartDiscovery(Win32Loop& loop, const DnsSdApi& api);
    void StopDiscovery() { discovery_.reset(); }
    const Win32Discovery* Discovery() const { return discovery_.get(); }

private:
    std::string LocalName();

    std::unique_ptr<Win32Discovery> discovery_;
};

}  // namespace zumelko::platform::win32
