#pragma once
// Control models: plain data (caption, geometry, font, items, selection, enabled state) that a
// desktop renders. Every change is reported to the form, so a dialog on screen follows it.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/Component.h"
#include "framework/Event.h"
#include "framework/Graphic.h"
#include "framework/StringList.h"

namespace zumelko {

class Form;

constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrYes = 6;
constexpr int mrNo = 7;

// Colours as 0xRRGGBB.
constexpr std::uint32_t clBlack = 0x000000;
constexpr std::uint32_t clMaroon = 0x800000;
constexpr std::uint32_t clNavy = 0x000080;
constexpr std::uint32_t clGreen = 0x008000;
constexpr std::uint32_t clPurple = 0x800080;
constexpr std::uint32_t clTeal = 0x008080;
constexpr std::uint32_t clBlue = 0x0000FF;
constexpr std::uint32_t clRed = 0xFF0000;

struct Font {
    std::string name = "ＭＳ Ｐゴシック";
    int sizePx = 12;
    std::uint32_t color = clBlack;
    bool bold = false;
    bool operator==(const Font&) const = default;
};

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
};

using NotifyEvent = Event<Component*>;

class Control : public Component {
public:
    // parent: the container the control sits in (a panel or tab sheet), or null for the form.
    Control(Component* owner, Form& form, Control* parent = nullptr);

    Form& OwnerForm() const { return form_; }
    Control* Parent() const { return parent_; }

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    const Rect& Bounds() const { return bounds_; }
    void SetBounds(int left, int top, int width, int height);
    // The font of its own, or the form's when it has none.
    const Font& GetFont() const;
    bool HasOwnFont() const { return font_.has_value(); }
    void SetFont(Font font);
    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int order) { tabOrder_ = order; }
    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool stop) { tabStop_ = stop; }

protected:
    void Changed();

private:
    Form& form_;
    Control* parent_;
    std::string caption_;
    bool enabled_ = true;
    bool visible_ = true;
    Rect bounds_;
    std::optional<Font> font_;
    int tabOrder_ = -1;
    bool tabStop_ = false;
};

class Label final : public Control {
public:
    using Control::Control;
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool on) { autoSize_ = on; }
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool on) { wordWrap_ = on; }

private:
    bool autoSize_ = true;
    bool wordWrap_ = false;
};

class Button final : public Control {
public:
    Button(Component* owner, Form& form, Control* parent = nullptr);
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }
    bool Default() const { return default_; }
    void SetDefault(bool on) { default_ = on; }
    bool Cancel() const { return cancel_; }
    void SetCancel(bool on) { cancel_ = on; }
    // Presses the button as the user does: nothing when disabled; otherwise runs OnClick and
    // then sets the form's modal result when the button has one.
    void Click();

    NotifyEvent OnClick;

private:
    int modalResult_ = mrNone;
    bool default_ = false;
    bool cancel_ = false;
};

class RadioGroup final : public Control {
public:
    RadioGroup(Component* owner, Form& form, Control* parent = nullptr);
    const std::vector<std::string>& Items() const { return items_; }
    void SetItems(std::vector<std::string> items);
    int ItemIndex() const { return itemIndex_; }
    // Selecting another item than the current one raises OnClick.
    void SetItemIndex(int index);

    NotifyEvent OnClick;

private:
    std::vector<std::string> items_;
    int itemIndex_ = -1;
};

// Editable drop-down combo box.
class ComboBox final : public Control {
public:
    ComboBox(Component* owner, Form& form, Control* parent = nullptr);
    const std::string& Text() const { return text_; }
    void SetText(std::string text);
    const std::vector<std::string>& Items() const { return items_; }
    void AddItem(std::string item);
    // Empties both the edit text and the items.
    void Clear();

private:
    std::string text_;
    std::vector<std::string> items_;
};

// One-line edit field. Its text is UTF-8 on every desktop, unlike the combo box's names in the
// desktop's code page: it holds what no code page may change, such as a passphrase.
class Edit final : public Control {
public:
    Edit(Component* owner, Form& form, Control* parent = nullptr);
    const std::string& Text() const { return text_; }
    // The program set it, or the user typed.
    void SetText(std::string text);
    // Every character shows as a dot, and the text cannot be copied out of the field.
    bool Password() const { return password_; }
    void SetPassword(bool on);

private:
    std::string text_;
    bool password_ = false;
};

class Memo final : public Control {
public:
    Memo(Component* owner, Form& form, Control* parent = nullptr);
    const StringList& Lines() const { return lines_; }
    void ClearLines();
    void AddLine(std::string line);
    // The memo's whole text as its lines give it, every line followed by CR LF.
    std::string Text() const { return lines_.Text(); }
    // The user edited the text.
    void SetText(std::string_view text);

private:
    StringList lines_;
};

// A picture box; with Stretch the picture fills the box whatever its aspect.
class Image final : public Control {
public:
    using Control::Control;
    const std::shared_ptr<const Graphic>& Picture() const { return picture_; }
    void SetPicture(std::shared_ptr<const Graphic> picture);
    bool Stretch() const { return stretch_; }
    void SetStretch(bool on) { stretch_ = on; }
    // A picture of the desktop's own (the program icon) rather than a graphic.
    bool ShowsProgramIcon() const { return programIcon_; }
    void SetShowsProgramIcon(bool on) { programIcon_ = on; }

private:
    std::shared_ptr<const Graphic> picture_;
    bool stretch_ = false;
    bool programIcon_ = false;
};

class TabSheet;

class PageControl final : public Control {
public:
    using Control::Control;
    const std::vector<TabSheet*>& Pages() const { return pages_; }
    void AddPage(TabSheet& page) { pages_.push_back(&page); }
    TabSheet* ActivePage() const { return active_; }
    void SetActivePage(TabSheet* page);

private:
    std::vector<TabSheet*> pages_;
    TabSheet* active_ = nullptr;
};

class TabSheet final : public Control {
public:
    using Control::Control;
    bool TabVisible() const { return tabVisible_; }
    void SetTabVisible(bool on) { tabVisible_ = on; }

private:
    bool tabVisible_ = true;
};

enum class BevelStyle { Lowered, Raised };
enum class BevelKind { None, Lowered, Raised };

class Bevel final : public Control {
public:
    using Control::Control;
    BevelStyle Style() const { return style_; }
    void SetStyle(BevelStyle style) { style_ = style; }

private:
    BevelStyle style_ = BevelStyle::Raised;
};

class Panel final : public Control {
public:
    using Control::Control;
    BevelKind BevelInner() const { return inner_; }
    BevelKind BevelOuter() const { return outer_; }
    void SetBevels(BevelKind inner, BevelKind outer) {
        inner_ = inner;
        outer_ = outer;
    }

private:
    BevelKind inner_ = BevelKind::None;
    BevelKind outer_ = BevelKind::Raised;
};

}  // namespace zumelko
