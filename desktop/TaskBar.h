#pragma once
// The program's icon in the notification area: one popup menu per mouse button on release,
// button presses reported through OnTrayClick, and the application's taskbar button hidden
// or shown.
#include <array>
#include <cstdint>
#include <string>

#include "framework/Component.h"
#include "framework/Event.h"
#include "framework/Menus.h"
#include "platform/Shell.h"
#include "platform/WinTypes.h"

namespace zumelko {

enum class TMouseButton { mbLeft = 0, mbRight = 1, mbMiddle = 2 };

// The press of a mouse button over the icon; no Sender.
using TTrayEvent = Event<TMouseButton>;

// An icon as the desktop hands it out: a handle the desktop owns, or empty.
class Icon {
public:
    Icon() = default;
    explicit Icon(platform::Hicon handle) : handle_(handle) {}
    platform::Hicon Handle() const { return handle_; }
    bool Empty() const { return handle_ == 0; }
    bool operator==(const Icon&) const = default;

private:
    platform::Hicon handle_ = 0;
};

constexpr std::uint32_t WM_TASKTRAY = platform::WM_APP_ + 100;  // 0x8064

class TTaskBar final : public Component {
public:
    static constexpr std::uint32_t kIconId = 1;
    static constexpr std::uint32_t kIconDataSize = 88;
    static constexpr std::size_t kMaxTips = 255;

    explicit TTaskBar(Component* owner);
    ~TTaskBar() override;

    void Loaded() override;

    const Icon& GetIcon() const { return icon_; }
    void SetIcon(const Icon& icon);
    bool EnableTaskBar() const { return enableTaskBar_; }
    void SetEnableTaskBar(bool enable);
    bool EnableTaskTray() const { return enableTaskTray_; }
    void SetEnableTaskTray(bool enable);
    const std::string& Tips() const { return tips_; }
    // Keeps at most 255 bytes; the notification area shows the first 63 of them.
    void SetTips(std::string tips);
    PopupMenu* PopupMenuLeft() const { return popupLeft_; }
    void SetPopupMenuLeft(PopupMenu* menu) { popupLeft_ = menu; }
    PopupMenu* PopupMenuMiddle() const { return popupMiddle_; }
    void SetPopupMenuMiddle(PopupMenu* menu) { popupMiddle_ = menu; }
    PopupMenu* PopupMenuRight() const { return popupRight_; }
    void SetPopupMenuRight(PopupMenu* menu) { popupRight_ = menu; }

    TTrayEvent OnTrayClick;

    // The record of the last notification-area call.
    const platform::NotifyIconData& IconData() const { return iconData_; }
    // The hidden window that receives the icon's mouse messages.
    platform::Hwnd Handle() const { return window_.Get(); }

private:
    // A window that is never shown, destroyed with its owner.
    class HiddenWindow {
    public:
        explicit HiddenWindow(platform::WindowProc proc);
        ~HiddenWindow();
        HiddenWindow(const HiddenWindow&) = delete;
        HiddenWindow& operator=(const HiddenWindow&) = delete;
        platform::Hwnd Get() const { return handle_; }

    private:
        platform::Hwnd handle_;
    };

    platform::LResult WndProc(std::uint32_t message, platform::WParam w, platform::LParam l);
    void HandleMouse(platform::LParam mouseMessage, platform::Point cursor);
    void ShowMenu(PopupMenu* TTaskBar::*menu, platform::Point cursor);
    void AddIcon();
    void ModifyIcon();
    void DeleteIcon();
    void IconChanged() { ModifyIcon(); }
    void FillTipAndIcon();
    void ApplyEnableTaskBar();

    platform::NotifyIconData iconData_{};
    bool enableTaskBar_ = true;
    bool enableTaskTray_ = true;
    Icon icon_;
    std::string tips_;
    PopupMenu* popupLeft_ = nullptr;
    PopupMenu* popupMiddle_ = nullptr;
    PopupMenu* popupRight_ = nullptr;
    HiddenWindow window_;
};

}  // namespace zumelko
