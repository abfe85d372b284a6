// The Windows clipboard as the forwarder uses it: the viewer chain's count of changes, text
// bytes (UTF-8 from Linux peers as Unicode text too), and pictures through GDI at the display's depth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "desktop/BitmapImage.h"
#include "desktop/ClipboardAccess.h"
#include "desktop/ClipboardViewer.h"
#include "framework/SharedText.h"
#include "framework/Stream.h"
#include "platform/Dib.h"
#include "platform/win32/Win32Api.h"
#include "tests/bitmap/PictureHeaderCases.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Pixels = std::vector<std::uint32_t>;  // 0xRRGGBB, top row first

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A BMP file of width × rows at 24 bits (pixels as colours) or 8 bits (pixels as indices
// into table), bottom-up, written here byte by byte.
Bytes MakeBmp(int bits, int width, const std::vector<Pixels>& rows, const Pixels& table = {}) {
    const std::size_t stride = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 31) / 32 * 4;
    const std::size_t offset = 54 + table.size() * 4;
    Bytes b(offset + stride * rows.size(), 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 10, static_cast<std::uint32_t>(offset));
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<std::uint32_t>(width));
    Put32(b, 22, static_cast<std::uint32_t>(rows.size()));
    b[26] = 1;
    b[28] = static_cast<std::uint8_t>(bits);
    Put32(b, 46, static_cast<std::uint32_t>(table.size()));
    for (std::size_t i = 0; i < table.size(); ++i) Put32(b, 54 + 4 * i, table[i]);
    for (std::size_t y = 0; y < rows.size(); ++y) {
        std::uint8_t* row = b.data() + offset + (rows.size() - 1 - y) * stride;
        for (std::size_t x = 0; x < rows[y].size(); ++x) {
            if (bits == 8) {
                row[x] = static_cast<std::uint8_t>(rows[y][x]);
            } else {
                for (std::size_t k = 0; k < 3; ++k) row[3 * x + k] = static_cast<std::uint8_t>(rows[y][x] >> (8 * k));
            }
        }
    }
    return b;
}

void Read(BitmapImage& picture, const Bytes& bytes) {
    MemoryStream s;
    s.Write(bytes.data(), bytes.size());
    s.SetPosition(0);
    picture.ReadFromStream(s);
}

// The colours a picture shows, whatever depth it was written at.
Pixels ColoursOf(const BitmapImage& picture) {
    MemoryStream s;
    picture.WriteToStream(s);
    const std::uint8_t* dib = s.Data() + 14;
    const auto layout = platform::dib::ParseHeader(dib, s.Size() - 14);
    if (!layout) return {};
    const auto table = platform::dib::ColorTable(*layout, dib);
    Pixels out(static_cast<std::size_t>(layout->width) * static_cast<std::size_t>(layout->height));
    if (!platform::dib::DecodeRows(*layout, table, dib + layout->TableEnd(), s.Size() - 14 - layout->TableEnd(),
                                   out.data(), static_cast<std::size_t>(layout->width))) {
        return {};
    }
    for (auto& p : out) p &= 0xFFFFFF;
    return out;
}

class Clipboard : public ::testing::Test {
protected:
    TClipboardViewer& Watch() {
        auto& viewer = root_.Create<TClipboardViewer>();
        viewer.OnChangeData = [this](Component*) { ++changes_; };
        return viewer;
    }
    // Let the chain's notices come in; the system may deliver them a little later.
    int ChangesAfterPumping() {
        Pump(300);
        return changes_;
    }
    Component root_{nullptr};
    int changes_ = 0;
};

// Colours every desktop can show exactly, from 8-bit palettes up.
const Pixels kColours = {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x808080, 0xFFFF00, 0x800080};

TEST_F(Clipboard, AnImportIsExactlyTwoChangesAndItsContentIsWhatCame) {
    TClipboardViewer& viewer = Watch();
    ClipboardAccess clip;
    EXPECT_EQ(ChangesAfterPumping(), 0);

    // Text: clear, then open, write and close, as a received text is taken in.
    clip.Clear();
    clip.Open();
    clip.SetText(std::string_view("new \x93\xfa\x96\x7b"));  // "new 日本" in code page 932
    clip.Close();
    EXPECT_EQ(ChangesAfterPumping(), 2);
    {
        ClipboardAccess::Scope open(clip);
        EXPECT_EQ(clip.GetText(), "new \x93\xfa\x96\x7b");
        const auto block = Desk().clipboard().GetText();
        ASSERT_TRUE(block.has_value());
        EXPECT_EQ(block->substr(0, 9), std::string("new \x93\xfa\x96\x7b\0", 9));
        // Reading changes nothing.
    }
    EXPECT_EQ(ChangesAfterPumping(), 2);
    EXPECT_FALSE(clip.HasFormat(platform::CF_BITMAP_));

    // Code page bytes are the code page's, never taken for UTF-8: ﾊｲ (CA B2) would also be.
    clip.Clear();
    clip.Open();
    clip.SetText(std::string_view("\xca\xb2"));
    clip.Close();
    EXPECT_EQ(ChangesAfterPumping(), 4);
    EXPECT_EQ(clip.GetUnicodeText(), "ﾊｲ");

    // A received text, exactly: two changes too, Unicode text as it was meant, and the code
    // page's best rendering as the text.
    clip.Clear();
    clip.Open();
    clip.SetUnicodeText(SharedText("日本 한국 😀 ﾊｲ"));
    clip.Close();
    EXPECT_EQ(ChangesAfterPumping(), 6);
    {
        ClipboardAccess::Scope open(clip);
        HANDLE h = ::GetClipboardData(CF_UNICODETEXT);
        ASSERT_NE(h, nullptr);
        platform::win32::GlobalLockGuard lock(h);
        ASSERT_NE(lock.get(), nullptr);
        EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(lock.get())), L"日本 한국 😀 ﾊｲ");
        EXPECT_EQ(clip.GetUnicodeText(), "日本 한국 😀 ﾊｲ");
        const std::string ansi = clip.GetText();
        EXPECT_EQ(ansi.substr(0, 5), "\x93\xfa\x96\x7b ");
        EXPECT_EQ(ansi.substr(ansi.size() - 2), "\xca\xb2");
        EXPECT_EQ(ansi.find("\xed"), std::string::npos) << "no UTF-8 in the code page's text";
    }
    EXPECT_EQ(ChangesAfterPumping(), 6);

    // A picture in the same way: two changes, and the text is gone.
    BitmapImage picture;
    Read(picture, MakeBmp(24, 4, {{kColours[0], kColours[1], kColours[2], kColours[3]},
                                  {kColours[4], kColours[5], kColours[6], kColours[7]}}));
    clip.Clear();
    clip.Open();
    clip.PutBitmap(picture);
    clip.Close();
    EXPECT_EQ(ChangesAfterPumping(), 8);
    EXPECT_FALSE(clip.HasFormat(platform::CF_TEXT_));
    EXPECT_TRUE(clip.HasFormat(platform::CF_BITMAP_));
    EXPECT_EQ(viewer.NextViewer(), 0u);
}

// Pictures put on the clipboard come back with the same pixels, at 24 bits and at 8 bits with
// a colour table, on whatever display the run has (the 8-bit one has a system palette).
TEST_F(Clipboard, PicturesComeBackWithTheirPixelsAt24And8Bits) {
    const std::vector<Pixels> colourRows = {{kColours[0], kColours[1], kColours[2]},
                                           {kColours[3], kColours[4], kColours[5]},
                                           {kColours[6], kColours[7], kColours[2]}};
    std::vector<Pixels> indexRows;
    Pixels expected;
    for (const Pixels& row : colourRows) {
        Pixels indices;
        for (std::uint32_t c : row) {
            indices.push_back(static_cast<std::uint32_t>(std::find(kColours.begin(), kColours.end(), c) - kColours.begin()));
            expected.push_back(c);
        }
        indexRows.push_back(indices);
    }
    Pixels table256 = kColours;
    table256.resize(256, 0x000000);
    for (const Bytes& bmp : {MakeBmp(24, 3, colourRows), MakeBmp(8, 3, indexRows, table256)}) {
        SCOPED_TRACE(bmp[28] == 8 ? "8 bits" : "24 bits");
        BitmapImage picture;
        Read(picture, bmp);
        ClipboardAccess clip;
        clip.Clear();
        {
            ClipboardAccess::Scope open(clip);
            clip.PutBitmap(picture);
        }
        BitmapImage back;
        {
            ClipboardAccess::Scope open(clip);
            clip.GetBitmap(back);
        }
        EXPECT_EQ(back.Width(), 3);
        EXPECT_EQ(back.Height(), 3);
        EXPECT_EQ(ColoursOf(back), expected);
    }
    // The display's depth decides what the device bitmap holds; the run says which it set up.
    const int depth = Desk().gdi().DisplayBitsPerPixel();
    if (const char* asked = std::getenv("ZUMELKO_DISPLAY_DEPTH")) {
        EXPECT_EQ(depth == 32 ? 24 : depth, std::atoi(asked));
    }
    EXPECT_EQ(Desk().gdi().SystemPaletteSize(), depth == 8 ? 256 : 0);
}

// What GDI is never handed: packed images whose rows are not all there.
TEST_F(Clipboard, PackedImagesThatClaimMoreThanTheyHoldAreRefused) {
    const Bytes bmp = MakeBmp(24, 2, {{1, 2}, {3, 4}});
    const std::uint8_t* dib = bmp.data() + 14;
    auto& gdi = Desk().gdi();
    EXPECT_EQ(gdi.CreateDIBitmap(dib, 40, dib + 40, 8, 0), 0u);  // two rows of eight bytes need 16
    EXPECT_EQ(gdi.CreateDIBitmap(dib, 20, dib + 40, 16, 0), 0u);  // the header is cut short
    const platform::Hbitmap ok = gdi.CreateDIBitmap(dib, 40, dib + 40, 16, 0);
    EXPECT_NE(ok, 0u);
    EXPECT_TRUE(gdi.DeleteObject(ok));
}

// The reader's checks, the same table as on every desktop, with GDI making the device bitmap
// of each taken picture at this display's depth.
TEST_F(Clipboard, EachPictureHeaderCheckAloneBetweenItsTakenTwin) {
    const Bytes kept = MakeBmp(24, 2, {{0x010203, 0x040506}});
    for (const auto& c : picturecases::Cases()) {
        SCOPED_TRACE(c.what);
        BitmapImage picture;
        Read(picture, kept);
        std::string error;
        try {
            Read(picture, c.bytes);
            if (c.small) (void)picture.Handle();
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (c.error != nullptr) {
            EXPECT_EQ(error, c.error);
            EXPECT_EQ(ColoursOf(picture), (Pixels{0x010203, 0x040506}));
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

}  // namespace
}  // namespace zumelko::wintest
