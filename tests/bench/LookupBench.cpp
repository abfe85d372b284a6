// The longest pause of the loop while the addresses of 20 allowed senders are looked up through
// a name server that takes a second for every answer, against the loop's longest pause when it
// has nothing to do, and against looking the names up on the loop as the program once did.
// Needs a name server of its own: run it through tests/bench/lookup-bench.sh, which gives it a
// private network and resolver configuration and this program's stand-in server on 127.0.0.1:53.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/AllowedSenders.h"
#include "platform/sim/SimDesktop.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kAnswerDelay = 1000ms;
constexpr int kNames = 20;

// Answers every A question with 10.0.0.N after kAnswerDelay, each on a thread of its own, as a
// slow name server would.
void SlowNameServer(int fd, std::atomic<bool>& stop) {
    unsigned char query[512];
    int answered = 0;
    while (!stop) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 12) continue;
        std::size_t end = 12;
        while (end < static_cast<std::size_t>(n) && query[end] != 0) end += query[end] + 1u;
        end += 5;  // the root label, type and class
        if (end > static_cast<std::size_t>(n)) continue;
        std::vector<unsigned char> reply(query, query + end);
        const bool isA = query[end - 4] == 0 && query[end - 3] == 1;
        reply[2] = 0x81;
        reply[3] = 0x80;
        reply[6] = 0;
        reply[7] = isA ? 1 : 0;
        reply[8] = reply[9] = reply[10] = reply[11] = 0;
        if (isA) {
            const unsigned char last = static_cast<unsigned char>(++answered % 250 + 1);
            const unsigned char record[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 10, 0, 0, last};
            reply.insert(reply.end(), record, record + sizeof record);
        }
        std::thread([fd, from, reply] {
            std::this_thread::sleep_for(kAnswerDelay);
            ::sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        }).detach();
    }
}

// The loop's longest pause while running is true: a message that posts itself again and notes
// the time between two of its deliveries.
class GapMeter {
public:
    explicit GapMeter(zumelko::platform::sim::SimDesktop& desk) : desk_(desk) {
        window_ = desk_.loop().CreateHiddenWindow([this](std::uint32_t, zumelko::platform::WParam, zumelko::platform::LParam) {
            const auto now = Clock::now();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
            desk_.loop().PostMessage(window_, kTick, 0, 0);
            return zumelko::platform::LResult{0};
        });
    }
    ~GapMeter() { desk_.loop().DestroyWindow(window_); }
    // Runs the loop while `busy` is true, then for `least`; the longest gap.
    // `kick` runs once the meter ticks.
    Clock::duration Run(const std::function<bool()>& busy, Clock::duration least = 0ms,
                        const std::function<void()>& kick = {}) {
        desk_.loop().ProcessMessages();
        longest_ = 0ms;
        last_ = Clock::now();
        desk_.loop().PostMessage(window_, kTick, 0, 0);
        if (kick) kick();
        desk_.loop().RunUntilFor([&] { return !busy(); }, 120s);
        // A while more, so that a pause at the very end is measured too.
        desk_.loop().RunUntilFor([] { return false; }, std::chrono::duration_cast<std::chrono::milliseconds>(least));
        return longest_;
    }

private:
    static constexpr std::uint32_t kTick = zumelko::platform::WM_USER_ + 77;
    zumelko::platform::sim::SimDesktop& desk_;
    zumelko::platform::Hwnd window_ = 0;
    Clock::time_point last_;
    Clock::duration longest_{};
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(53);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        std::perror("lookup_bench: cannot serve names on 127.0.0.1:53 (run it through lookup-bench.sh)");
        return 1;
    }
    timeval tick{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    std::atomic<bool> stop{false};
    std::thread names([&] { SlowNameServer(fd, stop); });

    zumelko::platform::sim::ScopedSimDesktop desk;
    zumelko::Component root(nullptr);
    auto& allowed = root.Create<zumelko::TAllowedSenders>();
    GapMeter meter(*desk);
    std::vector<std::string> list;
    for (int i = 0; i < kNames; ++i) list.push_back("pc" + std::to_string(i) + ".slow.test");

    const auto idle = meter.Run([] { return false; }, 3s);

    const auto started = Clock::now();
    const auto offLoop =
        meter.Run([&] { return allowed.Pending() != 0; }, 100ms, [&] { allowed.SetNames(list); });
    const auto offLoopTotal = Clock::now() - started;
    int resolved = 0;
    for (int i = 1; i <= 250; ++i) resolved += allowed.Allows(htonl(0x0A000000u | static_cast<std::uint32_t>(i)));

    // As the program once did: every name looked up on the loop thread, one after the other,
    // in the handler of a message (a click, the settings' OK).
    auto& sockets = desk->sockets();
    int blockingResolved = 0;
    bool blockingDone = false;
    const auto onLoopStart = Clock::now();
    const zumelko::platform::Hwnd handler = desk->loop().CreateHiddenWindow(
        [&](std::uint32_t, zumelko::platform::WParam, zumelko::platform::LParam) {
            for (const auto& name : list) {
                std::uint32_t addr = 0;
                blockingResolved += sockets.GetHostByName(name, addr);
            }
            blockingDone = true;
            return zumelko::platform::LResult{0};
        });
    const auto onLoop = meter.Run([&] { return !blockingDone; }, 100ms,
                                  [&] { desk->loop().PostMessage(handler, zumelko::platform::WM_USER_, 0, 0); });
    desk->loop().DestroyWindow(handler);
    const auto onLoopTotal = Clock::now() - onLoopStart;

    stop = true;
    names.join();
    ::close(fd);

    std::printf("%d names, each answered after %.0f ms by the name server\n", kNames, Ms(kAnswerDelay));
    std::printf("%-28s %14s %12s %12s\n", "", "longest gap ms", "x idle gap", "all in, ms");
    std::printf("%-28s %14.2f %12.2f %12s\n", "idle loop (baseline)", Ms(idle), 1.0, "-");
    std::printf("%-28s %14.2f %12.2f %12.0f  (%d of %d resolved)\n", "looked up off the loop", Ms(offLoop),
                Ms(offLoop) / Ms(idle), Ms(offLoopTotal), resolved, kNames);
    std::printf("%-28s %14.2f %12.2f %12.0f  (%d of %d resolved)\n", "looked up on the loop (old)", Ms(onLoop),
                Ms(onLoop) / Ms(idle), Ms(onLoopTotal), blockingResolved, kNames);
    return Ms(offLoop) < 50.0 && resolved == kNames ? 0 : 2;
}
