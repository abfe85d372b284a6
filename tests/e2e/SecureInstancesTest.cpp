// Two whole programs over the encrypted channel: items arrive exactly, both users see the same
// check code, a classic peer still gets plain items, and a team passphrase or strict mode
// allows nothing plain.
#include <gtest/gtest.h>

#include "tests/core/ProgramFixture.h"
#include "tests/e2e/Instance.h"

namespace zumelko::testing {
namespace {

const std::string kDone = "データの転送が終了しました。";
// The sender's notice after an encrypted transfer: the check code on the notice's line (and then
// what the receiver's key is).
std::string DoneWithCode(const std::string& code, bool passphrase = false) {
    return kDone + (passphrase ? "  暗号化 (ﾊﾟｽﾌﾚｰｽﾞ認証) ： 確認コード " : "  暗号化 ： 確認コード ") + code;
}
const std::string kNetworkError = "ネットワークエラー ： ";

struct Pair {
    Instance a{"A", {"--address", "127.0.0.2", "--user", "alice", "--computer", "PC-A", "--host", "PC-B=127.0.0.3"}};
    Instance b{"B", {"--address", "127.0.0.3", "--user", "bob", "--computer", "PC-B", "--host", "PC-A=127.0.0.2"}};
    Pair() { a.Configure(2, 0, "PC-B"); }

    // A sends what its clipboard holds to its default destination; B's question opens.
    void Send() {
        a.Do("tray right 0");
        ASSERT_TRUE(b.WaitOpen("Form5"));
    }
    // B says yes; A's notice comes, and is returned (and closed).
    std::string Answer() {
        const std::size_t before = a.Notices().size();
        b.Click("Form5", "Button1");
        EXPECT_TRUE(a.WaitFor("notices", [&](const std::string&) { return a.Notices().size() > before; }));
        const std::string notice = a.Notices().back();
        a.Click("Form2", "Button1");
        return notice;
    }
};

// "1 HEX(code) 0" → the code.
std::string CodeOf(const std::string& security) {
    const auto first = security.find(' ');
    const auto last = security.rfind(' ');
    return Unhex(security.substr(first + 1, last - first - 1));
}

TEST(SecureInstances, ItemsGoEncryptedWithOneCheckCodeAtBothEnds) {
    Pair p;
    const std::string bmp = HandMadeBmp24(33, 17, 9);
    const std::vector<std::pair<std::string, std::string>> items = {
        {"copy-text", "日本語のテキスト ﾊﾝｶｸ\r\n二行目"},
        {"copy-text", std::string(3 * 1024 * 1024 + 1, 'x')},
        {"copy-bmp", bmp},
    };
    std::string lastCode;
    for (const auto& [command, bytes] : items) {
        SCOPED_TRACE(command + " of " + std::to_string(bytes.size()) + " bytes");
        p.a.Do(command + " " + Hex(bytes));
        p.Send();
        const std::string security = p.b.Do("security");
        ASSERT_EQ(security.substr(0, 2), "1 ") << security;
        EXPECT_EQ(security.substr(security.size() - 2), " 0") << "no passphrase set";
        const std::string code = CodeOf(security);
        EXPECT_EQ(code.size(), 14u);
        EXPECT_NE(code, lastCode) << "every transfer has its own code";
        lastCode = code;
        EXPECT_TRUE(p.Answer().starts_with(DoneWithCode(code))) << "the sender shows the receiver's code";
        EXPECT_EQ(p.b.Clipboard(), (command == "copy-bmp" ? "bitmap " : "text ") + Hex(bytes));
    }
}

// A peer with nothing on the secure port gets the item in plain, as before; a set passphrase
// or strict mode sends nothing then, and shows why.
TEST(SecureInstances, ClassicPeersGetPlainUnlessPlainIsForbidden) {
    Pair p;
    p.b.Do("secure-off");
    p.a.Do("copy-text " + Hex("plain as ever"));
    p.Send();
    EXPECT_EQ(p.b.Do("security"), "0  0");
    EXPECT_EQ(p.Answer(), kDone);
    EXPECT_EQ(p.b.Clipboard(), "text " + Hex("plain as ever"));

    for (const char* forbid : {"strict 1", "passphrase 6b6579"}) {
        SCOPED_TRACE(forbid);
        p.a.Do(forbid);
        const std::size_t before = p.a.Notices().size();
        p.a.Do("tray right 0");
        ASSERT_TRUE(p.a.WaitFor("notices", [&](const std::string&) { return p.a.Notices().size() > before; }));
        EXPECT_EQ(p.a.Notices().back().rfind(kNetworkError, 0), 0u) << p.a.Notices().back();
        p.a.Click("Form2", "Button1");
        p.a.Do("strict 0");
        p.a.Do("passphrase -");
    }
    const std::string shown = p.b.Do("shown");
    EXPECT_EQ(shown.find("Form5"), shown.rfind("Form5")) << "only the plain item reached B";
}

// With the same passphrase both ends authenticate each other; with another one (or none at the
// receiver) the handshake fails and the sender says so, never falling back to plain.
TEST(SecureInstances, ATeamPassphraseAuthenticatesAndRefusesOutsiders) {
    Pair p;
    p.a.Do("passphrase " + Hex("合言葉"));
    p.b.Do("passphrase " + Hex("合言葉"));
    p.a.Do("copy-text " + Hex("for the team"));
    p.Send();
    const std::string security = p.b.Do("security");
    EXPECT_EQ(security.substr(0, 2), "1 ");
    EXPECT_EQ(security.substr(security.size() - 2), " 1");
    EXPECT_TRUE(p.Answer().starts_with(DoneWithCode(CodeOf(security), true)));

    for (const char* receiver : {"passphrase 6f74686572", "passphrase -"}) {
        SCOPED_TRACE(receiver);
        p.b.Do(receiver);
        const std::size_t before = p.a.Notices().size();
        p.a.Do("tray right 0");
        ASSERT_TRUE(p.a.WaitFor("notices", [&](const std::string&) { return p.a.Notices().size() > before; }));
        EXPECT_EQ(p.a.Notices().back().rfind(kNetworkError, 0), 0u) << p.a.Notices().back();
        p.a.Click("Form2", "Button1");
    }
    const std::string shown = p.b.Do("shown");
    EXPECT_EQ(shown.find("Form5"), shown.rfind("Form5")) << "nothing after the first item reached B";
}

// Items that wait while a question is open keep how they came: a plain one asked about first,
// an encrypted one that arrived meanwhile asked about with its own security.
TEST(SecureInstances, WaitingItemsKeepTheirOwnSecurity) {
    Pair p;
    p.b.Do("secure-off");
    p.a.Do("copy-text " + Hex("first, plain"));
    p.Send();
    EXPECT_EQ(p.b.Do("security"), "0  0");

    p.b.Do("secure-on");
    p.a.Do("copy-text " + Hex("second, encrypted"));
    p.a.Do("tray right 0");
    // The second waits behind the open question, which still shows the first's security.
    ASSERT_TRUE(p.b.WaitFor("waiting", [](const std::string& r) { return r == "1"; }));
    EXPECT_EQ(p.b.Do("security"), "0  0");
    EXPECT_TRUE(p.a.Notices().empty()) << "no answer yet for either";

    EXPECT_EQ(p.Answer(), kDone);
    EXPECT_EQ(p.b.Clipboard(), "text " + Hex("first, plain"));
    ASSERT_TRUE(p.b.WaitOpen("Form5"));
    const std::string second = p.b.Do("security");
    ASSERT_EQ(second.substr(0, 2), "1 ") << second;
    EXPECT_TRUE(p.Answer().starts_with(DoneWithCode(CodeOf(second))));
    EXPECT_EQ(p.b.Clipboard(), "text " + Hex("second, encrypted"));
}

}  // namespace
}  // namespace zumelko::testing
