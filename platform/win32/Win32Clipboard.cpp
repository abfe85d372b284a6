#include "platform/win32/Win32Clipboard.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Text.h"

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

namespace {

// Sets a block of `size` bytes in one format, written by `fill` (the block comes zeroed); false
// when it could not be made or set, and then nothing is left allocated. The text is written
// straight into the block: a large text is not held once more on its way.
template <typename Fill>
bool PutBlock(UINT format, std::size_t size, Fill&& fill) {
    UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size == 0 ? 1 : size));
    if (!block) return false;
    {
        GlobalLockGuard lock(block.get());
        if (lock.get() == nullptr) return false;
        fill(lock.get());
    }
    if (::SetClipboardData(format, block.get()) == nullptr) return false;
    // The clipboard owns the block now.
    block.release();
    return true;
}

}  // namespace

bool Win32Clipboard::SetText(std::string_view bytesWithNul) {
    return PutBlock(CF_TEXT, bytesWithNul.size(), [&](void* at) {
        if (!bytesWithNul.empty()) std::memcpy(at, bytesWithNul.data(), bytesWithNul.size());
    });
}

std::optional<std::string> Win32Clipboard::GetUnicodeText() {
    HANDLE h = ::GetClipboardData(CF_UNICODETEXT);
    if (h == nullptr) return std::nullopt;
    GlobalLockGuard lock(h);
    const auto* wide = static_cast<const wchar_t*>(lock.get());
    if (wide == nullptr) return std::nullopt;
    // Up to its NUL, within the block.
    const std::size_t room = ::GlobalSize(h) / sizeof(wchar_t);
    std::size_t units = 0;
    while (units < room && wide[units] != L'\0') ++units;
    return Utf8Of(wide, units, std::string::npos);
}

bool Win32Clipboard::SetUnicodeText(std::string_view utf8WithNul) {
    std::string_view text = utf8WithNul;
    if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
    if (text.size() >= static_cast<std::size_t>(INT_MAX)) return false;
    // Unicode text for the programs that read it, and the code page's best rendering of it as
    // the text, both in the one change that the caller's open and close make.
    const int n = static_cast<int>(text.size());
    const int units = n == 0 ? 0 : ::MultiByteToWideChar(CP_UTF8, 0, text.data(), n, nullptr, 0);
    const bool unicode = PutBlock(CF_UNICODETEXT, (static_cast<std::size_t>(units) + 1) * sizeof(wchar_t), [&](void* at) {
        if (units > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), n, static_cast<wchar_t*>(at), units);
    });
    if (!unicode) return false;
    if (units == 0) return PutBlock(CF_TEXT, 1, [](void*) {});
    // Rendered from the block the clipboard now holds, locked again for it.
    HANDLE held = ::GetClipboardData(CF_UNICODETEXT);
    GlobalLockGuard lock(held);
    const auto* wide = static_cast<const wchar_t*>(lock.get());
    if (wide == nullptr) return false;
    const int size = ::WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    return PutBlock(CF_TEXT, static_cast<std::size_t>(size) + 1, [&](void* at) {
        ::WideCharToMultiByte(CP_ACP, 0, wide, units, static_cast<char*>(at), size, nullptr, nullptr);
    });
}

Hbitmap Win32Clipboard::GetBitmap() { return FromHandle(::GetClipboardData(CF_BITMAP)); }

Hpalette Win32Clipboard::GetPalette() { return FromHandle(::GetClipboardData(CF_PALETTE)); }

bool Win32Clipboard::SetBitmap(Hbitmap bitmap) {
    return ::SetClipboardData(CF_BITMAP, AsHandle<HANDLE>(bitmap)) != nullptr;
}

bool Win32Clipboard::SetPalette(Hpalette palette) {
    return ::SetClipboardData(CF_PALETTE, AsHandle<HANDLE>(palette)) != nullptr;
}

namespace {

// The formats password managers and clipboard tools agree on, registered once per process.
struct SecretFormats {
    UINT exclude = ::RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing");
    UINT viewerIgnore = ::RegisterClipboardFormatA("Clipboard Viewer Ignore");
    UINT history = ::RegisterClipboardFormatA("CanIncludeInClipboardHistory");
    UINT cloud = ::RegisterClipboardFormatA("CanUploadToCloudClipboard");
};

const SecretFormats& Secret() {
    static const SecretFormats formats;
    return formats;
}

// A DWORD format that holds 0: "keep it out". Absent, short or another value says nothing.
bool HoldsZero(UINT format) {
    if (format == 0) return false;
    HANDLE h = ::GetClipboardData(format);
    if (h == nullptr || ::GlobalSize(h) < sizeof(DWORD)) return false;
    GlobalLockGuard lock(h);
    if (lock.get() == nullptr) return false;
    DWORD value = 1;
    std::memcpy(&value, lock.get(), sizeof value);
    return value == 0;
}

}  // namespace

bool Win32Clipboard::IsMarkedSecret() {
    if (!open_) return false;
    const SecretFormats& f = Secret();
    for (UINT present : {f.exclude, f.viewerIgnore}) {
        if (present != 0 && ::IsClipboardFormatAvailable(present) != FALSE) return true;
    }
    return HoldsZero(f.history) || HoldsZero(f.cloud);
}

bool Win32Clipboard::MarkSecret() {
    if (!open_) return false;
    const SecretFormats& f = Secret();
    const DWORD zero = 0;
    bool ok = f.exclude != 0 && PutBlock(f.exclude, 0, [](void*) {});
    for (UINT format : {f.history, f.cloud}) {
        ok = format != 0 && PutBlock(format, sizeof zero, [&](void* at) { std::memcpy(at, &zero, sizeof zero); }) && ok;
    }
    return ok;
}

Hwnd Win32Clipboard::SetClipboardViewer(Hwnd viewer) {
    return FromHandle(::SetClipboardViewer(AsHandle<HWND>(viewer)));
}

bool Win32Clipboard::ChangeClipboardChain(Hwnd remove, Hwnd next) {
    return ::ChangeClipboardChain(AsHandle<HWND>(remove), AsHandle<HWND>(next)) != FALSE;
}

}  // namespace zumelko::platform::win32
