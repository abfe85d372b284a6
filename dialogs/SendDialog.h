#pragma once
// The destination chooser: the machines of the network neighbourhood in an editable list.
#include <string>

#include "framework/Form.h"

namespace zumelko {

class TNetUtility;

class TForm8 final : public Form {
public:
    explicit TForm8(Component* owner);

    // Shows the dialog with the initial text in the combo box; 0 while it is already open.
    int ShowChooser(const std::string& initialText);
    // Appends the machine names of the last enumeration to the list.
    void FillMachineList();
    void Button3Click(Component* sender);

    Bevel* Bevel1;
    Label* Label1;
    Button* Button1;
    Button* Button2;
    ComboBox* ComboBox1;
    TNetUtility* NetUtility1;
    Button* Button3;
};

extern TForm8* Form8;

}  // namespace zumelko
