#include "desktop/TaskBar.h"

#include <algorithm>
#include <exception>

#include "framework/Application.h"
#include "framework/Error.h"
#include "platform/Desktop.h"

namespace zumelko {

using platform::Current;
using platform::LParam;
using platform::LResult;
using platform::Point;
using platform::WParam;

TTaskBar::HiddenWindow::HiddenWindow(platform::WindowProc proc)
    : handle_(Current().loop().CreateHiddenWindow(std::move(proc))) {}

TTaskBar::HiddenWindow::~HiddenWindow() { Current().loop().DestroyWindow(handle_); }

TTaskBar::TTaskBar(Component* owner)
    : Component(owner),
      window_([this](std::uint32_t message, WParam w, LParam l) { return WndProc(message, w, l); }) {}

TTaskBar::~TTaskBar() {
    // The icon goes before the window its messages are sent to.
    DeleteIcon();
}

void TTaskBar::Loaded() {
    Component::Loaded();
    if (enableTaskTray_) AddIcon();
    ApplyEnableTaskBar();
}

void TTaskBar::SetIcon(const Icon& icon) {
    icon_ = icon;
    IconChanged();
}

void TTaskBar::SetEnableTaskBar(bool enable) {
    enableTaskBar_ = enable;
    ApplyEnableTaskBar();
}

void TTaskBar::ApplyEnableTaskBar() {
    auto& shell = Current().shell();
    shell.ShowWindow(shell.ApplicationWindow(), enableTaskBar_ ? platform::SW_SHOW_ : platform::SW_HIDE_);
}

void TTaskBar::SetEnableTaskTray(bool enable) {
    enableTaskTray_ = enable;
    if (enable) {
        AddIcon();
    } else {
        DeleteIcon();
    }
}

void TTaskBar::SetTips(std::string tips) {
    if (tips.size() > kMaxTips) tips.resize(kMaxTips);
    tips_ = std::move(tips);
    ModifyIcon();
}

void TTaskBar::FillTipAndIcon() {
    auto& tip = iconData_.szTip;
    tip.fill('\0');
    const std::size_t n = std::min(tips_.size(), tip.size() - 1);
    std::copy_n(tips_.begin(), n, tip.begin());
    iconData_.hIcon = icon_.Empty() ? Current().shell().ApplicationIcon() : icon_.Handle();
}

void TTaskBar::AddIcon() {
    iconData_.cbSize = kIconDataSize;
    iconData_.hWnd = window_.Get();
    iconData_.uID = kIconId;
    iconData_.uFlags = platform::NIF_MESSAGE_ | platform::NIF_ICON_ | platform::NIF_TIP_;
    iconData_.uCallbackMessage = WM_TASKTRAY;
    FillTipAndIcon();
    Current().shell().ShellNotifyIcon(platform::NIM_ADD_, iconData_);
}

void TTaskBar::ModifyIcon() {
    // Before the first AddIcon the record names no icon, and the shell refuses the call; that
    // is harmless, the next AddIcon carries the new tip and icon anyway.
    FillTipAndIcon();
    if (enableTaskTray_) Current().shell().ShellNotifyIcon(platform::NIM_MODIFY_, iconData_);
}

void TTaskBar::DeleteIcon() { Current().shell().ShellNotifyIcon(platform::NIM_DELETE_, iconData_); }

LResult TTaskBar::WndProc(std::uint32_t message, WParam /*w*/, LParam l) {
    // Read first: by the time the handlers below have run the cursor may be elsewhere.
    const Point cursor = Current().shell().GetCursorPos();
    if (message != WM_TASKTRAY) return 0;
    try {
        HandleMouse(l, cursor);
    } catch (const std::exception& e) {
        App().HandleException(this, e);
    } catch (...) {
        App().HandleException(this, Error("unknown exception"));
    }
    return 0;
}

void TTaskBar::HandleMouse(LParam mouseMessage, Point cursor) {
    if (OnTrayClick) {
        switch (mouseMessage) {
        case platform::WM_LBUTTONDOWN_: OnTrayClick(TMouseButton::mbLeft); break;
        case platform::WM_RBUTTONDOWN_: OnTrayClick(TMouseButton::mbRight); break;
        case platform::WM_MBUTTONDOWN_: OnTrayClick(TMouseButton::mbMiddle); break;
        default: break;
        }
    }
    switch (mouseMessage) {
    case platform::WM_LBUTTONUP_: ShowMenu(&TTaskBar::popupLeft_, cursor); break;
    case platform::WM_MBUTTONUP_: ShowMenu(&TTaskBar::popupMiddle_, cursor); break;
    case platform::WM_RBUTTONUP_: ShowMenu(&TTaskBar::popupRight_, cursor); break;
    default: break;
    }
}

void TTaskBar::ShowMenu(PopupMenu* TTaskBar::*menu, Point cursor) {
    if (this->*menu == nullptr) return;
    // Without the foreground the menu would not close when the user clicks elsewhere.
    auto& shell = Current().shell();
    shell.SetForegroundWindow(shell.ApplicationWindow());
    Current().loop().ProcessMessages();
    // A message just dispatched may have taken the menu away.
    if (PopupMenu* m = this->*menu) m->Popup(cursor.x, cursor.y);
}

}  // namespace zumelko
