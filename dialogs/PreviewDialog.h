#pragma once
// The preview of a received item: a picture stretched to its box, or the text in an editable memo
// (edits there change nothing received).
#include <cstddef>
#include <string>
#include <string_view>

#include "desktop/BitmapImage.h"
#include "framework/Form.h"

namespace zumelko {

// The most of a text the preview shows: pages of text, more than anyone reads in the memo,
// and little enough that the memo lays it out at once.
inline constexpr std::size_t kPreviewLimit = 256 * 1024;
inline constexpr const char* kPreviewCutLine = "（以下省略）";

// Where a preview of text cuts it: at most limit bytes, at a line end in the last half of
// them if there is one, else after the last whole character (UTF-8 when the bytes read as
// such, else a double-byte code page), so the shown part never ends in half a character.
std::size_t PreviewCut(std::string_view text, std::size_t limit);

class TForm6 final : public Form {
public:
    explicit TForm6(Component* owner);

    int ShowBitmap(const BitmapImage& picture);
    // A text longer than kPreviewLimit shows its beginning, cut where a line or a character
    // ends, and a line that says the rest is left out; the text itself is not kept.
    int ShowText(std::string_view text);

    Button* Button1;
    PageControl* PageControl1;
    TabSheet* TabSheet1;
    TabSheet* TabSheet2;
    Memo* Memo1;
    Image* Image1;
};

extern TForm6* Form6;

}  // namespace zumelko
