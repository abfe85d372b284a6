#pragma once
// The notice dialog: every message the program gives, one at a time, with a beep.
#include <string>

#include "framework/Form.h"

namespace zumelko {

class TForm2 final : public Form {
public:
    explicit TForm2(Component* owner);

    // Shows the text; 0 (and the text is dropped) while another notice is on screen.
    int ShowNotice(const std::string& text);

    Bevel* Bevel1;
    Button* Button1;
    Label* Label1;

private:
    // The designed size takes a notice on one line; a longer one widens the dialog up to what
    // the screen can show, and is wrapped beyond that, the dialog growing downwards.
    void FitText();
};

extern TForm2* Form2;

}  // namespace zumelko
