#include "framework/Form.h"

#include "platform/Desktop.h"

namespace zumelko {

Form::Form(Component* owner) : Component(owner) {}

Control* Form::FindControl(const std::string& name) const {
    for (Control* c : controls_)
        if (c->Name() == name) return c;
    return nullptr;
}

Button* Form::DefaultButton() const {
    for (Control* c : controls_)
        if (auto* b = dynamic_cast<Button*>(c); b != nullptr && b->Default()) return b;
    return nullptr;
}

Button* Form::CancelButton() const {
    for (Control* c : controls_)
        if (auto* b = dynamic_cast<Button*>(c); b != nullptr && b->Cancel()) return b;
    return nullptr;
}

bool Form::PressEscape() {
    Button* cancel = CancelButton();
    if (cancel == nullptr || !cancel->Enabled() || !cancel->Visible()) return false;
    cancel->Click();
    return true;
}

void Form::LoadComponents() {
    for (std::size_t i = 0; i < ComponentCount(); ++i) ComponentAt(i).Loaded();
}

int Form::ShowModal() {
    modalResult_ = mrNone;
    showing_ = true;
    struct Hide {
        bool& showing;
        ~Hide() { showing = false; }
    } hide{showing_};
    const int result = platform::Current().ui().RunModal(*this);
    modalResult_ = result;
    return result;
}

void Form::ControlChanged(Control& control) {
    if (showing_) platform::Current().ui().ControlChanged(*this, control);
}

}  // namespace zumelko
