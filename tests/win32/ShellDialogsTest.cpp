// The notification icon, its menus, the neighbourhood and the program's dialogs as real
// windows, driven as the user drives them (button clicks and keys).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop/NetUtility.h"
#include "desktop/TaskBar.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/BrowserDialog.h"
#include "dialogs/CustomDialog.h"
#include "dialogs/OKDialog.h"
#include "dialogs/SendDialog.h"
#include "dialogs/YesNoDialog.h"
#include "framework/Application.h"
#include "platform/win32/Win32Api.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

using namespace zumelko::platform;
using win32::AsHandle;

TEST(Tray, TheCallbackMessageOpensTheButtonsMenusAndTheIconOutlivesAShellRestart) {
    auto& shell = Desk().shell();
    Component owner{nullptr};
    PopupMenu& left = owner.Create<PopupMenu>();
    PopupMenu& right = owner.Create<PopupMenu>();
    std::vector<std::string> clicked;
    for (const char* caption : {"デフォルトへ転送(&T)", "-", "終了(&E)"}) {
        MenuItem& item = owner.Create<MenuItem>();
        item.SetCaption(caption);
        item.OnClick = [&clicked, caption](Component*) { clicked.push_back(caption); };
        right.Add(item);
    }
    MenuItem& machine = owner.Create<MenuItem>();
    machine.SetCaption("PC-01");
    machine.OnClick = [&clicked](Component*) { clicked.push_back("PC-01"); };
    left.Add(machine);

    TTaskBar& tray = owner.Create<TTaskBar>();
    tray.SetEnableTaskBar(false);
    tray.SetEnableTaskTray(true);
    tray.SetPopupMenuLeft(&left);
    tray.SetPopupMenuRight(&right);
    tray.Loaded();
    EXPECT_EQ(shell.IconCount(), 1u);
    tray.SetTips("Zumelko");
    EXPECT_EQ(shell.IconCount(), 1u);

    // The shell answers the icon's clicks with the callback message; the menus open from it.
    std::vector<std::vector<std::string>> menus;
    Desk().ui().onMenu = [&](const std::vector<std::string>& captions) {
        menus.push_back(captions);
        return static_cast<int>(captions.size()) - 1;  // the last item
    };
    Desk().loop().PostMessage(tray.Handle(), WM_TASKTRAY, TTaskBar::kIconId, WM_RBUTTONDOWN_);
    Desk().loop().PostMessage(tray.Handle(), WM_TASKTRAY, TTaskBar::kIconId, WM_RBUTTONUP_);
    EXPECT_TRUE(PumpUntil([&] { return clicked.size() == 1; }, 3000));
    Desk().loop().PostMessage(tray.Handle(), WM_TASKTRAY, TTaskBar::kIconId, WM_LBUTTONUP_);
    EXPECT_TRUE(PumpUntil([&] { return clicked.size() == 2; }, 3000));
    Desk().ui().onMenu = nullptr;
    ASSERT_EQ(menus.size(), 2u);
    EXPECT_EQ(menus[0], (std::vector<std::string>{"デフォルトへ転送(&T)", "-", "終了(&E)"}));
    EXPECT_EQ(menus[1], (std::vector<std::string>{"PC-01"}));
    EXPECT_EQ(clicked, (std::vector<std::string>{"終了(&E)", "PC-01"}));

    // A new taskbar after a shell restart gets the icon again; a deleted icon stays deleted.
    // The shell tells every top-level window, as here.
    const UINT restarted = win32::Win32Shell::TaskbarCreatedMessage();
    auto shellRestarts = [restarted] {
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutA(HWND_BROADCAST, restarted, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer);
    };
    shellRestarts();
    EXPECT_EQ(shell.TaskbarRestarts(), 1);
    EXPECT_EQ(shell.IconCount(), 1u);
    tray.SetEnableTaskTray(false);
    EXPECT_EQ(shell.IconCount(), 0u);
    shellRestarts();
    EXPECT_EQ(shell.TaskbarRestarts(), 2);
    EXPECT_EQ(shell.IconCount(), 0u);
}

TEST(Neighbourhood, WithoutANetworkTheListIsEmptyAndTheLocalNamesAreThere) {
    Component owner{nullptr};
    TNetUtility& net = owner.Create<TNetUtility>();
    EXPECT_EQ(net.Detect(), 0);
    EXPECT_EQ(net.Count(), 0);
    EXPECT_FALSE(net.UserName().empty());
    EXPECT_FALSE(net.ComputerName().empty());
    EnumHandle h = 0;
    EXPECT_EQ(Desk().network().WNetOpenEnum(RESOURCE_GLOBALNET_, RESOURCETYPE_ANY_, 0, nullptr, h),
              ERROR_NO_NETWORK_);
}

// The window of a control of a form on screen.
HWND Child(const Form& form, const std::string& name) {
    return AsHandle<HWND>(Desk().ui().WindowOfControl(*form.FindControl(name)));
}

std::wstring TextOf(HWND h) {
    wchar_t buffer[256] = {};
    ::GetWindowTextW(h, buffer, 256);
    return buffer;
}

void PressKey(WPARAM key) {
    HWND focus = ::GetFocus();
    ::PostMessageW(focus, WM_KEYDOWN, key, 1);
    ::PostMessageW(focus, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

// Shows a dialog with `act` run once it is on screen, after keeping its picture.
template <typename F>
void OnScreen(const std::string& picture, F act) {
    Desk().ui().onShown = [picture, act](Form& form, Hwnd window) {
        Pump(100);
        EXPECT_NE(SaveShot(window, "dialog_" + picture), "");
        act(form, AsHandle<HWND>(window));
    };
}

TEST(Dialogs, EveryDialogAsARealWindowAnsweringClicksAndKeys) {
    Application& app = App();

    // A sender's name in the code page (932 here), or in UTF-8 from a Linux peer, is made to
    // fit into the program's own UTF-8 captions.
    EXPECT_EQ(Desk().ui().CaptionText("\x83\x7d\x83\x56\x83\x93"), "マシン");
    EXPECT_EQ(Desk().ui().CaptionText("日本 😀"), "日本 😀");

    // Settings: Japanese captions read right whatever the code page; Tab moves the focus;
    // Esc cancels and Enter presses the default button.
    auto& settings = app.Create<TForm4>();
    OnScreen("settings", [&](Form& form, HWND window) {
        EXPECT_EQ(TextOf(Child(form, "Label1")), L"送信：");
        EXPECT_EQ(TextOf(Child(form, "CancelBtn")), L"ｷｬﾝｾﾙ");
        EXPECT_EQ(::GetFocus(), Child(form, "OKBtn"));
        EXPECT_TRUE(::IsChild(window, ::GetFocus()));
        PressKey(VK_TAB);
        Pump(50);
        EXPECT_EQ(::GetFocus(), Child(form, "CancelBtn"));
        PressKey(VK_ESCAPE);
    });
    EXPECT_EQ(settings.ShowSettings("PC-01", 0, 0, 0), mrCancel);
    OnScreen("settings_ok", [&](Form&, HWND) { PressKey(VK_RETURN); });
    EXPECT_EQ(settings.ShowSettings("PC-01", 0, 0, 0), mrOk);

    // The question: its buttons as clicked.
    auto& question = app.Create<TForm3>();
    OnScreen("question", [&](Form& form, HWND) {
        ::PostMessageW(Child(form, "Button2"), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(question.ShowQuestion("ok?"), mrNo);
    OnScreen("question_yes", [&](Form& form, HWND) {
        ::PostMessageW(Child(form, "Button1"), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(question.ShowQuestion("ok?"), mrYes);

    // The close box ends any dialog as cancelled; the rest are kept as pictures.
    auto close = [](Form&, HWND window) { ::PostMessageW(window, WM_CLOSE, 0, 0); };
    auto& notice = app.Create<TForm2>();
    OnScreen("notice", close);
    EXPECT_EQ(notice.ShowNotice("送信できませんでした"), mrCancel);
    auto& browser = app.Create<TForm7>();
    OnScreen("browser", close);
    EXPECT_EQ(browser.ShowChoice(), mrCancel);
    auto& about = app.Create<TAboutBox>();
    OnScreen("about", [&](Form&, HWND) { PressKey(VK_RETURN); });
    EXPECT_EQ(about.ShowAbout(), mrOk);
    Desk().ui().onShown = nullptr;
    for (Form* f : std::vector<Form*>{&settings, &question, &notice, &browser, &about}) app.DestroyComponent(*f);
}

}  // namespace
}  // namespace zumelko::wintest
