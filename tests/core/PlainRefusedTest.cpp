// Strict mode and a team passphrase take nothing plain: a plain item is turned away at the
// door (its sender hears of no delivery), and the program takes it again once both are off.
#include "tests/core/ProgramFixture.h"
#include "transport/tls/TlsContext.h"

namespace zumelko::testing {
namespace {

TEST_F(ProgramTest, PlainItemsAreRefusedInStrictModeOrWithAPassphrase) {
    Start();
    // Asleep: an item that gets in is taken without a question, so its sender hears at once.
    Form1->ReceiveMode = SleepMode;
    struct Case {
        const char* name;
        bool strict;
        bool passphrase;
        bool taken;
    };
    const Case cases[] = {
        {"strict mode", true, false, false},
        {"a team passphrase", false, true, false},
        {"neither", false, false, true},
    };
    const auto key = tls::DerivePassphraseKey("team");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Form1->StrictMode = c.strict;
        if (c.passphrase) {
            Form1->Tls->SetPassphraseKey(key);
        } else {
            Form1->Tls->ClearPassphrase();
        }
        // Header and data, each as its own connection: how each one ended.
        auto sent = std::async(std::launch::async, [] {
            return std::make_pair(RawSendPacketEnding(kHere, 8000, "string\r\nu\r\nPC-X\r\n"),
                                  RawSendPacketEnding(kHere, 8001, std::string("plain") + '\0'));
        });
        ASSERT_TRUE(RunUntil([&] { return Finished(sent); }, 15000));
        const auto [header, data] = sent.get();
        const Ending expected = c.taken ? Ending::Closed : Ending::Reset;
        EXPECT_EQ(header, expected);
        EXPECT_EQ(data, expected);
        EXPECT_EQ(Form1->RecvMachine, c.taken ? "PC-X" : "") << "a refused header changes nothing";
    }
    EXPECT_TRUE(user().Shown().empty());
}

}  // namespace
}  // namespace zumelko::testing
