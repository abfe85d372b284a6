#pragma once
#include "platform/Gdi.h"

namespace zumelko::platform::sim {

// Not built yet: a display without bitmaps.
class SimGdi final : public Gdi {
public:
    int DisplayBitsPerPixel() override { return 32; }
    int SystemPaletteSize() override { return 0; }
    std::vector<PaletteEntry> SystemPaletteEntries(int, int) override { return {}; }
    Hbitmap CreateBitmap(int, int, bool) override { return 0; }
    bool GetObject(Hbitmap, BitmapInfo&) override { return false; }
    bool CopyBitmap(Hbitmap, Hbitmap, Hpalette) override { return false; }
    Hpalette CreatePalette(const std::vector<PaletteEntry>&) override { return 0; }
    std::vector<PaletteEntry> GetPaletteEntries(Hpalette) override { return {}; }
    Hbitmap CreateDIBitmap(const std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t, Hpalette) override { return 0; }
    bool GetDIBits(Hbitmap, Hpalette, std::uint8_t*, std::uint8_t*) override { return false; }
    bool DeleteObject(std::uintptr_t) override { return false; }
};

}  // namespace zumelko::platform::sim
