#include "dialogs/ReceiveDialog.h"

#include "desktop/BrowserLink.h"
#include "desktop/DdeClientConv.h"
#include "dialogs/BrowserDialog.h"
#include "dialogs/DialogLook.h"
#include "dialogs/OKDialog.h"
#include "dialogs/PreviewDialog.h"

namespace zumelko {

TForm5* Form5 = nullptr;

TForm5::TForm5(Component* owner) : Form(owner) {
    ApplyDialogLook(*this, "Form5", 465, 183, true);
    Bevel1 = &Place(AddControl<Bevel>("Bevel1"), 8, 8, 449, 129);
    Label1 = &MakeLabel(*this, "Label1", "", 24, 42, 16);
    // No button answers Enter or Esc: the user has to choose.
    Button1 = &MakeButton(*this, "Button1", "YES", mrYes, 16, 148, 0, 100);
    Button2 = &MakeButton(*this, "Button2", "NO", mrNo, 126, 148, 1, 100);
    Button3 = &MakeButton(*this, "Button3", "プレビュー", mrNone, 236, 148, 2, 100);
    Button3->OnClick = {this, &TForm5::Button3Click};
    Label2 = &MakeLabel(*this, "Label2", "クリップボードに取り込みますか？", 24, 68, 16);
    Button4 = &MakeButton(*this, "Button4", "リンク", mrNone, 346, 148, 3, 100);
    Button4->OnClick = {this, &TForm5::Button4Click};
    DdeClientConv1 = &Create<TDdeClientConv>();
    DdeClientConv1->SetName("DdeClientConv1");
    Label3 = &MakeLabel(*this, "Label3", "", 24, 16, 16);
    Label3->SetAutoSize(false);
    Place(*Label3, 24, 16, 350, 20);
    // How the item came: encrypted with its check code, or not; under the code, on a second
    // line, whether the sender's key is the one it used last.
    Label4 = &MakeLabel(*this, "Label4", "", 24, 94, 16);
    LoadComponents();
}

int TForm5::ShowTextReceived(const SharedText& text, bool secret) {
    ReceivedText = text;
    IsBitmap = false;
    IsSecret = secret;
    Button4->SetEnabled(!secret);
    if (Showing()) return 0;
    Label1->SetCaption(secret ? kSecretReceivedLine : kTextReceivedLine);
    SimpleBeep();
    return ShowModal();
}

int TForm5::ShowBitmapReceived(const BitmapImage& picture, bool secret) {
    ReceivedBitmap.Assign(&picture);
    IsBitmap = true;
    IsSecret = secret;
    Button4->SetEnabled(false);
    if (Showing()) return 0;
    Label1->SetCaption(secret ? kSecretReceivedLine : kPictureReceivedLine);
    SimpleBeep();
    return ShowModal();
}

void TForm5::Button3Click(Component*) {
    if (IsSecret) {
        Form6->ShowText(kSecretPreview);
    } else if (IsBitmap) {
        Form6->ShowBitmap(ReceivedBitmap);
    } else {
        Form6->ShowText(ReceivedText.View());
    }
}

void TForm5::Button4Click(Component*) {
    if (IsBitmap || IsSecret) return;
    // Which browser is a question only for a text a browser may be given at all.
    if (!WebAddress(ReceivedText.View())) {
        Form2->ShowNotice(kNotAWebAddress);
        return;
    }
    if (Form7->ShowChoice() == mrYes) LinkToBrowser();
}

void TForm5::LinkToBrowser() {
    zumelko::LinkToBrowser(*DdeClientConv1, Form7->RadioGroup1->ItemIndex(), ReceivedText.Str(),
                           [](const std::string& notice) { Form2->ShowNotice(notice); });
}

}  // namespace zumelko
