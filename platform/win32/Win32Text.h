#pragma once
// Texts between UTF-8 and the code pages, through the system's own converters: what Windows
// makes of a text is what classic peers read.
#include "platform/TextCodec.h"

namespace zumelko::platform::win32 {

class Win32TextCodec final : public TextCodec {
public:
    // TextCodec overrides:
    int PeerCodePage() const override;  // the ANSI code page
    bool Knows(int codePage) const override;
    std::string FromUtf8(std::string_view utf8, int codePage, bool& exact) const override;
    std::optional<std::string> ToUtf8(std::string_view bytes, int codePage, std::size_t limit) const override;
    std::string LocalToUtf8(std::string_view local) const override;  // from the ANSI code page
    std::string Utf8ToLocal(std::string_view utf8) const override;
};
const Win32TextCodec& Win32Texts();

// UTF-8 to UTF-16 and back, for the clipboard's Unicode text; nothing for a text too long for
// the system's converters.
std::optional<std::wstring> WideOf(std::string_view utf8);
std::optional<std::string> Utf8Of(const wchar_t* wide, std::size_t units, std::size_t limit);

// An environment variable's value in UTF-8, read in UTF-16 so that no code page changes it;
// nothing when it is not set.
std::optional<std::string> EnvironmentUtf8(const wchar_t* name);
// The same, and the variable is removed from the environment: no program started afterwards
// inherits it. (The system keeps the environment block itself; what it leaves of the old value
// there is out of the program's reach.)
std::optional<std::string> TakeEnvironmentUtf8(const wchar_t* name);

}  // namespace zumelko::platform::win32
