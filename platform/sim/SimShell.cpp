#include "platform/sim/SimShell.h"

#include <algorithm>
#include <cstring>

namespace zumelko::platform::sim {

SimShell::SimShell(SimLoop& loop)
    : loop_(loop), appWindow_(loop.CreateHiddenWindow([](std::uint32_t, WParam, LParam) -> LResult { return 0; })) {}

SimShell::~SimShell() { loop_.DestroyWindow(appWindow_); }

std::vector<NotifyIconData>::iterator SimShell::Find(Hwnd window, std::uint32_t id) {
    return std::find_if(icons_.begin(), icons_.end(),
                        [&](const NotifyIconData& d) { return d.hWnd == window && d.uID == id; });
}

std::optional<NotifyIconData> SimShell::FindIcon(Hwnd window, std::uint32_t id) const {
    auto it = std::find_if(icons_.begin(), icons_.end(),
                           [&](const NotifyIconData& d) { return d.hWnd == window && d.uID == id; });
    if (it == icons_.end()) return std::nullopt;
    return *it;
}

std::string SimShell::Tip(const NotifyIconData& data) {
    return std::string(data.szTip.data(), ::strnlen(data.szTip.data(), data.szTip.size()));
}

bool SimShell::ShellNotifyIcon(std::uint32_t operation, const NotifyIconData& data) {
    bool accepted = false;
    auto it = Find(data.hWnd, data.uID);
    switch (operation) {
    case NIM_ADD_:
        // The shell wants a live window to send the icon's messages to, and one icon per id.
        if (it == icons_.end() && loop_.IsWindow(data.hWnd)) {
            icons_.push_back(data);
            accepted = true;
        }
        break;
    case NIM_MODIFY_:
        if (it != icons_.end()) {
            if (data.uFlags & NIF_MESSAGE_) it->uCallbackMessage = data.uCallbackMessage;
            if (data.uFlags & NIF_ICON_) it->hIcon = data.hIcon;
            if (data.uFlags & NIF_TIP_) it->szTip = data.szTip;
            it->uFlags |= data.uFlags;
            accepted = true;
        }
        break;
    case NIM_DELETE_:
        if (it != icons_.end()) {
            icons_.erase(it);
            accepted = true;
        }
        break;
    default: break;
    }
    calls_.push_back({operation, data, accepted});
    return accepted;
}

bool SimShell::SetForegroundWindow(Hwnd window) {
    foreground_.push_back(window);
    return loop_.IsWindow(window);
}

bool SimShell::ShowWindow(Hwnd window, int command) {
    shows_.push_back({window, command});
    // Like ShowWindow: the result says whether the window was visible before.
    const bool wasVisible = window == appWindow_ && appVisible_;
    if (window == appWindow_) appVisible_ = command != SW_HIDE_;
    return wasVisible;
}

bool SimShell::MessageBeep(std::uint32_t type) {
    ++beeps;
    lastBeepType = type;
    return true;
}

bool SimShell::PostMouse(std::uint32_t mouseMessage) {
    if (icons_.empty()) return false;
    const NotifyIconData& icon = icons_.front();
    return loop_.PostMessage(icon.hWnd, icon.uCallbackMessage, icon.uID, static_cast<LParam>(mouseMessage));
}

bool SimShell::SendMouse(std::uint32_t mouseMessage) {
    if (icons_.empty()) return false;
    const NotifyIconData icon = icons_.front();  // the handler may remove it
    if (!loop_.IsWindow(icon.hWnd)) return false;
    loop_.SendMessage(icon.hWnd, icon.uCallbackMessage, icon.uID, static_cast<LParam>(mouseMessage));
    return true;
}

}  // namespace zumelko::platform::sim
