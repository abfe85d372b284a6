#include "platform/sim/SimClipboard.h"

#include "platform/sim/SimGdi.h"

namespace zumelko::platform::sim {

SimClipboard::~SimClipboard() {
    Free(bitmap_);
    Free(palette_);
}

void SimClipboard::Free(std::uintptr_t& handle) {
    if (handle != 0) gdi_.DeleteObject(handle);
    handle = 0;
}

bool SimClipboard::OpenClipboard(Hwnd owner) {
    if (heldByOther_) return false;
    if (open_) return openedBy_ == owner;
    open_ = true;
    openedBy_ = owner;
    return true;
}

bool SimClipboard::CloseClipboard() {
    if (!open_) return false;
    const bool other = others_.count(openedBy_) != 0;
    open_ = false;
    openedBy_ = 0;
    if (changed_) {
        changed_ = false;
        // Sent after the clipboard is closed, so viewers can read it at once.
        if (head_ != 0) {
            ++notifications_;
            if (other) {
                loop_.PostMessage(head_, WM_DRAWCLIPBOARD_, 0, 0);
            } else {
                loop_.SendMessage(head_, WM_DRAWCLIPBOARD_, 0, 0);
            }
        }
    }
    return true;
}

bool SimClipboard::EmptyClipboard() {
    if (!open_) return false;
    text_.reset();
    Free(bitmap_);
    Free(palette_);
    secret_ = false;
    owner_ = openedBy_;
    changed_ = true;
    return true;
}

bool SimClipboard::IsClipboardFormatAvailable(std::uint32_t format) {
    switch (format) {
    case CF_TEXT_: return text_.has_value();
    case CF_BITMAP_: return bitmap_ != 0;
    case CF_PALETTE_: return palette_ != 0;
    default: return false;
    }
}

std::optional<std::string> SimClipboard::GetText() {
    if (!open_) return std::nullopt;
    return text_;
}

bool SimClipboard::SetText(std::string_view bytesWithNul) {
    if (!open_) return false;
    text_.emplace(bytesWithNul);
    changed_ = true;
    return true;
}

Hbitmap SimClipboard::GetBitmap() { return open_ ? bitmap_ : 0; }

Hpalette SimClipboard::GetPalette() { return open_ ? palette_ : 0; }

bool SimClipboard::SetBitmap(Hbitmap bitmap) {
    if (!open_ || !gdi_.IsBitmap(bitmap)) return false;
    if (bitmap != bitmap_) Free(bitmap_);
    bitmap_ = bitmap;
    changed_ = true;
    return true;
}

bool SimClipboard::SetPalette(Hpalette palette) {
    if (!open_ || !gdi_.IsPalette(palette)) return false;
    if (palette != palette_) Free(palette_);
    palette_ = palette;
    changed_ = true;
    return true;
}

bool SimClipboard::IsMarkedSecret() { return open_ && secret_; }

bool SimClipboard::MarkSecret() {
    if (!open_) return false;
    secret_ = true;
    changed_ = true;
    return true;
}

Hwnd SimClipboard::SetClipboardViewer(Hwnd viewer) {
    const Hwnd previous = head_;
    head_ = viewer;
    loop_.SendMessage(viewer, WM_DRAWCLIPBOARD_, 0, 0);
    return previous;
}

bool SimClipboard::ChangeClipboardChain(Hwnd remove, Hwnd next) {
    if (head_ == remove) head_ = next;
    if (head_ == 0) return true;
    return loop_.SendMessage(head_, WM_CHANGECBCHAIN_, remove, static_cast<LParam>(next)) != 0;
}

}  // namespace zumelko::platform::sim
