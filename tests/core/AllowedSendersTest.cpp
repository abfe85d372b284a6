// Who may send: with the setting on, only the listed machines and the names the user added get
// a dialog; anyone else's packets are dropped and logged with their address. Real TCP on
// loopback, each peer connecting from an address of its own.
#include <gtest/gtest.h>

#include "dialogs/CustomDialog.h"
#include "tests/core/ProgramFixture.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;

std::future<bool> SendFrom(const std::string& source, const std::string& type, const std::string& text) {
    return std::async(std::launch::async, [=] {
        if (!RawSendPacket(kHere, 8000, type + "\r\nu\r\nM\r\n", 5000, source)) return false;
        return RawSendPacket(kHere, 8001, text + std::string(1, '\0'), 5000, source);
    });
}

TEST_F(ProgramTest, OnlyListedAndAddedMachinesMaySendWhenTheSettingIsOn) {
    Start();
    desk().sockets().AddHost("PC-A", Inet("127.0.0.4"));   // in the workgroup's list
    desk().sockets().AddHost("PC-B", Inet("127.0.0.7"));
    desk().sockets().AddHost("PC-C", Inet("127.0.0.8"));
    desk().sockets().AddHost("FRIEND", Inet("127.0.0.5"));  // added by the user
    user().onShow = [](ScriptedDialog& s) { s.Click("Button2"); };  // NO to every offer

    struct Case {
        const char* source;
        bool restricted;
        bool offered;
    };
    const Case cases[] = {
        {"127.0.0.9", false, true},   // off: anyone, as before
        {"127.0.0.4", true, true},    // a machine of the list
        {"127.0.0.5", true, true},    // an added name
        {"127.0.0.6", true, true},    // an added address
        {"127.0.0.9", true, false},   // anyone else
    };
    bool settingOn = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + (c.restricted ? " restricted" : " open"));
        if (c.restricted && !settingOn) {
            // Through the dialog, as the user turns it on.
            user().Expect([](ScriptedDialog& s) {
                EXPECT_FALSE(s.Get<Button>("Button4").Enabled());
                s.Select("RadioGroup3", 1);
                s.Click("Button4");
                s.PressEnter();
            });
            user().Expect([](ScriptedDialog& s) {
                s.Type("ComboBox1", "FRIEND, 127.0.0.6 ");
                s.Click("Button1");
            });
            Form1->Customize1Click(nullptr);
            ASSERT_EQ(Form1->SenderMode, KnownSenders);
            settingOn = true;
        }
        user().ClearShown();
        ::testing::internal::CaptureStderr();
        auto item = SendFrom(c.source, "string", "hello");
        ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 10000));
        RunFor(100);
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(item.get()) << "the peer's connections are closed either way";
        EXPECT_EQ(CountShown("Form5"), c.offered ? 1u : 0u);
        EXPECT_TRUE(user().Shown().size() == CountShown("Form5")) << "no other dialog";
        EXPECT_EQ(log.find(std::string("from ") + c.source) != std::string::npos, !c.offered) << log;
    }

    // A refused header between an allowed sender's header and data does not relabel the data.
    user().ClearShown();
    auto header = std::async(std::launch::async,
                             [] { return RawSendPacket(kHere, 8000, "string\r\nu\r\nPC-A\r\n", 5000, "127.0.0.4"); });
    ASSERT_TRUE(RunUntil([&] { return Finished(header); }));
    auto stranger = std::async(std::launch::async,
                               [] { return RawSendPacket(kHere, 8000, "bitmap\r\nx\r\nX\r\n", 5000, "127.0.0.9"); });
    ASSERT_TRUE(RunUntil([&] { return Finished(stranger); }));
    auto data = std::async(std::launch::async,
                           [] { return RawSendPacket(kHere, 8001, std::string("text\0", 5), 5000, "127.0.0.4"); });
    ASSERT_TRUE(RunUntil([&] { return Finished(data); }));
    EXPECT_EQ(Form1->RecvType, "string");
    EXPECT_EQ(CountShown("Form5"), 1u);
    EXPECT_TRUE(Notices().empty());
}

}  // namespace
}  // namespace zumelko::testing
