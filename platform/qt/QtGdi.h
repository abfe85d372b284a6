#pragma once
// Device bitmaps on the Linux desktop: QImages in the display's pixel format (32-bit RGB on
// the usual 24-bit visuals, 16-bit RGB, or 8-bit indexed with the system palette), monochrome
// bitmaps as 1-bit images whose index 0 is black and 1 white, palettes as entry lists. All of
// them live in one handle table, so the clipboard can take a handle over without a copy.
#include <QImage>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/Gdi.h"

namespace zumelko::platform::qt {

// A large picture's 24-bit rows, bottom up, each padded to four bytes, as GetDIBits writes them,
// made ahead of a send for the image whose QImage::cacheKey is `key` (see SelectionFetch). They
// begin kRoom bytes into the block: room for a BMP file's two headers.
struct RowsAhead {
    static constexpr std::size_t kRoom = 14 + 40;
    qint64 key = 0;
    int width = 0;
    int height = 0;
    MallocBytes bytes;
};

class QtGdi final : public Gdi {
public:
    // depth: the display's colour depth in bits (from the screen when 0).
    explicit QtGdi(int depth = 0);

    int DisplayBitsPerPixel() override { return bitsPerPixel_; }
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
    void PictureComing(std::size_t fileBytes) override;
    MallocBytes TakeRowsAhead(Hbitmap bitmap, std::size_t headroom) override;

    // The image behind a bitmap handle (null when there is none).
    const QImage* Bitmap(Hbitmap bitmap) const;
    // A new handle for an image (converted to the display's format unless it is monochrome).
    Hbitmap Adopt(QImage image);
    // Takes the image out of the table; the handle is gone afterwards.
    std::optional<QImage> Take(Hbitmap bitmap);
    const std::vector<PaletteEntry>* Palette(Hpalette palette) const;
    std::size_t ObjectCount() const { return bitmaps_.size() + palettes_.size(); }
    QImage::Format DisplayFormat() const { return format_; }

    // The rows of a large 32-bit image (any other: nothing), for a send to take over instead
    // of converting the pixels again (TakeRowsAhead). Made on any thread; kept one at a time,
    // until taken, dropped or replaced.
    static std::optional<RowsAhead> MakeRowsAhead(const QImage& image);
    void KeepRowsAhead(RowsAhead rows) { rowsAhead_ = std::move(rows); }
    void DropRowsAhead() { rowsAhead_ = RowsAhead{}; }
    // Whether the rows kept are those of the bitmap's image as it is now.
    bool HasRowsAheadFor(Hbitmap bitmap) const;
    // Largest device bitmap made from received data, in pixels: a picture claiming more is refused
    // as the display would refuse it, instead of exhausting memory.
    static constexpr std::int64_t kMaxPixels = 8192LL * 8192LL;
    // The largest device bitmap the display makes at all (tests: a display that runs short).
    void SetBitmapPixelLimit(std::int64_t pixels) { pixelLimit_ = pixels; }

private:
    QImage MakeImage(int width, int height, bool monochrome) const;
    // Makes a bitmap nothing has drawn on yet black.
    void Paint(Hbitmap bitmap) const;
    QImage ToDisplay(QImage image) const;

    std::int64_t pixelLimit_ = kMaxPixels;
    RowsAhead rowsAhead_;
    int depth_;
    int bitsPerPixel_;
    QImage::Format format_;
    QList<QRgb> systemColours_;
    // Mutable: a bitmap is made black when it is first looked at (see CreateBitmap).
    mutable std::map<std::uintptr_t, QImage> bitmaps_;
    mutable std::set<std::uintptr_t> unpainted_;
    std::map<std::uintptr_t, std::vector<PaletteEntry>> palettes_;
    std::uintptr_t next_ = 0x2000;
};

}  // namespace zumelko::platform::qt
