#pragma once
// What the desktop does with the framework's forms and menus: show a form modally, show a
// popup menu, report an escaped exception.
#include <string>

#include "platform/TextCodec.h"

namespace zumelko {
class Form;
class Control;
class PopupMenu;
struct Font;
}  // namespace zumelko

namespace zumelko::platform {

struct Extent {
    int width = 0;
    int height = 0;
};

class UiHost {
public:
    virtual ~UiHost() = default;

    // Shows the form and runs a nested loop until its modal result is set (or the program
    // quits, which gives 2); returns that result.
    virtual int RunModal(Form& form) = 0;
    // A control of a form changed (caption, enabled, items, selection, ...). Desktops that
    // render the form bring their widget into line.
    virtual void ControlChanged(Form& form, Control& control) = 0;
    // Shows the menu with its top left corner at (x, y) and returns when it closes; the chosen
    // item's click is run.
    virtual void TrackPopupMenu(PopupMenu& menu, int x, int y) = 0;
    // The standard error box for an exception that reached the application.
    virtual void ShowException(const std::string& title, const std::string& message) = 0;
    // A text in the ANSI code page (a name from the network) as the program's own captions are
    // written, UTF-8, so that the two can be joined in one caption; a caption that mixed the
    // two forms would read as neither. Desktops that show caption bytes as they are hand it
    // back unchanged.
    virtual std::string CaptionText(const std::string& ansi) { return ansi; }
    // How this desktop's texts meet the peers' code page.
    virtual const TextCodec& Texts() const {
        static const TextCodec plain;
        return plain;
    }
    // The room a label's caption takes in the font, as the desktop draws labels: its lines as
    // written when width is 0; otherwise also broken into lines no wider than width, after a
    // blank where the line has one and anywhere within a word that is wider alone. A label with
    // WordWrap is drawn broken exactly so, at its width.
    virtual Extent MeasureCaption(const Font& font, const std::string& caption, int width) = 0;
    // The largest client area a dialog (with its border) can have and still be seen whole on
    // the screen.
    virtual Extent LargestClientArea() = 0;
};

}  // namespace zumelko::platform
