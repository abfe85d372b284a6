// One item over the encrypted channel against the same bytes over the two plain channels, in the
// same run: both ends in this process on one loop (one core does the sender's and the
// receiver's work), and, as between two machines, the receiver in a process of its own.
//
//   Plain/N     header packet on one channel, then the N MiB data packet on the other, each
//               to its delivery report (what the program does with a classic peer)
//   Secure/N    header and data in one TLS 1.3 connection, handshake included, to the
//               receiver's close_notify
//   BareTls/N   the same N MiB through two bare OpenSSL SSL objects over one loopback TCP
//               connection, in a loop of its own (no channel, no loop of the program): the item
//               copied into a fresh block first, as Plain and Secure do, a fresh connection and
//               handshake, the copy into a buffer of the whole size, close_notify
//   Handshake   Plain and Secure with a 4 KiB text: the cost of the handshake itself
//   PlainApart/N, SecureApart/N
//               Plain and Secure with the receiving end in a child process with its own loop,
//               so that encrypting and decrypting run side by side as they do between machines
//
// After the runs, a table per size: Secure against Plain and against BareTls.
//
// Run on an optimised build, by hand (it is no test):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUMELKO_QT=OFF
//   cmake --build build/bench -j2 --target secure_bench
//   unshare -n sh -c 'ip link set lo up; build/bench/tests/bench/secure_bench'
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Component.h"
#include "framework/Stream.h"
#include "framework/StringList.h"
#include "platform/sim/SimDesktop.h"
#include "tests/bench/RatioReporter.h"
#include "transport/SecureTcp.h"
#include "transport/SimpleTcp.h"
#include "transport/tls/TlsContext.h"

namespace {

using namespace std::chrono_literals;
using namespace zumelko;

constexpr int kHeaderPort = 28811;
constexpr int kDataPort = 28812;
constexpr int kSecurePort = 28813;
const std::string kHeader = "bitmap\r\nuser\r\nPC-BENCH\r\n";

std::string Payload(std::size_t bytes) {
    std::string s(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) s[i] = static_cast<char>((i * 2654435761u) >> 13);
    return s;
}

// The receiving end of a benchmark in a child process, killed when the benchmark ends.
class ReceiverProcess {
public:
    ReceiverProcess() = default;
    ReceiverProcess(const ReceiverProcess&) = delete;
    ReceiverProcess& operator=(const ReceiverProcess&) = delete;
    ~ReceiverProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    // Forks; the child runs serve(ready), which writes one byte to ready once it listens and
    // then serves until killed. True once that byte has come.
    bool Start(void (*serve)(int ready)) {
        int fds[2];
        if (::pipe(fds) != 0) return false;
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            serve(fds[1]);
            ::_exit(0);
        }
        ::close(fds[1]);
        char ready = 0;
        const bool ok = pid_ > 0 && ::read(fds[0], &ready, 1) == 1;
        ::close(fds[0]);
        return ok;
    }

private:
    pid_t pid_ = -1;
};

void SayReady(int ready) {
    const char one = 1;
    (void)!::write(ready, &one, 1);
    ::close(ready);
}

void ServePlain(int ready) {
    platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    auto& headerIn = root.Create<TSimpleTcp>();
    auto& dataIn = root.Create<TSimpleTcp>();
    headerIn.SetPort(kHeaderPort);
    dataIn.SetPort(kDataPort);
    headerIn.Listen();
    dataIn.Listen();
    SayReady(ready);
    desktop->loop().RunUntil([] { return false; });
}

void ServeSecure(int ready) {
    platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    tls::TlsContext context;
    auto& in = root.Create<TSecureTcp>(context);
    in.SetPort(kSecurePort);
    in.Listen();
    SayReady(ready);
    desktop->loop().RunUntil([] { return false; });
}

void Plain(benchmark::State& state, std::size_t bytes, bool apart) {
    ReceiverProcess receiver;
    if (apart && !receiver.Start(ServePlain)) {
        state.SkipWithError("no receiver");
        return;
    }
    platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    const std::string data = Payload(bytes);
    auto make = [&](int port) -> TSimpleTcp& {
        auto& c = root.Create<TSimpleTcp>();
        c.SetPort(port);
        c.SetHostName("127.0.0.1");
        return c;
    };
    TSimpleTcp& headerOut = make(kHeaderPort);
    TSimpleTcp& dataOut = make(kDataPort);
    // Apart, the child checks nothing; the sender's report still comes only once the receiver
    // has closed after the whole packet.
    std::size_t got = bytes;
    if (!apart) {
        TSimpleTcp& headerIn = make(kHeaderPort);
        TSimpleTcp& dataIn = make(kDataPort);
        headerIn.Listen();
        dataIn.Listen();
        dataIn.OnReceived = [&got, in = &dataIn](Component*) { got = in->PacketSize(); };
    }
    bool done = false;
    headerOut.OnSended = [&](Component*) { dataOut.SendBuffer(data.data(), data.size()); };
    dataOut.OnSended = [&](Component*) { done = true; };
    for (auto _ : state) {
        done = false;
        if (!apart) got = 0;
        StringList lines;
        lines.SetText(kHeader);
        headerOut.SendStrings(lines);
        desktop->loop().RunUntilFor([&] { return done; }, 60s);
        if (!done || got != bytes) state.SkipWithError("not delivered");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void Secure(benchmark::State& state, std::size_t bytes, bool apart) {
    ReceiverProcess receiver;
    if (apart && !receiver.Start(ServeSecure)) {
        state.SkipWithError("no receiver");
        return;
    }
    platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    tls::TlsContext senderContext;
    tls::TlsContext receiverContext;
    const std::string data = Payload(bytes);
    auto& out = root.Create<TSecureTcp>(senderContext);
    out.SetPort(kSecurePort);
    std::size_t got = bytes;
    if (!apart) {
        auto& in = root.Create<TSecureTcp>(receiverContext);
        in.SetPort(kSecurePort);
        in.Listen();
        in.OnReceived = [&got, channel = &in](Component*) { got = channel->PacketSize(); };
    }
    bool done = false;
    bool failed = false;
    out.OnSended = [&](Component*) { done = true; };
    out.OnSendFailed = [&](Component*, TSecureFailure, const std::string&) { done = failed = true; };
    for (auto _ : state) {
        done = false;
        if (!apart) got = 0;
        MemoryStream m;
        m.Write(data.data(), data.size());
        out.SendItem("127.0.0.1", kHeader, std::move(m));
        desktop->loop().RunUntilFor([&] { return done; }, 60s);
        if (!done || failed || got != bytes) state.SkipWithError("not delivered");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void Plain(benchmark::State& state, std::size_t bytes) { Plain(state, bytes, false); }
void Secure(benchmark::State& state, std::size_t bytes) { Secure(state, bytes, false); }
void PlainApart(benchmark::State& state, std::size_t bytes) { Plain(state, bytes, true); }
void SecureApart(benchmark::State& state, std::size_t bytes) { Secure(state, bytes, true); }

// A socket descriptor closed with its scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

void NonBlockingNoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Both contexts as the channel's: TLS 1.3 only, no tickets, partial writes; the server has the
// same kind of identity (a P-256 key with a certificate signed by itself) and the client does
// not check it.
struct BareContexts {
    tls::TlsContext identity;
    tls::SslCtxPtr server{SSL_CTX_new(TLS_server_method())};
    tls::SslCtxPtr client{SSL_CTX_new(TLS_client_method())};
    BareContexts() {
        for (SSL_CTX* c : {server.get(), client.get()}) {
            SSL_CTX_set_min_proto_version(c, TLS1_3_VERSION);
            SSL_CTX_set_max_proto_version(c, TLS1_3_VERSION);
            SSL_CTX_set_options(c, SSL_OP_NO_TICKET | SSL_OP_NO_COMPRESSION);
            SSL_CTX_set_num_tickets(c, 0);
            SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        }
        SSL_CTX_use_certificate(server.get(), identity.Certificate());
        SSL_CTX_use_PrivateKey(server.get(), identity.Key());
        SSL_CTX_set_verify(client.get(), SSL_VERIFY_NONE, nullptr);
    }
};

// One copy of `data` from a client SSL to a server SSL, both non-blocking on one thread: the
// writer goes until its socket is full, the reader until it is empty, in turn. The received
// size, or 0 on a failure; the suite negotiated in `suite`.
std::size_t BareCopy(BareContexts& contexts, int listener, const sockaddr_in& address, std::string_view data,
                     std::vector<char>& buffer, std::string& suite) {
    Fd client(::socket(AF_INET, SOCK_STREAM, 0));
    if (::connect(client.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 0;
    Fd server(::accept(listener, nullptr, nullptr));
    if (server.fd < 0) return 0;
    NonBlockingNoDelay(client.fd);
    NonBlockingNoDelay(server.fd);
    tls::SslPtr out(SSL_new(contexts.client.get()));
    tls::SslPtr in(SSL_new(contexts.server.get()));
    SSL_set_fd(out.get(), client.fd);
    SSL_set_fd(in.get(), server.fd);
    SSL_set_connect_state(out.get());
    SSL_set_accept_state(in.get());
    auto stuck = [](SSL* ssl, int r) {
        const int e = SSL_get_error(ssl, r);
        return e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE;
    };
    bool outDone = false, inDone = false;
    while (!outDone || !inDone) {
        if (!outDone) {
            const int r = SSL_do_handshake(out.get());
            if (r == 1) outDone = true;
            else if (stuck(out.get(), r)) return 0;
        }
        if (!inDone) {
            const int r = SSL_do_handshake(in.get());
            if (r == 1) inDone = true;
            else if (stuck(in.get(), r)) return 0;
        }
    }
    suite = SSL_get_cipher_name(out.get());
    std::size_t sent = 0, got = 0;
    while (got < data.size()) {
        while (sent < data.size()) {
            const int n = SSL_write(out.get(), data.data() + sent,
                                    static_cast<int>(std::min<std::size_t>(data.size() - sent, 1 << 20)));
            if (n <= 0) {
                if (stuck(out.get(), n)) return 0;
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        for (;;) {
            const int n = SSL_read(in.get(), buffer.data() + got,
                                   static_cast<int>(std::min<std::size_t>(buffer.size() - got, 1 << 30)));
            if (n <= 0) {
                if (stuck(in.get(), n)) return 0;
                break;
            }
            got += static_cast<std::size_t>(n);
            if (got == buffer.size()) break;
        }
    }
    // The receiver's close_notify, as the channel's delivery report.
    SSL_shutdown(in.get());
    char byte;
    for (;;) {
        const int r = SSL_read(out.get(), &byte, 1);
        if (r > 0) return 0;  // nothing but the close_notify comes
        const int e = SSL_get_error(out.get(), r);
        if (e == SSL_ERROR_ZERO_RETURN) break;
        if (e != SSL_ERROR_WANT_READ) return 0;
        pollfd p{client.fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return 0;
    }
    return got;
}

void BareTls(benchmark::State& state, std::size_t bytes) {
    BareContexts contexts;
    Fd listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.fd, 4) != 0 ||
        ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        state.SkipWithError("no listener");
        return;
    }
    const std::string data = Payload(bytes);
    std::string suite;
    for (auto _ : state) {
        // The item is made per send, as the channels' are (past 32 MiB every block is fresh
        // memory, whose pages fault in as it is written), and so is the receiver's buffer.
        MemoryStream item;
        item.Write(data.data(), data.size());
        std::vector<char> buffer(bytes);
        if (BareCopy(contexts, listener.fd, address, item.View(), buffer, suite) != bytes ||
            std::string_view(buffer.data(), buffer.size()) != data) {
            state.SkipWithError("not copied");
            break;
        }
    }
    state.SetLabel(suite);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

constexpr std::size_t kMiB = 1024 * 1024;

// The usual lines, then per size the secure channel's time against the plain channel's and
// against bare TLS; and its CPU time against the plain channel's, which a loaded machine
// disturbs less than the wall time.
class SecureReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred) {
                // "Secure/16MiB": the kind, then the size.
                const std::string& name = run.run_name.function_name;
                const std::size_t slash = name.find('/');
                if (slash == std::string::npos) continue;
                seconds_[name.substr(slash + 1)][name.substr(0, slash)] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
                cpu_[name.substr(slash + 1)][name.substr(0, slash)] =
                    run.cpu_accumulated_time / static_cast<double>(run.iterations);
            }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-8s %10s %10s %10s %14s %14s %14s\n", "item", "plain ms", "bare ms", "secure ms",
                    "secure/plain", "secure/bare", "cpu s/p");
        for (const char* size : {"1MiB", "16MiB", "256MiB"}) {
            const auto& t = seconds_[size];
            auto get = [&](const char* name) {
                const auto it = t.find(name);
                return it == t.end() ? 0.0 : it->second * 1e3;
            };
            const double plain = get("Plain"), bare = get("BareTls"), secure = get("Secure");
            const auto& c = cpu_[size];
            const double plainCpu = c.count("Plain") ? c.at("Plain") : 0.0;
            const double secureCpu = c.count("Secure") ? c.at("Secure") : 0.0;
            std::printf("%-8s %10.1f %10.1f %10.1f %14.2f %14.2f %14.2f\n", size, plain, bare, secure,
                        plain > 0 ? secure / plain : 0.0, bare > 0 ? secure / bare : 0.0,
                        plainCpu > 0 ? secureCpu / plainCpu : 0.0);
        }
        // The receiver in a process of its own: throughput of the secure channel against the
        // plain one's (the inverse of the time ratio).
        std::printf("\n%-8s %10s %10s %22s\n", "apart", "plain ms", "secure ms", "secure/plain MiB/s");
        for (const char* size : {"1MiB", "16MiB", "256MiB"}) {
            const auto& t = seconds_[size];
            const double plain = t.count("PlainApart") ? t.at("PlainApart") * 1e3 : 0.0;
            const double secure = t.count("SecureApart") ? t.at("SecureApart") * 1e3 : 0.0;
            if (plain > 0 && secure > 0)
                std::printf("%-8s %10.1f %10.1f %22.2f\n", size, plain, secure, plain / secure);
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> seconds_;
    std::map<std::string, std::map<std::string, double>> cpu_;
};

}  // namespace

BENCHMARK_CAPTURE(Plain, 1MiB, 1 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BareTls, 1MiB, 1 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Secure, 1MiB, 1 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Plain, 16MiB, 16 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BareTls, 16MiB, 16 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Secure, 16MiB, 16 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Plain, 256MiB, 256 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(BareTls, 256MiB, 256 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Secure, 256MiB, 256 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Plain, 4KiB, 4 * 1024)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Secure, 4KiB, 4 * 1024)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(PlainApart, 1MiB, 1 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(SecureApart, 1MiB, 1 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(PlainApart, 16MiB, 16 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(SecureApart, 16MiB, 16 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(PlainApart, 256MiB, 256 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(SecureApart, 256MiB, 256 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv) {
    SecureReporter reporter;
    return zumelko::bench::RunBenchmarks(argc, argv, reporter);
}
