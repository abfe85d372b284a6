#pragma once
// The preview of a received item: a picture stretched to its box, or the text in an editable memo
// (edits there change nothing received).
#include <string>

#include "desktop/BitmapImage.h"
#include "framework/Form.h"

namespace zumelko {

class TForm6 final : public Form {
public:
    explicit TForm6(Component* owner);

    int ShowBitmap(const BitmapImage& picture);
    int ShowText(const std::string& text);

    Button* Button1;
    PageControl* PageControl1;
    TabSheet* TabSheet1;
    TabSheet* TabSheet2;
    Memo* Memo1;
    Image* Image1;
};

extern TForm6* Form6;

}  // namespace zumelko
