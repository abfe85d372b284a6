// Pictures between the clipboard and BMP bytes, on displays of every depth.
#include <gtest/gtest.h>

#include "desktop/ClipboardAccess.h"
#include "Support.h"

namespace zumelko::test {
namespace {

const std::vector<std::uint32_t> kVga16 = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                           0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                           0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

std::uint32_t To555(std::uint32_t c) {
    std::uint32_t out = 0;
    for (int shift : {0, 8, 16}) {
        const std::uint32_t v = (c >> (shift + 3)) & 31u;
        out |= ((v << 3) | (v >> 2)) << shift;
    }
    return out;
}

struct DepthCase {
    const char* name;
    int display;
    bool monochrome;
    std::vector<std::uint32_t> colors;  // what the other program draws with
    bool drawnWithPalette;              // and puts them on the clipboard as its palette
    int bits;                           // written bit count
    std::size_t tableSize;
    std::size_t clipboardPaletteSize;   // CF_PALETTE entries when the picture is put back (0: none)
};

void PrintTo(const DepthCase& c, std::ostream* os) { *os << c.name; }

class PictureDepth : public DesktopTest, public ::testing::WithParamInterface<DepthCase> {};

// Taken from the clipboard, written, read back, written again and put back: the header says
// what a display of that depth gives, the bytes survive the trip unchanged and the clipboard
// ends with the very pixels it started with.
TEST_P(PictureDepth, ClipboardPictureTravelsAsBmpAndComesBackTheSame) {
    const DepthCase& c = GetParam();
    gdi().SetDisplayBitsPerPixel(c.display);
    const int w = 13, h = 5;  // rows of odd length exercise the padding at every depth
    const Pixels drawn = Pattern(w, h, c.colors);
    OtherProgramPuts(w, h, drawn, c.monochrome, c.drawnWithPalette ? c.colors : std::vector<std::uint32_t>{});
    Pixels expected = drawn;
    if (c.display == 16)
        for (auto& p : expected) p = To555(p);

    ClipboardAccess clip;
    BitmapImage picture;
    clip.GetBitmap(picture);
    EXPECT_EQ(picture.Width(), w);
    EXPECT_EQ(picture.Height(), h);
    EXPECT_EQ(picture.Monochrome(), c.bits == 1);

    const Bytes bmp = Write(picture);
    const std::size_t stride = (static_cast<std::size_t>(w * c.bits) + 31) / 32 * 4;
    ASSERT_EQ(bmp.size(), 54 + c.tableSize + stride * h);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(Le32(bmp, 2), bmp.size());
    EXPECT_EQ(Le32(bmp, 6), 0u);
    EXPECT_EQ(Le32(bmp, 10), 54 + c.tableSize);
    EXPECT_EQ(Le16(bmp, 26), 1);
    EXPECT_EQ(Le16(bmp, 28), c.bits);
    EXPECT_EQ(Le32(bmp, 30), 0u);
    EXPECT_EQ(Le32(bmp, 34), stride * h);
    for (std::size_t at : {38u, 42u, 46u, 50u}) EXPECT_EQ(Le32(bmp, at), 0u);
    const DecodedBmp d = Decode(bmp);
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    if (c.bits == 1) {
        EXPECT_EQ(d.table, (std::vector<std::uint32_t>{0x000000, 0xFFFFFF}));
    }
    if (c.bits == 4) {
        EXPECT_EQ(d.table, kVga16);
    }
    if (c.bits == 8) {
        EXPECT_EQ(d.table, c.colors);
    }
    EXPECT_EQ(d.pixels, expected);

    BitmapImage back;
    Read(back, bmp);
    EXPECT_EQ(back.Width(), w);
    EXPECT_EQ(back.Height(), h);
    EXPECT_EQ(back.Monochrome(), c.bits == 1);
    EXPECT_EQ(Write(back), bmp);

    clip.Clear();
    clip.PutBitmap(back);
    EXPECT_EQ(ClipboardPixels(), expected);
    platform::BitmapInfo info;
    ASSERT_TRUE(gdi().GetObject(clipboard().BitmapHandle(), info));
    EXPECT_EQ(info.bitsPerPixel, c.monochrome ? 1 : c.display);
    EXPECT_EQ(gdi().GetPaletteEntries(clipboard().PaletteHandle()).size(), c.clipboardPaletteSize);
    if (c.bits == 8) {
        EXPECT_EQ(gdi().GetPaletteEntries(clipboard().PaletteHandle()), Entries(c.colors));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Displays, PictureDepth,
    ::testing::Values(DepthCase{"MonochromeBitmap", 32, true, {0x000000, 0xFFFFFF}, false, 1, 8, 0},
                      DepthCase{"MonochromeDisplay", 1, false, {0xFFFFFF, 0x000000}, false, 1, 8, 0},
                      DepthCase{"SixteenColours", 4, false, {0x800000, 0x00FFFF, 0xC0C0C0, 0x000000, 0x808000}, false, 4, 64, 16},
                      DepthCase{"TwoHundredFiftySixColours", 8, false, Spectrum(256), true, 8, 1024, 256},
                      DepthCase{"HighColour", 16, false, Spectrum(40), false, 24, 0, 0},
                      DepthCase{"TrueColour24", 24, false, Spectrum(40), false, 24, 0, 0},
                      DepthCase{"TrueColour32", 32, false, Spectrum(40), false, 24, 0, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(DesktopTest, OneByOnePictureIsFiftyEightBytes) {
    OtherProgramPuts(1, 1, {0x123456});
    ClipboardAccess clip;
    BitmapImage picture;
    clip.GetBitmap(picture);
    const Bytes expected = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
                            40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 4, 0, 0, 0,
                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0x56, 0x34, 0x12, 0};  // blue, green, red, padding
    EXPECT_EQ(Write(picture), expected);
}

// Which received pictures bring a palette to the clipboard.
TEST_F(DesktopTest, ReceivedPictureCarriesAPaletteOnlyWhenItHasMoreThanTwoColours) {
    ClipboardAccess clip;
    auto put = [&](const Bytes& bmp) {
        BitmapImage picture;
        Read(picture, bmp);
        clip.Clear();
        clip.Open();
        clip.PutBitmap(picture);
        clip.Close();
    };
    std::vector<std::vector<std::uint32_t>> rows(3, std::vector<std::uint32_t>(4));
    for (std::size_t i = 0; i < 12; ++i) rows[i / 4][i % 4] = static_cast<std::uint32_t>(i * 21);

    const auto colors = Spectrum(256);
    put(MakeBmp(8, 4, rows, colors));
    EXPECT_TRUE(clip.HasFormat(platform::CF_BITMAP_));
    EXPECT_TRUE(clip.HasFormat(platform::CF_PALETTE_));
    EXPECT_EQ(gdi().GetPaletteEntries(clipboard().PaletteHandle()), Entries(colors));
    EXPECT_EQ(ClipboardPixels(), Expand(rows, colors));

    for (auto& row : rows)
        for (auto& v : row) v %= 2;
    put(MakeBmp(1, 4, rows, {0xFF0000, 0x0000FF}));
    EXPECT_TRUE(clip.HasFormat(platform::CF_BITMAP_));
    EXPECT_FALSE(clip.HasFormat(platform::CF_PALETTE_));

    put(MakeBmp(24, 4, {{1, 2, 3, 4}}));
    EXPECT_TRUE(clip.HasFormat(platform::CF_BITMAP_));
    EXPECT_FALSE(clip.HasFormat(platform::CF_PALETTE_));
    EXPECT_EQ(ClipboardPixels(), (Pixels{1, 2, 3, 4}));
    EXPECT_EQ(StrayObjects(), 0u);
}

// A sixteen-colour picture is shown in the display's sixteen fixed colours where the display
// has a palette of its own, and in its own colours where it has none.
TEST_F(DesktopTest, SixteenColourPictureTakesTheSystemColoursOnPaletteDisplays) {
    const auto own = Spectrum(16);
    const Bytes bmp = MakeBmp(4, 2, {{0, 15}}, own);
    const auto system = platform::sim::SimGdi::SystemPalette(8);
    std::vector<platform::PaletteEntry> firstAndLast(system.begin(), system.begin() + 8);
    firstAndLast.insert(firstAndLast.end(), system.end() - 8, system.end());

    BitmapImage picture;
    Read(picture, bmp);
    gdi().SetDisplayBitsPerPixel(8);
    EXPECT_EQ(gdi().GetPaletteEntries(picture.Palette()), firstAndLast);

    BitmapImage onTrueColour;
    Read(onTrueColour, bmp);
    gdi().SetDisplayBitsPerPixel(32);
    EXPECT_EQ(gdi().GetPaletteEntries(onTrueColour.Palette()), Entries(own));
    EXPECT_EQ(gdi().Pixels(onTrueColour.Handle()), (Pixels{own[0], own[15]}));
}

// A copy shares the image (and the forms made of it) until either picture is loaded anew.
TEST_F(DesktopTest, CopiedPictureSharesItsImageUntilEitherIsLoadedAnew) {
    const Bytes red = MakeBmp(24, 2, {{0xFF0000, 0xFF0000}});
    const Bytes blue = MakeBmp(24, 3, {{0x0000FF, 0x0000FF, 0x0000FF}});
    BitmapImage a, b;
    int changes = 0;
    b.OnChange = [&](BitmapImage&) { ++changes; };
    Read(a, red);
    b.Assign(&a);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(b.SharesImageWith(a));
    EXPECT_EQ(b.Width(), 2);
    EXPECT_EQ(b.Handle(), a.Handle());  // made once, for both
    EXPECT_EQ(Write(b), Write(a));

    Read(b, blue);
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(b.SharesImageWith(a));
    EXPECT_EQ(a.Width(), 2);
    EXPECT_EQ(Write(a), red);
    EXPECT_EQ(b.Width(), 3);

    b.Assign(&a);
    Read(a, blue);  // the other way round
    EXPECT_EQ(Write(b), red);
    EXPECT_EQ(Write(a), blue);

    b.Assign(nullptr);
    EXPECT_EQ(changes, 4);
    EXPECT_TRUE(b.Empty());
    EXPECT_TRUE(Write(b).empty());
}

// Failures come out as the program's texts, with the clipboard closed again and nothing leaked.
TEST_F(DesktopTest, ClipboardPictureFailuresReportTheirTextAndLeaveNothingBehind) {
    ClipboardAccess clip;
    BitmapImage picture;
    EXPECT_EQ(ErrorText([&] { clip.GetBitmap(picture); }), "未対応のｸﾘｯﾌﾟﾎﾞｰﾄﾞ ﾃﾞｰﾀです");
    EXPECT_EQ(clip.OpenCount(), 0);
    EXPECT_FALSE(clipboard().IsOpen());

    OtherProgramPuts(2, 2, {1, 2, 3, 4});
    clipboard().HoldByAnotherProgram(true);
    EXPECT_EQ(ErrorText([&] { clip.GetBitmap(picture); }), "未対応のｸﾘｯﾌﾟﾎﾞｰﾄﾞ ﾃﾞｰﾀです");
    clipboard().HoldByAnotherProgram(false);

    Read(picture, MakeBmp(24, 2, {{1, 2}, {3, 4}}));
    gdi().SetBitmapPixelLimit(3);
    EXPECT_EQ(ErrorText([&] { clip.PutBitmap(picture); }), "ｼｽﾃﾑ ﾘｿｰｽが足りません");
    EXPECT_EQ(clip.OpenCount(), 0);
    EXPECT_FALSE(clipboard().IsOpen());
    gdi().SetBitmapPixelLimit(1000);
    EXPECT_EQ(ClipboardPixels(), (Pixels{1, 2, 3, 4}));  // the failed write took nothing away
    clip.GetBitmap(picture);
    EXPECT_EQ(StrayObjects(), 1u);  // the picture's own bitmap
    clip.PutBitmap(picture);
    EXPECT_EQ(ClipboardPixels(), (Pixels{1, 2, 3, 4}));

    // Nothing of the pictures outlives them.
    picture.Assign(nullptr);
    EXPECT_EQ(StrayObjects(), 0u);
}

}  // namespace
}  // namespace zumelko::test
