#pragma once
// A form: a top-level window model holding its controls in declaration order. ShowModal hands
// it to the desktop, which renders it and runs a nested loop until a modal result is set.
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Controls.h"

namespace zumelko {

enum class BorderStyle { None, Dialog, Single };
enum class FormPosition { Designed, ScreenCenter };

class Form : public Component {
public:
    explicit Form(Component* owner);

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption) { caption_ = std::move(caption); }
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    void SetClientSize(int width, int height) {
        clientWidth_ = width;
        clientHeight_ = height;
    }
    // Outer size; the main window shrinks itself to 0 x 0.
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetWidth(int w) { width_ = w; }
    void SetHeight(int h) { height_ = h; }
    BorderStyle Border() const { return border_; }
    void SetBorder(BorderStyle b) { border_ = b; }
    bool StayOnTop() const { return stayOnTop_; }
    void SetStayOnTop(bool on) { stayOnTop_ = on; }
    FormPosition Position() const { return position_; }
    void SetPosition(FormPosition p) { position_ = p; }
    bool ShowsIcon() const { return showsIcon_; }
    void SetShowsIcon(bool on) { showsIcon_ = on; }
    const Font& GetFont() const { return font_; }
    void SetFont(Font font) { font_ = std::move(font); }

    // Creates a control owned by the form, in declaration order.
    template <typename T>
    T& AddControl(const std::string& name, Control* parent = nullptr) {
        T& c = Create<T>(*this, parent);
        c.SetName(name);
        controls_.push_back(&c);
        return c;
    }
    const std::vector<Control*>& Controls() const { return controls_; }
    Control* FindControl(const std::string& name) const;
    // The button that Enter presses and the one that Esc presses, if any.
    Button* DefaultButton() const;
    Button* CancelButton() const;
    // Esc: presses the cancel button. A form that declares none ignores the key, so that one
    // stray key cannot answer a question the form puts (only its close box closes it then).
    // True when a button was pressed.
    bool PressEscape();

    bool Showing() const { return showing_; }
    int ModalResult() const { return modalResult_; }
    // A non-zero result ends a modal show.
    void SetModalResult(int result) { modalResult_ = result; }
    // The close box: ends a modal show with 2.
    void Close() { modalResult_ = mrCancel; }
    int ShowModal();

    // Runs Loaded on every component the form owns, once their properties are set; a form's
    // constructor calls it after building its components.
    void LoadComponents();

    // Called by controls when their model changes.
    void ControlChanged(Control& control);

private:
    std::string caption_;
    int clientWidth_ = 0;
    int clientHeight_ = 0;
    int width_ = 0;
    int height_ = 0;
    BorderStyle border_ = BorderStyle::Dialog;
    bool stayOnTop_ = false;
    FormPosition position_ = FormPosition::ScreenCenter;
    bool showsIcon_ = false;
    Font font_;
    std::vector<Control*> controls_;
    bool showing_ = false;
    int modalResult_ = mrNone;
};

}  // namespace zumelko
