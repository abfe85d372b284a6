#include "dialogs/CustomDialog.h"

#include "dialogs/AboutDialog.h"
#include "dialogs/BrowserDialog.h"
#include "dialogs/DialogLook.h"
#include "dialogs/SendDialog.h"
#include "framework/Wipe.h"

namespace zumelko {

TForm4* Form4 = nullptr;

namespace {
// Radio groups here have a 16-pixel caption band and three 24-pixel item rows.
constexpr int kGroupTop1 = 22;
constexpr int kGroupTop2 = 140;
constexpr int kGroupTop3 = 258;
constexpr int kGroupTop4 = 376;
constexpr int kGroupTop5 = kGroupTop4 + 65 + 6;
constexpr int kButtonRow = 546;
constexpr int kGroupLeft = 64;
constexpr int kSecondRowTop = 16 + 24 + 4;
constexpr int kWideGroup = 320;
}  // namespace

TForm4::TForm4(Component* owner) : Form(owner) {
    ApplyDialogLook(*this, "Form4", 417, 587, false);
    Bevel1 = &Place(AddControl<Bevel>("Bevel1"), 8, 8, 401, 112);
    Label1 = &MakeLabel(*this, "Label1", "送信：", 14, 14, 13);
    Bevel2 = &Place(AddControl<Bevel>("Bevel2"), 8, 126, 401, 112);
    Label3 = &MakeLabel(*this, "Label3", "受信：", 14, 132, 13);
    OKBtn = &MakeButton(*this, "OKBtn", "OK", mrOk, 88, kButtonRow, 0);
    OKBtn->SetDefault(true);
    CancelBtn = &MakeButton(*this, "CancelBtn", "ｷｬﾝｾﾙ", mrCancel, 172, kButtonRow, 1);
    CancelBtn->SetCancel(true);
    RadioGroup1 = &Place(AddControl<RadioGroup>("RadioGroup1"), kGroupLeft, kGroupTop1, 260, 90, 2);
    RadioGroup1->SetCaption("クリップボードチェッカー");
    RadioGroup1->SetItems({"有 ： 転送先を毎回選択する", "有 ： デフォルトへ送信する", "チェックしない"});
    RadioGroup1->OnClick = {this, &TForm4::RadioGroup1Click};
    RadioGroup2 = &Place(AddControl<RadioGroup>("RadioGroup2"), kGroupLeft, kGroupTop2, 260, 90, 3);
    RadioGroup2->SetCaption("受信状態");
    RadioGroup2->SetItems({"個別選択 モード", "URL自動 リンクモード", "スリープモード"});
    RadioGroup2->OnClick = {this, &TForm4::RadioGroup2Click};
    Button2 = &MakeButton(*this, "Button2", "About", mrNone, 256, kButtonRow, 4);
    Button2->OnClick = {this, &TForm4::Button2Click};
    // The small "詳細" buttons sit at the right end of their group's second item row.
    Button3 = &MakeButton(*this, "Button3", "詳細", mrNone, kGroupLeft + 260 - 49 - 6, kGroupTop2 + kSecondRowTop, 5, 49);
    Place(*Button3, kGroupLeft + 260 - 49 - 6, kGroupTop2 + kSecondRowTop, 49, 17);
    Button3->SetEnabled(false);
    Button3->OnClick = {this, &TForm4::Button3Click};
    Button1 = &MakeButton(*this, "Button1", "詳細", mrNone, kGroupLeft + 260 - 49 - 6, kGroupTop1 + kSecondRowTop, 6, 49);
    Place(*Button1, kGroupLeft + 260 - 49 - 6, kGroupTop1 + kSecondRowTop, 49, 17);
    Button1->SetEnabled(false);
    Button1->OnClick = {this, &TForm4::Button1Click};
    // Anyone on the network can put a dialog on this screen; here the user can keep that to
    // the machines the program lists and the names added under "詳細".
    Bevel3 = &Place(AddControl<Bevel>("Bevel3"), 8, 244, 401, 112);
    Label4 = &MakeLabel(*this, "Label4", "相手：", 14, 250, 13);
    // Two rows as high as the others' three, and room for the longer second item beside its
    // "詳細" button.
    RadioGroup3 = &Place(AddControl<RadioGroup>("RadioGroup3"), kGroupLeft, kGroupTop3, kWideGroup, 65, 7);
    RadioGroup3->SetCaption("受け取る相手");
    RadioGroup3->SetItems({"だれからでも受け取る", "一覧のマシンと追加した名前だけ"});
    RadioGroup3->OnClick = {this, &TForm4::RadioGroup3Click};
    Button4 = &MakeButton(*this, "Button4", "詳細", mrNone, kGroupLeft + kWideGroup - 49 - 6, kGroupTop3 + kSecondRowTop, 8, 49);
    Place(*Button4, kGroupLeft + kWideGroup - 49 - 6, kGroupTop3 + kSecondRowTop, 49, 17);
    Button4->SetEnabled(false);
    Button4->OnClick = {this, &TForm4::Button4Click};
    // The encryption, below the rest: a team's passphrase (typed, never shown back) and whether
    // anything may travel unencrypted.
    Bevel4 = &Place(AddControl<Bevel>("Bevel4"), 8, 362, 401, 156);
    Label5 = &MakeLabel(*this, "Label5", kSecurityGroupLabel, 14, 368, 13);
    RadioGroup4 = &Place(AddControl<RadioGroup>("RadioGroup4"), kGroupLeft, kGroupTop4, kWideGroup, 65, 9);
    RadioGroup4->SetCaption(kPassphraseCaption);
    RadioGroup4->SetItems({kPassphraseOff, kPassphraseOn});
    RadioGroup4->OnClick = {this, &TForm4::RadioGroup4Click};
    // Beside "使う", as the "詳細" buttons stand beside their items.
    Edit1 = &Place(AddControl<Edit>("Edit1"), kGroupLeft + 96, kGroupTop4 + kSecondRowTop - 2, kWideGroup - 96 - 6, 20, 10);
    Edit1->SetPassword(true);
    Edit1->SetEnabled(false);
    RadioGroup5 = &Place(AddControl<RadioGroup>("RadioGroup5"), kGroupLeft, kGroupTop5, kWideGroup, 65, 11);
    RadioGroup5->SetCaption(kStrictCaption);
    RadioGroup5->SetItems({kStrictOff, kStrictOn});
    // Every group starts at the program's initial setting (no clipboard checker, questions for
    // each item, anyone may send, no passphrase, plain transfers allowed), so that no group is
    // ever shown without its value.
    RadioGroup1->SetItemIndex(2);
    RadioGroup2->SetItemIndex(0);
    RadioGroup3->SetItemIndex(0);
    RadioGroup4->SetItemIndex(0);
    RadioGroup5->SetItemIndex(0);
    LoadComponents();
}

int TForm4::ShowSettings(const std::string& destination, std::uint8_t checkerMode, std::uint8_t receiveMode,
                         std::int32_t browser) {
    if (Showing()) return 0;
    Browser = browser;
    Destination = destination;
    RadioGroup1->SetItemIndex(checkerMode);
    RadioGroup2->SetItemIndex(receiveMode);
    return ShowModal();
}

void TForm4::SetSenders(std::uint8_t senderMode, const std::string& allowedNames) {
    if (Showing()) return;
    AllowedNames = allowedNames;
    RadioGroup3->SetItemIndex(senderMode);
}

void TForm4::SetSecurity(bool hasPassphrase, bool strict) {
    if (Showing()) return;
    Edit1->SetText("");
    RadioGroup4->SetItemIndex(hasPassphrase ? 1 : 0);
    RadioGroup4Click(nullptr);
    RadioGroup5->SetItemIndex(strict ? 1 : 0);
}

void TForm4::RadioGroup4Click(Component*) { Edit1->SetEnabled(RadioGroup4->ItemIndex() == 1); }

std::optional<std::string> TForm4::TakePassphrase() {
    // One copy, the one returned (one return, so it is not moved and left behind); the field's
    // own is wiped as it empties.
    std::optional<std::string> typed(Edit1->Text());
    Edit1->SetText("");
    if (RadioGroup4->ItemIndex() != 1) {
        WipeString(*typed);
    } else if (typed->empty()) {
        // "使う" with the field left empty keeps the passphrase that is set (if any).
        typed.reset();
    }
    return typed;
}

void TForm4::RadioGroup3Click(Component*) { Button4->SetEnabled(RadioGroup3->ItemIndex() == 1); }

void TForm4::Button4Click(Component*) {
    Form8->Label1->SetCaption("追加する名前 ： ");
    if (Form8->ShowChooser(AllowedNames) == mrOk) AllowedNames = Form8->ComboBox1->Text();
}

void TForm4::RadioGroup1Click(Component*) { Button1->SetEnabled(RadioGroup1->ItemIndex() == 1); }

void TForm4::RadioGroup2Click(Component*) { Button3->SetEnabled(RadioGroup2->ItemIndex() == 1); }

void TForm4::Button1Click(Component*) {
    Form8->ComboBox1->SetText(Destination);
    Form8->Label1->SetCaption("デフォルト送信先 ： ");
    if (Form8->ShowChooser(Destination) == mrOk) Destination = Form8->ComboBox1->Text();
}

void TForm4::Button2Click(Component*) { AboutBox->ShowAbout(); }

void TForm4::Button3Click(Component*) {
    Form7->RadioGroup1->SetItemIndex(Browser);
    if (Form7->ShowChoice() == mrYes) Browser = Form7->RadioGroup1->ItemIndex();
}

}  // namespace zumelko
