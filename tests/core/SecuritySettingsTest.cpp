// What the user sets and sees of the encryption: the settings dialog's passphrase and strict
// mode, and the line the receive question and the sender's notice show about how an item came.
#include <gtest/gtest.h>

#include "core/MainForm.h"
#include "dialogs/CustomDialog.h"
#include "tests/core/ProgramFixture.h"
#include "transport/SecureTcp.h"
#include "transport/tls/TlsContext.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;

// Another instance sending an item encrypted, with its passphrase (if any); meanwhile runs then.
struct SecureSender {
    explicit SecureSender(const char* passphrase) {
        if (passphrase != nullptr) context.SetPassphraseKey(tls::DerivePassphraseKey(passphrase));
        channel.OnSended = [this](Component*) { taken = true; };
        channel.OnSendFailed = [this](Component*, TSecureFailure kind, const std::string&) { failure = kind; };
    }
    void Send(const std::string& type, const std::string& data, const std::function<void()>& meanwhile) {
        channel.SendItem(kHere, type + "\r\nalice\r\nPC-X\r\n", [data, meanwhile] {
            meanwhile();
            MemoryStream out;
            out.Write(data.data(), data.size());
            return out;
        });
    }
    bool Done() const { return taken || failure.has_value(); }
    tls::TlsContext context;
    Component root{nullptr};
    TSecureTcp& channel = root.Create<TSecureTcp>(context);
    bool taken = false;
    std::optional<TSecureFailure> failure;
};

TEST_F(ProgramTest, TheSettingsDialogSetsKeepsAndClearsThePassphraseAndStrictMode) {
    Start();
    using Key = std::optional<tls::PassphraseKey>;
    const auto key = [](const char* passphrase) -> Key { return tls::DerivePassphraseKey(passphrase); };
    const auto current = [] {
        return Form1->Tls->Passphrase() ? Key(*Form1->Tls->Passphrase()) : Key();
    };
    // One visit to the dialog per row, each starting where the row before left off.
    struct Visit {
        const char* what;
        int passphraseItem;  // what the user selects; -1 leaves it
        std::string typed;   // into the field, when not empty
        int strictItem;      // -1 leaves it
        const char* button;
        // What the dialog showed when it opened.
        int shownPassphraseItem;
        bool shownStrict;
        // After it closed.
        Key key;
        bool strict;
    };
    const Visit visits[] = {
        {"set", 1, "チームの合言葉", 1, "OKBtn", 0, false, key("チームの合言葉"), true},
        {"kept: the field empty", -1, "", -1, "OKBtn", 1, true, key("チームの合言葉"), true},
        {"changed", -1, "new words", 0, "OKBtn", 1, true, key("new words"), false},
        {"cancelled", 0, "other", 1, "CancelBtn", 1, false, key("new words"), false},
        {"typed, then 使わない", 0, "typed", -1, "OKBtn", 1, false, std::nullopt, false},
        {"使う with nothing typed and nothing set", 1, "", -1, "OKBtn", 0, false, std::nullopt, false},
        {"strict alone", -1, "", 1, "OKBtn", 0, false, std::nullopt, true},
    };
    for (const Visit& v : visits) {
        user().Expect([&](ScriptedDialog& s) {
            EXPECT_EQ(s.Get<RadioGroup>("RadioGroup4").ItemIndex(), v.shownPassphraseItem) << v.what;
            EXPECT_EQ(s.Get<RadioGroup>("RadioGroup5").ItemIndex(), v.shownStrict ? 1 : 0) << v.what;
            const auto& field = s.Get<Edit>("Edit1");
            EXPECT_EQ(field.Text(), "") << v.what << ": a passphrase is never shown back";
            EXPECT_TRUE(field.Password()) << v.what;
            EXPECT_EQ(field.Enabled(), v.shownPassphraseItem == 1) << v.what;
            if (!v.typed.empty()) {
                s.Select("RadioGroup4", 1);
                s.Type("Edit1", v.typed);
            }
            if (v.passphraseItem >= 0) s.Select("RadioGroup4", v.passphraseItem);
            EXPECT_EQ(field.Enabled(), s.Get<RadioGroup>("RadioGroup4").ItemIndex() == 1) << v.what;
            if (v.strictItem >= 0) s.Select("RadioGroup5", v.strictItem);
            s.Click(v.button);
        });
        Form1->Customize1Click(nullptr);
        EXPECT_EQ(current().has_value(), v.key.has_value()) << v.what;
        if (current() && v.key) {
            EXPECT_EQ(current()->bytes, v.key->bytes) << v.what;
        }
        EXPECT_EQ(Form1->HasPassphrase(), v.key.has_value()) << v.what;
        EXPECT_EQ(Form1->StrictMode, v.strict) << v.what;
        EXPECT_EQ(Form4->Edit1->Text(), "") << v.what << ": the typed text does not stay in the dialog";
    }
}

// While a passphrase is set, only items whose session proved that very passphrase are taken;
// one set or changed as a session opens, or while its data arrives, refuses what it brings.
TEST_F(ProgramTest, OnlyASessionThatProvedThePassphraseSetNowDeliversAnItem) {
    Start();
    Form1->ReceiveMode = SleepMode;
    // The program's passphrase, the sender's, the one set on the way (nullptr: the same again).
    const struct { const char *before, *sender, *after; bool whileData, taken; } cases[] = {{"", nullptr, "team", false, false},   {"", nullptr, "team", true, false},
                 {"old", "old", "new", false, false},    {"old", "old", "new", true, false},
                 {"team", "team", "team", true, true},   {"team", "team", nullptr, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + " then " + (c.after ? c.after : "-") + (c.whileData ? " with data" : ""));
        Form1->SetPassphrase(c.before);
        SecureSender sender(c.sender);
        const auto change = [&] { Form1->SetPassphrase(c.after != nullptr ? c.after : c.before); };
        // Large enough to arrive over several turns of the loop.
        sender.Send("bitmap", std::string(std::size_t{24} << 20, 'x'), c.whileData ? std::function<void()>([] {}) : change);
        std::size_t most = 0;
        ASSERT_TRUE(RunUntil([&] { return Form1->Secure1->IncomingCapacity() > 0 || sender.Done(); }, 20000));
        if (c.whileData) change();
        ASSERT_TRUE(RunUntil([&] { return (most = std::max(most, Form1->Secure1->IncomingCapacity())), sender.Done(); }, 20000));
        EXPECT_EQ(sender.failure, c.taken ? std::nullopt : std::optional(TSecureFailure::Refused));
        EXPECT_TRUE(c.taken || c.whileData || most < (std::size_t{1} << 20)) << "refused before its data";
    }
}

// Setting the passphrase refuses the items waiting behind a question and the one asked about.
TEST_F(ProgramTest, SettingThePassphraseRefusesTheItemsWaitingAndTheOneAskedAbout) {
    Start();
    SecureSender first(nullptr), second(nullptr);
    user().Expect([&](ScriptedDialog& s) {
        second.Send("string", std::string("second\0", 7), [] {});
        EXPECT_TRUE(s.RunUntil([&] { return Form1->WaitingItems() == 1; }, std::chrono::milliseconds(20000)));
        Form1->SetPassphrase("team");
        EXPECT_EQ(Form1->WaitingItems(), 0u);
        EXPECT_TRUE(s.RunUntil([&] { return second.failure == TSecureFailure::Refused; }, std::chrono::milliseconds(20000)));
        s.Click("Button1");  // YES
    });
    first.Send("string", std::string("first\0", 6), [] {});
    ASSERT_TRUE(RunUntil([&] { return first.Done(); }, 20000));
    EXPECT_TRUE(first.failure == TSecureFailure::Refused && ClipboardText() != "first");
}

TEST(SecurityLine, SaysHowAnItemCameInTheQuestionAndInTheSendersNotice) {
    struct Case {
        ItemSecurity security;
        std::string line;
        std::string notice;
    };
    const Case cases[] = {
        {{}, "暗号化されずに届きました", ""},
        {{false, "0123 4567 8901", false}, "暗号化されずに届きました", ""},
        {{true, "0123 4567 8901", false}, "暗号化 ： 確認コード 0123 4567 8901",
         "  暗号化 ： 確認コード 0123 4567 8901"},
        {{true, "5555 0000 1212", true}, "暗号化 (ﾊﾟｽﾌﾚｰｽﾞ認証) ： 確認コード 5555 0000 1212",
         "  暗号化 (ﾊﾟｽﾌﾚｰｽﾞ認証) ： 確認コード 5555 0000 1212"},
        // Only digits and blanks are ever shown as the code.
        {{true, "12<b>34\r\n\x1b[2J56", false}, "暗号化 ： 確認コード 1234256", "  暗号化 ： 確認コード 1234256"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SecurityLine(c.security), c.line) << c.security.checkCode;
        EXPECT_EQ(SecurityNotice(c.security), c.notice) << c.security.checkCode;
    }
}

TEST_F(ProgramTest, TheQuestionAboutAPlainItemSaysItCameUnencrypted) {
    Start();
    user().Expect([](ScriptedDialog& s) {
        EXPECT_EQ(s.form().Name(), "Form5");
        EXPECT_EQ(s.Caption("Label3"), "\"PC-X\" にいる \"alice\" から");
        EXPECT_EQ(s.Caption("Label4"), kUnencryptedLine);
        s.Click("Button2");
    });
    auto item = SendItem("string", "alice", "PC-X", std::string("hello\0", 6));
    ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 20000));
    EXPECT_EQ(CountShown("Form5"), 1u);
}

}  // namespace
}  // namespace zumelko::testing
