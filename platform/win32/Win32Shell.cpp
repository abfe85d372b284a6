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
}

Win32Shell::~Win32Shell() {
    for (auto& [key, data] : icons_) {
        NOTIFYICONDATAA n = ToNative(data);
        ::Shell_NotifyIconA(NIM_DELETE, &n);
    }
    ::DestroyWindow(AsHandle<HWND>(window_));
    if (ownsIcon_) ::DestroyIcon(AsHandle<HICON>(icon_));
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
        ::Shell_NotifyIconA(NIM_ADD, &n);
    }
}

bool Win32Shell::ShellNotifyIcon(std::uint32_t operation, const NotifyIconData& data) {
    NOTIFYICONDATAA n = ToNative(data);
    if (::Shell_NotifyIconA(operation, &n) == FALSE) return false;
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
