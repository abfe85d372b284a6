// The program's command line: what each start option sets, what a wrong one says, and that a
// start without options keeps the initial state. The options reach the running program's
// main window, as its entry points hand them over.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "core/AllowedSenders.h"
#include "tests/core/ProgramFixture.h"

namespace zumelko::testing {
namespace {

using Action = CommandLine::Action;

TEST(CommandLine, ReadsEveryStartOptionAndRefusesWhatItDoesNotKnow) {
    struct Case {
        std::vector<std::string> args;
        bool slashes;
        Action action;
        std::string errorPart;  // for Wrong
    };
    const Case cases[] = {
        {{}, false, Action::Run, ""},
        {{"--help"}, false, Action::Help, ""},
        {{"--receive", "sleep", "-h"}, false, Action::Help, ""},
        {{"--version", "--bogus"}, false, Action::Version, ""},
        {{"/?"}, true, Action::Help, ""},
        {{"/version"}, true, Action::Version, ""},
        {{"/checker=ask"}, true, Action::Run, ""},
        {{"/checker=ask"}, false, Action::Wrong, "unexpected argument \"/checker=ask\""},
        {{"--checker"}, false, Action::Wrong, "--checker needs one of ask, default or off"},
        {{"--checker=maybe"}, false, Action::Wrong, "not \"maybe\""},
        {{"--checker", "ASK"}, false, Action::Wrong, "not \"ASK\""},
        {{"--receive", "--checker", "ask"}, false, Action::Wrong, "not \"--checker\""},
        {{"--destination"}, false, Action::Wrong, "--destination needs"},
        {{"--allow", " , "}, false, Action::Wrong, "--allow needs"},
        {{"--senders=anyone", "--allow", "pc-a"}, false, Action::Wrong, "--allow goes with --senders known"},
        {{"--quiet"}, false, Action::Wrong, "unknown option \"--quiet\""},
        {{"--"}, false, Action::Wrong, "unexpected argument \"--\""},
        {{"pc-taro"}, false, Action::Wrong, "unexpected argument \"pc-taro\""},
    };
    for (const auto& c : cases) {
        const std::string shown = ::testing::PrintToString(c.args);
        const CommandLine line = ParseCommandLine(c.args, c.slashes);
        EXPECT_EQ(line.action, c.action) << shown << ": " << line.error;
        if (c.action == Action::Wrong) {
            EXPECT_NE(line.error.find(c.errorPart), std::string::npos) << shown << ": " << line.error;
        }
    }

    const CommandLine all = ParseCommandLine({"--checker=default", "--destination", "pc-hanako", "--receive", "link",
                                              "--browser=explorer", "--allow", "pc-a, 10.0.0.5", "--allow=pc-b"});
    ASSERT_EQ(all.action, Action::Run) << all.error;
    EXPECT_EQ(all.options.checkerMode, UseDefault);
    EXPECT_EQ(all.options.defaultDestination, "pc-hanako");
    EXPECT_EQ(all.options.receiveMode, UrlAutoLink);
    EXPECT_EQ(all.options.browser, InternetExplorer);
    EXPECT_EQ(all.options.senderMode, KnownSenders);
    EXPECT_EQ(all.options.allowedNames, "pc-a, 10.0.0.5 pc-b");
    // The last of a repeated option counts; "none" is a browser value the program knows as none.
    const CommandLine again = ParseCommandLine({"--receive=sleep", "--receive=ask", "--browser", "none", "--checker=off"});
    EXPECT_EQ(again.options.receiveMode, IndividualSelection);
    EXPECT_EQ(again.options.browser, -1);
    EXPECT_EQ(again.options.checkerMode, NoCheck);
    EXPECT_FALSE(again.options.defaultDestination);
    EXPECT_FALSE(again.options.senderMode);

    EXPECT_EQ(VersionText(), std::string("zumelko ") + ZUMELKO_VERSION);
    EXPECT_NE(HelpText().find("--allow NAMES"), std::string::npos);
}

TEST_F(ProgramTest, StartOptionsSetTheInitialStateAndTheAllowListWorksAtOnce) {
    Start();
    // Without options: the initial state.
    ApplyStartOptions(*Form1, ParseCommandLine({}).options);
    EXPECT_EQ(Form1->CheckerMode, NoCheck);
    EXPECT_EQ(Form1->ReceiveMode, IndividualSelection);
    EXPECT_EQ(Form1->Browser, NetscapeNavigator);
    EXPECT_EQ(Form1->DefaultDestination, "");
    EXPECT_EQ(Form1->SenderMode, AnySender);

    desk().sockets().AddHost("FRIEND", Inet("127.0.0.5"));
    const CommandLine line = ParseCommandLine(
        {"--checker", "default", "--destination=PC-B", "--browser=explorer", "--allow", "FRIEND"});
    ASSERT_EQ(line.action, Action::Run);
    ApplyStartOptions(*Form1, line.options);
    EXPECT_EQ(Form1->CheckerMode, UseDefault);
    EXPECT_EQ(Form1->DefaultDestination, "PC-B");
    EXPECT_EQ(Form1->Browser, InternetExplorer);
    EXPECT_EQ(Form1->ReceiveMode, IndividualSelection) << "left as it was";

    // The added name is looked up at once (off the loop): once its answer is in, FRIEND gets a
    // dialog and a stranger does not.
    ASSERT_TRUE(RunUntil([] { return Form1->AllowedSenders1->Pending() == 0; }, 10000));
    user().onShow = [](platform::sim::ScriptedDialog& s) { s.Click("Button2"); };
    for (const auto& [source, offered] : {std::pair{"127.0.0.5", 1u}, std::pair{"127.0.0.9", 0u}}) {
        user().ClearShown();
        ::testing::internal::CaptureStderr();
        auto item = std::async(std::launch::async, [source = std::string(source)] {
            return RawSendPacket(kHere, 8000, "string\r\nu\r\nM\r\n", 5000, source) &&
                   RawSendPacket(kHere, 8001, std::string("hi\0", 3), 5000, source);
        });
        ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 10000));
        RunFor(100);
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(CountShown("Form5"), offered) << source;
    }

    // The settings dialog shows the options' values as the current ones.
    user().Expect([](platform::sim::ScriptedDialog& s) {
        EXPECT_EQ(s.Get<RadioGroup>("RadioGroup1").ItemIndex(), UseDefault);
        EXPECT_EQ(s.Get<RadioGroup>("RadioGroup3").ItemIndex(), KnownSenders);
        s.Click("CancelBtn");
    });
    Form1->Customize1Click(nullptr);
}

}  // namespace
}  // namespace zumelko::testing
