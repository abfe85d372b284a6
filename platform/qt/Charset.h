#pragma once
// The Linux desktop keeps every text in UTF-8, as Linux programs do: the clipboard's text, the
// user and machine names, the widgets' texts. The peers' code page (that of the Windows
// machines, 932 unless ZUMELKO_PEER_CODEPAGE names another) is met only on the wire, where
// the program's texts are written in it and read from it.
#include <QString>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "framework/Utf8.h"
#include "platform/TextCodec.h"

namespace zumelko::platform::qt {

using zumelko::IsValidUtf8;

// The Windows code page of the peers: ZUMELKO_PEER_CODEPAGE (such as 932, 936, 949, 950 or
// 1252) when this system can convert it, else 932. Read once.
int PeerCodePage();

// Code page bytes as UTF-8: bytes that make no character become U+FFFD. Nothing when this
// system does not know the code page or the UTF-8 would be longer than limit. A text grows by
// at most three bytes for each of its bytes.
std::optional<std::string> DecodeCodePage(std::string_view bytes, int codePage,
                                          std::size_t limit = std::string::npos);
// Well-formed UTF-8 in the code page, as Windows writes it: a character with no place there is
// '?', and some become a close one (U+00A5 a backslash in 932). exact tells whether the bytes
// read back as the very text.
std::string EncodeCodePage(std::string_view utf8, int codePage, bool& exact);

// Captions of the forms: the program's texts and the names and texts it shows, all UTF-8.
QString FromCaption(std::string_view bytes);

class QtTextCodec final : public TextCodec {
public:
    int PeerCodePage() const override;
    bool Knows(int codePage) const override;
    std::string FromUtf8(std::string_view utf8, int codePage, bool& exact) const override;
    std::optional<std::string> ToUtf8(std::string_view bytes, int codePage, std::size_t limit) const override;
};
const QtTextCodec& QtTexts();

}  // namespace zumelko::platform::qt
