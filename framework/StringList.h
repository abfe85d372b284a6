#pragma once
// A list of text lines with the CR LF text form used by the header packet and the memo.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zumelko {

class StringList {
public:
    std::size_t Count() const { return lines_.size(); }
    const std::string& operator[](std::size_t i) const { return lines_[i]; }
    std::string& operator[](std::size_t i) { return lines_[i]; }
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Clear() { lines_.clear(); }
    auto begin() const { return lines_.begin(); }
    auto end() const { return lines_.end(); }
    const std::vector<std::string>& Lines() const { return lines_; }

    // Every line followed by CR LF, the last one included.
    std::string Text() const;
    // Replaces the lines: split at CR LF, a lone CR or a lone LF; a NUL ends the text;
    // a final line end adds no empty line.
    void SetText(std::string_view text);

    bool operator==(const StringList&) const = default;

private:
    std::vector<std::string> lines_;
};

}  // namespace zumelko
