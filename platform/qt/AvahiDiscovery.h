#pragma once
// Announces this instance by DNS-SD over multicast DNS through the desktop's avahi daemon and
// browses for the others. The daemon is talked to from avahi's own thread, so the loop never
// waits on it; the loop reads what is known at the moment it asks. Without a daemon, or when
// it goes away, the program carries on with nothing found and says so once on stderr; when a
// daemon (re)appears the instance announces itself again.
#include <memory>
#include <string>
#include <vector>

namespace zumelko::platform::qt {

class AvahiDiscovery {
public:
    static constexpr const char* kServiceType = "_zumelko._tcp";
    static constexpr unsigned short kPort = 8000;

    // Starts announcing machineName and browsing; never fails, whatever the daemon does.
    explicit AvahiDiscovery(const std::string& machineName);
    ~AvahiDiscovery();
    AvahiDiscovery(const AvahiDiscovery&) = delete;
    AvahiDiscovery& operator=(const AvahiDiscovery&) = delete;

    // The names announced by the other instances seen now, each once.
    std::vector<std::string> Machines() const;
    // Their records' TXT strings, one entry per record resolved (a machine may be seen on
    // several interfaces); at most kMaxTxtStrings strings each.
    struct Record {
        std::string machine;
        std::vector<std::string> txt;
    };
    std::vector<Record> Records() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace zumelko::platform::qt
