// A 3840 × 2160 picture from the clipboard to BMP bytes and back, on a 32-bit display and on a
// 256-colour one, timed against memcpy of the 32-bit display's BMP bytes in the same run. Ends with each conversion as a multiple of
// that copy and in milliseconds per megapixel.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/BitmapImage.h"
#include "framework/Stream.h"
#include "platform/sim/SimDesktop.h"
#include "tests/bench/RatioReporter.h"

namespace {

using namespace zumelko;

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;
constexpr double kMegapixels = kWidth * kHeight / 1e6;

// A photograph-like picture: smooth gradients with fine noise, so no colour repeats for long.
struct Scene {
    explicit Scene(int displayBits) {
        desktop->gdi().SetDisplayBitsPerPixel(displayBits);
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
        std::uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1103515245u + 12345u;
                const std::uint32_t r = (x * 255 / kWidth + (noise >> 28)) & 0xFF;
                const std::uint32_t g = (y * 255 / kHeight + (noise >> 24 & 7)) & 0xFF;
                const std::uint32_t b = ((x + y) & 0xFF) ^ (noise >> 29);
                pixels[static_cast<std::size_t>(y) * kWidth + x] = (r << 16) | (g << 8) | b;
            }
        bitmap = desktop->gdi().CreateBitmap(kWidth, kHeight, false);
        desktop->gdi().SetPixels(bitmap, pixels);
        BitmapImage picture;
        picture.LoadFromClipboardFormat(bitmap, 0);
        picture.WriteToStream(bmp);
    }
    ~Scene() { desktop->gdi().DeleteObject(bitmap); }
    platform::sim::ScopedSimDesktop desktop;
    platform::Hbitmap bitmap = 0;
    MemoryStream bmp;
};

// One scene at a time: each brings its own desktop.
Scene& TheScene(int displayBits) {
    static std::unique_ptr<Scene> scene;
    static int bits = 0;
    if (!scene || bits != displayBits) {
        scene.reset();
        scene = std::make_unique<Scene>(displayBits);
        bits = displayBits;
    }
    return *scene;
}

void PerMegapixel(benchmark::State& state) {
    state.counters["per_MP"] = benchmark::Counter(kMegapixels, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}

void Memcpy(benchmark::State& state) {
    const MemoryStream& bmp = TheScene(32).bmp;
    std::vector<std::uint8_t> to(bmp.Size());
    for (auto _ : state) {
        std::memcpy(to.data(), bmp.Data(), bmp.Size());
        benchmark::ClobberMemory();
    }
    PerMegapixel(state);
}

void ClipboardToBmp(benchmark::State& state) {
    Scene& scene = TheScene(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        BitmapImage picture;
        picture.LoadFromClipboardFormat(scene.bitmap, 0);
        MemoryStream out;
        picture.WriteToStream(out);
        benchmark::DoNotOptimize(out.Data());
    }
    PerMegapixel(state);
}

void BmpToClipboard(benchmark::State& state) {
    Scene& scene = TheScene(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        BitmapImage picture;
        scene.bmp.SetPosition(0);
        picture.ReadFromStream(scene.bmp);
        BitmapImage::ClipboardFormat form = picture.SaveToClipboardFormat();
        benchmark::DoNotOptimize(form.bitmap.Get());
    }
    PerMegapixel(state);
}

BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ClipboardToBmp)->Arg(32)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BmpToClipboard)->Arg(32)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    zumelko::bench::RatioReporter reporter("Memcpy", "(display bits)", "x memcpy", "ms per MP",
                                           [](double seconds) { return seconds * 1e3 / kMegapixels; });
    return zumelko::bench::RunBenchmarks(argc, argv, reporter);
}
