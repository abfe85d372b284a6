// One item over the encrypted channel against the same bytes over the two plain channels, both
// ends in this process on one loop, in the same run.
//
//   Plain/N     header packet on one channel, then the N MiB data packet on the other, each
//               to its delivery report (what the program does with a classic peer)
//   Secure/N    header and data in one TLS 1.3 connection, handshake included, to the
//               receiver's close_notify
//   Handshake   Plain and Secure with a 4 KiB text: the cost of the handshake itself
//
// Run on an optimised build, by hand (it is no test):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUMELKO_QT=OFF
//   cmake --build build/bench -j2 --target secure_bench
//   unshare -n sh -c 'ip link set lo up; build/bench/tests/bench/secure_bench'
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "framework/Component.h"
#include "framework/Stream.h"
#include "framework/StringList.h"
#include "platform/sim/SimDesktop.h"
#include "tests/bench/RatioReporter.h"
#include "transport/SecureTcp.h"
#include "transport/SimpleTcp.h"

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

void Plain(benchmark::State& state, std::size_t bytes) {
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
    TSimpleTcp& headerIn = make(kHeaderPort);
    TSimpleTcp& dataIn = make(kDataPort);
    headerIn.Listen();
    dataIn.Listen();
    std::size_t got = 0;
    bool done = false;
    dataIn.OnReceived = [&](Component*) { got = dataIn.PacketSize(); };
    headerOut.OnSended = [&](Component*) { dataOut.SendBuffer(data.data(), data.size()); };
    dataOut.OnSended = [&](Component*) { done = true; };
    for (auto _ : state) {
        done = false;
        StringList lines;
        lines.SetText(kHeader);
        headerOut.SendStrings(lines);
        desktop->loop().RunUntilFor([&] { return done; }, 60s);
        if (!done || got != bytes) state.SkipWithError("not delivered");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void Secure(benchmark::State& state, std::size_t bytes) {
    platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    tls::TlsContext senderContext;
    tls::TlsContext receiverContext;
    const std::string data = Payload(bytes);
    auto& out = root.Create<TSecureTcp>(senderContext);
    auto& in = root.Create<TSecureTcp>(receiverContext);
    out.SetPort(kSecurePort);
    in.SetPort(kSecurePort);
    in.Listen();
    std::size_t got = 0;
    bool done = false;
    in.OnReceived = [&](Component*) { got = in.PacketSize(); };
    out.OnSended = [&](Component*) { done = true; };
    out.OnSendFailed = [&](Component*, TSecureFailure, const std::string&) { done = true; };
    for (auto _ : state) {
        done = false;
        got = 0;
        MemoryStream m;
        m.Write(data.data(), data.size());
        out.SendItem("127.0.0.1", kHeader, std::move(m));
        desktop->loop().RunUntilFor([&] { return done; }, 60s);
        if (!done || got != bytes) state.SkipWithError("not delivered");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

constexpr std::size_t kMiB = 1024 * 1024;

}  // namespace

BENCHMARK_CAPTURE(Plain, 1MiB, 1 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Secure, 1MiB, 1 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Plain, 16MiB, 16 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Secure, 16MiB, 16 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Plain, 256MiB, 256 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Secure, 256MiB, 256 * kMiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Plain, 4KiB, 4 * 1024)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Secure, 4KiB, 4 * 1024)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
    // Each run against the plain channel's 256 MiB: the secure channel's throughput ratio at
    // 256 MiB is the inverse of its line.
    zumelko::bench::RatioReporter reporter("Plain/256MiB", "run", "time ratio");
    return zumelko::bench::RunBenchmarks(argc, argv, reporter);
}
