// Received texts at sizes no desktop makes every day: a ceiling checked at the length field,
// a preview that shows a bounded part, an import that still takes the whole text.
#include <cstdio>

#include "core/MainForm.h"
#include "dialogs/PreviewDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "tests/core/ProgramFixture.h"
#include "transport/SimpleTcp.h"

namespace zumelko::testing {
namespace {

using platform::sim::ScriptedDialog;
using std::chrono::milliseconds;

std::string Length(std::size_t n) {
    std::string field(4, '\0');
    for (int i = 0; i < 4; ++i) field[static_cast<std::size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
    return field;
}

TEST_F(ProgramTest, ATextBeyondTheCeilingIsRefusedAtItsLengthField) {
    Start();
    Form1->ReceiveMode = SleepMode;  // nothing is shown for what does arrive
    const struct {
        const char* type;
        std::size_t length;
        bool refused;
    } cases[] = {
        {"string", kMaxReceivedText + 1, true},
        {"string", kMaxReceivedText, false},
        {"bitmap", kMaxReceivedText + 1, false},  // pictures have the channel's own ceiling
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.length));
        auto header = std::async(std::launch::async, [&] {
            return RawSendPacket(kHere, 8000, std::string(c.type) + "\r\nmallory\r\nPC-M\r\n");
        });
        ASSERT_TRUE(RunUntil([&] { return Finished(header); }));
        ASSERT_TRUE(header.get());
        // The length field and a little of what it announces; the program closes at once or
        // waits for the rest.
        auto data = std::async(std::launch::async,
                               [&] { return RawSendBytes(kHere, 8001, Length(c.length) + "abc", 1500); });
        ASSERT_TRUE(RunUntil([&] { return Finished(data); }, 5000));
        EXPECT_EQ(data.get(), c.refused);
        RunUntil([] { return Form1->Packet2->IncomingConnections() == 0; }, 2000);
        EXPECT_EQ(Form1->Packet2->IncomingConnections(), 0u) << "the peer's close ends the wait";
        EXPECT_LE(Form1->Packet2->IncomingCapacity(), std::size_t{1} << 20) << "only what arrived is held";
    }
    // The program still takes a text.
    Form1->ReceiveMode = IndividualSelection;
    user().Expect([](ScriptedDialog& s) { s.Click("Button1"); });
    auto text = SendItem("string", "alice", "PC-X", std::string("after\0", 6));
    ASSERT_TRUE(RunUntil([&] { return Finished(text); }, 20000));
    EXPECT_TRUE(text.get());
    EXPECT_EQ(ClipboardText(), std::optional<std::string>("after"));
}

TEST_F(ProgramTest, ALongTextIsPreviewedInPartAndImportedWhole) {
    Start();
    // Three-byte characters with no line end, so the preview's cut falls inside one.
    std::string text;
    while (text.size() < 4 * kPreviewLimit) text += "転送";
    text += "end";
    std::string shown;
    user().Expect([&](ScriptedDialog& s) {
        EXPECT_EQ(Form1->Packet2->GetString(), "") << "the channel keeps no copy of a text it handed on";
        s.Click("Button3");
        EXPECT_EQ(Form5->ReceivedText.Size(), text.size()) << "the preview changes nothing received";
        s.Click("Button1");
    });
    user().Expect([&](ScriptedDialog& s) {
        const auto& lines = Form6->Memo1->Lines();
        ASSERT_EQ(lines.Count(), 2u);
        shown = lines[0];
        EXPECT_EQ(lines[1], kPreviewCutLine);
        s.Click("Button1");
    });
    auto item = SendItem("string", "alice", "PC-X", text + '\0');
    ASSERT_TRUE(RunUntil([&] { return Finished(item); }, 20000));
    EXPECT_TRUE(item.get());
    EXPECT_LE(shown.size(), kPreviewLimit);
    EXPECT_GE(shown.size(), kPreviewLimit - 2);
    EXPECT_EQ(shown.size() % 3, 0u) << "the cut splits a character";
    EXPECT_EQ(text.compare(0, shown.size(), shown), 0);
    EXPECT_EQ(ClipboardText(), std::optional<std::string>(text));
}

TEST(PreviewCut, EndsAtALineEndOrAfterAWholeCharacter) {
    const std::string ascii(100, 'a');
    const std::string kana = "\x83\x65\x83\x58\x83\x67";  // three double-byte characters
    const struct {
        const char* what;
        std::string text;
        std::size_t limit;
        std::size_t cut;
    } cases[] = {
        {"short enough", "abc\r\ndef", 8, 8},
        {"plain bytes", ascii, 10, 10},
        {"line end in the last half", "abcdefg\r\nhijk", 10, 7},
        {"lone LF", "abcdef\nghijk", 10, 6},
        {"line end too early", "ab\ncdefghijklmn", 10, 10},
        {"UTF-8 character across the limit", "abcdefgh\xE8\xBB\xA2", 10, 8},
        {"UTF-8 character ending at the limit", "abcdefg\xE8\xBB\xA2xx", 10, 10},
        {"double-byte character across the limit", "a" + kana + "xyz", 6, 5},
        {"double-byte character ending at the limit", "ab" + kana, 6, 6},
        {"line end after double-byte text", "\x83\x65\x83\x58\r\nabcdef", 10, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PreviewCut(c.text, c.limit), c.cut);
    }
}

}  // namespace
}  // namespace zumelko::testing
