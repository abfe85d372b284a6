#pragma once
// The look the program's dialogs share: caption, border, font, stay-on-top, centring.
#include "framework/Form.h"

namespace zumelko {

constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

inline Font DialogFont(int sizePx = 12, std::uint32_t color = clBlack) {
    Font f;
    f.sizePx = sizePx;
    f.color = color;
    return f;
}

// Caption "Zumelko", fixed dialog border with a close box, centred, the 12-pixel dialog font.
inline void ApplyDialogLook(Form& form, const char* name, int clientWidth, int clientHeight, bool stayOnTop) {
    form.SetName(name);
    form.SetCaption("Zumelko");
    form.SetBorder(BorderStyle::Dialog);
    form.SetPosition(FormPosition::ScreenCenter);
    form.SetStayOnTop(stayOnTop);
    form.SetFont(DialogFont());
    form.SetClientSize(clientWidth, clientHeight);
}

template <typename T>
T& Place(T& control, int left, int top, int width, int height, int tabOrder = -1) {
    control.SetBounds(left, top, width, height);
    if (tabOrder >= 0) control.SetTabOrder(tabOrder);
    return control;
}

inline Button& MakeButton(Form& form, const char* name, const char* caption, int result, int left, int top,
                          int tabOrder, int width = kButtonWidth) {
    auto& b = form.AddControl<Button>(name);
    b.SetCaption(caption);
    b.SetModalResult(result);
    return Place(b, left, top, width, kButtonHeight, tabOrder);
}

inline Label& MakeLabel(Form& form, const char* name, const char* caption, int left, int top, int sizePx,
                        Control* parent = nullptr) {
    auto& l = form.AddControl<Label>(name, parent);
    l.SetCaption(caption);
    if (sizePx != 12) l.SetFont(DialogFont(sizePx));
    return Place(l, left, top, 0, sizePx + 4);
}

// The beep the receive dialogs and the notice sound just before they appear.
void SimpleBeep();

}  // namespace zumelko
