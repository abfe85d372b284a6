#include "platform/win32/Win32Loop.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <stdexcept>

#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

namespace {

constexpr char kClassName[] = "ZumelkoHiddenWindow";
// Posted to the loop's own window: ends a ProcessMessages round, or only wakes GetMessageW.
constexpr UINT kMarker = WM_APP + 0x3F00;
constexpr UINT kWake = WM_APP + 0x3F01;
// How long a message sent to another program's window may take.
constexpr UINT kOtherProgramMs = 5000;

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    return static_cast<LRESULT>(Win32Loop::Procedure(FromHandle(window), message, w, l));
}

// The messages a procedure above the seam handles. Everything else belongs to the system and
// goes to DefWindowProcA (creation, session end, activation…), since those procedures answer 0
// to whatever they do not know.
bool ForTheProgram(UINT message) {
    return message == WM_DRAWCLIPBOARD || message == WM_CHANGECBCHAIN || message == WM_TIMER ||
           (message >= WM_USER && message < 0xC000);
}

}  // namespace

Win32Loop::Win32Loop() : thread_(::GetCurrentThreadId()) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = HiddenWindowProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    // Registered once per process; a second loop finds the class there already.
    if (::RegisterClassExA(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("RegisterClassExA failed");
    }
    wake_ = CreateHiddenWindow([](std::uint32_t, WParam, LParam) -> LResult { return 0; });
    if (wake_ == 0) throw std::runtime_error("CreateWindowExA failed");
}

Win32Loop::~Win32Loop() {
    for (auto it = windows_.begin(); it != windows_.end();) {
        const Hwnd h = it->first;
        it = windows_.erase(it);
        ::DestroyWindow(AsHandle<HWND>(h));
    }
}

void Win32Loop::CheckThread() const {
    // Windows belong to the thread that made them; calls from another thread are a bug.
    assert(::GetCurrentThreadId() == thread_);
}

LResult Win32Loop::Procedure(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    HWND hwnd = AsHandle<HWND>(window);
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(l);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* loop = reinterpret_cast<Win32Loop*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (loop != nullptr && message == WM_TIMER && loop->timers_.count({window, static_cast<std::uintptr_t>(w)}) == 0)
        return 0;
    if (loop != nullptr && ForTheProgram(message)) {
        auto it = loop->windows_.find(window);
        if (it != loop->windows_.end()) {
            // A copy: the procedure may destroy its own window. Nothing may unwind through
            // user32, so whatever escapes ends here.
            WindowProc proc = it->second;
            try {
                return loop->Deliver(proc, message, w, l);
            } catch (...) {
                std::fputs("zumelko: unknown exception in a window procedure\n", stderr);
                return 0;
            }
        }
    }
    return static_cast<LResult>(::DefWindowProcA(hwnd, message, w, l));
}

Hwnd Win32Loop::CreateHiddenWindow(WindowProc proc) {
    CheckThread();
    // A top-level window that is never shown (not message-only: broadcasts such as the
    // taskbar's must reach it).
    HWND h = ::CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               ::GetModuleHandleA(nullptr), this);
    if (h == nullptr) return 0;
    windows_.emplace(FromHandle(h), std::move(proc));
    return FromHandle(h);
}

void Win32Loop::DestroyWindow(Hwnd window) {
    CheckThread();
    if (windows_.erase(window) == 0) return;
    std::erase_if(timers_, [window](const auto& t) { return t.first == window; });
    // Messages still queued for it are dropped by the system: they find no window.
    ::DestroyWindow(AsHandle<HWND>(window));
}

bool Win32Loop::IsWindow(Hwnd window) const { return windows_.count(window) != 0; }

bool Win32Loop::PostMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    if (!IsWindow(window)) return false;
    return ::PostMessageA(AsHandle<HWND>(window), message, w, l) != FALSE;
}

bool Win32Loop::SetTimer(Hwnd window, std::uintptr_t id, unsigned elapseMs) {
    CheckThread();
    if (!IsWindow(window)) return false;
    if (::SetTimer(AsHandle<HWND>(window), static_cast<UINT_PTR>(id), elapseMs, nullptr) == 0) return false;
    timers_.insert({window, id});
    return true;
}

bool Win32Loop::KillTimer(Hwnd window, std::uintptr_t id) {
    CheckThread();
    if (!IsWindow(window)) return false;
    ::KillTimer(AsHandle<HWND>(window), static_cast<UINT_PTR>(id));
    // A tick already taken into the queue is dropped when it comes out (see Procedure).
    const bool had = timers_.erase({window, id}) != 0;
    return had;
}

LResult Win32Loop::SendMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    CheckThread();
    if (IsWindow(window)) return static_cast<LResult>(::SendMessageA(AsHandle<HWND>(window), message, w, l));
    // Another program's window: the next clipboard viewer usually is one. ::IsWindow also
    // keeps a handle that is no window (HWND_BROADCAST among them) from going anywhere.
    HWND other = AsHandle<HWND>(window);
    if (window == 0 || ::IsWindow(other) == FALSE) return 0;
    // A program that has stopped answering must not stop this one with it.
    DWORD_PTR answer = 0;
    if (::SendMessageTimeoutA(other, message, w, l, SMTO_NORMAL | SMTO_ABORTIFHUNG, kOtherProgramMs, &answer) == 0) {
        return 0;
    }
    return static_cast<LResult>(answer);
}

void Win32Loop::PopDialog(Hwnd dialog) {
    auto it = std::find(dialogs_.rbegin(), dialogs_.rend(), dialog);
    if (it != dialogs_.rend()) dialogs_.erase(std::next(it).base());
}

bool Win32Loop::Step(long timeoutMs) {
    MSG m{};
    // A look that finds the queue empty is the costly part of a turn under Wine on a busy
    // machine: it yields the processor unless told not to (a millisecond or more, at every turn
    // that found nothing), and even told not to it took from 10 µs to over a millisecond, where
    // a look that finds a message took 5 to 10 µs. So a turn that may wait waits first, for a
    // message already there or one to come, and looks only then. Until the queue has been found
    // empty once, the looks yield as usual: Windows takes an empty look as the sign that a
    // program has started, for those waiting for it (WaitForInputIdle).
    if (timeoutMs != 0 && idleOnce_) {
        const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
        if (::MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0)
            return false;
        if (!::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) return false;
    } else if (!::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE | (idleOnce_ ? PM_NOYIELD : 0))) {
        idleOnce_ = true;
        if (timeoutMs == 0) return false;
        const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
        if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT) != WAIT_OBJECT_0) return false;
        if (!::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) return false;
    }
    if (m.message == WM_QUIT) {
        quit_ = true;
        return true;
    }
    if (!dialogs_.empty() && ::IsDialogMessageW(AsHandle<HWND>(dialogs_.back()), &m)) return true;
    ::TranslateMessage(&m);
    ::DispatchMessageW(&m);
    return true;
}

void Win32Loop::ProcessMessages() {
    CheckThread();
    // Only what is pending now: a marker goes to the back of the queue, and the round ends
    // where it comes out. Messages posted meanwhile wait for the next round.
    ::PostMessageA(AsHandle<HWND>(wake_), kMarker, 0, 0);
    MSG m{};
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.hwnd == AsHandle<HWND>(wake_) && m.message == kMarker) break;
        if (m.message == WM_QUIT) {
            quit_ = true;
            continue;
        }
        if (!dialogs_.empty() && ::IsDialogMessageW(AsHandle<HWND>(dialogs_.back()), &m)) continue;
        ::TranslateMessage(&m);
        ::DispatchMessageW(&m);
    }
}

void Win32Loop::RunUntil(const std::function<bool()>& done) {
    CheckThread();
    ++depth_;
    while (!quit_ && !done()) Step(-1);
    --depth_;
}

bool Win32Loop::RunUntilFor(const std::function<bool()>& done, int limitMs) {
    CheckThread();
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(limitMs);
    ++depth_;
    bool ok = done();
    while (!quit_ && !ok) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) break;
        Step(static_cast<long>(std::min<ULONGLONG>(end - now, 20)));
        ok = done();
    }
    --depth_;
    return ok;
}

void Win32Loop::PostQuit() {
    quit_ = true;
    ::PostMessageA(AsHandle<HWND>(wake_), kWake, 0, 0);
}

}  // namespace zumelko::platform::win32
