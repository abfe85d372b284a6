// The loop's longest pause (a 1 ms timer that notes the time between two of its ticks) while
// another program's picture, copied with xclip, is read ahead from the X clipboard, against
// the same picture read by Qt on the loop (as the program read it before) and against the loop
// with nothing to do, in the same run. Each round copies the picture anew.
// Usage (on an X display): read_ahead_bench PICTURE.png [ROUNDS]
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/qt/QtDesktop.h"

namespace {

using namespace zumelko;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: read_ahead_bench PICTURE.png [ROUNDS]\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    int qtArgc = 1;
    platform::qt::ScopedQtDesktop desktop(qtArgc, argv);
    auto& loop = desktop->loop();
    platform::qt::QtClipboard* clipboard = desktop->x11Clipboard();
    if (clipboard == nullptr) {
        std::fprintf(stderr, "read_ahead_bench: not on an X display\n");
        return 77;
    }
    int changes = 0;
    const platform::Hwnd viewer = loop.CreateHiddenWindow([&](std::uint32_t m, platform::WParam, platform::LParam) {
        if (m == platform::WM_DRAWCLIPBOARD_) ++changes;
        return platform::LResult{0};
    });
    const platform::Hwnd next = clipboard->SetClipboardViewer(viewer);

    bool probing = false;
    Clock::time_point last;
    Clock::duration longest{};
    int ticks = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (probing) longest = std::max(longest, now - last);
        last = now;
        ++ticks;
    });
    probe.start();
    auto measure = [&](const std::function<bool()>& done) {
        last = Clock::now();
        longest = {};
        probing = true;
        const auto t0 = Clock::now();
        loop.RunUntilFor(done, 60000);
        const auto took = Clock::now() - t0;
        // The tick after: a turn that ended the wait is counted too.
        const int seen = ticks;
        loop.RunUntilFor([&] { return ticks > seen; }, 1000);
        probing = false;
        return std::pair{Ms(longest), Ms(took)};
    };
    // Another program copies the picture; the loop runs until the change has been seen.
    QFile file(picture);
    if (!file.open(QIODevice::ReadOnly)) return 2;
    const QByteArray bytes = file.readAll();
    auto copy = [&] {
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-t", "image/png", "-i", picture});
        xclip.waitForStarted();
        changes = 0;
        loop.RunUntilFor([&] { return xclip.state() == QProcess::NotRunning && changes > 0; }, 60000);
    };

    std::printf("picture: %s, %lld bytes of PNG\n", argv[1], static_cast<long long>(bytes.size()));
    std::printf("%-6s %14s %16s %10s %16s %10s\n", "round", "idle gap ms", "read-ahead gap ms", "(ready ms)",
                "Qt on loop gap ms", "(read ms)");
    for (int r = 1; r <= rounds; ++r) {
        const auto idle = measure([start = Clock::now()] { return Clock::now() - start > std::chrono::milliseconds(500); });
        copy();  // the read-ahead begins on the loop's next idle turn
        const auto ahead = measure([&] { return clipboard->ReadAheadDone(); });
        copy();
        loop.RunUntilFor([&] { return clipboard->ReadAheadDone(); }, 60000);
        bool read = false;
        std::size_t got = 0;
        QTimer::singleShot(0, [&] {
            const QMimeData* data = QGuiApplication::clipboard()->mimeData();
            got = data != nullptr ? static_cast<std::size_t>(data->data(QStringLiteral("image/png")).size()) : 0;
            read = true;
        });
        const auto onLoop = measure([&] { return read; });
        std::printf("%-6d %14.1f %16.1f %10.0f %16.1f %10.0f%s\n", r, idle.first, ahead.first, ahead.second,
                    onLoop.first, onLoop.second, got == static_cast<std::size_t>(bytes.size()) ? "" : "  (Qt read it short)");
        std::fprintf(stderr,
                     "{\"bench\":\"read_ahead\",\"round\":%d,\"png_bytes\":%lld,\"idle_gap_ms\":%.2f,"
                     "\"read_ahead_gap_ms\":%.2f,\"read_ahead_ready_ms\":%.1f,\"qt_on_loop_gap_ms\":%.2f}\n",
                     r, static_cast<long long>(bytes.size()), idle.first, ahead.first, ahead.second, onLoop.first);
    }
    clipboard->ChangeClipboardChain(viewer, next);
    loop.DestroyWindow(viewer);
    return 0;
}
