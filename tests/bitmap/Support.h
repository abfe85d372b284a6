#pragma once
// What the picture and clipboard tests share: a simulated desktop, another program that puts
// pictures on the clipboard, and BMP bytes written and read without the production code.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/BitmapImage.h"
#include "desktop/ClipboardAccess.h"
#include "framework/Error.h"
#include "framework/Stream.h"
#include "platform/sim/SimDesktop.h"

namespace zumelko::test {

using Bytes = std::vector<std::uint8_t>;
using Pixels = std::vector<std::uint32_t>;  // 0xRRGGBB, top row first

inline std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b.at(at)} | (std::uint32_t{b.at(at + 1)} << 8) | (std::uint32_t{b.at(at + 2)} << 16) |
           (std::uint32_t{b.at(at + 3)} << 24);
}
inline std::uint16_t Le16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline void SetLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void SetLe16(Bytes& b, std::size_t at, std::uint16_t v) {
    b.at(at) = static_cast<std::uint8_t>(v);
    b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

inline Bytes Write(const Graphic& picture) {
    MemoryStream s;
    picture.WriteToStream(s);
    return {s.Data(), s.Data() + s.Size()};
}

inline void Read(BitmapImage& picture, const Bytes& bytes) {
    MemoryStream s;
    s.Write(bytes.data(), bytes.size());
    s.SetPosition(0);
    picture.ReadFromStream(s);
}

// The message of the zumelko::Error that f raises ("" when it raises none).
template <typename F>
std::string ErrorText(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// An uncompressed BMP file with a 40-byte header, written here independently of the picture
// code: rows given top row first as palette indices (bits <= 8) or 0xRRGGBB (24 and 32 bits),
// stored bottom-up unless topDown.
inline Bytes MakeBmp(int bits, int width, const std::vector<std::vector<std::uint32_t>>& rows,
                     const std::vector<std::uint32_t>& table = {}, bool topDown = false) {
    const int height = static_cast<int>(rows.size());
    const std::size_t stride = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) + 31) / 32 * 4;
    const std::size_t tableSize = table.size() * 4;
    Bytes b(54 + tableSize + stride * static_cast<std::size_t>(height), 0);
    b[0] = 'B';
    b[1] = 'M';
    SetLe32(b, 2, static_cast<std::uint32_t>(b.size()));
    SetLe32(b, 10, static_cast<std::uint32_t>(54 + tableSize));
    SetLe32(b, 14, 40);
    SetLe32(b, 18, static_cast<std::uint32_t>(width));
    SetLe32(b, 22, static_cast<std::uint32_t>(topDown ? -height : height));
    SetLe16(b, 26, 1);
    SetLe16(b, 28, static_cast<std::uint16_t>(bits));
    SetLe32(b, 46, static_cast<std::uint32_t>(table.size()));
    for (std::size_t i = 0; i < table.size(); ++i) SetLe32(b, 54 + 4 * i, table[i]);
    for (int y = 0; y < height; ++y) {
        const int stored = topDown ? y : height - 1 - y;
        std::uint8_t* row = b.data() + 54 + tableSize + static_cast<std::size_t>(stored) * stride;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            if (bits <= 8) {
                const int bit = x * bits;
                row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - bits - bit % 8));
            } else {
                for (int k = 0; k < bits / 8; ++k) row[x * (bits / 8) + k] = k < 3 ? static_cast<std::uint8_t>(v >> (8 * k)) : 0;
            }
        }
    }
    return b;
}

// The colours a BMP's rows stand for, through its table when it has one.
inline Pixels Expand(const std::vector<std::vector<std::uint32_t>>& rows, const std::vector<std::uint32_t>& table) {
    Pixels out;
    for (const auto& row : rows)
        for (std::uint32_t v : row) out.push_back(table.empty() ? v : table.at(v));
    return out;
}

// A BMP file with a 40-byte header and bottom-up rows of 1, 4, 8 or 24 bits, taken apart here
// independently of the picture code.
struct DecodedBmp {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::vector<std::uint32_t> table;  // 0xRRGGBB
    Pixels pixels;
};

inline DecodedBmp Decode(const Bytes& b) {
    DecodedBmp d;
    EXPECT_EQ(Le32(b, 14), 40u);
    d.width = static_cast<int>(Le32(b, 18));
    d.height = static_cast<int>(Le32(b, 22));
    d.bits = Le16(b, 28);
    std::size_t colors = Le32(b, 46);
    if (colors == 0 && d.bits <= 8) colors = std::size_t{1} << d.bits;
    for (std::size_t i = 0; i < colors; ++i) d.table.push_back(Le32(b, 54 + 4 * i) & 0xFFFFFFu);
    const std::size_t rows = Le32(b, 10);
    const std::size_t stride = (static_cast<std::size_t>(d.width) * static_cast<std::size_t>(d.bits) + 31) / 32 * 4;
    for (int y = d.height - 1; y >= 0; --y) {
        const std::size_t row = rows + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < d.width; ++x) {
            if (d.bits == 24) {
                const std::size_t at = row + static_cast<std::size_t>(x) * 3;
                d.pixels.push_back((std::uint32_t{b.at(at + 2)} << 16) | (std::uint32_t{b.at(at + 1)} << 8) | b.at(at));
            } else {
                const int bit = x * d.bits;
                const std::uint32_t index =
                    (b.at(row + static_cast<std::size_t>(bit / 8)) >> (8 - d.bits - bit % 8)) & ((1u << d.bits) - 1);
                d.pixels.push_back(d.table.at(index));
            }
        }
    }
    return d;
}

// A picture of width × height in colours taken in turn from colors.
inline Pixels Pattern(int width, int height, const std::vector<std::uint32_t>& colors) {
    Pixels p;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.push_back(colors[static_cast<std::size_t>(x * 3 + y * 7 + x * y) % colors.size()]);
    return p;
}

inline std::vector<std::uint32_t> Spectrum(int n) {
    std::vector<std::uint32_t> c;
    for (int i = 0; i < n; ++i)
        c.push_back((static_cast<std::uint32_t>(i * 37 % 256) << 16) | (static_cast<std::uint32_t>(i * 101 % 256) << 8) |
                    static_cast<std::uint32_t>(i * 59 % 256));
    return c;
}

inline std::vector<platform::PaletteEntry> Entries(const std::vector<std::uint32_t>& colors) {
    std::vector<platform::PaletteEntry> e;
    for (std::uint32_t c : colors)
        e.push_back({static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c), 0});
    return e;
}

class DesktopTest : public ::testing::Test {
protected:
    platform::sim::SimDesktop& desk() { return *desktop_; }
    platform::sim::SimGdi& gdi() { return desktop_->gdi(); }
    platform::sim::SimClipboard& clipboard() { return desktop_->clipboard(); }

    // Another program draws a picture and puts it on the clipboard (with a palette when
    // paletteColors is not empty).
    void OtherProgramPuts(int width, int height, const Pixels& pixels, bool monochrome = false,
                          const std::vector<std::uint32_t>& paletteColors = {}) {
        const platform::Hpalette palette =
            paletteColors.empty() ? 0 : gdi().CreatePalette(Entries(paletteColors));
        const platform::Hbitmap bitmap = gdi().CreateBitmap(width, height, monochrome);
        ASSERT_NE(bitmap, 0u);
        ASSERT_TRUE(gdi().SetPixels(bitmap, pixels, palette));
        const platform::Hwnd other = desk().loop().CreateHiddenWindow([](std::uint32_t, platform::WParam, platform::LParam) {
            return platform::LResult{0};
        });
        ASSERT_TRUE(clipboard().OpenClipboard(other));
        clipboard().EmptyClipboard();
        ASSERT_TRUE(clipboard().SetBitmap(bitmap));
        if (palette != 0) {
            ASSERT_TRUE(clipboard().SetPalette(palette));
        }
        clipboard().CloseClipboard();
        desk().loop().DestroyWindow(other);
    }

    // The pixels of what is on the clipboard now.
    Pixels ClipboardPixels() { return gdi().Pixels(clipboard().BitmapHandle()); }

    // The pixels a read picture shows once it is on the clipboard.
    Pixels Shown(const Bytes& bmp) {
        BitmapImage picture;
        Read(picture, bmp);
        ClipboardAccess clip;
        clip.Clear();
        clip.PutBitmap(picture);
        return ClipboardPixels();
    }

    // Bitmaps and palettes alive besides those the clipboard holds.
    std::size_t StrayObjects() {
        return gdi().LiveObjects() - (clipboard().BitmapHandle() != 0 ? 1 : 0) -
               (clipboard().PaletteHandle() != 0 ? 1 : 0);
    }

private:
    platform::sim::ScopedSimDesktop desktop_;
};

}  // namespace zumelko::test
