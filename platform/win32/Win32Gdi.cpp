#include "platform/win32/Win32Gdi.h"

#include <cstring>
#include <vector>

#include "platform/Dib.h"
#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

static_assert(sizeof(PALETTEENTRY) == sizeof(PaletteEntry));

int Win32Gdi::DisplayBitsPerPixel() {
    ScreenDc dc;
    return ::GetDeviceCaps(dc.get(), BITSPIXEL) * ::GetDeviceCaps(dc.get(), PLANES);
}

int Win32Gdi::SystemPaletteSize() {
    ScreenDc dc;
    if ((::GetDeviceCaps(dc.get(), RASTERCAPS) & RC_PALETTE) == 0) return 0;
    return ::GetDeviceCaps(dc.get(), SIZEPALETTE);
}

std::vector<PaletteEntry> Win32Gdi::SystemPaletteEntries(int start, int count) {
    if (start < 0 || count <= 0) return {};
    ScreenDc dc;
    std::vector<PALETTEENTRY> raw(static_cast<std::size_t>(count));
    const UINT got = ::GetSystemPaletteEntries(dc.get(), static_cast<UINT>(start), static_cast<UINT>(count), raw.data());
    std::vector<PaletteEntry> out;
    out.reserve(got);
    for (UINT i = 0; i < got && i < raw.size(); ++i) {
        out.push_back({raw[i].peRed, raw[i].peGreen, raw[i].peBlue, raw[i].peFlags});
    }
    return out;
}

Hbitmap Win32Gdi::CreateBitmap(int width, int height, bool monochrome) {
    if (monochrome) return FromHandle(::CreateBitmap(width, height, 1, 1, nullptr));
    ScreenDc dc;
    return FromHandle(::CreateCompatibleBitmap(dc.get(), width, height));
}

bool Win32Gdi::GetObject(Hbitmap bitmap, BitmapInfo& info) {
    if (bitmap == 0 || ::GetObjectType(AsHandle<HGDIOBJ>(bitmap)) != OBJ_BITMAP) return false;
    BITMAP bm{};
    if (::GetObjectA(AsHandle<HGDIOBJ>(bitmap), sizeof bm, &bm) != sizeof bm) return false;
    info.width = bm.bmWidth;
    info.height = bm.bmHeight;
    info.planes = bm.bmPlanes;
    info.bitsPerPixel = bm.bmBitsPixel;
    return true;
}

bool Win32Gdi::CopyBitmap(Hbitmap destination, Hbitmap source, Hpalette palette) {
    BitmapInfo d, s;
    if (!GetObject(destination, d) || !GetObject(source, s)) return false;
    ScreenDc screen;
    UniqueMemoryDc to(::CreateCompatibleDC(screen.get()));
    UniqueMemoryDc from(::CreateCompatibleDC(screen.get()));
    if (!to || !from) return false;
    SelectedObject toBitmap(to.get(), AsHandle<HGDIOBJ>(destination));
    SelectedObject fromBitmap(from.get(), AsHandle<HGDIOBJ>(source));
    if (!toBitmap.ok() || !fromBitmap.ok()) return false;
    SelectedPalette toPalette(to.get(), AsHandle<HPALETTE>(palette));
    SelectedPalette fromPalette(from.get(), AsHandle<HPALETTE>(palette));
    ::PatBlt(to.get(), 0, 0, d.width, d.height, WHITENESS);
    return ::BitBlt(to.get(), 0, 0, s.width, s.height, from.get(), 0, 0, SRCCOPY) != FALSE;
}

Hpalette Win32Gdi::CreatePalette(const std::vector<PaletteEntry>& entries) {
    if (entries.empty() || entries.size() > 65535) return 0;
    std::vector<std::uint8_t> block(sizeof(LOGPALETTE) + entries.size() * sizeof(PALETTEENTRY));
    auto* log = reinterpret_cast<LOGPALETTE*>(block.data());
    log->palVersion = 0x300;
    log->palNumEntries = static_cast<WORD>(entries.size());
    auto* out = reinterpret_cast<PALETTEENTRY*>(block.data() + offsetof(LOGPALETTE, palPalEntry));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out[i] = PALETTEENTRY{entries[i].red, entries[i].green, entries[i].blue, entries[i].flags};
    }
    return FromHandle(::CreatePalette(log));
}

std::vector<PaletteEntry> Win32Gdi::GetPaletteEntries(Hpalette palette) {
    HPALETTE h = AsHandle<HPALETTE>(palette);
    if (h == nullptr || ::GetObjectType(h) != OBJ_PAL) return {};
    WORD count = 0;
    if (::GetObjectA(h, sizeof count, &count) == 0 || count == 0) return {};
    std::vector<PALETTEENTRY> raw(count);
    const UINT got = ::GetPaletteEntries(h, 0, count, raw.data());
    std::vector<PaletteEntry> out;
    for (UINT i = 0; i < got; ++i) out.push_back({raw[i].peRed, raw[i].peGreen, raw[i].peBlue, raw[i].peFlags});
    return out;
}

Hbitmap Win32Gdi::CreateDIBitmap(const std::uint8_t* headerAndTable, std::size_t headerAndTableSize,
                                 const std::uint8_t* pixels, std::size_t pixelSize, Hpalette palette) {
    // The bytes come from the network: GDI gets them only when they hold what the header says.
    if (headerAndTable == nullptr || pixels == nullptr) return 0;
    const auto layout = dib::ParseHeader(headerAndTable, headerAndTableSize);
    if (!layout || !dib::PixelBytes(*layout, pixels, pixelSize)) return 0;
    ScreenDc screen;
    SelectedPalette selected(screen.get(), AsHandle<HPALETTE>(palette));
    // The header may sit anywhere in a received packet: GDI reads it from an aligned copy.
    std::vector<DWORD> aligned((layout->TableEnd() + sizeof(DWORD) - 1) / sizeof(DWORD) + 1);
    std::memcpy(aligned.data(), headerAndTable, layout->TableEnd());
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(aligned.data());
    const auto* info = reinterpret_cast<const BITMAPINFO*>(aligned.data());
    return FromHandle(::CreateDIBitmap(screen.get(), header, CBM_INIT, pixels, info, DIB_RGB_COLORS));
}

bool Win32Gdi::GetDIBits(Hbitmap bitmap, Hpalette palette, std::uint8_t* headerAndTable, std::uint8_t* pixels) {
    if (headerAndTable == nullptr || pixels == nullptr) return false;
    BitmapInfo info;
    if (!GetObject(bitmap, info)) return false;
    ScreenDc screen;
    UniqueMemoryDc dc(::CreateCompatibleDC(screen.get()));
    if (!dc) return false;
    SelectedPalette selected(dc.get(), AsHandle<HPALETTE>(palette));
    auto* bmi = reinterpret_cast<BITMAPINFO*>(headerAndTable);
    return ::GetDIBits(dc.get(), AsHandle<HBITMAP>(bitmap), 0, static_cast<UINT>(info.height), pixels, bmi,
                       DIB_RGB_COLORS) != 0;
}

bool Win32Gdi::DeleteObject(std::uintptr_t object) {
    return object != 0 && ::DeleteObject(AsHandle<HGDIOBJ>(object)) != FALSE;
}

}  // namespace zumelko::platform::win32
