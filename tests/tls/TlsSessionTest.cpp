// Two sessions over real loopback TCP: who gets through the handshake with which passphrases,
// what both ends show, plaintext both ways through full sockets, and how each ending is told.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "tests/tls/TlsTestPair.h"
#include "tests/transport/TestPeers.h"

namespace zumelko {
namespace {

using testing::Pump;
using testing::Settled;
using testing::TlsClientEnd;
using testing::TlsServerEnd;
using tls::TlsEnding;
using tls::TlsState;

// Keys are slow to derive on purpose: once per passphrase for the whole program.
const tls::PassphraseKey& KeyOf(const std::string& passphrase) {
    static const tls::PassphraseKey a = tls::DerivePassphraseKey("correct horse battery staple");
    static const tls::PassphraseKey b = tls::DerivePassphraseKey("correct horse battery stapler");
    return passphrase == "A" ? a : b;
}

class TlsSessions : public ::testing::Test {
protected:
    platform::sim::ScopedSimDesktop desktop;
    std::unique_ptr<Component> root = std::make_unique<Component>(nullptr);
    tls::TlsContext clientContext;
    tls::TlsContext serverContext;

    void TearDown() override {
        root.reset();
        EXPECT_EQ(desktop->sockets().OpenSocketCount(), 0u) << "a socket outlived its component";
    }
};

TEST(CheckCode, TwelveDigitsInThreeGroups) {
    const std::uint8_t zero[8] = {};
    EXPECT_EQ(tls::FormatCheckCode(zero), "0000 0000 0000");
    const std::uint8_t max[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(tls::FormatCheckCode(max), "0737 0955 1615");  // 18446744073709551615 mod 10^12
    const std::uint8_t small[8] = {0, 0, 0, 0, 0, 0, 0x30, 0x39};
    EXPECT_EQ(tls::FormatCheckCode(small), "0000 0001 2345");
}

TEST(PassphraseKey, SameTextSameKeyAndEveryByteCounts) {
    EXPECT_EQ(tls::DerivePassphraseKey("パスワード").bytes, tls::DerivePassphraseKey("パスワード").bytes);
    EXPECT_NE(KeyOf("A").bytes, KeyOf("B").bytes);
    EXPECT_NE(tls::DerivePassphraseKey("").bytes, tls::DerivePassphraseKey(std::string(1, '\0')).bytes);
}

TEST_F(TlsSessions, HandshakeByPassphrasesOnBothEnds) {
    struct Case {
        const char* client;  // passphrase, or nullptr for none
        const char* server;
        bool ok;
        const char* serverError;  // when it fails
        const char* clientError;
    };
    const Case cases[] = {
        {nullptr, nullptr, true, "", ""},
        {"A", "A", true, "", ""},
        {"A", "B", false, "TLS handshake failed: the team passphrases differ",
         "TLS handshake failed: the team passphrases differ"},
        {"A", nullptr, false, "TLS handshake failed: the peer uses a team passphrase, this end none",
         "TLS handshake failed: the peer ended the passphrase exchange: it may have no team passphrase or run an "
         "older version"},
        {nullptr, "A", false, "TLS handshake failed: the peer has no team passphrase",
         "TLS handshake failed: the peer uses a team passphrase, this end none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.client ? c.client : "-") + " / " + (c.server ? c.server : "-"));
        if (c.client) clientContext.SetPassphraseKey(KeyOf(c.client)); else clientContext.ClearPassphrase();
        if (c.server) serverContext.SetPassphraseKey(KeyOf(c.server)); else serverContext.ClearPassphrase();
        auto scope = std::make_unique<Component>(root.get());
        TlsServerEnd server(*scope, serverContext);
        TlsClientEnd client(*scope, clientContext, server.Port());
        client.End().outgoing = testing::LengthField(5) + "hello";  // as a channel starts, once open
        const auto failed = [](const testing::TlsEnd& e) { return e.session && e.session->State() == TlsState::Failed; };
        ASSERT_TRUE(Pump(desktop, [&] {
            return Settled(client.End()) && Settled(server.End()) && (c.ok || (failed(client.End()) && failed(server.End())));
        }));
        const tls::TlsSession& cs = *client.End().session;
        const tls::TlsSession& ss = *server.End().session;
        if (c.ok) {
            ASSERT_EQ(cs.State(), TlsState::Open) << cs.ErrorText();
            ASSERT_EQ(ss.State(), TlsState::Open) << ss.ErrorText();
            EXPECT_EQ(cs.CheckCode(), ss.CheckCode());
            EXPECT_EQ(cs.CheckCode().size(), 14u);
            EXPECT_EQ(cs.PassphraseAuthenticated(), c.client != nullptr);
            EXPECT_EQ(ss.PassphraseAuthenticated(), c.client != nullptr);
            EXPECT_EQ(cs.PeerFingerprint(), serverContext.Fingerprint());
            EXPECT_EQ(ss.PeerFingerprint(), clientContext.Fingerprint());
            ASSERT_TRUE(Pump(desktop, [&] { return server.End().received.size() == 9; }));
            EXPECT_TRUE(cs.ErrorText().empty());
        } else {
            EXPECT_EQ(cs.State(), TlsState::Failed);
            EXPECT_EQ(ss.State(), TlsState::Failed);
            EXPECT_EQ(ss.ErrorText(), c.serverError);
            EXPECT_EQ(cs.ErrorText(), c.clientError);
            EXPECT_TRUE(cs.CheckCode().empty());
            EXPECT_FALSE(cs.PassphraseAuthenticated());
            EXPECT_FALSE(ss.PassphraseAuthenticated());
        }
    }
    // Two connections between the same two contexts never show the same code.
    clientContext.ClearPassphrase();
    serverContext.ClearPassphrase();
    std::string codes[2];
    for (std::string& code : codes) {
        TlsServerEnd server(*root, serverContext);
        TlsClientEnd client(*root, clientContext, server.Port());
        ASSERT_TRUE(Pump(desktop, [&] { return Settled(client.End()) && Settled(server.End()); }));
        code = server.End().session->CheckCode();
    }
    EXPECT_NE(codes[0], codes[1]);
}

// Everything a connection puts on the wire and takes from it, in order.
struct Tap final : tls::TlsPipe {
    std::unique_ptr<tls::TlsPipe> inner;
    std::string* wire;
    Tap(std::unique_ptr<tls::TlsPipe> pipe, std::string* into) : inner(std::move(pipe)), wire(into) {}
    int Send(const void* d, int n, int& e) override { return Keep(d, inner->Send(d, n, e)); }
    int Receive(void* b, int n, int& e) override { return Keep(b, inner->Receive(b, n, e)); }
    int Keep(const void* d, int n) { return wire->append(static_cast<const char*>(d), n > 0 ? n : 0), n; }
};

// What a recording of connections with the passphrase holds: the exchange only encrypted, and
// nothing two recordings share that a recording without a passphrase lacks (no key, binder or
// hash fixed per passphrase to test guesses against); the hello is as long as without one, so
// it offers no pre-shared key.
TEST_F(TlsSessions, ARecordingHoldsNothingFixedPerPassphrase) {
    std::string wires[3];  // the passphrase twice, then none
    for (int run = 0; run < 3; ++run) {
        if (run < 2) clientContext.SetPassphraseKey(KeyOf("A")); else clientContext.ClearPassphrase();
        if (run < 2) serverContext.SetPassphraseKey(KeyOf("A")); else serverContext.ClearPassphrase();
        auto scope = std::make_unique<Component>(root.get());
        TlsServerEnd server(*scope, serverContext);
        TlsClientEnd client(*scope, clientContext, server.Port());
        testing::TlsEnd& e = client.End();
        e.session.reset();
        e.pipe = std::make_unique<Tap>(std::move(e.pipe), &wires[run]);
        e.session = std::make_unique<tls::TlsSession>(clientContext, tls::TlsRole::Client, *e.pipe);
        e.outgoing = "the same item every time";
        ASSERT_TRUE(Pump(desktop, [&] { return server.End().received == e.outgoing; }));
        EXPECT_EQ(e.session->PassphraseAuthenticated(), run < 2);
        EXPECT_EQ(wires[run].find(tls::kExchangeMagic, 0, sizeof tls::kExchangeMagic), std::string::npos);
    }
    const auto windows = [](const std::string& wire) {
        std::set<std::string> all;
        for (std::size_t i = 0; i + 16 <= wire.size(); ++i) all.insert(wire.substr(i, 16));
        return all;
    };
    const std::set<std::string> second = windows(wires[1]);
    const std::set<std::string> none = windows(wires[2]);
    std::size_t shared = 0;
    for (const std::string& w : windows(wires[0])) {
        if (!second.count(w)) continue;
        ++shared;
        EXPECT_TRUE(none.count(w)) << "a window only recordings with the passphrase share";
    }
    EXPECT_GT(shared, 0u) << "the hellos' fixed parts, at least";
    const std::size_t helloWithout = testing::ClientHello(clientContext).size();
    clientContext.SetPassphraseKey(KeyOf("A"));
    EXPECT_EQ(testing::ClientHello(clientContext).size(), helloWithout);
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    std::uint32_t x = seed;
    for (char& c : s) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

TEST_F(TlsSessions, PlaintextBothWaysThroughFullSocketsThenEveryEnding) {
    for (const char* passphrase : {static_cast<const char*>(nullptr), "A"}) {
        SCOPED_TRACE(passphrase ? "with a passphrase" : "without");
        if (passphrase) clientContext.SetPassphraseKey(KeyOf(passphrase)); else clientContext.ClearPassphrase();
        if (passphrase) serverContext.SetPassphraseKey(KeyOf(passphrase)); else serverContext.ClearPassphrase();
        auto scope = std::make_unique<Component>(root.get());
        // More than loopback's socket buffers hold, both ways at once, so writes meet full sockets.
        const std::string up = Pattern(12u << 20, 1);
        const std::string down = Pattern(12u << 20, 2);
        TlsServerEnd server(*scope, serverContext);
        server.onAccept = [&](testing::TlsEnd& e) { e.outgoing = down; };
        TlsClientEnd client(*scope, clientContext, server.Port());
        client.End().outgoing = up;
        ASSERT_TRUE(Pump(desktop, [&] {
            return client.End().received.size() >= down.size() && server.End().received.size() >= up.size();
        }, std::chrono::milliseconds(60000)));
        EXPECT_TRUE(client.End().received == down);
        EXPECT_TRUE(server.End().received == up);
        EXPECT_GT(client.End().wouldBlock + server.End().wouldBlock, 0) << "no write ever met a full socket";

        // close_notify: the server sees an orderly end; the client reads on until the server's own.
        client.End().session->Close();
        ASSERT_TRUE(Pump(desktop, [&] { return server.End().readEnded; }));
        EXPECT_EQ(server.End().session->State(), TlsState::Closed);
        EXPECT_EQ(server.End().session->Ending(), TlsEnding::CloseNotify);
        EXPECT_EQ(client.End().session->Write("x", 1), -1) << "a write after close_notify";
        server.End().session->Write("last", 4);
        server.End().session->Close();
        ASSERT_TRUE(Pump(desktop, [&] { return client.End().readEnded; }));
        EXPECT_EQ(client.End().received.substr(down.size()), "last");
        EXPECT_EQ(client.End().session->Ending(), TlsEnding::CloseNotify);
        EXPECT_TRUE(client.End().session->ErrorText().empty());
    }

    // A FIN without close_notify, then a reset: each told for what it is.
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "fin");
        auto scope = std::make_unique<Component>(root.get());
        TlsServerEnd server(*scope, serverContext);
        TlsClientEnd client(*scope, clientContext, server.Port());
        ASSERT_TRUE(Pump(desktop, [&] { return Settled(client.End()) && Settled(server.End()); }));
        ASSERT_EQ(server.End().session->State(), TlsState::Open);
        if (reset) {
            client.Client().Close();  // a hard close: a reset
        } else {
            ASSERT_EQ(desktop->sockets().Shutdown(client.Client().SocketHandle(), platform::SD_SEND_), 0);
        }
        ASSERT_TRUE(Pump(desktop, [&] { return server.End().readEnded; }));
        const tls::TlsSession& ss = *server.End().session;
        EXPECT_EQ(ss.Ending(), reset ? TlsEnding::Reset : TlsEnding::Fin);
        EXPECT_EQ(ss.State(), reset ? TlsState::Failed : TlsState::Closed);
        if (reset) {
            EXPECT_EQ(ss.ErrorText().rfind("TLS connection failed: ", 0), 0u) << ss.ErrorText();
        } else {
            EXPECT_EQ(ss.ErrorText(), "");
        }
    }
}

}  // namespace
}  // namespace zumelko
