#pragma once
// The simulated desktop's user: every form shown modally is handed to a scripted user that can
// read the controls, press buttons (running their handlers, nested dialogs included), type,
// select, let the loop run while the dialog stays open, and close it with a result.
#include <chrono>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/Form.h"
#include "framework/Menus.h"
#include "platform/UiHost.h"
#include "platform/sim/SimLoop.h"

namespace zumelko::platform::sim {

class SimUiHost;

// One modal show, as the scripted user sees it.
class ScriptedDialog {
public:
    ScriptedDialog(SimUiHost& host, Form& form) : host_(host), form_(form) {}
    Form& form() const { return form_; }
    template <typename T>
    T& Get(const std::string& name) const {
        auto* c = dynamic_cast<T*>(form_.FindControl(name));
        if (c == nullptr) throw std::logic_error("no control " + name + " on " + form_.Name());
        return *c;
    }
    std::string Caption(const std::string& control) const;
    // Presses a button by name, as a mouse click would (nothing when it is disabled).
    void Click(const std::string& button) const;
    void Select(const std::string& radioGroup, int index) const;
    void Type(const std::string& comboOrMemo, const std::string& text) const;
    void PressEnter() const;   // the default button
    void PressEscape() const;  // the cancel button; nothing on a form without one
    void CloseBox() const { form_.Close(); }
    // Lets the loop run while the dialog stays open.
    void RunFor(std::chrono::milliseconds d) const;
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) const;
    bool Closed() const { return form_.ModalResult() != mrNone; }

private:
    SimUiHost& host_;
    Form& form_;
};

struct ShownForm {
    std::string name;     // the form's component name (Form2, Form5, ...)
    std::string caption;  // window caption
    std::vector<std::pair<std::string, std::string>> captions;  // control name, caption at show time
    int result = 0;
};

class SimUiHost final : public UiHost {
public:
    using Script = std::function<void(ScriptedDialog&)>;
    using MenuScript = std::function<void(PopupMenu&, int x, int y)>;

    explicit SimUiHost(SimLoop& loop) : loop_(loop) {}

    int RunModal(Form& form) override;
    void ControlChanged(Form& form, Control& control) override;
    void TrackPopupMenu(PopupMenu& menu, int x, int y) override;
    void ShowException(const std::string& title, const std::string& message) override;
    // A plain metric: a character below 0x80 takes half the font's size, any other character
    // all of it; a line takes the size and 4 pixels.
    Extent MeasureCaption(const Font& font, const std::string& caption, int width) override;
    Extent LargestClientArea() override { return screen; }
    Extent screen{1024, 740};

    // Scripts for the next forms shown, in order. When none is queued, onShow runs; when that
    // is unset the form is closed with 2 at once (and recorded).
    void Expect(Script script) { scripts_.push_back(std::move(script)); }
    std::size_t PendingScripts() const { return scripts_.size(); }
    Script onShow;
    MenuScript onMenu;

    const std::vector<ShownForm>& Shown() const { return shown_; }
    void ClearShown() { shown_.clear(); }
    const std::vector<std::string>& Exceptions() const { return exceptions_; }
    // Forms currently shown, innermost last.
    const std::vector<Form*>& OpenForms() const { return open_; }
    SimLoop& loop() { return loop_; }
    // Control changes reported while forms were on screen.
    std::size_t ChangeCount() const { return changes_; }

private:
    SimLoop& loop_;
    std::deque<Script> scripts_;
    std::vector<ShownForm> shown_;
    std::vector<std::string> exceptions_;
    std::vector<Form*> open_;
    std::size_t changes_ = 0;
};

}  // namespace zumelko::platform::sim
