#include "platform/qt/QtGdi.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "platform/AddressSpace.h"
#include "platform/Dib.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace zumelko::platform::qt {

namespace {

std::uint32_t Rd32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Rd16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void Wr32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

const QRgb kWhite = qRgb(255, 255, 255);
// Pictures of at least this many pixels are decoded on two threads.
constexpr std::int64_t kSplitPixels = 1 << 20;
const QRgb kBlack = qRgb(0, 0, 0);

// Address space that holds a large picture's pixels, given back with the last image that uses it.
class PixelSpace {
public:
    explicit PixelSpace(std::size_t size) : size_(size), at_(ReserveAddressSpace(size)) {
        if (at_ != nullptr && !CommitAddressSpace(at_, size_, size_)) Release();
    }
    PixelSpace(const PixelSpace&) = delete;
    PixelSpace& operator=(const PixelSpace&) = delete;
    ~PixelSpace() { Release(); }
    uchar* At() const { return static_cast<uchar*>(at_); }
    static void Free(void* info) { delete static_cast<PixelSpace*>(info); }

private:
    void Release() {
        ReleaseAddressSpace(at_, size_);
        at_ = nullptr;
    }
    std::size_t size_;
    void* at_;
};

// A 32-bit image of a large picture in address space of its own, which the platform layer may
// keep for the next large block when the image is gone: the next picture received is then
// written into pages that are already there. A null image when the space cannot be had.
QImage LargeImage(int width, int height, QImage::Format format) {
    const qsizetype stride = static_cast<qsizetype>(width) * 4;
    auto space = std::make_unique<PixelSpace>(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
    if (space->At() == nullptr) return {};
    QImage image(space->At(), width, height, stride, format, &PixelSpace::Free, space.get());
    if (!image.isNull()) (void)space.release();  // the image owns it now
    return image;
}

// Runs rows(first, last) over [0, h): for a large picture in two halves at once, the lower one
// on a thread of its own (all of it on the caller's when no thread is to be had).
template <typename Rows>
void OverRows(int h, bool large, const Rows& rows) {
    if (!large) {
        rows(0, h);
        return;
    }
    const int half = h / 2;
    std::optional<std::thread> lower;
    try {
        lower.emplace([&] { rows(half, h); });
    } catch (const std::system_error&) {
        // No thread to be had: all of it here.
    }
    rows(0, lower ? half : h);
    if (lower) lower->join();
}

// The sixteen colours of the standard 4-bit palette.
const QList<QRgb>& SixteenColours() {
    static const QList<QRgb> c = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
        qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
    return c;
}

// A 256-entry palette: the sixteen standard colours, a 6 x 6 x 6 colour cube, then greys.
QList<QRgb> DefaultPalette() {
    QList<QRgb> c = SixteenColours();
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) c.push_back(qRgb(r * 51, g * 51, b * 51));
    while (c.size() < 256) {
        const int v = static_cast<int>((c.size() - 232) * 10 + 8);
        c.push_back(qRgb(v, v, v));
    }
    return c;
}

int Nearest(const QList<QRgb>& table, QRgb colour) {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < table.size(); ++i) {
        const long dr = qRed(table[i]) - qRed(colour), dg = qGreen(table[i]) - qGreen(colour),
                   db = qBlue(table[i]) - qBlue(colour);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
            if (d == 0) break;
        }
    }
    return best;
}

QList<QRgb> ToRgb(const std::vector<PaletteEntry>& entries) {
    QList<QRgb> c;
    for (const auto& e : entries) c.push_back(qRgb(e.red, e.green, e.blue));
    return c;
}

}  // namespace

QtGdi::QtGdi(int depth) : depth_(depth) {
    if (depth_ == 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        depth_ = screen != nullptr ? screen->depth() : 24;
    }
    if (depth_ > 16) {
        bitsPerPixel_ = 32;
        format_ = QImage::Format_RGB32;
    } else if (depth_ > 8) {
        bitsPerPixel_ = 16;
        format_ = depth_ == 15 ? QImage::Format_RGB555 : QImage::Format_RGB16;
    } else {
        bitsPerPixel_ = 8;
        format_ = QImage::Format_Indexed8;
        systemColours_ = DefaultPalette();
    }
}

int QtGdi::SystemPaletteSize() { return format_ == QImage::Format_Indexed8 ? 256 : 0; }

std::vector<PaletteEntry> QtGdi::SystemPaletteEntries(int start, int count) {
    std::vector<PaletteEntry> out;
    for (int i = start; i < start + count && i >= 0 && i < systemColours_.size(); ++i)
        out.push_back({static_cast<std::uint8_t>(qRed(systemColours_[i])),
                       static_cast<std::uint8_t>(qGreen(systemColours_[i])),
                       static_cast<std::uint8_t>(qBlue(systemColours_[i])), 0});
    return out;
}

QImage QtGdi::MakeImage(int width, int height, bool monochrome) const {
    if (width <= 0 || height <= 0 || static_cast<std::int64_t>(width) * height > pixelLimit_) return {};
    QImage image(width, height, monochrome ? QImage::Format_Mono : format_);
    if (image.isNull()) return {};
    if (monochrome) image.setColorTable({kBlack, kWhite});
    if (format_ == QImage::Format_Indexed8 && !monochrome) image.setColorTable(systemColours_);
    return image;
}

QImage QtGdi::ToDisplay(QImage image) const {
    if (image.format() == QImage::Format_Mono || image.format() == format_) return image;
    if (format_ == QImage::Format_Indexed8) return image.convertToFormat(format_, systemColours_);
    return image.convertToFormat(format_);
}

Hbitmap QtGdi::CreateBitmap(int width, int height, bool monochrome) {
    QImage image = MakeImage(width, height, monochrome);
    if (image.isNull()) return 0;
    // A new bitmap is black until something is drawn on it. It is made black only when first
    // looked at: most are covered whole by the copy that follows at once, and a large one
    // then never costs the memory of its own pixels.
    const Hbitmap h = next_++;
    bitmaps_.emplace(h, std::move(image));
    unpainted_.insert(h);
    return h;
}

bool QtGdi::GetObject(Hbitmap bitmap, BitmapInfo& info) {
    const auto found = bitmaps_.find(bitmap);
    if (found == bitmaps_.end()) return false;
    const QImage* image = &found->second;
    info.width = image->width();
    info.height = image->height();
    info.planes = 1;
    info.bitsPerPixel = image->format() == QImage::Format_Mono ? 1 : bitsPerPixel_;
    return true;
}

bool QtGdi::CopyBitmap(Hbitmap destination, Hbitmap source, Hpalette palette) {
    auto d = bitmaps_.find(destination);
    const QImage* s = Bitmap(source);
    if (d == bitmaps_.end() || s == nullptr) return false;
    QImage& dst = d->second;
    const bool sameColours =
        s->format() != QImage::Format_Indexed8 || (palette == 0 && s->colorTable() == dst.colorTable());
    if (unpainted_.count(destination) != 0 && s->size() == dst.size() && s->format() == dst.format() && sameColours) {
        // Covered whole by pixels of its own kind: the copy shares them until either is drawn on.
        dst = *s;
        unpainted_.erase(destination);
        return true;
    }
    Paint(destination);
    QImage src = *s;
    // A palette given with an indexed picture says what its indices mean.
    if (const auto* pal = Palette(palette); pal != nullptr && src.format() == QImage::Format_Indexed8 &&
                                            static_cast<std::size_t>(src.colorCount()) <= pal->size())
        src.setColorTable(ToRgb(*pal).mid(0, src.colorCount()));
    const int w = std::min(dst.width(), src.width());
    const int h = std::min(dst.height(), src.height());
    if (dst.format() == QImage::Format_Mono) {
        // Colour to monochrome: what is white stays white, everything else turns black.
        dst.fill(1);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if ((src.pixel(x, y) & 0xFFFFFFu) != (kWhite & 0xFFFFFFu)) dst.setPixel(x, y, 0);
        return true;
    }
    if (dst.format() == QImage::Format_Indexed8) {
        const QImage conv = src.convertToFormat(QImage::Format_Indexed8, dst.colorTable());
        dst.fill(static_cast<uint>(Nearest(dst.colorTable(), kWhite)));
        for (int y = 0; y < h; ++y) std::memcpy(dst.scanLine(y), conv.constScanLine(y), static_cast<std::size_t>(w));
        return true;
    }
    if (src.format() == dst.format()) {
        dst.fill(kWhite);
        const std::size_t bytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(dst.depth() / 8);
        for (int y = 0; y < h; ++y) std::memcpy(dst.scanLine(y), src.constScanLine(y), bytes);
        return true;
    }
    dst.fill(kWhite);
    QPainter painter(&dst);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), src, QRect(0, 0, w, h));
    return true;
}

Hpalette QtGdi::CreatePalette(const std::vector<PaletteEntry>& entries) {
    if (entries.empty()) return 0;
    const Hpalette h = next_++;
    palettes_.emplace(h, entries);
    return h;
}

std::vector<PaletteEntry> QtGdi::GetPaletteEntries(Hpalette palette) {
    const auto* p = Palette(palette);
    return p == nullptr ? std::vector<PaletteEntry>{} : *p;
}

Hbitmap QtGdi::CreateDIBitmap(const std::uint8_t* headerAndTable, std::size_t headerAndTableSize,
                              const std::uint8_t* pixels, std::size_t pixelSize, Hpalette /*palette*/) {
    // Qt's own BMP reader is not used: it takes run lengths that stop short or overrun as a
    // success with the rest of the picture left as whatever the memory held, and widens 5-bit
    // channels to 248 rather than 255. The shared decoder refuses the former and keeps white
    // white, alike on every desktop.
    const auto layout = dib::ParseHeader(headerAndTable, headerAndTableSize);
    if (!layout || !dib::PixelBytes(*layout, pixels, pixelSize)) return 0;
    if (static_cast<std::int64_t>(layout->width) * layout->height > kMaxPixels) return 0;
    const bool large = static_cast<std::int64_t>(layout->width) * layout->height >= kSplitPixels;
    QImage image = large ? LargeImage(layout->width, layout->height, QImage::Format_RGB32) : QImage();
    if (image.isNull()) image = QImage(layout->width, layout->height, QImage::Format_RGB32);
    if (image.isNull()) return 0;
    static_assert(sizeof(QRgb) == sizeof(std::uint32_t));
    // RGB32 rows are 32-bit pixels 0xFFRRGGBB, as the decoder writes them.
    auto* out = reinterpret_cast<std::uint32_t*>(image.bits());
    const std::size_t outStride = static_cast<std::size_t>(image.bytesPerLine()) / sizeof(std::uint32_t);
    const auto table = dib::ColorTable(*layout, headerAndTable);
    if (!layout->RunLength() && large) {
        // A large picture is decoded in two halves at once, the lower one on a thread of its
        // own: the loop waits for both, but half as long. Nothing else touches the image meanwhile.
        const int half = layout->height / 2;
        std::optional<std::thread> lower;
        try {
            lower.emplace([&] { dib::DecodeRowRange(*layout, table, pixels, half, layout->height, out, outStride); });
        } catch (const std::system_error&) {
            // No thread to be had: all of it here.
        }
        dib::DecodeRowRange(*layout, table, pixels, 0, lower ? half : layout->height, out, outStride);
        if (lower) lower->join();
    } else if (!dib::DecodeRows(*layout, table, pixels, pixelSize, out, outStride)) {
        return 0;
    }
    image = ToDisplay(std::move(image));
    if (image.isNull()) return 0;
    const Hbitmap handle = next_++;
    bitmaps_.emplace(handle, std::move(image));
    return handle;
}

void QtGdi::PictureComing(std::size_t fileBytes) {
    // A large picture's image gets a space of its own (LargeImage): 32 bits for each pixel, four
    // bytes for every three of 24-bit rows, and no more than that for any picture of 16 bits or
    // more. Smaller pixels would need more than this space; they find none prepared.
    const std::size_t image = fileBytes / 3 * 4;
    if (image / 4 >= static_cast<std::size_t>(kSplitPixels)) PrepareAddressSpace(image);
}

bool QtGdi::GetDIBits(Hbitmap bitmap, Hpalette palette, std::uint8_t* header, std::uint8_t* pixels) {
    const QImage* found = Bitmap(bitmap);
    if (found == nullptr || header == nullptr || pixels == nullptr || Rd32(header) < 40) return false;
    const QImage& image = *found;
    const std::int64_t width = static_cast<std::int32_t>(Rd32(header + 4));
    std::int64_t height = static_cast<std::int32_t>(Rd32(header + 8));
    const int bits = Rd16(header + 14);
    const bool bottomUp = height > 0;
    if (height < 0) height = -height;
    if (width != image.width() || height != image.height()) return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    const int w = image.width(), h = image.height();
    const std::size_t stride = static_cast<std::size_t>((static_cast<std::int64_t>(w) * bits + 31) / 32 * 4);
    std::uint8_t* table = header + Rd32(header);

    // The colours the indices of an indexed result stand for.
    QList<QRgb> colours;
    if (bits == 1) {
        colours = {kBlack, kWhite};
    } else if (bits == 4) {
        colours = SixteenColours();
    } else if (bits == 8) {
        if (image.format() == QImage::Format_Indexed8) {
            colours = image.colorTable();
        } else if (const auto* pal = Palette(palette); pal != nullptr) {
            colours = ToRgb(*pal);
        } else {
            colours = DefaultPalette();
        }
        while (colours.size() < 256) colours.push_back(kBlack);
        colours.resize(256);
    }
    for (int i = 0; i < colours.size(); ++i) {
        table[i * 4] = static_cast<std::uint8_t>(qBlue(colours[i]));
        table[i * 4 + 1] = static_cast<std::uint8_t>(qGreen(colours[i]));
        table[i * 4 + 2] = static_cast<std::uint8_t>(qRed(colours[i]));
        table[i * 4 + 3] = 0;
    }

    // Rows come as 32-bit colour unless the image already holds indices of the wanted table.
    const bool sameIndices = (bits == 1 && image.format() == QImage::Format_Mono) ||
                             (bits == 8 && image.format() == QImage::Format_Indexed8);
    QImage rgb;
    if (!sameIndices)
        rgb = image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
    std::unordered_map<QRgb, int> cache;
    auto index = [&](QRgb c) {
        if (bits == 1) return qGray(c) >= 128 ? 1 : 0;
        auto it = cache.find(c);
        if (it != cache.end()) return it->second;
        const int i = Nearest(colours, c);
        cache.emplace(c, i);
        return i;
    };
    auto rows = [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            std::uint8_t* out = pixels + stride * static_cast<std::size_t>(bottomUp ? h - 1 - y : y);
            if (sameIndices) {
                std::memset(out, 0, stride);
                std::memcpy(out, image.constScanLine(y), bits == 8 ? static_cast<std::size_t>(w) : static_cast<std::size_t>((w + 7) / 8));
                if (bits == 1 && w % 8 != 0) out[w / 8] &= static_cast<std::uint8_t>(0xFF << (8 - w % 8));
                continue;
            }
            const auto* in = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
            switch (bits) {
                case 24: {
                    const std::size_t used = static_cast<std::size_t>(w) * 3;
                    dib::EncodeRow24(in, w, out);
                    std::memset(out + used, 0, stride - used);
                    break;
                }
                case 32:
                    for (int x = 0; x < w; ++x, out += 4) Wr32(out, in[x] & 0xFFFFFFu);
                    break;
                case 16:
                    std::memset(out, 0, stride);
                    for (int x = 0; x < w; ++x, out += 2) {
                        const int v = ((qRed(in[x]) >> 3) << 10) | ((qGreen(in[x]) >> 3) << 5) | (qBlue(in[x]) >> 3);
                        out[0] = static_cast<std::uint8_t>(v);
                        out[1] = static_cast<std::uint8_t>(v >> 8);
                    }
                    break;
                case 8:
                    std::memset(out, 0, stride);
                    for (int x = 0; x < w; ++x) out[x] = static_cast<std::uint8_t>(index(in[x]));
                    break;
                case 4:
                    std::memset(out, 0, stride);
                    for (int x = 0; x < w; ++x) out[x / 2] |= static_cast<std::uint8_t>(index(in[x]) << (x % 2 == 0 ? 4 : 0));
                    break;
                default:
                    std::memset(out, 0, stride);
                    for (int x = 0; x < w; ++x) out[x / 8] |= static_cast<std::uint8_t>(index(in[x]) << (7 - x % 8));
                    break;
            }
        }
    };
    // Colours written as they are (no index to look up) are written in two halves at once for
    // a large picture, as a received one is decoded.
    const bool direct = !sameIndices && bits >= 16;
    OverRows(h, direct && static_cast<std::int64_t>(w) * h >= kSplitPixels, rows);
    return true;
}

std::optional<RowsAhead> QtGdi::MakeRowsAhead(const QImage& image) {
    const int w = image.width(), h = image.height();
    if (image.format() != QImage::Format_RGB32 || static_cast<std::int64_t>(w) * h < kSplitPixels) return std::nullopt;
    const std::size_t stride = dib::Stride(w, 24);
    RowsAhead ahead;
    ahead.bytes.reset(static_cast<std::uint8_t*>(std::malloc(RowsAhead::kRoom + stride * static_cast<std::size_t>(h))));
    if (!ahead.bytes) return std::nullopt;
    std::uint8_t* pixels = ahead.bytes.get() + RowsAhead::kRoom;
    const auto* top = reinterpret_cast<const std::uint32_t*>(image.constBits());
    const std::size_t inStride = static_cast<std::size_t>(image.bytesPerLine()) / sizeof(std::uint32_t);
    // The image's rows [first, last) are the bottom-up rows [h - last, h - first).
    OverRows(h, true, [&](int first, int last) {
        dib::EncodeRows(24, w, last - first, top + inStride * static_cast<std::size_t>(first), inStride, {},
                        pixels + stride * static_cast<std::size_t>(h - last));
    });
    ahead.key = image.cacheKey();
    ahead.width = w;
    ahead.height = h;
    return ahead;
}


MallocBytes QtGdi::TakeRowsAhead(Hbitmap bitmap, std::size_t headroom) {
    if (headroom != RowsAhead::kRoom || !HasRowsAheadFor(bitmap)) return {};
    MallocBytes bytes = std::move(rowsAhead_.bytes);
    rowsAhead_ = RowsAhead{};
    return bytes;
}

bool QtGdi::HasRowsAheadFor(Hbitmap bitmap) const {
    const QImage* image = Bitmap(bitmap);
    // The key changes whenever the image's pixels may have: rows of an image drawn on since are
    // never taken for it.
    const RowsAhead& r = rowsAhead_;
    return image != nullptr && r.bytes && r.key == image->cacheKey() && r.width == image->width() &&
           r.height == image->height() && image->format() == QImage::Format_RGB32;
}

bool QtGdi::DeleteObject(std::uintptr_t object) {
    unpainted_.erase(object);
    return bitmaps_.erase(object) != 0 || palettes_.erase(object) != 0;
}

const QImage* QtGdi::Bitmap(Hbitmap bitmap) const {
    auto it = bitmaps_.find(bitmap);
    if (it == bitmaps_.end()) return nullptr;
    Paint(bitmap);
    return &it->second;
}

Hbitmap QtGdi::Adopt(QImage image) {
    if (image.isNull()) return 0;
    image = ToDisplay(std::move(image));
    if (image.isNull()) return 0;
    const Hbitmap h = next_++;
    bitmaps_.emplace(h, std::move(image));
    return h;
}

std::optional<QImage> QtGdi::Take(Hbitmap bitmap) {
    auto it = bitmaps_.find(bitmap);
    if (it == bitmaps_.end()) return std::nullopt;
    Paint(bitmap);
    QImage image = std::move(it->second);
    bitmaps_.erase(it);
    return image;
}

void QtGdi::Paint(Hbitmap bitmap) const {
    if (unpainted_.erase(bitmap) == 0) return;
    bitmaps_.at(bitmap).fill(0u);
}

const std::vector<PaletteEntry>* QtGdi::Palette(Hpalette palette) const {
    auto it = palettes_.find(palette);
    return it == palettes_.end() ? nullptr : &it->second;
}

}  // namespace zumelko::platform::qt
