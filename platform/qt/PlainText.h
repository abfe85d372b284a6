#pragma once
// Qt reads meaning into some texts: a label or a tooltip guesses whether its text is rich text,
// '&' in a menu entry marks a mnemonic and a tab starts its shortcut column, "[*]" in a window
// title stands for the modified mark. The program's texts carry names and data from the network,
// so every text reaches Qt through one of these and is shown exactly as it is written.
#include <QString>

namespace zumelko::platform::qt {

// A tooltip that Qt takes as rich text made of nothing but the escaped text, kept on its lines.
QString PlainToolTip(const QString& text);
// A window title in which "[*]" is no placeholder.
QString PlainWindowTitle(const QString& text);
// A menu entry's text. The program's own captions keep their mnemonic ("更新(&U)"); a literal
// one (a name from the network) shows every '&' as itself, and a tab as a blank.
QString MenuText(const QString& caption, bool literal);

}  // namespace zumelko::platform::qt
