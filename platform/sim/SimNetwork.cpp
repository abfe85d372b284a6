#include "platform/sim/SimNetwork.h"

#include "platform/NetResourcePacker.h"

#include <cstring>

namespace zumelko::platform::sim {

SimNetEntry& SimNetEntry::AddWorkgroup(const std::string& name) {
    SimNetEntry e;
    e.remoteName = name;
    e.displayType = RESOURCEDISPLAYTYPE_DOMAIN_;
    return AddEntry(std::move(e));
}

SimNetEntry& SimNetEntry::AddMachine(const std::string& name) {
    SimNetEntry e;
    e.remoteName = "\\\\" + name;
    e.displayType = RESOURCEDISPLAYTYPE_SERVER_;
    return AddEntry(std::move(e));
}

SimNetEntry& SimNetEntry::AddEntry(SimNetEntry entry) {
    if (entry.provider.empty()) entry.provider = provider;
    members.push_back(std::move(entry));
    return members.back();
}

SimNetEntry& SimNetwork::AddProvider(const std::string& name) {
    SimNetEntry e;
    e.remoteName = name;
    e.provider = name;
    e.displayType = RESOURCEDISPLAYTYPE_NETWORK_;
    return root.AddEntry(std::move(e));
}

namespace {
NetResourceEntry Packed(const SimNetEntry& e) {
    NetResourceEntry p;
    p.displayType = e.displayType;
    p.usage = e.members.empty() ? 0 : RESOURCEUSAGE_CONTAINER_;
    p.remoteName = e.remoteName ? &*e.remoteName : nullptr;
    p.comment = &e.comment;
    p.provider = &e.provider;
    return p;
}
}  // namespace

std::size_t SimNetwork::EntrySize(const SimNetEntry& entry) { return PackedSize(Packed(entry)); }

namespace {

const SimNetEntry* FindIn(const SimNetEntry& container, const std::string& remote, const std::string& provider) {
    for (const SimNetEntry& e : container.members) {
        if (e.remoteName && *e.remoteName == remote && e.provider == provider) return &e;
        if (const SimNetEntry* found = FindIn(e, remote, provider)) return found;
    }
    return nullptr;
}

}  // namespace

const SimNetEntry* SimNetwork::FindContainer(const NetResource& parent) const {
    // Like the real call, the parent is known by its remote name and provider.
    if (parent.lpRemoteName == nullptr) return nullptr;
    return FindIn(root, parent.lpRemoteName, parent.lpProvider != nullptr ? parent.lpProvider : "");
}

std::uint32_t SimNetwork::WNetOpenEnum(std::uint32_t /*scope*/, std::uint32_t /*type*/, std::uint32_t /*usage*/,
                                       const NetResource* parent, EnumHandle& handle) {
    handle = 0;
    opens_.push_back(parent != nullptr && parent->lpRemoteName != nullptr ? std::optional<std::string>(parent->lpRemoteName)
                                                                          : std::nullopt);
    const SimNetEntry* container = &root;
    if (parent != nullptr) {
        container = FindContainer(*parent);
        if (container == nullptr) return ERROR_INVALID_PARAMETER_;
    }
    if (container->openError != NO_ERROR_) return container->openError;
    handle = nextHandle_++;
    open_.emplace(handle, Open{container});
    return NO_ERROR_;
}

std::uint32_t SimNetwork::WNetEnumResource(EnumHandle handle, std::uint32_t& count, void* buffer,
                                           std::uint32_t& bufferSize) {
    const Read asked{count, bufferSize, NO_ERROR_};
    auto finish = [&](std::uint32_t result) {
        reads_.push_back({asked.count, asked.bufferSize, result});
        return result;
    };
    auto it = open_.find(handle);
    if (it == open_.end() || buffer == nullptr) return finish(ERROR_INVALID_PARAMETER_);
    Open& state = it->second;
    const auto& members = state.container->members;

    NetResourcePacker packer(buffer, bufferSize);
    std::uint32_t written = 0;
    while (written < count && state.next < members.size()) {
        const SimNetEntry& e = members[state.next];
        if (e.readError != NO_ERROR_) {
            if (written == 0) return finish(e.readError);
            break;
        }
        if (!packer.Add(Packed(e))) {
            if (written == 0) {
                bufferSize = static_cast<std::uint32_t>(EntrySize(e));
                return finish(ERROR_MORE_DATA_);
            }
            break;
        }
        ++written;
        ++state.next;
    }
    if (written == 0) return finish(ERROR_NO_MORE_ITEMS_);
    count = written;
    return finish(NO_ERROR_);
}

std::uint32_t SimNetwork::WNetCloseEnum(EnumHandle handle) {
    return open_.erase(handle) != 0 ? NO_ERROR_ : ERROR_INVALID_PARAMETER_;
}

namespace {

// withNul: GetUserNameA counts the NUL in the size it gives back, GetComputerNameA does not.
bool GiveName(const std::optional<std::string>& name, char* buffer, std::uint32_t& size, bool withNul) {
    if (!name || buffer == nullptr) return false;
    const auto needed = static_cast<std::uint32_t>(name->size() + 1);
    if (size < needed) {
        size = needed;
        return false;
    }
    std::memcpy(buffer, name->c_str(), needed);
    size = withNul ? needed : needed - 1;
    return true;
}

}  // namespace

bool SimNetwork::GetUserName(char* buffer, std::uint32_t& size) { return GiveName(userName, buffer, size, true); }

bool SimNetwork::GetComputerName(char* buffer, std::uint32_t& size) {
    return GiveName(computerName, buffer, size, false);
}

}  // namespace zumelko::platform::sim
