// Copies a password manager marked: kept at home on a clipboard change, sent marked on request,
// and hidden and marked again where they arrive.
#include <future>

#include "core/MainForm.h"
#include "desktop/TaskBar.h"
#include "dialogs/PreviewDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "tests/core/ProgramFixture.h"
#include "tests/support/RawPeer.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;
const std::string kMark = "zumelko-secret\r\n";

class SecretCopiesTest : public ProgramTest {
protected:
    // Another program copies a text (marked, or not), or reads whether the clipboard is marked.
    bool Clipboard(const std::optional<std::string>& copy, bool mark = false) {
        auto& cb = desk().clipboard();
        cb.OpenClipboard(other_);
        if (copy) {
            cb.EmptyClipboard();
            cb.SetText(*copy + '\0');
            if (mark) cb.MarkSecret();
        }
        const bool marked = cb.IsMarkedSecret();
        cb.CloseClipboard();
        if (copy) TakeNotice();
        return marked;
    }
    // The header the peer gets while act runs: "" when none comes, "mark" when it is marked.
    std::string HeaderFor(const std::function<void()>& act, int waitMs = 5000) {
        auto got = std::async(std::launch::async, [&] { return header_.ReceivePacket(waitMs); });
        act();
        RunUntil([&] { return Finished(got); }, waitMs + 1000);
        const auto h = got.get();
        if (!h) return "";
        // Nothing takes the data: the transfer ends with the network error's notice.
        RunUntil([&] { return !Notices().empty() && Notices().back().rfind(kNetworkError, 0) == 0; });
        return h->size() > kMark.size() && h->substr(h->size() - kMark.size()) == kMark ? "mark" : "plain";
    }
    RawListener header_{kPeer, 8000};
};

// In both checker modes a marked copy opens no dialog and no connection and the tip says so,
// also one copied while the announcement of the copy before it is open; the next ordinary copy
// goes as before. On request, or with --forward-secrets, it goes marked.
TEST_F(SecretCopiesTest, AMarkedCopyIsSentOnlyOnRequestAndThenMarked) {
    Start();
    ASSERT_TRUE(header_.ok());
    Form1->DefaultDestination = "PEER";
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };  // chooser OK with PEER, notices
    for (const std::uint8_t mode : {AskDestination, UseDefault}) {
        Form1->CheckerMode = mode;
        user().ClearShown();
        EXPECT_EQ(HeaderFor([&] { Clipboard("hunter2", true); }, 300), "") << int{mode};
        EXPECT_TRUE(user().Shown().empty());
        EXPECT_EQ(Form1->TaskBar1->Tips(), kSecretKept);
        EXPECT_EQ(HeaderFor([&] { Clipboard("ordinary"); }), "plain");
        EXPECT_EQ(Form1->TaskBar1->Tips(), "");
    }
    user().onShow = nullptr;
    user().Expect([&](ScriptedDialog& s) {
        Clipboard("copied meanwhile", true);
        s.Click("Button1");
    });
    EXPECT_EQ(HeaderFor([&] { Clipboard("first"); }, 300), "");

    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };
    Form1->CheckerMode = NoCheck;
    EXPECT_EQ(HeaderFor([&] { Form1->TransmitData1->Click(); }), "mark");
    Form1->ForwardSecrets = true;
    Form1->CheckerMode = UseDefault;
    EXPECT_EQ(HeaderFor([&] { Clipboard("forwarded", true); }), "mark");
}

// What arrives marked is named as a password, not shown, not offered to a browser (in either
// receive state) and goes on the clipboard with the marks, not to be forwarded again; an
// unmarked item, or a mark without this program's text tag, changes nothing.
TEST_F(SecretCopiesTest, AMarkedItemArrivesHiddenAndIsMarkedOnTheClipboard) {
    Start();
    Form1->CheckerMode = UseDefault;
    Form1->DefaultDestination = "PEER";
    const std::string tagged = "string\r\na\r\nM\r\nzumelko-text cp65001\r\na\r\nM\r\n";
    for (const auto& [receive, header, hidden] :
         {std::tuple{IndividualSelection, tagged + kMark, true}, std::tuple{UrlAutoLink, tagged + kMark, true},
          std::tuple{IndividualSelection, tagged, false},
          std::tuple{IndividualSelection, "string\r\na\r\nM\r\n\r\n\r\n\r\n" + kMark, false}}) {
        SCOPED_TRACE(header);
        Form1->ReceiveMode = receive;
        std::string line, preview;
        bool link = false;
        user().Expect([&](ScriptedDialog& s) {
            line = s.Caption("Label1");
            link = s.Get<Button>("Button4").Enabled();
            s.Click("Button3");
            s.Click("Button1");
        });
        user().Expect([&](ScriptedDialog& s) {
            preview = Form6->Memo1->Text();
            s.Click("Button1");
        });
        auto sent = std::async(std::launch::async, [&] {
            return RawSendPacket(kHere, 8000, header) && RawSendPacket(kHere, 8001, std::string("pw\0", 3), 20000);
        });
        ASSERT_TRUE(RunUntil([&] { return Finished(sent); }, 20000));
        EXPECT_EQ(line, hidden ? kSecretReceivedLine : kTextReceivedLine);
        EXPECT_EQ(preview, std::string(hidden ? kSecretPreview : "pw") + "\r\n");
        EXPECT_EQ(link, !hidden);
        EXPECT_EQ(ClipboardText(), std::optional<std::string>("pw"));
        EXPECT_EQ(Clipboard(std::nullopt), hidden);
        EXPECT_TRUE(Notices().empty()) << "the import is not sent on";
        user().ClearShown();
    }
}

}  // namespace
}  // namespace zumelko::testing
