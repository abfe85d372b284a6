#include <gtest/gtest.h>

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
