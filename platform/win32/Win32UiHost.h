#pragma once
// Dialogs and menus on Windows: one renderer turns any form model into real windows (static,
// button, group box with radio buttons, editable combo box, multi-line edit, tab control,
// picture) at the model's client size, places and fonts, and keeps windows and models in step
// both ways while the form is shown. Texts go through the wide-character window functions, so
// the program's own Japanese texts read right whatever the system's code page. The loop runs
// the innermost dialog's keys through IsDialogMessageW: Tab, Enter and Esc work as in any
// dialog.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Form.h"
#include "framework/Menus.h"
#include "platform/UiHost.h"
#include "platform/win32/Win32Loop.h"
#include "platform/win32/Win32Shell.h"

namespace zumelko::platform::win32 {

class Win32UiHost final : public UiHost {
public:
    Win32UiHost(Win32Loop& loop, Win32Shell& shell);
    ~Win32UiHost() override;
    Win32UiHost(const Win32UiHost&) = delete;
    Win32UiHost& operator=(const Win32UiHost&) = delete;

    // UiHost overrides:
    int RunModal(Form& form) override;
    void ControlChanged(Form& form, Control& control) override;
    void TrackPopupMenu(PopupMenu& menu, int x, int y) override;
    void ShowException(const std::string& title, const std::string& message) override;
    std::string CaptionText(const std::string& ansi) override;
    const TextCodec& Texts() const override;
    Extent MeasureCaption(const Font& font, const std::string& caption, int width) override;
    // The work area less a dialog's frame.
    Extent LargestClientArea() override;

    // Told when a form has appeared on screen, with its window (tests and pictures).
    std::function<void(Form&, Hwnd)> onShown;
    // Told once a popup menu is up, with the menu's captions; the menu closes unchosen unless
    // the handler picks an item by its index (-1: none).
    std::function<int(const std::vector<std::string>&)> onMenu;
    // The window of a form on screen, and the window of one of its controls (for a radio
    // group, its group box; RadioButtonOf gives the buttons).
    Hwnd WindowOf(const Form& form) const;
    Hwnd WindowOfControl(const Control& control) const;
    Hwnd RadioButtonOf(const RadioGroup& group, int index) const;
    const std::vector<std::string>& Exceptions() const { return exceptions_; }
    void SetExceptionBoxes(bool on) { exceptionBoxes_ = on; }

    struct Rendered;
    // The form windows' procedure (an LRESULT CALLBACK in the .cpp).
    static LResult Procedure(Hwnd window, std::uint32_t message, WParam w, LParam l);

private:
    Rendered* Find(const Form& form) const;
    std::unique_ptr<Rendered> Render(Form& form);
    void Apply(Rendered& r, Control& control);
    // The form's window moved to a display of another scale: everything is laid out again,
    // the window at (x, y).
    void Rescale(Rendered& r, int dpi, int x, int y);

    Win32Loop& loop_;
    Win32Shell& shell_;
    std::vector<Rendered*> open_;
    std::vector<std::string> exceptions_;
    bool exceptionBoxes_ = true;
};

// Captions mix the program's own texts (UTF-8 in the source) with names and received text in
// the ANSI code page: valid UTF-8 is taken as such, anything else as ANSI.
std::wstring FromCaption(const std::string& bytes);
// What the user typed, in the ANSI code page the program's texts are kept in.
std::string ToAnsi(const std::wstring& text);

}  // namespace zumelko::platform::win32
