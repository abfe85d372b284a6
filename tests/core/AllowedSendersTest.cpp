// Who may send: with the setting on, only the workgroup's machines and the names the user added
// get a dialog; anyone else is reset at the door, so its program hears that nothing was
// delivered, and the log names its address. Machines found by discovery are offered as
// destinations but may not send for being found. Real TCP on loopback, each peer connecting
// from an address of its own.
#include <gtest/gtest.h>

#include "core/AllowedSenders.h"
#include "desktop/NetUtility.h"
#include "dialogs/CustomDialog.h"
#include "transport/SimpleTcp.h"
#include "tests/core/ProgramFixture.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;

// The item's header, then its data; how the data's connection ended (or the header's, when
// that one was turned away already).
std::future<Ending> SendFrom(const std::string& source, const std::string& type, const std::string& text) {
    return std::async(std::launch::async, [=] {
        const Ending header = RawSendPacketEnding(kHere, 8000, type + "\r\nu\r\nM\r\n", 5000, source);
        if (header != Ending::Closed) return header;
        return RawSendPacketEnding(kHere, 8001, text + std::string(1, '\0'), 5000, source);
    });
}

std::vector<std::string> MenuEntries() {
    std::vector<std::string> names;
    for (std::size_t i = 2; i < Form1->PopupMenu1->Count(); ++i) names.push_back(Form1->PopupMenu1->Item(i).Caption());
    return names;
}

TEST_F(ProgramTest, OnlyTheWorkgroupAndAddedNamesMaySendAndTheRestAreReset) {
    Start();
    desk().sockets().AddHost("PC-A", Inet("127.0.0.4"));  // in the workgroup's list
    desk().sockets().AddHost("PC-B", Inet("127.0.0.7"));
    desk().sockets().AddHost("PC-C", Inet("127.0.0.8"));
    desk().sockets().AddHost("FRIEND", Inet("127.0.0.5"));  // added by the user
    // Added too, behind a name server that takes its time.
    desk().sockets().AddHost("SLOW", Inet("127.0.0.12"), std::chrono::milliseconds(1500));
    desk().sockets().AddHost("GONE", platform::INADDR_NONE_);  // added, but no address
    // Announced by strangers: one under a name that resolves to the stranger, one as an address.
    desk().sockets().AddHost("INTRUDER", Inet("127.0.0.11"));
    desk().network().discovered = {"INTRUDER", "127.0.0.10", "127.0.0.10.", "0x7f00000a", "::ffff:127.0.0.10"};
    Form1->UpdateThisList1Click(nullptr);
    EXPECT_EQ(MenuEntries(), (std::vector<std::string>{"PC-A", "PC-B", "PC-C", "INTRUDER"}))
        << "found machines are offered as destinations; addresses are no machine's name";
    user().onShow = [](ScriptedDialog& s) { s.Click("Button2"); };  // NO to every offer

    struct Case {
        const char* source;
        bool restricted;
        bool offered;
    };
    const Case cases[] = {
        {"127.0.0.9", false, true},    // off: anyone, as before
        {"127.0.0.4", true, true},     // a machine of the workgroup
        {"127.0.0.5", true, true},     // an added name
        {"127.0.0.6", true, true},     // an added address
        {"127.0.0.12", true, false},   // an added name whose answer is not in yet
        {"127.0.0.9", true, false},    // anyone else
        {"127.0.0.11", true, false},   // found by discovery under a name of its own
        {"127.0.0.10", true, false},   // found by discovery under its address
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
                s.Type("ComboBox1", "FRIEND, 127.0.0.6 SLOW,GONE");
                s.Click("Button1");
            });
            ::testing::internal::CaptureStderr();
            Form1->Customize1Click(nullptr);
            ASSERT_EQ(Form1->SenderMode, KnownSenders);
            ASSERT_TRUE(RunUntil([&] { return Form1->AllowedSenders1->Pending() == 1; }));
            EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                      "zumelko: the allowed sender \"GONE\" has no address now\n");
            settingOn = true;
        }
        user().ClearShown();
        ::testing::internal::CaptureStderr();
        auto item = SendFrom(c.source, "string", "hello");
        ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 10000));
        RunFor(100);
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(item.get(), c.offered ? Ending::Closed : Ending::Reset)
            << "a taken item is closed in order, a refused one reset";
        EXPECT_EQ(CountShown("Form5"), c.offered ? 1u : 0u);
        EXPECT_TRUE(user().Shown().size() == CountShown("Form5")) << "no other dialog";
        EXPECT_EQ(log.find(std::string("from ") + c.source) != std::string::npos, !c.offered) << log;
        EXPECT_EQ(Form1->Packet1->IncomingConnections() + Form1->Packet2->IncomingConnections(), 0u);
    }

    // The slow name's answer arrives through the loop, and from then on it may send; the others
    // keep what they had, and a refresh in between turns no known machine away.
    ASSERT_TRUE(Form1->AllowedSenders1->Pending() == 1) << "still waiting for SLOW";
    ASSERT_TRUE(RunUntil([&] { return Form1->AllowedSenders1->Pending() == 0; }, 5000));
    EXPECT_TRUE(Form1->AllowedSenders1->Allows(Inet("127.0.0.12")));
    Form1->UpdateThisList1Click(nullptr);
    for (const char* source : {"127.0.0.12", "127.0.0.4"}) {
        SCOPED_TRACE(source);
        user().ClearShown();
        auto item = SendFrom(source, "string", "hello");
        ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 10000));
        EXPECT_EQ(item.get(), Ending::Closed);
        EXPECT_EQ(CountShown("Form5"), 1u);
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

    // Back to anyone: the stranger gets its dialog again.
    user().Expect([](ScriptedDialog& s) {
        s.Select("RadioGroup3", 0);
        s.PressEnter();
    });
    Form1->Customize1Click(nullptr);
    user().ClearShown();
    auto item = SendFrom("127.0.0.9", "string", "hello");
    ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 10000));
    EXPECT_EQ(item.get(), Ending::Closed);
    EXPECT_EQ(CountShown("Form5"), 1u);
}

TEST(AddressLiteral, NamesWrittenAsAddressesAreToldApart) {
    for (const char* address : {"192.168.1.66", "192.168.1.66.", "10.5", "167772165", "0x0a000005", "0X7F.1",
                                "012.0.0.1", "1.2.3.4.5", "300.1.1.1", "::1", "fe80::1%eth0", "[::1]"}) {
        EXPECT_TRUE(IsAddressLiteral(address)) << address;
    }
    for (const char* name : {"PC-A", "evil.local", "2F-PC", "cafe", "deadbeef", "x1.2.3.4", "1.2.3.4x", "",
                             "\x90\xe6\x90\xb6", "0x", "host.0x1g"}) {
        EXPECT_FALSE(IsAddressLiteral(name)) << name;
    }
}

}  // namespace
}  // namespace zumelko::testing
