#include "platform/win32/Win32Clipboard.h"

#include <cstring>

#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

static_assert(CF_TEXT_ == CF_TEXT && CF_BITMAP_ == CF_BITMAP && CF_PALETTE_ == CF_PALETTE);

bool Win32Clipboard::OpenClipboard(Hwnd owner) {
    if (open_ && owner != openOwner_) return false;
    if (::OpenClipboard(AsHandle<HWND>(owner)) == FALSE) return false;
    open_ = true;
    openOwner_ = owner;
    return true;
}

bool Win32Clipboard::CloseClipboard() {
    open_ = false;
    openOwner_ = 0;
    return ::CloseClipboard() != FALSE;
}

bool Win32Clipboard::EmptyClipboard() { return ::EmptyClipboard() != FALSE; }

bool Win32Clipboard::IsClipboardFormatAvailable(std::uint32_t format) {
    return ::IsClipboardFormatAvailable(format) != FALSE;
}

std::optional<std::string> Win32Clipboard::GetText() {
    HANDLE h = ::GetClipboardData(CF_TEXT);
    if (h == nullptr) return std::nullopt;
    GlobalLockGuard lock(h);
    if (lock.get() == nullptr) return std::nullopt;
    return std::string(static_cast<const char*>(lock.get()), ::GlobalSize(h));
}

bool Win32Clipboard::SetText(std::string_view bytesWithNul) {
    UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, bytesWithNul.size() == 0 ? 1 : bytesWithNul.size()));
    if (!block) return false;
    {
        GlobalLockGuard lock(block.get());
        if (lock.get() == nullptr) return false;
        if (bytesWithNul.empty()) {
            *static_cast<char*>(lock.get()) = '\0';
        } else {
            std::memcpy(lock.get(), bytesWithNul.data(), bytesWithNul.size());
        }
    }
    if (::SetClipboardData(CF_TEXT, block.get()) == nullptr) return false;
    // The clipboard owns the block now.
    block.release();
    return true;
}

Hbitmap Win32Clipboard::GetBitmap() { return FromHandle(::GetClipboardData(CF_BITMAP)); }

Hpalette Win32Clipboard::GetPalette() { return FromHandle(::GetClipboardData(CF_PALETTE)); }

bool Win32Clipboard::SetBitmap(Hbitmap bitmap) {
    return ::SetClipboardData(CF_BITMAP, AsHandle<HANDLE>(bitmap)) != nullptr;
}

bool Win32Clipboard::SetPalette(Hpalette palette) {
    return ::SetClipboardData(CF_PALETTE, AsHandle<HANDLE>(palette)) != nullptr;
}

Hwnd Win32Clipboard::SetClipboardViewer(Hwnd viewer) {
    return FromHandle(::SetClipboardViewer(AsHandle<HWND>(viewer)));
}

bool Win32Clipboard::ChangeClipboardChain(Hwnd remove, Hwnd next) {
    return ::ChangeClipboardChain(AsHandle<HWND>(remove), AsHandle<HWND>(next)) != FALSE;
}

}  // namespace zumelko::platform::win32
