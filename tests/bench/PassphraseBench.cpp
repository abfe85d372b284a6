// What setting a team passphrase costs, once, when the user presses OK (or the program starts
// with one): the key's derivation, against making this run's identity (key pair and
// certificate), which every start does anyway. By hand:
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUMELKO_BENCHMARKS=ON
//   cmake --build build/bench -j2 --target passphrase_bench
//   build/bench/tests/bench/passphrase_bench
#include <benchmark/benchmark.h>

#include "tests/bench/RatioReporter.h"
#include "transport/tls/TlsContext.h"

namespace {

void Identity(benchmark::State& state) {
    for (auto _ : state) {
        zumelko::tls::TlsContext context;
        benchmark::DoNotOptimize(context.Handle());
    }
}
BENCHMARK(Identity)->Unit(benchmark::kMillisecond);

void Derive(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(zumelko::tls::DerivePassphraseKey("チームの合言葉 2026"));
}
BENCHMARK(Derive)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    zumelko::bench::RatioReporter reporter("Identity", "run", "x identity", "ms",
                                           [](double seconds) { return seconds * 1000; });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
