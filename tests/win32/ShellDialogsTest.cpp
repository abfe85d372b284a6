// The notification icon, its menus, the neighbourhood and the program's dialogs as real
// windows, driven as the user drives them (button clicks and keys).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/MainForm.h"
#include "desktop/BitmapImage.h"
#include "desktop/NetUtility.h"
#include "desktop/TaskBar.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/BrowserDialog.h"
#include "dialogs/CustomDialog.h"
#include "dialogs/OKDialog.h"
#include "dialogs/PreviewDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "dialogs/SendDialog.h"
#include "dialogs/YesNoDialog.h"
#include "framework/Application.h"
#include "framework/Stream.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32UiHost.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

using namespace zumelko::platform;
using win32::AsHandle;
using win32::FromCaption;
using win32::FromHandle;
using win32::ToAnsi;

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

// The notification area gets the program's icon at the size the system asks for at the
// window's scale, and a new one when the scale changes.
TEST(Tray, TheIconIsHandedAtTheSizeForTheScaleAndFollowsIt) {
    auto& shell = Desk().shell();
    auto handedSize = [&shell] {
        ICONINFO ii{};
        if (!::GetIconInfo(AsHandle<HICON>(shell.HandedIcon()), &ii)) return 0;
        BITMAP bm{};
        ::GetObjectW(ii.hbmColor != nullptr ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
        if (ii.hbmColor != nullptr) ::DeleteObject(ii.hbmColor);
        if (ii.hbmMask != nullptr) ::DeleteObject(ii.hbmMask);
        return static_cast<int>(bm.bmWidth);
    };
    Component owner{nullptr};
    TTaskBar& tray = owner.Create<TTaskBar>();
    tray.SetIcon(Icon(shell.ApplicationIcon()));
    tray.SetEnableTaskBar(false);
    tray.SetEnableTaskTray(true);
    tray.Loaded();
    ASSERT_EQ(shell.IconCount(), 1u);
    const int dpi = shell.WindowDpi();
    EXPECT_EQ(handedSize(), win32::Win32Shell::SmallIconSize(dpi)) << dpi << " DPI";
    if (const char* asked = std::getenv("ZUMELKO_DPI")) {
        EXPECT_EQ(dpi, std::atoi(asked));
    }
    HWND window = AsHandle<HWND>(shell.ApplicationWindow());
    for (int scale : {192, 120, dpi}) {
        RECT suggested{0, 0, 100, 100};
        ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(scale, scale), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(handedSize(), win32::Win32Shell::SmallIconSize(scale)) << scale << " DPI";
    }
    EXPECT_EQ(win32::Win32Shell::SmallIconSize(192), 2 * win32::Win32Shell::SmallIconSize(96));
    tray.SetEnableTaskTray(false);
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
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
    return text;
}

void PressKey(WPARAM key) {
    HWND focus = ::GetFocus();
    ::PostMessageW(focus, WM_KEYDOWN, key, 1);
    ::PostMessageW(focus, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

// A click of the mouse at the middle of a window, through the system's input queue.
void ClickAt(HWND h) {
    RECT r{};
    ::GetWindowRect(h, &r);
    ::SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(2, input, sizeof(INPUT));
    Pump(100);
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> all;
    for (HWND c = ::GetWindow(parent, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) all.push_back(c);
    return all;
}

// Every text of a dialog is in full view: a radio button's or a label's text fits its window,
// and no other control lies on it (frames and group boxes aside).
void ExpectNoTextCovered(HWND dialog) {
    struct Shown {
        HWND h;
        RECT area;     // what the control takes up on screen; for a text, the text itself
        bool text;
        bool frame;
    };
    std::vector<Shown> shown;
    for (HWND c : ChildrenOf(dialog)) {
        if (!::IsWindowVisible(c)) continue;
        wchar_t cls[32] = {};
        ::GetClassNameW(c, cls, 32);
        const auto style = static_cast<DWORD>(::GetWindowLongPtrW(c, GWL_STYLE));
        const bool button = ::lstrcmpiW(cls, L"Button") == 0;
        const bool label = ::lstrcmpiW(cls, L"Static") == 0;
        const bool radio = button && ((style & BS_TYPEMASK) == BS_RADIOBUTTON || (style & BS_TYPEMASK) == BS_AUTORADIOBUTTON);
        const bool frame = (button && (style & BS_TYPEMASK) == BS_GROUPBOX) ||
                           (label && (style & SS_TYPEMASK) == SS_ETCHEDFRAME);
        const bool text = radio || (label && !frame && (style & SS_TYPEMASK) <= SS_RIGHT && ::GetWindowTextLengthW(c) > 0);
        Shown s{c, {}, text, frame};
        ::GetWindowRect(c, &s.area);
        if (text) {
            const std::wstring caption = TextOf(c);
            HDC dc = ::GetDC(c);
            HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(c, WM_GETFONT, 0, 0)));
            SIZE size{};
            ::GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
            ::SelectObject(dc, old);
            ::ReleaseDC(c, dc);
            const int needed = size.cx + (radio ? ::GetSystemMetrics(SM_CXMENUCHECK) + 4 : 0);
            EXPECT_LE(needed, s.area.right - s.area.left) << "cut: " << win32::Narrow(caption);
            if (!radio) {
                s.area.right = std::min(s.area.right, s.area.left + size.cx);
                s.area.bottom = std::min(s.area.bottom, s.area.top + size.cy);
            }
        }
        shown.push_back(s);
    }
    for (const Shown& t : shown) {
        if (!t.text) continue;
        for (const Shown& o : shown) {
            RECT both{};
            if (o.h == t.h || o.frame || !::IntersectRect(&both, &t.area, &o.area)) continue;
            ADD_FAILURE() << "\"" << win32::Narrow(TextOf(t.h)) << "\" lies under \"" << win32::Narrow(TextOf(o.h))
                          << "\"";
        }
    }
}

int DpiOf(HWND window) {
    using Fn = UINT(WINAPI*)(HWND);
    static const auto forWindow =
        reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    return forWindow != nullptr ? static_cast<int>(forWindow(window)) : 96;
}

// A form on screen at its window's scale: the client area is the described 96-DPI size times
// DPI / 96, and every caption fits within its control in the font it is shown in.
void ExpectLaidOutAtItsScale(const Form& form, HWND window) {
    const int dpi = DpiOf(window);
    if (const char* asked = std::getenv("ZUMELKO_DPI")) {
        EXPECT_EQ(dpi, std::atoi(asked));
    }
    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, ::MulDiv(form.ClientWidth(), dpi, 96)) << form.Name();
    EXPECT_EQ(client.bottom, ::MulDiv(form.ClientHeight(), dpi, 96)) << form.Name();
    const int scale = dpi;
    auto fits = [&](HWND child) {
        if (!::IsWindowVisible(child)) return;
        const std::wstring text = TextOf(child);
        if (text.empty()) return;
        wchar_t cls[32] = {};
        ::GetClassNameW(child, cls, 32);
        const std::wstring kind(cls);
        const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
        int room = 0;  // what the control keeps for itself beside the text
        UINT format = DT_CALCRECT | DT_NOPREFIX | DT_SINGLELINE;
        if (_wcsicmp(cls, L"Static") == 0) {
            const LONG_PTR type = style & SS_TYPEMASK;
            if (type != SS_LEFT && type != SS_LEFTNOWORDWRAP) return;
            if (type == SS_LEFT) format = DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK;
        } else if (_wcsicmp(cls, L"Button") == 0) {
            const LONG_PTR type = style & BS_TYPEMASK;
            room = ::MulDiv(type == BS_GROUPBOX ? 16 : (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) ? 18 : 6,
                            scale, 96);
            format &= ~static_cast<UINT>(DT_NOPREFIX);
        } else {
            return;  // edit fields and lists scroll what they hold
        }
        RECT box{};
        ::GetClientRect(child, &box);
        HDC dc = ::GetDC(child);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(child, WM_GETFONT, 0, 0)));
        RECT need{0, 0, box.right - room, 0};
        ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, format);
        ::SelectObject(dc, old);
        ::ReleaseDC(child, dc);
        const std::string caption = win32::Narrow(text);
        EXPECT_LE(need.right + room, box.right) << form.Name() << ": " << caption;
        EXPECT_LE(need.bottom, box.bottom) << form.Name() << ": " << caption;
    };
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) fits(child);
}

// Shows a dialog with `act` run once it is on screen, after keeping its picture (one for each
// display scale the tests run at).
template <typename F>
void OnScreen(const std::string& picture, F act) {
    Desk().ui().onShown = [picture, act](Form& form, Hwnd window) {
        Pump(100);
        HWND w = AsHandle<HWND>(window);
        EXPECT_NE(SaveShot(window, "dialog_" + picture + "_" + std::to_string(DpiOf(w)) + "dpi"), "");
        ExpectLaidOutAtItsScale(form, w);
        act(form, w);
    };
}

void Type(const std::wstring& text);

TEST(Dialogs, EveryDialogAsARealWindowAnsweringClicksAndKeys) {
    Application& app = App();

    // A name of this desktop's, in the code page (932 here), is made to fit into the program's
    // own UTF-8 captions: read in the code page even where its bytes would also be UTF-8.
    EXPECT_EQ(Desk().ui().CaptionText("\x83\x7d\x83\x56\x83\x93"), "マシン");
    EXPECT_EQ(Desk().ui().CaptionText("\xca\xb2"), "ﾊｲ");

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
    // Enter presses the focused button rather than the default one.
    Desk().ui().onShown = [](Form&, Hwnd) {
        PressKey(VK_TAB);
        Pump(50);
        PressKey(VK_RETURN);
    };
    EXPECT_EQ(settings.ShowSettings("PC-01", 0, 0, 0), mrCancel);

    // Every group shows the current setting on its real buttons from the moment the dialog opens:
    // in a dialog just made (the initial settings), and after each change.
    auto& fresh = app.Create<TForm4>();
    for (const int item : {-1, 1, 0, 2}) {
        if (item >= 0) fresh.SetSenders(std::min(item, 1), "");
        if (item >= 0) fresh.SetSecurity(item == 1, item != 0);
        OnScreen("settings_values", [&](Form& form, HWND) {
            for (const char* name : {"RadioGroup1", "RadioGroup2", "RadioGroup3", "RadioGroup4", "RadioGroup5"}) {
                const auto& group = *static_cast<const RadioGroup*>(form.FindControl(name));
                std::vector<int> on;
                for (int i = 0; i < static_cast<int>(group.Items().size()); ++i)
                    if (::SendMessageW(AsHandle<HWND>(Desk().ui().RadioButtonOf(group, i)), BM_GETCHECK, 0, 0) == BST_CHECKED) on.push_back(i);
                EXPECT_EQ(on, std::vector<int>{group.ItemIndex()}) << name << " with item " << item;
            }
            PressKey(VK_ESCAPE);
        });
        EXPECT_EQ(fresh.ShowSettings("PC-01", std::max(item, 0), std::max(item, 0), 0), mrCancel);
    }

    // A radio button clicked shows the choice, and so does one reached with an arrow key; the
    // "詳細" button of the second item follows. Every text is in full view.
    settings.SetSenders(0, "");
    settings.SetSecurity(false, false);
    OnScreen("settings_chosen", [&](Form& form, HWND window) {
        auto radio = [&form](const char* group, int index) {
            return AsHandle<HWND>(
                Desk().ui().RadioButtonOf(*static_cast<const RadioGroup*>(form.FindControl(group)), index));
        };
        auto checked = [&radio](const char* group) {
            std::vector<int> on;
            for (int i = 0; i < 3; ++i) {
                if (HWND h = radio(group, i); h != nullptr && ::SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED) {
                    on.push_back(i);
                }
            }
            return on;
        };
        ExpectNoTextCovered(window);
        // Each "詳細" button stands on the row of its group's second item.
        for (auto [group, details] : {std::pair{"RadioGroup1", "Button1"}, {"RadioGroup2", "Button3"},
                                      {"RadioGroup3", "Button4"}}) {
            RECT row{}, button{};
            ::GetWindowRect(radio(group, 1), &row);
            ::GetWindowRect(Child(form, details), &button);
            const long middle = (button.top + button.bottom) / 2;
            EXPECT_TRUE(middle >= row.top && middle < row.bottom) << details;
        }
        ClickAt(radio("RadioGroup1", 1));
        ClickAt(radio("RadioGroup3", 1));
        EXPECT_EQ(checked("RadioGroup1"), std::vector<int>{1});
        EXPECT_EQ(checked("RadioGroup3"), std::vector<int>{1});
        EXPECT_TRUE(::IsWindowEnabled(Child(form, "Button1")));
        EXPECT_TRUE(::IsWindowEnabled(Child(form, "Button4")));
        ::SetFocus(radio("RadioGroup2", 0));
        PressKey(VK_DOWN);
        Pump(100);
        EXPECT_EQ(checked("RadioGroup2"), std::vector<int>{1});
        EXPECT_TRUE(::IsWindowEnabled(Child(form, "Button3")));
        ClickAt(radio("RadioGroup1", 2));
        EXPECT_EQ(checked("RadioGroup1"), std::vector<int>{2});
        EXPECT_FALSE(::IsWindowEnabled(Child(form, "Button1")));
        // The passphrase field comes with "使う", shows dots, and takes what is typed as UTF-8
        // whatever the code page (é has no place in 932).
        HWND field = Child(form, "Edit1");
        EXPECT_FALSE(::IsWindowEnabled(field));
        ClickAt(radio("RadioGroup4", 1));
        EXPECT_EQ(checked("RadioGroup4"), std::vector<int>{1});
        EXPECT_TRUE(::IsWindowEnabled(field));
        EXPECT_NE(::GetWindowLongPtrW(field, GWL_STYLE) & ES_PASSWORD, 0);
        EXPECT_EQ(::SendMessageW(field, EM_GETPASSWORDCHAR, 0, 0), 0x25CF);
        ::SetFocus(field);
        Type(L"café合言葉");
        EXPECT_EQ(settings.Edit1->Text(), "caf\xC3\xA9\xE5\x90\x88\xE8\xA8\x80\xE8\x91\x89");
        ClickAt(radio("RadioGroup5", 1));
        EXPECT_EQ(checked("RadioGroup5"), std::vector<int>{1});
        ExpectNoTextCovered(window);
        EXPECT_NE(SaveShot(FromHandle(window), "dialog_settings_chosen_after"), "");
        ::PostMessageW(Child(form, "OKBtn"), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(settings.ShowSettings("PC-01", 0, 0, 0), mrOk);
    EXPECT_EQ(settings.RadioGroup1->ItemIndex(), 2);
    EXPECT_EQ(settings.RadioGroup2->ItemIndex(), 1);
    EXPECT_EQ(settings.RadioGroup3->ItemIndex(), 1);
    EXPECT_EQ(settings.RadioGroup5->ItemIndex(), 1);
    EXPECT_EQ(settings.TakePassphrase(), std::optional<std::string>("caf\xC3\xA9\xE5\x90\x88\xE8\xA8\x80\xE8\x91\x89"));
    EXPECT_EQ(settings.Edit1->Text(), "");

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
    // Moved to a display of twice the scale, the form is laid out again for it.
    OnScreen("notice", [&](Form& form, HWND window) {
        RECT suggested{};
        ::GetWindowRect(window, &suggested);
        const int dpi = 2 * DpiOf(window);
        ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        RECT client{}, button{};
        ::GetClientRect(window, &client);
        EXPECT_EQ(client.right, ::MulDiv(form.ClientWidth(), dpi, 96));
        EXPECT_EQ(client.bottom, ::MulDiv(form.ClientHeight(), dpi, 96));
        HWND ok = Child(form, "Button1");
        ::GetWindowRect(ok, &button);
        ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&button), 2);
        const Rect& b = form.FindControl("Button1")->Bounds();
        EXPECT_EQ(button.left, ::MulDiv(b.left, dpi, 96));
        EXPECT_EQ(button.right - button.left, ::MulDiv(b.width, dpi, 96));
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HGDIOBJ>(::SendMessageW(ok, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, -::MulDiv(form.FindControl("Button1")->GetFont().sizePx, dpi, 96));
        close(form, window);
    });
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

TEST(Dialogs, ANoticeThatDoesNotFitWidensTheDialogToTheScreenAndThenWraps) {
    auto& notice = App().Create<TForm2>();
    std::string japanese;
    for (int i = 0; i < 150; ++i) japanese += "受信";
    struct Case {
        std::string text;
        bool wider;
        bool wrapped;
    };
    const std::vector<Case> cases = {
        {"データの転送が終了しました。", false, false},
        {"ネットワークエラー ： Address already in use (in Listener) and then some more words", true, false},
        {"ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"" + japanese + "\"に送信します。", true, true},
        {"ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"" + std::string(300, 'W') + "\"に送信します。", true, true},
    };
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    int shot = 0;
    for (const Case& c : cases) {
        OnScreen("notice_fit_" + std::to_string(++shot), [&](Form& form, HWND window) {
            RECT client{};
            ::GetClientRect(window, &client);
            HWND label = Child(form, "Label1");
            HWND ok = Child(form, "Button1");
            RECT labelRect{}, okRect{};
            ::GetWindowRect(label, &labelRect);
            ::GetWindowRect(ok, &okRect);
            ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&labelRect), 2);
            ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&okRect), 2);
            // The described size, at the window's scale.
            const int dpi = DpiOf(window);
            EXPECT_EQ(client.right > ::MulDiv(427, dpi, 96), c.wider) << c.text.substr(0, 30);
            EXPECT_LE(client.right, work.right - work.left);
            if (!c.wider) {
                EXPECT_EQ(client.bottom, ::MulDiv(141, dpi, 96));
            }
            const std::wstring shown = TextOf(label);
            EXPECT_EQ(shown.find(L"\r\n") != std::wstring::npos, c.wrapped) << c.text.substr(0, 30);
            // Every line fits in the label, the label in the window, the button below it.
            HDC dc = ::GetDC(label);
            HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(label, WM_GETFONT, 0, 0)));
            std::size_t from = 0;
            while (from <= shown.size()) {
                std::size_t end = shown.find(L"\r\n", from);
                if (end == std::wstring::npos) end = shown.size();
                SIZE size{};
                ::GetTextExtentPoint32W(dc, shown.data() + from, static_cast<int>(end - from), &size);
                EXPECT_LE(labelRect.left + size.cx, client.right - 24) << c.text.substr(0, 30);
                from = end + 2;
            }
            ::SelectObject(dc, old);
            ::ReleaseDC(label, dc);
            EXPECT_LE(labelRect.bottom, okRect.top);
            EXPECT_LE(okRect.bottom, client.bottom);
            EXPECT_LE(std::abs((okRect.left + okRect.right) - client.right), 2);
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(notice.ShowNotice(c.text), mrCancel);
    }
    Desk().ui().onShown = nullptr;
    App().DestroyComponent(notice);
}

// Keys through the system's input queue, as the keyboard gives them: the focused control reads
// the key state (Ctrl) it expects. Posted key messages leave that state alone.
void Strokes(std::initializer_list<std::pair<WORD, bool>> keys) {
    std::vector<INPUT> input;
    for (auto [key, down] : keys) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = key;
        i.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
        input.push_back(i);
    }
    ::SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
    Pump(100);
}

// Characters as a keyboard layout or an input method hands them to the focused control.
void Type(const std::wstring& text) {
    HWND focus = ::GetFocus();
    for (wchar_t c : text) ::PostMessageW(focus, WM_CHAR, c, 1);
    Pump(100);
}

void PutOnClipboard(const std::wstring& text) {
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    win32::UniqueGlobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    ASSERT_TRUE(memory);
    {
        win32::GlobalLockGuard lock(memory.get());
        std::memcpy(lock.get(), text.c_str(), bytes);
    }
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    if (::SetClipboardData(CF_UNICODETEXT, memory.get()) != nullptr) (void)memory.release();
    ::CloseClipboard();
}

std::wstring ListItem(HWND combo, int index) {
    const auto length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) return L"(none)";
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// What a control draws of itself.
std::vector<std::uint32_t> Drawn(HWND h) {
    RECT rc{};
    ::GetClientRect(h, &rc);
    win32::ScreenDc screen;
    win32::UniqueMemoryDc dc(::CreateCompatibleDC(screen.get()));
    win32::UniqueGdiObject bitmap(::CreateCompatibleBitmap(screen.get(), rc.right, rc.bottom));
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(rc.right) * static_cast<std::size_t>(rc.bottom));
    {
        win32::SelectedObject selected(dc.get(), bitmap.get());
        ::SendMessageW(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT | PRF_ERASEBKGND);
    }
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = rc.right;
    info.biHeight = -rc.bottom;
    info.biPlanes = 1;
    info.biBitCount = 32;
    ::GetDIBits(dc.get(), static_cast<HBITMAP>(bitmap.get()), 0, static_cast<UINT>(rc.bottom), pixels.data(),
                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    return pixels;
}

// A label draws its text as it stands: as a static control that draws prefixes would draw
// the same text with every '&' doubled.
void ExpectDrawnAsWritten(HWND label, const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) escaped += c == L'&' ? std::wstring(L"&&") : std::wstring(1, c);
    RECT rc{};
    ::GetWindowRect(label, &rc);
    const auto style =
        static_cast<DWORD>(::GetWindowLongPtrW(label, GWL_STYLE)) & ~static_cast<DWORD>(SS_NOPREFIX | WS_VISIBLE);
    win32::UniqueWindow reference(::CreateWindowExW(0, L"STATIC", escaped.c_str(), style, 0, 0, rc.right - rc.left,
                                                    rc.bottom - rc.top, ::GetParent(label), nullptr,
                                                    ::GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(reference);
    ::SendMessageW(reference.get(), WM_SETFONT, ::SendMessageW(label, WM_GETFONT, 0, 0), FALSE);
    EXPECT_TRUE(Drawn(label) == Drawn(reference.get()));
}

// A picture of four coloured quarters (red, green / blue, yellow), as a received one arrives.
constexpr COLORREF kQuarters[4] = {RGB(255, 0, 0), RGB(0, 192, 0), RGB(0, 0, 255), RGB(255, 255, 0)};

void ReadQuarters(BitmapImage& picture, int width, int height) {
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> b(54 + stride * static_cast<std::size_t>(height), 0);
    auto put = [&b](std::size_t at, std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put(2, static_cast<std::uint32_t>(b.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(width), 4);
    put(22, static_cast<std::uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF c = kQuarters[(y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
            const std::size_t at =
                54 + static_cast<std::size_t>(height - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
            b[at] = GetBValue(c);
            b[at + 1] = GetGValue(c);
            b[at + 2] = GetRValue(c);
        }
    }
    MemoryStream stream;
    stream.Write(b.data(), b.size());
    stream.SetPosition(0);
    picture.ReadFromStream(stream);
}

// The colour the screen shows at a point of a window, given as fractions of its size.
COLORREF ScreenColour(HWND h, double fx, double fy) {
    RECT rc{};
    ::GetWindowRect(h, &rc);
    win32::ScreenDc screen;
    return ::GetPixel(screen.get(), rc.left + static_cast<int>((rc.right - rc.left) * fx),
                      rc.top + static_cast<int>((rc.bottom - rc.top) * fy)) & 0xFFFFFF;
}

// The receive question, its preview and the chooser, as a user goes through them: what came is
// shown (Japanese text, a picture), what is typed or pasted into the memo and the combo box is
// what the forms read back.
class ReceivingDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        previousPreview = std::exchange(Form6, &preview);
        Desk().ui().onShown = [this](Form& form, Hwnd window) {
            Pump(100);
            HWND w = AsHandle<HWND>(window);
            ExpectLaidOutAtItsScale(form, w);
            if (&form == &receive) {
                onReceive(form, w);
            } else if (&form == &preview) {
                onPreview(form, w);
            } else {
                onChooser(form, w);
            }
        };
    }
    void TearDown() override {
        Desk().ui().onShown = nullptr;
        Form6 = previousPreview;
        for (Form* f : std::vector<Form*>{&receive, &preview, &chooser}) App().DestroyComponent(*f);
    }
    static void Shot(HWND window, const std::string& name) {
        EXPECT_NE(SaveShot(win32::FromHandle(window), "dialog_" + name + "_" + std::to_string(DpiOf(window)) + "dpi"), "");
    }

    TForm5& receive = App().Create<TForm5>();
    TForm6& preview = App().Create<TForm6>();
    TForm8& chooser = App().Create<TForm8>();
    std::function<void(Form&, HWND)> onReceive, onPreview, onChooser;
    TForm6* previousPreview = nullptr;
};

TEST_F(ReceivingDialogs, TextAndPictureArePreviewedAndTypedTextIsReadBack) {
    // A text (from the other desktop, with lines ended by LF alone): Esc does not answer the
    // question; the preview shows the text and takes what is typed (Enter starts a line there)
    // and pasted; Tab leaves the memo.
    const std::wstring text = L"会議は１５時から。\n場所：第２会議室\r\n\n以上";
    receive.Label3->SetCaption("\"営業部-PC\" にいる \"山田\" から");
    // The longest line about how an item came: it fits at every scale as the rest does.
    receive.Label4->SetCaption(SecurityLine({true, "0123 4567 8901", true}));
    onReceive = [&](Form& form, HWND window) {
        Shot(window, "receive_text");
        EXPECT_EQ(TextOf(Child(form, "Label3")), L"\"営業部-PC\" にいる \"山田\" から");
        EXPECT_EQ(TextOf(Child(form, "Label4")), L"暗号化 (ﾊﾟｽﾌﾚｰｽﾞ認証) ： 確認コード 0123 4567 8901");
        EXPECT_EQ(TextOf(Child(form, "Label1")), L"\"文字列\"データを受信しました。");
        PressKey(VK_ESCAPE);
        Pump(100);
        EXPECT_EQ(form.ModalResult(), mrNone);
        ::SendMessageW(Child(form, "Button3"), BM_CLICK, 0, 0);
        ::PostMessageW(Child(form, "Button1"), BM_CLICK, 0, 0);
    };
    onPreview = [&](Form& form, HWND window) {
        HWND memo = Child(form, "Memo1");
        Shot(window, "preview_text");
        EXPECT_EQ(TextOf(memo), L"会議は１５時から。\r\n場所：第２会議室\r\n\r\n以上\r\n");
        EXPECT_EQ(::SendMessageW(Child(form, "PageControl1"), TCM_GETITEMCOUNT, 0, 0), 0);  // its pages have no tabs
        EXPECT_EQ(::GetFocus(), Child(form, "Button1"));
        PressKey(VK_TAB);
        Pump(50);
        EXPECT_EQ(::GetFocus(), memo);
        Type(L"メモ：A&B");
        Strokes({{VK_RETURN, true}, {VK_RETURN, false}});
        Type(L"二行目");
        PutOnClipboard(L"（貼り付け）");
        Strokes({{VK_CONTROL, true}, {'V', true}, {'V', false}, {VK_CONTROL, false}});
        EXPECT_EQ(preview.Memo1->Text(), ToAnsi(L"メモ：A&B\r\n二行目（貼り付け）\r\n"));
        Shot(window, "preview_text_typed");
        PressKey(VK_TAB);
        Pump(50);
        EXPECT_EQ(::GetFocus(), Child(form, "Button1"));
        EXPECT_EQ(preview.Memo1->Text(), ToAnsi(L"メモ：A&B\r\n二行目（貼り付け）\r\n"));
        ::PostMessageW(Child(form, "Button1"), BM_CLICK, 0, 0);
    };
    EXPECT_EQ(receive.ShowTextReceived(win32::Narrow(text)), mrYes);

    // A picture: the preview stretches it over its box.
    BitmapImage picture;
    ReadQuarters(picture, 64, 48);
    onReceive = [&](Form& form, HWND window) {
        Shot(window, "receive_picture");
        EXPECT_EQ(TextOf(Child(form, "Label1")), L"\"画像\"データを受信しました。");
        EXPECT_FALSE(::IsWindowEnabled(Child(form, "Button4")));
        ::SendMessageW(Child(form, "Button3"), BM_CLICK, 0, 0);
        ::PostMessageW(Child(form, "Button2"), BM_CLICK, 0, 0);
    };
    onPreview = [&](Form& form, HWND window) {
        Shot(window, "preview_picture");
        HWND image = Child(form, "Image1");
        for (int q = 0; q < 4; ++q) {
            EXPECT_EQ(ScreenColour(image, q % 2 == 0 ? 0.1 : 0.9, q < 2 ? 0.1 : 0.9), kQuarters[q]) << q;
        }
        PressKey(VK_ESCAPE);  // no cancel button: stays up
        Pump(100);
        EXPECT_EQ(form.ModalResult(), mrNone);
        ::PostMessageW(Child(form, "Button1"), BM_CLICK, 0, 0);
    };
    EXPECT_EQ(receive.ShowBitmapReceived(picture), mrNo);
}

TEST_F(ReceivingDialogs, TheChooserTakesTypedPastedAndChosenNames) {
    // Machine names come from the neighbourhood in the ANSI code page.
    const std::vector<std::wstring> machines = {L"営業部-PC", L"PC-02"};
    for (const auto& m : machines) chooser.ComboBox1->AddItem(ToAnsi(m));
    chooser.Label1->SetCaption("デフォルト送信先 ： ");
    onChooser = [&](Form& form, HWND window) {
        HWND combo = Child(form, "ComboBox1");
        Shot(window, "chooser");
        EXPECT_EQ(TextOf(combo), L"PC-01");
        EXPECT_EQ(ListItem(combo, 0), machines[0]);
        EXPECT_EQ(::GetFocus(), Child(form, "Button1"));
        PressKey(VK_TAB);
        Pump(50);
        PressKey(VK_TAB);
        Pump(50);
        EXPECT_TRUE(::IsChild(combo, ::GetFocus()));
        Type(L"経理課-PC");  // in place of the whole text, selected as Tab reached it
        EXPECT_EQ(chooser.ComboBox1->Text(), ToAnsi(L"経理課-PC"));
        PutOnClipboard(L"２号機");
        Strokes({{VK_CONTROL, true}, {'V', true}, {'V', false}, {VK_CONTROL, false}});
        EXPECT_EQ(chooser.ComboBox1->Text(), ToAnsi(L"経理課-PC２号機"));
        Shot(window, "chooser_typed");
        PressKey(VK_ESCAPE);  // neither button answers Esc
        Pump(100);
        EXPECT_EQ(form.ModalResult(), mrNone);
        // F4 opens the list with room for every machine; Down and Enter take the first.
        PressKey(VK_F4);
        Pump(100);
        ASSERT_TRUE(::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
        COMBOBOXINFO parts{};
        parts.cbSize = sizeof parts;
        ASSERT_TRUE(::GetComboBoxInfo(combo, &parts));
        RECT list{};
        ::GetClientRect(parts.hwndList, &list);
        EXPECT_GE(list.bottom, static_cast<int>(machines.size()) * ::SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0));
        PressKey(VK_DOWN);
        PressKey(VK_RETURN);
        Pump(100);
        EXPECT_FALSE(::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
        EXPECT_EQ(form.ModalResult(), mrNone);
        EXPECT_EQ(chooser.ComboBox1->Text(), ToAnsi(machines[0]));
        ::PostMessageW(Child(form, "Button1"), BM_CLICK, 0, 0);
    };
    EXPECT_EQ(chooser.ShowChooser("PC-01"), mrOk);
    EXPECT_EQ(chooser.ComboBox1->Text(), ToAnsi(machines[0]));
}

// Names and texts as anyone on the network may send them are shown as written: no '&' taken
// for a mnemonic, no markup, control characters left as they are.
TEST_F(ReceivingDialogs, NetworkTextIsShownAsWritten) {
    const std::vector<std::string> hostile = {
        "A&B && C&", "&Yes", "<b>bold</b><img src=x>", "&lt;b&gt;&amp;", "tab\there\x01\x1b[31mred",
        ToAnsi(L"営業部&総務の<PC>"), std::string(60 * 1024, 'W') + "&",
    };
    onReceive = [&](Form& form, HWND window) {
        HWND label = Child(form, "Label3");
        for (const std::string& name : hostile) {
            receive.Label3->SetCaption(name);
            Pump(50);
            EXPECT_EQ(TextOf(label), FromCaption(name)) << name.substr(0, 80);
            ExpectDrawnAsWritten(label, FromCaption(name));
            if (&name == &hostile.front()) Shot(window, "receive_hostile");
        }
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(receive.ShowTextReceived("x"), mrCancel);

    std::string all;
    for (const std::string& name : hostile) all += name + "\r\n";
    onPreview = [&](Form& form, HWND window) {
        Shot(window, "preview_hostile");
        std::wstring shown;
        for (const std::string& name : hostile) shown += FromCaption(name) + L"\r\n";
        EXPECT_EQ(TextOf(Child(form, "Memo1")), shown + L"\r\n");
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(preview.ShowText(all), mrCancel);

    for (const std::string& name : hostile) chooser.ComboBox1->AddItem(name);
    onChooser = [&](Form& form, HWND window) {
        HWND combo = Child(form, "ComboBox1");
        ::SetFocus(combo);
        for (std::size_t i = 0; i < hostile.size(); ++i) {
            EXPECT_EQ(ListItem(combo, static_cast<int>(i)), FromCaption(hostile[i])) << hostile[i].substr(0, 80);
            PressKey(VK_DOWN);  // chosen from the list, the name is read back as it came
            Pump(50);
            EXPECT_EQ(chooser.ComboBox1->Text(), hostile[i]) << hostile[i].substr(0, 80);
        }
        Shot(window, "chooser_hostile");
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(chooser.ShowChooser(""), mrCancel);
}
}  // namespace
}  // namespace zumelko::wintest
