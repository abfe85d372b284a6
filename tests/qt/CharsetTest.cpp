// How the Linux desktop reads and writes the bytes Windows peers send and expect: valid UTF-8
// as itself, anything else in the peers' code page; out in that code page when it holds
// every character, else UTF-8.
#include <gtest/gtest.h>

#include <random>

#include "platform/qt/Charset.h"

namespace zumelko::qttest {
namespace {

using namespace zumelko::platform::qt;

struct Case {
    const char* what;
    int codePage;
    std::string wire;   // the bytes on the wire
    std::string text;   // what the user sees, in UTF-8
    bool sentSo;        // whether this machine sends the text as exactly these bytes
};

TEST(Charset, WireBytesAndTextBothWays) {
    const std::vector<Case> cases = {
        {"empty", 932, "", "", true},
        {"ASCII with a shell's and a path's signs", 932, "ls $(x) C:\\tmp ~\r\n", "ls $(x) C:\\tmp ~\r\n", true},
        {"Japanese", 932, "\x93\xfa\x96\x7b\x8c\xea", "日本語", true},
        {"half-width katakana", 932, "\xb1\xb2\xb3", "ｱｲｳ", true},
        {"NEC and IBM extensions", 932, "\x87\x40\xfb\xfc", "①髙", true},
        {"emoji: no place in 932", 932, "ok 😀", "ok 😀", true},
        {"Korean: no place in 932", 932, "한국어", "한국어", true},
        {"Japanese beside an emoji goes whole as UTF-8", 932, "日本😀", "日本😀", true},
        {"truncated lead byte", 932, std::string("abc\x93"), "abc\uFFFD", false},
        {"lead byte before no trail byte", 932, std::string("\x81 x"), "\uFFFD x", false},
        {"lone bytes that lead nothing", 932, std::string("\x80\xfd\xff"), "\uFFFD\uFFFD\uFFFD", false},
        {"an embedded NUL", 932, std::string("a\0\x82", 3), std::string("a\0\uFFFD", 5), false},
        {"another code page: 936", 936, "\xd6\xd0\xce\xc4", "中文", true},
        {"another code page: 1252", 1252, "caf\xe9", "café", true},
        {"1252 has no kana", 1252, "カナ", "カナ", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString text = QString::fromUtf8(c.text.data(), static_cast<qsizetype>(c.text.size()));
        EXPECT_EQ(FromAnsi(c.wire, c.codePage), text);
        EXPECT_EQ(AnsiToUtf8(c.wire, c.codePage), c.text);
        EXPECT_EQ(AnsiToUtf8(QByteArray::fromStdString(c.wire), c.codePage).toStdString(), c.text);
        if (!c.sentSo) continue;
        EXPECT_EQ(ToAnsi(text, c.codePage), c.wire);
        EXPECT_EQ(Utf8ToAnsi(c.text, c.codePage), c.wire);
    }
    // A text that is not UTF-8 is already in some code page, and goes as it is.
    EXPECT_EQ(Utf8ToAnsi("\x93\xfa", 932), "\x93\xfa");
    EXPECT_EQ(PeerCodePage(), 932) << "932 unless ZUMELKO_PEER_CODEPAGE says otherwise";
}

TEST(Charset, LargeTextsAreSharedOrBoundedNotCopiedAgain) {
    // UTF-8 (ASCII included) is handed on as the very block.
    const QByteArray utf8 = QByteArray(1 << 20, 'a') + "日本語";
    EXPECT_EQ(AnsiToUtf8(utf8).constData(), utf8.constData());
    // The most a hostile text can grow: three bytes for each byte, whatever it holds.
    const QByteArray hostile(1 << 20, '\xff');
    const QByteArray grown = AnsiToUtf8(hostile);
    EXPECT_EQ(grown.size(), 3 * hostile.size());
    EXPECT_EQ(grown.first(6), QByteArray("\uFFFD\uFFFD"));
    const QByteArray kana(1 << 20, '\xb1');
    EXPECT_EQ(AnsiToUtf8(kana).size(), 3 * kana.size());
    // Any bytes at all, in every code page a LAN may be set to, read as well-formed UTF-8
    // within that bound.
    std::mt19937 random(932);
    for (int codePage : {932, 936, 949, 950, 1252}) {
        for (int round = 0; round < 200; ++round) {
            std::string bytes(random() % 64, '\0');
            for (char& b : bytes) b = static_cast<char>(random());
            const std::string read = AnsiToUtf8(bytes, codePage);
            ASSERT_TRUE(IsValidUtf8(read)) << codePage;
            ASSERT_LE(read.size(), 3 * bytes.size()) << codePage;
        }
    }
}

}  // namespace
}  // namespace zumelko::qttest
