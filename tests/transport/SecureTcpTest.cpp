// The encrypted channel over real loopback TCP: items arrive exactly with the same check code at
// both ends, failures are told apart, and hostile clients are refused while an allowed item
// still arrives.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/Stream.h"
#include "platform/sim/SimDesktop.h"
#include "tests/tls/TlsTestPair.h"
#include "tests/transport/TestPeers.h"
#include "transport/ReceiveBudget.h"
#include "transport/SecureTcp.h"
#include "transport/SimpleTcp.h"

namespace zumelko::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kSecurePort = 28621;

struct Seen {
    std::vector<std::string> headers;
    std::vector<std::string> items;
    std::vector<std::string> codes;
    int sended = 0;
    std::optional<TSecureFailure> failure;
    std::string failureText;
    std::string sendCode;
    bool sendPassphrase = false;
    bool recvPassphrase = false;
};

MemoryStream Bytes(std::string_view s) {
    MemoryStream m;
    m.Write(s.data(), s.size());
    return m;
}

class SecureTcpTest : public ::testing::Test {
protected:
    platform::sim::ScopedSimDesktop desktop;
    std::unique_ptr<Component> root = std::make_unique<Component>(nullptr);
    tls::TlsContext senderContext;
    tls::TlsContext receiverContext;
    Seen seen;

    void TearDown() override {
        root.reset();
        EXPECT_EQ(desktop->sockets().OpenSocketCount(), 0u) << "a socket outlived its channel";
    }

    TSecureTcp& Receiver() {
        auto& c = root->Create<TSecureTcp>(receiverContext);
        c.SetPort(kSecurePort);
        c.SetMaxHeaderSize(64 * 1024);
        // Many handshakes, failing ones among them, from one address: the limits are tested apart.
        c.SetLimits({std::numeric_limits<std::size_t>::max(), 1e9, 1e9, 0, 0});
        c.OnHeader = [this, &c](Component*, bool&) {
            StringList lines;
            c.GetStrings(lines);
            seen.headers.push_back(lines.Text());
        };
        c.OnReceived = [this, &c](Component*) {
            seen.items.push_back(std::string(c.TakeString().View()) + "|" + std::to_string(c.PacketSize()));
            seen.codes.push_back(c.CheckCode());
            seen.recvPassphrase = c.PassphraseAuthenticated();
        };
        c.Listen();
        EXPECT_EQ(c.ListenerSocket().SocketState(), ssListening);
        return c;
    }

    TSecureTcp& Sender() {
        auto& c = root->Create<TSecureTcp>(senderContext);
        c.SetPort(kSecurePort);
        c.OnSended = [this, &c](Component*) {
            ++seen.sended;
            seen.sendCode = c.SendCheckCode();
            seen.sendPassphrase = c.SendPassphraseAuthenticated();
        };
        c.OnSendFailed = [this](Component*, TSecureFailure kind, const std::string& text) {
            seen.failure = kind;
            seen.failureText = text;
        };
        return c;
    }

    bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = 15000ms) {
        return desktop->loop().RunUntilFor(done, limit);
    }
    bool SendAndWait(TSecureTcp& sender, std::string_view header, std::string_view data) {
        const int before = seen.sended;
        seen.failure.reset();
        sender.SendItem("127.0.0.1", header, Bytes(data));
        return Pump([&] { return seen.sended > before || seen.failure.has_value(); }) && seen.sended > before;
    }
};

// Texts as users copy them (Japanese, NULs inside, nothing at all) and a payload larger than
// one turn's reading arrive byte for byte, and both ends show the same check code.
TEST_F(SecureTcpTest, ItemsArriveExactlyWithOneCheckCodeAtBothEnds) {
    Receiver();
    TSecureTcp& sender = Sender();
    std::string big(9 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) >> 3);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"string\r\nユーザー\r\nマシン\r\n", "日本語のテキスト、ﾊﾝｶｸ"},
        {"string\r\nu\r\nm\r\n", std::string("a\0b\0", 4)},
        {"", ""},
        {"bitmap\r\nu\r\nm\r\n", big},
    };
    for (const auto& [header, data] : cases) {
        SCOPED_TRACE(header);
        seen.items.clear();
        ASSERT_TRUE(SendAndWait(sender, header, data)) << seen.failureText;
        ASSERT_EQ(seen.items.size(), 1u);
        EXPECT_EQ(seen.headers.back(), header);
        const std::string expected = data.substr(0, data.find('\0')) + "|" + std::to_string(data.size());
        EXPECT_EQ(seen.items.back(), expected);
        EXPECT_EQ(seen.codes.back(), seen.sendCode);
        EXPECT_EQ(seen.sendCode.size(), 14u);
    }
    // The last item's whole payload, not only its first text.
    EXPECT_NE(seen.codes[0], seen.codes[1]) << "every connection has its own code";
    EXPECT_FALSE(seen.sendPassphrase);

    // A team: both ends know the passphrase and say so.
    const auto key = tls::DerivePassphraseKey("チームの合言葉");
    senderContext.SetPassphraseKey(key);
    receiverContext.SetPassphraseKey(key);
    ASSERT_TRUE(SendAndWait(sender, "string\r\nu\r\nm\r\n", "secret")) << seen.failureText;
    EXPECT_TRUE(seen.sendPassphrase);
    EXPECT_TRUE(seen.recvPassphrase);
}

// Every way a send fails is told apart: only an unreachable port may lead to a plain send.
TEST_F(SecureTcpTest, FailuresAreToldApart) {
    TSecureTcp& sender = Sender();
    // Nothing listens.
    EXPECT_FALSE(SendAndWait(sender, "h", "d"));
    EXPECT_EQ(seen.failure, TSecureFailure::Unreachable) << seen.failureText;

    {
        // Something takes the connection and closes it without a word: an old program, a
        // firewall's answer. Reached, so no fallback.
        RawListener raw(kSecurePort);
        seen.failure.reset();
        sender.SendItem("127.0.0.1", "h", Bytes("d"));
        bool taken = false;
        ASSERT_TRUE(Pump([&] {
            if (!taken && seen.failure == std::nullopt) {
                // Accepted only once the sender's connection is surely waiting in the backlog.
                Pump([] { return false; }, 50ms);
                RawSocket conn = raw.TryAccept();
                taken = conn.valid();
            }
            return seen.failure.has_value();
        }));
        EXPECT_EQ(seen.failure, TSecureFailure::Handshake) << seen.failureText;
    }

    TSecureTcp& receiver = Receiver();
    struct Case {
        const char* name;
        std::function<void()> arrange;
        TSecureFailure expected;
    };
    const auto key = tls::DerivePassphraseKey("one");
    const std::vector<Case> cases = {
        {"the receiver has a passphrase, the sender none", [&] { receiverContext.SetPassphraseKey(key); },
         TSecureFailure::Handshake},
        {"passphrases differ",
         [&] {
             receiverContext.SetPassphraseKey(key);
             senderContext.SetPassphraseKey(tls::DerivePassphraseKey("two"));
         },
         TSecureFailure::Handshake},
        {"the receiver refuses the header", [&] { receiver.OnHeader = [](Component*, bool& accept) { accept = false; }; },
         TSecureFailure::Refused},
        {"the receiver refuses the data",
         [&] { receiver.OnAnnounced = [](Component*, std::size_t, bool& accept) { accept = false; }; },
         TSecureFailure::Refused},
        {"the receiver turns the address away",
         [&] { receiver.OnAdmit = [](Component*, std::uint32_t, bool& accept) { accept = false; }; },
         TSecureFailure::Handshake},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        receiverContext.ClearPassphrase();
        senderContext.ClearPassphrase();
        receiver.OnHeader.Clear();
        receiver.OnAnnounced.Clear();
        receiver.OnAdmit.Clear();
        receiver.OnReceived.Clear();
        c.arrange();
        EXPECT_FALSE(SendAndWait(sender, "h", std::string(100000, 'x')));
        EXPECT_EQ(seen.failure, c.expected) << seen.failureText;
        EXPECT_EQ(seen.sended, 0);
    }
}

// Hostile clients on the secure port: each is refused (its connection ends), nothing of it is
// delivered, and an allowed item sent afterwards still arrives.
TEST_F(SecureTcpTest, HostileClientsAreRefusedAndTheChannelGoesOn) {
    TSecureTcp& receiver = Receiver();
    TSecureTcp& sender = Sender();
    tls::TlsContext hostileContext;
    // What a TLS client of this program would send after its handshake.
    auto tlsClientSends = [&](const std::string& plaintext) {
        auto client = std::make_unique<TlsClientEnd>(*root, hostileContext, kSecurePort);
        client->End().outgoing = plaintext;
        EXPECT_TRUE(Pump([&] { return client->End().readEnded; })) << "the connection is not ended";
        EXPECT_NE(client->End().session->Ending(), tls::TlsEnding::CloseNotify) << "refused, never taken";
    };
    auto rawSends = [&](const std::string& bytes) {
        RawSocket s = RawConnect(kSecurePort);
        s.SendAll(bytes);
        std::string ignored;
        EXPECT_TRUE(Pump([&] {
            s.ReadAvailable(ignored);
            return s.PeerClosed();
        }));
    };
    const std::string hello = ClientHello(hostileContext);
    struct Case {
        const char* name;
        std::function<void()> run;
    };
    const std::vector<Case> cases = {
        {"plain-wire packet instead of a handshake", [&] { rawSends(LengthField(5) + "hello"); }},
        {"an HTTP request", [&] { rawSends("GET / HTTP/1.1\r\nHost: x\r\n\r\n"); }},
        {"garbage after the client hello", [&] { rawSends(hello + std::string(300, '\x17')); }},
        {"a header over the ceiling", [&] { tlsClientSends(LengthField(64 * 1024 + 1) + std::string(1000, 'h')); }},
        {"a negative header length", [&] { tlsClientSends(LengthField(-1)); }},
        {"a data length of 2 GB", [&] { tlsClientSends(LengthField(1) + "h" + LengthField(0x7FFFFFFF) + "xx"); }},
        {"a TLS 1.2 client at openssl's defaults otherwise",
         [&] {
             auto tool = std::async(std::launch::async, [] {
                 return std::system(("timeout 10 openssl s_client -tls1_2 -connect 127.0.0.1:" +
                                     std::to_string(kSecurePort) + " </dev/null >/dev/null 2>&1")
                                        .c_str());
             });
             EXPECT_TRUE(Pump([&] { return tool.wait_for(0ms) == std::future_status::ready; }));
             EXPECT_NE(tool.get(), 0) << "the handshake failed for it";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.run();
        EXPECT_TRUE(seen.items.empty());
        EXPECT_TRUE(Pump([&] { return receiver.IncomingConnections() == 0; }));
    }
    ASSERT_TRUE(SendAndWait(sender, "string\r\nu\r\nm\r\n", "still here")) << seen.failureText;
    EXPECT_EQ(seen.items, std::vector<std::string>{"still here|10"});

    // Idle connections, some stopped half-way through a client hello, more than the channel
    // reads at once: the quietest give way, and an item still arrives.
    std::vector<RawSocket> idle;
    for (std::size_t i = 0; i < TSecureTcp::kMaxIncoming + 4; ++i) {
        idle.push_back(RawConnect(kSecurePort));
        if (i % 2 == 0) idle.back().SendAll(hello.substr(0, hello.size() / 2));
        Pump([] { return false; }, 10ms);  // taken from the backlog as a busy program would
    }
    Pump([&] { return false; }, 200ms);
    EXPECT_LE(receiver.IncomingConnections(), TSecureTcp::kMaxIncoming);
    // A client that trickles its item a few bytes per turn is slow, not refused.
    auto trickler = std::make_unique<TlsClientEnd>(*root, hostileContext, kSecurePort);
    const std::string item = LengthField(3) + "h\r\n" + LengthField(8) + "trickled";
    ASSERT_TRUE(Pump([&] { return Settled(trickler->End()); }));
    for (char byte : item) {
        trickler->End().outgoing.push_back(byte);
        trickler->End().Drive();
        Pump([] { return false; }, 2ms);
    }
    EXPECT_TRUE(Pump([&] { return seen.items.size() == 2; }));
    EXPECT_EQ(seen.items.back(), "trickled|8");
    ASSERT_TRUE(SendAndWait(sender, "string\r\nu\r\nm\r\n", "and again")) << seen.failureText;
    EXPECT_EQ(seen.items.back(), "and again|9");
}

// Extra bytes after the data packet are not read, and a held connection is answered only when
// its handle closes, with close_notify.
TEST_F(SecureTcpTest, HeldItemsAreAnsweredWhenTheirHandleCloses) {
    TSecureTcp& receiver = Receiver();
    std::optional<TSecureHeld> held;
    receiver.OnReceived = [&](Component*) {
        seen.items.push_back(receiver.GetString());
        held = receiver.Hold();
    };
    TSecureTcp& sender = Sender();
    sender.SendItem("127.0.0.1", "h", Bytes("held"));
    ASSERT_TRUE(Pump([&] { return held.has_value(); }));
    ASSERT_TRUE(static_cast<bool>(*held));
    Pump([] { return false; }, 150ms);
    EXPECT_EQ(seen.sended, 0) << "no answer while the item is held";
    held.reset();
    EXPECT_TRUE(Pump([&] { return seen.sended == 1; })) << seen.failureText;

    // A client that goes on writing after its item: the item is delivered, the rest ignored.
    tls::TlsContext other;
    TlsClientEnd client(*root, other, kSecurePort);
    client.End().outgoing = LengthField(1) + "h" + LengthField(4) + "data" + std::string(50000, 'z');
    ASSERT_TRUE(Pump([&] { return held.has_value(); }));
    EXPECT_EQ(seen.items.back(), "data");
    held.reset();
    EXPECT_TRUE(Pump([&] { return client.End().readEnded; }));
    EXPECT_EQ(client.End().session->Ending(), tls::TlsEnding::CloseNotify);
}

// The descriptor of the receiver's one accepted connection on the secure port.
int AcceptedDescriptor() {
    for (int fd = 3; fd < 4096; ++fd) {
        sockaddr_in local{}, peer{};
        socklen_t n = sizeof local, m = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &n) == 0 && local.sin_family == AF_INET &&
            ntohs(local.sin_port) == kSecurePort && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &m) == 0)
            return fd;
    }
    return -1;
}

// Silent connections, half a client hello, a close_notify that never gets out, and a sender
// whose peer never answers all end by the deadline, and their connections are freed. One address
// gets no more than its handshakes at once, and its failures make it wait.
TEST_F(SecureTcpTest, HandshakesAndClosesEndByTheirDeadline) {
    TSecureTcp& receiver = Receiver();
    receiver.SetLimits({});
    receiver.SetHandshakeTimeoutMs(600);
    TSecureTcp& sender = Sender();
    sender.SetHandshakeTimeoutMs(600);
    std::optional<TSecureHeld> held;
    receiver.OnReceived = [&](Component*) { held = receiver.Hold(); };
    sender.SendItem("127.0.0.1", "h", Bytes("d"));
    ASSERT_TRUE(Pump([&] { return held.has_value(); }));
    // The connection's socket replaced by one whose buffer is full: its close_notify waits.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    while (send(pair[0], "xxxxxxxxxxxxxxxx", 16, MSG_NOSIGNAL) > 0) {
    }
    ASSERT_GE(dup2(pair[0], AcceptedDescriptor()), 0);
    held.reset();
    EXPECT_EQ(receiver.IncomingConnections(), 1u) << "closing";
    EXPECT_TRUE(Pump([&] { return receiver.IncomingConnections() == 0; }, 5000ms));
    close(pair[0]);
    close(pair[1]);

    const std::string hello = ClientHello(senderContext);
    std::vector<RawSocket> quiet;
    for (int i = 0; i < 4; ++i) {
        quiet.push_back(RawConnect(kSecurePort));
        if (i % 2 == 1) quiet.back().SendAll(hello.substr(0, hello.size() / 2));
    }
    ASSERT_TRUE(Pump([&] { return receiver.IncomingConnections() == 4; }));
    RawSocket fifth = RawConnect(kSecurePort);
    EXPECT_TRUE(Pump([&] { return fifth.PeerClosed(); }, 5000ms));
    for (const RawSocket& q : quiet) EXPECT_FALSE(q.PeerClosed()) << "the fifth went first, at accept";
    for (const RawSocket& q : quiet) EXPECT_TRUE(Pump([&] { return q.PeerClosed(); }, 5000ms));
    EXPECT_EQ(receiver.IncomingConnections(), 0u);
    EXPECT_FALSE(SendAndWait(sender, "h", "d"));
    EXPECT_EQ(seen.failure, TSecureFailure::Handshake) << "turned away after its failures: " << seen.failureText;

    RawListener mute;
    sender.SetPort(mute.Port());
    EXPECT_FALSE(SendAndWait(sender, "h", "d"));
    EXPECT_EQ(seen.failure, TSecureFailure::Handshake) << seen.failureText;
}

}  // namespace
}  // namespace zumelko::testing

namespace zumelko::testing {
namespace {

// Peers on the plain data channel and the encrypted one, which share one budget, announce all of it
// and send part: together the channels stay within it, the quietest give way on either one.
TEST_F(SecureTcpTest, ThePlainAndTheEncryptedChannelTogetherStayWithinOneBudget) {
    constexpr std::size_t kLimit = 4 << 20, kPart = 300 * 1024;
    TSecureTcp& secure = Receiver();
    auto& plain = root->Create<TSimpleTcp>();
    plain.SetPort(kSecurePort + 1);
    plain.Listen();
    const auto budget = std::make_shared<ReceiveBudget>(kLimit);
    secure.ShareBudget(budget);
    plain.ShareBudget(budget);
    std::vector<RawSocket> plainPeers;
    std::vector<std::unique_ptr<TlsClientEnd>> securePeers;
    std::size_t most = 0;
    for (int i = 0; i < 8; ++i) {
        const std::string part(kPart, static_cast<char>('a' + i));
        if (i % 2 == 0) {
            const RawSocket& s = plainPeers.emplace_back(RawConnect(kSecurePort + 1));
            auto sent = std::async(std::launch::async, [&] { s.SendAll(LengthField(kLimit) + part); });
            ASSERT_TRUE(Pump([&] { return sent.wait_for(0ms) == std::future_status::ready; }));
        } else {
            TlsEnd& end = securePeers.emplace_back(std::make_unique<TlsClientEnd>(*root, senderContext, kSecurePort))->End();
            end.outgoing = LengthField(1) + "h" + LengthField(kLimit) + part;
            ASSERT_TRUE(Pump([&] { return end.sent == end.outgoing.size() || end.readEnded; }));
        }
        Pump([] { return false; }, 100ms);
        const std::size_t held = secure.IncomingCapacity() + plain.IncomingCapacity();
        most = std::max(most, held);
        EXPECT_LE(held, kLimit) << "after peer " << i;
    }
    EXPECT_GE(most, 2 * kPart) << "the channels gave way before they had to";
    std::string ignored;
    EXPECT_TRUE(Pump([&] { return plainPeers[0].ReadAvailable(ignored), plainPeers[0].PeerClosed(); }));
    EXPECT_TRUE(Pump([&] { return securePeers[0]->End().readEnded; }));
    TlsEnd& last = securePeers.back()->End();
    last.outgoing += std::string(kLimit - kPart, 'f');
    last.Drive();
    ASSERT_TRUE(Pump([&] { return seen.items.size() == 1; }));
    EXPECT_EQ(seen.items[0].size(), kLimit + std::string("|4194304").size());
}

}  // namespace
}  // namespace zumelko::testing
