// What arrives from the network may be anything, and whatever a handler runs into must leave
// the program as it was: nothing held open, nothing of the user's lost, nothing swallowed.
#include "desktop/BitmapImage.h"
#include "desktop/ClipboardAccess.h"
#include "dialogs/OKDialog.h"
#include "platform/Dib.h"
#include "tests/core/ProgramFixture.h"
#include "transport/SimpleTcp.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;

std::future<bool> SendPacket(int port, const std::string& payload) {
    return std::async(std::launch::async, [port, payload] { return RawSendPacket(kHere, port, payload, 5000); });
}

TEST_F(ProgramTest, AHeaderLargerThanAnyRealOneIsRefusedAndTheLastOneStays) {
    Start();
    // A long user name is still a header.
    const std::string longUser(1000, 'u');
    auto good = SendPacket(8000, "string\r\n" + longUser + "\r\nPC-X\r\n");
    ASSERT_TRUE(RunUntil([&] { return Finished(good); }));
    EXPECT_TRUE(good.get());
    EXPECT_EQ(Form1->RecvUser, longUser);

    // Line ends only: as lines they would take many times their size in memory.
    auto huge = SendPacket(8000, std::string(100 * 1024, '\n'));
    ASSERT_TRUE(RunUntil([&] { return Finished(huge); }));
    EXPECT_TRUE(huge.get()) << "the program closes the connection";
    EXPECT_EQ(Form1->RecvType, "string");
    EXPECT_EQ(Form1->RecvUser, longUser);
    EXPECT_EQ(Form1->RecvMachine, "PC-X");
    EXPECT_LE(Form1->Packet1->IncomingCapacity(), Form1->Packet1->MaxPacketSize());
    EXPECT_TRUE(user().Shown().empty());
}

// The two ceilings at the length fields, each on both sides: a header of exactly the limit is
// taken and one byte more is not; a text announced at exactly its ceiling is waited for and one
// byte more is refused before any of it is held.
TEST_F(ProgramTest, HeaderAndTextCeilingsHoldToTheByte) {
    Start();
    const std::size_t limit = kMaxHeaderSize;
    const std::string frame = "string\r\n\r\nPC-X\r\n";
    for (const std::size_t size : {limit, limit + 1}) {
        SCOPED_TRACE(size);
        std::string header = frame;
        header.insert(8, size - frame.size(), 'u');
        ASSERT_EQ(header.size(), size);
        Form1->RecvUser = "before";
        auto sent = SendPacket(8000, header);
        ASSERT_TRUE(RunUntil([&] { return Finished(sent); }));
        EXPECT_TRUE(sent.get()) << "the program closes the connection either way";
        EXPECT_EQ(Form1->RecvUser, size == limit ? std::string(size - frame.size(), 'u') : "before");
    }

    auto lengthField = [](std::uint64_t n) {
        std::string b(4, '\0');
        for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(i)] = static_cast<char>(n >> (8 * i));
        return b;
    };
    for (const std::size_t length : {kMaxReceivedText, kMaxReceivedText + 1}) {
        SCOPED_TRACE(length);
        auto header = SendPacket(8000, "string\r\nu\r\nPC-X\r\n");
        ASSERT_TRUE(RunUntil([&] { return Finished(header); }));
        ASSERT_TRUE(header.get());
        // The peer announces the text and sends a little of it; closed at once or kept waiting.
        auto data = std::async(std::launch::async,
                               [&] { return RawSendBytes(kHere, 8001, lengthField(length) + "abc", 600); });
        ASSERT_TRUE(RunUntil([&] { return Finished(data); }, 10000));
        EXPECT_EQ(data.get(), length > kMaxReceivedText) << "closed by the program";
        ASSERT_TRUE(RunUntil([&] { return Form1->Packet2->IncomingConnections() == 0; }));
    }
    EXPECT_TRUE(user().Shown().empty());
}

TEST_F(ProgramTest, APictureThisDisplayCannotMakeIsRefusedBeforeTheClipboardIsTouched) {
    // The stream is a good BMP, but the display cannot make a bitmap of it: it could be
    // neither previewed nor imported.
    Start();
    CopyText("keep me");
    desk().gdi().SetBitmapPixelLimit(10);
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };  // YES to anything, OK to notices
    auto item = SendItem("bitmap", "a", "M", HandMadeBmp24(5, 4, 7), 5000);
    ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 20000));
    EXPECT_TRUE(item.get()) << "the sender hears its item was taken";
    EXPECT_EQ(CountShown("Form5"), 0u);
    EXPECT_EQ(Notices(), std::vector<std::string>{kUnsupportedFormat});
    EXPECT_EQ(ClipboardText(), std::optional<std::string>("keep me"));
    EXPECT_EQ(Form1->SkipCount, 0);
    EXPECT_TRUE(user().Exceptions().empty());
}

TEST_F(ProgramTest, AnImportThatFailsIsReportedAndLeavesNothingOpenOrSkipped) {
    Start();
    Form1->CheckerMode = UseDefault;
    Form1->DefaultDestination = "PEER";
    // The system runs short between the question and the answer.
    user().Expect([&](ScriptedDialog& s) {
        desk().gdi().SetBitmapPixelLimit(1);
        s.Click("Button1");  // YES
    });
    auto item = SendItem("bitmap", "a", "M", HandMadeBmp24(5, 4, 7), 5000);
    ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 20000));
    EXPECT_TRUE(item.get()) << "the data connection was left open";
    EXPECT_EQ(user().Exceptions(), std::vector<std::string>{kOutOfResources});
    EXPECT_FALSE(desk().clipboard().IsOpen());
    EXPECT_EQ(Form1->ClipboardAccess->OpenCount(), 0);
    EXPECT_EQ(Form1->Packet2->IncomingConnections(), 0u);
    EXPECT_EQ(Form1->SkipCount, 0);

    // The user's next copy is not taken for the program's own.
    desk().gdi().SetBitmapPixelLimit(platform::dib::kMaxPixels);
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };
    CopyText("next");
    ASSERT_FALSE(Notices().empty());
    EXPECT_EQ(Notices().front(), "ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"PEER\"に送信します。");
}

TEST_F(ProgramTest, ASendThatCannotReadTheClipboardIsReportedAndTheNextOneGoes) {
    Start();
    RawListener header(kPeer, 8000);
    RawListener data(kPeer, 8001);
    ASSERT_TRUE(header.ok() && data.ok());
    CopyBmp(HandMadeBmp24(5, 4, 1));
    Form1->DefaultDestination = "PEER";
    // The picture is read again once the header is taken, and the system has run short by then.
    desk().gdi().SetBitmapPixelLimit(1);
    auto taken = std::async(std::launch::async, [&] { return header.ReceivePacket().has_value(); });
    Form1->TransmitData1->Click();
    ASSERT_TRUE(RunUntil([&] { return !user().Exceptions().empty(); }));
    EXPECT_TRUE(taken.get());
    EXPECT_EQ(user().Exceptions(), std::vector<std::string>{kOutOfResources});
    EXPECT_FALSE(desk().clipboard().IsOpen());
    EXPECT_EQ(Form1->ClipboardAccess->OpenCount(), 0);
    EXPECT_EQ(Form1->Packet1->SenderSocket().SocketHandle(), platform::kInvalidSocket);
    EXPECT_EQ(Form1->Packet2->SenderSocket().SocketHandle(), platform::kInvalidSocket);

    desk().gdi().SetBitmapPixelLimit(platform::dib::kMaxPixels);
    user().onShow = [](ScriptedDialog& s) { s.Click("Button1"); };
    auto both = std::async(std::launch::async, [&] { return header.ReceivePacket() && data.ReceivePacket(); });
    Form1->TransmitData1->Click();
    ASSERT_TRUE(RunUntil([&] { return !Notices().empty(); }));
    EXPECT_TRUE(both.get());
    EXPECT_EQ(Notices(), std::vector<std::string>{kTransferDone});
}

TEST_F(ProgramTest, QuittingWithDialogsOpenUnwindsThemAndLeavesNothingBehind) {
    Start();
    bool quitAsked = false;
    user().Expect([](ScriptedDialog& s) { s.Click("Button3"); });  // Form5: preview
    user().Expect([](ScriptedDialog&) { Form1->Customize1->Click(); });  // Form6: settings from the tray
    user().Expect([](ScriptedDialog& s) {  // Form4: the destination chooser
        s.Select("RadioGroup1", 1);
        s.Click("Button1");
    });
    user().Expect([&](ScriptedDialog&) {  // Form8: "終了(&E)" from the tray
        Form1->Exit1->Click();
        quitAsked = true;
    });
    auto item = SendItem("string", "a", "M", std::string("text\0", 5), 5000);
    RunUntil([&] { return Finished(item); }, 20000);
    EXPECT_TRUE(quitAsked);
    EXPECT_TRUE(user().OpenForms().empty());
    EXPECT_TRUE(item.get()) << "the connection of the item being asked about was closed";
    // Nothing was decided by the dialogs the quit closed.
    EXPECT_EQ(ClipboardText(), std::nullopt);
    EXPECT_EQ(Form1->CheckerMode, NoCheck);

    app_->DestroyForms();
    ForgetForms();
    app_.reset();
    EXPECT_EQ(desk().sockets().OpenSocketCount(), 0u);
    EXPECT_TRUE(desk().shell().Icons().empty());
    EXPECT_EQ(desk().clipboard().Viewer(), 0u);
    EXPECT_TRUE(user().Exceptions().empty());
}

TEST_F(ProgramTest, RefreshingTheListWhileAMachineEntrysClickWaitsIsSafe) {
    // The click on a machine entry waits in its notice; meanwhile "更新(&U)" destroys that entry.
    Start();
    CopyNothing();
    user().Expect([](ScriptedDialog& s) {
        Form1->UpdateThisList1->Click();
        s.Click("Button1");
    });
    user().onMenu = [](PopupMenu& menu, int, int) { menu.Item(2).Click(); };
    desk().shell().SendMouse(platform::WM_LBUTTONDOWN_);
    desk().shell().SendMouse(platform::WM_LBUTTONUP_);
    EXPECT_EQ(Notices(), std::vector<std::string>{kUnsupportedFormat});
    ASSERT_EQ(Form1->PopupMenu1->Count(), 5u);
    EXPECT_EQ(Form1->PopupMenu1->Item(2).Caption(), "PC-A");
    EXPECT_TRUE(user().Exceptions().empty());
}

}  // namespace
}  // namespace zumelko::testing
