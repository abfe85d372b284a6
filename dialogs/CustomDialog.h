#pragma once
// The settings dialog: edits copies of the checker mode, the receive state, the default
// destination and the browser; the caller copies them back only on OK.
#include <cstdint>
#include <string>

#include "framework/Form.h"

namespace zumelko {

class TForm4 final : public Form {
public:
    explicit TForm4(Component* owner);

    int ShowSettings(const std::string& destination, std::uint8_t checkerMode, std::uint8_t receiveMode,
                     std::int32_t browser);
    // Who may send: shown from these at the next ShowSettings, edited there like the rest.
    void SetSenders(std::uint8_t senderMode, const std::string& allowedNames);
    void RadioGroup1Click(Component* sender);
    void RadioGroup2Click(Component* sender);
    void Button1Click(Component* sender);
    void Button2Click(Component* sender);
    void Button3Click(Component* sender);
    void RadioGroup3Click(Component* sender);
    void Button4Click(Component* sender);

    Bevel* Bevel1;
    Label* Label1;
    Bevel* Bevel2;
    Label* Label3;
    Button* OKBtn;
    Button* CancelBtn;
    RadioGroup* RadioGroup1;
    RadioGroup* RadioGroup2;
    Button* Button2;
    Button* Button3;
    Button* Button1;
    Bevel* Bevel3;
    Label* Label4;
    RadioGroup* RadioGroup3;
    Button* Button4;

    std::string Destination;
    std::int32_t Browser = 0;
    std::string AllowedNames;
};

extern TForm4* Form4;

}  // namespace zumelko
