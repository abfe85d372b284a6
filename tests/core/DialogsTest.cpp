// The dialogs' guards and their browser link, within the whole program.
#include "desktop/BrowserLink.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/BrowserDialog.h"
#include "dialogs/OKDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "tests/core/ProgramFixture.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;

TEST_F(ProgramTest, NoticesAndTheAboutBoxNeverOpenTwice) {
    Start();
    int beepsBefore = desk().shell().Beeps();
    user().Expect([&](ScriptedDialog& s) {
        EXPECT_EQ(Form2->ShowNotice("second"), 0);  // dropped, not queued
        EXPECT_EQ(s.Caption("Label1"), "first");
        EXPECT_FALSE(s.Get<Label>("Label1").WordWrap());
        s.Click("Button1");
    });
    EXPECT_EQ(Form2->ShowNotice("first"), mrOk);
    EXPECT_EQ(desk().shell().Beeps(), beepsBefore + 1);
    EXPECT_EQ(Notices(), std::vector<std::string>{"first"});

    // The About box from the settings dialog, then from the tray menu while it is open.
    beepsBefore = desk().shell().Beeps();
    user().Expect([](ScriptedDialog& s) {
        s.Click("Button2");
        s.PressEscape();
    });
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(s.form().Caption(), "ﾊﾞｰｼﾞｮﾝ情報");
        EXPECT_EQ(s.Caption("Version"), "Version 0.90");
        Form1->About1->Click();
        s.PressEnter();
    });
    Form1->Customize1->Click();
    EXPECT_EQ(CountShown("AboutBox"), 1u);
    EXPECT_EQ(desk().shell().Beeps(), beepsBefore);  // neither beeps
}

TEST_F(ProgramTest, TheLinkButtonOpensTheChosenBrowserOrSaysItIsNotRunning) {
    Start();
    auto& explorer = desk().dde().AddServer("IExplore", "WWW_OpenURL");
    Form1->CheckerMode = NoCheck;
    user().Expect([](ScriptedDialog& s) {
        s.Click("Button4");  // リンク
        s.Click("Button4");
        s.Click("Button2");
    });
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(s.Get<RadioGroup>("RadioGroup1").ItemIndex(), 0);  // 0 at start-up
        s.Select("RadioGroup1", 1);
        s.Click("Button1");  // YES: Internet Explorer
    });
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(s.Get<RadioGroup>("RadioGroup1").ItemIndex(), 1);  // kept from last time
        s.Select("RadioGroup1", 0);
        s.Click("Button1");  // YES: Netscape Navigator, which is not running
    });
    user().Expect([](ScriptedDialog& s) { s.Click("Button1"); });  // the notice
    const std::string url(" http://example.test/a?b\r\n");
    auto item = SendItem("string", "a", "M", url + std::string(1, '\0'));
    ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 20000));

    ASSERT_EQ(explorer.transactions.size(), 1u);
    EXPECT_EQ(explorer.transactions[0].type, platform::XTYP_POKE_);
    EXPECT_EQ(explorer.transactions[0].item, "http://example.test/a?b");
    EXPECT_EQ(explorer.transactions[0].data, std::string(1, '\0'));
    EXPECT_EQ(Notices(), std::vector<std::string>{"Netscape Navigater が起動していません。"});
    ASSERT_EQ(desk().dde().Execs().size(), 1u);
    EXPECT_EQ(desk().dde().Execs()[0].commandLine, "Netscape WWW_OpenURL");
    EXPECT_EQ(ClipboardText(), std::nullopt);  // answered NO
}

TEST_F(ProgramTest, UrlAutoLinkAsksAndLinksWithTheSettingsBrowser) {
    Start();
    auto& netscape = desk().dde().AddServer("Netscape", "WWW_OpenURL");
    Form1->ReceiveMode = UrlAutoLink;
    Form1->Browser = NetscapeNavigator;
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(s.Caption("Label2"), "Netscape Navigaterにリンクしますか？");
        EXPECT_EQ(s.Caption("Label3"), "\"PC-X\" にいる \"alice\" から");
        EXPECT_EQ(s.Caption("Label1"), kTextReceivedLine);
        s.Click("Button1");
    });
    auto item = SendItem("string", "alice", "PC-X", std::string("http://x/\0", 10));
    ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 20000));
    ASSERT_EQ(netscape.transactions.size(), 1u);
    EXPECT_EQ(netscape.transactions[0].type, platform::XTYP_REQUEST_);
    EXPECT_EQ(netscape.transactions[0].item, "http://x/");
    EXPECT_EQ(ClipboardText(), std::nullopt);

    // A text that is no web address is not handed over even when the user says YES.
    user().Expect([](ScriptedDialog& s) { s.Click("Button1"); });
    user().Expect([](ScriptedDialog& s) { s.Click("Button1"); });  // the notice
    auto option = SendItem("string", "alice", "PC-X", std::string("-profile /tmp/x\0", 16));
    ASSERT_TRUE(RunUntil([&] { return Finished(option); }, 20000));
    EXPECT_EQ(netscape.connects, 1);
    EXPECT_EQ(Notices(), std::vector<std::string>{kNotAWebAddress});
    EXPECT_TRUE(desk().dde().Execs().empty());
    user().ClearShown();

    // A browser value no dialog offers does nothing, and the question names no browser.
    Form1->Browser = 2;
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(s.Caption("Label2"), "にリンクしますか？");
        s.Click("Button1");
    });
    auto other = SendItem("string", "alice", "PC-X", std::string("http://y/\0", 10));
    ASSERT_TRUE(RunUntil([&] { return Finished(other); }, 20000));
    EXPECT_EQ(netscape.transactions.size(), 1u);
    EXPECT_TRUE(Notices().empty());
}

}  // namespace
}  // namespace zumelko::testing
