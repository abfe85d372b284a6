#include "framework/Controls.h"

#include "framework/Form.h"
#include "framework/Wipe.h"

namespace zumelko {

Control::Control(Component* owner, Form& form, Control* parent)
    : Component(owner), form_(form), parent_(parent) {}

void Control::Changed() { form_.ControlChanged(*this); }

void Control::SetCaption(std::string caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    Changed();
}

void Control::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Changed();
}

void Control::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    Changed();
}

void Control::SetBounds(int left, int top, int width, int height) {
    bounds_ = {left, top, width, height};
    Changed();
}

const Font& Control::GetFont() const {
    if (font_) return *font_;
    if (parent_ != nullptr) return parent_->GetFont();
    return form_.GetFont();
}

void Control::SetFont(Font font) {
    font_ = std::move(font);
    Changed();
}

Button::Button(Component* owner, Form& form, Control* parent) : Control(owner, form, parent) {
    SetTabStop(true);
}

void Button::Click() {
    if (!Enabled()) return;
    OnClick(this);
    if (modalResult_ != mrNone) OwnerForm().SetModalResult(modalResult_);
}

RadioGroup::RadioGroup(Component* owner, Form& form, Control* parent) : Control(owner, form, parent) {
    SetTabStop(true);
}

void RadioGroup::SetItems(std::vector<std::string> items) {
    items_ = std::move(items);
    if (itemIndex_ >= static_cast<int>(items_.size())) itemIndex_ = -1;
    Changed();
}

void RadioGroup::SetItemIndex(int index) {
    if (index < -1 || index >= static_cast<int>(items_.size())) index = -1;
    if (index == itemIndex_) return;
    itemIndex_ = index;
    Changed();
    OnClick(this);
}

ComboBox::ComboBox(Component* owner, Form& form, Control* parent) : Control(owner, form, parent) {
    SetTabStop(true);
}

void ComboBox::SetText(std::string text) {
    if (text == text_) return;
    text_ = std::move(text);
    Changed();
}

void ComboBox::AddItem(std::string item) {
    items_.push_back(std::move(item));
    Changed();
}

void ComboBox::Clear() {
    text_.clear();
    items_.clear();
    Changed();
}

Edit::Edit(Component* owner, Form& form, Control* parent) : Control(owner, form, parent) { SetTabStop(true); }

void Edit::SetText(std::string text) {
    if (text == text_) return;
    // A password's earlier text is wiped before its memory goes.
    if (password_) WipeString(text_);
    text_ = std::move(text);
    if (password_) WipeString(text);
    Changed();
}

void Edit::SetPassword(bool on) {
    if (on == password_) return;
    password_ = on;
    Changed();
}

Memo::Memo(Component* owner, Form& form, Control* parent) : Control(owner, form, parent) {
    SetTabStop(true);
}

void Memo::ClearLines() {
    lines_.Clear();
    Changed();
}

void Memo::AddLine(std::string line) {
    lines_.Add(std::move(line));
    Changed();
}

void Memo::SetText(std::string_view text) {
    lines_.SetText(text);
    Changed();
}

void Image::SetPicture(std::shared_ptr<const Graphic> picture) {
    picture_ = std::move(picture);
    Changed();
}

void PageControl::SetActivePage(TabSheet* page) {
    active_ = page;
    Changed();
}

}  // namespace zumelko
