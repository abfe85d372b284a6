#include "framework/StringList.h"

namespace zumelko {

std::string StringList::Text() const {
    std::size_t total = 0;
    for (const auto& l : lines_) total += l.size() + 2;
    std::string out;
    out.reserve(total);
    for (const auto& l : lines_) {
        out += l;
        out += "\r\n";
    }
    return out;
}

void StringList::SetText(std::string_view text) {
    lines_.clear();
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines_.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            ++i;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines_.emplace_back(text.substr(start));
}

}  // namespace zumelko
