#include "dialogs/PreviewDialog.h"

#include <memory>

#include "dialogs/DialogLook.h"

namespace zumelko {

TForm6* Form6 = nullptr;

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the UTF-8 sequence that starts with c, 0 for a byte that starts none.
std::size_t Utf8Length(unsigned char c) {
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 0;
}

// The end of the last whole UTF-8 character at or before limit, or npos when the bytes
// before limit are not UTF-8.
std::size_t Utf8Cut(std::string_view text, std::size_t limit) {
    std::size_t i = 0;
    while (i < limit) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = Utf8Length(c);
        if (n == 0) return std::string_view::npos;
        if (i + n > limit) return i;
        for (std::size_t k = 1; k < n; ++k)
            if (i + k >= text.size() || !IsContinuation(static_cast<unsigned char>(text[i + k])))
                return std::string_view::npos;
        i += n;
    }
    return i;
}

// Lead bytes of the double-byte code page received texts use when they are not UTF-8.
bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::size_t DoubleByteCut(std::string_view text, std::size_t limit) {
    std::size_t i = 0;
    while (i < limit) {
        const std::size_t n = IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + n > limit) break;
        i += n;
    }
    return i;
}

}  // namespace

std::size_t PreviewCut(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    // A line end is a cut in every encoding: CR and LF are never part of a double-byte
    // character.
    const std::size_t lineEnd = text.substr(0, limit + 1).find_last_of("\r\n");
    if (lineEnd != std::string_view::npos && lineEnd >= limit / 2) {
        std::size_t cut = lineEnd;
        if (text[cut] == '\n' && cut > 0 && text[cut - 1] == '\r') --cut;
        return cut;
    }
    const std::size_t utf8 = Utf8Cut(text, limit);
    return utf8 != std::string_view::npos ? utf8 : DoubleByteCut(text, limit);
}

TForm6::TForm6(Component* owner) : Form(owner) {
    ApplyDialogLook(*this, "Form6", 302, 333, true);
    Button1 = &MakeButton(*this, "Button1", "OK", mrOk, (302 - kButtonWidth) / 2, 298, 0);
    PageControl1 = &Place(AddControl<PageControl>("PageControl1"), 6, 8, 289, 279);
    PageControl1->SetTabStop(false);
    TabSheet1 = &Place(AddControl<TabSheet>("TabSheet1", PageControl1), 0, 0, 281, 271);
    TabSheet1->SetTabVisible(false);
    TabSheet2 = &Place(AddControl<TabSheet>("TabSheet2", PageControl1), 0, 0, 281, 271);
    TabSheet2->SetTabVisible(false);
    PageControl1->AddPage(*TabSheet1);
    PageControl1->AddPage(*TabSheet2);
    PageControl1->SetActivePage(TabSheet2);
    Memo1 = &Place(AddControl<Memo>("Memo1", TabSheet2), 0, 0, 280, 264, 1);
    Memo1->SetFont(DialogFont(16));
    Memo1->AddLine("");
    Image1 = &Place(AddControl<Image>("Image1", TabSheet1), 3, 3, 275, 264);
    Image1->SetStretch(true);
    LoadComponents();
}

int TForm6::ShowBitmap(const BitmapImage& picture) {
    if (Showing()) return 0;
    auto copy = std::make_shared<BitmapImage>();
    copy->Assign(&picture);
    Image1->SetPicture(std::move(copy));
    PageControl1->SetActivePage(TabSheet1);
    SimpleBeep();
    return ShowModal();
}

int TForm6::ShowText(std::string_view text) {
    if (Showing()) return 0;
    Memo1->ClearLines();
    if (text.size() <= kPreviewLimit) {
        Memo1->AddLine(std::string(text));
    } else {
        Memo1->AddLine(std::string(text.substr(0, PreviewCut(text, kPreviewLimit))));
        Memo1->AddLine(kPreviewCutLine);
    }
    PageControl1->SetActivePage(TabSheet2);
    SimpleBeep();
    return ShowModal();
}

}  // namespace zumelko
