#pragma once
// BMP file images as a peer may send them, each check of the picture reader alone: every
// refused image has a twin that is taken and differs from it in one field, everything else
// (table, rows, sizes) made to fit, so that each refusal comes from the one check it is named
// after. Written here byte by byte, without the program's code; every desktop runs the table.
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "desktop/BitmapImage.h"
#include "platform/Dib.h"

namespace zumelko::picturecases {

using Bytes = std::vector<std::uint8_t>;

// The fields of a BMP file image; the table and the rows are as many bytes as asked.
struct PictureFields {
    std::uint32_t headerSize = 40;
    std::int64_t width = 5;
    std::int64_t height = 3;
    std::uint16_t planes = 1;
    std::uint16_t bits = 8;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::uint32_t colorsUsed = 15;
    std::vector<std::uint32_t> masks;  // written after the 40-byte header when given
    std::size_t tableEntries = 15;
    std::size_t rowBytes = 8 * 3;        // bytes after the table
    Bytes rows;                          // when given, these instead of rowBytes zeros
    char second = 'M';

    // Rows of uncompressed pixels of this width, height and bit count.
    static std::size_t RowsOf(std::int64_t width, std::int64_t height, int bits) {
        return static_cast<std::size_t>((width * bits + 31) / 32 * 4 * (height < 0 ? -height : height));
    }
    Bytes Build() const {
        Bytes b;
        auto put = [&b](std::uint64_t v, int n) {
            for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        };
        const bool core = headerSize == 12;
        const std::size_t entry = core ? 3 : 4;
        const std::size_t body = headerSize + 4 * masks.size() + entry * tableEntries;
        b.push_back('B');
        b.push_back(static_cast<std::uint8_t>(second));
        put(14 + body + (rows.empty() ? rowBytes : rows.size()), 4);
        put(0, 4);
        put(14 + body, 4);
        put(headerSize, 4);
        if (core) {
            put(static_cast<std::uint64_t>(width), 2);
            put(static_cast<std::uint64_t>(height), 2);
            put(planes, 2);
            put(bits, 2);
        } else {
            put(static_cast<std::uint64_t>(width), 4);
            put(static_cast<std::uint64_t>(height), 4);
            put(planes, 2);
            put(bits, 2);
            put(compression, 4);
            put(sizeImage, 4);
            put(0, 8);
            put(colorsUsed, 4);
            put(0, 4);
            // Any other header size is given its full length of zeros.
            for (std::uint32_t i = 40; i < headerSize; ++i) b.push_back(0);
        }
        for (std::uint32_t m : masks) put(m, 4);
        for (std::size_t i = 0; i < tableEntries; ++i) put(0x102030u * (i % 8) + i, static_cast<int>(entry));
        if (rows.empty()) {
            b.resize(b.size() + rowBytes, 0x5A);
        } else {
            b.insert(b.end(), rows.begin(), rows.end());
        }
        return b;
    }
};

struct Case {
    std::string what;
    Bytes bytes;
    const char* error = nullptr;  // nullptr: taken
    int width = 0, height = 0;    // of a taken picture
    // Small enough for every desktop to make its device bitmap in a test.
    bool small = true;
};

inline std::vector<Case> Cases() {
    using platform::dib::kMaxColors;
    using platform::dib::kMaxPixels;
    std::vector<Case> cases;
    auto taken = [&](std::string what, const PictureFields& s, bool small = true) {
        const auto h = s.height < 0 ? -s.height : s.height;
        cases.push_back({std::move(what), s.Build(), nullptr, static_cast<int>(s.width), static_cast<int>(h), small});
    };
    auto refused = [&](std::string what, const PictureFields& s, const char* error = kInvalidBitmap) {
        cases.push_back({std::move(what), s.Build(), error});
    };
    auto with = [](auto change) {
        PictureFields s;
        change(s);
        return s;
    };
    const auto bitsOf = [](int bits, std::size_t colors) {
        return [bits, colors](PictureFields& s) {
            s.bits = static_cast<std::uint16_t>(bits);
            s.colorsUsed = static_cast<std::uint32_t>(colors);
            s.tableEntries = colors;
            s.rowBytes = PictureFields::RowsOf(s.width, s.height, bits);
        };
    };

    taken("8 bits, 15 colours", PictureFields{});
    refused("not BM", with([](PictureFields& s) { s.second = 'A'; }));
    const Bytes base = PictureFields{}.Build();
    cases.push_back({"file header only", Bytes(base.begin(), base.begin() + 14), kInvalidBitmap});
    cases.push_back({"13 bytes", Bytes(base.begin(), base.begin() + 13), kStreamReadError});

    for (std::uint32_t size : {0u, 39u, 41u, 64u, 108u, 124u})
        refused("header size " + std::to_string(size), with([size](PictureFields& s) { s.headerSize = size; }));
    refused("no planes", with([](PictureFields& s) { s.planes = 0; }));
    refused("two planes", with([](PictureFields& s) { s.planes = 2; }));

    for (int bits : {1, 4, 8}) taken(std::to_string(bits) + " bits", with(bitsOf(bits, 2)));
    for (int bits : {16, 24, 32}) taken(std::to_string(bits) + " bits", with(bitsOf(bits, 0)));
    for (int bits : {0, 2, 5, 7, 9, 48})
        refused(std::to_string(bits) + " bits", with(bitsOf(bits, 2)));

    // The colour table: as long as the bit count can index, and never longer than kMaxColors.
    taken("8 bits, 256 colours", with(bitsOf(8, 256)));
    refused("8 bits, 257 colours", with(bitsOf(8, 257)));
    taken("4 bits, 16 colours", with(bitsOf(4, 16)));
    refused("4 bits, 17 colours", with(bitsOf(4, 17)));
    taken("24 bits, the longest table", with(bitsOf(24, kMaxColors)));
    refused("24 bits, a table one entry too long", with(bitsOf(24, kMaxColors + 1)));
    {
        PictureFields s;
        s.rowBytes = 0;
        Bytes b = s.Build();
        b.pop_back();
        cases.push_back({"table one byte short, nothing after", b, kInvalidBitmap});
    }

    // The rows, and the size the header gives them.
    refused("rows one byte short", with([](PictureFields& s) { s.rowBytes -= 1; }));
    taken("size of rows given", with([](PictureFields& s) { s.sizeImage = 24; }));
    refused("size of rows one short", with([](PictureFields& s) { s.sizeImage = 23; }));

    // Width and height.
    taken("one column", with([](PictureFields& s) {
              s.width = 1;
              s.rowBytes = 4 * 3;
          }));
    refused("no columns", with([](PictureFields& s) { s.width = 0; }));
    refused("a negative width", with([](PictureFields& s) { s.width = -1; }));
    taken("top-down rows", with([](PictureFields& s) { s.height = -3; }));
    refused("no rows", with([](PictureFields& s) { s.height = 0; }));
    refused("the most negative height", with([](PictureFields& s) { s.height = INT_MIN; }));
    const auto wide = [](std::uint64_t width) {
        return [width](PictureFields& s) {
            s.bits = 1;
            s.colorsUsed = 2;
            s.tableEntries = 2;
            s.width = static_cast<std::int64_t>(width);
            s.height = 1;
            s.rowBytes = PictureFields::RowsOf(s.width, 1, 1);
        };
    };
    taken("the most pixels", with(wide(kMaxPixels)), false);
    refused("one pixel more", with(wide(kMaxPixels + 1)));

    // Compression, by bit count; run lengths bottom-up only.
    const Bytes endOfPicture = {0, 0, 0, 1};
    taken("run lengths at 8 bits", with([&](PictureFields& s) {
              s.compression = 1;
              s.rows = endOfPicture;
          }));
    refused("run lengths at 8 bits, top-down", with([&](PictureFields& s) {
                s.compression = 1;
                s.height = -3;
                s.rows = endOfPicture;
            }));
    refused("run lengths at 8 bits with 4", with([&](PictureFields& s) {
                bitsOf(4, 2)(s);
                s.compression = 1;
                s.rows = endOfPicture;
            }));
    taken("run lengths at 4 bits", with([&](PictureFields& s) {
              bitsOf(4, 2)(s);
              s.compression = 2;
              s.rows = endOfPicture;
          }));
    refused("run lengths at 4 bits with 8", with([&](PictureFields& s) {
                s.compression = 2;
                s.rows = endOfPicture;
            }));
    refused("run lengths without their end", with([&](PictureFields& s) {
                s.compression = 1;
                s.rows = {0, 0, 0, 0};
            }));
    const auto masked = [&](std::vector<std::uint32_t> masks) {
        return [&, masks](PictureFields& s) {
            bitsOf(16, 0)(s);
            s.compression = 3;
            s.masks = masks;
        };
    };
    taken("masks at 16 bits", with(masked({0xF800, 0x07E0, 0x001F})));
    refused("masks at 8 bits", with([&](PictureFields& s) {
                s.compression = 3;
                s.masks = {0xE0, 0x1C, 0x03};
            }));
    refused("masks overlapping", with(masked({0xF800, 0x0FE0, 0x001F})));
    refused("a mask broken up", with(masked({0xF801, 0x07E0, 0x001E})));
    refused("an empty mask", with(masked({0xF800, 0x07E0, 0})));
    refused("a mask past the pixel", with(masked({0x1F800, 0x07E0, 0x001F})));
    for (std::uint32_t compression : {4u, 5u, 6u, 0x80000001u})
        refused("compression " + std::to_string(compression), with([compression](PictureFields& s) { s.compression = compression; }));

    // The 12-byte header of older writers: three-byte colours, 16-bit sizes.
    const auto core = [](PictureFields& s) {
        s.headerSize = 12;
        s.bits = 1;
        s.tableEntries = 2;
        s.rowBytes = PictureFields::RowsOf(s.width, s.height, 1);
    };
    taken("core header", with(core));
    refused("core header, two planes", with([&](PictureFields& s) {
                core(s);
                s.planes = 2;
            }));
    refused("core header, 5 bits", with([&](PictureFields& s) {
                core(s);
                s.bits = 5;
            }));
    refused("core header, no columns", with([&](PictureFields& s) {
                core(s);
                s.width = 0;
            }));
    refused("core header, rows one byte short", with([&](PictureFields& s) {
                core(s);
                s.rowBytes -= 1;
            }));
    return cases;
}

}  // namespace zumelko::picturecases
