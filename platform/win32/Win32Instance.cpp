#include "platform/win32/Win32Instance.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "framework/Application.h"
#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

namespace {

constexpr char kClassName[] = "ZumelkoInstance";

LRESULT CALLBACK InstanceProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    return static_cast<LRESULT>(Win32Instance::Procedure(FromHandle(window), message, w, l));
}

struct HandleClose {
    void operator()(HANDLE h) const noexcept { ::CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

std::vector<HWND> InstanceWindows() {
    std::vector<HWND> found;
    HWND window = nullptr;
    while ((window = ::FindWindowExA(nullptr, window, kClassName, nullptr)) != nullptr) found.push_back(window);
    return found;
}

}  // namespace

std::uint32_t QuitMessage() {
    static const UINT message = ::RegisterWindowMessageA("Zumelko.Quit");
    return message;
}

Win32Instance::Win32Instance(Win32Desktop& desktop) : desktop_(desktop) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = InstanceProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    if (::RegisterClassExA(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("RegisterClassExA failed");
    }
    QuitMessage();
    // Top level and never shown: the session's end is told to top-level windows only, and
    // FindWindow looks for no other kind.
    HWND h = ::CreateWindowExA(0, kClassName, "Zumelko", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, this);
    if (h == nullptr) throw std::runtime_error("CreateWindowExA failed");
    window_ = FromHandle(h);
}

Win32Instance::~Win32Instance() { ::DestroyWindow(AsHandle<HWND>(window_)); }

LResult Win32Instance::Procedure(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    HWND hwnd = AsHandle<HWND>(window);
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(l);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Instance*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self != nullptr) {
        if (message == QuitMessage()) {
            self->desktop_.loop().PostQuit();
            return 1;
        }
        if (message == WM_QUERYENDSESSION) return TRUE;
        if (message == WM_ENDSESSION) {
            if (w != FALSE) self->EndSession();
            return 0;
        }
    }
    return static_cast<LResult>(::DefWindowProcA(hwnd, message, w, l));
}

void Win32Instance::EndSession() {
    // Whatever is on the stack beneath (a dialog's loop, a menu) never runs again: the process
    // ends here. Nothing may unwind through user32.
    try {
        if (Application* application = CurrentApplication()) application->DestroyForms();
        desktop_.network().StopDiscovery();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zumelko: at the end of the session: %s\n", e.what());
    } catch (...) {
        std::fputs("zumelko: unknown exception at the end of the session\n", stderr);
    }
    std::fflush(nullptr);
    ::ExitProcess(0);
}

int QuitRunningInstances(unsigned long waitMs) {
    const std::vector<HWND> windows = InstanceWindows();
    if (windows.empty()) {
        std::fputs("zumelko: no instance is running\n", stderr);
        return 1;
    }
    const ULONGLONG end = ::GetTickCount64() + waitMs;
    int code = 0;
    for (HWND window : windows) {
        DWORD id = 0;
        ::GetWindowThreadProcessId(window, &id);
        UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
        const ULONGLONG now = ::GetTickCount64();
        const UINT left = now < end ? static_cast<UINT>(end - now) : 0;
        DWORD_PTR answer = 0;
        if (::SendMessageTimeoutA(window, QuitMessage(), 0, 0, SMTO_ABORTIFHUNG, left, &answer) == 0 || answer != 1) {
            std::fputs("zumelko: the running instance did not answer\n", stderr);
            code = 2;
            continue;
        }
        const ULONGLONG after = ::GetTickCount64();
        const DWORD rest = after < end ? static_cast<DWORD>(end - after) : 0;
        if (!process || ::WaitForSingleObject(process.get(), rest) != WAIT_OBJECT_0) {
            std::fputs("zumelko: the running instance has not ended in time\n", stderr);
            code = 2;
        }
    }
    return code;
}

std::optional<int> QuitFromCommandLine() {
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&::LocalFree)> argv(::CommandLineToArgvW(::GetCommandLineW(), &count),
                                                          &::LocalFree);
    if (!argv || count != 2 || ::lstrcmpiW(argv.get()[1], L"/quit") != 0) return std::nullopt;
    return QuitRunningInstances(10000);
}

}  // namespace zumelko::platform::win32
