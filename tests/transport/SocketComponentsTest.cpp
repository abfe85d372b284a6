// The socket components over real loopback TCP. Listeners here take a port the system picks,
// so these tests need no fixed port.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/SimDesktop.h"
#include "tests/transport/TestPeers.h"
#include "transport/SocketComponents.h"

namespace zumelko {
namespace {

using namespace std::chrono_literals;
using platform::SocketHandle;
using platform::sim::ScopedSimDesktop;

struct ErrorLog {
    struct Entry {
        Component* sender;
        int code;
        std::string text;
    };
    std::vector<Entry> entries;
    void Watch(TCustomSocket& s) {
        s.OnError = [this](Component* sender, int code, const std::string& text) {
            entries.push_back({sender, code, text});
        };
    }
};

std::uint16_t HostOrder(std::uint16_t network) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&network);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

class SocketComponents : public ::testing::Test {
protected:
    ScopedSimDesktop desktop;
    std::unique_ptr<Component> root = std::make_unique<Component>(nullptr);

    void TearDown() override {
        root.reset();
        EXPECT_EQ(desktop->sockets().OpenSocketCount(), 0u) << "a socket outlived its component";
    }

    bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
        return desktop->loop().RunUntilFor(done, limit);
    }
    std::size_t OpenSockets() { return desktop->sockets().OpenSocketCount(); }

    std::uint16_t LocalPort(SocketHandle h) {
        platform::SockAddrIn a;
        EXPECT_EQ(desktop->sockets().GetSockName(h, a), 0);
        return HostOrder(a.port);
    }

    TTCPServer& ListeningServer() {
        auto& server = root->Create<TTCPServer>();
        server.SetPort("0");
        server.Listen();
        EXPECT_EQ(server.SocketState(), ssListening);
        return server;
    }

    TTCPClient& ClientFor(std::uint16_t port) {
        auto& client = root->Create<TTCPClient>();
        client.SetHost("127.0.0.1");
        client.SetPort(std::to_string(port));
        return client;
    }
};

TEST(WinsockErrors, TextsByCode) {
    EXPECT_STREQ(WinsockErrorText(10035), "Operation would block");
    EXPECT_STREQ(WinsockErrorText(10048), "Address already in use");
    EXPECT_STREQ(WinsockErrorText(10059), "Too many references:can't splice");
    EXPECT_STREQ(WinsockErrorText(10061), "Connection refused");
    EXPECT_STREQ(WinsockErrorText(10093), "Winsock not initialized");
    EXPECT_STREQ(WinsockErrorText(11001), "Host not found");
    EXPECT_STREQ(WinsockErrorText(11004), "Valid name, no data record of requested type");
    for (int unknown : {0, 10000, 10072, 10090, 11005, 12345, -1})
        EXPECT_STREQ(WinsockErrorText(unknown), "Not a Winsock error") << unknown;
}

TEST(ClientList, KeepsAcceptanceOrderAndRemovesTheFirstEntryOnly) {
    TClientList list;
    EXPECT_TRUE(list.Add(7));
    EXPECT_TRUE(list.Add(3));
    EXPECT_TRUE(list.Add(7));
    EXPECT_TRUE(list.Add(9));
    list.Remove(7);
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list[0], 3);
    EXPECT_EQ(list[1], 7);
    EXPECT_EQ(list[2], 9);
    list.Remove(42);
    EXPECT_EQ(list.Count(), 3u);
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_FALSE(list.Contains(3));
}

TEST_F(SocketComponents, StartsIdleAndReportsErrorsWithTheirText) {
    auto& client = root->Create<TTCPClient>();
    EXPECT_EQ(client.SocketState(), ssIdle);
    EXPECT_EQ(client.SocketHandle(), platform::kInvalidSocket);
    EXPECT_EQ(client.VersionText(), "1.1");
    EXPECT_FALSE(client.Authorized());

    ErrorLog log;
    log.Watch(client);
    client.ReportError(10054);
    EXPECT_EQ(client.LastError(), 10054);
    EXPECT_EQ(client.ErrorText(), "Connection reset by peer");
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].sender, &client);
    EXPECT_EQ(log.entries[0].code, 10054);
    EXPECT_EQ(log.entries[0].text, "Connection reset by peer");
}

TEST_F(SocketComponents, ClientConnectsSendsAndSeesTheServerClose) {
    auto& server = ListeningServer();
    const std::uint16_t port = LocalPort(server.SocketHandle());
    auto& client = ClientFor(port);

    std::vector<SocketHandle> accepted;
    std::vector<SocketHandle> connected;
    std::string got;
    std::vector<SocketHandle> clientClosed;
    server.OnAccept = [&](Component* s, SocketHandle h) {
        EXPECT_EQ(s, &server);
        accepted.push_back(h);
    };
    server.OnData = [&](Component*, SocketHandle h) {
        char buf[64];
        const int n = server.Receive(h, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    };
    client.OnConnect = [&](Component* s, SocketHandle h) {
        EXPECT_EQ(s, &client);
        // Still connecting while the handler runs; connected once it has returned.
        EXPECT_EQ(client.SocketState(), ssConnecting);
        connected.push_back(h);
    };
    client.OnClose = [&](Component*, SocketHandle h) { clientClosed.push_back(h); };
    ErrorLog errors;
    errors.Watch(client);
    errors.Watch(server);

    client.Open();
    EXPECT_EQ(client.SocketState(), ssConnecting);
    ASSERT_TRUE(Pump([&] { return !accepted.empty() && !connected.empty(); }));
    EXPECT_EQ(connected[0], client.SocketHandle());
    EXPECT_EQ(client.SocketState(), ssConnected);
    EXPECT_EQ(server.SocketState(), ssListening);
    ASSERT_EQ(server.Clients().Count(), 1u);
    EXPECT_EQ(server.Clients()[0], accepted[0]);

    EXPECT_EQ(client.Send("hello", 5), 5);
    ASSERT_TRUE(Pump([&] { return got.size() == 5; }));
    EXPECT_EQ(got, "hello");

    const SocketHandle clientHandle = client.SocketHandle();
    server.CloseClient(accepted[0]);
    EXPECT_EQ(server.Clients().Count(), 0u);
    ASSERT_TRUE(Pump([&] { return !clientClosed.empty(); }));
    EXPECT_EQ(clientClosed, std::vector<SocketHandle>{clientHandle});
    // The client closes its own end right after OnClose.
    EXPECT_EQ(client.SocketState(), ssIdle);
    EXPECT_EQ(client.SocketHandle(), platform::kInvalidSocket);
    EXPECT_EQ(OpenSockets(), 1u);
    EXPECT_TRUE(errors.entries.empty());
}

TEST_F(SocketComponents, RefusedConnectIsReportedAndItsSocketClosed) {
    std::uint16_t port = 0;
    {
        // A port that was just free and nobody listens on now.
        auto& probe = ListeningServer();
        port = LocalPort(probe.SocketHandle());
        root->DestroyComponent(probe);
    }
    auto& client = ClientFor(port);
    ErrorLog log;
    log.Watch(client);
    int connects = 0;
    client.OnConnect = [&](Component*, SocketHandle) { ++connects; };

    for (int attempt = 0; attempt < 2; ++attempt) {
        log.entries.clear();
        client.Open();
        EXPECT_EQ(client.SocketState(), ssConnecting);
        EXPECT_EQ(OpenSockets(), 1u);
        ASSERT_TRUE(Pump([&] { return !log.entries.empty(); }));
        EXPECT_EQ(log.entries[0].code, 10061);
        EXPECT_EQ(log.entries[0].text, "Connection refused");
        EXPECT_EQ(log.entries[0].sender, &client);
        EXPECT_EQ(OpenSockets(), 0u) << "the refused socket was left open";
        EXPECT_EQ(client.SocketHandle(), platform::kInvalidSocket);
        EXPECT_EQ(client.SocketState(), ssIdle);
    }
    desktop->loop().RunFor(50ms);
    EXPECT_EQ(connects, 0);
    EXPECT_EQ(log.entries.size(), 1u);
}

TEST_F(SocketComponents, UnresolvableHostIsReportedWithoutASocket) {
    auto& client = root->Create<TTCPClient>();
    client.SetHost("no-such-host.invalid");
    client.SetPort("28999");
    ErrorLog log;
    log.Watch(client);
    client.Open();
    ASSERT_EQ(log.entries.size(), 1u);
    const std::set<std::string> lookupTexts = {"Host not found", "Non authoritative - host not found",
                                               "Non recoverable error",
                                               "Valid name, no data record of requested type"};
    EXPECT_GE(log.entries[0].code, 11001);
    EXPECT_LE(log.entries[0].code, 11004);
    EXPECT_TRUE(lookupTexts.count(log.entries[0].text)) << log.entries[0].text;
    EXPECT_EQ(OpenSockets(), 0u);
    EXPECT_EQ(client.SocketState(), ssIdle);
}

TEST_F(SocketComponents, PortTextIsAServiceNameOrAPortNumber) {
    auto& client = root->Create<TTCPClient>();
    platform::SockAddrIn a;
    ASSERT_TRUE(client.ResolvePort("ftp", a));
    EXPECT_EQ(HostOrder(a.port), 21);
    EXPECT_EQ(a.addr, platform::INADDR_ANY_);
    ASSERT_TRUE(client.ResolvePort("8000", a));
    EXPECT_EQ(HostOrder(a.port), 8000);

    // A dotted address is taken as it is: the name table would say otherwise if it were asked.
    desktop->sockets().AddHost("192.168.0.5", 0x0900007Fu);
    ASSERT_TRUE(client.ResolveAddress("192.168.0.5", "8001", a));
    const auto* b = reinterpret_cast<const std::uint8_t*>(&a.addr);
    EXPECT_EQ(std::vector<int>(b, b + 4), (std::vector<int>{192, 168, 0, 5}));
    EXPECT_EQ(HostOrder(a.port), 8001);
    // Any other text is a name.
    desktop->sockets().AddHost("PC01", 0x0900007Fu);
    ASSERT_TRUE(client.ResolveAddress("PC01", "ftp", a));
    EXPECT_EQ(a.addr, 0x0900007Fu);
    ASSERT_TRUE(client.ResolveAddress("localhost", "1", a));
    EXPECT_EQ(std::vector<int>(b, b + 4), (std::vector<int>{127, 0, 0, 1}));

    for (const char* bad : {"", "no-such-service", "80x", "70000", "-1", "+"}) {
        EXPECT_THROW(client.ResolvePort(bad, a), EConvertError) << bad;
    }
    // Open passes the conversion failure to its caller, before any socket exists.
    client.SetHost("127.0.0.1");
    client.SetPort("no-such-service");
    EXPECT_THROW(client.Open(), EConvertError);
    auto& server = root->Create<TTCPServer>();
    server.SetPort("no-such-service");
    EXPECT_THROW(server.Listen(), EConvertError);
    EXPECT_EQ(OpenSockets(), 0u);
}

TEST_F(SocketComponents, SecondListenerOnTheSamePortFails) {
    auto& first = ListeningServer();
    auto& second = root->Create<TTCPServer>();
    ErrorLog log;
    log.Watch(second);
    second.SetPort(std::to_string(LocalPort(first.SocketHandle())));
    second.Listen();
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].code, 10048);
    EXPECT_EQ(log.entries[0].text, "Address already in use");
    EXPECT_EQ(second.SocketState(), ssIdle);
    EXPECT_EQ(second.SocketHandle(), platform::kInvalidSocket);
    EXPECT_EQ(OpenSockets(), 1u);
}

TEST_F(SocketComponents, ClientResetByItsPeerStillClosesItself) {
    testing::RawListener peer;
    auto& client = ClientFor(peer.Port());
    bool connected = false;
    int closes = 0;
    client.OnConnect = [&](Component*, SocketHandle) { connected = true; };
    client.OnClose = [&](Component*, SocketHandle) { ++closes; };
    ErrorLog log;
    log.Watch(client);
    client.Open();
    testing::RawSocket conn;
    ASSERT_TRUE(Pump([&] {
        if (!conn.valid()) conn = peer.TryAccept();
        return connected && conn.valid();
    }));
    conn.Close();  // reset
    ASSERT_TRUE(Pump([&] { return closes == 1; }));
    EXPECT_EQ(client.SocketState(), ssIdle);
    EXPECT_EQ(OpenSockets(), 0u);
    EXPECT_TRUE(log.entries.empty());
}

TEST_F(SocketComponents, ServerCloseEndsEveryAcceptedConnection) {
    auto& server = ListeningServer();
    const std::uint16_t port = LocalPort(server.SocketHandle());
    std::vector<SocketHandle> accepted;
    server.OnAccept = [&](Component*, SocketHandle h) { accepted.push_back(h); };
    std::vector<TTCPClient*> clients;
    int closes = 0;
    for (int i = 0; i < 3; ++i) {
        auto& c = ClientFor(port);
        c.OnClose = [&](Component*, SocketHandle) { ++closes; };
        c.Open();
        ASSERT_TRUE(Pump([&] { return accepted.size() == static_cast<std::size_t>(i + 1) && c.SocketState() == ssConnected; }));
        clients.push_back(&c);
    }
    ASSERT_EQ(server.Clients().Count(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(server.Clients()[i], accepted[i]);
    EXPECT_EQ(OpenSockets(), 7u);

    server.Close();
    EXPECT_EQ(server.Clients().Count(), 0u);
    EXPECT_EQ(server.SocketState(), ssIdle);
    EXPECT_EQ(server.SocketHandle(), platform::kInvalidSocket);
    EXPECT_EQ(OpenSockets(), 3u);
    ASSERT_TRUE(Pump([&] { return closes == 3; }));
    for (auto* c : clients) EXPECT_EQ(c->SocketState(), ssIdle);
    EXPECT_EQ(OpenSockets(), 0u);
}

TEST_F(SocketComponents, CloseClientClosesAHandleItNeverAccepted) {
    auto& server = ListeningServer();
    auto& client = ClientFor(LocalPort(server.SocketHandle()));
    client.Open();
    ASSERT_TRUE(Pump([&] { return server.Clients().Count() == 1 && client.SocketState() == ssConnected; }));
    const SocketHandle accepted = server.Clients()[0];

    const SocketHandle stranger = desktop->sockets().Socket(platform::AF_INET_, platform::SOCK_STREAM_, 0);
    ASSERT_NE(stranger, platform::kInvalidSocket);
    EXPECT_EQ(OpenSockets(), 4u);
    ErrorLog log;
    log.Watch(server);
    server.CloseClient(stranger);
    EXPECT_EQ(OpenSockets(), 3u);
    ASSERT_EQ(server.Clients().Count(), 1u);
    EXPECT_EQ(server.Clients()[0], accepted);
    EXPECT_TRUE(log.entries.empty());
}

TEST_F(SocketComponents, NotificationsForSocketsClosedMeanwhileAreIgnored) {
    auto& server = ListeningServer();
    auto& client = ClientFor(LocalPort(server.SocketHandle()));
    int serverEvents = 0;
    int clientEvents = 0;
    server.OnData = [&](Component*, SocketHandle) { ++serverEvents; };
    server.OnClose = [&](Component*, SocketHandle) { ++serverEvents; };
    client.OnData = [&](Component*, SocketHandle) { ++clientEvents; };
    client.OnClose = [&](Component*, SocketHandle) { ++clientEvents; };
    ErrorLog log;
    log.Watch(client);
    log.Watch(server);
    client.Open();
    ASSERT_TRUE(Pump([&] { return server.Clients().Count() == 1 && client.SocketState() == ssConnected; }));
    const SocketHandle oldClient = client.SocketHandle();
    const SocketHandle oldAccepted = server.Clients()[0];
    client.Close();
    server.CloseClient(oldAccepted);

    auto& loop = desktop->loop();
    loop.PostMessage(client.NotifyWindow(), WM_SOCKET_NOTIFY, static_cast<platform::WParam>(oldClient),
                     platform::MakeSelectLParam(platform::FD_CLOSE_, 0));
    loop.PostMessage(client.NotifyWindow(), WM_SOCKET_NOTIFY, static_cast<platform::WParam>(oldClient),
                     platform::MakeSelectLParam(platform::FD_CONNECT_, 10061));
    loop.PostMessage(server.NotifyWindow(), WM_SOCKET_NOTIFY, static_cast<platform::WParam>(oldAccepted),
                     platform::MakeSelectLParam(platform::FD_READ_, 0));
    loop.PostMessage(server.NotifyWindow(), WM_SOCKET_NOTIFY, static_cast<platform::WParam>(oldAccepted),
                     platform::MakeSelectLParam(platform::FD_CLOSE_, 0));
    // An event the components do not handle still reports its error for a live socket.
    loop.PostMessage(server.NotifyWindow(), WM_SOCKET_NOTIFY, static_cast<platform::WParam>(server.SocketHandle()),
                     platform::MakeSelectLParam(platform::FD_OOB_, 10055));
    loop.RunFor(50ms);
    EXPECT_EQ(serverEvents, 0);
    EXPECT_EQ(clientEvents, 0);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].sender, &server);
    EXPECT_EQ(log.entries[0].text, "No buffer space available");
}

}  // namespace
}  // namespace zumelko
