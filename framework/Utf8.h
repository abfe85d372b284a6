#pragma once
// UTF-8 as the program checks it wherever bytes from elsewhere are taken for UTF-8.
#include <string>
#include <string_view>

namespace zumelko {

// True when the bytes are well-formed UTF-8: no overlong form, no surrogate, nothing above
// U+10FFFF, no sequence cut short.
bool IsValidUtf8(std::string_view bytes);
// The bytes as well-formed UTF-8: each byte that starts no well-formed character becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

}  // namespace zumelko
