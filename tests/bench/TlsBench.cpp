// What the encrypted channel's layer costs a connection, against the same connection in the
// clear, both ends in this process on the simulated desktop's loop over real loopback TCP:
//
//   PlainConnect        connect, 4 KiB from client to server, close (the baseline)
//   TlsConnect          connect, TLS 1.3 handshake (certificates, as without a passphrase),
//                       4 KiB of plaintext, close_notify, close
//   TlsConnectTeam      the same with a team passphrase: the same handshake, then the SPAKE2
//                       exchange inside it (three more messages, a few point multiplications)
//   PassphraseDerivation  the key derived from a passphrase (scrypt), once per change
//
// Both ends' work counts, as both machines spend it. Compare the CPU column too: on loopback the
// wall time of a TLS connection is mostly the kernel holding the client's last small records
// (Nagle's algorithm) until the server's delayed acknowledgement. Run on an optimised build, by
// hand:
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUMELKO_QT=OFF
//   cmake --build build/bench -j2 --target tls_bench && build/bench/tests/bench/tls_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/SimDesktop.h"
#include "tests/tls/TlsTestPair.h"
#include "transport/SocketComponents.h"

namespace {

using namespace zumelko;
using namespace std::chrono_literals;

const std::string kPayload(4096, 'p');

std::uint16_t ListeningPort(TTCPServer& server) {
    platform::SockAddrIn local;
    platform::Current().sockets().GetSockName(server.SocketHandle(), local);
    const auto* b = reinterpret_cast<const std::uint8_t*>(&local.port);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

void PlainConnect(benchmark::State& state) {
    platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    auto& server = root.Create<TTCPServer>();
    std::size_t got = 0;
    server.OnData = [&](Component*, platform::SocketHandle h) {
        char buffer[10000];
        int n;
        while ((n = server.Receive(h, buffer, static_cast<int>(sizeof buffer))) > 0) got += static_cast<std::size_t>(n);
    };
    server.SetPort("0");
    server.Listen();
    const std::uint16_t port = ListeningPort(server);
    for (auto _ : state) {
        got = 0;
        Component scope(&root);
        auto& client = scope.Create<TTCPClient>();
        client.OnConnect = [&](Component*, platform::SocketHandle) { client.Send(kPayload.data(), static_cast<int>(kPayload.size())); };
        client.SetHost("127.0.0.1");
        client.SetPort(std::to_string(port));
        client.Open();
        if (!desktop->loop().RunUntilFor([&] { return got == kPayload.size(); }, 10000ms)) state.SkipWithError("stalled");
        client.Close();
    }
}

void TlsConnect(benchmark::State& state, bool team) {
    platform::sim::ScopedSimDesktop desktop;
    Component root(nullptr);
    tls::TlsContext serverContext;
    tls::TlsContext clientContext;
    if (team) {
        const tls::PassphraseKey key = tls::DerivePassphraseKey("bench team");
        serverContext.SetPassphraseKey(key);
        clientContext.SetPassphraseKey(key);
    }
    testing::TlsServerEnd server(root, serverContext);
    for (auto _ : state) {
        Component scope(&root);
        const int accepted = server.Accepted();
        testing::TlsClientEnd client(scope, clientContext, server.Port());
        client.End().outgoing = kPayload;
        bool closing = false;
        const bool done = desktop->loop().RunUntilFor([&] {
            if (!closing && client.End().sent == kPayload.size()) {
                client.End().session->Close();
                closing = true;
            }
            return (server.Accepted() > accepted && server.End().readEnded) || client.End().session->State() == tls::TlsState::Failed;
        }, 10000ms);
        if (!done || server.End().received != kPayload) state.SkipWithError("stalled or failed");
    }
}

void PassphraseDerivation(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(tls::DerivePassphraseKey("correct horse battery staple"));
}

BENCHMARK(PlainConnect)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(TlsConnect, Certificates, false)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK_CAPTURE(TlsConnect, Team, true)->Unit(benchmark::kMicrosecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(PassphraseDerivation)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The runs as usual, then each against PlainConnect in wall time and in CPU time.
class TwoRatios : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times_[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] = {
                    run.real_accumulated_time / static_cast<double>(run.iterations),
                    run.cpu_accumulated_time / static_cast<double>(run.iterations)};
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto base = times_.find("PlainConnect");
        if (base == times_.end()) return;
        std::printf("\n%-24s %10s %10s %12s %12s\n", "benchmark", "wall ms", "cpu ms", "wall x plain", "cpu x plain");
        for (const auto& [name, t] : times_)
            std::printf("%-24s %10.3f %10.3f %12.1f %12.1f\n", name.c_str(), t.first * 1e3, t.second * 1e3,
                        t.first / base->second.first, t.second / base->second.second);
    }

private:
    std::map<std::string, std::pair<double, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TwoRatios reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
