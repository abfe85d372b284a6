#pragma once
// Texts between the program's own form (UTF-8 for what crosses the network exactly; the
// desktop's own form for its names and settings) and the code page that Windows peers keep
// their texts in. The base converts nothing: it stands for a desktop whose texts are UTF-8
// and whose peers speak UTF-8 too (code page 65001), as the simulated desktop's do.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zumelko::platform {

inline constexpr int kUtf8CodePage = 65001;

class TextCodec {
public:
    virtual ~TextCodec() = default;

    // The code page of the peers that know nothing else: Windows' ANSI code page.
    virtual int PeerCodePage() const { return kUtf8CodePage; }
    // Whether this desktop reads and writes that code page.
    virtual bool Knows(int codePage) const { return codePage == kUtf8CodePage; }
    // UTF-8 (well-formed) to the code page's best form, as Windows makes it: characters with no
    // place there become a close one or '?'. exact tells whether the bytes read back as the
    // very same text.
    virtual std::string FromUtf8(std::string_view utf8, int codePage, bool& exact) const;
    // Code page bytes as well-formed UTF-8; bytes that make no character there become U+FFFD.
    // Nothing when the code page is unknown here or the UTF-8 would be longer than limit.
    virtual std::optional<std::string> ToUtf8(std::string_view bytes, int codePage, std::size_t limit) const;
    // The desktop's own texts (its user and machine names, what its widgets give) as UTF-8 and
    // back.
    virtual std::string LocalToUtf8(std::string_view local) const;
    virtual std::string Utf8ToLocal(std::string_view utf8) const;
};

}  // namespace zumelko::platform
