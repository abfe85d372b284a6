#pragma once
// The network neighbourhood as Linux desktops browse it: SMB through libsmbclient. The tree has
// the levels the program walks: one provider, its workgroups (smb://), a workgroup's servers
// (smb://WORKGROUP/). Each level is read when it is opened and handed out one entry per read,
// written into the caller's buffer as a NETRESOURCE record followed by its strings. Also the
// local identity: the login name and the host name without its domain.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Network.h"
#include "platform/qt/AvahiDiscovery.h"

namespace zumelko::platform::qt {

class SmbNetwork final : public Network {
public:
    std::uint32_t WNetOpenEnum(std::uint32_t scope, std::uint32_t type, std::uint32_t usage,
                               const NetResource* parent, EnumHandle& handle) override;
    std::uint32_t WNetEnumResource(EnumHandle handle, std::uint32_t& count, void* buffer,
                                   std::uint32_t& bufferSize) override;
    std::uint32_t WNetCloseEnum(EnumHandle handle) override;
    bool GetUserName(char* buffer, std::uint32_t& size) override;
    bool GetComputerName(char* buffer, std::uint32_t& size) override;
    std::vector<std::string> DiscoveredMachines() override;
    std::vector<DiscoveredRecord> DiscoveredRecords() override;

    // Announces this machine to the other instances and starts looking for them; until then
    // (and in programs that only send) nothing is announced or found.
    void StartDiscovery();

    static constexpr std::uint32_t kDisplayDomain = 1;   // RESOURCEDISPLAYTYPE_DOMAIN
    static constexpr std::uint32_t kDisplayServer = 2;   // RESOURCEDISPLAYTYPE_SERVER
    static constexpr std::uint32_t kDisplayNetwork = 6;  // RESOURCEDISPLAYTYPE_NETWORK
    static const char* const kProviderName;

private:
    struct Entry {
        std::uint32_t displayType = 0;
        std::uint32_t usage = 0;
        std::string remoteName;
        std::string comment;
    };
    struct Enumeration {
        std::vector<Entry> entries;
        std::size_t next = 0;
    };
    // The entries of an SMB directory (smb:// or smb://WORKGROUP/); false when it cannot be read.
    static bool ReadSmb(const std::string& url, std::uint32_t wantedType, std::uint32_t displayType,
                        const char* prefix, std::vector<Entry>& out);

    std::map<EnumHandle, Enumeration> open_;
    std::unique_ptr<AvahiDiscovery> discovery_;
    EnumHandle next_ = 0x3000;
};

}  // namespace zumelko::platform::qt
