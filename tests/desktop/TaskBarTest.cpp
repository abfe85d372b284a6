#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "desktop/TaskBar.h"
#include "framework/Application.h"
#include "platform/sim/SimDesktop.h"

namespace {

using zumelko::Icon;
using zumelko::PopupMenu;
using zumelko::TMouseButton;
using zumelko::TTaskBar;
using namespace zumelko::platform;
using zumelko::platform::sim::ScopedSimDesktop;
using zumelko::platform::sim::SimShell;

struct MenuShown {
    PopupMenu* menu;
    int x;
    int y;
};

class TaskBarTest : public ::testing::Test {
protected:
    TaskBarTest() {
        desktop->ui().onMenu = [this](PopupMenu& menu, int x, int y) { menus.push_back({&menu, x, y}); };
    }

    // Set up as the main window sets up its tray icon.
    TTaskBar& MainWindowTray() {
        TTaskBar& tray = owner.Create<TTaskBar>();
        tray.SetIcon(Icon(0x4242));
        tray.SetEnableTaskBar(false);
        tray.SetEnableTaskTray(true);
        tray.SetPopupMenuLeft(&left);
        tray.SetPopupMenuRight(&right);
        tray.Loaded();
        return tray;
    }

    SimShell& shell() { return desktop->shell(); }

    ScopedSimDesktop desktop;
    zumelko::Application app;
    zumelko::Component owner{nullptr};
    PopupMenu& left = owner.Create<PopupMenu>();
    PopupMenu& right = owner.Create<PopupMenu>();
    std::vector<MenuShown> menus;
};

TEST_F(TaskBarTest, MainWindowSetupShowsOneIconFilledForTheShellAndHidesTheTaskbarButton) {
    TTaskBar& tray = MainWindowTray();

    ASSERT_EQ(shell().Icons().size(), 1u);
    const NotifyIconData& icon = shell().Icons().front();
    EXPECT_EQ(icon.cbSize, 88u);
    EXPECT_EQ(icon.hWnd, tray.Handle());
    EXPECT_TRUE(desktop->loop().IsWindow(icon.hWnd));
    EXPECT_EQ(icon.uID, 1u);
    EXPECT_EQ(icon.uFlags, 7u);
    EXPECT_EQ(icon.uCallbackMessage, 0x8064u);
    EXPECT_EQ(icon.hIcon, 0x4242u);
    EXPECT_EQ(SimShell::Tip(icon), "");
    EXPECT_FALSE(shell().ApplicationWindowVisible());
    EXPECT_EQ(shell().ShowCalls().back().window, shell().ApplicationWindow());
    EXPECT_EQ(shell().ShowCalls().back().command, SW_HIDE_);

    // Going away removes the icon first, then the window it talked to.
    const Hwnd window = tray.Handle();
    owner.DestroyComponent(tray);
    EXPECT_TRUE(shell().Icons().empty());
    EXPECT_EQ(shell().NotifyCalls().back().operation, NIM_DELETE_);
    EXPECT_TRUE(shell().NotifyCalls().back().accepted);
    EXPECT_FALSE(desktop->loop().IsWindow(window));
}

TEST_F(TaskBarTest, TipsAreCutTo63BytesForTheShellAndKeptUpTo255) {
    TTaskBar& tray = MainWindowTray();
    const std::string exact(63, 'a');
    const std::string longer = std::string(63, 'b') + "XYZ";
    const std::string huge(300, 'c');

    tray.SetTips(exact);
    EXPECT_EQ(SimShell::Tip(shell().Icons().front()), exact);
    tray.SetTips(longer);
    EXPECT_EQ(SimShell::Tip(shell().Icons().front()), std::string(63, 'b'));
    EXPECT_EQ(shell().Icons().front().szTip[63], '\0');
    EXPECT_EQ(tray.Tips(), longer);
    tray.SetTips(huge);
    EXPECT_EQ(tray.Tips().size(), 255u);
    tray.SetTips("");
    EXPECT_EQ(SimShell::Tip(shell().Icons().front()), "");
    // A tip in the system code page is cut by bytes, as the shell counts them.
    tray.SetTips("\x83\x65\x83\x58\x83\x67");
    EXPECT_EQ(SimShell::Tip(shell().Icons().front()), "\x83\x65\x83\x58\x83\x67");
}

TEST_F(TaskBarTest, AnEmptyIconShowsTheApplicationsIconAndIconChangesApplyInPlace) {
    TTaskBar& tray = owner.Create<TTaskBar>();
    tray.Loaded();
    ASSERT_EQ(shell().Icons().size(), 1u);
    EXPECT_EQ(shell().Icons().front().hIcon, SimShell::kApplicationIcon);

    shell().ClearNotifyCalls();
    tray.SetIcon(Icon(0x99));
    ASSERT_EQ(shell().NotifyCalls().size(), 1u);
    EXPECT_EQ(shell().NotifyCalls().front().operation, NIM_MODIFY_);
    EXPECT_EQ(shell().Icons().front().hIcon, 0x99u);
    tray.SetIcon(Icon());
    EXPECT_EQ(shell().Icons().front().hIcon, SimShell::kApplicationIcon);
    EXPECT_EQ(shell().Icons().size(), 1u);
}

TEST_F(TaskBarTest, EnableTaskTrayRemovesAndReAddsTheIconWithWhatWasSetMeanwhile) {
    TTaskBar& tray = MainWindowTray();
    tray.SetEnableTaskTray(false);
    EXPECT_TRUE(shell().Icons().empty());

    shell().ClearNotifyCalls();
    tray.SetTips("later");
    tray.SetIcon(Icon(0x55));
    EXPECT_TRUE(shell().NotifyCalls().empty()) << "a hidden icon is not touched";

    tray.SetEnableTaskTray(true);
    ASSERT_EQ(shell().Icons().size(), 1u);
    EXPECT_EQ(SimShell::Tip(shell().Icons().front()), "later");
    EXPECT_EQ(shell().Icons().front().hIcon, 0x55u);
    EXPECT_EQ(shell().Icons().front().hWnd, tray.Handle());

    // Turning the taskbar button on again shows the application window.
    tray.SetEnableTaskBar(true);
    EXPECT_TRUE(shell().ApplicationWindowVisible());
}

TEST_F(TaskBarTest, PressFiresOnTrayClickAndReleaseOpensThatButtonsMenuWhereTheCursorIsThen) {
    TTaskBar& tray = MainWindowTray();
    std::vector<TMouseButton> clicks;
    tray.OnTrayClick = [&](TMouseButton b) { clicks.push_back(b); };

    shell().SetCursorPos(10, 20);
    ASSERT_TRUE(shell().SendMouse(WM_LBUTTONDOWN_));
    EXPECT_EQ(clicks, std::vector<TMouseButton>{TMouseButton::mbLeft});
    EXPECT_TRUE(menus.empty()) << "a press without a release opens nothing";

    shell().SetCursorPos(640, 470);
    ASSERT_TRUE(shell().PostMouse(WM_LBUTTONUP_));
    desktop->loop().ProcessMessages();
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].menu, &left);
    EXPECT_EQ(menus[0].x, 640);
    EXPECT_EQ(menus[0].y, 470);
    EXPECT_EQ(shell().ForegroundCalls().back(), shell().ApplicationWindow());

    shell().SendMouse(WM_RBUTTONDOWN_);
    shell().SendMouse(WM_RBUTTONUP_);
    ASSERT_EQ(menus.size(), 2u);
    EXPECT_EQ(menus[1].menu, &right);

    // No middle menu: the press is reported and the release does nothing.
    shell().SendMouse(WM_MBUTTONDOWN_);
    shell().SendMouse(WM_MBUTTONUP_);
    EXPECT_EQ(menus.size(), 2u);
    EXPECT_EQ(clicks, (std::vector<TMouseButton>{TMouseButton::mbLeft, TMouseButton::mbRight, TMouseButton::mbMiddle}));

    // Moves and double-clicks do nothing of their own.
    for (std::uint32_t m : {WM_MOUSEMOVE_, WM_LBUTTONDBLCLK_, WM_RBUTTONDBLCLK_, WM_MBUTTONDBLCLK_}) shell().SendMouse(m);
    EXPECT_EQ(clicks.size(), 3u);
    EXPECT_EQ(menus.size(), 2u);

    // A middle menu, once set, opens on the middle release.
    PopupMenu& middle = owner.Create<PopupMenu>();
    tray.SetPopupMenuMiddle(&middle);
    shell().SendMouse(WM_MBUTTONUP_);
    ASSERT_EQ(menus.size(), 3u);
    EXPECT_EQ(menus[2].menu, &middle);
}

TEST_F(TaskBarTest, MessagesAlreadyPendingAreHandledBeforeTheMenuOpens) {
    MainWindowTray();
    bool handled = false;
    const Hwnd other = desktop->loop().CreateHiddenWindow([&](std::uint32_t, WParam, LParam) -> LResult {
        handled = true;
        return 0;
    });
    desktop->loop().PostMessage(other, WM_USER_, 0, 0);
    bool handledWhenShown = false;
    desktop->ui().onMenu = [&](PopupMenu&, int, int) { handledWhenShown = handled; };
    shell().SendMouse(WM_LBUTTONUP_);
    EXPECT_TRUE(handledWhenShown);
    desktop->loop().DestroyWindow(other);
}

TEST_F(TaskBarTest, ExceptionsFromTheClickHandlerOrTheMenuAreReportedAndTheIconKeepsWorking) {
    TTaskBar& tray = MainWindowTray();
    tray.OnTrayClick = [](TMouseButton) { throw std::runtime_error("click failed"); };
    EXPECT_EQ(desktop->loop().SendMessage(tray.Handle(), zumelko::WM_TASKTRAY, 1, WM_LBUTTONDOWN_), 0);
    ASSERT_EQ(desktop->ui().Exceptions().size(), 1u);
    EXPECT_EQ(desktop->ui().Exceptions()[0], "click failed");

    desktop->ui().onMenu = [](PopupMenu&, int, int) { throw std::runtime_error("menu failed"); };
    shell().SendMouse(WM_RBUTTONUP_);
    ASSERT_EQ(desktop->ui().Exceptions().size(), 2u);
    EXPECT_EQ(desktop->ui().Exceptions()[1], "menu failed");

    tray.OnTrayClick.Clear();
    desktop->ui().onMenu = [this](PopupMenu& menu, int x, int y) { menus.push_back({&menu, x, y}); };
    shell().SendMouse(WM_LBUTTONDOWN_);
    shell().SendMouse(WM_LBUTTONUP_);
    EXPECT_EQ(menus.size(), 1u);
    EXPECT_EQ(shell().Icons().size(), 1u);
}

TEST_F(TaskBarTest, OtherMessagesToTheWindowAreLeftAlone) {
    TTaskBar& tray = MainWindowTray();
    int clicks = 0;
    tray.OnTrayClick = [&](TMouseButton) { ++clicks; };
    EXPECT_EQ(desktop->loop().SendMessage(tray.Handle(), WM_USER_ + 1, 1, WM_LBUTTONDOWN_), 0);
    EXPECT_EQ(desktop->loop().SendMessage(tray.Handle(), WM_LBUTTONUP_, 0, 0), 0);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(menus.empty());
}

}  // namespace
