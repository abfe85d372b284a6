#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "framework/Stream.h"
#include "framework/StringList.h"

using zumelko::MemoryStream;
using zumelko::StringList;

TEST(StringListText, EveryLineEndsWithCrLfAndReadsBackTheSame) {
    StringList l;
    l.Add("string");
    l.Add("user1");
    l.Add("PC01");
    EXPECT_EQ(l.Text(), "string\r\nuser1\r\nPC01\r\n");
    EXPECT_EQ(l.Text().size(), 21u);
    StringList back;
    back.SetText(l.Text());
    EXPECT_EQ(back, l);
}

TEST(StringListText, SplitsAtCrLfLoneCrAndLoneLfAndStopsAtNul) {
    StringList l;
    l.SetText(std::string_view("a\r\nb\rc\nd\r\n\r\ne\0f\r\n", 18));
    ASSERT_EQ(l.Count(), 6u);
    EXPECT_EQ(l[0], "a");
    EXPECT_EQ(l[1], "b");
    EXPECT_EQ(l[2], "c");
    EXPECT_EQ(l[3], "d");
    EXPECT_EQ(l[4], "");
    EXPECT_EQ(l[5], "e");

    l.SetText("only");
    ASSERT_EQ(l.Count(), 1u);
    l.SetText("");
    EXPECT_EQ(l.Count(), 0u);
    l.SetText("\n");
    ASSERT_EQ(l.Count(), 1u);
    EXPECT_EQ(l[0], "");
}

// Each rule of the splitter alone, on a block of exactly the text's size, as a received
// header is: a look past its end is caught by the address checker.
TEST(StringListText, EachRuleOfTheSplitterAlone) {
    using Lines = std::vector<std::string>;
    const struct {
        std::string text;
        Lines lines;
    } cases[] = {
        {"a\r\nb", {"a", "b"}},
        {"a\rb", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\r\n\nb", {"a", "", "b"}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r", {"a"}},
        {"a\n", {"a"}},
        {"a\r\n\r\n", {"a", ""}},
        {"a\r\r", {"a", ""}},
        {"\r\n", {""}},
        {"\r", {""}},
        {"", {}},
        {std::string("a\0b", 3), {"a"}},
        {std::string("a\r\n\0b\r\n", 7), {"a"}},
        {std::string("a\r\0\nb", 5), {"a"}},
        {std::string("\0a\r\n", 4), {}},
        {"\x01\x7f\x80\xff\t \x83\x65", {"\x01\x7f\x80\xff\t \x83\x65"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        const auto block = std::make_unique<char[]>(c.text.size());
        std::copy(c.text.begin(), c.text.end(), block.get());
        StringList l;
        l.Add("left over");
        l.SetText(std::string_view(block.get(), c.text.size()));
        EXPECT_EQ(l.Lines(), c.lines);
    }
}

TEST(MemoryStream, GrowsOnWriteReadsBackAndResets) {
    MemoryStream s;
    s.Write("abc", 3);
    s.SetPosition(1);
    s.Write("XYZ", 3);
    EXPECT_EQ(s.View(), "aXYZ");
    s.SetPosition(0);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, sizeof buf), 4u);
    EXPECT_EQ(std::string(buf, 4), "aXYZ");
    EXPECT_EQ(s.Read(buf, sizeof buf), 0u);

    s.Reset(5);
    EXPECT_EQ(s.Size(), 5u);
    EXPECT_EQ(s.Position(), 0u);
    EXPECT_EQ(s.View(), std::string(5, '\0'));

    // Writing past the end leaves zeros in the gap.
    MemoryStream g;
    g.SetPosition(3);
    g.Write("z", 1);
    EXPECT_EQ(g.View(), std::string("\0\0\0z", 4));
}
