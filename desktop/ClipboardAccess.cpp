#include "desktop/ClipboardAccess.h"

#include "desktop/BitmapImage.h"
#include "framework/SharedText.h"
#include "platform/Desktop.h"

namespace zumelko {

ClipboardAccess::~ClipboardAccess() {
    if (openCount_ > 0) {
        openCount_ = 1;
        Close();
    }
}

void ClipboardAccess::Open() {
    if (openCount_ == 0) {
        auto& desktop = platform::Current();
        ownerWindow_ = desktop.shell().ApplicationWindow();
        ownWindow_ = ownerWindow_ == 0;
        // Without a window of the application's own, the clipboard is held by a hidden one.
        if (ownWindow_) ownerWindow_ = desktop.loop().CreateHiddenWindow([](std::uint32_t, platform::WParam, platform::LParam) {
            return platform::LResult{0};
        });
        desktop.clipboard().OpenClipboard(ownerWindow_);  // a refusal shows as missing data
        emptied_ = false;
        changed_ = false;
    }
    ++openCount_;
}

void ClipboardAccess::Close() {
    if (openCount_ == 0) return;
    if (--openCount_ > 0) return;
    auto& desktop = platform::Current();
    // The close tells the chain at once, and a viewer may open the clipboard through this very
    // object meanwhile: the period is wound up before it, and only its own window destroyed after.
    if (changed_) ++commits_;
    changed_ = false;
    const bool ownWindow = ownWindow_;
    const platform::Hwnd window = ownerWindow_;
    ownWindow_ = false;
    ownerWindow_ = 0;
    desktop.clipboard().CloseClipboard();
    if (ownWindow) desktop.loop().DestroyWindow(window);
}

void ClipboardAccess::Clear() {
    Scope open(*this);
    if (platform::Current().clipboard().EmptyClipboard()) changed_ = true;
}

void ClipboardAccess::EmptyOnce() {
    if (openCount_ > 0 && !emptied_) {
        Clear();
        emptied_ = true;
    }
}

bool ClipboardAccess::HasFormat(std::uint32_t format) const {
    return platform::Current().clipboard().IsClipboardFormatAvailable(format);
}

std::string ClipboardAccess::GetText() {
    Scope open(*this);
    const auto block = platform::Current().clipboard().GetText();
    if (!block) return {};
    return block->substr(0, block->find('\0'));
}

void ClipboardAccess::SetText(std::string_view text) {
    Scope open(*this);
    std::string bytes;
    bytes.reserve(text.size() + 1);
    bytes.append(text);
    bytes.push_back('\0');
    EmptyOnce();
    if (platform::Current().clipboard().SetText(bytes)) changed_ = true;
}

void ClipboardAccess::SetText(const SharedText& text) {
    Scope open(*this);
    EmptyOnce();
    platform::Current().clipboard().SetText(text.ViewWithNul());
}

std::string ClipboardAccess::GetUnicodeText() {
    Scope open(*this);
    const auto block = platform::Current().clipboard().GetUnicodeText();
    if (!block) return {};
    return block->substr(0, block->find('\0'));
}

void ClipboardAccess::SetUnicodeText(const SharedText& utf8) {
    Scope open(*this);
    EmptyOnce();
    if (platform::Current().clipboard().SetUnicodeText(utf8.ViewWithNul())) changed_ = true;
}

bool ClipboardAccess::IsSecret() {
    Scope open(*this);
    return platform::Current().clipboard().IsMarkedSecret();
}

void ClipboardAccess::MarkSecret() {
    Scope open(*this);
    if (platform::Current().clipboard().MarkSecret()) changed_ = true;
}

void ClipboardAccess::GetBitmap(BitmapImage& picture) {
    Scope open(*this);
    auto& clipboard = platform::Current().clipboard();
    const platform::Hbitmap bitmap = clipboard.GetBitmap();
    const platform::Hpalette palette = clipboard.GetPalette();
    picture.LoadFromClipboardFormat(bitmap, palette);
}

void ClipboardAccess::PutBitmap(const BitmapImage& picture) {
    Scope open(*this);
    // The copies are made before the clipboard is emptied, so a picture that cannot be made
    // does not cost the clipboard what it held.
    BitmapImage::ClipboardFormat form = picture.SaveToClipboardFormat();
    EmptyOnce();
    auto& clipboard = platform::Current().clipboard();
    // What the clipboard refuses stays ours and goes with form.
    if (form.bitmap && clipboard.SetBitmap(form.bitmap.Get())) {
        form.bitmap.Release();
        changed_ = true;
    }
    if (form.palette && clipboard.SetPalette(form.palette.Get())) {
        form.palette.Release();
        changed_ = true;
    }
}

}  // namespace zumelko
