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

// The receiving process, one for a whole benchmark: it takes a packet at a time, plain ('p') or
// through the channel ('c'), as the parent asks, and answers with readiness (one byte) and then
// the memory it gained (a long). One process rather than one per packet, so that the sender is
// not a freshly forked process whose every first write to a page copies it: that cost fell on
// the channel's sender more than on the plain one, which touches fewer pages.
class Receiver {
public:
    Receiver() {
        int down[2];
        int up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0) throw std::runtime_error("pipe");
        std::fflush(nullptr);
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            ::close(down[1]);
            ::close(up[0]);
            Serve(down[0], up[1]);
            ::_exit(0);
        }
        ::close(down[0]);
        ::close(up[1]);
        toChild_ = down[1];
        fromChild_ = up[0];
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() {
        ::close(toChild_);
        ::close(fromChild_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    // Has the process take one packet, and returns once it listens.
    void Start(char kind) {
        WriteAll(toChild_, &kind, 1);
        char ready = 0;
        ReadAll(fromChild_, &ready, 1);
    }
    // The memory the process gained for the packet, once it has it (-1 when it failed).
    long Finish() {
        long gained = -1;
        ReadAll(fromChild_, &gained, sizeof gained);
        return gained;
    }

private:
    static void Serve(int commands, int toParent) {
        char kind = 0;
        while (::read(commands, &kind, 1) == 1) {
            long gained = -1;
            try {
                gained = kind == 'p' ? PlainReceiver(toParent) : ChannelReceiver(toParent);
            } catch (...) {
            }
            WriteAll(toParent, &gained, sizeof gained);
        }
    }
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
};

double PlainCopy(Receiver& receiver, const std::string& payload) {
    receiver.Start('p');
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
    receiver.Finish();
    return seconds;
}

struct ChannelRun {
    double seconds = 0;
    long receiverGained = 0;
};

ChannelRun ChannelCopy(zumelko::platform::sim::ScopedSimDesktop& desktop, Receiver& receiver,
                       const std::string& payload) {
    receiver.Start('c');
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
    run.receiverGained = receiver.Finish();
    if (!sended) throw std::runtime_error("channel: " + (error.empty() ? std::string("no delivery") : error));
    return run;
}

void BM_OnePacket(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    std::string payload(size, '\0');
    for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i * 2654435761u >> 13);
    Receiver receiver;
    zumelko::platform::sim::ScopedSimDesktop desktop;
    double plain = 0;
    double channel = 0;
    long worstGained = 0;
    for (auto _ : state) {
        try {
            plain += PlainCopy(receiver, payload);
            const ChannelRun run = ChannelCopy(desktop, receiver, payload);
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
BENCHMARK(BM_OnePacket)->Arg(4 << 10)->Iterations(400)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(64 << 10)->Iterations(400)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(1 << 20)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(16 << 20)->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(64 << 20)->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OnePacket)->Arg(256 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
