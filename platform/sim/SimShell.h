#pragma once
// The simulated notification area, cursor, application window and beep: every call is
// recorded, and a test can press mouse buttons over an icon that is shown.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Shell.h"
#include "platform/sim/SimLoop.h"

namespace zumelko::platform::sim {

class SimShell final : public Shell {
public:
    struct NotifyCall {
        std::uint32_t operation;  // NIM_ADD_, NIM_MODIFY_, NIM_DELETE_
        NotifyIconData data;      // as the caller passed it
        bool accepted;
    };
    struct ShowCall {
        Hwnd window;
        int command;
    };

    static constexpr Hicon kApplicationIcon = 0x0A1C;

    explicit SimShell(SimLoop& loop);
    ~SimShell() override;
    SimShell(const SimShell&) = delete;
    SimShell& operator=(const SimShell&) = delete;

    bool ShellNotifyIcon(std::uint32_t operation, const NotifyIconData& data) override;
    Point GetCursorPos() override { return cursor_; }
    bool SetForegroundWindow(Hwnd window) override;
    bool ShowWindow(Hwnd window, int command) override;
    Hwnd ApplicationWindow() override { return appWindow_; }
    Hicon ApplicationIcon() override { return kApplicationIcon; }
    bool MessageBeep(std::uint32_t type) override;

    // The notification area: every call, and the icons shown now, in the order they came.
    const std::vector<NotifyCall>& NotifyCalls() const { return calls_; }
    void ClearNotifyCalls() { calls_.clear(); }
    const std::vector<NotifyIconData>& Icons() const { return icons_; }
    std::optional<NotifyIconData> FindIcon(Hwnd window, std::uint32_t id) const;
    // The tooltip of a shown icon, up to its NUL.
    static std::string Tip(const NotifyIconData& data);

    void SetCursorPos(int x, int y) { cursor_ = {x, y}; }

    // A mouse message (WM_LBUTTONDOWN_, ...) over the first icon shown, as the shell delivers
    // it: the icon's callback message to its window, the id in wParam, the mouse message in
    // lParam. Posted waits for the loop; sent runs at once. False when no icon is shown.
    bool PostMouse(std::uint32_t mouseMessage);
    bool SendMouse(std::uint32_t mouseMessage);

    // The application window: its ShowWindow calls and whether it is visible now.
    const std::vector<ShowCall>& ShowCalls() const { return shows_; }
    bool ApplicationWindowVisible() const { return appVisible_; }
    const std::vector<Hwnd>& ForegroundCalls() const { return foreground_; }

    int Beeps() const { return beeps; }
    int beeps = 0;
    std::uint32_t lastBeepType = 0;

private:
    std::vector<NotifyIconData>::iterator Find(Hwnd window, std::uint32_t id);

    SimLoop& loop_;
    Hwnd appWindow_;
    bool appVisible_ = true;
    Point cursor_{};
    std::vector<NotifyIconData> icons_;
    std::vector<NotifyCall> calls_;
    std::vector<ShowCall> shows_;
    std::vector<Hwnd> foreground_;
};

}  // namespace zumelko::platform::sim
