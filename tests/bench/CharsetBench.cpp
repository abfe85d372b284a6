// The Linux desktop's code page conversions on a 64 MiB text, timed against a plain copy of
// the same number of bytes in the same run:
//   Copy              the received bytes into a new block
//   ReceivedUtf8      a received UTF-8 text to what other programs are offered (checked, shared)
//   ReceivedCp932     a received code page 932 text (Japanese) to UTF-8
//   ReceivedHostile   bytes that make no character in 932 at all, each one U+FFFD
//   CopiedToCp932     a Japanese copy made on Linux, as Qt holds it, to what is sent
// out_per_in is the result's size per input byte: the memory a conversion adds to the text.
// Run on an optimised build, by hand:
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench -j2 --target charset_bench
//   build/bench/tests/bench/charset_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/qt/Charset.h"
#include "tests/bench/RatioReporter.h"

namespace {

using namespace zumelko::platform::qt;

constexpr std::size_t kSize = 64u << 20;

struct Texts {
    Texts() {
        std::string utf8;
        while (utf8.size() < kSize) utf8 += "クリップボード転送 line ｱｲｳ ①髙\r\n";
        utf8.resize(utf8.rfind('\n', kSize) + 1);
        unicode = QString::fromStdString(utf8);
        japaneseUtf8 = QByteArray::fromStdString(utf8);
        cp932 = QByteArray::fromStdString(Utf8ToAnsi(utf8));
        hostile = QByteArray(static_cast<qsizetype>(kSize), '\xff');
    }
    QString unicode;
    QByteArray japaneseUtf8, cp932, hostile;
};

const Texts& TheTexts() {
    static const Texts texts;
    return texts;
}

void Report(benchmark::State& state, qsizetype in, qsizetype out) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in);
    state.counters["out_per_in"] = static_cast<double>(out) / static_cast<double>(in);
}

void Copy(benchmark::State& state) {
    const QByteArray& in = TheTexts().cp932;
    for (auto _ : state) {
        QByteArray out(in.size(), Qt::Uninitialized);
        std::memcpy(out.data(), in.constData(), static_cast<std::size_t>(in.size()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    Report(state, in.size(), in.size());
}

void Received(benchmark::State& state, const QByteArray& in) {
    qsizetype size = 0;
    for (auto _ : state) {
        const QByteArray out = AnsiToUtf8(in, 932);
        size = out.size();
        benchmark::DoNotOptimize(out.constData());
    }
    // Shared, not copied: the offered block adds nothing.
    Report(state, in.size(), AnsiToUtf8(in, 932).constData() == in.constData() ? 0 : size);
}

void ReceivedUtf8(benchmark::State& state) { Received(state, TheTexts().japaneseUtf8); }
void ReceivedCp932(benchmark::State& state) { Received(state, TheTexts().cp932); }
void ReceivedHostile(benchmark::State& state) { Received(state, TheTexts().hostile); }

void CopiedToCp932(benchmark::State& state) {
    const QString& in = TheTexts().unicode;
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string out = ToAnsi(in, 932);
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, in.size() * 2, static_cast<qsizetype>(size));
}

BENCHMARK(Copy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReceivedUtf8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReceivedCp932)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReceivedHostile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CopiedToCp932)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    zumelko::bench::RatioReporter reporter("Copy", "", "x copy");
    return zumelko::bench::RunBenchmarks(argc, argv, reporter);
}
