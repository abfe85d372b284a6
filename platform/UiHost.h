#pragma once
// What the desktop does with the framework's forms and menus: show a form modally, show a
// popup menu, report an escaped exception.
#include <string>

#include "platform/TextCodec.h"

namespace zumelko {
class Form;
class Control;
class PopupMenu;
}  // namespace zumelko

namespace zumelko::platform {

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
};

}  // namespace zumelko::platform
