// A session manager for tests, speaking XSMP through libSM as a desktop's does: it prints the
// value of SESSION_MANAGER for its clients, registers them, and on the line "logout" on its
// standard input ends the session as a logout does: SaveYourself (global, shutdown, any
// interaction) to every client, then Die once each has saved. It says "registered", "saved",
// "die sent" and "closed" as they happen, and ends when the last client has closed its
// connection after the logout.
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Client {
    SmsConn sms = nullptr;
    bool registered = false;
};
std::vector<Client*> g_clients;
std::vector<IceConn> g_connections;
bool g_loggingOut = false;

void Say(const char* what) {
    std::printf("%s\n", what);
    std::fflush(stdout);
}

Status RegisterClient(SmsConn sms, SmPointer data, char* previousId) {
    char* id = SmsGenerateClientID(sms);
    SmsRegisterClientReply(sms, id);
    std::free(id);
    std::free(previousId);
    static_cast<Client*>(data)->registered = true;
    Say("registered");
    return 1;
}
void SaveYourselfDone(SmsConn sms, SmPointer, Bool) {
    Say("saved");
    SmsDie(sms);
    Say("die sent");
}
void CloseConnection(SmsConn sms, SmPointer data, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    IceConn ice = SmsGetIceConnection(sms);
    SmsCleanUp(sms);
    IceSetShutdownNegotiation(ice, False);
    IceCloseConnection(ice);
    std::erase(g_connections, ice);
    auto* client = static_cast<Client*>(data);
    std::erase(g_clients, client);
    delete client;
    Say("closed");
}
void InteractRequest(SmsConn sms, SmPointer, int) { SmsInteract(sms); }
void InteractDone(SmsConn, SmPointer, Bool) {}
void SaveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}
void SaveYourselfPhase2Request(SmsConn sms, SmPointer) { SmsSaveYourselfPhase2(sms); }
void SetProperties(SmsConn, SmPointer, int count, SmProp** properties) {
    for (int i = 0; i < count; ++i) SmFreeProperty(properties[i]);
    std::free(properties);
}
void DeleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i) std::free(names[i]);
    std::free(names);
}
void GetProperties(SmsConn sms, SmPointer) { SmsReturnProperties(sms, 0, nullptr); }

Status NewClient(SmsConn sms, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    auto* client = new Client{sms};
    g_clients.push_back(client);
    *callbacks = {};
    callbacks->register_client = {RegisterClient, client};
    callbacks->interact_request = {InteractRequest, client};
    callbacks->interact_done = {InteractDone, client};
    callbacks->save_yourself_request = {SaveYourselfRequest, client};
    callbacks->save_yourself_phase2_request = {SaveYourselfPhase2Request, client};
    callbacks->save_yourself_done = {SaveYourselfDone, client};
    callbacks->close_connection = {CloseConnection, client};
    callbacks->set_properties = {SetProperties, client};
    callbacks->delete_properties = {DeleteProperties, client};
    callbacks->get_properties = {GetProperties, client};
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask |
            SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask |
            SmsGetPropertiesProcMask;
    return 1;
}

// Any client of this machine may connect: the test's own.
Bool Anyone(char*) { return True; }

}  // namespace

int main() {
    char error[256] = {};
    if (!SmsInitialize("zumelko-test", "1.0", NewClient, nullptr, Anyone, sizeof error, error)) {
        std::fprintf(stderr, "SmsInitialize: %s\n", error);
        return 1;
    }
    int count = 0;
    IceListenObj* listeners = nullptr;
    if (!IceListenForConnections(&count, &listeners, sizeof error, error) || count == 0) {
        std::fprintf(stderr, "IceListenForConnections: %s\n", error);
        return 1;
    }
    for (int i = 0; i < count; ++i) IceSetHostBasedAuthProc(listeners[i], Anyone);
    char* ids = IceComposeNetworkIdList(count, listeners);
    std::printf("SESSION_MANAGER=%s\n", ids);
    std::fflush(stdout);
    std::free(ids);

    bool input = true;
    for (;;) {
        std::vector<pollfd> fds;
        if (input) fds.push_back({STDIN_FILENO, POLLIN, 0});
        for (int i = 0; i < count; ++i) fds.push_back({IceGetListenConnectionNumber(listeners[i]), POLLIN, 0});
        for (IceConn c : g_connections) fds.push_back({IceConnectionNumber(c), POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) continue;
        std::size_t k = 0;
        if (input) {
            if (fds[k].revents != 0) {
                char line[64] = {};
                const ssize_t n = read(STDIN_FILENO, line, sizeof line - 1);
                if (n <= 0) {
                    input = false;
                } else if (std::strncmp(line, "logout", 6) == 0) {
                    g_loggingOut = true;
                    for (Client* client : g_clients) {
                        if (client->registered) SmsSaveYourself(client->sms, SmSaveGlobal, True, SmInteractStyleAny, False);
                    }
                    Say("logout");
                }
            }
            ++k;
        }
        for (int i = 0; i < count; ++i, ++k) {
            if (fds[k].revents == 0) continue;
            IceAcceptStatus status;
            IceConn c = IceAcceptConnection(listeners[i], &status);
            if (c == nullptr) continue;
            while (IceConnectionStatus(c) == IceConnectPending) IceProcessMessages(c, nullptr, nullptr);
            if (IceConnectionStatus(c) == IceConnectAccepted) {
                g_connections.push_back(c);
            } else {
                IceCloseConnection(c);
            }
        }
        const std::vector<IceConn> open = g_connections;
        for (std::size_t j = 0; j < open.size(); ++j, ++k) {
            if (fds[k].revents == 0) continue;
            if (IceProcessMessages(open[j], nullptr, nullptr) == IceProcessMessagesIOError) {
                IceSetShutdownNegotiation(open[j], False);
                IceCloseConnection(open[j]);
                std::erase(g_connections, open[j]);
            }
        }
        if (g_loggingOut && g_clients.empty()) {
            IceFreeListenObjs(count, listeners);
            return 0;
        }
    }
}
