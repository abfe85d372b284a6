#include "platform/win32/Win32Shell.h"

#include <cstring>
#include <stdexcept>

#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

namespace {

constexpr char kClassName[] = "ZumelkoApplication";

LRESULT CALLBACK ApplicationProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    return static_cast<LRESULT>(Win32Shell::Procedure(FromHandle(window), message, w, l));
}

// Functions of newer systems, looked up where they exist: the program starts on older ones.
template <typename F>
F UserFunction(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), name)));
}

NOTIFYICONDATAA ToNative(const NotifyIconData& data) {
    // The seam's record is the 32-bit one; this system's own is bigger, and its size is what
    // the shell wants to see.
    NOTIFYICONDATAA n{};
    n.cbSize = NOTIFYICONDATAA_V1_SIZE;
    n.hWnd = AsHandle<HWND>(data.hWnd);
    n.uID = data.uID;
    n.uFlags = data.uFlags;
    n.uCallbackMessage = data.uCallbackMessage;
    n.hIcon = AsHandle<HICON>(data.hIcon);
    static_assert(sizeof n.szTip >= 64);
    std::memcpy(n.szTip, data.szTip.data(), data.szTip.size());
    n.szTip[data.szTip.size() - 1] = '\0';
    return n;
}

}  // namespace

static_assert(NIM_ADD_ == NIM_ADD && NIM_MODIFY_ == NIM_MODIFY && NIM_DELETE_ == NIM_DELETE);
static_assert(NIF_MESSAGE_ == NIF_MESSAGE && NIF_ICON_ == NIF_ICON && NIF_TIP_ == NIF_TIP);

std::uint32_t Win32Shell::TaskbarCreatedMessage() {
    static const UINT message = ::RegisterWindowMessageA("TaskbarCreated");
    return message;
}

Win32Shell::Win32Shell() {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    // The icon resource the build links in; the system's own when it is missing.
    HICON icon = static_cast<HICON>(::LoadImageA(instance, "MAINICON", IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    if (icon != nullptr) {
        ownsIcon_ = true;
    } else {
        icon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    }
    icon_ = FromHandle(icon);

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ApplicationProc;
    wc.hInstance = instance;
    wc.hIcon = icon;
    wc.lpszClassName = kClassName;
    if (::RegisterClassExA(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("RegisterClassExA failed");
    }
    TaskbarCreatedMessage();
    // Top level and never shown unless the taskbar button is asked for: the taskbar's
    // broadcast reaches only such windows.
    HWND h = ::CreateWindowExA(0, kClassName, "Zumelko", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                               CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this);
    if (h == nullptr) throw std::runtime_error("CreateWindowExA failed");
    window_ = FromHandle(h);
    LoadTrayIcon(WindowDpi());
}

int Win32Shell::WindowDpi() const {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = UserFunction<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(AsHandle<HWND>(window_)); dpi != 0) return static_cast<int>(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int Win32Shell::SmallIconSize(int dpi) {
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    static const auto forDpi = UserFunction<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
    if (forDpi != nullptr) return forDpi(SM_CXSMICON, static_cast<UINT>(dpi));
    // Older systems know one DPI, the system's, and say the size for it.
    return ::GetSystemMetrics(SM_CXSMICON);
}

void Win32Shell::LoadTrayIcon(int dpi) {
    const int size = SmallIconSize(dpi);
    // The icon file holds an image drawn for each size the shell asks for at 100 to 200 %.
    HICON icon = static_cast<HICON>(
        ::LoadImageA(::GetModuleHandleA(nullptr), "MAINICON", IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    if (icon == nullptr) return;  // no icon resource: the application icon stands in
    if (trayIcon_ != 0) ::DestroyIcon(AsHandle<HICON>(trayIcon_));
    trayIcon_ = FromHandle(icon);
}

Hicon Win32Shell::TrayIconFor(Hicon icon) const {
    // The program's icon goes to the notification area at the size it is shown there.
    return icon == icon_ && trayIcon_ != 0 ? trayIcon_ : icon;
}

void Win32Shell::DpiChanged(int dpi) {
    const Hicon before = trayIcon_;
    LoadTrayIcon(dpi);
    if (trayIcon_ == before) return;
    for (auto& [key, data] : icons_) {
        if ((data.uFlags & NIF_ICON) == 0 || data.hIcon != icon_) continue;
        NotifyIconData changed = data;
        changed.uFlags = NIF_ICON;
        NOTIFYICONDATAA n = ToNative(changed);
        n.hIcon = AsHandle<HICON>(TrayIconFor(data.hIcon));
        ::Shell_NotifyIconA(NIM_MODIFY, &n);
        handed_ = FromHandle(n.hIcon);
    }
}

Win32Shell::~Win32Shell() {
    for (auto& [key, data] : icons_) {
        NOTIFYICONDATAA n = ToNative(data);
        ::Shell_NotifyIconA(NIM_DELETE, &n);
    }
    ::DestroyWindow(AsHandle<HWND>(window_));
    if (ownsIcon_) ::DestroyIcon(AsHandle<HICON>(icon_));
    if (trayIcon_ != 0) ::DestroyIcon(AsHandle<HICON>(trayIcon_));
}

LResult Win32Shell::Procedure(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    HWND hwnd = AsHandle<HWND>(window);
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(l);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* shell = reinterpret_cast<Win32Shell*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (shell != nullptr && message == TaskbarCreatedMessage()) {
        shell->AddAllAgain();
        return 0;
    }
    if (shell != nullptr && (message == WM_DPICHANGED || message == WM_DISPLAYCHANGE)) {
        // The notification area shows its icons at the size of the new scale.
        shell->DpiChanged(message == WM_DPICHANGED ? HIWORD(w) : shell->WindowDpi());
        return 0;
    }
    if (message == WM_CLOSE) {
        // The taskbar button's close hides the window; the program ends from its menu.
        ::ShowWindow(hwnd, SW_HIDE);
        return 0;
    }
    return static_cast<LResult>(::DefWindowProcA(hwnd, message, w, l));
}

void Win32Shell::AddAllAgain() {
    ++restarts_;
    for (auto& [key, data] : icons_) {
        NOTIFYICONDATAA n = ToNative(data);
        n.hIcon = AsHandle<HICON>(TrayIconFor(data.hIcon));
        ::Shell_NotifyIconA(NIM_ADD, &n);
    }
}

bool Win32Shell::ShellNotifyIcon(std::uint32_t operation, const NotifyIconData& data) {
    NOTIFYICONDATAA n = ToNative(data);
    n.hIcon = AsHandle<HICON>(TrayIconFor(data.hIcon));
    if (::Shell_NotifyIconA(operation, &n) == FALSE) return false;
    if ((data.uFlags & NIF_ICON) != 0 && operation != NIM_DELETE) handed_ = FromHandle(n.hIcon);
    const auto key = std::make_pair(data.hWnd, data.uID);
    if (operation == NIM_ADD) {
        icons_[key] = data;
    } else if (operation == NIM_DELETE) {
        icons_.erase(key);
    } else if (operation == NIM_MODIFY) {
        auto it = icons_.find(key);
        if (it != icons_.end()) {
            NotifyIconData& kept = it->second;
            if ((data.uFlags & NIF_MESSAGE) != 0) kept.uCallbackMessage = data.uCallbackMessage;
            if ((data.uFlags & NIF_ICON) != 0) kept.hIcon = data.hIcon;
            if ((data.uFlags & NIF_TIP) != 0) kept.szTip = data.szTip;
            kept.uFlags |= data.uFlags;
        }
    }
    return true;
}

Point Win32Shell::GetCursorPos() {
    POINT p{};
    ::GetCursorPos(&p);
    return {p.x, p.y};
}

bool Win32Shell::SetForegroundWindow(Hwnd window) { return ::SetForegroundWindow(AsHandle<HWND>(window)) != FALSE; }

bool Win32Shell::ShowWindow(Hwnd window, int command) { return ::ShowWindow(AsHandle<HWND>(window), command) != FALSE; }

bool Win32Shell::MessageBeep(std::uint32_t type) { return ::MessageBeep(type) != FALSE; }

}  // namespace zumelko::platform::win32
