#include "platform/TextCodec.h"

#include "framework/Utf8.h"

namespace zumelko::platform {

std::string TextCodec::FromUtf8(std::string_view utf8, int, bool& exact) const {
    exact = true;
    return std::string(utf8);
}

std::optional<std::string> TextCodec::ToUtf8(std::string_view bytes, int codePage, std::size_t limit) const {
    if (codePage != kUtf8CodePage) return std::nullopt;
    std::string out = ValidUtf8(bytes);
    if (out.size() > limit) return std::nullopt;
    return out;
}

std::string TextCodec::LocalToUtf8(std::string_view local) const { return ValidUtf8(local); }

std::string TextCodec::Utf8ToLocal(std::string_view utf8) const { return std::string(utf8); }

}  // namespace zumelko::platform
