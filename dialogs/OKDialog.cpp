#include "dialogs/OKDialog.h"

#include <algorithm>

#include "dialogs/DialogLook.h"
#include "platform/Desktop.h"

namespace zumelko {

TForm2* Form2 = nullptr;

namespace {

constexpr int kWidth = 427;
constexpr int kHeight = 141;
constexpr int kMargin = 32;  // around the text, left and right alike
constexpr int kLineHeight = 20;

}  // namespace

TForm2::TForm2(Component* owner) : Form(owner) {
    ApplyDialogLook(*this, "Form2", kWidth, kHeight, true);
    SetShowsIcon(true);
    Bevel1 = &Place(AddControl<Bevel>("Bevel1"), 9, 8, kWidth - 18, 88);
    Button1 = &MakeButton(*this, "Button1", "OK", mrOk, (kWidth - kButtonWidth) / 2, 106, 0);
    Label1 = &MakeLabel(*this, "Label1", "", kMargin, kMargin, 16);
    LoadComponents();
}

int TForm2::ShowNotice(const std::string& text) {
    if (Showing()) return 0;
    Label1->SetCaption(text);
    FitText();
    SimpleBeep();
    return ShowModal();
}

void TForm2::FitText() {
    platform::UiHost& ui = platform::Current().ui();
    const platform::Extent screen = ui.LargestClientArea();
    const platform::Extent line = ui.MeasureCaption(Label1->GetFont(), Label1->Caption(), 0);
    const int width = std::clamp(line.width + 2 * kMargin, kWidth, std::max(kWidth, screen.width));
    const bool wrap = line.width + 2 * kMargin > width;
    const platform::Extent text =
        wrap ? ui.MeasureCaption(Label1->GetFont(), Label1->Caption(), width - 2 * kMargin) : line;
    // Beyond the screen's height the rest of a (most unlikely) notice is cut off.
    const int extra = std::clamp(text.height - kLineHeight, 0, std::max(0, screen.height - kHeight));
    SetClientSize(width, kHeight + extra);
    Bevel1->SetBounds(9, 8, width - 18, 88 + extra);
    Button1->SetBounds((width - kButtonWidth) / 2, 106 + extra, kButtonWidth, kButtonHeight);
    Label1->SetWordWrap(wrap);
    Label1->SetBounds(kMargin, kMargin, wrap ? width - 2 * kMargin : 0, kLineHeight + extra);
}

}  // namespace zumelko
