#pragma once
// The loop on Windows: real hidden windows of one class, the thread's message queue,
// GetMessageW/DispatchMessageW, and IsDialogMessageW for the dialog on top so Tab, Enter and
// Esc work in it as in any Windows dialog.
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "platform/Loop.h"

namespace zumelko::platform::win32 {

class Win32Loop final : public Loop {
public:
    Win32Loop();
    ~Win32Loop() override;
    Win32Loop(const Win32Loop&) = delete;
    Win32Loop& operator=(const Win32Loop&) = delete;

    // Loop overrides:
    Hwnd CreateHiddenWindow(WindowProc proc) override;
    void DestroyWindow(Hwnd window) override;
    bool IsWindow(Hwnd window) const override;
    bool PostMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) override;
    bool SetTimer(Hwnd window, std::uintptr_t id, unsigned elapseMs) override;
    bool KillTimer(Hwnd window, std::uintptr_t id) override;
    // Also reaches the windows of other programs (it is how the viewer chain is passed on), and
    // gives up on one that does not answer within 5 seconds, answering 0.
    LResult SendMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) override;
    void ProcessMessages() override;
    void RunUntil(const std::function<bool()>& done) override;
    void PostQuit() override;
    bool QuitRequested() const override { return quit_; }

    // Dialogs shown modally, innermost last: keyboard messages go through IsDialogMessageW of
    // the innermost one.
    void PushDialog(Hwnd dialog) { dialogs_.push_back(dialog); }
    void PopDialog(Hwnd dialog);

    int Depth() const { return depth_; }
    // Runs until done() or the time is up (tests); returns done().
    bool RunUntilFor(const std::function<bool()>& done, int limitMs);

    // The window procedure of the hidden windows (an LRESULT CALLBACK in the .cpp).
    static LResult Procedure(Hwnd window, std::uint32_t message, WParam w, LParam l);

private:
    // Takes one message off the queue, waiting at most timeoutMs (or forever when negative),
    // and dispatches it. False when none came.
    bool Step(long timeoutMs);
    void CheckThread() const;

    std::map<Hwnd, WindowProc> windows_;
    std::vector<Hwnd> dialogs_;
    // Timers alive; a WM_TIMER of any other is old news.
    std::set<std::pair<Hwnd, std::uintptr_t>> timers_;
    Hwnd wake_ = 0;  // receives the marker that ends ProcessMessages and the quit wake-up
    unsigned long thread_ = 0;
    bool quit_ = false;
    // Whether the queue has been found empty once: the program has started (see Step).
    bool idleOnce_ = false;
    int depth_ = 0;
};

}  // namespace zumelko::platform::win32
