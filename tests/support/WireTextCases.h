#pragma once
// Texts between two instances and between an instance and classic peers, as
// one table run against every desktop's converters: what a classic peer reads (the code
// page 932 bytes up to the NUL), what an instance of this program reads (the very text), and
// how a classic peer's own bytes read. The same table on every desktop makes the pairs
// across desktops: each side writes exactly these bytes and reads them back.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/Stream.h"
#include "framework/StringList.h"
#include "platform/TextCodec.h"
#include "transport/WireText.h"

namespace zumelko::testing {

struct WireTextCase {
    const char* what;
    std::string text;                // UTF-8
    std::optional<std::string> cp;   // the code page 932 part, where every system makes the same
    bool exact;                      // whether that part alone is the text
};

inline const std::vector<WireTextCase>& WireTextCases() {
    static const std::vector<WireTextCase> cases = {
        {"empty", "", "", true},
        {"ASCII with a shell's and a path's signs", "ls $(x) C:\\tmp ~\r\n", "ls $(x) C:\\tmp ~\r\n", true},
        {"Japanese", "日本語", "\x93\xfa\x96\x7b\x8c\xea", true},
        {"half-width kana that are also UTF-8", "ﾊｲ", "\xca\xb2", true},
        {"half-width kana with an overlong UTF-8 lead", "ﾀｱ", "\xc0\xb1", true},
        {"NEC and IBM extensions", "①髙", "\x87\x40\xfb\xfc", true},
        {"full-width tilde, 932's own", "～", "\x81\x60", true},
        {"yen sign", "¥1,000", "\\1,000", false},
        {"overline", "‾", std::nullopt, false},
        {"wave dash", "〜", std::nullopt, false},
        {"minus sign", "−5", std::nullopt, false},
        {"double vertical line and em dash", "‖—", std::nullopt, false},
        {"cent, pound, not", "¢£¬", "\x81\x91\x81\x92\x81\xca", false},
        {"emoji", "ok 😀", std::nullopt, false},
        {"Korean beside Japanese", "日本 한국어", std::nullopt, false},
    };
    return cases;
}

// The text a receiver makes of a data payload (as the channel delivers it: the bytes, then
// whatever the sender put after them) under a header that named codePage (0: three lines).
inline std::optional<std::string> ReadPayload(const platform::TextCodec& codec, const std::string& payload,
                                              int codePage) {
    MemoryStream block;
    block.Write(payload.data(), payload.size());
    const auto text = ReadTextPayload(codec, SharedText::Adopt(std::move(block)), codePage, std::size_t{1} << 20);
    if (!text) return std::nullopt;
    return std::string(text->View());
}

// Runs the table against a desktop's converters; its peers' code page must be 932.
inline void CheckWireTexts(const platform::TextCodec& codec) {
    ASSERT_EQ(codec.PeerCodePage(), 932);
    for (const WireTextCase& c : WireTextCases()) {
        SCOPED_TRACE(c.what);
        const std::string payload = TextPayload(codec, c.text);
        const std::size_t nul = payload.find('\0');
        const std::string cpPart = payload.substr(0, nul);
        if (c.cp) {
            EXPECT_EQ(cpPart, *c.cp) << "what a classic peer reads";
        }
        if (c.exact) {
            EXPECT_EQ(nul, std::string::npos) << "a text the code page holds goes as a classic peer's would";
        } else {
            ASSERT_NE(nul, std::string::npos);
            EXPECT_EQ(payload.substr(nul + 1), c.text);
        }
        // SendString puts a NUL after the payload.
        EXPECT_EQ(ReadPayload(codec, payload + '\0', 932), c.text) << "an instance reads the very text";
        if (c.exact) {
            EXPECT_EQ(ReadPayload(codec, *c.cp + '\0', 0), c.text) << "a classic peer's bytes read as it meant";
        }

        // The same text as the user's and the machine's names (a name holds no line end).
        if (c.text.find_first_of("\r\n") != std::string::npos) continue;
        StringList header;
        MakeHeader(codec, "string", c.text, "PC-" + c.text, header);
        ASSERT_GE(header.Count(), 6u);
        EXPECT_EQ(header[1], cpPart);
        StringList received;
        received.SetText(header.Text());
        ReceivedHeader read = ReadHeader(codec, received);
        EXPECT_EQ(read.type, "string");
        EXPECT_EQ(read.user, c.text);
        EXPECT_EQ(read.machine, "PC-" + c.text);
        EXPECT_EQ(read.codePage, 932);
        if (c.exact) {
            StringList original;
            original.SetText("string\r\n" + *c.cp + "\r\nPC\r\n");
            read = ReadHeader(codec, original);
            EXPECT_EQ(read.user, c.text) << "a name from a classic peer";
            EXPECT_EQ(read.codePage, 0);
        }
    }
}

}  // namespace zumelko::testing
