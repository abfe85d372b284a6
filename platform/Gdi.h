#pragma once
// Device bitmaps at the display's depth, palettes, and their conversion to and from packed
// device-independent images (header, colour table, rows as in a BMP file).
//
// Each call stands for the GDI call named beside it, so the Windows desktop passes them
// through. A desktop that keeps its bitmaps as plain pixel buffers (32-bit 0xFFRRGGBB rows,
// as QImage's RGB32) finds the packed-image decoding and encoding it needs in platform/Dib.h.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/AddressSpace.h"
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

    // GetDeviceCaps(BITSPIXEL × PLANES) of the screen: 1, 4, 8, 16, 24 or 32.
    virtual int DisplayBitsPerPixel() = 0;
    // GetDeviceCaps(SIZEPALETTE): 0 on displays without a palette.
    virtual int SystemPaletteSize() = 0;
    // GetSystemPaletteEntries: as many of the entries asked for as there are.
    virtual std::vector<PaletteEntry> SystemPaletteEntries(int start, int count) = 0;

    // CreateBitmap(width, height, 1, 1, null) when monochrome, else
    // CreateCompatibleBitmap(screen DC, width, height); 0 on failure.
    virtual Hbitmap CreateBitmap(int width, int height, bool monochrome) = 0;
    // GetObject on a bitmap; false for anything else.
    virtual bool GetObject(Hbitmap bitmap, BitmapInfo& info) = 0;
    // PatBlt(destination, WHITENESS), then BitBlt(destination, source, SRCCOPY) with the
    // palette (when given) selected and realized into both memory DCs.
    virtual bool CopyBitmap(Hbitmap destination, Hbitmap source, Hpalette palette) = 0;

    // CreatePalette / GetPaletteEntries.
    virtual Hpalette CreatePalette(const std::vector<PaletteEntry>& entries) = 0;
    virtual std::vector<PaletteEntry> GetPaletteEntries(Hpalette palette) = 0;

    // CreateDIBitmap(screen DC, header, CBM_INIT, pixels, header with table, DIB_RGB_COLORS)
    // with the palette (when given) selected and realized: a bitmap compatible with the
    // display. headerAndTable holds a 40- or 12-byte bitmap header, the three colour masks
    // after a 40-byte one that says BI_BITFIELDS, and the colour table; pixels the rows, or the
    // run lengths of BI_RLE8 and BI_RLE4 up to their end mark. Returns 0 on failure, also when
    // the bytes do not hold the image their header describes.
    virtual Hbitmap CreateDIBitmap(const std::uint8_t* headerAndTable, std::size_t headerAndTableSize,
                                   const std::uint8_t* pixels, std::size_t pixelSize,
                                   Hpalette palette) = 0;
    // GetDIBits(DC, bitmap, 0, height, pixels, header, DIB_RGB_COLORS) with the palette (when
    // given) selected and realized: the caller fills the 40-byte header (width, height and bit
    // count of the bitmap, biClrUsed 0) and makes room after it for the colour table of that bit
    // count (4 × 2^bits bytes up to 8 bits, none above) and for the rows (stride × height); this
    // fills the table and the rows.
    virtual bool GetDIBits(Hbitmap bitmap, Hpalette palette, std::uint8_t* headerAndTable, std::uint8_t* pixels) = 0;

    // DeleteObject on a bitmap or palette.
    virtual bool DeleteObject(std::uintptr_t object) = 0;

    // Not a GDI call: a BMP file image of this many bytes is on its way and will be made into a
    // bitmap, so a desktop that keeps its bitmaps in memory of its own may get that memory
    // ready while the bytes arrive. Only a hint.
    virtual void PictureComing(std::size_t /*fileBytes*/) {}

    // Not a GDI call: the rows GetDIBits would write for the bitmap at 24 bits, bottom up, when
    // a desktop made them ahead (while it read another program's picture), in a block of
    // `headroom` bytes and then the rows, the headroom left for the caller to fill. Handed
    // over once; null when there are none for the bitmap as it is now, or with other headroom.
    virtual MallocBytes TakeRowsAhead(Hbitmap /*bitmap*/, std::size_t /*headroom*/) { return {}; }
};

}  // namespace zumelko::platform
