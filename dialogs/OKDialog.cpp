#include "dialogs/OKDialog.h"

#include "dialogs/DialogLook.h"

namespace zumelko {

TForm2* Form2 = nullptr;

TForm2::TForm2(Component* owner) : Form(owner) {
    ApplyDialogLook(*this, "Form2", 427, 141, true);
    SetShowsIcon(true);
    Bevel1 = &Place(AddControl<Bevel>("Bevel1"), 9, 8, 409, 88);
    Button1 = &MakeButton(*this, "Button1", "OK", mrOk, (427 - kButtonWidth) / 2, 106, 0);
    // One line however long: the label sizes itself to its text and never wraps.
    Label1 = &MakeLabel(*this, "Label1", "", 32, 32, 16);
    LoadComponents();
}

int TForm2::ShowNotice(const std::string& text) {
    if (Showing()) return 0;
    Label1->SetCaption(text);
    SimpleBeep();
    return ShowModal();
}

}  // namespace zumelko
