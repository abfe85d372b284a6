#include "dialogs/AboutDialog.h"

#include <string>

#include "dialogs/DialogLook.h"

namespace zumelko {

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(Component* owner) : Form(owner) {
    ApplyDialogLook(*this, "AboutBox", 298, 259, true);
    SetCaption("ﾊﾞｰｼﾞｮﾝ情報");
    Panel1 = &Place(AddControl<Panel>("Panel1"), 8, 8, 281, 204);
    Panel1->SetBevels(BevelKind::Raised, BevelKind::Lowered);
    ProgramIcon = &Place(AddControl<Image>("ProgramIcon", Panel1), 8, 8, 32, 32);
    ProgramIcon->SetShowsProgramIcon(true);
    ProductName = &Place(AddControl<Label>("ProductName", Panel1), 56, 10, 0, 19);
    ProductName->SetCaption("Zumelko");
    ProductName->SetFont(DialogFont(15));
    Version = &Place(AddControl<Label>("Version", Panel1), 56, 30, 0, 16);
    Version->SetCaption("Version 0.90");
    Copyright = &Place(AddControl<Label>("Copyright", Panel1), 8, 52, 0, 17);
    Copyright->SetCaption("Copyright (C) Zumelko developers");
    Copyright->SetFont(DialogFont(13, clMaroon));
    OKButton = &MakeButton(*this, "OKButton", "OK", mrOk, (298 - kButtonWidth) / 2, 224, 0);
    OKButton->SetDefault(true);

    // Credits: role captions in colour on the left, who filled the role on the right.
    struct Line {
        const char* text;
        int column;
        int row;
        int size;
        std::uint32_t color;
    };
    static const Line lines[9] = {
        {"企画・設計", 0, 0, 13, clNavy},        {"Zumelko 開発チーム", 1, 0, 12, clBlack},
        {"プログラム", 0, 1, 13, clGreen},       {"Zumelko 開発チーム", 1, 1, 12, clBlack},
        {"テスト", 0, 2, 13, clPurple},          {"Zumelko 開発チーム", 1, 2, 12, clBlack},
        {"アイコン", 0, 3, 13, clTeal},          {"Zumelko 開発チーム", 1, 3, 12, clBlack},
        {"LAN の仲間たちに感謝します。", 0, 4, 12, clMaroon},
    };
    for (int i = 0; i < 9; ++i) {
        const Line& l = lines[i];
        Label& label = AddControl<Label>("Label" + std::to_string(i + 1), Panel1);
        label.SetCaption(l.text);
        label.SetFont(DialogFont(l.size, l.color));
        Place(label, l.column == 0 ? 16 : 120, 84 + l.row * 22, 0, l.size + 4);
        Credits[i] = &label;
    }
    LoadComponents();
}

int TAboutBox::ShowAbout() {
    if (Showing()) return 0;
    return ShowModal();
}

}  // namespace zumelko
