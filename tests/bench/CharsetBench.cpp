// The Linux desktop's texts on the wire, on a 64 MiB text, timed against a plain copy of the
// same number of bytes in the same run:
//   Copy              the received bytes into a new block
//   ReceivedExact     an instance's text that code page 932 does not hold: its exact UTF-8
//                     part checked and shared
//   ReceivedCp932     a classic peer's text (Japanese, code page 932) to UTF-8
//   ReceivedHostile   bytes that make no character in 932 at all, each one U+FFFD
//   SentCp932         a Japanese copy made on Linux to what is sent: the code page form and
//                     the check that it reads back as the text
//   SentBeyondCp932   the same with a yen sign: the code page form, then the text itself
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

#include "framework/Stream.h"
#include "platform/qt/Charset.h"
#include "tests/bench/RatioReporter.h"
#include "transport/WireText.h"

namespace {

using namespace zumelko::platform::qt;

constexpr std::size_t kSize = 64u << 20;

struct Texts {
    Texts() {
        while (japanese.size() < kSize) japanese += "クリップボード転送 line ｱｲｳ ①髙\r\n";
        japanese.resize(japanese.rfind('\n', kSize) + 1);
        beyond = japanese + "¥";
        bool exact = false;
        cp932 = EncodeCodePage(japanese, 932, exact) + '\0';
        exactPayload = zumelko::TextPayload(QtTexts(), beyond) + '\0';
        hostile = std::string(kSize, '\xff') + '\0';
    }
    std::string japanese, beyond, cp932, exactPayload, hostile;
};

const Texts& TheTexts() {
    static const Texts texts;
    return texts;
}

void Report(benchmark::State& state, std::size_t in, std::size_t out) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in));
    state.counters["out_per_in"] = static_cast<double>(out) / static_cast<double>(in);
}

zumelko::SharedText Delivered(const std::string& payload) {
    zumelko::MemoryStream block;
    block.Write(payload.data(), payload.size());
    return zumelko::SharedText::Adopt(std::move(block));
}

void Copy(benchmark::State& state) {
    const std::string& in = TheTexts().cp932;
    for (auto _ : state) {
        std::string out(in.size(), '\0');
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    Report(state, in.size(), in.size());
}

void Received(benchmark::State& state, const std::string& payload, int codePage) {
    const zumelko::SharedText delivered = Delivered(payload);
    for (auto _ : state) {
        const auto text = zumelko::ReadTextPayload(QtTexts(), delivered, codePage, std::string::npos);
        benchmark::DoNotOptimize(text->View().data());
    }
    // A text that is a part of the delivered block adds nothing.
    const auto text = zumelko::ReadTextPayload(QtTexts(), delivered, codePage, std::string::npos);
    const char* begin = delivered.View().data();
    const bool inBlock = text->View().data() >= begin && text->View().data() < begin + payload.size();
    Report(state, payload.size(), inBlock ? 0 : text->Size());
}

void ReceivedExact(benchmark::State& state) { Received(state, TheTexts().exactPayload, 932); }
void ReceivedCp932(benchmark::State& state) { Received(state, TheTexts().cp932, 0); }
void ReceivedHostile(benchmark::State& state) { Received(state, TheTexts().hostile, 0); }

void Sent(benchmark::State& state, const std::string& in) {
    std::size_t size = 0;
    for (auto _ : state) {
        const std::string out = zumelko::TextPayload(QtTexts(), in);
        size = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    Report(state, in.size(), size);
}

void SentCp932(benchmark::State& state) { Sent(state, TheTexts().japanese); }
void SentBeyondCp932(benchmark::State& state) { Sent(state, TheTexts().beyond); }

BENCHMARK(Copy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReceivedExact)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReceivedCp932)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReceivedHostile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SentCp932)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SentBeyondCp932)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    zumelko::bench::RatioReporter reporter("Copy", "", "x copy");
    return zumelko::bench::RunBenchmarks(argc, argv, reporter);
}
