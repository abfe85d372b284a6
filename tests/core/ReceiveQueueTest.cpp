// Items that arrive while a receive question is open: each waits with its own header and its
// sender's connection open, is asked about when the open question is answered, and its sender
// hears of it only after its own answer. The wait is bounded.
#include "desktop/BrowserLink.h"
#include "dialogs/OKDialog.h"
#include "dialogs/PreviewDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "tests/core/ProgramFixture.h"
#include "transport/SimpleTcp.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;
using std::chrono::milliseconds;

std::string Nul(const std::string& text) { return text + std::string(1, '\0'); }

bool Done(std::future<bool>& f, int ms = 0) {
    return f.wait_for(milliseconds(ms)) == std::future_status::ready;
}

TEST_F(ProgramTest, ItemsArrivingWhileTheQuestionIsOpenAreAskedInTurnEachUnderItsOwnHeader) {
    Start();
    Form1->CheckerMode = UseDefault;  // an import must not be sent back
    Form1->DefaultDestination = "PEER";
    std::future<bool> second, third;
    user().Expect([&](ScriptedDialog& s) {
        EXPECT_EQ(s.Caption("Label3"), "\"PC-X\" にいる \"alice\" から");
        second = SendItem("string", "bob", "PC-Y", Nul("http://second.example/"));
        EXPECT_TRUE(s.RunUntil([&] { return Form1->WaitingItems() == 1; }, milliseconds(10000)));
        third = SendItem("bitmap", "carol", "PC-Z", HandMadeBmp24(3, 2, 9));
        EXPECT_TRUE(s.RunUntil([&] { return Form1->WaitingItems() == 2; }, milliseconds(10000)));
        s.RunFor(milliseconds(100));
        // The open question is still about the first item, all of it.
        EXPECT_EQ(s.Caption("Label3"), "\"PC-X\" にいる \"alice\" から");
        EXPECT_EQ(s.Caption("Label1"), kTextReceivedLine);
        EXPECT_EQ(Form5->ReceivedText, "first");
        EXPECT_TRUE(s.Get<Button>("Button4").Enabled());
        EXPECT_FALSE(Done(second) || Done(third)) << "a waiting item was reported as taken";
        s.Click("Button1");  // YES
    });
    std::future<bool> first;
    user().Expect([&](ScriptedDialog& s) {
        EXPECT_EQ(s.Caption("Label3"), "\"PC-Y\" にいる \"bob\" から");
        EXPECT_EQ(Form5->ReceivedText, "http://second.example/");
        EXPECT_TRUE(Done(first, 5000)) << "the first sender waits for the others' answers";
        EXPECT_EQ(ClipboardText(), std::optional<std::string>("first"));
        s.RunFor(milliseconds(100));
        EXPECT_FALSE(Done(second));
        s.Click("Button2");  // NO
    });
    user().Expect([&](ScriptedDialog& s) {
        EXPECT_EQ(s.Caption("Label3"), "\"PC-Z\" にいる \"carol\" から");
        EXPECT_EQ(s.Caption("Label1"), kPictureReceivedLine);
        EXPECT_FALSE(s.Get<Button>("Button4").Enabled());
        EXPECT_TRUE(Done(second, 5000));
        s.Click("Button4");  // disabled for a picture: nothing happens
        s.Click("Button3");  // the preview shows this picture
        s.Click("Button1");  // YES
    });
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(Form6->PageControl1->ActivePage(), Form6->TabSheet1);
        EXPECT_TRUE(Form6->Image1->Picture() && Form6->Image1->Picture()->Width() == 3);
        s.Click("Button1");
    });
    first = SendItem("string", "alice", "PC-X", Nul("first"));
    ASSERT_TRUE(RunUntil([&] { return Finished(first) && Finished(second) && Finished(third); }, 30000));
    EXPECT_TRUE(first.get() && second.get() && third.get());
    EXPECT_TRUE(ClipboardHasBitmap());
    EXPECT_EQ(CountShown("Form5"), 3u);
    EXPECT_EQ(CountShown("Form7"), 0u);
    // Both imports were swallowed by the watcher: nothing announced, nothing sent.
    EXPECT_EQ(Form1->SkipCount, 0);
    EXPECT_TRUE(Notices().empty());
    EXPECT_EQ(Form1->Packet2->HeldConnections(), 0u);
}

TEST_F(ProgramTest, DataFromOneSenderIsNeverTakenUnderAHeaderAnotherSentInBetween) {
    Start();
    auto& netscape = desk().dde().AddServer("Netscape", "WWW_OpenURL");
    Form1->ReceiveMode = UrlAutoLink;
    std::vector<std::string> senders;
    user().onShow = [&](ScriptedDialog& s) {
        senders.push_back(s.Caption("Label3"));
        s.Click("Button1");
    };
    // A's header, then B's, then A's data and B's: each data under its own sender's header.
    auto send = [](const char* from, int port, const std::string& payload) {
        return std::async(std::launch::async,
                          [=] { return RawSendPacket(kHere, port, payload, 20000, from); });
    };
    auto headerA = send("127.0.0.5", 8000, "string\r\nalice\r\nPC-A\r\n");
    ASSERT_TRUE(RunUntil([&] { return Finished(headerA); }));
    auto headerB = send("127.0.0.6", 8000, "string\r\nbob\r\nPC-B\r\n");
    ASSERT_TRUE(RunUntil([&] { return Finished(headerB); }));
    auto dataA = send("127.0.0.5", 8001, Nul("http://a.example/"));
    ASSERT_TRUE(RunUntil([&] { return Finished(dataA); }));
    auto dataB = send("127.0.0.6", 8001, Nul("http://b.example/"));
    ASSERT_TRUE(RunUntil([&] { return Finished(dataB); }));
    EXPECT_EQ(senders, (std::vector<std::string>{"\"PC-A\" にいる \"alice\" から", "\"PC-B\" にいる \"bob\" から"}));
    ASSERT_EQ(netscape.transactions.size(), 2u);
    EXPECT_EQ(netscape.transactions[0].item, "http://a.example/");
    EXPECT_EQ(netscape.transactions[1].item, "http://b.example/");
    EXPECT_EQ(Form1->RecvUser, "bob") << "the last header received";
}

TEST_F(ProgramTest, TheWaitIsBoundedInItemsAndBytesAndTheLinkQuestionWaitsToo) {
    Start();
    Form1->ReceiveMode = UrlAutoLink;
    // Room for two 40 KiB texts in bytes, not three.
    Form1->Packet2->SetMaxPacketSize(100 * 1024);
    const std::string big(40 * 1024, 'b');
    std::vector<std::future<bool>> waiting;
    std::vector<std::string> asked;
    user().Expect([&](ScriptedDialog& s) {
        EXPECT_EQ(s.Caption("Label3"), "\"M0\" にいる \"u0\" から");
        for (int i = 1; i <= 2; ++i) {
            waiting.push_back(SendItem("string", "u" + std::to_string(i), "M", Nul(big)));
            EXPECT_TRUE(s.RunUntil([&] { return Form1->WaitingItems() == waiting.size(); }, milliseconds(10000)));
        }
        auto tooMany = SendItem("string", "x", "M", Nul(big));
        EXPECT_TRUE(s.RunUntil([&] { return Finished(tooMany); }, milliseconds(10000))) << "refused in bytes";
        // Small ones fill the rest of the eight places; the ninth is refused at once.
        while (waiting.size() < Form1->kMaxWaitingItems) {
            waiting.push_back(SendItem("string", "u" + std::to_string(waiting.size() + 1), "M", Nul("small")));
            const bool waits = s.RunUntil([&] { return Form1->WaitingItems() == waiting.size(); }, milliseconds(10000));
            EXPECT_TRUE(waits);
            if (!waits) break;
        }
        auto ninth = SendItem("string", "x", "M", Nul("small"));
        EXPECT_TRUE(s.RunUntil([&] { return Finished(ninth); }, milliseconds(10000))) << "refused in number";
        // Items that ask nothing do not wait: a picture here is discarded with a notice at once.
        auto picture = SendItem("bitmap", "x", "M", HandMadeBmp24(2, 2, 1));
        EXPECT_TRUE(s.RunUntil([&] { return Finished(picture); }, milliseconds(10000)));
        EXPECT_EQ(Notices(), std::vector<std::string>{kPictureDiscarded});
        for (auto& w : waiting) EXPECT_FALSE(Done(w));
        EXPECT_EQ(Form1->WaitingItems(), Form1->kMaxWaitingItems);
        s.Click("Button2");
    });
    user().onShow = [&](ScriptedDialog& s) {
        if (s.form().Name() != "Form3") return s.CloseBox();
        asked.push_back(s.Caption("Label3"));
        s.Click("Button2");
    };
    auto first = SendItem("string", "u0", "M0", Nul("first"));
    ASSERT_TRUE(RunUntil([&] { return Finished(first); }, 30000));
    for (auto& w : waiting) EXPECT_TRUE(Done(w, 5000));
    ASSERT_EQ(asked.size(), 8u);
    for (std::size_t i = 0; i < asked.size(); ++i)
        EXPECT_EQ(asked[i], "\"M\" にいる \"u" + std::to_string(i + 1) + "\" から");
    EXPECT_EQ(Form1->WaitingItems(), 0u);

    // Quitting while items wait asks nothing more, and lets every sender go.
    waiting.clear();
    user().Expect([&](ScriptedDialog&) {
        for (int i = 0; i < 2; ++i) {
            waiting.push_back(SendItem("string", "q", "M", Nul("q")));
            EXPECT_TRUE(RunUntil([&] { return Form1->WaitingItems() == waiting.size(); }, 10000));
        }
        app_->Terminate();
    });
    user().ClearShown();
    auto last = SendItem("string", "q", "M", Nul("last"));
    RunUntil([&] { return Finished(last); }, 20000);
    EXPECT_TRUE(Done(last, 5000));
    for (auto& w : waiting) EXPECT_TRUE(Done(w, 5000));
    EXPECT_EQ(CountShown("Form3"), 1u);
    EXPECT_EQ(Form1->Packet2->HeldConnections(), 0u);
}

}  // namespace
}  // namespace zumelko::testing
