#pragma once
// The About box: product name, version, ownership notice and credits.
#include "framework/Form.h"

namespace zumelko {

class TAboutBox final : public Form {
public:
    explicit TAboutBox(Component* owner);

    int ShowAbout();

    Panel* Panel1;
    Image* ProgramIcon;
    Label* ProductName;
    Label* Version;
    Label* Copyright;
    Button* OKButton;
    Label* Credits[9];
};

extern TAboutBox* AboutBox;

}  // namespace zumelko
