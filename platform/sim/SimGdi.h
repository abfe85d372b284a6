#pragma once
// The simulated display: device bitmaps kept as pixel buffers at the depth the test chooses,
// palettes, and a system palette as a palette display has one. Colours are reduced to what a
// bitmap of its depth can show whenever pixels are drawn into it (555 at 16 bits, the realized
// palette at 8 bits and below, black and white in monochrome), so what comes back out is what
// a real display would give.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <variant>
#include <vector>

#include "platform/Gdi.h"

namespace zumelko::platform::sim {

class SimGdi final : public Gdi {
public:
    SimGdi();
    SimGdi(const SimGdi&) = delete;
    SimGdi& operator=(const SimGdi&) = delete;

    int DisplayBitsPerPixel() override { return displayBits_; }
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

    // Test hooks.
    // The display's depth: 1, 4, 8, 16, 24 or 32. Bitmaps made before keep theirs.
    void SetDisplayBitsPerPixel(int bits);
    // Bitmaps of more pixels than this cannot be created (as when the system runs short).
    void SetBitmapPixelLimit(std::uint64_t pixels) { pixelLimit_ = pixels; }
    // Another program draws into a bitmap: pixels 0xRRGGBB, top row first, width × height of
    // them, reduced to what the bitmap can show.
    bool SetPixels(Hbitmap bitmap, const std::vector<std::uint32_t>& rgb, Hpalette palette = 0);
    // The bitmap's pixels, 0xRRGGBB, top row first (empty for no bitmap).
    std::vector<std::uint32_t> Pixels(Hbitmap bitmap) const;
    bool IsBitmap(std::uintptr_t handle) const;
    bool IsPalette(std::uintptr_t handle) const;
    // Bitmaps and palettes created and not yet deleted.
    std::size_t LiveObjects() const { return objects_.size(); }

    // The whole system palette of a display of the given depth (empty above 8 bits).
    static std::vector<PaletteEntry> SystemPalette(int displayBits);

private:
    struct Bitmap {
        int width = 0;
        int height = 0;
        int bitsPerPixel = 0;
        std::vector<std::uint32_t> pixels;  // 0xFFRRGGBB, top row first
    };
    struct Palette {
        std::vector<PaletteEntry> entries;
    };
    using Object = std::variant<Bitmap, Palette>;

    Bitmap* FindBitmap(std::uintptr_t handle);
    const Bitmap* FindBitmap(std::uintptr_t handle) const;
    const Palette* FindPalette(std::uintptr_t handle) const;
    std::uintptr_t Add(Object object);
    // The colours an indexed bitmap of this many bits shows, with the palette realized.
    std::vector<PaletteEntry> RealizedColors(int bits, Hpalette palette) const;
    // Reduces rows of width pixels, stride apart, to what a bitmap of the given depth can hold.
    // A copy onto a monochrome bitmap keeps white and turns every other colour black, as
    // BitBlt does.
    void Reduce(std::uint32_t* pixels, std::size_t width, std::size_t rows, std::size_t stride, int bits,
                Hpalette palette, bool blit) const;

    std::unordered_map<std::uintptr_t, Object> objects_;
    std::uintptr_t next_ = 0x20000;
    int displayBits_ = 32;
    std::uint64_t pixelLimit_;
};

}  // namespace zumelko::platform::sim
