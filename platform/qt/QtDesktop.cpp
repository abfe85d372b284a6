#include "platform/qt/QtDesktop.h"

#include <cstdio>
#include <cstdlib>

namespace zumelko::platform::qt {

QtDesktop::QtDesktop(int& argc, char** argv, QtDesktopOptions options) {
    if (QApplication::instance() == nullptr) app_ = std::make_unique<QApplication>(argc, argv);
    // The program lives in the tray: closing its last dialog is no reason to stop.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("zumelko"));
    QApplication::setWindowIcon(QIcon(ProgramPixmap()));
    loop_ = std::make_unique<QtLoop>();
    sockets_ = std::make_unique<PosixSockets>(*loop_);
    loop_->AddIoSource(*sockets_);
    gdi_ = std::make_unique<QtGdi>(options.displayDepth);
    ClipboardChoice choice;
    if (options.clipboard) {
        choice.path = *options.clipboard;
    } else {
        choice = ChooseClipboardPath();
        if (choice.path == ClipboardPath::Wayland || std::getenv("WAYLAND_DISPLAY") != nullptr) {
            std::fprintf(stderr, "zumelko: using %s\n", choice.why.c_str());
        }
    }
    if (choice.path == ClipboardPath::Wayland) {
        auto clipboard = std::make_unique<WaylandClipboard>(*loop_, *gdi_);
        waylandClipboard_ = clipboard.get();
        clipboard_ = std::move(clipboard);
    } else {
        auto clipboard = std::make_unique<QtClipboard>(*loop_, *gdi_);
        x11Clipboard_ = clipboard.get();
        clipboard_ = std::move(clipboard);
    }
    shell_ = std::make_unique<QtShell>(*loop_, options.forceIconWindow);
    network_ = std::make_unique<SmbNetwork>();
    dde_ = std::make_unique<BrowserDde>();
    ui_ = std::make_unique<QtUiHost>(*loop_);
}

QtDesktop::~QtDesktop() {
    ui_.reset();
    shell_.reset();
    clipboard_.reset();
    loop_->RemoveIoSource(*sockets_);
    sockets_.reset();
    gdi_.reset();
    loop_.reset();
    app_.reset();
}

}  // namespace zumelko::platform::qt
