#pragma once
// A received text on its way to the clipboard: the bytes are held once and shared by whoever
// needs them (the main window, the receive dialog), never copied between them. The bytes are
// always followed by a NUL in the block, so the clipboard can take them as they are.
#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "framework/Stream.h"

namespace zumelko {

class SharedText {
public:
    SharedText() = default;
    // Copies the bytes once; for texts made in the program, not for received ones.
    SharedText(std::string_view text);  // NOLINT(google-explicit-constructor)
    SharedText(const std::string& text) : SharedText(std::string_view(text)) {}  // NOLINT
    SharedText(const char* text) : SharedText(std::string_view(text)) {}           // NOLINT
    // Takes the block of a received packet without copying it: the text is the bytes up to
    // the first NUL, or all of them (a NUL is then added behind them). firstNul, when the
    // caller knows it already (npos: there is none), spares searching the block.
    static SharedText Adopt(MemoryStream&& block);
    static SharedText Adopt(MemoryStream&& block, std::size_t firstNul);
    // Takes a text made in the program (a conversion's result) without copying it.
    static SharedText Adopt(std::string&& text);

    // The bytes of the block after this text's NUL, up to the next NUL or the block's end, as a
    // text of its own: shared when a NUL ends them in the block, else copied.
    SharedText Following() const;

    std::string_view View() const { return {Data(), size_}; }
    // The same bytes followed by their NUL.
    std::string_view ViewWithNul() const { return {Data(), size_ + 1}; }
    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    std::string Str() const { return std::string(View()); }

    friend bool operator==(const SharedText& a, std::string_view b) { return a.View() == b; }

private:
    const char* Data() const {
        return block_.empty() ? "" : block_.data() + offset_;
    }

    // Whoever holds the bytes (a received block, a string), and all of its bytes.
    std::shared_ptr<const void> owner_;
    std::string_view block_;
    std::size_t offset_ = 0;
    std::size_t size_ = 0;
};

std::ostream& operator<<(std::ostream& out, const SharedText& text);

}  // namespace zumelko
