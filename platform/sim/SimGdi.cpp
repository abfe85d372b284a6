#include "platform/sim/SimGdi.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "platform/Dib.h"

namespace zumelko::platform::sim {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
constexpr std::uint32_t kBlack = 0xFF000000u;

PaletteEntry Entry(std::uint32_t rgb) {
    return {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8), static_cast<std::uint8_t>(rgb), 0};
}

// The sixteen colours of a 4-bit display, in the order such displays keep them; they are also
// the first and last eight of the 256 of an 8-bit one.
const std::vector<PaletteEntry>& Vga16() {
    static const std::vector<PaletteEntry> colors = [] {
        std::vector<PaletteEntry> v;
        for (std::uint32_t c : {0x000000u, 0x800000u, 0x008000u, 0x808000u, 0x000080u, 0x800080u, 0x008080u, 0xC0C0C0u,
                                0x808080u, 0xFF0000u, 0x00FF00u, 0xFFFF00u, 0x0000FFu, 0xFF00FFu, 0x00FFFFu, 0xFFFFFFu})
            v.push_back(Entry(c));
        return v;
    }();
    return colors;
}

// 256 colours: ten fixed colours at each end (the sixteen above plus four pastels), a 6 × 6 × 6
// colour cube and a grey ramp between them.
const std::vector<PaletteEntry>& System256() {
    static const std::vector<PaletteEntry> colors = [] {
        const auto& vga = Vga16();
        std::vector<PaletteEntry> v(vga.begin(), vga.begin() + 8);
        v.push_back(Entry(0xC0DCC0u));
        v.push_back(Entry(0xA6CAF0u));
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    v.push_back({static_cast<std::uint8_t>(r * 51), static_cast<std::uint8_t>(g * 51),
                                 static_cast<std::uint8_t>(b * 51), 0});
        for (int i = 1; i <= 20; ++i) {
            const auto grey = static_cast<std::uint8_t>(i * 12);
            v.push_back({grey, grey, grey, 0});
        }
        v.push_back(Entry(0xFFFBF0u));
        v.push_back(Entry(0xA0A0A4u));
        v.insert(v.end(), vga.begin() + 8, vga.end());
        return v;
    }();
    return colors;
}

std::uint32_t To555(std::uint32_t c) {
    auto ch = [c](int shift) {
        const std::uint32_t v = (c >> (shift + 3)) & 31u;
        return ((v << 3) | (v >> 2)) << shift;
    };
    return 0xFF000000u | ch(16) | ch(8) | ch(0);
}

}  // namespace

SimGdi::SimGdi() : pixelLimit_(dib::kMaxPixels) {}

std::vector<PaletteEntry> SimGdi::SystemPalette(int displayBits) {
    switch (displayBits) {
    case 1: return {Entry(0x000000u), Entry(0xFFFFFFu)};
    case 4: return Vga16();
    case 8: return System256();
    default: return {};
    }
}

int SimGdi::SystemPaletteSize() { return static_cast<int>(SystemPalette(displayBits_).size()); }

std::vector<PaletteEntry> SimGdi::SystemPaletteEntries(int start, int count) {
    const auto all = SystemPalette(displayBits_);
    if (start < 0 || count <= 0 || static_cast<std::size_t>(start) >= all.size()) return {};
    const std::size_t end = std::min(all.size(), static_cast<std::size_t>(start) + static_cast<std::size_t>(count));
    return {all.begin() + start, all.begin() + static_cast<std::ptrdiff_t>(end)};
}

void SimGdi::SetDisplayBitsPerPixel(int bits) { displayBits_ = bits; }

std::uintptr_t SimGdi::Add(Object object) {
    const std::uintptr_t h = next_++;
    objects_.emplace(h, std::move(object));
    return h;
}

SimGdi::Bitmap* SimGdi::FindBitmap(std::uintptr_t handle) {
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : std::get_if<Bitmap>(&it->second);
}

const SimGdi::Bitmap* SimGdi::FindBitmap(std::uintptr_t handle) const {
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : std::get_if<Bitmap>(&it->second);
}

const SimGdi::Palette* SimGdi::FindPalette(std::uintptr_t handle) const {
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : std::get_if<Palette>(&it->second);
}

bool SimGdi::IsBitmap(std::uintptr_t handle) const { return FindBitmap(handle) != nullptr; }
bool SimGdi::IsPalette(std::uintptr_t handle) const { return FindPalette(handle) != nullptr; }

std::vector<PaletteEntry> SimGdi::RealizedColors(int bits, Hpalette palette) const {
    if (bits != 8) return SystemPalette(bits);
    // A realized logical palette takes the first entries; the rest keep the system's colours.
    std::vector<PaletteEntry> colors = System256();
    if (const Palette* p = FindPalette(palette)) {
        const std::size_t n = std::min<std::size_t>(p->entries.size(), colors.size());
        for (std::size_t i = 0; i < n; ++i) colors[i] = {p->entries[i].red, p->entries[i].green, p->entries[i].blue, 0};
    }
    return colors;
}

void SimGdi::Reduce(std::uint32_t* pixels, std::size_t width, std::size_t rows, std::size_t stride, int bits,
                    Hpalette palette, bool blit) const {
    if (bits >= 24) return;
    std::optional<dib::ColorMatcher> matcher;
    if (bits <= 8 && !(bits == 1 && blit)) matcher.emplace(RealizedColors(bits, palette));
    for (std::size_t y = 0; y < rows; ++y) {
        std::uint32_t* row = pixels + y * stride;
        if (bits == 16) {
            for (std::size_t x = 0; x < width; ++x) row[x] = To555(row[x]);
        } else if (matcher) {
            for (std::size_t x = 0; x < width; ++x) row[x] = matcher->Match(row[x]);
        } else {
            for (std::size_t x = 0; x < width; ++x) row[x] = row[x] == kWhite ? kWhite : kBlack;
        }
    }
}

Hbitmap SimGdi::CreateBitmap(int width, int height, bool monochrome) {
    if (width <= 0 || height <= 0) return 0;
    const std::uint64_t n = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (n > pixelLimit_) return 0;
    try {
        Bitmap b{width, height, monochrome ? 1 : displayBits_, {}};
        b.pixels.assign(static_cast<std::size_t>(n), kBlack);
        return Add(std::move(b));
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

bool SimGdi::GetObject(Hbitmap bitmap, BitmapInfo& info) {
    const Bitmap* b = FindBitmap(bitmap);
    if (b == nullptr) return false;
    info = {b->width, b->height, 1, b->bitsPerPixel};
    return true;
}

bool SimGdi::CopyBitmap(Hbitmap destination, Hbitmap source, Hpalette palette) {
    Bitmap* dst = FindBitmap(destination);
    const Bitmap* src = FindBitmap(source);
    if (dst == nullptr || src == nullptr) return false;
    const int w = std::min(dst->width, src->width);
    const int h = std::min(dst->height, src->height);
    // Only what the source leaves uncovered stays white.
    if (w < dst->width || h < dst->height) std::fill(dst->pixels.begin(), dst->pixels.end(), kWhite);
    const auto dstStride = static_cast<std::size_t>(dst->width);
    const auto srcStride = static_cast<std::size_t>(src->width);
    for (int y = 0; y < h; ++y)
        std::memcpy(dst->pixels.data() + static_cast<std::size_t>(y) * dstStride,
                    src->pixels.data() + static_cast<std::size_t>(y) * srcStride,
                    static_cast<std::size_t>(w) * sizeof(std::uint32_t));
    // Pixels of a bitmap of the same depth already are what the destination can show.
    if (dst->bitsPerPixel != src->bitsPerPixel || (dst->bitsPerPixel == 8 && palette != 0))
        Reduce(dst->pixels.data(), static_cast<std::size_t>(w), static_cast<std::size_t>(h), dstStride,
               dst->bitsPerPixel, palette, true);
    return true;
}

Hpalette SimGdi::CreatePalette(const std::vector<PaletteEntry>& entries) {
    if (entries.empty()) return 0;
    return Add(Palette{entries});
}

std::vector<PaletteEntry> SimGdi::GetPaletteEntries(Hpalette palette) {
    const Palette* p = FindPalette(palette);
    return p == nullptr ? std::vector<PaletteEntry>{} : p->entries;
}

Hbitmap SimGdi::CreateDIBitmap(const std::uint8_t* headerAndTable, std::size_t headerAndTableSize,
                               const std::uint8_t* pixels, std::size_t pixelSize, Hpalette palette) {
    const auto layout = dib::ParseHeader(headerAndTable, headerAndTableSize);
    if (!layout || !dib::PixelBytes(*layout, pixels, pixelSize)) return 0;
    const Hbitmap h = CreateBitmap(layout->width, layout->height, displayBits_ == 1);
    if (h == 0) return 0;
    Bitmap& b = *FindBitmap(h);
    if (!dib::DecodeRows(*layout, dib::ColorTable(*layout, headerAndTable), pixels, pixelSize, b.pixels.data(),
                         static_cast<std::size_t>(b.width))) {
        DeleteObject(h);
        return 0;
    }
    Reduce(b.pixels.data(), b.pixels.size(), 1, 0, b.bitsPerPixel, palette, false);
    return h;
}

bool SimGdi::GetDIBits(Hbitmap bitmap, Hpalette palette, std::uint8_t* headerAndTable, std::uint8_t* pixels) {
    const Bitmap* b = FindBitmap(bitmap);
    if (b == nullptr || headerAndTable == nullptr || pixels == nullptr) return false;
    // Only the form the program asks for: a 40-byte header without a colour count, followed by
    // room for the full table of its bit count.
    const std::uint8_t* h = headerAndTable;
    const int bits = h[14] | (h[15] << 8);
    const bool infoHeader = h[0] == dib::kInfoHeaderSize && h[1] == 0 && h[2] == 0 && h[3] == 0;
    const bool noColorCount = h[32] == 0 && h[33] == 0 && h[34] == 0 && h[35] == 0;
    if (!infoHeader || !noColorCount || (bits != 1 && bits != 4 && bits != 8 && bits != 24)) return false;
    const std::size_t tableSize = bits <= 8 ? std::size_t{4} << bits : 0;
    const auto layout = dib::ParseHeader(headerAndTable, dib::kInfoHeaderSize + tableSize);
    if (!layout || layout->topDown || layout->width != b->width || layout->height != b->height) return false;
    std::vector<PaletteEntry> table;
    if (bits <= 8) {
        // The colours realized for that depth (black and white for one bit): 2^bits of them.
        table = RealizedColors(bits, palette);
        dib::WriteColorTable(table, headerAndTable + layout->headerSize);
    }
    dib::EncodeRows(bits, b->width, b->height, b->pixels.data(), static_cast<std::size_t>(b->width), table, pixels);
    return true;
}

bool SimGdi::DeleteObject(std::uintptr_t object) { return objects_.erase(object) != 0; }

bool SimGdi::SetPixels(Hbitmap bitmap, const std::vector<std::uint32_t>& rgb, Hpalette palette) {
    Bitmap* b = FindBitmap(bitmap);
    if (b == nullptr || rgb.size() != b->pixels.size()) return false;
    for (std::size_t i = 0; i < rgb.size(); ++i) b->pixels[i] = 0xFF000000u | rgb[i];
    Reduce(b->pixels.data(), b->pixels.size(), 1, 0, b->bitsPerPixel, palette, false);
    return true;
}

std::vector<std::uint32_t> SimGdi::Pixels(Hbitmap bitmap) const {
    const Bitmap* b = FindBitmap(bitmap);
    if (b == nullptr) return {};
    std::vector<std::uint32_t> out(b->pixels.size());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = b->pixels[i] & 0xFFFFFFu;
    return out;
}

}  // namespace zumelko::platform::sim
