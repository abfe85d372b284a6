// A memory stream with its address space set aside, on every system: it grows in place within
// the space, holds only what was asked for, keeps every byte when it grows past the space, and
// a later stream never shares a space or its bytes with an earlier one; a space prepared for a
// coming block is found by that block, with its pages in place where the system keeps spaces.
#include <gtest/gtest.h>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>
#include <utility>

#include "framework/Stream.h"
#include "platform/AddressSpace.h"

namespace {

using zumelko::MemoryStream;
constexpr std::size_t kMiB = std::size_t{1} << 20;

std::string Chunk(std::size_t n, int seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed * 31 + i * 7 + i / 4096);
    return s;
}

TEST(MemoryStreamReserved, GrowsInPlaceHoldingOnlyWhatArrivedAndKeepsItsBytesPastTheSpace) {
    MemoryStream m;
    m.ReserveAddress(3 * kMiB);
    EXPECT_EQ(m.Capacity(), 0u) << "address space is no memory";
    std::string all;
    const std::uint8_t* first = nullptr;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const std::string c = Chunk(kMiB - 3 + static_cast<std::size_t>(i), i);
        m.Write(c.data(), c.size());
        all += c;
        if (i == 0) first = m.Data();
        if (i < 3) {
            EXPECT_EQ(m.Data(), first) << "grown within the space, not moved";
            EXPECT_LE(m.Capacity(), 3 * kMiB);
        }
        ASSERT_EQ(m.Size(), all.size());
        EXPECT_TRUE(m.View() == all);
    }
    // Moved on and cleared, the streams are ordinary ones again.
    MemoryStream taken(std::move(m));
    EXPECT_TRUE(taken.View() == all);
    m.Write("again", 5);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(m.View(), "again");
    taken.Clear();
    taken.ReserveAddress(kMiB);
    taken.Reserve(1000);
    taken.Write("x", 1);
    taken.Clear();
    taken.Write("y", 1);
    EXPECT_EQ(taken.View(), "y");
}

TEST(MemoryStreamReserved, AStreamWithBytesKeepsItsBlockAndTheLimitCountsWhatIsCommitted) {
    MemoryStream held;
    held.Write("kept", 4);
    const std::uint8_t* block = held.Data();
    held.ReserveAddress(kMiB);
    EXPECT_EQ(held.Data(), block);
    EXPECT_EQ(held.View(), "kept");

    // Space is no memory, so the limit does not refuse it; committing past the limit is refused
    // like any allocation, and the bytes already in stay.
    MemoryStream::SetBlockLimit(kMiB);
    MemoryStream m;
    m.ReserveAddress(4 * kMiB);
    const std::string c = Chunk(kMiB / 2, 5);
    m.Write(c.data(), c.size());
    EXPECT_THROW(m.Reserve(2 * kMiB), std::bad_alloc);
    MemoryStream::SetBlockLimit(0);
    EXPECT_TRUE(m.View() == c);
    m.Reserve(4 * kMiB);
    EXPECT_TRUE(m.View() == c);
}

// Large spaces given back may be handed out again for later blocks: a later block never shares
// one with a live block, sees none of the earlier bytes, and may grow to all it set aside,
// whether the space it got was kept for a smaller, the same or a larger block.
TEST(MemoryStreamReserved, LaterLargeBlocksNeverShareASpaceOrSeeItsEarlierBytes) {
    const std::size_t sizes[] = {5 * kMiB, 5 * kMiB, 8 * kMiB, 6 * kMiB, 30 * kMiB, 9 * kMiB, 5 * kMiB};
    MemoryStream live;
    live.ReserveAddress(6 * kMiB);
    const std::string mark = Chunk(6 * kMiB, 9);
    live.Write(mark.data(), mark.size());
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        SCOPED_TRACE(i);
        const std::size_t n = sizes[i];
        MemoryStream m;
        m.ReserveAddress(n);
        m.Reset(n);  // zeroed, whatever the space held before
        ASSERT_EQ(m.Size(), n);
        EXPECT_EQ(m.View().find_first_not_of('\0'), std::string::npos);
        EXPECT_NE(m.Data(), live.Data());
        const std::string c = Chunk(n, static_cast<int>(i));
        m.SetPosition(0);
        m.Write(c.data(), c.size());
        EXPECT_TRUE(m.View() == c);
    }
    EXPECT_TRUE(live.View() == mark);

    // Given back and taken again on two threads at once.
    auto churn = [](int seed) {
        for (int round = 0; round < 20; ++round) {
            MemoryStream m;
            m.ReserveAddress((5 + static_cast<std::size_t>(round % 3)) * kMiB);
            const std::string c = Chunk(5 * kMiB, seed + round);
            m.Write(c.data(), c.size());
            if (!(m.View() == c)) return false;
        }
        return true;
    };
    bool other = false;
    std::thread t([&] { other = churn(100); });
    const bool here = churn(200);
    t.join();
    EXPECT_TRUE(here);
    EXPECT_TRUE(other);
}

// The share of the space's first n bytes in pages the system has in place (-1 where that
// cannot be asked).
double ResidentShare(void* space, std::size_t n) {
#if defined(__linux__)
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> in((n + page - 1) / page);
    if (::mincore(space, n, in.data()) != 0) return -1;
    std::size_t count = 0;
    for (const unsigned char c : in) count += c & 1U;
    return static_cast<double>(count) / static_cast<double>(in.size());
#else
    (void)space;
    (void)n;
    return -1;
#endif
}

TEST(MemoryStreamReserved, APreparedSpaceIsFoundByTheBlockItFitsAndNeverDisturbsALiveOne) {
    using zumelko::platform::CommitAddressSpace;
    using zumelko::platform::PrepareAddressSpace;
    using zumelko::platform::ReleaseAddressSpace;
    using zumelko::platform::ReserveAddressSpace;
    struct Block {
        void* at;
        std::size_t n;
    };
    auto take = [](std::size_t n) {
        Block b{ReserveAddressSpace(n), n};
        EXPECT_NE(b.at, nullptr);
        EXPECT_TRUE(b.at != nullptr && CommitAddressSpace(b.at, n, n));
        return b;
    };
    auto fill = [](const Block& b, int seed) {
        const std::string c(b.n, static_cast<char>('0' + seed));
        std::memcpy(b.at, c.data(), c.size());
        return c;
    };
    auto holds = [](const Block& b, const std::string& c) { return std::memcmp(b.at, c.data(), c.size()) == 0; };

    // Sizes no other block here has had: nothing kept fits them.
    PrepareAddressSpace(37 * kMiB);
    const Block first = take(37 * kMiB);
    if (const double resident = ResidentShare(first.at, first.n); resident >= 0) {
        EXPECT_EQ(resident, 1.0) << "the prepared pages were not in place";
    }
    const std::string firstBytes = fill(first, 1);

    // Another prepared while the first is live, and asked again for the live one's size: the
    // second space is never the first's.
    PrepareAddressSpace(39 * kMiB);
    PrepareAddressSpace(37 * kMiB);
    const Block second = take(38 * kMiB);
    EXPECT_NE(second.at, first.at);
    const std::string secondBytes = fill(second, 2);
    EXPECT_TRUE(holds(first, firstBytes));

    // A size that is never kept is not prepared.
    PrepareAddressSpace(64 * kMiB);
    const Block large = take(64 * kMiB);
    if (const double resident = ResidentShare(large.at, large.n); resident >= 0) {
        EXPECT_EQ(resident, 0.0);
    }
    ReleaseAddressSpace(large.at, large.n);

    // Spaces prepared on one thread while another takes, fills and gives back blocks of the
    // sizes they were prepared for and others; each block keeps its bytes and the two live ones
    // theirs.
    bool ok = true;
    std::thread taker([&] {
        for (int round = 0; round < 12; ++round) {
            const std::size_t n = (33 + static_cast<std::size_t>(round % 5)) * kMiB + 4096 * static_cast<std::size_t>(round);
            Block b{ReserveAddressSpace(n), n};
            if (b.at == nullptr || !CommitAddressSpace(b.at, n, n)) {
                ok = false;
                return;
            }
            const std::string c(n, static_cast<char>('a' + round));
            std::memcpy(b.at, c.data(), n);
            ok = ok && holds(b, c);
            ReleaseAddressSpace(b.at, n);
        }
    });
    for (int round = 0; round < 12; ++round) {
        PrepareAddressSpace((33 + static_cast<std::size_t>((round * 3) % 7)) * kMiB);
        std::this_thread::yield();
    }
    taker.join();
    EXPECT_TRUE(ok);
    EXPECT_TRUE(holds(first, firstBytes));
    EXPECT_TRUE(holds(second, secondBytes));
    ReleaseAddressSpace(first.at, first.n);
    ReleaseAddressSpace(second.at, second.n);
}

}  // namespace
