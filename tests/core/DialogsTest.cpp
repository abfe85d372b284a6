// The dialogs' guards and their browser link, within the whole program.
#include "desktop/BrowserLink.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/BrowserDialog.h"
#include "dialogs/OKDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "tests/core/ProgramFixture.h"
#include "tests/desktop/WebAddressCases.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;

TEST_F(ProgramTest, NoticesAndTheAboutBoxNeverOpenTwice) {
    Start();
    int beepsBefore = desk().shell().Beeps();
    user().Expect([&](ScriptedDialog& s) {
        EXPECT_EQ(Form2->ShowNotice("second"), 0);  // dropped, not queued
        EXPECT_EQ(s.Caption("Label1"), "first");
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

TEST_F(ProgramTest, ANoticeThatDoesNotFitWidensTheDialogToTheScreenAndThenWraps) {
    Start();
    // The simulated desktop's metric: 8 pixels for an ASCII character and 16 for any other at
    // 16 pixels, 20 to a line; the screen takes a client area of 1024 x 740.
    struct Case {
        std::string text;
        int width, height;
        bool wrapped;
    };
    const std::vector<Case> cases = {
        {"データの転送が終了しました。", 427, 141, false},
        // 9 wide, 2 blanks, 1 wide, 36 ASCII: 464 pixels.
        {"ネットワークエラー ： Address already in use (in Listener)", 464 + 64, 141, false},
        {std::string(100, 'a'), 100 * 8 + 64, 141, false},
        // 3200 pixels of Japanese: four lines of at most 960.
        {std::string(200 * 3, '\0'), 1024, 141 + 60, true},
        // Breaks after a blank: the second word does not fit beside the first.
        {std::string(100, 'a') + " " + std::string(100, 'b') + " " + std::string(10, 'c'), 1024, 141 + 20, true},
        // Lines as written count, short or not.
        {"one\r\ntwo\nthree", 427, 141 + 40, false},
        // No taller than the screen, however long.
        {std::string(100000, 'W'), 1024, 740, true},
        {"short again", 427, 141, false},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        if (!text.empty() && text[0] == '\0') {
            text.clear();
            for (int i = 0; i < 200; ++i) text += "あ";
        }
        user().Expect([&](ScriptedDialog& s) {
            const Form& f = s.form();
            const Rect bevel = s.Get<Bevel>("Bevel1").Bounds();
            const Rect label = s.Get<Label>("Label1").Bounds();
            const Rect ok = s.Get<Button>("Button1").Bounds();
            const std::string what = text.substr(0, 40);
            EXPECT_EQ(f.ClientWidth(), c.width) << what;
            EXPECT_EQ(f.ClientHeight(), c.height) << what;
            EXPECT_EQ(s.Get<Label>("Label1").WordWrap(), c.wrapped) << what;
            EXPECT_EQ(s.Caption("Label1"), text) << "the text itself is never changed";
            // The text stands within the bevel, the button centred below it.
            const int textWidth =
                c.wrapped ? label.width : user().MeasureCaption(s.Get<Label>("Label1").GetFont(), text, 0).width;
            EXPECT_LE(label.left + textWidth, bevel.left + bevel.width - 23) << what;
            EXPECT_EQ(bevel.top + bevel.height + 10, ok.top) << what;
            EXPECT_LE(std::abs(ok.left * 2 + ok.width - f.ClientWidth()), 1) << what;
            EXPECT_LE(ok.top + ok.height, f.ClientHeight()) << what;
            s.Click("Button1");
        });
        EXPECT_EQ(Form2->ShowNotice(text), mrOk);
    }
    // A screen narrower than the designed dialog leaves the dialog as designed and wraps in it.
    user().screen = {300, 500};
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(s.form().ClientWidth(), 427);
        EXPECT_EQ(s.Get<Label>("Label1").Bounds().width, 427 - 64);
        s.Click("Button1");
    });
    Form2->ShowNotice(std::string(400, 'x'));
}

TEST_F(ProgramTest, TheLinkButtonAsksWhichBrowserOnlyForAWebAddress) {
    Start();
    std::size_t addresses = 0;
    std::size_t others = 0;
    user().Expect([&](ScriptedDialog& s) {
        for (const auto& c : WebAddressCases()) {
            Form5->ReceivedText = c.text;
            s.Click("Button4");  // リンク
            (c.address ? addresses : others) += 1;
            EXPECT_EQ(CountShown("Form7"), addresses) << c.text;
            EXPECT_EQ(Notices().size(), others) << c.text;
        }
        s.Click("Button2");
    });
    user().onShow = [](ScriptedDialog& s) {
        // NO to the browser choice, OK to the notice.
        s.Click(s.form().Name() == "Form7" ? "Button2" : "Button1");
    };
    auto item = SendItem("string", "a", "M", std::string("x\0", 2));
    ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 20000));
    EXPECT_GT(addresses, 0u);
    EXPECT_GT(others, 0u);
    for (const auto& notice : Notices()) EXPECT_EQ(notice, kNotAWebAddress);
    EXPECT_TRUE(desk().dde().Execs().empty());
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
        EXPECT_EQ(s.Caption("Label4"), kUnencryptedLine);
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
