#include "dialogs/SendDialog.h"

#include "desktop/NetUtility.h"
#include "dialogs/DialogLook.h"

namespace zumelko {

TForm8* Form8 = nullptr;

TForm8::TForm8(Component* owner) : Form(owner) {
    ApplyDialogLook(*this, "Form8", 427, 123, true);
    Bevel1 = &Place(AddControl<Bevel>("Bevel1"), 8, 8, 411, 65);
    Label1 = &MakeLabel(*this, "Label1", "", 20, 30, 16);
    Label1->SetAutoSize(false);
    Place(*Label1, 20, 30, 148, 20);
    // Neither button answers Enter or Esc.
    Button1 = &MakeButton(*this, "Button1", "OK", mrOk, 104, 86, 0);
    Button2 = &MakeButton(*this, "Button2", "Cancel", mrCancel, 248, 86, 1);
    ComboBox1 = &Place(AddControl<ComboBox>("ComboBox1"), 172, 28, 121, 24, 2);
    NetUtility1 = &Create<TNetUtility>();
    NetUtility1->SetName("NetUtility1");
    Button3 = &MakeButton(*this, "Button3", "更新", mrNone, 336, 28, 3, 67);
    Button3->OnClick = {this, &TForm8::Button3Click};
    LoadComponents();

    NetUtility1->Detect();
    FillMachineList();
}

void TForm8::FillMachineList() {
    for (int i = 0; i < NetUtility1->Count(); ++i) ComboBox1->AddItem(NetUtility1->MachineName(i));
}

void TForm8::Button3Click(Component*) {
    ComboBox1->Clear();
    NetUtility1->Detect();
    FillMachineList();
}

int TForm8::ShowChooser(const std::string& initialText) {
    if (Showing()) return 0;
    ComboBox1->SetText(initialText);
    return ShowModal();
}

}  // namespace zumelko
