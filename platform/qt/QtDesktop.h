#pragma once
// The Linux desktop through Qt 6: one object per process, made after (or together with) the
// QApplication and installed before any component is created.
#include <QApplication>

#include <memory>
#include <optional>
#include <string>

#include "platform/Desktop.h"
#include "platform/posix/PosixSockets.h"
#include "platform/qt/BrowserDde.h"
#include "platform/qt/ClipboardPath.h"
#include "platform/qt/QtClipboard.h"
#include "platform/qt/QtGdi.h"
#include "platform/qt/QtLoop.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/QtUiHost.h"
#include "platform/qt/SessionEnd.h"
#include "platform/qt/SmbNetwork.h"
#include "platform/qt/WaylandClipboard.h"

namespace zumelko::platform::qt {

struct QtDesktopOptions {
    bool forceIconWindow = false;  // the icon window even where there is a tray
    int displayDepth = 0;          // 0: the screen's
    std::optional<ClipboardPath> clipboard;  // unset: chosen from the session (ChooseClipboardPath)
};

class QtDesktop final : public Desktop {
public:
    // Uses the running QApplication, or makes one from the arguments.
    QtDesktop(int& argc, char** argv, QtDesktopOptions options = {});
    ~QtDesktop() override;
    QtDesktop(const QtDesktop&) = delete;
    QtDesktop& operator=(const QtDesktop&) = delete;

    QtLoop& loop() override { return *loop_; }
    PosixSockets& sockets() override { return *sockets_; }
    Clipboard& clipboard() override { return *clipboard_; }
    // The one that is in use; the other is null.
    QtClipboard* x11Clipboard() { return x11Clipboard_; }
    WaylandClipboard* waylandClipboard() { return waylandClipboard_; }
    QtGdi& gdi() override { return *gdi_; }
    QtShell& shell() override { return *shell_; }
    SmbNetwork& network() override { return *network_; }
    BrowserDde& dde() override { return *dde_; }
    QtUiHost& ui() override { return *ui_; }

    // From now on the session's end and the signals that end a program (SessionEnd.h) end the
    // loop as the program's own exit does. For the program, not for tests.
    void QuitOnSessionEnd();

private:
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QtLoop> loop_;
    std::unique_ptr<PosixSockets> sockets_;
    std::unique_ptr<QtGdi> gdi_;
    std::unique_ptr<Clipboard> clipboard_;
    QtClipboard* x11Clipboard_ = nullptr;
    WaylandClipboard* waylandClipboard_ = nullptr;
    std::unique_ptr<QtShell> shell_;
    std::unique_ptr<SmbNetwork> network_;
    std::unique_ptr<BrowserDde> dde_;
    std::unique_ptr<QtUiHost> ui_;
    std::unique_ptr<SessionEnd> sessionEnd_;
};

// Why no desktop can be shown (no X display or Wayland compositor reached), or nothing when
// one can: Qt itself ends the process on a display it cannot open.
std::optional<std::string> MissingDisplay();

// Installs a desktop for as long as it lives.
class ScopedQtDesktop {
public:
    ScopedQtDesktop(int& argc, char** argv, QtDesktopOptions options = {}) : desktop_(argc, argv, options) {
        Install(&desktop_);
    }
    ~ScopedQtDesktop() { Install(nullptr); }
    ScopedQtDesktop(const ScopedQtDesktop&) = delete;
    ScopedQtDesktop& operator=(const ScopedQtDesktop&) = delete;
    QtDesktop* operator->() { return &desktop_; }
    QtDesktop& operator*() { return desktop_; }

private:
    QtDesktop desktop_;
};

}  // namespace zumelko::platform::qt
