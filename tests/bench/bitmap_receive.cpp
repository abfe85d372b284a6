// A large picture received on the Linux desktop as the program receives one: over TCP into the
// packet channel, read as a picture, made a device bitmap (the dialog can show it from then on),
// put on the X clipboard. Each round is timed against a plain socket copy of the same bytes in
// the same run, with the longest pause of the event loop (a 1 ms timer) and the rise of the
// peak resident memory per picture byte. The first round is the cold one. Then another program
// pastes it (xclip) 1.5 s later, and the loop's longest pause while the picture is handed over
// is shown too.
// Usage (on an X display): bitmap_receive_bench [WIDTH HEIGHT [ROUNDS]]
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "desktop/BitmapImage.h"
#include "desktop/ClipboardAccess.h"
#include "framework/Component.h"
#include "platform/qt/QtDesktop.h"
#include "tests/support/RawPeer.h"
#include "transport/SimpleTcp.h"
#include "tests/bench/BenchSupport.h"

namespace {

using namespace zumelko;
using Clock = std::chrono::steady_clock;
using namespace zumelko::bench;

constexpr int kChannelPort = 28641;
constexpr int kPlainPort = 28642;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// A photograph-like picture as a 24-bit BMP: smooth gradients with fine noise.
std::string MakeBmp(int width, int height) {
    const std::size_t stride = (static_cast<std::size_t>(width) * 24 + 31) / 32 * 4;
    std::string b(54 + stride * static_cast<std::size_t>(height), '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<std::uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    b[26] = 1;
    b[28] = 24;
    put32(34, static_cast<std::uint32_t>(stride * static_cast<std::size_t>(height)));
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        char* row = b.data() + 54 + stride * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            row[3 * x] = static_cast<char>(((x + y) & 0xFF) ^ (noise >> 29));
            row[3 * x + 1] = static_cast<char>((y * 255 / height + (noise >> 24 & 7)) & 0xFF);
            row[3 * x + 2] = static_cast<char>((x * 255 / width + (noise >> 28)) & 0xFF);
        }
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    const int width = argc > 2 ? std::atoi(argv[1]) : 3840;
    const int height = argc > 2 ? std::atoi(argv[2]) : 2160;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    int qtArgc = 1;
    platform::qt::ScopedQtDesktop desktop(qtArgc, argv);
    auto& loop = desktop->loop();

    const std::string bmp = MakeBmp(width, height);
    const double bytes = static_cast<double>(bmp.size());
    // Framed once, before anything is measured, so the sender's side costs the receiver nothing.
    const std::string packet = testing::LengthPrefixed(bmp);

    Component root(nullptr);
    auto& channel = root.Create<TSimpleTcp>();
    channel.SetPort(kChannelPort);
    Clock::time_point delivered, read, made, taken;
    bool done = false;
    std::string failure;
    channel.OnReceived = [&](Component*) {
        delivered = Clock::now();
        try {
            BitmapImage picture;
            channel.GetGraphic(picture);
            read = Clock::now();
            (void)picture.Handle();
            made = Clock::now();
            ClipboardAccess clip;
            clip.Clear();
            clip.Open();
            clip.PutBitmap(picture);
            clip.Close();
            taken = Clock::now();
        } catch (const std::exception& e) {
            failure = e.what();
        }
        done = true;
    };
    channel.OnError = [&](Component*, const std::string& message) { failure = message; };
    channel.Listen();

    // The loop's pulse: the longest wait between two ticks while a round runs.
    bool probing = false;
    Clock::time_point lastTick;
    double longestGap = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (probing) longestGap = std::max(longestGap, Seconds(lastTick, now));
        lastTick = now;
    });
    probe.start();

    std::printf("picture %dx%d: %.0f bytes as a 24-bit BMP\n", width, height, bytes);
    std::printf("%-6s %9s %9s %7s %9s %9s %9s %9s %10s %12s %10s\n", "round", "plain s", "device s", "ratio", "read s",
                "decode s", "clip s", "total s", "loop gap", "bytes/byte", "paste gap");
    for (int r = 1; r <= rounds; ++r) {
        // The plain copy: the same bytes over one connection, closed by the receiver.
        std::atomic<bool> plainReady{false};
        std::thread plainReceiver([&] {
            testing::RawListener listener("127.0.0.1", kPlainPort);
            plainReady = true;
            (void)listener.ReceivePacket(60000);
        });
        while (!plainReady) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto p0 = Clock::now();
        const bool plainClosed = testing::RawSendBytes("127.0.0.1", kPlainPort, packet, 60000);
        const double plain = Seconds(p0, Clock::now());
        plainReceiver.join();

        loop.RunUntilFor([] { return false; }, 50);
        const long base = StatusBytes("VmRSS");
        ResetPeak();
        done = false;
        std::atomic<bool> sent{false};
        const auto t0 = Clock::now();
        probing = true;
        lastTick = t0;
        longestGap = 0;
        std::thread sender([&] {
            (void)testing::RawSendBytes("127.0.0.1", kChannelPort, packet, 60000);
            sent = true;
        });
        loop.RunUntilFor([&] { return done && sent.load(); }, 120000);
        // The tick that ends the handler's pause comes after the handler.
        loop.RunUntilFor([] { return false; }, 20);
        probing = false;
        sender.join();
        const long peak = StatusBytes("VmHWM");
        if (!failure.empty() || !done || !plainClosed) {
            std::fprintf(stderr, "round %d failed: %s\n", r, failure.empty() ? "time-out" : failure.c_str());
            return 1;
        }
        const double device = Seconds(t0, made);

        // Another program pastes the picture a moment later, as a user would (switching to it
        // takes that long): the loop's longest pause while the picture is handed over.
        loop.RunUntilFor([] { return false; }, 1500);
        std::atomic<bool> pasted{false};
        probing = true;
        lastTick = Clock::now();
        const double receiveGap = longestGap;
        longestGap = 0;
        std::thread paster([&] {
            (void)std::system("xclip -selection clipboard -o -t image/png > /dev/null");
            pasted = true;
        });
        loop.RunUntilFor([&] { return pasted.load(); }, 120000);
        loop.RunUntilFor([] { return false; }, 20);
        probing = false;
        paster.join();
        const double pasteGap = longestGap;
        longestGap = receiveGap;
        std::printf("%-6d %9.4f %9.4f %7.2f %9.4f %9.4f %9.4f %9.4f %9.4f %12.2f %10.4f\n", r, plain, device,
                    device / plain, Seconds(delivered, read), Seconds(read, made), Seconds(made, taken),
                    Seconds(t0, taken), longestGap, static_cast<double>(peak - base) / bytes, pasteGap);
        std::printf("{\"bench\":\"bitmap_receive\",\"width\":%d,\"height\":%d,\"round\":%d,\"plain_s\":%.5f,"
                    "\"device_s\":%.5f,\"device_over_plain\":%.3f,\"taken_s\":%.5f,\"longest_loop_gap_s\":%.5f,"
                    "\"peak_rss_gain_per_byte\":%.3f,\"longest_loop_gap_pasting_s\":%.5f}\n",
                    width, height, r, plain, device, device / plain, Seconds(t0, taken), longestGap,
                    static_cast<double>(peak - base) / bytes, pasteGap);
        std::fflush(stdout);
    }
    return 0;
}
