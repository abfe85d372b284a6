// The main window with its dialogs, on a simulated desktop, against raw socket peers.
#include <thread>

#include "dialogs/BrowserDialog.h"
#include "dialogs/CustomDialog.h"
#include "dialogs/OKDialog.h"
#include "dialogs/PreviewDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "dialogs/SendDialog.h"
#include "tests/core/ProgramFixture.h"
#include "tests/support/RawPeer.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;
using std::chrono::milliseconds;

std::vector<std::string> Captions(const PopupMenu& menu) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < menu.Count(); ++i) out.push_back(menu.Item(i).Caption());
    return out;
}

TEST_F(ProgramTest, FreshStartIsHiddenWithInitialSettingsAndTheMenusInOrder) {
    Start();
    EXPECT_EQ(Form1->CheckerMode, NoCheck);
    EXPECT_EQ(Form1->ReceiveMode, IndividualSelection);
    EXPECT_EQ(Form1->Browser, NetscapeNavigator);
    EXPECT_EQ(Form1->DefaultDestination, "");
    EXPECT_EQ(Form1->SkipCount, 0);
    EXPECT_EQ(Form1->Width(), 0);
    EXPECT_EQ(Form1->Height(), 0);
    EXPECT_EQ(app_->MainForm(), Form1);
    EXPECT_EQ(app_->Title(), "Zumelko_beta3");
    EXPECT_EQ(Captions(*Form1->PopupMenu1), (std::vector<std::string>{"更新(&U)", "-", "PC-A", "PC-B", "PC-C"}));
    EXPECT_EQ(Captions(*Form1->PopupMenu2), (std::vector<std::string>{"デフォルトへ転送(&T)", "設定(&C)", "-",
                                                                       "バージョン情報(&A)", "終了(&E)"}));
    EXPECT_EQ(Form8->ComboBox1->Items(), (std::vector<std::string>{"PC-A", "PC-B", "PC-C"}));
    // The icon is in the notification area and the program has no taskbar button.
    EXPECT_EQ(desk().shell().Icons().size(), 1u);
    EXPECT_FALSE(desk().shell().ApplicationWindowVisible());

    // Copying does nothing until a checker mode is chosen.
    CopyText("hello");
    RunFor(50);
    EXPECT_TRUE(user().Shown().empty());
}

TEST_F(ProgramTest, TrayMenusOpenOnReleaseAndTheListRefreshesWithAtMostThirtyMachines) {
    std::vector<std::string> many;
    for (int i = 0; i < 35; ++i) many.push_back("M" + std::to_string(i));
    Start(many);
    ASSERT_EQ(Form1->PopupMenu1->Count(), 32u);
    EXPECT_EQ(Form1->PopupMenu1->Item(31).Caption(), "M29");

    // The network changes; "更新(&U)" chosen from the left menu replaces the entries.
    desk().network().root.members.clear();
    auto& g = desk().network().AddProvider("Net").AddWorkgroup("WG");
    g.AddMachine("NEW1");
    g.AddMachine("NEW2");
    std::vector<std::string> opened;
    user().onMenu = [&](PopupMenu& menu, int, int) {
        opened.push_back(menu.Name());
        menu.Item(0).Click();
    };
    desk().shell().SetCursorPos(300, 400);
    desk().shell().SendMouse(platform::WM_LBUTTONDOWN_);
    EXPECT_TRUE(opened.empty());
    desk().shell().SendMouse(platform::WM_LBUTTONUP_);
    EXPECT_EQ(opened, std::vector<std::string>{"PopupMenu1"});
    EXPECT_EQ(Captions(*Form1->PopupMenu1), (std::vector<std::string>{"更新(&U)", "-", "NEW1", "NEW2"}));
    // The chooser keeps its own list until its own refresh.
    EXPECT_EQ(Form8->ComboBox1->Items().size(), 30u);
}

TEST_F(ProgramTest, SettingsDialogEnablesDetailsButtonsAndCopiesBackOnlyOnOk) {
    Start();
    // Cancel after changing everything, "詳細" values included: nothing changes.
    user().Expect([](ScriptedDialog& s) {
        EXPECT_FALSE(s.Get<Button>("Button1").Enabled());
        EXPECT_FALSE(s.Get<Button>("Button3").Enabled());
        s.Select("RadioGroup1", 1);
        EXPECT_TRUE(s.Get<Button>("Button1").Enabled());
        s.Click("Button1");  // the chooser, answered below
        s.Select("RadioGroup2", 1);
        EXPECT_TRUE(s.Get<Button>("Button3").Enabled());
        s.Click("Button3");  // the browser choice, answered below
        EXPECT_EQ(Form4->Destination, "PC-B");
        EXPECT_EQ(Form4->Browser, 1);
        s.PressEscape();
    });
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(s.Caption("Label1"), "デフォルト送信先 ： ");
        s.Type("ComboBox1", "PC-B");
        s.Click("Button1");
    });
    user().Expect([](ScriptedDialog& s) {
        s.Select("RadioGroup1", 1);
        s.Click("Button1");
    });
    Form1->Customize1->Click();
    EXPECT_EQ(Form1->DefaultDestination, "");
    EXPECT_EQ(Form1->Browser, 0);
    EXPECT_EQ(Form1->CheckerMode, NoCheck);
    EXPECT_EQ(Form1->ReceiveMode, IndividualSelection);
    // NO in the browser choice keeps its selection for next time.
    EXPECT_EQ(Form7->RadioGroup1->ItemIndex(), 1);

    // OK copies all four back.
    user().Expect([](ScriptedDialog& s) {
        s.Select("RadioGroup1", 1);
        s.Click("Button1");
        s.Select("RadioGroup2", 1);
        s.Click("Button3");
        s.PressEnter();
    });
    user().Expect([](ScriptedDialog& s) {
        s.Type("ComboBox1", "PEER");
        s.Click("Button1");
    });
    user().Expect([](ScriptedDialog& s) {
        s.Select("RadioGroup1", 1);
        s.Click("Button1");  // YES
    });
    Form1->Customize1->Click();
    EXPECT_EQ(Form1->DefaultDestination, "PEER");
    EXPECT_EQ(Form1->Browser, 1);
    EXPECT_EQ(Form1->CheckerMode, UseDefault);
    EXPECT_EQ(Form1->ReceiveMode, UrlAutoLink);

    // Reopened with those values both "詳細" buttons start enabled; OK in the chooser with an
    // empty text empties the destination; a cancelled chooser leaves it alone.
    user().Expect([](ScriptedDialog& s) {
        EXPECT_TRUE(s.Get<Button>("Button1").Enabled());
        EXPECT_TRUE(s.Get<Button>("Button3").Enabled());
        s.Click("Button1");
        EXPECT_EQ(Form4->Destination, "PEER");
        s.Click("Button1");
        EXPECT_EQ(Form4->Destination, "");
        s.PressEnter();
    });
    user().Expect([](ScriptedDialog& s) {
        s.Type("ComboBox1", "ignored");
        s.Click("Button2");  // Cancel
    });
    user().Expect([](ScriptedDialog& s) {
        s.Click("Button3");  // "更新" empties the text
        EXPECT_EQ(s.Get<ComboBox>("ComboBox1").Text(), "");
        s.Click("Button1");
    });
    Form1->Customize1->Click();
    EXPECT_EQ(Form1->DefaultDestination, "");
}

TEST_F(ProgramTest, SendingPutsTheExactHeaderAndDataOnTheWireAndReportsTheEnd) {
    Start();
    RawListener header(kPeer, 8000);
    RawListener data(kPeer, 8001);
    ASSERT_TRUE(header.ok() && data.ok());
    CopyText("abc");
    Form1->DefaultDestination = "PEER";

    auto got = std::async(std::launch::async, [&] {
        auto h = header.ReceivePacket();
        auto d = data.ReceivePacket();
        return std::make_pair(h, d);
    });
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };
    Form1->TransmitData1->Click();  // works in NoCheck, without an announcement
    ASSERT_TRUE(RunUntil([&] { return Notices().size() == 1; }));
    auto [h, d] = got.get();
    ASSERT_TRUE(h && d);
    // A classic peer's three lines, then the code page they are in (the simulated
    // desktop's is UTF-8) and the names exactly.
    EXPECT_EQ(*h, LengthPrefixed("string\r\nuser1\r\nPC01\r\nzumelko-text cp65001\r\nuser1\r\nPC01\r\n"));
    EXPECT_EQ(*d, std::string("\x04\0\0\0" "abc\0", 8));
    EXPECT_EQ(Notices(), std::vector<std::string>{"データの転送が終了しました。"});
}

TEST_F(ProgramTest, FailedSendsShowOnlyTheirOwnNotices) {
    Start();
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };

    // Nobody listens there: only the header's notice.
    CopyText("abc");
    Form1->DefaultDestination = "127.0.0.9";
    Form1->TransmitData1->Click();
    ASSERT_TRUE(RunUntil([&] { return !Notices().empty(); }));
    RunFor(100);
    EXPECT_EQ(Notices(), std::vector<std::string>{"起動されていない、もしくは受信中です。"});

    // A name that does not resolve gives the same notice.
    user().ClearShown();
    Form1->DefaultDestination = "no-such-host.invalid";
    Form1->TransmitData1->Click();
    ASSERT_TRUE(RunUntil([&] { return !Notices().empty(); }));
    EXPECT_EQ(Notices(), std::vector<std::string>{"起動されていない、もしくは受信中です。"});

    // No default destination, and a clipboard of neither text nor picture.
    user().ClearShown();
    Form1->DefaultDestination = "";
    Form1->TransmitData1->Click();
    CopyNothing();
    Form1->DestinationItemClick(&Form1->PopupMenu1->Item(2));
    EXPECT_EQ(Notices(), (std::vector<std::string>{"ﾃﾞﾌｫﾙﾄ送信先が未設定です。", kUnsupportedFormat}));

    // UseDefault without a destination complains at every change.
    user().ClearShown();
    Form1->CheckerMode = UseDefault;
    CopyText("x");
    CopyText("y");
    EXPECT_EQ(Notices(), (std::vector<std::string>{kNoDefaultDestination, kNoDefaultDestination}));

    // AskDestination confirmed with an empty box.
    user().ClearShown();
    Form1->CheckerMode = AskDestination;
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(s.Caption("Label1"), "どこへ送信しますか？");
        s.Type("ComboBox1", "");
        s.Click("Button1");
    });
    CopyText("z");
    EXPECT_EQ(Notices(), std::vector<std::string>{kNoDefaultDestination});
}

TEST_F(ProgramTest, PreviewEditsChangeNothingReceivedAndYesImportsThePicture) {
    Start();
    user().Expect([](ScriptedDialog& s) {
        s.Click("Button3");
        s.Click("Button1");
    });
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(Form6->PageControl1->ActivePage(), Form6->TabSheet2);
        EXPECT_EQ(Form6->Memo1->Text(), "line1\r\nline2\r\n");
        s.Type("Memo1", "edited");
        s.Click("Button1");
    });
    auto text = SendItem("string", "alice", "PC-X", std::string("line1\r\nline2\0", 13));
    ASSERT_TRUE(RunUntil([&] { return Finished(text); }, 20000));
    EXPECT_EQ(ClipboardText(), std::optional<std::string>("line1\r\nline2"));

    user().Expect([](ScriptedDialog& s) { s.Click("Button1"); });
    auto picture = SendItem("bitmap", "alice", "PC-X", HandMadeBmp24(5, 4, 1));
    ASSERT_TRUE(RunUntil([&] { return Finished(picture); }, 20000));
    EXPECT_TRUE(ClipboardHasBitmap());
    EXPECT_FALSE(desk().clipboard().IsClipboardFormatAvailable(platform::CF_TEXT_));
    EXPECT_EQ(Form1->SkipCount, 0);
}

TEST_F(ProgramTest, ReceiveStatesDecideWhatIsShown) {
    Start();
    // Sleep: nothing shown, clipboard untouched, yet the sender sees its packets taken.
    Form1->ReceiveMode = SleepMode;
    auto sleep = SendItem("string", "a", "M", std::string("zzz\0", 4));
    ASSERT_TRUE(RunUntil([&] { return Finished(sleep); }, 20000));
    EXPECT_TRUE(sleep.get());
    EXPECT_TRUE(user().Shown().empty());
    EXPECT_EQ(ClipboardText(), std::nullopt);
    EXPECT_EQ(Form1->RecvUser, "a");  // headers are stored even asleep

    // URL link: a picture is discarded with a notice; an unknown tag is silent.
    Form1->ReceiveMode = UrlAutoLink;
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };
    auto pic = SendItem("bitmap", "a", "M", HandMadeBmp24(2, 2, 3));
    ASSERT_TRUE(RunUntil([&] { return Finished(pic); }, 20000));
    EXPECT_EQ(Notices(), std::vector<std::string>{kPictureDiscarded});
    auto odd = SendItem("String", "a", "M", std::string("x\0", 2));
    ASSERT_TRUE(RunUntil([&] { return Finished(odd); }, 20000));
    EXPECT_EQ(user().Shown().size(), 1u);

    // A "bitmap" that is no picture is refused, in the question state with a notice, and the
    // program keeps receiving.
    Form1->ReceiveMode = UrlAutoLink;
    auto junkSilent = SendItem("bitmap", "a", "M", "BMjunk");
    ASSERT_TRUE(RunUntil([&] { return Finished(junkSilent); }, 20000));
    EXPECT_EQ(user().Shown().size(), 1u);
    Form1->ReceiveMode = IndividualSelection;
    user().ClearShown();
    auto junk = SendItem("bitmap", "a", "M", std::string("BM\0\0\0\0\0\0\0\0\0\0\0\0\x28\0\0\0", 18));
    ASSERT_TRUE(RunUntil([&] { return Finished(junk); }, 20000));
    auto unknown = SendItem("text", "a", "M", std::string("x\0", 2));
    ASSERT_TRUE(RunUntil([&] { return Finished(unknown); }, 20000));
    EXPECT_EQ(Notices(), (std::vector<std::string>{kUnsupportedFormat, kUnsupportedFormat}));

    // A header of one line leaves the sender's names empty.
    user().ClearShown();
    std::string line3;
    user().Expect([&](ScriptedDialog& s) {
        line3 = s.Caption("Label3");
        s.Click("Button2");
    });
    auto shortHeader = std::async(std::launch::async, [] {
        return RawSendPacket(kHere, 8000, "string\r\n") &&
               RawSendPacket(kHere, 8001, std::string("t\0", 2));
    });
    ASSERT_TRUE(RunUntil([&] { return Finished(shortHeader); }, 20000));
    EXPECT_EQ(line3, "\"\" にいる \"\" から");
}

TEST_F(ProgramTest, NoticesDoNotQueueAndAChangeDuringTheAnnouncementSendsAtOnce) {
    Start();
    RawListener header(kPeer, 8000);
    ASSERT_TRUE(header.ok());
    Form1->CheckerMode = UseDefault;
    Form1->DefaultDestination = "PEER";
    // While the first announcement is open the clipboard changes again: the inner announcement
    // is dropped and the inner transfer starts before the outer one.
    bool innerSent = false;
    user().Expect([&](ScriptedDialog& s) {
        EXPECT_EQ(s.Caption("Label1"), "ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"PEER\"に送信します。");
        CopyText("second");
        auto first = std::async(std::launch::async, [&] { return header.ReceivePacket(); });
        ASSERT_TRUE(s.RunUntil([&] { return first.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                               milliseconds(5000)));
        innerSent = first.get().has_value();
        s.Click("Button1");
    });
    CopyText("first");
    EXPECT_TRUE(innerSent);
    EXPECT_EQ(Notices().size(), 1u);  // the inner announcement never showed
}

TEST_F(ProgramTest, AListenerThatCannotStartIsReportedOnceAndTheProgramStillSends) {
    RawListener squatter(kHere, 8000);
    ASSERT_TRUE(squatter.ok());
    Start();
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };
    Form1->ReportStartupErrors();
    EXPECT_EQ(Notices(), std::vector<std::string>{"ネットワークエラー ： Address already in use (in Listener)"});

    RawListener header(kPeer, 8000);
    RawListener data(kPeer, 8001);
    CopyText("still works");
    Form1->DefaultDestination = "PEER";
    auto got = std::async(std::launch::async, [&] { return header.ReceivePacket() && data.ReceivePacket(); });
    Form1->TransmitData1->Click();
    ASSERT_TRUE(RunUntil([&] { return Notices().size() == 2; }));
    EXPECT_TRUE(got.get());
    EXPECT_EQ(Notices().back(), kTransferDone);
}

}  // namespace
}  // namespace zumelko::testing

namespace zumelko::testing {
namespace {

TEST_F(ProgramTest, ARestartRightAfterReceivingListensAgainAtOnce) {
    // The connections the program closes are reset, never left in TIME_WAIT on its ports.
    Start();
    Form1->ReceiveMode = SleepMode;
    for (int i = 0; i < 3; ++i) {
        auto item = SendItem("string", "a", "M", std::string("x\0", 2));
        ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 20000));
        ASSERT_TRUE(item.get());
    }
    app_->DestroyForms();
    ForgetForms();
    app_.reset();

    app_ = std::make_unique<Application>();
    CreateForms(*app_);
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };
    Form1->ReportStartupErrors();
    EXPECT_TRUE(Notices().empty());
    Form1->ReceiveMode = SleepMode;
    auto again = SendItem("string", "a", "M", std::string("y\0", 2));
    ASSERT_TRUE(RunUntil([&] { return Finished(again); }, 20000));
    EXPECT_TRUE(again.get());
}

}  // namespace
}  // namespace zumelko::testing
