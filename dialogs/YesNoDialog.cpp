#include "dialogs/YesNoDialog.h"

#include "dialogs/DialogLook.h"
#include "dialogs/ReceiveDialog.h"

namespace zumelko {

TForm3* Form3 = nullptr;

TForm3::TForm3(Component* owner) : Form(owner) {
    ApplyDialogLook(*this, "Form3", 427, 204, true);
    Bevel1 = &Place(AddControl<Bevel>("Bevel1"), 8, 8, 411, 145);
    Label1 = &MakeLabel(*this, "Label1", kTextReceivedLine, 24, 54, 16);
    Button1 = &MakeButton(*this, "Button1", "YES", mrYes, 104, 168, 0);
    Button2 = &MakeButton(*this, "Button2", "NO", mrNo, 248, 168, 1);
    Label2 = &MakeLabel(*this, "Label2", "", 24, 90, 16);
    Label3 = &MakeLabel(*this, "Label3", "", 24, 18, 16);
    Label3->SetAutoSize(false);
    Place(*Label3, 24, 18, 257, 20);
    // How the item came, as in the receive question.
    // Two lines for an encrypted item: its code, then what the sender's key is.
    Label4 = &MakeLabel(*this, "Label4", "", 24, 110, 16);
    LoadComponents();
}

int TForm3::ShowQuestion(const std::string& question) {
    if (Showing()) return 0;
    Label2->SetCaption(question);
    SimpleBeep();
    return ShowModal();
}

}  // namespace zumelko
