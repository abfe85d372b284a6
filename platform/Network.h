#pragma once
// Network neighbourhood enumeration (one entry per read into the caller's buffer) and the
// local identity.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace zumelko::platform {

// What this program's DNS-SD record says besides its name: that it takes the encrypted channel,
// and on which port ("secure=8002").
inline constexpr const char* kSecureTxtKey = "secure";
inline constexpr int kSecureChannelPort = 8002;
// Most TXT strings kept of one record, each at most the 255 bytes DNS allows one string.
inline constexpr std::size_t kMaxTxtStrings = 32;

constexpr std::uint32_t RESOURCE_GLOBALNET_ = 2;
constexpr std::uint32_t RESOURCETYPE_ANY_ = 0;
constexpr std::uint32_t NO_ERROR_ = 0;
constexpr std::uint32_t ERROR_MORE_DATA_ = 234;
constexpr std::uint32_t ERROR_NO_MORE_ITEMS_ = 259;
constexpr std::uint32_t ERROR_NO_NETWORK_ = 1222;
constexpr std::uint32_t ERROR_INVALID_PARAMETER_ = 87;
constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER_ = 122;
constexpr std::uint32_t RESOURCEDISPLAYTYPE_GENERIC_ = 0;
constexpr std::uint32_t RESOURCEDISPLAYTYPE_DOMAIN_ = 1;
constexpr std::uint32_t RESOURCEDISPLAYTYPE_SERVER_ = 2;
constexpr std::uint32_t RESOURCEDISPLAYTYPE_NETWORK_ = 6;
constexpr std::uint32_t RESOURCEUSAGE_CONTAINER_ = 2;

using EnumHandle = std::uintptr_t;

// NETRESOURCEA: what one read writes at the start of the caller's buffer, its strings after it.
// The record is larger on 64-bit systems than on 32-bit ones; callers size their buffers in
// bytes all the same, and must not assume the buffer is aligned for it (copy it out).
struct NetResource {
    std::uint32_t dwScope = 0;
    std::uint32_t dwType = 0;
    std::uint32_t dwDisplayType = 0;
    std::uint32_t dwUsage = 0;
    char* lpLocalName = nullptr;
    char* lpRemoteName = nullptr;
    char* lpComment = nullptr;
    char* lpProvider = nullptr;
};

class Network {
public:
    virtual ~Network() = default;

    // parent: null for the top of the tree, else an entry read earlier; its strings are copied
    // by the call, so the buffer they live in may be reused at once.
    virtual std::uint32_t WNetOpenEnum(std::uint32_t scope, std::uint32_t type, std::uint32_t usage,
                                       const NetResource* parent, EnumHandle& handle) = 0;
    // Reads up to count entries into buffer (size bytes); count and size are updated as Win32
    // does. ERROR_MORE_DATA_ when the next entry does not fit, ERROR_NO_MORE_ITEMS_ at the end.
    virtual std::uint32_t WNetEnumResource(EnumHandle handle, std::uint32_t& count, void* buffer,
                                           std::uint32_t& bufferSize) = 0;
    virtual std::uint32_t WNetCloseEnum(EnumHandle handle) = 0;

    // GetUserNameA / GetComputerNameA: the text and its NUL into buffer; size in, bytes out.
    // False when the name could not be had (or does not fit): the buffer is then undefined.
    virtual bool GetUserName(char* buffer, std::uint32_t& size) = 0;
    virtual bool GetComputerName(char* buffer, std::uint32_t& size) = 0;

    // The machines that announced an instance of the program by DNS-SD over multicast DNS, as
    // known at this moment, in no particular order: never waits on the network. Empty where the
    // desktop has no such discovery (or its daemon is not running).
    virtual std::vector<std::string> DiscoveredMachines() { return {}; }
    // The TXT strings of those machines' records ("key=value" each, as the network gave them:
    // any bytes at all), by machine name, as known at this moment; never waits. A machine seen
    // on several interfaces may have several records.
    struct DiscoveredRecord {
        std::string machine;
        std::vector<std::string> txt;
    };
    virtual std::vector<DiscoveredRecord> DiscoveredRecords() { return {}; }
};

}  // namespace zumelko::platform
