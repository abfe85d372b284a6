#pragma once
// Packed device-independent images: a 40-byte Windows or 12-byte core bitmap header, its colour
// table and the pixel rows, as they follow the file header in a BMP file. Every desktop that
// keeps its bitmaps as pixel buffers (32-bit 0xFFRRGGBB, top row first, as QImage's RGB32)
// reads and writes them through these, so they are decoded alike everywhere and checked once
// against whatever bytes a peer sends.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/Gdi.h"

namespace zumelko::platform::dib {

constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kCoreHeaderSize = 12;
// A colour table longer than a 16-bit byte count can hold is refused.
constexpr std::size_t kMaxColors = 65535 / 4;
// The largest picture accepted, in pixels (a 12000 × 11000 picture fits). Beyond it a few
// header bytes could ask for gigabytes of device bitmap.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 27;

struct Layout {
    std::size_t headerSize = 0;  // kInfoHeaderSize or kCoreHeaderSize
    int width = 0;
    int height = 0;              // number of rows, always positive
    bool topDown = false;        // the header gave a negative height
    int planes = 1;
    int bitCount = 0;            // 1, 4, 8, 16, 24 or 32
    std::size_t colorCount = 0;  // entries in the colour table
    std::size_t entrySize = 4;   // blue, green, red, 0; the core header's entries have 3 bytes
    std::size_t sizeImage = 0;   // biSizeImage as given (0: not given)
    std::size_t stride = 0;      // bytes per row, padded to 4
    std::size_t imageSize = 0;   // stride × height

    std::size_t TableSize() const { return colorCount * entrySize; }
    std::size_t TableEnd() const { return headerSize + TableSize(); }
    bool Monochrome() const { return planes == 1 && bitCount == 1; }
};

// ((width × bitCount + 31) div 32) × 4.
std::size_t Stride(int width, int bitCount);

// Reads and checks the header at the front of data and that its colour table follows in full.
// Refuses (nullopt) any other header size, planes other than 1, bit counts other than 1, 4, 8,
// 16, 24 and 32, compression, a zero or negative width, a zero height, more colours than the
// bit count can index or than kMaxColors, more than kMaxPixels, and a biSizeImage smaller than
// the rows. Whether the pixel rows are all there is the caller's to check against imageSize.
std::optional<Layout> ParseHeader(const std::uint8_t* data, std::size_t size);

// The colour table of a checked header (red, green, blue of each entry, flags 0).
std::vector<PaletteEntry> ColorTable(const Layout& layout, const std::uint8_t* headerAndTable);

// Decodes imageSize bytes of rows (in the header's order) into width × height pixels,
// 0xFFRRGGBB, top row first, rows outStride pixels apart. Indices past the table are black.
void DecodeRows(const Layout& layout, const std::vector<PaletteEntry>& table, const std::uint8_t* pixels,
                std::uint32_t* out, std::size_t outStride);

// Maps colours to an entry of a table of at most 256: a colour in the table to its own entry,
// any other to the nearest one.
class ColorMatcher {
public:
    explicit ColorMatcher(const std::vector<PaletteEntry>& table);
    std::uint8_t IndexOf(std::uint32_t rgb);
    std::uint32_t ColorAt(std::uint8_t index) const { return colors_[index]; }
    // The table colour a colour becomes.
    std::uint32_t Match(std::uint32_t rgb) { return colors_[IndexOf(rgb)]; }

private:
    std::uint8_t Nearest(std::uint32_t rgb) const;

    std::vector<std::uint32_t> colors_;  // 0xFFRRGGBB
    std::unordered_map<std::uint32_t, std::uint8_t> exact_;
    std::vector<std::int16_t> nearestByBucket_;  // by 5 bits of each channel; -1: not yet known
    std::uint32_t lastColor_ = 0;
    std::uint8_t lastIndex_ = 0;
    bool haveLast_ = false;
};

// Encodes width × height pixels (top row first, rows inStride pixels apart) as bottom-up rows
// of bitCount 1, 4, 8 (indices into table, which must have 2^bitCount entries) or 24, padded
// with zeros. pixels must hold Stride(width, bitCount) × height bytes.
void EncodeRows(int bitCount, int width, int height, const std::uint32_t* in, std::size_t inStride,
                const std::vector<PaletteEntry>& table, std::uint8_t* pixels);

// Writes table as 4-byte entries (blue, green, red, 0).
void WriteColorTable(const std::vector<PaletteEntry>& table, std::uint8_t* out);

inline std::uint32_t Rgb(const PaletteEntry& e) {
    return 0xFF000000u | (std::uint32_t{e.red} << 16) | (std::uint32_t{e.green} << 8) | e.blue;
}

}  // namespace zumelko::platform::dib
