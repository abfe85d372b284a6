#pragma once
// The picture that crosses the clipboard, the wire and the preview. It keeps up to two forms of
// one image and makes the other when it is needed: the device bitmap (with its palette) that
// the clipboard and the screen take, and the packed image (bitmap header, colour table, pixel
// rows) that follows the 14-byte file header in a BMP file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Event.h"
#include "framework/Graphic.h"
#include "platform/Gdi.h"

namespace zumelko {

// Texts of the failures the picture raises as zumelko::Error.
inline constexpr char kUnsupportedClipboardData[] = "未対応のｸﾘｯﾌﾟﾎﾞｰﾄﾞ ﾃﾞｰﾀです";
inline constexpr char kOutOfResources[] = "ｼｽﾃﾑ ﾘｿｰｽが足りません";
inline constexpr char kStreamReadError[] = "ｽﾄﾘｰﾑからの読み込みｴﾗｰ";
inline constexpr char kInvalidBitmap[] = "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です";

// A bitmap or palette of the desktop's GDI, deleted with the object that holds it.
class GdiObject {
public:
    GdiObject() = default;
    GdiObject(platform::Gdi& gdi, std::uintptr_t handle) : gdi_(&gdi), handle_(handle) {}
    ~GdiObject() { Reset(); }
    GdiObject(GdiObject&& other) noexcept : gdi_(other.gdi_), handle_(other.Release()) {}
    GdiObject& operator=(GdiObject&& other) noexcept;
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    std::uintptr_t Get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    // Hands the handle on (to the clipboard): this no longer deletes it.
    std::uintptr_t Release() {
        const std::uintptr_t h = handle_;
        handle_ = 0;
        return h;
    }
    void Reset();

private:
    platform::Gdi* gdi_ = nullptr;
    std::uintptr_t handle_ = 0;
};

class BitmapImage final : public Graphic {
public:
    BitmapImage() = default;
    BitmapImage(const BitmapImage&) = delete;
    BitmapImage& operator=(const BitmapImage&) = delete;

    // The BMP file image: nothing for an empty picture.
    void WriteToStream(Stream& stream) const override;
    // Replaces the picture with the BMP file image from the stream's position to its end (an
    // empty picture when there is nothing). A stream it cannot take leaves the picture as it was.
    void ReadFromStream(Stream& stream) override;
    bool Empty() const override { return image_ == nullptr; }
    int Width() const override;
    int Height() const override;
    // One plane of one bit per pixel, black and white: such a picture goes to the clipboard
    // as a monochrome bitmap.
    bool Monochrome() const;

    // Takes the picture from the clipboard's CF_BITMAP and CF_PALETTE (0: none); the handles
    // stay the clipboard's, the picture keeps copies.
    void LoadFromClipboardFormat(platform::Hbitmap bitmap, platform::Hpalette palette);
    // Fresh copies of the device bitmap and palette for the clipboard to own; both empty for an
    // empty picture, the palette empty when the picture has none.
    struct ClipboardFormat {
        GdiObject bitmap;
        GdiObject palette;
    };
    ClipboardFormat SaveToClipboardFormat() const;

    // Afterwards both pictures show the same image, shared until either is loaded anew; a null
    // source empties the picture.
    void Assign(const BitmapImage* source);
    bool SharesImageWith(const BitmapImage& other) const { return image_ != nullptr && image_ == other.image_; }

    // The device bitmap and palette the picture is drawn with, made when first asked for and
    // kept by the picture (0 when it is empty or has no palette).
    platform::Hbitmap Handle() const;
    platform::Hpalette Palette() const;

    // Told whenever the picture gets another image.
    Event<BitmapImage&> OnChange;

private:
    struct Image {
        int width = 0;
        int height = 0;
        bool monochrome = false;
        GdiObject bitmap;
        GdiObject palette;
        std::vector<std::uint8_t> packed;  // rows bottom-up, right after the table
        std::size_t pixelOffset = 0;       // header and table size within packed
        std::vector<std::uint8_t> header;  // a picture made straight from 24-bit rows: its header
    };

    void Replace(std::shared_ptr<Image> image);
    static std::shared_ptr<Image> MakeDirect(const std::uint8_t* packed, std::size_t size, std::uint32_t offBits);
    static void MakeDeviceBitmap(Image& image);
    static void MakePackedImage(Image& image);
    // Where the parts of the packed image made from the device bitmap go.
    struct PackedForm {
        int width = 0, height = 0, bits = 0;
        std::size_t pixelOffset = 0;  // header and table
        std::size_t imageSize = 0;    // rows
    };
    static PackedForm PackedFormOf(const Image& image);
    static void FillInfoHeader(const PackedForm& form, std::uint8_t* header);
    static void FillPacked(const Image& image, const PackedForm& form, std::uint8_t* packed);

    std::shared_ptr<Image> image_;
};

}  // namespace zumelko
