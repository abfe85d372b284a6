#pragma once
// The link confirmation: shall the received text be opened in the configured browser?
#include <string>

#include "framework/Form.h"

namespace zumelko {

class TForm3 final : public Form {
public:
    explicit TForm3(Component* owner);

    int ShowQuestion(const std::string& question);

    Bevel* Bevel1;
    Label* Label1;
    Button* Button1;
    Button* Button2;
    Label* Label2;
    Label* Label3;
    Label* Label4;
};

extern TForm3* Form3;

}  // namespace zumelko
