// The Linux desktop's converters between UTF-8 and the Windows peers' code pages, and the UTF-8
// check that decides whether bytes from the network are taken as UTF-8.
#include <gtest/gtest.h>

#include <random>

#include "platform/qt/Charset.h"
#include "tests/support/WireTextCases.h"

namespace zumelko::qttest {
namespace {

using namespace zumelko::platform::qt;

TEST(Charset, TextsOnTheWireWithTheOriginalProgramAndWithInstances) {
    EXPECT_EQ(PeerCodePage(), 932) << "932 unless ZUMELKO_PEER_CODEPAGE says otherwise";
    testing::CheckWireTexts(QtTexts());
}

// Every edge of well-formed UTF-8, each alone in an otherwise valid text. The same bytes are
// often a text in code page 932 too: sent by a classic peer they read in that code page,
// and as the exact part of an instance's text they must not pass for UTF-8.
TEST(Charset, Utf8BoundariesAndTheCodePageTextsTheyAlsoAre) {
    const struct {
        const char* what;
        std::string bytes;
        bool utf8;
        const char* cp932;  // what the bytes read as in code page 932, when they make a text
    } cases[] = {
        {"C0, an overlong lead", "\xC0\xB1", false, "ﾀｱ"},
        {"C1, an overlong lead", "\xC1\xBF", false, "ﾁｿ"},
        {"C2, the first lead", "\xC2\x80", true, nullptr},
        {"half-width kana that are UTF-8 by chance", "\xCA\xB2", true, "ﾊｲ"},
        {"E0 80, overlong", "\xE0\x80\x80", false, nullptr},
        {"E0 9F, overlong", "\xE0\x9F\xBF", false, nullptr},
        {"E0 A0, the first three-byte form", "\xE0\xA0\x80", true, nullptr},
        {"ED 9F, below the surrogates", "\xED\x9F\xBF", true, nullptr},
        {"ED A0, a surrogate", "\xED\xA0\x80", false, nullptr},
        {"ED BF, a surrogate", "\xED\xBF\xBF", false, nullptr},
        {"F0 80, overlong", "\xF0\x80\x80\x80", false, nullptr},
        {"F0 8F, overlong", "\xF0\x8F\xBF\xBF", false, nullptr},
        {"F0 90, the first four-byte form", "\xF0\x90\x80\x80", true, nullptr},
        {"F4 8F, U+10FFFF", "\xF4\x8F\xBF\xBF", true, nullptr},
        {"F4 90, beyond U+10FFFF", "\xF4\x90\x80\x80", false, nullptr},
        {"F5, no lead", "\xF5\x80\x80\x80", false, nullptr},
        {"a continuation byte alone", "\x80", false, nullptr},
        {"a third byte that continues nothing", "\xE3\x81\x41", false, nullptr},
        {"a double-byte character", "\x83\x65", false, "テ"},
    };
    const std::string truncated[] = {"\xC3", "\xE3\x81", "\xF0\x9F\x98"};
    const auto& codec = QtTexts();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Before and after a run of ASCII long enough for the check's fast path.
        EXPECT_EQ(IsValidUtf8("日本 " + c.bytes + " end"), c.utf8);
        EXPECT_EQ(IsValidUtf8("abcdefghijklmnop" + c.bytes), c.utf8);
        EXPECT_TRUE(IsValidUtf8(ValidUtf8("x" + c.bytes + "y")));
        // As an instance's exact part: taken only when it is UTF-8, else the code page part.
        const std::string payload = std::string("cp\0", 3) + c.bytes + '\0';
        EXPECT_EQ(testing::ReadPayload(codec, payload, 932), c.utf8 ? c.bytes : "cp");
        // As a classic peer's text and name: read in its code page, never guessed.
        if (c.cp932 != nullptr) {
            EXPECT_EQ(testing::ReadPayload(codec, c.bytes + '\0', 0), c.cp932);
            StringList header;
            header.SetText("string\r\n" + c.bytes + "\r\nPC\r\n");
            EXPECT_EQ(ReadHeader(codec, header).user, c.cp932);
        }
    }
    for (const std::string& cut : truncated) {
        SCOPED_TRACE(cut.size());
        EXPECT_FALSE(IsValidUtf8("abc" + cut));
        EXPECT_EQ(testing::ReadPayload(codec, std::string("cp\0abc", 6) + cut, 932), "cp");
    }
}

TEST(Charset, CodePagesReadAndWriteEveryCharacterTheyHold) {
    const struct {
        const char* what;
        int codePage;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"truncated lead byte", 932, "abc\x93", "abc\uFFFD"},
        {"lead byte before no trail byte", 932, "\x81 x", "\uFFFD x"},
        {"lone bytes that lead nothing", 932, "\x80\xfd\xff", "\uFFFD\uFFFD\uFFFD"},
        {"936", 936, "\xd6\xd0\xce\xc4", "中文"},
        {"1252", 1252, "caf\xe9", "café"},
        {"1255, whose letters wait for a mark", 1255, "\xf9\xec\xe5\xed", "שלום"},
        {"1258, whose letters wait for a mark", 1258, "Vi\xeat", "Viêt"},
        {"1258, a letter and its mark", 1258, "a\xec", "a\xcc\x81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DecodeCodePage(c.bytes, c.codePage), c.text);
        if (c.text.find("\uFFFD") != std::string::npos) continue;
        bool exact = false;
        EXPECT_EQ(EncodeCodePage(c.text, c.codePage, exact), c.bytes);
        EXPECT_TRUE(exact);
    }
    bool exact = true;
    EXPECT_EQ(EncodeCodePage("カナ", 1252, exact), "??");
    EXPECT_FALSE(exact);
    EXPECT_EQ(DecodeCodePage("abc", 932, 2), std::nullopt) << "longer than the limit";
    EXPECT_EQ(DecodeCodePage("abc", 1, 100), std::nullopt) << "no such code page";
}

TEST(Charset, AnyBytesReadAsUtf8WithinThreeBytesEach) {
    const std::string hostile(1 << 20, '\xff');
    EXPECT_EQ(DecodeCodePage(hostile, 932)->size(), 3 * hostile.size());
    std::mt19937 random(932);
    for (int codePage : {932, 936, 949, 950, 1252, 1255, 1258}) {
        for (int round = 0; round < 200; ++round) {
            std::string bytes(random() % 64, '\0');
            for (char& b : bytes) b = static_cast<char>(random());
            const auto read = DecodeCodePage(bytes, codePage);
            ASSERT_TRUE(read && IsValidUtf8(*read)) << codePage;
            ASSERT_LE(read->size(), 3 * bytes.size()) << codePage;
        }
    }
}

}  // namespace
}  // namespace zumelko::qttest
