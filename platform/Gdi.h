#pragma once
// Device bitmaps at the display's depth, palettes, and their conversion to and from
// packed device-independent images (header, colour table, rows as in a BMP file).
#include <cstdint>
#include <vector>

#include "platform/WinTypes.h"

namespace zumelko::platform {

struct PaletteEntry {
    std::uint8_t red = 0, green = 0, blue = 0, flags = 0;
    bool operator==(const PaletteEntry&) const = default;
};

struct BitmapInfo {
    int width = 0;
    int height = 0;
    int planes = 1;
    int bitsPerPixel = 0;
};

class Gdi {
public:
    virtual ~Gdi() = default;

    // Colour depth of the display in bits per pixel (1, 4, 8, 16, 24 or 32).
    virtual int DisplayBitsPerPixel() = 0;
    // GetDeviceCaps(SIZEPALETTE): 0 on displays without a palette.
    virtual int SystemPaletteSize() = 0;
    virtual std::vector<PaletteEntry> SystemPaletteEntries(int start, int count) = 0;

    // A monochrome bitmap (1 plane, 1 bit) or one compatible with the display; 0 on failure.
    virtual Hbitmap CreateBitmap(int width, int height, bool monochrome) = 0;
    virtual bool GetObject(Hbitmap bitmap, BitmapInfo& info) = 0;
    // Fills the destination white, then copies the source onto it (SRCCOPY), mapping colours
    // through the palette when one is given.
    virtual bool CopyBitmap(Hbitmap destination, Hbitmap source, Hpalette palette) = 0;

    virtual Hpalette CreatePalette(const std::vector<PaletteEntry>& entries) = 0;
    virtual std::vector<PaletteEntry> GetPaletteEntries(Hpalette palette) = 0;

    // CreateDIBitmap(CBM_INIT): header is a 40- or 12-byte bitmap header followed by its colour
    // table; pixels the rows. The caller has checked that the pixel bytes cover the image.
    // 0 on failure.
    virtual Hbitmap CreateDIBitmap(const std::uint8_t* headerAndTable, std::size_t headerAndTableSize,
                                   const std::uint8_t* pixels, std::size_t pixelSize,
                                   Hpalette palette) = 0;
    // GetDIBits: fills the colour table (after the 40-byte header, when the bit count has one)
    // and the pixel rows for the bit count given in the header.
    virtual bool GetDIBits(Hbitmap bitmap, Hpalette palette, std::uint8_t* headerAndTable,
                           std::uint8_t* pixels) = 0;

    virtual bool DeleteObject(std::uintptr_t object) = 0;
};

}  // namespace zumelko::platform
