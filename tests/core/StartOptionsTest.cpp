// The program's command line: what each start option sets, what a wrong one says, and that a
// start without options keeps the initial state. The options reach the running program's
// main window, as its entry points hand them over.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/CommandLine.h"
#include "core/AllowedSenders.h"
#include "transport/tls/TlsContext.h"
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
        {{"--forward-secrets=yes"}, false, Action::Wrong, "unknown option"},
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

TEST(CommandLine, TakesStrictModeAndAPassphraseOnlyFromAFileStandardInputOrTheEnvironment) {
    // The options, in the program's parser and in the one zumelko-send's parser shares.
    struct Option {
        std::vector<std::string> args;
        bool strict;
        std::optional<std::string> file;
        std::string errorPart;
    };
    const Option options[] = {
        {{"--strict"}, true, std::nullopt, ""},
        {{"--passphrase-file", "/run/team"}, false, "/run/team", ""},
        {{"--passphrase-file=-", "--strict"}, true, "-", ""},
        {{"--passphrase-file"}, false, std::nullopt, "--passphrase-file needs a file"},
        {{"--passphrase-file="}, false, std::nullopt, "--passphrase-file needs a file"},
        // No way to give the passphrase itself on the command line.
        {{"--passphrase", "secret"}, false, std::nullopt, "unknown option"},
        {{"--strict=yes"}, false, std::nullopt, "unknown option"},
    };
    for (const auto& o : options) {
        const std::string shown = ::testing::PrintToString(o.args);
        const CommandLine line = ParseCommandLine(o.args);
        EXPECT_EQ(line.action, o.errorPart.empty() ? Action::Run : Action::Wrong) << shown;
        EXPECT_NE(line.error.find(o.errorPart), std::string::npos) << shown << ": " << line.error;
        if (!o.errorPart.empty()) continue;
        EXPECT_EQ(line.options.security.strict, o.strict) << shown;
        EXPECT_EQ(line.options.security.passphraseFile, o.file) << shown;
        SecurityOptions taken;
        std::string error;
        for (std::size_t i = 0; i < o.args.size(); ++i) {
            EXPECT_TRUE(TakeSecurityOption(o.args, i, taken, error)) << shown;
        }
        EXPECT_EQ(error, "") << shown;
        EXPECT_EQ(taken.strict, o.strict) << shown;
        EXPECT_EQ(taken.passphraseFile, o.file) << shown;
    }
    EXPECT_TRUE(ParseCommandLine({"/strict"}, true).options.security.strict);
    std::size_t at = 0;
    SecurityOptions none;
    std::string error;
    EXPECT_FALSE(TakeSecurityOption({"--passphrase-filed"}, at, none, error));
    EXPECT_FALSE(TakeSecurityOption({"--timeout"}, at, none, error));

    // Reading it: a file's first line, standard input for "-", else the environment.
    const std::string path = ::testing::TempDir() + "zumelko-passphrase";
    struct Source {
        std::optional<std::string> file;  // written to path; "-" for standard input
        std::string input;                // what standard input holds
        std::optional<std::string> environment;
        std::optional<std::string> passphrase;
        std::string errorPart;
    };
    const std::string longest(kMaxPassphrase, 'x');
    const Source sources[] = {
        {std::nullopt, "", std::nullopt, std::nullopt, ""},
        {"チームの合言葉\n2行目\n", "", std::nullopt, "チームの合言葉", ""},
        {"team pass\r\n", "", std::nullopt, "team pass", ""},
        {"\xEF\xBB\xBFwith a mark", "", std::nullopt, "with a mark", ""},
        {"  blanks count  \n", "", "other", "  blanks count  ", ""},
        {"-", "from stdin\nrest", std::nullopt, "from stdin", ""},
        {std::nullopt, "", "環境から", "環境から", ""},
        {longest, "", std::nullopt, longest, ""},
        {longest + "x", "", std::nullopt, std::nullopt, "longer than 1024 bytes"},
        {std::string(1 << 20, 'y'), "", std::nullopt, std::nullopt, "longer than"},
        {"\n", "", "env", std::nullopt, "is empty"},
        {"", "", std::nullopt, std::nullopt, "is empty"},
        {"-", "", std::nullopt, std::nullopt, "standard input is empty"},
        {std::nullopt, "", "", std::nullopt, "ZUMELKO_PASSPHRASE is empty"},
        // One overlong sequence is enough to refuse it: the other desktop would read it otherwise.
        {"pass\xC0\xAFword", "", std::nullopt, std::nullopt, "is not UTF-8"},
        {std::nullopt, "", "\x82\xa0" "cp932", std::nullopt, "ZUMELKO_PASSPHRASE is not UTF-8"},
    };
    for (const auto& c : sources) {
        const std::string shown = c.file.value_or("(no file)").substr(0, 40) + " / " + c.environment.value_or("(unset)");
        SecurityOptions security;
        if (c.file == "-") {
            security.passphraseFile = "-";
        } else if (c.file) {
            std::ofstream(path, std::ios::binary) << *c.file;
            security.passphraseFile = path;
        }
        std::istringstream input(c.input);
        const auto why = LoadPassphrase(security, c.environment, input);
        EXPECT_EQ(security.passphrase, c.passphrase) << shown;
        EXPECT_EQ(why.has_value(), !c.errorPart.empty()) << shown;
        if (why) {
            EXPECT_NE(why->find(c.errorPart), std::string::npos) << shown << ": " << *why;
        }
    }
    std::remove(path.c_str());
    SecurityOptions missing;
    missing.passphraseFile = path;
    std::istringstream empty;
    EXPECT_EQ(LoadPassphrase(missing, "env", empty), "cannot read the passphrase file " + path);
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
    EXPECT_FALSE(Form1->ForwardSecrets);

    desk().sockets().AddHost("FRIEND", Inet("127.0.0.5"));
    const CommandLine line = ParseCommandLine(
        {"--checker", "default", "--destination=PC-B", "--browser=explorer", "--allow", "FRIEND", "--forward-secrets"});
    ASSERT_EQ(line.action, Action::Run);
    ApplyStartOptions(*Form1, line.options);
    EXPECT_TRUE(Form1->ForwardSecrets);
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

    // Strict mode and the team's key, derived from the passphrase the options read.
    EXPECT_FALSE(Form1->StrictMode);
    EXPECT_FALSE(Form1->HasPassphrase());
    CommandLine secure = ParseCommandLine({"--strict"});
    secure.options.security.passphrase = "チーム";
    ApplyStartOptions(*Form1, secure.options);
    EXPECT_TRUE(Form1->StrictMode);
    ASSERT_TRUE(Form1->HasPassphrase());
    EXPECT_EQ(Form1->Tls->Passphrase()->bytes, tls::DerivePassphraseKey("チーム").bytes);

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
