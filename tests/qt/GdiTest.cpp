// Device bitmaps at the display's depth: packed images in and out, colour tables, monochrome
// bitmaps, and packed images that claim more than they hold.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

using namespace zumelko::platform;

std::vector<std::uint8_t> Header(int w, int h, int bits, std::uint32_t used = 0, std::uint32_t compression = 0) {
    std::vector<std::uint8_t> hd(40, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(hd.data() + at, &v, 4); };
    put32(0, 40);
    put32(4, static_cast<std::uint32_t>(w));
    put32(8, static_cast<std::uint32_t>(h));
    hd[12] = 1;
    hd[14] = static_cast<std::uint8_t>(bits);
    put32(16, compression);
    put32(32, used);
    return hd;
}

std::size_t Stride(int w, int bits) { return static_cast<std::size_t>((w * bits + 31) / 32 * 4); }

TEST(Gdi, TrueColourRowsComeBackAsTheyWentIn) {
    auto& gdi = Desk().gdi();
    const int w = 5, h = 3;
    auto header = Header(w, h, 24);
    std::vector<std::uint8_t> pixels(Stride(w, 24) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                pixels[Stride(w, 24) * y + x * 3 + c] = static_cast<std::uint8_t>(40 * x + 70 * y + 8 * c);
    const Hbitmap b = gdi.CreateDIBitmap(header.data(), header.size(), pixels.data(), pixels.size(), 0);
    ASSERT_NE(b, 0u);
    BitmapInfo info;
    ASSERT_TRUE(gdi.GetObject(b, info));
    EXPECT_EQ(info.width, w);
    EXPECT_EQ(info.height, h);
    EXPECT_EQ(info.bitsPerPixel, gdi.DisplayBitsPerPixel());
    // Bottom-up: the first row of the packed image is the picture's last line.
    const QImage* image = gdi.Bitmap(b);
    EXPECT_EQ(qRed(image->pixel(1, h - 1)) >> 3, (40 + 16) >> 3);
    EXPECT_EQ(qBlue(image->pixel(0, 0)) >> 3, (140) >> 3);

    std::vector<std::uint8_t> back(pixels.size(), 0xEE);
    auto outHeader = Header(w, h, 24);
    ASSERT_TRUE(gdi.GetDIBits(b, 0, outHeader.data(), back.data()));
    if (gdi.DisplayBitsPerPixel() == 32) {
        EXPECT_EQ(back, pixels);
    } else {
        // A 16-bit display keeps five or six bits of each colour.
        for (std::size_t i = 0; i < back.size(); ++i)
            if (i % Stride(w, 24) < static_cast<std::size_t>(w * 3)) {
                EXPECT_NEAR(back[i], pixels[i], 8) << i;
            }
    }
    EXPECT_TRUE(gdi.DeleteObject(b));
    EXPECT_FALSE(gdi.DeleteObject(b));
}

// A new bitmap is black however it is first looked at; one covered whole by a copy shows the
// copy, and stays as it was when the source is drawn on afterwards.
TEST(Gdi, NewBitmapsAreBlackAndCopiesStayApart) {
    auto& gdi = Desk().gdi();
    const std::size_t before = gdi.ObjectCount();
    const Hbitmap fresh = gdi.CreateBitmap(3, 2, false);
    ASSERT_NE(fresh, 0u);
    std::vector<std::uint8_t> rows(Stride(3, 24) * 2, 0xEE);
    auto header = Header(3, 2, 24);
    ASSERT_TRUE(gdi.GetDIBits(fresh, 0, header.data(), rows.data()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i % Stride(3, 24) < 9) {
            EXPECT_EQ(rows[i], 0) << i;
        }
    }

    std::vector<std::uint8_t> white(Stride(3, 24) * 2, 0xFF);
    const Hbitmap source = gdi.CreateDIBitmap(header.data(), header.size(), white.data(), white.size(), 0);
    const Hbitmap copy = gdi.CreateBitmap(3, 2, false);
    ASSERT_TRUE(gdi.CopyBitmap(copy, source, 0));
    ASSERT_TRUE(gdi.CopyBitmap(source, fresh, 0));  // the source turns black
    EXPECT_EQ(gdi.Bitmap(source)->pixel(2, 1) & 0xFFFFFFu, 0u);
    EXPECT_EQ(gdi.Bitmap(copy)->pixel(2, 1) & 0xFFFFFFu, 0xFFFFFFu);
    for (Hbitmap b : {fresh, source, copy}) EXPECT_TRUE(gdi.DeleteObject(b));
    EXPECT_EQ(gdi.ObjectCount(), before);
}

// A picture large enough to be decoded and written in parts comes out whole, every row in its
// place, bottom-up and top-down alike.
TEST(Gdi, LargePicturesAreDecodedWhole) {
    auto& gdi = Desk().gdi();
    const int w = 1031, h = 1029;  // odd sizes: the halves differ by a row, rows are padded
    const std::size_t stride = Stride(w, 24);
    std::vector<std::uint8_t> rows(stride * h, 0);
    auto colour = [](int x, int y) { return qRgb((x * 7 + y) & 0xFF, (y * 3) & 0xFF, (x ^ y) & 0xFF); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p =
                rows.data() + stride * static_cast<std::size_t>(h - 1 - y) + 3 * static_cast<std::size_t>(x);
            p[0] = static_cast<std::uint8_t>(qBlue(colour(x, y)));
            p[1] = static_cast<std::uint8_t>(qGreen(colour(x, y)));
            p[2] = static_cast<std::uint8_t>(qRed(colour(x, y)));
        }
    for (const bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        std::vector<std::uint8_t> data = rows;
        if (topDown)
            for (int y = 0; y < h / 2; ++y)
                std::swap_ranges(data.begin() + static_cast<long>(stride * static_cast<std::size_t>(y)),
                                 data.begin() + static_cast<long>(stride * static_cast<std::size_t>(y + 1)),
                                 data.begin() + static_cast<long>(stride * static_cast<std::size_t>(h - 1 - y)));
        auto header = Header(w, topDown ? -h : h, 24);
        const Hbitmap b = gdi.CreateDIBitmap(header.data(), header.size(), data.data(), data.size(), 0);
        ASSERT_NE(b, 0u);
        const QImage image = gdi.Bitmap(b)->convertToFormat(QImage::Format_RGB32);
        // A 16-bit display keeps the top five bits of each colour (six of green).
        const QRgb kept = gdi.DisplayBitsPerPixel() == 32 ? 0xFFFFFFu : 0xF8F8F8u;
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if ((image.pixel(x, y) & kept) != (colour(x, y) & kept)) ++wrong;
        EXPECT_EQ(wrong, 0);
        // Written back (in halves as well) at 24 bits as the same rows, bottom-up, padding zero.
        if (gdi.DisplayBitsPerPixel() == 32) {
            std::vector<std::uint8_t> back(rows.size(), 0xEE);
            auto out = Header(w, h, 24);
            ASSERT_TRUE(gdi.GetDIBits(b, 0, out.data(), back.data()));
            EXPECT_TRUE(back == rows);
        }
        gdi.DeleteObject(b);
    }
}

TEST(Gdi, IndexedPicturesUseTheirColourTable) {
    auto& gdi = Desk().gdi();
    const int w = 9, h = 2;
    auto header = Header(w, h, 8, 3);
    const std::uint8_t table[] = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};  // red, green, blue
    header.insert(header.end(), table, table + sizeof table);
    std::vector<std::uint8_t> pixels(Stride(w, 8) * h, 0);
    for (int x = 0; x < w; ++x) pixels[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(x % 3);
    pixels[Stride(w, 8)] = 7;  // beyond the table: black
    const Hbitmap b = gdi.CreateDIBitmap(header.data(), header.size(), pixels.data(), pixels.size(), 0);
    ASSERT_NE(b, 0u);
    const QImage image = gdi.Bitmap(b)->convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.pixel(0, 1), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(2, 1), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));

    // Written back at 8 bits through a palette: the indices of that palette.
    const Hpalette pal = gdi.CreatePalette({{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}});
    auto out = Header(w, h, 8);
    out.resize(40 + 1024);
    std::vector<std::uint8_t> idx(pixels.size(), 0xEE);
    ASSERT_TRUE(gdi.GetDIBits(b, pal, out.data(), idx.data()));
    EXPECT_EQ(idx[0], 0);
    EXPECT_EQ(idx[1], 1);
    EXPECT_EQ(idx[2], 2);
    EXPECT_EQ(out[40 + 4 * 1 + 1], 255) << "green's table entry";
    gdi.DeleteObject(b);
    gdi.DeleteObject(pal);
}

TEST(Gdi, MonochromeBitmapsTurnEverythingButWhiteBlack) {
    auto& gdi = Desk().gdi();
    QImage colour(10, 2, QImage::Format_RGB32);
    colour.fill(Qt::white);
    colour.setPixel(3, 0, qRgb(250, 250, 250));
    colour.setPixel(4, 1, qRgb(0, 0, 200));
    const Hbitmap src = gdi.Adopt(colour);
    const Hbitmap mono = gdi.CreateBitmap(12, 3, true);
    ASSERT_NE(mono, 0u);
    BitmapInfo info;
    ASSERT_TRUE(gdi.GetObject(mono, info));
    EXPECT_EQ(info.bitsPerPixel, 1);
    ASSERT_TRUE(gdi.CopyBitmap(mono, src, 0));
    auto header = Header(12, 3, 1);
    header.resize(48);
    std::vector<std::uint8_t> rows(Stride(12, 1) * 3, 0);
    ASSERT_TRUE(gdi.GetDIBits(mono, 0, header.data(), rows.data()));
    // Table: black then white.
    EXPECT_EQ(header[40], 0);
    EXPECT_EQ(header[44], 255);
    // Top line (last row): only x = 3 is black; what lies beyond the source stays white.
    const std::uint8_t* top = rows.data() + Stride(12, 1) * 2;
    EXPECT_EQ(top[0], 0xEF);
    EXPECT_EQ(top[1] & 0xF0, 0xF0);
    const std::uint8_t* second = rows.data() + Stride(12, 1);
    EXPECT_EQ(second[0], 0xF7);
    gdi.DeleteObject(src);
    gdi.DeleteObject(mono);
}

TEST(Gdi, PackedImagesThatClaimMoreThanTheyHoldAreRefused) {
    auto& gdi = Desk().gdi();
    const std::size_t before = gdi.ObjectCount();
    std::vector<std::uint8_t> pixels(64, 0);
    auto h = Header(4, 4, 24);
    // Rows missing.
    EXPECT_EQ(gdi.CreateDIBitmap(h.data(), h.size(), pixels.data(), 47, 0), 0u);
    // Run lengths that never end, zero or negative width, two planes, an odd bit count.
    auto rle = Header(4, 4, 8, 0, 1);
    EXPECT_EQ(gdi.CreateDIBitmap(rle.data(), rle.size(), pixels.data(), pixels.size(), 0), 0u);
    auto zero = Header(0, 4, 24);
    EXPECT_EQ(gdi.CreateDIBitmap(zero.data(), zero.size(), pixels.data(), pixels.size(), 0), 0u);
    auto negative = Header(-4, 4, 24);
    EXPECT_EQ(gdi.CreateDIBitmap(negative.data(), negative.size(), pixels.data(), pixels.size(), 0), 0u);
    auto planes = Header(4, 4, 24);
    planes[12] = 2;
    EXPECT_EQ(gdi.CreateDIBitmap(planes.data(), planes.size(), pixels.data(), pixels.size(), 0), 0u);
    auto odd = Header(4, 4, 7);
    EXPECT_EQ(gdi.CreateDIBitmap(odd.data(), odd.size(), pixels.data(), pixels.size(), 0), 0u);
    // Far too large a picture is refused before anything is allocated.
    auto huge = Header(100000, 100000, 1);
    std::vector<std::uint8_t> few(16);
    EXPECT_EQ(gdi.CreateDIBitmap(huge.data(), huge.size(), few.data(), few.size(), 0), 0u);
    EXPECT_EQ(gdi.CreateBitmap(70000, 70000, false), 0u);
    // A table shorter than the header says is refused, nothing is read past it; a table of
    // fewer colours than the bit count indexes is whole, and indices past it are black.
    auto shortTable = Header(2, 1, 8, 200);
    shortTable.insert(shortTable.end(), {10, 20, 30, 0});
    std::vector<std::uint8_t> two = {0, 150, 0, 0};
    EXPECT_EQ(gdi.CreateDIBitmap(shortTable.data(), shortTable.size(), two.data(), two.size(), 0), 0u);
    auto oneColour = Header(2, 1, 8, 1);
    oneColour.insert(oneColour.end(), {255, 255, 255, 0});
    const Hbitmap b = gdi.CreateDIBitmap(oneColour.data(), oneColour.size(), two.data(), two.size(), 0);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(gdi.Bitmap(b)->convertToFormat(QImage::Format_RGB32).pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(gdi.Bitmap(b)->convertToFormat(QImage::Format_RGB32).pixel(1, 0), qRgb(0, 0, 0));
    gdi.DeleteObject(b);
    // A core header (12 bytes, 3-byte table entries).
    std::vector<std::uint8_t> core = {12, 0, 0, 0, 2, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 255, 255, 255};
    std::vector<std::uint8_t> bits = {0x40, 0, 0, 0};
    const Hbitmap c = gdi.CreateDIBitmap(core.data(), core.size(), bits.data(), bits.size(), 0);
    ASSERT_NE(c, 0u);
    const QImage ci = gdi.Bitmap(c)->convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(ci.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(ci.pixel(1, 0), qRgb(255, 255, 255));
    gdi.DeleteObject(c);
    EXPECT_EQ(gdi.ObjectCount(), before);
}

}  // namespace
}  // namespace zumelko::qttest
