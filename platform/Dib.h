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

// biCompression values a 40-byte header may carry.
enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3 };

struct Layout {
    std::size_t headerSize = 0;  // kInfoHeaderSize or kCoreHeaderSize
    int width = 0;
    int height = 0;              // number of rows, always positive
    bool topDown = false;        // the header gave a negative height
    int planes = 1;
    int bitCount = 0;            // 1, 4, 8, 16, 24 or 32
    std::uint32_t compression = kRgb;  // kRle8 with 8 bits, kRle4 with 4, kBitfields with 16 or 32
    // Where red, green and blue sit in a 16- or 32-bit pixel: the three masks that follow the
    // header for kBitfields, else 5-5-5 for 16 bits and 8-8-8 for 32.
    std::uint32_t masks[3] = {0, 0, 0};
    std::size_t maskSize = 0;    // 12 when the masks follow the header, else 0
    std::size_t colorCount = 0;  // entries in the colour table
    std::size_t entrySize = 4;   // blue, green, red, 0; the core header's entries have 3 bytes
    std::size_t sizeImage = 0;   // biSizeImage as given (0: not given)
    std::size_t stride = 0;      // bytes per row, padded to 4
    std::size_t imageSize = 0;   // stride × height: the rows uncompressed

    std::size_t TableSize() const { return colorCount * entrySize; }
    std::size_t TableOffset() const { return headerSize + maskSize; }
    // Header, masks and colour table: where the pixel data begins.
    std::size_t TableEnd() const { return TableOffset() + TableSize(); }
    bool Monochrome() const { return planes == 1 && bitCount == 1; }
    bool RunLength() const { return compression == kRle8 || compression == kRle4; }
};

// ((width × bitCount + 31) div 32) × 4.
std::size_t Stride(int width, int bitCount);

// Reads and checks the header at the front of data and that its masks and colour table follow
// in full. Refuses (nullopt) any other header size, planes other than 1, bit counts other than
// 1, 4, 8, 16, 24 and 32, compression other than run lengths at 8 and 4 bits and masks at 16 and
// 32 bits, masks that are empty, broken up or overlapping, run lengths in top-down rows, a zero
// or negative width, a zero height, more colours than the bit count can index or than
// kMaxColors, more than kMaxPixels, and for uncompressed rows a biSizeImage smaller than them.
// Whether the pixel data is all there is the caller's to check with PixelBytes.
std::optional<Layout> ParseHeader(const std::uint8_t* data, std::size_t size);

// How many of the available bytes the pixel data of a checked header takes: imageSize for
// uncompressed rows; for run lengths the bytes up to and including the end-of-picture mark
// (within biSizeImage when it is given). nullopt when they are not all there, or when a run
// would land below the last row or the end-of-picture mark never comes.
std::optional<std::size_t> PixelBytes(const Layout& layout, const std::uint8_t* pixels, std::size_t available);

// The colour table of a checked header (red, green, blue of each entry, flags 0).
std::vector<PaletteEntry> ColorTable(const Layout& layout, const std::uint8_t* headerAndTable);

// Decodes the pixel data (size bytes, in the header's order and form) into width × height
// pixels, 0xFFRRGGBB, top row first, rows outStride pixels apart. Indices past the table are
// black; pixels that run lengths skip (end of line, moves) take the first colour of the table,
// as other readers show them, and those past a row's right edge are dropped. false, with out
// left unspecified, when PixelBytes would refuse the data.
bool DecodeRows(const Layout& layout, const std::vector<PaletteEntry>& table, const std::uint8_t* pixels,
                std::size_t size, std::uint32_t* out, std::size_t outStride);
// The same for the rows of uncompressed data from first up to but not including last (top row
// 0), so that parts of a large picture can be decoded apart.
void DecodeRowRange(const Layout& layout, const std::vector<PaletteEntry>& table, const std::uint8_t* pixels,
                    int first, int last, std::uint32_t* out, std::size_t outStride);

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

// One row of width pixels 0x..RRGGBB as 24-bit blue, green, red triples (width × 3 bytes, no
// padding).
void EncodeRow24(const std::uint32_t* in, int width, std::uint8_t* out);

// Writes table as 4-byte entries (blue, green, red, 0).
void WriteColorTable(const std::vector<PaletteEntry>& table, std::uint8_t* out);

inline std::uint32_t Rgb(const PaletteEntry& e) {
    return 0xFF000000u | (std::uint32_t{e.red} << 16) | (std::uint32_t{e.green} << 8) | e.blue;
}

}  // namespace zumelko::platform::dib
