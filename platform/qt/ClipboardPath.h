#pragma once
// Which clipboard the Linux desktop talks to. A Wayland compositor hands its clipboard only to
// the focused window, so a program that lives in the tray watches and sets it through a
// data-control protocol where the compositor offers one; elsewhere (X11, or a Wayland session
// without data control, such as GNOME's, which keeps XWayland's clipboard in step with its
// own) Qt's clipboard through X (XWayland) is what there is.
#include <string>

namespace zumelko::platform::qt {

enum class ClipboardPath { X11, Wayland };

struct ClipboardChoice {
    ClipboardPath path = ClipboardPath::X11;
    std::string why;  // one line for the log
};

// Globals a Wayland compositor announces that matter here.
struct WaylandGlobals {
    bool reached = false;          // connected and answered within the time given
    bool wlrDataControl = false;   // zwlr_data_control_manager_v1
    bool extDataControl = false;   // ext_data_control_manager_v1
};

// Connects to the compositor named by WAYLAND_DISPLAY (or the default one), lists its globals
// and disconnects; waits at most timeoutMs for the answer.
WaylandGlobals ProbeWayland(int timeoutMs = 2000);

// ZUMELKO_CLIPBOARD=wayland|x11 forces a path; otherwise Wayland where the session is a Wayland
// one, the compositor offers the data-control protocol wl-clipboard speaks, and wl-paste and
// wl-copy are installed.
ClipboardChoice ChooseClipboardPath();

}  // namespace zumelko::platform::qt
