#pragma once
// The settings dialog: edits copies of the checker mode, the receive state, the default
// destination, the browser, who may send and the encryption; the caller copies them back only
// on OK.
#include <cstdint>
#include <optional>
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
    // The encryption, shown from these at the next ShowSettings: whether a team passphrase is
    // set (never the passphrase itself: the field starts empty) and strict mode.
    void SetSecurity(bool hasPassphrase, bool strict);
    void RadioGroup4Click(Component* sender);
    // What OK asks for the passphrase: nothing to change, a new one (UTF-8), or none (empty).
    // Takes the typed text out of the field, which is empty afterwards.
    std::optional<std::string> TakePassphrase();

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
    Bevel* Bevel4;
    Label* Label5;
    RadioGroup* RadioGroup4;
    Edit* Edit1;
    RadioGroup* RadioGroup5;

    std::string Destination;
    std::int32_t Browser = 0;
    std::string AllowedNames;
};

extern TForm4* Form4;

// The encryption group's texts.
inline constexpr const char* kSecurityGroupLabel = "暗号：";
inline constexpr const char* kPassphraseCaption = "チームのパスフレーズ";
inline constexpr const char* kPassphraseOff = "使わない";
inline constexpr const char* kPassphraseOn = "使う";
inline constexpr const char* kStrictCaption = "暗号化されていない送受信";
inline constexpr const char* kStrictOff = "許可する";
inline constexpr const char* kStrictOn = "しない (厳格モード)";

}  // namespace zumelko
