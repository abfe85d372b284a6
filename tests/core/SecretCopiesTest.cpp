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

class SecretCopiesTest : public ProgramTest {
protected:
    void CopySecret(const std::string& text) {
        auto& cb = desk().clipboard();
        cb.OpenClipboard(other_);
        cb.EmptyClipboard();
        cb.SetText(text + '\0');
        cb.MarkSecret();
        cb.CloseClipboard();
        TakeNotice();
    }
    bool ClipboardMarked() {
        auto& cb = desk().clipboard();
        cb.OpenClipboard(other_);
        const bool marked = cb.IsMarkedSecret();
        cb.CloseClipboard();
        return marked;
    }
    // The header the peer gets for what the program sends now; nothing when none comes.
    std::optional<std::string> HeaderFor(const std::function<void()>& act, int waitMs = 5000) {
        auto got = std::async(std::launch::async, [&] { return header_->ReceivePacket(waitMs); });
        act();
        RunUntil([&] { return Finished(got); }, waitMs + 1000);
        return got.get();
    }
    std::unique_ptr<RawListener> header_ = std::make_unique<RawListener>(kPeer, 8000);
};

const std::string kMarked = "zumelko-secret\r\n";
bool EndsWith(const std::optional<std::string>& s, const std::string& tail) {
    return s && s->size() >= tail.size() && s->compare(s->size() - tail.size(), tail.size(), tail) == 0;
}

// In both checker modes a marked copy opens no dialog and no connection, and the tip says so;
// the next ordinary copy goes as before; a password copied while an earlier copy's
// announcement is open is not sent in its place. On request, or with --forward-secrets, it
// goes, marked.
TEST_F(SecretCopiesTest, AMarkedCopyIsSentOnlyOnRequestAndThenMarked) {
    Start();
    ASSERT_TRUE(header_->ok());
    Form1->DefaultDestination = "PEER";
    // The answers for whatever dialog does come: the chooser confirmed with PEER, notices closed.
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };
    for (const std::uint8_t mode : {AskDestination, UseDefault}) {
        SCOPED_TRACE(int{mode});
        Form1->CheckerMode = mode;
        user().ClearShown();
        EXPECT_EQ(HeaderFor([&] { CopySecret("hunter2"); }, 300), std::nullopt);
        EXPECT_TRUE(user().Shown().empty());
        EXPECT_EQ(Form1->TaskBar1->Tips(), kSecretKept);
        const auto ordinary = HeaderFor([&] { CopyText("ordinary"); });
        EXPECT_TRUE(ordinary && !EndsWith(ordinary, kMarked));
        EXPECT_EQ(Form1->TaskBar1->Tips(), "");
        // Nothing takes its data: the transfer ends with the network error's notice.
        RunUntil([&] { return !Notices().empty() && Notices().back().rfind(kNetworkError, 0) == 0; });
    }

    // A password copied while the announcement of the copy before it is open.
    user().ClearShown();
    user().onShow = nullptr;
    user().Expect([&](ScriptedDialog& s) {
        CopySecret("copied meanwhile");
        s.Click("Button1");
    });
    EXPECT_EQ(HeaderFor([&] { CopyText("first"); }, 300), std::nullopt);
    EXPECT_EQ(Form1->TaskBar1->Tips(), kSecretKept);

    // Sent on request, and on a change with --forward-secrets: marked, with the data after it.
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };
    Form1->CheckerMode = NoCheck;
    EXPECT_TRUE(EndsWith(HeaderFor([&] { Form1->TransmitData1->Click(); }), kMarked));
    Form1->ForwardSecrets = true;
    Form1->CheckerMode = UseDefault;
    EXPECT_TRUE(EndsWith(HeaderFor([&] { CopySecret("forwarded"); }), kMarked));
}

// What arrives marked is not shown, not offered to a browser (in either receive state), and goes
// on the clipboard with the marks, not to be forwarded again; an unmarked item, or a mark that
// comes without this program's text tag, changes nothing.
TEST_F(SecretCopiesTest, AMarkedItemArrivesHiddenAndIsMarkedOnTheClipboard) {
    Start();
    Form1->CheckerMode = UseDefault;
    Form1->DefaultDestination = "PEER";
    const std::string tagged = "string\r\na\r\nM\r\nzumelko-text cp65001\r\na\r\nM\r\n";
    struct Case {
        std::uint8_t receive;
        std::string header;
        bool hidden;
    };
    for (const Case& c : {Case{IndividualSelection, tagged + kMarked, true}, Case{UrlAutoLink, tagged + kMarked, true},
                          Case{IndividualSelection, tagged, false},
                          Case{IndividualSelection, "string\r\na\r\nM\r\n\r\n\r\n\r\n" + kMarked, false}}) {
        SCOPED_TRACE(c.header);
        Form1->ReceiveMode = c.receive;
        std::string preview, line;
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
            return RawSendPacket(kHere, 8000, c.header) && RawSendPacket(kHere, 8001, std::string("pw\0", 3), 20000);
        });
        ASSERT_TRUE(RunUntil([&] { return Finished(sent); }, 20000));
        EXPECT_TRUE(sent.get());
        EXPECT_EQ(preview, std::string(c.hidden ? kSecretPreview : "pw") + "\r\n");
        EXPECT_EQ(link, !c.hidden);
        EXPECT_EQ(line, c.hidden ? kSecretReceivedLine : kTextReceivedLine);
        EXPECT_EQ(ClipboardText(), std::optional<std::string>("pw"));
        EXPECT_EQ(ClipboardMarked(), c.hidden);
        EXPECT_EQ(Form1->SkipCount, 0);
        EXPECT_TRUE(Notices().empty()) << "the import was not announced for sending";
        user().ClearShown();
    }
}

}  // namespace
}  // namespace zumelko::testing
