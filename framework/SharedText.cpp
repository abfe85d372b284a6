#include "framework/SharedText.h"

#include <cstring>
#include <ostream>

namespace zumelko {

SharedText::SharedText(std::string_view text) {
    MemoryStream block;
    block.Reserve(text.size() + 1);
    block.Write(text.data(), text.size());
    const char nul = '\0';
    block.Write(&nul, 1);
    size_ = text.size();
    auto held = std::make_shared<const MemoryStream>(std::move(block));
    block_ = held->View();
    owner_ = std::move(held);
}

SharedText SharedText::Adopt(MemoryStream&& block) {
    const std::size_t nul = block.View().find('\0');
    return Adopt(std::move(block), nul);
}

SharedText SharedText::Adopt(MemoryStream&& block, std::size_t nul) {
    SharedText text;
    const std::string_view all = block.View();
    if (nul >= all.size()) {
        // A sender that left out the NUL: one byte more, not a second copy.
        block.Reserve(all.size() + 1);
        block.SetPosition(all.size());
        const char zero = '\0';
        block.Write(&zero, 1);
        text.size_ = all.size();
    } else {
        text.size_ = nul;
    }
    block.SetPosition(0);
    auto held = std::make_shared<const MemoryStream>(std::move(block));
    text.block_ = held->View();
    text.owner_ = std::move(held);
    return text;
}

SharedText SharedText::Following() const {
    const std::string_view all = block_;
    const std::size_t from = offset_ + size_ + 1;
    if (from >= all.size()) return {};
    const std::size_t nul = all.find('\0', from);
    if (nul == std::string_view::npos) return SharedText(all.substr(from));
    SharedText text;
    text.owner_ = owner_;
    text.block_ = block_;
    text.offset_ = from;
    text.size_ = nul - from;
    return text;
}

SharedText SharedText::Adopt(std::string&& text) {
    SharedText shared;
    auto held = std::make_shared<const std::string>(std::move(text));
    shared.size_ = held->size();
    // A string keeps a NUL after its bytes.
    shared.block_ = std::string_view(held->data(), held->size() + 1);
    shared.owner_ = std::move(held);
    return shared;
}

std::ostream& operator<<(std::ostream& out, const SharedText& text) { return out << text.View(); }

}  // namespace zumelko
