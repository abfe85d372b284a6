#pragma once
// The browser choice: YES/NO with a choice between the two browsers. Its selection is the value
// and survives between uses.
#include "framework/Form.h"

namespace zumelko {

class TForm7 final : public Form {
public:
    explicit TForm7(Component* owner);

    int ShowChoice();

    Bevel* Bevel1;
    Button* Button1;
    Button* Button2;
    RadioGroup* RadioGroup1;
};

extern TForm7* Form7;

}  // namespace zumelko
