#include "platform/sim/SimUiHost.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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
    } else if (auto* edit = dynamic_cast<Edit*>(c)) {
        edit->SetText(text);
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

Extent SimUiHost::MeasureCaption(const Font& font, const std::string& caption, int width) {
    const int size = std::max(1, font.sizePx);
    // One character (a UTF-8 sequence, or a byte that starts none) and its width.
    struct Char {
        int width;
        bool blank;
    };
    int widest = 0;
    int lines = 0;
    std::vector<Char> line;
    int lineWidth = 0;
    auto endLine = [&] {
        widest = std::max(widest, lineWidth);
        ++lines;
        line.clear();
        lineWidth = 0;
    };
    for (std::size_t i = 0; i <= caption.size();) {
        if (i == caption.size() || caption[i] == '\n' || caption[i] == '\r') {
            endLine();
            if (i < caption.size() && caption[i] == '\r' && i + 1 < caption.size() && caption[i + 1] == '\n') ++i;
            ++i;
            continue;
        }
        const auto lead = static_cast<unsigned char>(caption[i]);
        std::size_t n = 1;
        while (lead >= 0xC0 && i + n < caption.size() && (static_cast<unsigned char>(caption[i + n]) & 0xC0) == 0x80) ++n;
        const Char c{lead < 0x80 ? size / 2 : size, lead == ' '};
        i += n;
        if (width > 0 && !line.empty() && lineWidth + c.width > width) {
            // Back to just after the last blank when the line has one; the rest moves down.
            std::size_t keep = line.size();
            while (keep > 1 && !line[keep - 1].blank) --keep;
            if (keep <= 1) keep = line.size();
            std::vector<Char> carried(line.begin() + static_cast<std::ptrdiff_t>(keep), line.end());
            line.resize(keep);
            lineWidth = 0;
            for (const Char& k : line) lineWidth += k.width;
            endLine();
            line = std::move(carried);
            for (const Char& k : line) lineWidth += k.width;
        }
        line.push_back(c);
        lineWidth += c.width;
    }
    return {widest, lines * (size + 4)};
}

void SimUiHost::TrackPopupMenu(PopupMenu& menu, int x, int y) {
    if (onMenu) onMenu(menu, x, y);
}

void SimUiHost::ShowException(const std::string& title, const std::string& message) {
    exceptions_.push_back(message);
    std::fprintf(stderr, "[%s] %s\n", title.c_str(), message.c_str());
}

}  // namespace zumelko::platform::sim
