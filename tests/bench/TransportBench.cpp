// One packet from a sending channel to a receiving channel in another process, over loopback,
// against a plain blocking-socket copy of the same bytes in the same run.
//
//   channel_MiB/s  the packet channel, from the send call to the delivery report
//   plain_MiB/s    blocking send/recv of the same length field and payload, connect to close
//   ratio          channel throughput / plain throughput
//   rx_bytes_per_payload_byte  peak memory the receiving process gained, per payload byte
//
// Run on an optimised build, by hand (it is no test):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUMELKO_QT=OFF
//   cmake --build build/bench -j2 --target transport_bench && build/bench/tests/bench/transport_bench
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/SimDesktop.h"
#include "transport/SimpleTcp.h"
#include "tests/bench/BenchSupport.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace zumelko::bench;

constexpr int kChannelPort = 28711;
constexpr std::uint16_t kPlainPort = 28712;

// A receiving process: reports readiness (one byte), then the memory it gained (a long).
struct Child {
    pid_t pid = -1;
    int fromChild = -1;
    long Wait() {
        long gained = -1;
        try {
            ReadAll(fromChild, &gained, sizeof gained);
        } catch (...) {
        }
        ::close(fromChild);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return gained;
    }
};

template <typename Body>
Child Spawn(Body body) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        long gained = -1;
        try {
            gained = body(fds[1]);
        } catch (...) {
        }
        WriteAll(fds[1], &gained, sizeof gained);
        ::_exit(0);
    }
    ::close(fds[1]);
    Child c{pid, fds[0]};
    char ready = 0;
    ReadAll(c.fromChild, &ready, 1);
    return c;
}

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

// Receives one packet with a TSimpleTcp and closes, as the program does.
long ChannelReceiver(int toParent) {
    zumelko::platform::sim::ScopedSimDesktop desktop;
    zumelko::Component root(nullptr);
    auto& rx = root.Create<zumelko::TSimpleTcp>();
    rx.SetPort(kChannelPort);
    rx.OnError = [](zumelko::Component*, const std::string& m) { std::fprintf(stderr, "receiver: %s\n", m.c_str()); };
    rx.Listen();
    const long base = ResetPeak();
    long gained = -1;
    bool done = false;
    rx.OnReceived = [&](zumelko::Component*) {
        gained = StatusBytes("VmHWM") - base;
        done = true;
    };
    const char ready = 1;
    WriteAll(toParent, &ready, 1);
    desktop->loop().RunUntilFor([&] { return done; }, 120s);
    return gained;
}

// Receives one packet with blocking calls into a buffer of the announced size.
long PlainReceiver(int toParent) {
    const int l = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa = Loopback(kPlainPort);
    if (::bind(l, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(l, 1) != 0)
        throw std::runtime_error("plain listen");
    const long base = ResetPeak();
    const char ready = 1;
    WriteAll(toParent, &ready, 1);
    const int c = ::accept(l, nullptr, nullptr);
    std::int32_t length = 0;
    ReadAll(c, &length, sizeof length);
    std::vector<char> buffer(static_cast<std::size_t>(length));
    ReadAll(c, buffer.data(), buffer.size());
    benchmark::DoNotOptimize(buffer.data());
    const long gained = StatusBytes("VmHWM") - base;
    const linger hard{1, 0};
    ::setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(c);
    ::close(l);
    return gained;
}

double PlainCopy(const std::string& payload) {
    Child child = Spawn(PlainReceiver);
    const auto start = Clock::now();
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in sa = Loopback(kPlainPort);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) throw std::runtime_error("connect");
    const auto length = static_cast<std::int32_t>(payload.size());
    WriteAll(s, &length, sizeof length);
    WriteAll(s, payload.data(), payload.size());
    char c = 0;
    while (::read(s, &c, 1) > 0) {
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(s);
    child.Wait();
    return seconds;
}

struct ChannelRun {
    double seconds = 0;
    long receiverGained = 0;
};

ChannelRun ChannelCopy(zumelko::platform::sim::ScopedSimDesktop& desktop, const std::string& payload) {
    Child child = Spawn(ChannelReceiver);
    zumelko::Component root(nullptr);
    auto& tx = root.Create<zumelko::TSimpleTcp>();
    tx.SetPort(kChannelPort);
    tx.SetHostName("127.0.0.1");
    bool sended = false;
    std::string error;
    tx.OnSended = [&](zumelko::Component*) { sended = true; };
    tx.OnError = [&](zumelko::Component*, const std::string& m) { error = m; };
    // As the program sends a text: a string built for the packet (here a copy of the payload
    // but its last byte, made before the clock starts) handed to the channel, which takes it
    // over and sends it with its NUL, the same number of bytes as the plain copy.
    std::string text(payload.data(), payload.size() - 1);
    const auto start = Clock::now();
    tx.SendString(std::move(text));
    desktop->loop().RunUntilFor([&] { return sended || !error.empty(); }, 120s);
    ChannelRun run;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.receiverGained = child.Wait();
    if (!sended) throw std::runtime_error("channel: " + (error.empty() ? std::string("no delivery") : error));
    return run;
}

void BM_OnePacket(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    std::string payload(size, '\0');
    for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i * 2654435761u >> 13);
    zumelko::platform::sim::ScopedSimDesktop desktop;
    double plain = 0;
    double channel = 0;
    long worstGained = 0;
    for (auto _ : state) {
        try {
            plain += PlainCopy(payload);
            const ChannelRun run = ChannelCopy(desktop, payload);
            channel += run.seconds;
            worstGained = std::max(worstGained, run.receiverGained);
            state.SetIterationTime(run.seconds);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            return;
        }
    }
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    const double n = static_cast<double>(state.iterations());
    state.counters["channel_MiB/s"] = mib * n / channel;
    state.counters["plain_MiB/s"] = mib * n / plain;
    state.counters["ratio"] = plain / channel;
    state.counters["rx_bytes_per_payload_byte"] = static_cast<double>(worstGained) / static_cast<double>(size);
}

// 4 KiB to 256 MiB, for the plot of throughput against packet size (tests/bench/plot-transport.sh).
BENCHMARK(BM_OnePacket)->Arg(4 << 10)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(64 << 10)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(1 << 20)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(16 << 20)->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(64 << 20)->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(256 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
