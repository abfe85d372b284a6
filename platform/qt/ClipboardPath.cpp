#include "platform/qt/ClipboardPath.h"

#include <poll.h>
#include <wayland-client.h>

#include <QStandardPaths>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace zumelko::platform::qt {

namespace {

struct DisplayCloser {
    void operator()(wl_display* d) const { wl_display_disconnect(d); }
};
struct RegistryCloser {
    void operator()(wl_registry* r) const { wl_registry_destroy(r); }
};
struct CallbackCloser {
    void operator()(wl_callback* c) const { wl_callback_destroy(c); }
};

struct Listing {
    WaylandGlobals globals;
    bool done = false;
};

void OnGlobal(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
    auto* listing = static_cast<Listing*>(data);
    if (std::strcmp(interface, "zwlr_data_control_manager_v1") == 0) listing->globals.wlrDataControl = true;
    if (std::strcmp(interface, "ext_data_control_manager_v1") == 0) listing->globals.extDataControl = true;
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnDone(void* data, wl_callback*, std::uint32_t) { static_cast<Listing*>(data)->done = true; }
const wl_callback_listener kCallbackListener = {OnDone};

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v == nullptr ? std::string() : std::string(v);
}

}  // namespace

WaylandGlobals ProbeWayland(int timeoutMs) {
    Listing listing;
    std::unique_ptr<wl_display, DisplayCloser> display(wl_display_connect(nullptr));
    if (!display) return listing.globals;
    std::unique_ptr<wl_registry, RegistryCloser> registry(wl_display_get_registry(display.get()));
    wl_registry_add_listener(registry.get(), &kRegistryListener, &listing);
    // The answer to a sync comes after every global has been announced. A compositor that
    // does not answer is given up on rather than waited for.
    std::unique_ptr<wl_callback, CallbackCloser> sync(wl_display_sync(display.get()));
    wl_callback_add_listener(sync.get(), &kCallbackListener, &listing);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!listing.done) {
        if (wl_display_dispatch_pending(display.get()) < 0) return WaylandGlobals{};
        if (listing.done) break;
        if (wl_display_flush(display.get()) < 0) return WaylandGlobals{};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return WaylandGlobals{};
        if (wl_display_prepare_read(display.get()) != 0) continue;
        pollfd fd{wl_display_get_fd(display.get()), POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            wl_display_cancel_read(display.get());
            continue;
        }
        if (wl_display_read_events(display.get()) < 0) return WaylandGlobals{};
    }
    listing.globals.reached = true;
    return listing.globals;
}

ClipboardChoice ChooseClipboardPath() {
    const std::string forced = Env("ZUMELKO_CLIPBOARD");
    if (forced == "x11") return {ClipboardPath::X11, "the X11 clipboard, as ZUMELKO_CLIPBOARD asks"};
    if (forced == "wayland") return {ClipboardPath::Wayland, "the Wayland clipboard, as ZUMELKO_CLIPBOARD asks"};
    const std::string unknown =
        forced.empty() ? std::string() : " (ZUMELKO_CLIPBOARD=" + forced + " is neither wayland nor x11)";
    const bool waylandSession = !Env("WAYLAND_DISPLAY").empty() || Env("XDG_SESSION_TYPE") == "wayland";
    if (!waylandSession) return {ClipboardPath::X11, "the X11 clipboard" + unknown};
    const WaylandGlobals globals = ProbeWayland();
    if (!globals.reached) {
        return {ClipboardPath::X11, "the X11 clipboard: the Wayland compositor could not be reached"};
    }
    // wl-clipboard as Debian 12 ships it speaks the wlroots protocol only. GNOME offers none,
    // and needs none: mutter tells X11 programs of every Wayland copy and hands what they copy
    // to Wayland programs, whichever window has the focus.
    if (!globals.wlrDataControl) {
        return {ClipboardPath::X11, "the X11 clipboard through XWayland: the compositor offers no data-control protocol"};
    }
    if (QStandardPaths::findExecutable(QStringLiteral("wl-paste")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("wl-copy")).isEmpty()) {
        return {ClipboardPath::X11, "the X11 clipboard through XWayland: wl-paste and wl-copy (wl-clipboard) are not installed"};
    }
    return {ClipboardPath::Wayland, "the Wayland clipboard through wl-paste and wl-copy" + unknown};
}

}  // namespace zumelko::platform::qt
