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
    block_ = std::make_shared<const MemoryStream>(std::move(block));
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
    text.block_ = std::make_shared<const MemoryStream>(std::move(block));
    return text;
}

SharedText SharedText::Following() const {
    if (!block_) return {};
    const std::string_view all = block_->View();
    const std::size_t from = offset_ + size_ + 1;
    if (from >= all.size()) return {};
    const std::size_t nul = all.find('\0', from);
    if (nul == std::string_view::npos) return SharedText(all.substr(from));
    SharedText text;
    text.block_ = block_;
    text.offset_ = from;
    text.size_ = nul - from;
    return text;
}

std::ostream& operator<<(std::ostream& out, const SharedText& text) { return out << text.View(); }

}  // namespace zumelko
