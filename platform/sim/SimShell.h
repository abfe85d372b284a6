#pragma once
#include "platform/Shell.h"
#include "platform/sim/SimLoop.h"

namespace zumelko::platform::sim {

// Not built yet: a desktop without a notification area.
class SimShell final : public Shell {
public:
    explicit SimShell(SimLoop& loop) : loop_(loop) {}
    bool ShellNotifyIcon(std::uint32_t, const NotifyIconData&) override { return false; }
    Point GetCursorPos() override { return {}; }
    bool SetForegroundWindow(Hwnd) override { return false; }
    bool ShowWindow(Hwnd, int) override { return false; }
    Hwnd ApplicationWindow() override { return 0; }
    Hicon ApplicationIcon() override { return 0; }
    bool MessageBeep(std::uint32_t) override { ++beeps; return true; }
    int beeps = 0;

private:
    [[maybe_unused]] SimLoop& loop_;
};

}  // namespace zumelko::platform::sim
