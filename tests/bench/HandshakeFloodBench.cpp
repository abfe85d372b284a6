// The loop's longest pause while strangers flood the secure port with handshakes, against the
// longest pause of the same loop without the flood, in the same run. The receiver and a sender
// on 127.0.0.1 share one loop, the sender sending a small item every 250 ms (the machine whose
// items must still arrive); a child process replays one TLS client hello as fast as it can from
// one address (127.0.0.2) or from a hundred (127.0.0.2 ...), closing each connection once the
// program answers. The pause is the longest gap between the ticks of a 1 ms timer; since a
// machine shared with other work stalls any process now and then, also the longest time the
// loop's thread spent on the processor within one gap (its own work) and the 99th percentile,
// each the least of three rounds.
//
//   idle          the sender alone
//   one           the flood from one address
//   many          the flood from a hundred addresses
//   one-open, many-open   the same with the per-address limits lifted, for comparison
//
// Run on an optimised build, by hand (it is no test):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUMELKO_QT=OFF
//   cmake --build build/bench -j2 --target handshake_flood_bench
//   unshare -n sh -c 'ip link set lo up; build/bench/tests/bench/handshake_flood_bench'
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Stream.h"
#include "platform/sim/SimDesktop.h"
#include "transport/SecureTcp.h"
#include "transport/tls/TlsContext.h"

namespace {

using namespace std::chrono_literals;
using namespace zumelko;
using Clock = std::chrono::steady_clock;

constexpr int kPort = 28831;
constexpr auto kRun = 4s;

// One client hello as a TLS 1.3 client of this program would send it (X25519 key share).
std::string ClientHello() {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_3_VERSION);
    SSL* ssl = SSL_new(ctx);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, in, out);
    SSL_set_connect_state(ssl);
    (void)SSL_do_handshake(ssl);
    char* data = nullptr;
    const long n = BIO_get_mem_data(out, &data);
    std::string hello(data, static_cast<std::size_t>(n));
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    return hello;
}

// Runs in the child: replays the hello from `addresses` sources, eight connections of each
// open at a time, until killed.
[[noreturn]] void Flood(int addresses) {
    const std::string hello = ClientHello();
    struct Conn {
        int fd;
        bool sent;
    };
    std::vector<std::vector<Conn>> open(static_cast<std::size_t>(addresses));
    for (;;) {
        for (int a = 0; a < addresses; ++a) {
            auto& conns = open[static_cast<std::size_t>(a)];
            while (conns.size() < 8) {
                const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
                sockaddr_in local{};
                local.sin_family = AF_INET;
                local.sin_addr.s_addr = htonl(0x7F000002u + static_cast<unsigned>(a));
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_port = htons(kPort);
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                (void)::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
                (void)::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
                conns.push_back({fd, false});
            }
        }
        std::vector<pollfd> fds;
        for (auto& conns : open)
            for (const Conn& c : conns) fds.push_back({c.fd, static_cast<short>(c.sent ? POLLIN : POLLOUT), 0});
        ::poll(fds.data(), fds.size(), 100);
        std::size_t i = 0;
        for (auto& conns : open) {
            for (auto it = conns.begin(); it != conns.end(); ++i) {
                const short ready = fds[i].revents;
                bool done = (ready & (POLLERR | POLLHUP)) != 0;
                if (!done && !it->sent && (ready & POLLOUT)) {
                    it->sent = ::send(it->fd, hello.data(), hello.size(), MSG_NOSIGNAL) > 0;
                    done = !it->sent;
                } else if (!done && (ready & POLLIN)) {
                    done = true;  // answered, or closed: either way the next one
                }
                if (done) {
                    ::close(it->fd);
                    it = conns.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
}

struct Result {
    double longestPauseMs = 0;
    double p99PauseMs = 0;
    double longestWorkMs = 0;
    int sent = 0;
    int arrived = 0;
    std::string failures;  // one letter a failed send: Unreachable, Handshake, Refused, Lost
};

Result Run(int floodAddresses, bool limits) {
    platform::sim::ScopedSimDesktop desktop;
    auto& loop = desktop->loop();
    Component root(nullptr);
    tls::TlsContext receiverContext;
    tls::TlsContext senderContext;
    auto& receiver = root.Create<TSecureTcp>(receiverContext);
    receiver.SetPort(kPort);
    if (!limits) receiver.SetLimits({std::numeric_limits<std::size_t>::max(), 1e9, 1e9, 0, 0});
    auto& sender = root.Create<TSecureTcp>(senderContext);
    sender.SetPort(kPort);
    Result r;
    bool measuring = false;
    receiver.OnReceived = [&](Component*) { ++r.arrived; };
    sender.OnSendFailed = [&](Component*, TSecureFailure kind, const std::string&) {
        if (measuring) r.failures += "UHRL"[static_cast<int>(kind)];
    };
    receiver.Listen();

    Clock::time_point last = Clock::now();
    std::vector<Clock::duration> gaps;
    double lastCpu = 0;
    double longestWork = 0;
    auto cpuMs = [] {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    };
    const platform::Hwnd window = loop.CreateHiddenWindow([&](std::uint32_t m, platform::WParam w, platform::LParam) {
        if (m != platform::WM_TIMER_) return platform::LResult{0};
        if (w == 1) {
            const Clock::time_point now = Clock::now();
            const double cpu = cpuMs();
            if (measuring) {
                gaps.push_back(now - last);
                longestWork = std::max(longestWork, cpu - lastCpu);
            }
            last = now;
            lastCpu = cpu;
        } else if (!sender.Sending()) {
            ++r.sent;
            MemoryStream item;
            item.Write("item", 4);
            sender.SendItem("127.0.0.1", "string\r\nu\r\nm\r\n", std::move(item));
        }
        return platform::LResult{0};
    });
    loop.SetTimer(window, 1, 1);
    loop.SetTimer(window, 2, 250);

    pid_t flooder = -1;
    if (floodAddresses > 0) {
        std::fflush(nullptr);
        flooder = ::fork();
        if (flooder == 0) Flood(floodAddresses);
    }
    // Some room for the flood to start, then the measured run.
    loop.RunUntilFor([] { return false; }, 300ms);
    measuring = true;
    last = Clock::now();
    lastCpu = cpuMs();
    r.sent = sender.Sending() ? 1 : 0;  // the item under way counts as sent in the run
    r.arrived = 0;
    loop.RunUntilFor([] { return false; }, kRun);
    measuring = false;
    if (flooder > 0) {
        ::kill(flooder, SIGKILL);
        ::waitpid(flooder, nullptr, 0);
    }
    loop.RunUntilFor([&] { return !sender.Sending(); }, 2s);
    loop.DestroyWindow(window);
    r.longestWorkMs = longestWork;
    std::sort(gaps.begin(), gaps.end());
    if (!gaps.empty()) {
        r.longestPauseMs = std::chrono::duration<double, std::milli>(gaps.back()).count();
        r.p99PauseMs = std::chrono::duration<double, std::milli>(gaps[gaps.size() * 99 / 100]).count();
    }
    return r;
}

}  // namespace

int main() {
    ::signal(SIGPIPE, SIG_IGN);
    struct Case {
        const char* name;
        int addresses;
        bool limits;
    };
    const Case cases[] = {{"idle", 0, true}, {"one", 1, true}, {"many", 100, true}, {"one-open", 1, false},
                          {"many-open", 100, false}};
    double idle = 0;
    double idle99 = 0;
    double idleWork = 0;
    std::printf("%-10s %16s %8s %16s %8s %12s %8s %14s\n", "case", "longest pause ms", "to idle", "longest work ms",
                "to idle", "99th pct ms", "to idle", "items arrived");
    for (const Case& c : cases) {
        // Three rounds; the least of each figure is reported, since a stall that is not the
        // loop's own (another process, the machine) only ever adds to it. Items add up.
        Result r = Run(c.addresses, c.limits);
        for (int round = 1; round < 3; ++round) {
            const Result more = Run(c.addresses, c.limits);
            r.longestPauseMs = std::min(r.longestPauseMs, more.longestPauseMs);
            r.longestWorkMs = std::min(r.longestWorkMs, more.longestWorkMs);
            r.p99PauseMs = std::min(r.p99PauseMs, more.p99PauseMs);
            r.arrived += more.arrived;
            r.sent += more.sent;
            r.failures += more.failures;
        }
        if (c.addresses == 0) {
            idle = r.longestPauseMs;
            idle99 = r.p99PauseMs;
            idleWork = r.longestWorkMs;
        }
        std::printf("%-10s %16.2f %8.2f %16.2f %8.2f %12.2f %8.2f %8d of %d\n", c.name, r.longestPauseMs,
                    idle > 0 ? r.longestPauseMs / idle : 0.0, r.longestWorkMs,
                    idleWork > 0 ? r.longestWorkMs / idleWork : 0.0, r.p99PauseMs,
                    idle99 > 0 ? r.p99PauseMs / idle99 : 0.0, r.arrived, r.sent);
        if (!r.failures.empty()) std::printf("%10s failed sends (Unreachable, Handshake, Refused, Lost): %s\n", "", r.failures.c_str());
        std::fflush(stdout);
    }
    return 0;
}
