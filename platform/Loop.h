#pragma once
// The message loop: hidden windows with a window procedure, posted and sent messages,
// nested loops for modal dialogs, quit.
#include <cstdint>
#include <exception>
#include <functional>

#include "platform/WinTypes.h"

namespace zumelko::platform {

class Loop {
public:
    virtual ~Loop() = default;

    // A window that is never shown; every message for it goes to proc on the loop thread.
    virtual Hwnd CreateHiddenWindow(WindowProc proc) = 0;
    // Destroys the window; messages still queued for it are dropped.
    virtual void DestroyWindow(Hwnd window) = 0;
    virtual bool IsWindow(Hwnd window) const = 0;

    // Queues a message; it is dispatched later, in order, one at a time.
    virtual bool PostMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) = 0;
    // Calls the window procedure at once; 0 when there is no such window.
    virtual LResult SendMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) = 0;

    // Starts (or, for an id the window has already, restarts) a timer: every elapseMs from now
    // the window gets WM_TIMER_ with the id as WParam, through the queue like a posted message,
    // until KillTimer or the window's end. Ticks are never queued up: while one is still waiting
    // to be dispatched, the next is not added. False when there is no such window.
    virtual bool SetTimer(Hwnd window, std::uintptr_t id, unsigned elapseMs) = 0;
    // Stops the timer; a tick already queued is dropped. False when there was none.
    virtual bool KillTimer(Hwnd window, std::uintptr_t id) = 0;

    // Dispatches everything already pending, without waiting.
    virtual void ProcessMessages() = 0;
    // Runs the loop (waiting for messages and socket readiness) until done() is true or quit
    // was asked for. Used for the main loop and for every nested modal loop.
    virtual void RunUntil(const std::function<bool()>& done) = 0;
    // Asks every running loop to end.
    virtual void PostQuit() = 0;
    virtual bool QuitRequested() const = 0;

    // What becomes of an exception that escapes a window procedure: the application shows it in
    // its standard error box and the loop carries on.
    void SetExceptionHandler(std::function<void(const std::exception&)> handler) {
        exceptionHandler_ = std::move(handler);
    }

protected:
    // Calls a window procedure, turning an escaped exception into a report.
    LResult Deliver(const WindowProc& proc, std::uint32_t message, WParam w, LParam l);

private:
    std::function<void(const std::exception&)> exceptionHandler_;
};

}  // namespace zumelko::platform
