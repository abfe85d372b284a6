#include "platform/win32/Win32Network.h"

#include <cstddef>
#include <memory>

#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

static_assert(sizeof(NetResource) == sizeof(NETRESOURCEA));
static_assert(offsetof(NetResource, dwUsage) == offsetof(NETRESOURCEA, dwUsage));
static_assert(offsetof(NetResource, lpLocalName) == offsetof(NETRESOURCEA, lpLocalName));
static_assert(offsetof(NetResource, lpProvider) == offsetof(NETRESOURCEA, lpProvider));
static_assert(ERROR_MORE_DATA_ == ERROR_MORE_DATA && ERROR_NO_MORE_ITEMS_ == ERROR_NO_MORE_ITEMS &&
              ERROR_NO_NETWORK_ == ERROR_NO_NETWORK);

std::uint32_t Win32Network::WNetOpenEnum(std::uint32_t scope, std::uint32_t type, std::uint32_t usage,
                                         const NetResource* parent, EnumHandle& handle) {
    NETRESOURCEA copy{};
    if (parent != nullptr) {
        copy.dwScope = parent->dwScope;
        copy.dwType = parent->dwType;
        copy.dwDisplayType = parent->dwDisplayType;
        copy.dwUsage = parent->dwUsage;
        copy.lpLocalName = parent->lpLocalName;
        copy.lpRemoteName = parent->lpRemoteName;
        copy.lpComment = parent->lpComment;
        copy.lpProvider = parent->lpProvider;
    }
    HANDLE h = nullptr;
    const DWORD rc = ::WNetOpenEnumA(scope, type, usage, parent != nullptr ? &copy : nullptr, &h);
    handle = rc == NO_ERROR ? FromHandle(h) : 0;
    return rc;
}

std::uint32_t Win32Network::WNetEnumResource(EnumHandle handle, std::uint32_t& count, void* buffer,
                                             std::uint32_t& bufferSize) {
    DWORD n = count;
    DWORD size = bufferSize;
    const DWORD rc = ::WNetEnumResourceA(AsHandle<HANDLE>(handle), &n, buffer, &size);
    count = n;
    bufferSize = size;
    return rc;
}

std::uint32_t Win32Network::WNetCloseEnum(EnumHandle handle) { return ::WNetCloseEnum(AsHandle<HANDLE>(handle)); }

bool Win32Network::GetUserName(char* buffer, std::uint32_t& size) {
    DWORD n = size;
    const bool ok = ::GetUserNameA(buffer, &n) != FALSE;
    size = n;
    return ok;
}

bool Win32Network::GetComputerName(char* buffer, std::uint32_t& size) {
    DWORD n = size;
    const bool ok = ::GetComputerNameA(buffer, &n) != FALSE;
    size = n;
    return ok;
}

std::vector<std::string> Win32Network::DiscoveredMachines() {
    return discovery_ ? discovery_->Machines() : std::vector<std::string>{};
}

std::vector<Network::DiscoveredRecord> Win32Network::DiscoveredRecords() {
    std::vector<DiscoveredRecord> records;
    if (!discovery_) return records;
    for (auto& r : discovery_->Records()) records.push_back({std::move(r.machine), std::move(r.txt)});
    return records;
}

std::string Win32Network::LocalName() {
    char name[MAX_COMPUTERNAME_LENGTH + 2] = {};
    std::uint32_t size = sizeof name - 1;
    return GetComputerName(name, size) ? std::string(name) : std::string();
}

void Win32Network::StartDiscovery(Win32Loop& loop) {
    if (!discovery_) discovery_ = std::make_unique<Win32Discovery>(loop, LocalName());
}

void Win32Network::StartDiscovery(Win32Loop& loop, const DnsSdApi& api) {
    discovery_.reset();
    discovery_ = std::make_unique<Win32Discovery>(loop, LocalName(), api);
}

}  // namespace zumelko::platform::win32
