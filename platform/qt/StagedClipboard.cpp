#include "platform/qt/StagedClipboard.h"

#include <utility>

namespace zumelko::platform::qt {

bool StagedClipboard::OpenClipboard(Hwnd owner) {
    if (open_) return owner == openOwner_;
    open_ = true;
    openOwner_ = owner;
    changed_ = false;
    staged_ = owned_ ? *owned_ : Content{};
    return true;
}

bool StagedClipboard::CloseClipboard() {
    if (!open_) return false;
    open_ = false;
    openOwner_ = 0;
    const bool changed = changed_;
    changed_ = false;
    if (changed) {
        Commit();
    } else {
        staged_ = {};
    }
    return true;
}

bool StagedClipboard::EmptyClipboard() {
    if (!open_) return false;
    staged_ = {};
    changed_ = true;
    return true;
}

bool StagedClipboard::SetText(std::string_view bytesWithNul) {
    if (!open_) return false;
    // The clipboard's one copy of the block, kept whole so it reads back as it was written; its
    // terminating NUL is implied.
    std::string_view block = bytesWithNul;
    if (!block.empty() && block.back() == '\0') block.remove_suffix(1);
    staged_.text = QByteArray(block.data(), static_cast<qsizetype>(block.size()));
    changed_ = true;
    return true;
}

const StagedClipboard::Content* StagedClipboard::Own() const {
    if (open_ && changed_) return &staged_;
    if (owned_) return &*owned_;
    return nullptr;
}

bool StagedClipboard::IsClipboardFormatAvailable(std::uint32_t format) {
    if (const Content* c = Own()) {
        if (format == CF_TEXT_) return c->text.has_value();
        if (format == CF_BITMAP_) return c->bitmap.has_value();
        if (format == CF_PALETTE_) return c->bitmap.has_value() && !c->palette.empty();
        return false;
    }
    return OutsideHas(format);
}

std::optional<std::string> StagedClipboard::GetText() {
    if (!open_) return std::nullopt;
    std::optional<std::string> block;
    if (const Content* c = Own()) {
        if (!c->text) return std::nullopt;
        // The block as it was written.
        block.emplace(c->text->constData(), static_cast<std::size_t>(c->text->size()));
    } else {
        block = OutsideText();
        if (!block) return std::nullopt;
    }
    block->push_back('\0');
    return block;
}

Hbitmap StagedClipboard::GetBitmap() {
    if (!open_) return 0;
    if (bitmapHandle_ != 0 && gdi_.Bitmap(bitmapHandle_) != nullptr) return bitmapHandle_;
    QImage image;
    if (const Content* c = Own()) {
        if (!c->bitmap) return 0;
        image = *c->bitmap;  // shared, not copied
    } else {
        image = OutsideImage();
    }
    if (image.isNull()) return 0;
    bitmapHandle_ = gdi_.Adopt(std::move(image));
    if (bitmapHandle_ != 0) handedOut_.push_back(bitmapHandle_);
    return bitmapHandle_;
}

Hpalette StagedClipboard::GetPalette() {
    if (!open_) return 0;
    if (paletteHandle_ != 0 && gdi_.Palette(paletteHandle_) != nullptr) return paletteHandle_;
    const Content* c = Own();
    if (c == nullptr || !c->bitmap || c->palette.empty()) return 0;
    paletteHandle_ = gdi_.CreatePalette(c->palette);
    if (paletteHandle_ != 0) handedOut_.push_back(paletteHandle_);
    return paletteHandle_;
}

bool StagedClipboard::SetBitmap(Hbitmap bitmap) {
    if (!open_) return false;
    std::optional<QImage> image = gdi_.Take(bitmap);
    if (!image) return false;
    staged_.bitmap = std::move(*image);
    changed_ = true;
    return true;
}

bool StagedClipboard::SetPalette(Hpalette palette) {
    if (!open_) return false;
    const auto* entries = gdi_.Palette(palette);
    if (entries == nullptr) return false;
    staged_.palette = *entries;
    gdi_.DeleteObject(palette);
    changed_ = true;
    return true;
}

bool StagedClipboard::IsMarkedSecret() {
    if (!open_) return false;
    if (const Content* c = Own()) return c->secret;
    return OutsideSecret();
}

bool StagedClipboard::MarkSecret() {
    if (!open_) return false;
    staged_.secret = true;
    changed_ = true;
    return true;
}

Hwnd StagedClipboard::SetClipboardViewer(Hwnd viewer) {
    const Hwnd previous = head_;
    head_ = viewer;
    // A window that joins the chain is told at once, as it joins.
    loop_.SendMessage(viewer, WM_DRAWCLIPBOARD_, 0, 0);
    return previous;
}

bool StagedClipboard::ChangeClipboardChain(Hwnd remove, Hwnd next) {
    if (head_ == remove) head_ = next;
    if (head_ == 0) return true;
    return loop_.SendMessage(head_, WM_CHANGECBCHAIN_, static_cast<WParam>(remove), static_cast<LParam>(next)) != 0;
}

void StagedClipboard::Notify(bool sent) {
    ++notifications_;
    if (head_ == 0) return;
    if (sent) {
        loop_.SendMessage(head_, WM_DRAWCLIPBOARD_, 0, 0);
    } else {
        loop_.PostMessage(head_, WM_DRAWCLIPBOARD_, 0, 0);
    }
}

void StagedClipboard::DropHandles() {
    for (std::uintptr_t h : handedOut_) gdi_.DeleteObject(h);
    handedOut_.clear();
    bitmapHandle_ = 0;
    paletteHandle_ = 0;
}

}  // namespace zumelko::platform::qt
