#include "platform/sim/SimLoop.h"

#include <algorithm>

namespace zumelko::platform::sim {

Hwnd SimLoop::CreateHiddenWindow(WindowProc proc) {
    const Hwnd h = next_++;
    windows_.emplace(h, std::move(proc));
    return h;
}

void SimLoop::DestroyWindow(Hwnd window) {
    windows_.erase(window);
    std::erase_if(timers_, [window](const auto& t) { return t.first.first == window; });
    std::erase_if(queue_, [window](const Message& m) { return m.window == window; });
}

bool SimLoop::IsWindow(Hwnd window) const { return windows_.count(window) != 0; }

bool SimLoop::PostMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    if (!IsWindow(window)) return false;
    queue_.push_back({window, message, w, l});
    return true;
}

bool SimLoop::SetTimer(Hwnd window, std::uintptr_t id, unsigned elapseMs) {
    if (!IsWindow(window)) return false;
    const std::chrono::milliseconds interval(std::max(elapseMs, 1u));
    timers_[{window, id}] = Timer{interval, std::chrono::steady_clock::now() + interval};
    return true;
}

bool SimLoop::KillTimer(Hwnd window, std::uintptr_t id) {
    std::erase_if(queue_, [&](const Message& m) { return m.window == window && m.message == WM_TIMER_ && m.w == id; });
    return timers_.erase({window, id}) != 0;
}

int SimLoop::TickTimers(int limitMs) {
    const auto now = std::chrono::steady_clock::now();
    auto next = std::chrono::milliseconds(limitMs);
    for (auto& [key, timer] : timers_) {
        if (timer.due <= now) {
            // Plain copies: clang before 16 cannot capture structured bindings.
            const auto window = key.first;
            const auto id = key.second;
            const bool waiting = std::any_of(queue_.begin(), queue_.end(), [&](const Message& m) {
                return m.window == window && m.message == WM_TIMER_ && m.w == id;
            });
            if (!waiting) queue_.push_back({window, WM_TIMER_, id, 0});
            timer.due = now + timer.interval;
        }
        next = std::min(next, std::chrono::ceil<std::chrono::milliseconds>(timer.due - now));
    }
    return static_cast<int>(std::max<long long>(next.count(), 0));
}

LResult SimLoop::SendMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    auto it = windows_.find(window);
    if (it == windows_.end()) return 0;
    // Copy: the procedure may destroy its own window.
    WindowProc proc = it->second;
    return Deliver(proc, message, w, l);
}

bool SimLoop::DispatchOne() {
    if (queue_.empty()) return false;
    const Message m = queue_.front();
    queue_.pop_front();
    SendMessage(m.window, m.message, m.w, m.l);
    return true;
}

void SimLoop::PollSources(int timeoutMs) {
    std::vector<pollfd> fds;
    std::vector<IoSource*> owners;
    for (IoSource* s : sources_) {
        const std::size_t before = fds.size();
        s->Collect(fds);
        owners.insert(owners.end(), fds.size() - before, s);
    }
    if (fds.empty()) {
        if (timeoutMs > 0) ::poll(nullptr, 0, timeoutMs);
        return;
    }
    const int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n <= 0) return;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        // A source may have been removed by a handler run meanwhile.
        if (std::find(sources_.begin(), sources_.end(), owners[i]) == sources_.end()) continue;
        owners[i]->Dispatch(fds[i]);
    }
}

bool SimLoop::Step(int timeoutMs) {
    const int wait = TickTimers(timeoutMs);
    PollSources(queue_.empty() ? wait : 0);
    TickTimers(0);
    return DispatchOne();
}

void SimLoop::ProcessMessages() {
    PollSources(0);
    TickTimers(0);
    // Only what is pending now: messages posted while dispatching wait for the next round.
    std::size_t n = queue_.size();
    while (n-- > 0 && !queue_.empty()) DispatchOne();
}

void SimLoop::RunUntil(const std::function<bool()>& done) {
    ++depth_;
    while (!quit_ && !done()) Step(20);
    --depth_;
}

void SimLoop::RunFor(std::chrono::milliseconds duration) {
    RunUntilFor([] { return false; }, duration);
}

bool SimLoop::RunUntilFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    ++depth_;
    bool ok = done();
    while (!quit_ && !ok) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        Step(static_cast<int>(std::min<long long>(left.count(), 20)));
        ok = done();
    }
    --depth_;
    return ok;
}

void SimLoop::RemoveIoSource(IoSource& source) {
    std::erase(sources_, &source);
}

}  // namespace zumelko::platform::sim
