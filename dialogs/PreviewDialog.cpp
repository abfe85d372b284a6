#include "dialogs/PreviewDialog.h"

#include <memory>

#include "dialogs/DialogLook.h"

namespace zumelko {

TForm6* Form6 = nullptr;

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

int TForm6::ShowText(const std::string& text) {
    if (Showing()) return 0;
    Memo1->ClearLines();
    Memo1->AddLine(text);
    PageControl1->SetActivePage(TabSheet2);
    SimpleBeep();
    return ShowModal();
}

}  // namespace zumelko
