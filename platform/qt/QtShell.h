#pragma once
// The notification area on the Linux desktop: a QSystemTrayIcon where the desktop has a tray,
// otherwise a small frameless always-on-top window carrying the icon that answers the same
// clicks, so the program is never out of reach. Mouse buttons become the callback messages the
// tray icon component expects (press and release of the left, right and middle buttons).
#include <QIcon>
#include <QPixmap>

#include <map>
#include <memory>

#include "platform/Shell.h"
#include "platform/qt/QtLoop.h"

class QSystemTrayIcon;
class QWidget;

namespace zumelko::platform::qt {

// The program's icon, drawn for this program (32 x 32).
QPixmap ProgramPixmap();
// The program icon in every size it is drawn at.
QIcon ProgramIcon();

class QtShell final : public Shell {
public:
    // forceIconWindow: use the icon window even where a tray exists (tests).
    explicit QtShell(QtLoop& loop, bool forceIconWindow = false);
    ~QtShell() override;
    QtShell(const QtShell&) = delete;
    QtShell& operator=(const QtShell&) = delete;

    bool ShellNotifyIcon(std::uint32_t operation, const NotifyIconData& data) override;
    Point GetCursorPos() override;
    bool SetForegroundWindow(Hwnd window) override;
    bool ShowWindow(Hwnd window, int command) override;
    Hwnd ApplicationWindow() override { return applicationWindow_; }
    Hicon ApplicationIcon() override { return kProgramIcon; }
    bool MessageBeep(std::uint32_t type) override;

    // The window standing in for the tray, when there is one (tests click it).
    QWidget* IconWindow() const;
    QSystemTrayIcon* Tray() const { return tray_.get(); }
    bool UsesTray() const { return tray_ != nullptr; }
    bool IconShown() const { return shown_; }
    std::size_t BeepCount() const { return beeps_; }
    bool ApplicationWindowVisible() const { return applicationWindowVisible_; }

    static constexpr Hicon kProgramIcon = 1;

private:
    class IconWindowImpl;
    void Click(std::uint32_t mouseMessage);
    void Apply(const NotifyIconData& data);
    QIcon IconFor(Hicon icon) const;

    QtLoop& loop_;
    bool forceIconWindow_;
    Hwnd applicationWindow_;
    bool applicationWindowVisible_ = true;
    bool shown_ = false;
    NotifyIconData data_{};
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<IconWindowImpl> window_;
    std::size_t beeps_ = 0;
};

}  // namespace zumelko::platform::qt
