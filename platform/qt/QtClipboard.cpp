#include "platform/qt/QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "platform/qt/Charset.h"

namespace zumelko::platform::qt {

QtClipboard::QtClipboard(QtLoop& loop, QtGdi& gdi)
    : loop_(loop), gdi_(gdi), clipboard_(QGuiApplication::clipboard()) {
    connection_ = QObject::connect(clipboard_, &QClipboard::dataChanged, [this] { OutsideChange(); });
}

QtClipboard::~QtClipboard() {
    QObject::disconnect(connection_);
    DropHandles();
}

bool QtClipboard::OpenClipboard(Hwnd owner) {
    if (open_) return owner == openOwner_;
    open_ = true;
    openOwner_ = owner;
    changed_ = false;
    staged_ = owned_ ? *owned_ : Content{};
    return true;
}

bool QtClipboard::CloseClipboard() {
    if (!open_) return false;
    open_ = false;
    openOwner_ = 0;
    if (changed_) {
        changed_ = false;
        Commit();
    }
    staged_ = {};
    return true;
}

bool QtClipboard::EmptyClipboard() {
    if (!open_) return false;
    staged_ = {};
    changed_ = true;
    return true;
}

const QtClipboard::Content* QtClipboard::Own() const {
    if (open_ && changed_) return &staged_;
    if (owned_) return &*owned_;
    return nullptr;
}

bool QtClipboard::IsClipboardFormatAvailable(std::uint32_t format) {
    if (const Content* c = Own()) {
        if (format == CF_TEXT_) return c->text.has_value();
        if (format == CF_BITMAP_) return c->bitmap.has_value();
        if (format == CF_PALETTE_) return c->bitmap.has_value() && !c->palette.empty();
        return false;
    }
    const QMimeData* data = clipboard_->mimeData();
    if (data == nullptr) return false;
    if (format == CF_TEXT_) return data->hasText();
    if (format == CF_BITMAP_) return data->hasImage();
    return false;
}

std::optional<std::string> QtClipboard::GetText() {
    if (!open_) return std::nullopt;
    if (const Content* c = Own()) return c->text;
    const QMimeData* data = clipboard_->mimeData();
    if (data == nullptr || !data->hasText()) return std::nullopt;
    std::string bytes = ToLocale(data->text());
    if (auto nul = bytes.find('\0'); nul != std::string::npos) bytes.resize(nul);
    return bytes;
}

bool QtClipboard::SetText(std::string_view bytesWithNul) {
    if (!open_) return false;
    const auto nul = bytesWithNul.find('\0');
    staged_.text = std::string(nul == std::string_view::npos ? bytesWithNul : bytesWithNul.substr(0, nul));
    changed_ = true;
    return true;
}

Hbitmap QtClipboard::GetBitmap() {
    if (!open_) return 0;
    if (bitmapHandle_ != 0 && gdi_.Bitmap(bitmapHandle_) != nullptr) return bitmapHandle_;
    QImage image;
    if (const Content* c = Own()) {
        if (!c->bitmap) return 0;
        image = *c->bitmap;  // shared, not copied
    } else {
        const QMimeData* data = clipboard_->mimeData();
        if (data == nullptr || !data->hasImage()) return 0;
        image = qvariant_cast<QImage>(data->imageData());
    }
    if (image.isNull()) return 0;
    bitmapHandle_ = gdi_.Adopt(std::move(image));
    if (bitmapHandle_ != 0) handedOut_.push_back(bitmapHandle_);
    return bitmapHandle_;
}

Hpalette QtClipboard::GetPalette() {
    if (!open_) return 0;
    if (paletteHandle_ != 0 && gdi_.Palette(paletteHandle_) != nullptr) return paletteHandle_;
    const Content* c = Own();
    if (c == nullptr || !c->bitmap || c->palette.empty()) return 0;
    paletteHandle_ = gdi_.CreatePalette(c->palette);
    if (paletteHandle_ != 0) handedOut_.push_back(paletteHandle_);
    return paletteHandle_;
}

bool QtClipboard::SetBitmap(Hbitmap bitmap) {
    if (!open_) return false;
    std::optional<QImage> image = gdi_.Take(bitmap);
    if (!image) return false;
    staged_.bitmap = std::move(*image);
    changed_ = true;
    return true;
}

bool QtClipboard::SetPalette(Hpalette palette) {
    if (!open_) return false;
    const auto* entries = gdi_.Palette(palette);
    if (entries == nullptr) return false;
    staged_.palette = *entries;
    gdi_.DeleteObject(palette);
    changed_ = true;
    return true;
}

Hwnd QtClipboard::SetClipboardViewer(Hwnd viewer) {
    const Hwnd previous = head_;
    head_ = viewer;
    // A window that joins the chain is told at once, as it joins.
    loop_.SendMessage(viewer, WM_DRAWCLIPBOARD_, 0, 0);
    return previous;
}

bool QtClipboard::ChangeClipboardChain(Hwnd remove, Hwnd next) {
    if (head_ == 0) return false;
    if (head_ == remove) {
        head_ = next;
        return true;
    }
    loop_.SendMessage(head_, WM_CHANGECBCHAIN_, static_cast<WParam>(remove), static_cast<LParam>(next));
    return true;
}

void QtClipboard::Commit() {
    DropHandles();
    committing_ = true;
    // An emptied clipboard is taken over with no data at all, so that what another program
    // offered before is gone for everyone, as after emptying it anywhere else.
    auto data = std::make_unique<QMimeData>();
    if (staged_.text) data->setText(FromLocale(*staged_.text));
    if (staged_.bitmap) {
        // Other programs get the picture in colour whatever the display's format.
        if (staged_.bitmap->format() == QImage::Format_Mono || staged_.bitmap->format() == QImage::Format_Indexed8)
            data->setImageData(staged_.bitmap->convertToFormat(QImage::Format_RGB32));
        else
            data->setImageData(*staged_.bitmap);
    }
    owned_ = std::move(staged_);
    clipboard_->setMimeData(data.release());  // Qt owns it from here
    committing_ = false;
    staged_ = {};
    Notify();
}

// Qt's report of a clipboard change. The program's own commits are reported by Commit; an
// echo of them (Qt tells of them again when the X server confirms the ownership) is recognised
// by the program still owning what it committed.
void QtClipboard::OutsideChange() {
    if (committing_) return;
    if (owned_ && clipboard_->ownsClipboard()) {
        const QMimeData* data = clipboard_->mimeData();
        // Our own widgets (a copy from the preview's text) replace the data while we own it.
        const bool ours = data != nullptr && data->hasText() == owned_->text.has_value() &&
                          data->hasImage() == owned_->bitmap.has_value() &&
                          (!owned_->text || ToLocale(data->text()) == *owned_->text);
        if (ours) return;
    }
    owned_.reset();
    DropHandles();
    Notify();
}

void QtClipboard::Notify() {
    ++notifications_;
    if (head_ != 0) loop_.PostMessage(head_, WM_DRAWCLIPBOARD_, 0, 0);
}

void QtClipboard::DropHandles() {
    for (std::uintptr_t h : handedOut_) gdi_.DeleteObject(h);
    handedOut_.clear();
    bitmapHandle_ = 0;
    paletteHandle_ = 0;
}

}  // namespace zumelko::platform::qt
