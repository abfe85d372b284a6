#pragma once
// The simulated desktop's loop: a queue of posted messages and a poll() over the real sockets,
// all on the calling thread. Deterministic apart from the network itself.
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "platform/Loop.h"
#include "platform/posix/IoSource.h"

namespace zumelko::platform::sim {

class SimLoop final : public Loop {
public:
    Hwnd CreateHiddenWindow(WindowProc proc) override;
    void DestroyWindow(Hwnd window) override;
    bool IsWindow(Hwnd window) const override;
    bool PostMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) override;
    bool SetTimer(Hwnd window, std::uintptr_t id, unsigned elapseMs) override;
    bool KillTimer(Hwnd window, std::uintptr_t id) override;
    LResult SendMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) override;
    void ProcessMessages() override;
    void RunUntil(const std::function<bool()>& done) override;
    void PostQuit() override { quit_ = true; }
    bool QuitRequested() const override { return quit_; }

    void AddIoSource(IoSource& source) { sources_.push_back(&source); }
    void RemoveIoSource(IoSource& source);
    // Runs the loop for a while (or until quit), whatever happens meanwhile.
    void RunFor(std::chrono::milliseconds duration);
    // Runs until done() or the time is up; returns done().
    bool RunUntilFor(const std::function<bool()>& done, std::chrono::milliseconds limit);
    std::size_t PendingMessages() const { return queue_.size(); }
    // Nesting depth of RunUntil (1 inside the main loop, 2 inside a modal dialog, ...).
    int Depth() const { return depth_; }

private:
    struct Message {
        Hwnd window;
        std::uint32_t message;
        WParam w;
        LParam l;
    };
    // Waits at most timeoutMs for socket readiness and lets the sources post; then dispatches
    // at most one queued message. Returns true when it did anything.
    bool Step(int timeoutMs);
    bool DispatchOne();
    void PollSources(int timeoutMs);
    // Queues a tick for every timer that is due; returns the milliseconds until the next one
    // (or limitMs when none is sooner).
    int TickTimers(int limitMs);

    struct Timer {
        std::chrono::milliseconds interval;
        std::chrono::steady_clock::time_point due;
    };

    std::map<Hwnd, WindowProc> windows_;
    Hwnd next_ = 0x1000;
    std::deque<Message> queue_;
    std::map<std::pair<Hwnd, std::uintptr_t>, Timer> timers_;
    std::vector<IoSource*> sources_;
    bool quit_ = false;
    int depth_ = 0;
};

}  // namespace zumelko::platform::sim
