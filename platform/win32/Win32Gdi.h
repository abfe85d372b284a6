#pragma once
// GDI device bitmaps and palettes, passed through; packed images from the network are checked
// against their header before GDI sees them.
#include "platform/Gdi.h"

namespace zumelko::platform::win32 {

class Win32Gdi final : public Gdi {
public:
    // Gdi overrides:
    int DisplayBitsPerPixel() override;
    int SystemPaletteSize() override;
    std::vector<PaletteEntry> SystemPaletteEntries(int start, int count) override;
    Hbitmap CreateBitmap(int width, int height, bool monochrome) override;
    bool GetObject(Hbitmap bitmap, BitmapInfo& info) override;
    bool CopyBitmap(Hbitmap destination, Hbitmap source, Hpalette palette) override;
    Hpalette CreatePalette(const std::vector<PaletteEntry>& entries) override;
    std::vector<PaletteEntry> GetPaletteEntries(Hpalette palette) override;
    Hbitmap CreateDIBitmap(const std::uint8_t* headerAndTable, std::size_t headerAndTableSize,
                           const std::uint8_t* pixels, std::size_t pixelSize, Hpalette palette) override;
    bool GetDIBits(Hbitmap bitmap, Hpalette palette, std::uint8_t* headerAndTable, std::uint8_t* pixels) override;
    bool DeleteObject(std::uintptr_t object) override;
};

}  // namespace zumelko::platform::win32
