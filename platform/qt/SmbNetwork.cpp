#include "platform/qt/SmbNetwork.h"

#include "platform/NetResourcePacker.h"

#include <libsmbclient.h>
#include <pwd.h>
#include <unistd.h>

#include <QString>

#include <cstring>
#include <memory>

#include "platform/qt/Charset.h"

namespace zumelko::platform::qt {

const char* const SmbNetwork::kProviderName = "SMB Network";

namespace {

constexpr std::uint32_t kUsageConnectable = 1;
constexpr std::uint32_t kUsageContainer = 2;
constexpr std::uint32_t kErrorBadNetPath = 53;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
// Enough for any workgroup; a directory that goes on beyond is not read further.
constexpr std::size_t kMaxEntries = 4096;

// Browsing needs no account: anonymous, and never a question to the user.
void Anonymous(const char*, const char*, char* workgroup, int, char* user, int userLength, char* password,
               int passwordLength) {
    (void)workgroup;
    if (userLength > 0) user[0] = '\0';
    if (passwordLength > 0) password[0] = '\0';
}

struct ContextDeleter {
    void operator()(SMBCCTX* c) const { smbc_free_context(c, 1); }
};
using Context = std::unique_ptr<SMBCCTX, ContextDeleter>;

Context NewContext() {
    Context ctx(smbc_new_context());
    if (!ctx) return {};
    smbc_setDebug(ctx.get(), 0);
    smbc_setFunctionAuthData(ctx.get(), Anonymous);
    smbc_setOptionUseKerberos(ctx.get(), 0);
    smbc_setOptionFallbackAfterKerberos(ctx.get(), 1);
    smbc_setTimeout(ctx.get(), 5000);
    if (smbc_init_context(ctx.get()) == nullptr) {
        // smbc_init_context frees nothing on failure; the deleter does.
        return {};
    }
    return ctx;
}

// Names arrive in UTF-8 from the library and stay so: they are looked up by the resolver, which
// takes UTF-8, and UTF-8 reads as itself wherever the program shows them.
std::string FromSmb(const char* text) { return QString::fromUtf8(text).toStdString(); }

}  // namespace

bool SmbNetwork::ReadSmb(const std::string& url, std::uint32_t wantedType, std::uint32_t displayType,
                         const char* prefix, std::vector<Entry>& out) {
    Context ctx = NewContext();
    if (!ctx) return false;
    SMBCFILE* dir = smbc_getFunctionOpendir(ctx.get())(ctx.get(), url.c_str());
    if (dir == nullptr) return false;
    while (out.size() < kMaxEntries) {
        struct smbc_dirent* d = smbc_getFunctionReaddir(ctx.get())(ctx.get(), dir);
        if (d == nullptr) break;
        if (d->smbc_type != wantedType) continue;
        Entry e;
        e.displayType = displayType;
        e.usage = kUsageContainer;
        e.remoteName = prefix + FromSmb(d->name);
        e.comment = FromSmb(d->comment);
        out.push_back(std::move(e));
    }
    smbc_getFunctionClosedir(ctx.get())(ctx.get(), dir);
    return true;
}

std::uint32_t SmbNetwork::WNetOpenEnum(std::uint32_t scope, std::uint32_t, std::uint32_t,
                                       const NetResource* parent, EnumHandle& handle) {
    handle = 0;
    if (scope != RESOURCE_GLOBALNET_) return 87;  // ERROR_INVALID_PARAMETER
    Enumeration e;
    if (parent == nullptr) {
        // The one provider: SMB.
        e.entries.push_back({kDisplayNetwork, kUsageContainer, kProviderName, ""});
    } else if (parent->dwDisplayType == kDisplayNetwork) {
        if (!ReadSmb("smb://", SMBC_WORKGROUP, kDisplayDomain, "", e.entries)) return ERROR_NO_NETWORK_;
    } else if (parent->dwDisplayType == kDisplayDomain) {
        if (parent->lpRemoteName == nullptr) return kErrorBadNetPath;
        const std::string url = "smb://" + std::string(parent->lpRemoteName) + "/";
        if (!ReadSmb(url, SMBC_SERVER, kDisplayServer, "\\\\", e.entries)) return kErrorBadNetPath;
    } else {
        // Below a server are its shares, which the program never asks for.
    }
    handle = next_++;
    open_.emplace(handle, std::move(e));
    return NO_ERROR_;
}

std::uint32_t SmbNetwork::WNetEnumResource(EnumHandle handle, std::uint32_t& count, void* buffer,
                                           std::uint32_t& bufferSize) {
    auto it = open_.find(handle);
    if (it == open_.end()) return kErrorInvalidHandle;
    Enumeration& e = it->second;
    if (e.next >= e.entries.size()) {
        count = 0;
        return ERROR_NO_MORE_ITEMS_;
    }
    const std::uint32_t wanted = count == 0 ? 1 : count;
    std::uint32_t written = 0;
    NetResourcePacker packer(buffer, bufferSize);
    const std::string provider = kProviderName;
    while (written < wanted && e.next < e.entries.size()) {
        const Entry& entry = e.entries[e.next];
        NetResourceEntry packed;
        packed.displayType = entry.displayType;
        packed.usage = entry.usage;
        packed.remoteName = &entry.remoteName;
        packed.comment = &entry.comment;
        packed.provider = &provider;
        if (!packer.Add(packed)) {
            if (written == 0) {
                bufferSize = static_cast<std::uint32_t>(PackedSize(packed));
                count = 0;
                return buffer == nullptr ? kErrorInsufficientBuffer : ERROR_MORE_DATA_;
            }
            break;
        }
        ++written;
        ++e.next;
    }
    count = written;
    return NO_ERROR_;
}

std::uint32_t SmbNetwork::WNetCloseEnum(EnumHandle handle) {
    return open_.erase(handle) != 0 ? NO_ERROR_ : kErrorInvalidHandle;
}

namespace {

// The text and its NUL into the caller's buffer; false when it does not fit, with the size
// needed in size.
bool Give(const std::string& text, char* buffer, std::uint32_t& size, bool countNul) {
    if (buffer == nullptr || text.size() + 1 > size) {
        size = static_cast<std::uint32_t>(text.size() + 1);
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    size = static_cast<std::uint32_t>(text.size() + (countNul ? 1 : 0));
    return true;
}

}  // namespace

bool SmbNetwork::GetUserName(char* buffer, std::uint32_t& size) {
    std::string name;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> scratch(16384);
    if (::getpwuid_r(::geteuid(), &entry, scratch.data(), scratch.size(), &found) == 0 && found != nullptr)
        name = found->pw_name;
    // The user name counts its NUL, as it always has.
    return Give(name, buffer, size, true);
}

namespace {

std::string HostName() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    std::string name(host);
    if (auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
    return name;
}

}  // namespace

bool SmbNetwork::GetComputerName(char* buffer, std::uint32_t& size) {
    return Give(HostName(), buffer, size, false);
}

std::vector<std::string> SmbNetwork::DiscoveredMachines() {
    return discovery_ ? discovery_->Machines() : std::vector<std::string>{};
}

std::vector<Network::DiscoveredRecord> SmbNetwork::DiscoveredRecords() {
    std::vector<DiscoveredRecord> records;
    if (!discovery_) return records;
    for (auto& r : discovery_->Records()) records.push_back({std::move(r.machine), std::move(r.txt)});
    return records;
}

void SmbNetwork::StartDiscovery() {
    if (discovery_) return;
    // The daemon takes UTF-8, as the system keeps the name.
    discovery_ = std::make_unique<AvahiDiscovery>(HostName());
}

}  // namespace zumelko::platform::qt
