#pragma once
// WNet enumeration and the local names, passed straight through: the seam's NETRESOURCEA has
// this system's layout, so the caller's buffer is filled by WNetEnumResourceA itself.
#include "platform/Network.h"

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
};

}  // namespace zumelko::platform::win32
