#include "dialogs/BrowserDialog.h"

#include "dialogs/DialogLook.h"

namespace zumelko {

TForm7* Form7 = nullptr;

TForm7::TForm7(Component* owner) : Form(owner) {
    ApplyDialogLook(*this, "Form7", 397, 178, true);
    Bevel1 = &Place(AddControl<Bevel>("Bevel1"), 8, 8, 381, 121);
    Button1 = &MakeButton(*this, "Button1", "YES", mrYes, 96, 142, 0);
    Button2 = &MakeButton(*this, "Button2", "NO", mrNo, 226, 142, 1);
    RadioGroup1 = &Place(AddControl<RadioGroup>("RadioGroup1"), 24, 18, 349, 100, 2);
    RadioGroup1->SetFont(DialogFont(16));
    RadioGroup1->SetCaption("どちらのブラウザにリンクさせますか？");
    RadioGroup1->SetItems({"Netscape Navigater", "Internet Explorer"});
    RadioGroup1->SetItemIndex(0);
    LoadComponents();
}

int TForm7::ShowChoice() {
    if (Showing()) return 0;
    return ShowModal();
}

}  // namespace zumelko
