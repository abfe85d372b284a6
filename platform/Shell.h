#pragma once
// The notification area, the cursor, the application window and the beep.
#include <array>
#include <cstdint>

#include "platform/WinTypes.h"

namespace zumelko::platform {

constexpr std::uint32_t NIM_ADD_ = 0;
constexpr std::uint32_t NIM_MODIFY_ = 1;
constexpr std::uint32_t NIM_DELETE_ = 2;
constexpr std::uint32_t NIF_MESSAGE_ = 1;
constexpr std::uint32_t NIF_ICON_ = 2;
constexpr std::uint32_t NIF_TIP_ = 4;
constexpr int SW_HIDE_ = 0;
constexpr int SW_SHOW_ = 5;

// NOTIFYICONDATAA as the program fills it. cbSize is the size of the 32-bit record (88); a
// 64-bit Windows desktop copies the fields into its own record and sets the size of that.
struct NotifyIconData {
    std::uint32_t cbSize = 0;
    Hwnd hWnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;
    std::uint32_t uCallbackMessage = 0;
    Hicon hIcon = 0;
    std::array<char, 64> szTip{};
};

class Shell {
public:
    virtual ~Shell() = default;

    // Shell_NotifyIconA: an icon is known by (hWnd, uID); its mouse messages come back to hWnd
    // as uCallbackMessage with the mouse message in lParam. False when the shell refused.
    virtual bool ShellNotifyIcon(std::uint32_t operation, const NotifyIconData& data) = 0;
    // Screen coordinates.
    virtual Point GetCursorPos() = 0;
    virtual bool SetForegroundWindow(Hwnd window) = 0;
    virtual bool ShowWindow(Hwnd window, int command) = 0;
    // The top-level window that carries the program's taskbar button.
    virtual Hwnd ApplicationWindow() = 0;
    // The program's own icon (32 x 32).
    virtual Hicon ApplicationIcon() = 0;
    // 0xFFFFFFFF: the simple beep.
    virtual bool MessageBeep(std::uint32_t type) = 0;
};

}  // namespace zumelko::platform
