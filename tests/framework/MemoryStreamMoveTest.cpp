#include <gtest/gtest.h>

#include <utility>

#include "framework/Stream.h"

using zumelko::MemoryStream;

TEST(MemoryStreamMove, TheStreamMovedFromIsEmptyAndUsable) {
    MemoryStream a;
    a.Write("payload", 7);
    MemoryStream b(std::move(a));
    EXPECT_EQ(b.View(), "payload");
    EXPECT_EQ(a.Size(), 0u);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(a.Capacity(), 0u);
    EXPECT_EQ(a.Position(), 0u);
    a.Write("again", 5);
    EXPECT_EQ(a.View(), "again");

    MemoryStream c;
    c = std::move(b);
    EXPECT_EQ(c.View(), "payload");
    EXPECT_EQ(b.Size(), 0u);  // NOLINT(bugprone-use-after-move)
    b.Write("x", 1);
    EXPECT_EQ(b.View(), "x");
}
