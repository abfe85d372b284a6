#pragma once
// The receive confirmation: take the received text or picture into the clipboard? With a
// preview and, for text, the offer to open it in a browser.
#include <string>

#include "desktop/BitmapImage.h"
#include "framework/Form.h"
#include "framework/SharedText.h"

namespace zumelko {

class TDdeClientConv;

// The lines the receive dialogs show for what arrived.
inline constexpr const char* kTextReceivedLine = "\"文字列\"データを受信しました。";
inline constexpr const char* kPictureReceivedLine = "\"画像\"データを受信しました。";
// For an item its sender's password manager marked: the dialog's line, and what the preview
// shows instead of it.
inline constexpr const char* kSecretReceivedLine = "\"パスワード\"データを受信しました。";
inline constexpr const char* kSecretPreview = "パスワードを受信しました。\r\n内容は表示しません。";

class TForm5 final : public Form {
public:
    explicit TForm5(Component* owner);

    // Both store the item first, so a call while the dialog is open still replaces what its
    // preview and link act on; they return 0 then without showing.
    // A secret item (a password) is not shown in the preview, and a text of it is not offered to
    // a browser.
    int ShowTextReceived(const SharedText& text, bool secret = false);
    int ShowBitmapReceived(const BitmapImage& picture, bool secret = false);
    void Button3Click(Component* sender);
    void Button4Click(Component* sender);
    void LinkToBrowser();

    Bevel* Bevel1;
    Label* Label1;
    Button* Button1;
    Button* Button2;
    Button* Button3;
    Label* Label2;
    Button* Button4;
    TDdeClientConv* DdeClientConv1;
    Label* Label3;
    Label* Label4;

    bool IsBitmap = false;
    bool IsSecret = false;
    BitmapImage ReceivedBitmap;
    SharedText ReceivedText;  // shared with the caller, not copied
};

extern TForm5* Form5;

}  // namespace zumelko
