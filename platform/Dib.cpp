#include "platform/Dib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <limits>

namespace zumelko::platform::dib {

namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

std::int32_t I32(const std::uint8_t* p) { return static_cast<std::int32_t>(U32(p)); }

void Put32(std::uint8_t* p, std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        // One store instead of four: the compiler does not always merge them.
        std::memcpy(p, &v, sizeof v);
        return;
    }
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

bool KnownBitCount(int b) { return b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32; }

// One channel of a 16- or 32-bit pixel: its mask's place and width, and the channel widened or
// narrowed to 8 bits by repeating its bits, so that full intensity stays full (31 of 5 bits is
// 255, not 248).
struct Channel {
    int shift = 0;
    int bits = 0;
    explicit Channel(std::uint32_t mask) {
        if (mask == 0) return;
        while ((mask & 1u) == 0) {
            mask >>= 1;
            ++shift;
        }
        while ((mask & 1u) != 0) {
            mask >>= 1;
            ++bits;
        }
    }
    std::uint32_t operator()(std::uint32_t pixel) const {
        const std::uint32_t v = (pixel >> shift) & ((bits >= 32 ? 0u : (1u << bits)) - 1u);
        if (bits >= 8) return v >> (bits - 8);
        std::uint32_t r = 0;
        int filled = 0;
        while (filled < 8) {
            r = (r << bits) | v;
            filled += bits;
        }
        return r >> (filled - 8);
    }
};

// A mask that is one unbroken run of bits within the pixel.
bool Contiguous(std::uint32_t mask, int bitCount) {
    if (mask == 0) return false;
    if (bitCount < 32 && (mask >> bitCount) != 0) return false;
    const std::uint32_t low = mask & (~mask + 1u);  // lowest set bit
    const std::uint32_t run = mask + low;           // carries out of the run: 0 or a power of two
    return (run & (run - 1u)) == 0;
}

// Walks run-length data (8 or 4 bits per index) and hands sink(x, row, index) every pixel a run
// writes inside the picture, row counted from the bottom as the data stores them. Returns the
// bytes up to and including the end-of-picture mark, or nullopt when the data runs out first or
// a run would write below the last row. Pixels past a row's right edge are dropped, as they
// fall outside the picture.
template <typename Sink>
std::optional<std::size_t> WalkRunLengths(const Layout& l, const std::uint8_t* p, std::size_t n, Sink&& sink) {
    const bool four = l.compression == kRle4;
    const std::uint64_t width = static_cast<std::uint64_t>(l.width);
    const std::uint64_t height = static_cast<std::uint64_t>(l.height);
    std::uint64_t x = 0, y = 0;  // each step reads at least two bytes, so neither can run away
    std::size_t i = 0;
    auto put = [&](std::uint64_t count, auto indexAt) {
        const std::uint64_t end = x + count < width ? x + count : width;
        for (std::uint64_t k = 0; x + k < end; ++k)
            sink(static_cast<std::size_t>(x + k), static_cast<std::size_t>(y), indexAt(k));
        x += count;
    };
    for (;;) {
        if (n - i < 2) return std::nullopt;
        const unsigned count = p[i], second = p[i + 1];
        i += 2;
        if (count > 0) {  // a run of one index (two alternating ones at 4 bits)
            if (y >= height) return std::nullopt;
            put(count, [&](std::uint64_t k) -> unsigned {
                if (!four) return second;
                return (k & 1u) == 0 ? second >> 4 : second & 15u;
            });
            continue;
        }
        switch (second) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of picture
            return i;
        case 2:  // move right and up
            if (n - i < 2) return std::nullopt;
            x += p[i];
            y += p[i + 1];
            i += 2;
            break;
        default: {  // second indices given one by one, padded to a 16-bit boundary
            const std::size_t bytes = four ? (second + 1u) / 2u : second;
            const std::size_t padded = (bytes + 1u) & ~std::size_t{1};
            if (n - i < padded) return std::nullopt;
            if (y >= height) return std::nullopt;
            const std::uint8_t* literal = p + i;
            put(second, [&](std::uint64_t k) -> unsigned {
                if (!four) return literal[k];
                const unsigned byte = literal[k / 2];
                return (k & 1u) == 0 ? byte >> 4 : byte & 15u;
            });
            i += padded;
            break;
        }
        }
    }
}

// Rows of palette indices: bits per index 1, 4 or 8, most significant first.
template <int Bits>
void DecodeIndexed(const std::array<std::uint32_t, 256>& lut, const std::uint8_t* src, int width,
                   std::uint32_t* dst) {
    constexpr int perByte = 8 / Bits;
    constexpr unsigned mask = (1u << Bits) - 1;
    const int whole = width / perByte;
    for (int i = 0; i < whole; ++i) {
        const unsigned byte = src[i];
        for (int k = 0; k < perByte; ++k) *dst++ = lut[(byte >> (8 - Bits * (k + 1))) & mask];
    }
    const int rest = width - whole * perByte;
    if (rest > 0) {
        const unsigned byte = src[whole];
        for (int k = 0; k < rest; ++k) *dst++ = lut[(byte >> (8 - Bits * (k + 1))) & mask];
    }
}

template <int Bits>
void EncodeIndexed(ColorMatcher& matcher, const std::uint32_t* src, int width, std::uint8_t* dst) {
    constexpr int perByte = 8 / Bits;
    for (int x = 0; x < width; x += perByte) {
        unsigned byte = 0;
        const int n = width - x < perByte ? width - x : perByte;
        for (int k = 0; k < n; ++k) byte |= unsigned{matcher.IndexOf(src[x + k])} << (8 - Bits * (k + 1));
        *dst++ = static_cast<std::uint8_t>(byte);
    }
}

}  // namespace

std::size_t Stride(int width, int bitCount) {
    const std::uint64_t bits = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bitCount);
    return static_cast<std::size_t>((bits + 31) / 32 * 4);
}

std::optional<Layout> ParseHeader(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < 4) return std::nullopt;
    Layout l;
    l.headerSize = U32(data);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    if (l.headerSize == kInfoHeaderSize) {
        if (size < kInfoHeaderSize) return std::nullopt;
        width = I32(data + 4);
        height = I32(data + 8);
        l.planes = U16(data + 12);
        l.bitCount = U16(data + 14);
        compression = U32(data + 16);
        l.sizeImage = U32(data + 20);
        colorsUsed = U32(data + 32);
        l.entrySize = 4;
    } else if (l.headerSize == kCoreHeaderSize) {
        if (size < kCoreHeaderSize) return std::nullopt;
        width = U16(data + 4);
        height = U16(data + 6);
        l.planes = U16(data + 8);
        l.bitCount = U16(data + 10);
        l.entrySize = 3;
    } else {
        return std::nullopt;
    }
    if (l.planes != 1 || !KnownBitCount(l.bitCount)) return std::nullopt;
    l.compression = compression;
    switch (compression) {
    case kRgb: break;
    case kRle8: if (l.bitCount != 8) return std::nullopt; break;
    case kRle4: if (l.bitCount != 4) return std::nullopt; break;
    case kBitfields: if (l.bitCount != 16 && l.bitCount != 32) return std::nullopt; break;
    default: return std::nullopt;
    }
    if (width <= 0 || height == 0) return std::nullopt;
    // Run lengths are laid out from the bottom row up; the system refuses them top-down.
    if (height < 0 && l.RunLength()) return std::nullopt;
    l.topDown = height < 0;
    if (l.topDown) height = -height;  // int64: even INT_MIN negates safely
    if (height > INT_MAX) return std::nullopt;
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxPixels) return std::nullopt;
    l.width = static_cast<int>(width);
    l.height = static_cast<int>(height);

    if (compression == kBitfields) {
        l.maskSize = 12;
        if (size < l.headerSize + l.maskSize) return std::nullopt;
        for (int c = 0; c < 3; ++c) l.masks[c] = U32(data + l.headerSize + 4 * static_cast<std::size_t>(c));
        for (int c = 0; c < 3; ++c)
            if (!Contiguous(l.masks[c], l.bitCount)) return std::nullopt;
        if ((l.masks[0] & l.masks[1]) != 0 || (l.masks[0] & l.masks[2]) != 0 || (l.masks[1] & l.masks[2]) != 0)
            return std::nullopt;
    } else if (l.bitCount == 16) {
        l.masks[0] = 0x7C00u, l.masks[1] = 0x03E0u, l.masks[2] = 0x001Fu;
    } else if (l.bitCount == 32) {
        l.masks[0] = 0xFF0000u, l.masks[1] = 0x00FF00u, l.masks[2] = 0x0000FFu;
    }

    const std::size_t indexable = l.bitCount <= 8 ? std::size_t{1} << l.bitCount : 0;
    l.colorCount = colorsUsed != 0 ? colorsUsed : indexable;
    if (l.colorCount > kMaxColors) return std::nullopt;
    if (l.bitCount <= 8 && l.colorCount > indexable) return std::nullopt;
    if (size < l.TableEnd()) return std::nullopt;

    l.stride = Stride(l.width, l.bitCount);
    l.imageSize = l.stride * static_cast<std::size_t>(l.height);  // bounded by kMaxPixels × 4 + 4 × height
    // biSizeImage of run lengths counts the compressed bytes.
    if (!l.RunLength() && l.sizeImage != 0 && l.sizeImage < l.imageSize) return std::nullopt;
    return l;
}

std::optional<std::size_t> PixelBytes(const Layout& layout, const std::uint8_t* pixels, std::size_t available) {
    if (!layout.RunLength()) {
        if (available < layout.imageSize) return std::nullopt;
        return layout.imageSize;
    }
    if (pixels == nullptr) return std::nullopt;
    if (layout.sizeImage != 0 && layout.sizeImage < available) available = layout.sizeImage;
    return WalkRunLengths(layout, pixels, available, [](std::size_t, std::size_t, unsigned) {});
}

std::vector<PaletteEntry> ColorTable(const Layout& layout, const std::uint8_t* headerAndTable) {
    std::vector<PaletteEntry> table(layout.colorCount);
    const std::uint8_t* p = headerAndTable + layout.TableOffset();
    for (auto& e : table) {
        e.blue = p[0];
        e.green = p[1];
        e.red = p[2];
        p += layout.entrySize;
    }
    return table;
}

namespace {

std::array<std::uint32_t, 256> Lookup(const std::vector<PaletteEntry>& table) {
    std::array<std::uint32_t, 256> lut;
    lut.fill(0xFF000000u);
    for (std::size_t i = 0; i < table.size() && i < lut.size(); ++i) lut[i] = Rgb(table[i]);
    return lut;
}

}  // namespace

void DecodeRowRange(const Layout& l, const std::vector<PaletteEntry>& table, const std::uint8_t* pixels, int first,
                    int last, std::uint32_t* out, std::size_t outStride) {
    const std::array<std::uint32_t, 256> lut = Lookup(table);
    const Channel red(l.masks[0]), green(l.masks[1]), blue(l.masks[2]);
    const bool plain32 = l.masks[0] == 0xFF0000u && l.masks[1] == 0xFF00u && l.masks[2] == 0xFFu;
    for (int y = first; y < last; ++y) {
        const int row = l.topDown ? y : l.height - 1 - y;
        const std::uint8_t* src = pixels + static_cast<std::size_t>(row) * l.stride;
        std::uint32_t* dst = out + static_cast<std::size_t>(y) * outStride;
        switch (l.bitCount) {
        case 1: DecodeIndexed<1>(lut, src, l.width, dst); break;
        case 4: DecodeIndexed<4>(lut, src, l.width, dst); break;
        case 8: DecodeIndexed<8>(lut, src, l.width, dst); break;
        case 16:
            for (int x = 0; x < l.width; ++x, src += 2) {
                const std::uint32_t v = U16(src);
                dst[x] = 0xFF000000u | (red(v) << 16) | (green(v) << 8) | blue(v);
            }
            break;
        case 24: {
            // Four pixels from three words at a time: a 4K picture is 8 million of them.
            int x = 0;
            for (; x + 4 <= l.width; x += 4, src += 12) {
                const std::uint32_t a = U32(src), b = U32(src + 4), c = U32(src + 8);
                dst[x] = 0xFF000000u | (a & 0xFFFFFFu);
                dst[x + 1] = 0xFF000000u | (a >> 24) | ((b & 0xFFFFu) << 8);
                dst[x + 2] = 0xFF000000u | (b >> 16) | ((c & 0xFFu) << 16);
                dst[x + 3] = 0xFF000000u | (c >> 8);
            }
            for (; x < l.width; ++x, src += 3)
                dst[x] = 0xFF000000u | (std::uint32_t{src[2]} << 16) | (std::uint32_t{src[1]} << 8) | src[0];
            break;
        }
        case 32:
            if (plain32) {
                for (int x = 0; x < l.width; ++x, src += 4)
                    dst[x] = 0xFF000000u | (std::uint32_t{src[2]} << 16) | (std::uint32_t{src[1]} << 8) | src[0];
            } else {
                for (int x = 0; x < l.width; ++x, src += 4) {
                    const std::uint32_t v = U32(src);
                    dst[x] = 0xFF000000u | (red(v) << 16) | (green(v) << 8) | blue(v);
                }
            }
            break;
        default: break;
        }
    }
}

bool DecodeRows(const Layout& l, const std::vector<PaletteEntry>& table, const std::uint8_t* pixels, std::size_t size,
                std::uint32_t* out, std::size_t outStride) {
    if (pixels == nullptr) return false;
    if (!l.RunLength()) {
        if (size < l.imageSize) return false;
        DecodeRowRange(l, table, pixels, 0, l.height, out, outStride);
        return true;
    }
    const std::array<std::uint32_t, 256> lut = Lookup(table);
    for (int y = 0; y < l.height; ++y) {
        std::uint32_t* row = out + static_cast<std::size_t>(y) * outStride;
        std::fill(row, row + l.width, lut[0]);
    }
    if (l.sizeImage != 0 && l.sizeImage < size) size = l.sizeImage;
    const auto height = static_cast<std::size_t>(l.height);
    return WalkRunLengths(l, pixels, size, [&](std::size_t x, std::size_t fromBottom, unsigned index) {
               out[(height - 1 - fromBottom) * outStride + x] = lut[index];
           }).has_value();
}

ColorMatcher::ColorMatcher(const std::vector<PaletteEntry>& table) {
    const std::size_t n = table.size() < 256 ? table.size() : 256;
    colors_.reserve(n == 0 ? 1 : n);
    for (std::size_t i = 0; i < n; ++i) {
        colors_.push_back(Rgb(table[i]));
        exact_.emplace(colors_.back() & 0xFFFFFFu, static_cast<std::uint8_t>(i));  // first entry wins
    }
    if (colors_.empty()) colors_.push_back(0xFF000000u);
    nearestByBucket_.assign(std::size_t{1} << 15, -1);
}

std::uint8_t ColorMatcher::Nearest(std::uint32_t rgb) const {
    const int r = static_cast<int>((rgb >> 16) & 0xFF), g = static_cast<int>((rgb >> 8) & 0xFF),
              b = static_cast<int>(rgb & 0xFF);
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < colors_.size(); ++i) {
        const int dr = r - static_cast<int>((colors_[i] >> 16) & 0xFF);
        const int dg = g - static_cast<int>((colors_[i] >> 8) & 0xFF);
        const int db = b - static_cast<int>(colors_[i] & 0xFF);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return static_cast<std::uint8_t>(best);
}

std::uint8_t ColorMatcher::IndexOf(std::uint32_t rgb) {
    rgb &= 0xFFFFFFu;
    // Pictures come in runs of one colour: the last answer is the likeliest.
    if (haveLast_ && rgb == lastColor_) return lastIndex_;
    std::uint8_t index;
    if (auto it = exact_.find(rgb); it != exact_.end()) {
        index = it->second;
    } else {
        // Colours not in the table share one answer per 15-bit bucket, so a photograph with
        // millions of colours costs one table search per bucket at most.
        const std::uint32_t bucket = ((rgb >> 9) & 0x7C00u) | ((rgb >> 6) & 0x3E0u) | ((rgb >> 3) & 0x1Fu);
        std::int16_t& known = nearestByBucket_[bucket];
        if (known < 0) {
            const std::uint32_t centre = ((bucket & 0x7C00u) << 9) | ((bucket & 0x3E0u) << 6) |
                                         ((bucket & 0x1Fu) << 3) | 0x040404u;
            known = Nearest(centre);
        }
        index = static_cast<std::uint8_t>(known);
    }
    lastColor_ = rgb;
    lastIndex_ = index;
    haveLast_ = true;
    return index;
}

void EncodeRows(int bitCount, int width, int height, const std::uint32_t* in, std::size_t inStride,
                const std::vector<PaletteEntry>& table, std::uint8_t* pixels) {
    const std::size_t stride = Stride(width, bitCount);
    std::optional<ColorMatcher> matcher;
    if (bitCount <= 8) matcher.emplace(table);
    for (int row = 0; row < height; ++row) {
        const std::uint32_t* src = in + static_cast<std::size_t>(height - 1 - row) * inStride;
        std::uint8_t* dst = pixels + static_cast<std::size_t>(row) * stride;
        std::memset(dst, 0, stride);
        switch (bitCount) {
        case 1: EncodeIndexed<1>(*matcher, src, width, dst); break;
        case 4: EncodeIndexed<4>(*matcher, src, width, dst); break;
        case 8: EncodeIndexed<8>(*matcher, src, width, dst); break;
        case 24: EncodeRow24(src, width, dst); break;
        default: break;
        }
    }
}

void EncodeRow24(const std::uint32_t* in, int width, std::uint8_t* out) {
    // Four pixels into three words at a time, as they are decoded.
    int x = 0;
    for (; x + 4 <= width; x += 4, out += 12) {
        const std::uint32_t p0 = in[x], p1 = in[x + 1], p2 = in[x + 2], p3 = in[x + 3];
        Put32(out, (p0 & 0xFFFFFFu) | (p1 << 24));
        Put32(out + 4, ((p1 >> 8) & 0xFFFFu) | (p2 << 16));
        Put32(out + 8, ((p2 >> 16) & 0xFFu) | (p3 << 8));
    }
    for (; x < width; ++x, out += 3) {
        const std::uint32_t c = in[x];
        out[0] = static_cast<std::uint8_t>(c);
        out[1] = static_cast<std::uint8_t>(c >> 8);
        out[2] = static_cast<std::uint8_t>(c >> 16);
    }
}

void WriteColorTable(const std::vector<PaletteEntry>& table, std::uint8_t* out) {
    for (const auto& e : table) {
        *out++ = e.blue;
        *out++ = e.green;
        *out++ = e.red;
        *out++ = 0;
    }
}

}  // namespace zumelko::platform::dib
