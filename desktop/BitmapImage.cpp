#include "desktop/BitmapImage.h"

#include <cstring>
#include <optional>
#include <utility>

#include "framework/Error.h"
#include "platform/Desktop.h"
#include "platform/Dib.h"

namespace zumelko {

namespace {

constexpr std::size_t kFileHeaderSize = 14;

std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// Checks a packed image read from a stream and brings it into the form this program writes:
// header, masks and colour table as given, then exactly the pixel data the header describes
// (uncompressed rows bottom row first, or run lengths up to their end mark). Throws
// kInvalidBitmap for anything it cannot take.
std::vector<std::uint8_t> Normalize(std::vector<std::uint8_t> packed, std::uint32_t offBits,
                                    platform::dib::Layout& layout) {
    const auto parsed = platform::dib::ParseHeader(packed.data(), packed.size());
    if (!parsed) throw Error(kInvalidBitmap);
    layout = *parsed;
    const std::size_t tableEnd = layout.TableEnd();
    auto dataAt = [&](std::size_t at) {
        return platform::dib::PixelBytes(layout, packed.data() + at, packed.size() - at);
    };
    // The pixel data follows the colour table. Other writers may leave a gap first and say where
    // it begins in bfOffBits; that is believed only when the whole data fits after it.
    std::size_t rows = tableEnd;
    std::optional<std::size_t> length;
    if (offBits >= kFileHeaderSize) {
        const std::size_t at = offBits - kFileHeaderSize;
        if (at > tableEnd && at <= packed.size() && (length = dataAt(at))) rows = at;
    }
    if (rows == tableEnd) length = dataAt(tableEnd);
    if (!length) throw Error(kInvalidBitmap);

    if (rows == tableEnd && !layout.topDown) {
        packed.resize(tableEnd + *length);
    } else if (!layout.topDown) {
        std::memmove(packed.data() + tableEnd, packed.data() + rows, *length);
        packed.resize(tableEnd + *length);
    } else {
        // Top-down rows are turned over in place; each swap exchanges a row with its mirror.
        if (rows != tableEnd) std::memmove(packed.data() + tableEnd, packed.data() + rows, *length);
        packed.resize(tableEnd + *length);
        std::vector<std::uint8_t> spare(layout.stride);
        std::uint8_t* base = packed.data() + tableEnd;
        for (int y = 0, z = layout.height - 1; y < z; ++y, --z) {
            std::uint8_t* a = base + static_cast<std::size_t>(y) * layout.stride;
            std::uint8_t* b = base + static_cast<std::size_t>(z) * layout.stride;
            std::memcpy(spare.data(), a, layout.stride);
            std::memcpy(a, b, layout.stride);
            std::memcpy(b, spare.data(), layout.stride);
        }
    }
    if (layout.headerSize == platform::dib::kInfoHeaderSize) {
        Put32(packed.data() + 8, static_cast<std::uint32_t>(layout.height));
        // Bytes after the data were dropped; a size that counted them would promise too much.
        if (layout.sizeImage != 0 || layout.RunLength()) {
            Put32(packed.data() + 20, static_cast<std::uint32_t>(*length));
            layout.sizeImage = *length;
        }
    }
    layout.topDown = false;
    return packed;
}

// A monochrome bitmap shows black and white only: a one-bit picture in other colours (other
// writers make them) is kept in colour rather than turned black.
bool BlackAndWhite(const platform::dib::Layout& layout, const std::uint8_t* packed) {
    for (const auto& e : platform::dib::ColorTable(layout, packed)) {
        const bool black = e.red == 0 && e.green == 0 && e.blue == 0;
        const bool white = e.red == 255 && e.green == 255 && e.blue == 255;
        if (!black && !white) return false;
    }
    return true;
}

// CreateBitmap (monochrome) or CreateCompatibleBitmap, filled white, with source copied on.
GdiObject ToDeviceBitmap(platform::Gdi& gdi, platform::Hbitmap source, platform::Hpalette palette, int width,
                         int height, bool monochrome) {
    GdiObject made(gdi, gdi.CreateBitmap(width, height, monochrome));
    if (!made) throw Error(kOutOfResources);
    gdi.CopyBitmap(made.Get(), source, palette);
    return made;
}

GdiObject CopyPalette(platform::Gdi& gdi, platform::Hpalette palette) {
    if (palette == 0) return {};
    return {gdi, gdi.CreatePalette(gdi.GetPaletteEntries(palette))};
}

// The palette a packed image is shown with.
GdiObject PaletteFor(platform::Gdi& gdi, const platform::dib::Layout& layout, const std::uint8_t* packed) {
    std::vector<platform::PaletteEntry> entries;
    if (layout.headerSize == platform::dib::kCoreHeaderSize) {
        if (layout.colorCount == 0) return {};
        entries = platform::dib::ColorTable(layout, packed);
    } else {
        if (layout.colorCount < 3) return {};
        const int systemSize = gdi.SystemPaletteSize();
        if (layout.colorCount == 16 && systemSize >= 16) {
            // Sixteen-colour pictures use the display's own sixteen fixed colours.
            entries = gdi.SystemPaletteEntries(0, 8);
            const auto last = gdi.SystemPaletteEntries(systemSize - 8, 8);
            entries.insert(entries.end(), last.begin(), last.end());
        } else {
            entries = platform::dib::ColorTable(layout, packed);
        }
    }
    for (auto& e : entries) e.flags = 0;
    return {gdi, gdi.CreatePalette(entries)};
}

}  // namespace

GdiObject& GdiObject::operator=(GdiObject&& other) noexcept {
    if (this != &other) {
        Reset();
        gdi_ = other.gdi_;
        handle_ = other.Release();
    }
    return *this;
}

void GdiObject::Reset() {
    if (handle_ != 0 && gdi_ != nullptr) gdi_->DeleteObject(handle_);
    handle_ = 0;
}

int BitmapImage::Width() const { return image_ ? image_->width : 0; }
int BitmapImage::Height() const { return image_ ? image_->height : 0; }
bool BitmapImage::Monochrome() const { return image_ && image_->monochrome; }

void BitmapImage::Replace(std::shared_ptr<Image> image) {
    image_ = std::move(image);
    OnChange(*this);
}

void BitmapImage::Assign(const BitmapImage* source) {
    if (source == this) return;
    Replace(source != nullptr ? source->image_ : nullptr);
}

void BitmapImage::LoadFromClipboardFormat(platform::Hbitmap bitmap, platform::Hpalette palette) {
    if (bitmap == 0) throw Error(kUnsupportedClipboardData);
    auto& gdi = platform::Current().gdi();
    platform::BitmapInfo info;
    if (!gdi.GetObject(bitmap, info)) throw Error(kUnsupportedClipboardData);
    auto image = std::make_shared<Image>();
    image->width = info.width;
    image->height = info.height;
    image->monochrome = info.planes == 1 && info.bitsPerPixel == 1;
    image->bitmap = ToDeviceBitmap(gdi, bitmap, palette, info.width, info.height, image->monochrome);
    image->palette = CopyPalette(gdi, palette);
    Replace(std::move(image));
}

BitmapImage::ClipboardFormat BitmapImage::SaveToClipboardFormat() const {
    if (!image_) return {};
    Image& image = *image_;
    if (!image.bitmap) MakeDeviceBitmap(image);
    auto& gdi = platform::Current().gdi();
    ClipboardFormat form;
    form.bitmap = ToDeviceBitmap(gdi, image.bitmap.Get(), image.palette.Get(), image.width, image.height,
                                 image.monochrome);
    form.palette = CopyPalette(gdi, image.palette.Get());
    return form;
}

platform::Hbitmap BitmapImage::Handle() const {
    if (!image_) return 0;
    if (!image_->bitmap) MakeDeviceBitmap(*image_);
    return image_->bitmap.Get();
}

platform::Hpalette BitmapImage::Palette() const {
    if (!image_) return 0;
    if (!image_->bitmap) MakeDeviceBitmap(*image_);
    return image_->palette.Get();
}

void BitmapImage::MakeDeviceBitmap(Image& image) {
    const std::vector<std::uint8_t>& packed = image.packed;
    // The packed image was checked when it was read; checked again as it is about to be
    // handed to the system.
    const auto layout = platform::dib::ParseHeader(packed.data(), packed.size());
    if (!layout) throw Error(kInvalidBitmap);
    const std::uint8_t* pixels = packed.data() + layout->TableEnd();
    const auto length = platform::dib::PixelBytes(*layout, pixels, packed.size() - layout->TableEnd());
    if (!length) throw Error(kInvalidBitmap);
    auto& gdi = platform::Current().gdi();
    GdiObject palette = PaletteFor(gdi, *layout, packed.data());
    GdiObject bitmap(gdi, gdi.CreateDIBitmap(packed.data(), layout->TableEnd(), pixels, *length, palette.Get()));
    if (!bitmap) throw Error(kOutOfResources);
    image.bitmap = std::move(bitmap);
    image.palette = std::move(palette);
}

BitmapImage::PackedForm BitmapImage::PackedFormOf(const Image& image) {
    platform::BitmapInfo info;
    platform::Current().gdi().GetObject(image.bitmap.Get(), info);
    PackedForm form;
    form.width = info.width;
    form.height = info.height;
    form.bits = info.bitsPerPixel * info.planes;
    if (form.bits > 8) form.bits = 24;  // 16 and 32 bits are written as 24
    const std::size_t tableSize = form.bits == 24 ? 0 : std::size_t{4} << form.bits;
    form.imageSize = platform::dib::Stride(info.width, form.bits) * static_cast<std::size_t>(info.height);
    form.pixelOffset = platform::dib::kInfoHeaderSize + tableSize;
    return form;
}

void BitmapImage::FillInfoHeader(const PackedForm& form, std::uint8_t* h) {
    std::memset(h, 0, form.pixelOffset);
    Put32(h + 0, platform::dib::kInfoHeaderSize);
    Put32(h + 4, static_cast<std::uint32_t>(form.width));
    Put32(h + 8, static_cast<std::uint32_t>(form.height));
    Put16(h + 12, 1);
    Put16(h + 14, static_cast<std::uint32_t>(form.bits));
    Put32(h + 20, static_cast<std::uint32_t>(form.imageSize));
}

void BitmapImage::FillPacked(const Image& image, const PackedForm& form, std::uint8_t* h) {
    FillInfoHeader(form, h);
    // The result is not examined, but rows it did not fill are never left as whatever the
    // memory held.
    if (!platform::Current().gdi().GetDIBits(image.bitmap.Get(), image.palette.Get(), h, h + form.pixelOffset))
        std::memset(h + form.pixelOffset, 0, form.imageSize);
    if (!image.header.empty() && form.bits == 24) std::memcpy(h, image.header.data(), image.header.size());
}

void BitmapImage::MakePackedImage(Image& image) {
    const PackedForm form = PackedFormOf(image);
    std::vector<std::uint8_t> packed(form.pixelOffset + form.imageSize);
    FillPacked(image, form, packed.data());
    image.packed = std::move(packed);
    image.pixelOffset = form.pixelOffset;
}

void BitmapImage::WriteToStream(Stream& stream) const {
    if (!image_) return;
    Image& image = *image_;
    std::uint8_t header[kFileHeaderSize] = {'B', 'M'};
    auto* memory = dynamic_cast<MemoryStream*>(&stream);
    if (image.packed.empty() && memory != nullptr) {
        // Into a stream in memory (a packet on its way) the rows are converted in place, once,
        // rather than into a packed image first and copied on from there.
        const PackedForm form = PackedFormOf(image);
        const std::size_t size = kFileHeaderSize + form.pixelOffset + form.imageSize;
        Put32(header + 2, static_cast<std::uint32_t>(size));
        Put32(header + 10, static_cast<std::uint32_t>(kFileHeaderSize + form.pixelOffset));
        // Into an empty stream, rows the desktop made ahead (as it read another program's
        // picture) are taken over as they are, with room left for the headers.
        if (form.bits == 24 && image.header.empty() && memory->Size() == 0 && memory->Position() == 0) {
            auto& gdi = platform::Current().gdi();
            if (auto rows = gdi.TakeRowsAhead(image.bitmap.Get(), kFileHeaderSize + form.pixelOffset)) {
                memory->Adopt(std::move(rows), size);
                std::memcpy(memory->Data(), header, sizeof header);
                FillInfoHeader(form, memory->Data() + kFileHeaderSize);
                return;
            }
        }
        std::uint8_t* out = memory->WriteSpace(size);
        std::memcpy(out, header, sizeof header);
        FillPacked(image, form, out + kFileHeaderSize);
        memory->Commit(size);
        return;
    }
    if (image.packed.empty()) MakePackedImage(image);
    Put32(header + 2, static_cast<std::uint32_t>(kFileHeaderSize + image.packed.size()));
    Put32(header + 10, static_cast<std::uint32_t>(kFileHeaderSize + image.pixelOffset));
    stream.Write(header, sizeof header);
    stream.Write(image.packed.data(), image.packed.size());
}

// A picture whose device bitmap holds every bit of it, made straight from the received bytes:
// 24-bit rows without a colour table on a display of 24 bits or more. Writing it again gives
// the same rows, so the packed image need not be kept beside the device bitmap, and a large
// picture costs its rows once instead of twice. Null for any other picture, or when the
// display cannot make it (the packed image then says so when it is first shown).
std::shared_ptr<BitmapImage::Image> BitmapImage::MakeDirect(const std::uint8_t* packed, std::size_t size,
                                                            std::uint32_t offBits) {
    auto& gdi = platform::Current().gdi();
    const auto layout = platform::dib::ParseHeader(packed, size);
    if (!layout || layout->headerSize != platform::dib::kInfoHeaderSize || layout->compression != platform::dib::kRgb ||
        layout->bitCount != 24 || layout->colorCount != 0 || gdi.DisplayBitsPerPixel() < 24)
        return nullptr;
    // Where the rows begin, as Normalize finds it.
    std::size_t rows = layout->TableEnd();
    if (offBits >= kFileHeaderSize) {
        const std::size_t at = offBits - kFileHeaderSize;
        if (at > rows && at <= size && size - at >= layout->imageSize) rows = at;
    }
    if (size - rows < layout->imageSize) return nullptr;
    GdiObject bitmap(gdi, gdi.CreateDIBitmap(packed, layout->headerSize, packed + rows, layout->imageSize, 0));
    if (!bitmap) return nullptr;
    auto image = std::make_shared<Image>();
    image->width = layout->width;
    image->height = layout->height;
    image->bitmap = std::move(bitmap);
    // The header is written again as it came, as for a kept packed image: rows bottom-up, and a
    // size that counted bytes after the rows counts the rows alone.
    image->header.assign(packed, packed + platform::dib::kInfoHeaderSize);
    Put32(image->header.data() + 8, static_cast<std::uint32_t>(layout->height));
    if (layout->sizeImage != 0) Put32(image->header.data() + 20, static_cast<std::uint32_t>(layout->imageSize));
    return image;
}

void BitmapImage::ReadFromStream(Stream& stream) {
    const std::size_t size = stream.Remaining();
    if (size == 0) {
        Replace(nullptr);
        return;
    }
    std::uint8_t header[kFileHeaderSize];
    if (size < kFileHeaderSize || stream.Read(header, sizeof header) != sizeof header) throw Error(kStreamReadError);
    if (header[0] != 'B' || header[1] != 'M') throw Error(kInvalidBitmap);
    const std::uint32_t offBits = U32(header + 10);
    std::vector<std::uint8_t> packed;
    if (auto* memory = dynamic_cast<MemoryStream*>(&stream)) {
        // A stream in memory (a received packet) is read in place.
        const std::uint8_t* at = memory->Data() + memory->Position();
        const std::size_t n = size - kFileHeaderSize;
        memory->SetPosition(memory->Position() + n);
        if (auto direct = MakeDirect(at, n, offBits)) {
            Replace(std::move(direct));
            return;
        }
        packed.assign(at, at + n);
    } else {
        packed.resize(size - kFileHeaderSize);
        if (stream.Read(packed.data(), packed.size()) != packed.size()) throw Error(kStreamReadError);
        if (auto direct = MakeDirect(packed.data(), packed.size(), offBits)) {
            Replace(std::move(direct));
            return;
        }
    }

    platform::dib::Layout layout;
    auto image = std::make_shared<Image>();
    image->packed = Normalize(std::move(packed), offBits, layout);
    image->pixelOffset = layout.TableEnd();
    image->width = layout.width;
    image->height = layout.height;
    image->monochrome = layout.Monochrome() && BlackAndWhite(layout, image->packed.data());
    Replace(std::move(image));
}

}  // namespace zumelko
