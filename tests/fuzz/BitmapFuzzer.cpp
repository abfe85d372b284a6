// Arbitrary bytes as a received picture (any header, compression, masks, run lengths): whatever
// the reader takes must go through every conversion a received picture goes through (device
// bitmap and palette, the clipboard's copies, BMP bytes again) without a crash, a sanitizer
// report or a leaked handle, and what it writes must read back to the same bytes. The last
// input byte picks the display's depth.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "desktop/BitmapImage.h"
#include "framework/Error.h"
#include "framework/Stream.h"
#include "platform/Desktop.h"
#include "platform/sim/SimGdi.h"

namespace {

using namespace zumelko;

// The fuzzer's own buffer, read in place, so any read past its end is caught.
class InputStream final : public Stream {
public:
    InputStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        const std::size_t n = position_ < size_ ? std::min(count, size_ - position_) : 0;
        if (n > 0) std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        return n;
    }
    void Write(const void*, std::size_t) override { std::abort(); }
    std::size_t Size() const override { return size_; }
    std::size_t Position() const override { return position_; }
    void SetPosition(std::size_t position) override { position_ = position; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Only the display is needed; anything else asked for is a fault.
class DisplayOnly final : public platform::Desktop {
public:
    platform::Loop& loop() override { std::abort(); }
    platform::Sockets& sockets() override { std::abort(); }
    platform::Clipboard& clipboard() override { std::abort(); }
    platform::sim::SimGdi& gdi() override { return gdi_; }
    platform::Shell& shell() override { std::abort(); }
    platform::Network& network() override { std::abort(); }
    platform::Dde& dde() override { std::abort(); }
    platform::UiHost& ui() override { std::abort(); }

private:
    platform::sim::SimGdi gdi_;
};

std::string Bytes(const Graphic& picture) {
    MemoryStream s;
    picture.WriteToStream(s);
    return std::string(s.View());
}

// What a picture written as these bytes writes once it is read back.
std::string Reread(const std::string& bytes) {
    MemoryStream s;
    s.Write(bytes.data(), bytes.size());
    s.SetPosition(0);
    BitmapImage picture;
    picture.ReadFromStream(s);
    return Bytes(picture);
}

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static DisplayOnly desktop;
    static const bool installed = (platform::Install(&desktop), true);
    (void)installed;
    static const int depths[] = {1, 4, 8, 16, 24, 32};
    desktop.gdi().SetDisplayBitsPerPixel(size == 0 ? 32 : depths[data[size - 1] % 6]);
    {
        BitmapImage picture;
        InputStream in(data, size);
        try {
            picture.ReadFromStream(in);
        } catch (const Error&) {
            Check(desktop.gdi().LiveObjects() == 0);
            return 0;
        }
        // A few bytes of run-length data can describe a picture of any size the display takes.
        // Converting one costs time in proportion to its pixels, which the benchmarks measure;
        // here it would only hold the search up on one input for seconds.
        if (static_cast<std::uint64_t>(picture.Width()) * static_cast<std::uint64_t>(picture.Height()) > (1u << 19))
            return 0;
        const std::string written = Bytes(picture);
        Check(picture.Empty() == written.empty());
        if (picture.Empty()) return 0;

        // Taken in, the picture converts: nothing below may fail.
        Check(Reread(written) == written);

        BitmapImage::ClipboardFormat form = picture.SaveToClipboardFormat();
        Check(static_cast<bool>(form.bitmap));
        BitmapImage fromClipboard;
        fromClipboard.LoadFromClipboardFormat(form.bitmap.Get(), form.palette.Get());
        Check(fromClipboard.Width() == picture.Width() && fromClipboard.Height() == picture.Height());
        const std::string sent = Bytes(fromClipboard);
        Check(Reread(sent) == sent);
    }
    Check(desktop.gdi().LiveObjects() == 0);
    return 0;
}
