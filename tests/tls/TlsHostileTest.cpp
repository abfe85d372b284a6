// A server session against what anyone on the network may send, raw bytes and a real TLS
// stack at its defaults (Debian's openssl s_client): each bad client fails its own session
// with a text that says why, the listener goes on, and a good client is served afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "tests/tls/TlsTestPair.h"
#include "tests/transport/TestPeers.h"

namespace zumelko {
namespace {

namespace fs = std::filesystem;
using testing::Pump;
using testing::Settled;
using testing::TlsClientEnd;
using testing::TlsServerEnd;
using tls::TlsState;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The check code of the keying material openssl printed for -keymatexport, or "" without it.
std::string ExportedCheckCode(const std::string& log) {
    const std::size_t at = log.find("Keying material: ");
    if (at == std::string::npos || at + 17 + 16 > log.size()) return {};
    std::uint8_t material[8];
    for (std::size_t i = 0; i < 8; ++i)
        material[i] = static_cast<std::uint8_t>(std::stoi(log.substr(at + 17 + 2 * i, 2), nullptr, 16));
    return tls::FormatCheckCode(material);
}

class TlsHostile : public ::testing::Test {
protected:
    platform::sim::ScopedSimDesktop desktop;
    std::unique_ptr<Component> root = std::make_unique<Component>(nullptr);
    tls::TlsContext serverContext;
    tls::TlsContext clientContext;
    fs::path dir;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zumelko-tls-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        root.reset();
        EXPECT_EQ(desktop->sockets().OpenSocketCount(), 0u) << "a socket outlived its component";
        fs::remove_all(dir);
    }

    // Runs a shell command while the loop serves the sessions; its exit status and output.
    std::pair<int, std::string> RunTool(const std::string& command) {
        const fs::path out = dir / "out.txt";
        std::atomic<bool> done{false};
        int status = -1;
        std::thread tool([&] {
            status = std::system(("timeout 20 " + command + " >" + out.string() + " 2>&1").c_str());
            done = true;
        });
        const bool finished = Pump(desktop, [&] { return done.load(); }, std::chrono::milliseconds(30000));
        tool.join();
        EXPECT_TRUE(finished);
        return {status, ReadFile(out)};
    }

    void Shell(const std::string& command) {
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    }

    // A key and a self-signed certificate as a user makes them with openssl req.
    void MakeCertificate(const std::string& name, const std::string& extra = "") {
        Shell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=" + name +
              " " + extra + " -keyout " + (dir / (name + ".key")).string() + " -out " + (dir / (name + ".pem")).string());
    }

    std::string SClient(std::uint16_t port, const std::string& options) {
        return "openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " " + options;
    }
};

TEST_F(TlsHostile, RawBytesFailTheirSessionAndTheServerGoesOn) {
    const std::string hello = testing::ClientHello(clientContext);
    ASSERT_GT(hello.size(), 100u);
    struct Case {
        const char* name;
        std::string bytes;
        const char* error;  // the server session's text
        bool fin = false;   // the peer closes its side after the bytes
    };
    std::string garbage;
    for (int i = 0; i < 600; ++i) garbage += static_cast<char>((i * 131 + 7) & 0xFF);
    const Case cases[] = {
        {"garbage", garbage, "TLS handshake failed: wrong version number"},
        // What a peer of the plain port sends first: a header packet, 4-byte length and three lines.
        {"header packet", testing::LengthField(22) + "string\r\nuser\r\nMACHINE\r\n", "TLS handshake failed: wrong version number"},
        {"http", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", "TLS handshake failed: http request"},
        {"truncated hello", hello.substr(0, hello.size() / 2), "TLS handshake failed: the peer closed the connection", true},
        {"record too long", testing::Bytes({0x16, 0x03, 0x01, 0xFF, 0xFF}) + std::string(4096, 'A'),
         "TLS handshake failed: packet length too long"},
        {"hello then garbage record", hello + testing::Bytes({0x17, 0x03, 0x03, 0x00, 0x20}) + std::string(0x20, 'B'),
         "TLS handshake failed: decryption failed or bad record mac"},
    };
    TlsServerEnd server(*root, serverContext);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::RawSocket peer = testing::RawConnect(server.Port());
        const int accepted = server.Accepted();
        ASSERT_TRUE(Pump(desktop, [&] { return server.Accepted() > accepted; }));
        peer.SendAll(c.bytes);
        if (c.fin) peer.CloseGracefully();
        ASSERT_TRUE(Pump(desktop, [&] { return Settled(server.End()); }));
        EXPECT_EQ(server.End().session->State(), TlsState::Failed);
        EXPECT_EQ(server.End().session->ErrorText(), c.error);
        EXPECT_EQ(server.Server().Clients().Count(), 0u) << "the failed connection is still held";
    }
    EXPECT_EQ(server.Server().SocketState(), ssListening);
    TlsClientEnd good(*root, clientContext, server.Port());
    ASSERT_TRUE(Pump(desktop, [&] { return Settled(good.End()) && Settled(server.End()); }));
    EXPECT_EQ(server.End().session->State(), TlsState::Open) << server.End().session->ErrorText();
    EXPECT_EQ(good.End().session->CheckCode(), server.End().session->CheckCode());
}

TEST_F(TlsHostile, OpensslClientAtItsDefaultsAndWithOlderOrOddSettings) {
    MakeCertificate("user");
    MakeCertificate("ca");
    // A certificate far bigger than any this program makes: 400 names of 60 bytes.
    std::string names = "subjectAltName=";
    for (int i = 0; i < 400; ++i) names += (i ? ",DNS:host" : "DNS:host") + std::to_string(i) + std::string(40, 'x') + ".example";
    MakeCertificate("huge", "-addext " + names);
    const std::string user = "-cert " + (dir / "user.pem").string() + " -key " + (dir / "user.key").string();
    TlsServerEnd server(*root, serverContext);
    server.onAccept = [](testing::TlsEnd& e) { e.outgoing = "hello from the session\n"; };

    // Its defaults: it completes TLS 1.3 on its side; the session wants a certificate it has none of.
    auto [status, out] = RunTool(SClient(server.Port(), "</dev/null"));
    EXPECT_NE(out.find("TLSv1.3"), std::string::npos) << out;
    EXPECT_EQ(server.End().session->ErrorText(), "TLS handshake failed: peer did not return a certificate");

    // TLS 1.2 only: refused by both.
    std::tie(status, out) = RunTool(SClient(server.Port(), "-tls1_2 </dev/null"));
    EXPECT_NE(status, 0) << out;
    EXPECT_EQ(server.End().session->ErrorText(), "TLS handshake failed: unsupported protocol");

    // A chain behind the certificate, and a certificate beyond the size bound: refused.
    std::tie(status, out) = RunTool(SClient(server.Port(), user + " -cert_chain " + (dir / "ca.pem").string() + " </dev/null"));
    EXPECT_EQ(server.End().session->ErrorText(), "TLS handshake failed: the peer's certificate comes with a chain");
    ASSERT_GT(fs::file_size(dir / "huge.pem"), 16u * 1024 * 4 / 3);
    std::tie(status, out) = RunTool(SClient(server.Port(), "-cert " + (dir / "huge.pem").string() + " -key " +
                                                                (dir / "huge.key").string() + " </dev/null"));
    EXPECT_EQ(server.End().session->ErrorText(), "TLS handshake failed: excessive message size");
    EXPECT_EQ(server.Server().Clients().Count(), 0u);

    // With a certificate of its own: the handshake completes on both sides, the session knows
    // the certificate's fingerprint, the keying material openssl exports under our label is
    // what the check code shows, and plaintext passes both ways until its close_notify.
    std::tie(status, out) = RunTool("sh -c '(sleep 1; printf \"hello from openssl\") | " +
                                    SClient(server.Port(), user + " -keymatexport \"" + tls::kCheckCodeLabel +
                                                               "\" -keymatexportlen 8") + "'");
    const tls::TlsSession& s = *server.End().session;
    EXPECT_EQ(s.ErrorText(), "");
    EXPECT_EQ(server.End().received, "hello from openssl");
    EXPECT_NE(out.find("hello from the session"), std::string::npos) << out;
    EXPECT_EQ(s.Ending(), tls::TlsEnding::CloseNotify);
    auto [fpStatus, fingerprint] = RunTool("openssl x509 -noout -fingerprint -sha256 -in " + (dir / "user.pem").string());
    std::string hex;
    for (char ch : fingerprint.substr(fingerprint.find('=') + 1))
        if (std::isxdigit(static_cast<unsigned char>(ch))) hex += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(s.PeerFingerprint(), hex);
    EXPECT_EQ(s.CheckCode(), ExportedCheckCode(out)) << out;
}

// The client side against a real server: openssl s_server at its defaults serves it TLS 1.3
// with the same check code, one limited to TLS 1.2 is refused.
TEST_F(TlsHostile, ClientSessionAgainstOpensslServer) {
    MakeCertificate("server");
    const std::uint16_t port = [] {
        testing::RawListener probe;  // a port free now, in this test's own network
        return probe.Port();
    }();
    for (const bool tls12 : {false, true}) {
        SCOPED_TRACE(tls12 ? "TLS 1.2 server" : "default server");
        const fs::path out = dir / (tls12 ? "server12.txt" : "server13.txt");
        std::atomic<bool> done{false};
        std::jthread tool([&] {
            std::system(("(sleep 1; printf 'hello from s_server') | timeout 20 openssl s_server -naccept 1 -accept " +
                         std::to_string(port) + " -cert " + (dir / "server.pem").string() + " -key " +
                         (dir / "server.key").string() + (tls12 ? " -tls1_2" : "") + " -keymatexport \"" +
                         tls::kCheckCodeLabel + "\" -keymatexportlen 8 >" + out.string() + " 2>&1")
                            .c_str());
            done = true;
        });
        ASSERT_TRUE(Pump(desktop, [&] { return ReadFile(out).find("ACCEPT") != std::string::npos || done.load(); }));
        auto scope = std::make_unique<Component>(root.get());
        TlsClientEnd client(*scope, clientContext, port);
        client.End().outgoing = "hello from the session";
        ASSERT_TRUE(Pump(desktop, [&] { return Settled(client.End()); }));
        const tls::TlsSession& s = *client.End().session;
        if (tls12) {
            EXPECT_EQ(s.ErrorText(), "TLS handshake failed: the peer refused it (tlsv1 alert protocol version)");
        } else {
            ASSERT_EQ(s.State(), TlsState::Open) << s.ErrorText();
            ASSERT_TRUE(Pump(desktop, [&] { return client.End().received == "hello from s_server"; }));
            client.End().session->Close();
        }
        ASSERT_TRUE(Pump(desktop, [&] { return done.load(); }, std::chrono::milliseconds(25000)));
        scope.reset();
        if (tls12) continue;
        const std::string log = ReadFile(out);
        EXPECT_NE(log.find("hello from the session"), std::string::npos) << log;
        EXPECT_EQ(s.CheckCode(), ExportedCheckCode(log)) << log;
    }
}

// With a passphrase on both ends: a client of an earlier version offers it as a TLS pre-shared
// key and is refused at its hello; a machine in the middle that ends TLS on both sides with
// certificates of its own and relays the exchange's plaintext makes both ends fail, since each
// end's confirmation covers its own connection.
TEST_F(TlsHostile, OlderPassphraseClientAndARelayInTheMiddleAreRefused) {
    const tls::PassphraseKey key = tls::DerivePassphraseKey("team");
    serverContext.SetPassphraseKey(key);
    clientContext.SetPassphraseKey(key);
    TlsServerEnd server(*root, serverContext);
    auto [status, out] = RunTool(SClient(server.Port(), "-psk " + std::string(64, 'a') +
                                                            " -psk_identity 'zumelko team' -ciphersuites TLS_AES_128_GCM_SHA256 </dev/null"));
    EXPECT_NE(out.find("alert handshake failure"), std::string::npos) << out;
    EXPECT_EQ(server.End().session->ErrorText(), "TLS handshake failed: the peer uses the team passphrase of an older version");

    MakeCertificate("middle");
    const std::string middle = " -quiet -cert " + (dir / "middle.pem").string() + " -key " + (dir / "middle.key").string();
    const std::string port = std::to_string(testing::RawListener().Port());
    const std::string fifo = (dir / "relay").string();
    std::atomic<bool> done{false};
    std::jthread relay([&] {
        std::system(("timeout 20 sh -c 'mkfifo " + fifo + "; (openssl s_server -naccept 1 -accept " + port + middle + " <" + fifo +
                     " | " + SClient(server.Port(), middle) + " >" + fifo + ") & until ss -Hltn sport = :" + port +
                     " | grep -q .; do sleep 0.05; done; touch " + (dir / "ready").string() + "; wait' >/dev/null 2>&1").c_str());
        done = true;
    });
    ASSERT_TRUE(Pump(desktop, [&] { return fs::exists(dir / "ready") || done.load(); }));
    auto scope = std::make_unique<Component>(root.get());
    TlsClientEnd client(*scope, clientContext, static_cast<std::uint16_t>(std::stoi(port)));
    ASSERT_TRUE(Pump(desktop, [&] { return Settled(client.End()) && Settled(server.End()); }));
    for (testing::TlsEnd* e : {&client.End(), &server.End()}) EXPECT_EQ(e->session->ErrorText(), "TLS handshake failed: the team passphrases differ");
    scope.reset();
    ASSERT_TRUE(Pump(desktop, [&] { return done.load(); }, std::chrono::milliseconds(25000)));
}

}  // namespace
}  // namespace zumelko
