#pragma once
// Popup menus and their items. Items are owned by a form (or another component); a menu only
// lists them.
#include <cstddef>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Controls.h"

namespace zumelko {

class MenuItem final : public Component {
public:
    explicit MenuItem(Component* owner) : Component(owner) {}
    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption) { caption_ = std::move(caption); }
    // A literal caption is shown exactly as written: no '&' marks a mnemonic and "-" is an entry
    // like any other, not a separator. For captions that are names from elsewhere.
    bool LiteralCaption() const { return literal_; }
    void SetLiteralCaption(bool on) { literal_ = on; }
    bool IsSeparator() const { return !literal_ && caption_ == "-"; }
    void Click() { OnClick(this); }

    NotifyEvent OnClick;

private:
    std::string caption_;
    bool literal_ = false;
};

class PopupMenu final : public Component {
public:
    explicit PopupMenu(Component* owner) : Component(owner) {}
    std::size_t Count() const { return items_.size(); }
    MenuItem& Item(std::size_t i) const { return *items_[i]; }
    void Add(MenuItem& item) { items_.push_back(&item); }
    // Takes the item out of the menu; its owner still owns it.
    void Remove(std::size_t index);
    // Shows the menu at (x, y) through the desktop; returns when it closes.
    void Popup(int x, int y);

private:
    std::vector<MenuItem*> items_;
};

}  // namespace zumelko
