#include "platform/qt/QtDesktop.h"

#include <wayland-client.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace zumelko::platform::qt {

namespace {
bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}
bool Is(const char* name, std::string_view wanted) {
    const char* value = std::getenv(name);
    return value != nullptr && wanted == value;
}
}  // namespace

std::optional<std::string> MissingDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string_view chosen = platform != nullptr ? platform : "";
    // A platform of Qt's own that needs no display (offscreen, vnc...) is Qt's business.
    if (!chosen.empty() && chosen.substr(0, 3) != "xcb" && chosen.substr(0, 7) != "wayland") return std::nullopt;
    std::string why;
    if (Set("DISPLAY")) {
        xcb_connection_t* x = xcb_connect(nullptr, nullptr);
        const bool ok = xcb_connection_has_error(x) == 0;
        xcb_disconnect(x);
        if (ok) return std::nullopt;
        why = std::string("cannot open the X display \"") + std::getenv("DISPLAY") + "\"";
    }
    if (Set("WAYLAND_DISPLAY") && chosen.substr(0, 3) != "xcb") {
        if (wl_display* w = wl_display_connect(nullptr)) {
            wl_display_disconnect(w);
            return std::nullopt;
        }
        why += std::string(why.empty() ? "" : ", nor ") + "cannot reach the Wayland display \"" +
               std::getenv("WAYLAND_DISPLAY") + "\"";
    }
    if (why.empty()) why = "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return why;
}

QtDesktop::QtDesktop(int& argc, char** argv, QtDesktopOptions options) {
    if (QApplication::instance() == nullptr) {
        // In a Wayland session the windows go through XWayland where there is one: the icon
        // window has to stay on top at the corner of the screen, which a Wayland window cannot
        // ask for, and without data control the X11 clipboard is the one there is.
        const bool wayland = Set("WAYLAND_DISPLAY") || Is("XDG_SESSION_TYPE", "wayland");
        if (wayland && Set("DISPLAY") && !Set("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    // The program lives in the tray: closing its last dialog is no reason to stop.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("zumelko"));
    QApplication::setWindowIcon(ProgramIcon());
    loop_ = std::make_unique<QtLoop>();
    sockets_ = std::make_unique<PosixSockets>(*loop_);
    loop_->AddIoSource(*sockets_);
    gdi_ = std::make_unique<QtGdi>(options.displayDepth);
    ClipboardChoice choice;
    if (options.clipboard) {
        choice.path = *options.clipboard;
    } else {
        choice = ChooseClipboardPath();
        if (choice.path == ClipboardPath::Wayland || Set("WAYLAND_DISPLAY")) {
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

void QtDesktop::QuitOnSessionEnd() {
    if (!sessionEnd_) sessionEnd_ = std::make_unique<SessionEnd>(*loop_);
}

QtDesktop::~QtDesktop() {
    sessionEnd_.reset();
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
