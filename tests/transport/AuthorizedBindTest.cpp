// The local port of an Authorized connection: 1024 first, then downwards to 513, else one the
// system picks. Each case runs in a child process with a loopback of its own, so the low ports
// are nobody else's; the case without rights also drops the right to bind them.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/SimDesktop.h"
#include "tests/transport/TestPeers.h"
#include "transport/SocketComponents.h"

namespace zumelko {
namespace {

using namespace std::chrono_literals;
using platform::SocketHandle;

struct Outcome {
    std::string failure;
    int localPort = -1;
    std::vector<std::string> errors;
};

// Connects an Authorized client to a listener and tells the client's local port.
Outcome ConnectAuthorized() {
    platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    Outcome out;
    auto& server = root.Create<TTCPServer>();
    server.SetPort("0");
    server.Listen();
    platform::SockAddrIn listening;
    if (desktop->sockets().GetSockName(server.SocketHandle(), listening) != 0) {
        out.failure = "listener has no port";
        return out;
    }
    auto& client = root.Create<TTCPClient>();
    client.SetAuthorized(true);
    client.SetHost("127.0.0.1");
    const auto* pb = reinterpret_cast<const std::uint8_t*>(&listening.port);
    client.SetPort(std::to_string((pb[0] << 8) | pb[1]));
    client.OnError = [&](Component*, int code, const std::string& text) {
        out.errors.push_back(std::to_string(code) + " " + text);
    };
    bool connected = false;
    client.OnConnect = [&](Component*, SocketHandle) { connected = true; };
    client.Open();
    if (!desktop->loop().RunUntilFor([&] { return connected || !out.errors.empty(); }, 5000ms)) {
        out.failure = "the connection neither completed nor failed";
        return out;
    }
    if (connected) {
        platform::SockAddrIn local;
        desktop->sockets().GetSockName(client.SocketHandle(), local);
        const auto* b = reinterpret_cast<const std::uint8_t*>(&local.port);
        out.localPort = (b[0] << 8) | b[1];
    }
    return out;
}

// Runs the case in its own namespace and hands back "port:<n>" or "errors:<...>".
std::string Describe(const Outcome& o) {
    if (!o.failure.empty()) return o.failure;
    std::string s = "port:" + std::to_string(o.localPort);
    for (const auto& e : o.errors) s += " error:" + e;
    return s;
}

testing::IsolatedResult Isolated(const std::function<Outcome()>& scenario, bool withoutRights) {
    return testing::RunIsolated(
        [&] {
            const Outcome o = scenario();
            // The child's answer is the description; "!" marks a harness failure.
            return o.failure.empty() ? "=" + Describe(o) : "!" + o.failure;
        },
        withoutRights);
}

std::string Expect(const testing::IsolatedResult& r) {
    if (!r.ownNamespace) std::printf("note: ran in the shared network namespace\n");
    EXPECT_FALSE(r.failure.empty());
    EXPECT_EQ(r.failure.substr(0, 1), "=") << r.failure;
    return r.failure.size() > 1 ? r.failure.substr(1) : std::string();
}

TEST(AuthorizedBind, TakesPort1024WhenItIsFree) {
    const std::string got = Expect(Isolated([] { return ConnectAuthorized(); }, false));
    EXPECT_EQ(got, "port:1024");
}

TEST(AuthorizedBind, Takes1023WhenPort1024IsHeld) {
    const std::string got = Expect(Isolated(
        [] {
            testing::RawSocket held = testing::HoldPort(1024);
            return ConnectAuthorized();
        },
        false));
    EXPECT_EQ(got, "port:1023");
}

TEST(AuthorizedBind, GoesUnboundWhenEveryCandidateIsHeld) {
    const std::string got = Expect(Isolated(
        [] {
            std::vector<testing::RawSocket> held;
            for (int p = 1024; p >= 513; --p) held.push_back(testing::HoldPort(static_cast<std::uint16_t>(p)));
            return ConnectAuthorized();
        },
        false));
    ASSERT_EQ(got.rfind("port:", 0), 0u) << got;
    const int port = std::stoi(got.substr(5));
    EXPECT_TRUE(port > 1024 || port < 513) << got;
    EXPECT_EQ(got.find("error"), std::string::npos) << got;
}

TEST(AuthorizedBind, WithoutRightsToLowPortsConnectsFromASystemPort) {
    // Port 1024 is bindable by anyone; once it is taken, every lower port is refused (10013)
    // for a process without the right: the connection must still be made.
    const std::string got = Expect(Isolated(
        [] {
            testing::RawSocket held = testing::HoldPort(1024);
            return ConnectAuthorized();
        },
        true));
    ASSERT_EQ(got.rfind("port:", 0), 0u) << got;
    const int port = std::stoi(got.substr(5));
    EXPECT_TRUE(port > 1024) << got;
    EXPECT_EQ(got.find("error"), std::string::npos) << got;
}

}  // namespace
}  // namespace zumelko
