#include "platform/qt/AvahiDiscovery.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

#include <cstdio>
#include <string_view>
#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "platform/Network.h"

namespace zumelko::platform::qt {

namespace {

struct PollDeleter {
    void operator()(AvahiThreadedPoll* poll) const { avahi_threaded_poll_free(poll); }
};
struct ClientDeleter {
    void operator()(AvahiClient* client) const { avahi_client_free(client); }
};
struct GroupDeleter {
    void operator()(AvahiEntryGroup* group) const { avahi_entry_group_free(group); }
};
struct BrowserDeleter {
    void operator()(AvahiServiceBrowser* browser) const { avahi_service_browser_free(browser); }
};

void ClientChanged(AvahiClient* client, AvahiClientState state, void* self);
void GroupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
void Browsed(AvahiServiceBrowser* browser, AvahiIfIndex iface, AvahiProtocol protocol, AvahiBrowserEvent event,
             const char* name, const char* type, const char* domain, AvahiLookupResultFlags flags, void* self);
void Resolved(AvahiServiceResolver* resolver, AvahiIfIndex iface, AvahiProtocol protocol, AvahiResolverEvent event,
              const char* name, const char* type, const char* domain, const char* host, const AvahiAddress* address,
              uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags flags, void* self);

// What this instance says in its record: the port of the encrypted channel.
std::string SecureTxt() { return std::string(kSecureTxtKey) + "=" + std::to_string(kSecureChannelPort); }

}  // namespace

struct AvahiDiscovery::State {
    std::string name;
    // Each of these is said once in the life of the process.
    bool toldAbsent = false;
    bool toldLost = false;
    bool toldCollision = false;
    bool wasRunning = false;

    // Freed in this order after the thread has stopped: browser, group, client, poll.
    std::unique_ptr<AvahiThreadedPoll, PollDeleter> poll;
    std::unique_ptr<AvahiClient, ClientDeleter> client;
    std::unique_ptr<AvahiEntryGroup, GroupDeleter> group;
    std::unique_ptr<AvahiServiceBrowser, BrowserDeleter> browser;

    mutable std::mutex mutex;
    // A machine is seen once per interface and address family, and is gone only when the last
    // of these is withdrawn.
    std::set<std::tuple<AvahiIfIndex, AvahiProtocol, std::string>> found;
    // The TXT strings of the records resolved so far, for the machines in found.
    std::map<std::tuple<AvahiIfIndex, AvahiProtocol, std::string>, std::vector<std::string>> txt;
    // Resolvers under way (each frees itself when answered); a flood of announcements is not
    // resolved beyond this many at once.
    int resolving = 0;
    static constexpr int kMaxResolving = 64;

    // The calls below run on avahi's thread, or before it is started.
    void Running(AvahiClient* c) {
        wasRunning = true;
        if (!group) {
            group.reset(avahi_entry_group_new(c, GroupChanged, this));
            if (!group) return Say("cannot announce this machine", avahi_client_errno(c));
        }
        if (avahi_entry_group_is_empty(group.get())) {
            const std::string secure = SecureTxt();
            const int error = avahi_entry_group_add_service(group.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                            AvahiPublishFlags(0), name.c_str(), kServiceType,
                                                            nullptr, nullptr, kPort, secure.c_str(), nullptr);
            if (error < 0) return Say("cannot announce this machine", error);
            avahi_entry_group_commit(group.get());
        }
        if (!browser) {
            browser.reset(avahi_service_browser_new(c, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, kServiceType, nullptr,
                                                    AvahiLookupFlags(0), Browsed, this));
            if (!browser) Say("cannot look for other machines", avahi_client_errno(c));
        }
    }

    // The daemon is not (or no longer) there: what it told us is void.
    void Gone() {
        browser.reset();
        group.reset();
        std::lock_guard lock(mutex);
        found.clear();
        txt.clear();
    }

    void Absent(int error) {
        if (wasRunning) {
            if (toldLost) return;
            toldLost = true;
            std::fprintf(stderr, "zumelko: the avahi daemon went away (%s); other machines are no longer found\n",
                         avahi_strerror(error));
        } else {
            if (toldAbsent) return;
            toldAbsent = true;
            std::fprintf(stderr, "zumelko: no avahi daemon (%s); other machines are not found on the network\n",
                         avahi_strerror(error));
        }
    }

    static void Say(const char* what, int error) {
        std::fprintf(stderr, "zumelko: %s: %s\n", what, avahi_strerror(error));
    }
};

namespace {

void ClientChanged(AvahiClient* client, AvahiClientState state, void* self) {
    auto& s = *static_cast<AvahiDiscovery::State*>(self);
    switch (state) {
        case AVAHI_CLIENT_S_RUNNING:
            s.Running(client);
            break;
        case AVAHI_CLIENT_S_COLLISION:
        case AVAHI_CLIENT_S_REGISTERING:
            // The daemon's host name is changing: announce again once it is settled.
            if (s.group) avahi_entry_group_reset(s.group.get());
            break;
        case AVAHI_CLIENT_CONNECTING:
            s.Gone();
            s.Absent(AVAHI_ERR_NO_DAEMON);
            break;
        case AVAHI_CLIENT_FAILURE:
            s.Gone();
            s.Absent(avahi_client_errno(client));
            break;
    }
}

void GroupChanged(AvahiEntryGroup*, AvahiEntryGroupState state, void* self) {
    auto& s = *static_cast<AvahiDiscovery::State*>(self);
    if (state == AVAHI_ENTRY_GROUP_COLLISION && !s.toldCollision) {
        // Another machine announces our name: rather than announce a name no resolver knows,
        // this one stays unannounced and still finds the others.
        s.toldCollision = true;
        std::fprintf(stderr, "zumelko: another machine on the network already announces the name \"%s\"\n",
                     s.name.c_str());
    }
}

void Browsed(AvahiServiceBrowser*, AvahiIfIndex iface, AvahiProtocol protocol, AvahiBrowserEvent event,
             const char* name, const char*, const char*, AvahiLookupResultFlags, void* self) {
    auto& s = *static_cast<AvahiDiscovery::State*>(self);
    if (name == nullptr) return;
    if (event == AVAHI_BROWSER_NEW && s.client && s.resolving < AvahiDiscovery::State::kMaxResolving) {
        // Its TXT strings come with the record's resolution; the resolver frees itself.
        if (avahi_service_resolver_new(s.client.get(), iface, protocol, name, AvahiDiscovery::kServiceType, nullptr,
                                       AVAHI_PROTO_UNSPEC, AvahiLookupFlags(0), Resolved, self) != nullptr)
            ++s.resolving;
    }
    std::lock_guard lock(s.mutex);
    if (event == AVAHI_BROWSER_NEW) {
        s.found.emplace(iface, protocol, name);
    } else if (event == AVAHI_BROWSER_REMOVE) {
        s.found.erase({iface, protocol, name});
        s.txt.erase({iface, protocol, name});
    }
}

void Resolved(AvahiServiceResolver* resolver, AvahiIfIndex iface, AvahiProtocol protocol, AvahiResolverEvent event,
              const char* name, const char*, const char*, const char*, const AvahiAddress*, uint16_t,
              AvahiStringList* txt, AvahiLookupResultFlags, void* self) {
    auto& s = *static_cast<AvahiDiscovery::State*>(self);
    --s.resolving;
    if (event == AVAHI_RESOLVER_FOUND && name != nullptr) {
        // Anyone on the network writes these: kept as bytes, bounded, and read only by the
        // program's own parser.
        std::vector<std::string> strings;
        for (AvahiStringList* t = txt; t != nullptr && strings.size() < kMaxTxtStrings; t = avahi_string_list_get_next(t)) {
            const auto* bytes = reinterpret_cast<const char*>(avahi_string_list_get_text(t));
            strings.emplace_back(bytes, std::min<std::size_t>(avahi_string_list_get_size(t), 255));
        }
        std::lock_guard lock(s.mutex);
        if (s.found.count({iface, protocol, name}) != 0) s.txt[{iface, protocol, name}] = std::move(strings);
    }
    avahi_service_resolver_free(resolver);
}

}  // namespace

AvahiDiscovery::AvahiDiscovery(const std::string& machineName) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.name = machineName;
    if (s.name.empty()) s.name = "zumelko";
    s.poll.reset(avahi_threaded_poll_new());
    if (!s.poll) {
        State::Say("cannot look for other machines", AVAHI_ERR_NO_MEMORY);
        return;
    }
    int error = 0;
    // NO_FAIL: without a daemon the client waits for one instead of failing, and comes back
    // by itself when a daemon that went away is started again.
    s.client.reset(avahi_client_new(avahi_threaded_poll_get(s.poll.get()), AVAHI_CLIENT_NO_FAIL, ClientChanged,
                                    &s, &error));
    if (!s.client) {
        s.Absent(error);
        return;
    }
    if (avahi_threaded_poll_start(s.poll.get()) < 0) {
        State::Say("cannot look for other machines", AVAHI_ERR_FAILURE);
        s.client.reset();
    }
}

AvahiDiscovery::~AvahiDiscovery() {
    // The thread must be stopped before what its callbacks use is freed.
    if (state_->poll && state_->client) avahi_threaded_poll_stop(state_->poll.get());
    state_->browser.reset();
    state_->group.reset();
    state_->client.reset();
}

std::vector<std::string> AvahiDiscovery::Machines() const {
    std::set<std::string> names;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& entry : state_->found) names.insert(std::get<2>(entry));
    }
    return {names.begin(), names.end()};
}

std::vector<AvahiDiscovery::Record> AvahiDiscovery::Records() const {
    std::vector<Record> records;
    std::lock_guard lock(state_->mutex);
    for (const auto& [key, strings] : state_->txt) records.push_back({std::get<2>(key), strings});
    return records;
}

}  // namespace zumelko::platform::qt
