#pragma once
// Channels on fixed loopback ports, with what each one reported.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Stream.h"
#include "platform/sim/SimDesktop.h"
#include "tests/transport/TestPeers.h"
#include "transport/SimpleTcp.h"

namespace zumelko::testing {

using namespace std::chrono_literals;

// Ports of these tests, away from the program's own 8000 and 8001.
constexpr int kChannelPort = 28611;
constexpr int kOtherChannelPort = 28612;
constexpr std::uint16_t kRawPort = 28613;

struct Reports {
    int received = 0;
    int sended = 0;
    std::vector<std::string> payloads;  // copied out in OnReceived
    std::vector<std::string> errors;
    std::vector<Component*> errorSenders;
};

class ChannelTest : public ::testing::Test {
protected:
    platform::sim::ScopedSimDesktop desktop;
    std::unique_ptr<Component> root = std::make_unique<Component>(nullptr);

    void TearDown() override {
        root.reset();
        EXPECT_EQ(desktop->sockets().OpenSocketCount(), 0u) << "a socket outlived its channel";
    }

    // A channel that sends to 127.0.0.1 and reports into r.
    TSimpleTcp& Channel(Reports& r, int port = kChannelPort) {
        auto& c = root->Create<TSimpleTcp>();
        c.SetPort(port);
        c.SetHostName("127.0.0.1");
        c.OnReceived = [&r, &c](Component* sender) {
            EXPECT_EQ(sender, &c);
            ++r.received;
            MemoryStream m;
            c.GetStream(m);
            r.payloads.emplace_back(m.View());
        };
        c.OnSended = [&r, &c](Component* sender) {
            EXPECT_EQ(sender, &c);
            ++r.sended;
        };
        c.OnError = [&r](Component* sender, const std::string& message) {
            r.errors.push_back(message);
            r.errorSenders.push_back(sender);
        };
        return c;
    }

    TSimpleTcp& Listening(Reports& r, int port = kChannelPort) {
        auto& c = Channel(r, port);
        c.Listen();
        EXPECT_EQ(c.ListenerSocket().SocketState(), ssListening) << (r.errors.empty() ? "" : r.errors[0]);
        return c;
    }

    bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 10000ms) {
        return desktop->loop().RunUntilFor(done, limit);
    }
    void Settle(std::chrono::milliseconds d = 30ms) { desktop->loop().RunFor(d); }

    // Accepts on a raw listener while the loop runs.
    RawSocket AcceptWhilePumping(const RawListener& l) {
        RawSocket conn;
        Pump([&] {
            if (!conn.valid()) conn = l.TryAccept();
            return conn.valid();
        });
        return conn;
    }
    // Reads from a raw connection until it holds n bytes.
    std::string ReadWhilePumping(const RawSocket& s, std::size_t n) {
        std::string got;
        Pump([&] {
            s.ReadAvailable(got);
            return got.size() >= n;
        });
        return got;
    }
    bool PeerClosedWhilePumping(const RawSocket& s) {
        std::string ignored;
        return Pump([&] {
            s.ReadAvailable(ignored);
            return s.PeerClosed();
        });
    }
};

}  // namespace zumelko::testing
