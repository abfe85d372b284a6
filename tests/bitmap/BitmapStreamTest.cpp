// Reading BMP file images: the forms other writers use, and whatever else a peer may send.
#include <gtest/gtest.h>

#include <climits>

#include "Support.h"
#include "tests/bitmap/PictureHeaderCases.h"

namespace zumelko::test {
namespace {

constexpr char kInvalid[] = "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です";
constexpr char kReadError[] = "ｽﾄﾘｰﾑからの読み込みｴﾗｰ";

const std::vector<std::vector<std::uint32_t>> kRows = {{0, 1, 2, 3, 4}, {5, 6, 7, 8, 9}, {10, 11, 12, 13, 14}};

using BitmapStream = DesktopTest;

TEST_F(BitmapStream, EmptyPictureWritesNothingAndNoBytesReadAsAnEmptyPicture) {
    BitmapImage picture;
    EXPECT_TRUE(Write(picture).empty());
    Read(picture, MakeBmp(24, 1, {{7}}));
    int changes = 0;
    picture.OnChange = [&](BitmapImage&) { ++changes; };
    Read(picture, {});
    EXPECT_TRUE(picture.Empty());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(Write(picture).empty());
}

// Whatever comes in, nothing is read past the data, the picture keeps what it had, and the
// answer is one of the two texts.
TEST_F(BitmapStream, BrokenOrHostileImagesAreRefusedAndThePictureKeepsItsImage) {
    const Bytes good = MakeBmp(8, 5, kRows, Spectrum(15));
    const Bytes kept = MakeBmp(24, 2, {{0x010203, 0x040506}});
    BitmapImage picture;
    Read(picture, kept);
    const std::size_t objects = gdi().LiveObjects();

    auto expect = [&](const Bytes& bytes, const std::string& text, const char* what) {
        MemoryStream s;
        s.Write(bytes.data(), bytes.size());
        s.SetPosition(0);
        EXPECT_EQ(ErrorText([&] { picture.ReadFromStream(s); }), text) << what;
        EXPECT_EQ(Write(picture), kept) << what;
    };
    auto with = [&](auto change) {
        Bytes b = good;
        change(b);
        return b;
    };

    for (std::size_t n = 1; n < 14; ++n) expect(Bytes(good.begin(), good.begin() + static_cast<long>(n)), kReadError, "short");
    expect(with([](Bytes& b) { b[1] = 'A'; }), kInvalid, "not BM");
    expect(Bytes(good.begin(), good.begin() + 16), kInvalid, "header cut short");
    for (std::uint32_t size : {0u, 39u, 41u, 64u, 108u, 124u, 0xFFFFFFFFu})
        expect(with([&](Bytes& b) { SetLe32(b, 14, size); }), kInvalid, "header size");
    expect(with([](Bytes& b) { SetLe16(b, 26, 2); }), kInvalid, "two planes");
    expect(with([](Bytes& b) { SetLe16(b, 26, 0); }), kInvalid, "no planes");
    // Run lengths of 4 bits and masks do not go with 8 bits; nothing knows 4 and 5 (JPEG, PNG).
    for (std::uint32_t compression : {2u, 3u, 4u, 5u, 0x80000001u})
        expect(with([&](Bytes& b) { SetLe32(b, 30, compression); }), kInvalid, "compression");
    for (std::uint16_t bits : {0, 2, 7, 48, 0xFFFF})
        expect(with([&](Bytes& b) { SetLe16(b, 28, bits); }), kInvalid, "bit count");
    for (std::int32_t width : {0, -1, -5, INT_MIN})
        expect(with([&](Bytes& b) { SetLe32(b, 18, static_cast<std::uint32_t>(width)); }), kInvalid, "width");
    expect(with([](Bytes& b) { SetLe32(b, 22, 0); }), kInvalid, "no rows");
    expect(with([](Bytes& b) { SetLe32(b, 22, 0x80000000u); }), kInvalid, "most negative height");
    expect(with([](Bytes& b) { SetLe32(b, 46, 257); }), kInvalid, "more colours than 8 bits index");
    expect(MakeBmp(24, 1, {{0}}, std::vector<std::uint32_t>(16384)), kInvalid, "colour table too long");
    expect(with([](Bytes& b) { SetLe32(b, 46, 0x40000000u); }), kInvalid, "colour count overflowing");
    expect(Bytes(good.begin(), good.begin() + 54 + 4 * 15 - 1), kInvalid, "table cut short");
    expect(Bytes(good.begin(), good.end() - 1), kInvalid, "rows cut short");
    expect(with([](Bytes& b) { SetLe32(b, 34, 8 * 3 - 1); }), kInvalid, "size of rows smaller than the rows");
    expect(with([](Bytes& b) { SetLe32(b, 22, 4); }), kInvalid, "a row more than there is");
    expect(with([](Bytes& b) { SetLe32(b, 22, static_cast<std::uint32_t>(-4)); }), kInvalid, "top-down, a row more");
    // A few bytes asking for gigabytes: never allocated, the rows are not there.
    expect(with([](Bytes& b) {
               SetLe32(b, 18, 0x7FFFFFFF);
               SetLe32(b, 22, 0x7FFFFFFF);
           }),
           kInvalid, "huge");
    expect(with([](Bytes& b) {
               SetLe32(b, 18, 10000);
               SetLe32(b, 22, 10000);
               SetLe16(b, 28, 1);
               SetLe32(b, 46, 2);
           }),
           kInvalid, "a hundred megapixels in a few bytes");
    Bytes core = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 4, 0, 1, 0, 1, 0, 24, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    expect(Bytes(core.begin(), core.end() - 1), kInvalid, "core rows cut short");
    expect([&] {
        Bytes b = core;
        SetLe16(b, 22, 2);
        return b;
    }(), kInvalid, "core with two planes");
    expect([&] {
        Bytes b = core;
        SetLe16(b, 18, 0);
        return b;
    }(), kInvalid, "core without width");
    EXPECT_EQ(gdi().LiveObjects(), objects);
}

// Each check of the reader alone: a refused image leaves the picture as it was, its taken twin
// becomes the picture and, when small, a device bitmap of the desktop.
TEST_F(BitmapStream, EachHeaderCheckAloneBetweenItsTakenTwin) {
    const Bytes kept = MakeBmp(24, 2, {{0x010203, 0x040506}});
    for (const auto& c : picturecases::Cases()) {
        SCOPED_TRACE(c.what);
        BitmapImage picture;
        Read(picture, kept);
        MemoryStream s;
        s.Write(c.bytes.data(), c.bytes.size());
        s.SetPosition(0);
        const std::string error = ErrorText([&] {
            picture.ReadFromStream(s);
            if (c.small) (void)picture.Handle();
        });
        if (c.error != nullptr) {
            EXPECT_EQ(error, c.error);
            EXPECT_EQ(Write(picture), kept);
        } else {
            EXPECT_EQ(error, "");
            EXPECT_EQ(picture.Width(), c.width);
            EXPECT_EQ(picture.Height(), c.height);
            if (c.small) {
                EXPECT_NE(picture.Handle(), 0u);
            }
        }
    }
}

TEST_F(BitmapStream, ReadPictureIsWrittenBackByteForByte) {
    for (const Bytes& bmp : {MakeBmp(1, 5, {{0, 1, 1, 0, 1}, {1, 0, 0, 1, 0}}, {0x000000, 0xFFFFFF}),
                             MakeBmp(4, 5, kRows, Spectrum(16)), MakeBmp(8, 5, kRows, Spectrum(256)),
                             MakeBmp(8, 5, kRows, Spectrum(15)), MakeBmp(24, 2, {{1, 2}, {3, 4}, {5, 6}})}) {
        BitmapImage picture;
        Read(picture, bmp);
        EXPECT_EQ(Write(picture), bmp);
    }
}

// The 12-byte header of older writers: 16-bit sizes, 3-byte colours, and a palette whenever
// there is a table.
TEST_F(BitmapStream, CoreHeaderIsReadWithThreeByteColours) {
    // 3 × 2 at 1 bit: rows of 4 bytes, bottom row first.
    const Bytes bmp = {'B', 'M', 40, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0,
                       12, 0, 0, 0, 3, 0, 2, 0, 1, 0, 1, 0,
                       0x30, 0x20, 0x10, 0x60, 0x50, 0x40,  // blue, green, red of 0 and 1
                       0b01000000, 0, 0, 0,                 // bottom row: 0 1 0
                       0b10100000, 0, 0, 0};                // top row: 1 0 1
    BitmapImage picture;
    Read(picture, bmp);
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.Height(), 2);
    EXPECT_FALSE(picture.Monochrome());  // two colours, but not black and white
    EXPECT_EQ(gdi().GetPaletteEntries(picture.Palette()), Entries({0x102030, 0x405060}));
    EXPECT_EQ(Shown(bmp), (Pixels{0x405060, 0x102030, 0x405060, 0x102030, 0x405060, 0x102030}));
    EXPECT_EQ(Write(picture), bmp);
}

// Rows stored top row first (a negative height) are shown the right way up and written the
// way this program writes every picture: bottom row first, positive height.
TEST_F(BitmapStream, TopDownRowsAreReadRightWayUpAndWrittenBottomUp) {
    const auto table = Spectrum(16);
    const Bytes topDown = MakeBmp(4, 5, kRows, table, true);
    const Bytes bottomUp = MakeBmp(4, 5, kRows, table);
    EXPECT_EQ(Shown(topDown), Expand(kRows, table));
    BitmapImage picture;
    Read(picture, topDown);
    EXPECT_EQ(picture.Height(), 3);
    EXPECT_EQ(Write(picture), bottomUp);

    const std::vector<std::vector<std::uint32_t>> colours = {{0x112233, 0x445566}, {0x778899, 0xAABBCC}};
    EXPECT_EQ(Shown(MakeBmp(24, 2, colours, {}, true)), Expand(colours, {}));
}

// bfOffBits is believed only where it points past the colour table and the rows fit after it.
TEST_F(BitmapStream, RowsAfterAGapAreFoundThroughTheirOffset) {
    const auto table = Spectrum(16);
    const Bytes plain = MakeBmp(4, 5, kRows, table);
    const std::size_t rowsAt = Le32(plain, 10);
    Bytes gap = plain;
    gap.insert(gap.begin() + static_cast<long>(rowsAt), {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
    SetLe32(gap, 10, static_cast<std::uint32_t>(rowsAt + 7));
    SetLe32(gap, 2, static_cast<std::uint32_t>(gap.size()));
    EXPECT_EQ(Shown(gap), Expand(kRows, table));
    BitmapImage picture;
    Read(picture, gap);
    EXPECT_EQ(Write(picture), plain);

    // Offsets that cannot be right: the rows follow the table.
    for (std::uint32_t offset : {0u, 14u, static_cast<std::uint32_t>(rowsAt - 4), static_cast<std::uint32_t>(plain.size()),
                                 0xFFFFFFFFu}) {
        Bytes b = plain;
        SetLe32(b, 10, offset);
        EXPECT_EQ(Shown(b), Expand(kRows, table)) << offset;
    }
    // Bytes after the rows are not part of the picture.
    Bytes trailing = plain;
    trailing.resize(plain.size() + 9, 0x55);
    Read(picture, trailing);
    EXPECT_EQ(Write(picture), plain);
}

// Sizes the header leaves open: biSizeImage 0 or larger than the rows, a short colour table.
TEST_F(BitmapStream, HeaderFieldsOtherWritersFillDifferentlyAreTaken) {
    const auto table = Spectrum(5);
    std::vector<std::vector<std::uint32_t>> rows = kRows;
    for (auto& row : rows)
        for (auto& v : row) v %= 5;
    Bytes b = MakeBmp(8, 5, rows, table);
    EXPECT_EQ(Shown(b), Expand(rows, table));
    SetLe32(b, 34, 1000);
    b.resize(b.size() + 1000);
    EXPECT_EQ(Shown(b), Expand(rows, table));

    const Bytes thirtyTwo = MakeBmp(32, 2, {{0x010203, 0xFFFEFD}});
    EXPECT_EQ(Shown(thirtyTwo), (Pixels{0x010203, 0xFFFEFD}));
    // 16 bits: 5 bits a channel, 0RRRRRGGGGGBBBBB.
    Bytes sixteen = MakeBmp(24, 2, {{0, 0}});
    SetLe16(sixteen, 28, 16);
    sixteen.resize(54 + 4);
    SetLe16(sixteen, 54, 0x7C00);
    SetLe16(sixteen, 56, 0x001F);
    EXPECT_EQ(Shown(sixteen), (Pixels{0xFF0000, 0x0000FF}));
}

}  // namespace
}  // namespace zumelko::test
