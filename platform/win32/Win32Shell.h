#pragma once
// The notification area through Shell_NotifyIconA, and the program's application window.
//
// Deviation: when the shell restarts it makes a new taskbar and every notification icon is
// gone. The shell then broadcasts "TaskbarCreated" to the top-level windows; the application
// window takes it and adds every icon the program has added (and not deleted) again, with what
// it last set, so the program never runs on without a way to reach it.
#include <cstdint>
#include <map>
#include <utility>

#include "platform/Shell.h"

namespace zumelko::platform::win32 {

class Win32Shell final : public Shell {
public:
    Win32Shell();
    ~Win32Shell() override;
    Win32Shell(const Win32Shell&) = delete;
    Win32Shell& operator=(const Win32Shell&) = delete;

    // Shell overrides:
    bool ShellNotifyIcon(std::uint32_t operation, const NotifyIconData& data) override;
    Point GetCursorPos() override;
    bool SetForegroundWindow(Hwnd window) override;
    bool ShowWindow(Hwnd window, int command) override;
    Hwnd ApplicationWindow() override { return window_; }
    Hicon ApplicationIcon() override { return icon_; }
    bool MessageBeep(std::uint32_t type) override;

    // The icons the program has in the notification area now.
    std::size_t IconCount() const { return icons_.size(); }
    // How many times the icons were added again after the taskbar came back.
    int TaskbarRestarts() const { return restarts_; }
    // The icon last handed to the notification area (the program's at the size the system
    // asks for at the window's DPI), and that size for a DPI.
    Hicon HandedIcon() const { return handed_; }
    static int SmallIconSize(int dpi);
    int WindowDpi() const;
    // The message the shell broadcasts when it makes a new taskbar.
    static std::uint32_t TaskbarCreatedMessage();

    // The application window's procedure (an LRESULT CALLBACK in the .cpp).
    static LResult Procedure(Hwnd window, std::uint32_t message, WParam w, LParam l);

private:
    void AddAllAgain();
    void LoadTrayIcon(int dpi);
    Hicon TrayIconFor(Hicon icon) const;
    // The scale changed: the icons in the notification area are shown at the new size.
    void DpiChanged(int dpi);

    Hwnd window_ = 0;
    Hicon icon_ = 0;
    bool ownsIcon_ = false;
    Hicon trayIcon_ = 0;  // owned
    Hicon handed_ = 0;
    std::map<std::pair<Hwnd, std::uint32_t>, NotifyIconData> icons_;
    int restarts_ = 0;
};

}  // namespace zumelko::platform::win32
