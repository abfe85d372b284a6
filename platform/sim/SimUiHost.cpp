#include "platform/sim/SimUiHost.h"

#include <algorithm>
#include <cstdio>

namespace zumelko::platform::sim {

std::string ScriptedDialog::Caption(const std::string& control) const {
    return Get<Control>(control).Caption();
}

void ScriptedDialog::Click(const std::string& button) const { Get<Button>(button).Click(); }

void ScriptedDialog::Select(const std::string& radioGroup, int index) const {
    auto& g = Get<RadioGroup>(radioGroup);
    if (g.Enabled()) g.SetItemIndex(index);
}

void ScriptedDialog::Type(const std::string& comboOrMemo, const std::string& text) const {
    Control* c = form_.FindControl(comboOrMemo);
    if (auto* combo = dynamic_cast<ComboBox*>(c)) {
        combo->SetText(text);
    } else if (auto* memo = dynamic_cast<Memo*>(c)) {
        memo->SetText(text);
    } else {
        throw std::logic_error("cannot type into " + comboOrMemo);
    }
}

void ScriptedDialog::PressEnter() const {
    if (Button* b = form_.DefaultButton()) b->Click();
}

void ScriptedDialog::PressEscape() const { form_.PressEscape(); }

void ScriptedDialog::RunFor(std::chrono::milliseconds d) const {
    host_.loop().RunUntilFor([this] { return Closed(); }, d);
}

bool ScriptedDialog::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) const {
    return host_.loop().RunUntilFor([&] { return Closed() || done(); }, limit) && done();
}

int SimUiHost::RunModal(Form& form) {
    ShownForm record{form.Name(), form.Caption(), {}, 0};
    for (Control* c : form.Controls()) record.captions.emplace_back(c->Name(), c->Caption());
    const std::size_t index = shown_.size();
    shown_.push_back(record);
    open_.push_back(&form);

    ScriptedDialog dialog(*this, form);
    Script script;
    if (!scripts_.empty()) {
        script = std::move(scripts_.front());
        scripts_.pop_front();
    } else {
        script = onShow;
    }
    if (script) {
        script(dialog);
    } else if (form.ModalResult() == mrNone) {
        form.Close();
    }
    // A script may leave the dialog open for something else to close (a nested event).
    loop_.RunUntil([&form] { return form.ModalResult() != mrNone; });
    if (form.ModalResult() == mrNone) form.Close();  // the program is quitting

    open_.erase(std::find(open_.begin(), open_.end(), &form));
    shown_[index].result = form.ModalResult();
    return form.ModalResult();
}

void SimUiHost::ControlChanged(Form&, Control&) { ++changes_; }

void SimUiHost::TrackPopupMenu(PopupMenu& menu, int x, int y) {
    if (onMenu) onMenu(menu, x, y);
}

void SimUiHost::ShowException(const std::string& title, const std::string& message) {
    exceptions_.push_back(message);
    std::fprintf(stderr, "[%s] %s\n", title.c_str(), message.c_str());
}

}  // namespace zumelko::platform::sim
