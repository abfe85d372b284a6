#include "framework/Utf8.h"

#include <cstdint>
#include <cstring>

namespace zumelko {

namespace {

// The length of the well-formed character at p (p < end, *p >= 0x80), or 0.
std::size_t CharacterAt(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = *p;
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;  // no overlong forms
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < n) return 0;
    if (p[1] < lo || p[1] > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if ((p[k] & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // Runs of ASCII, the bulk of most texts, eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ULL) != 0) break;
            p += 8;
        }
        if (p == end) break;
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const std::size_t n = CharacterAt(p, end);
        if (n == 0) return false;
        p += n;
    }
    return true;
}

std::string ValidUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const std::size_t n = *p < 0x80 ? 1 : CharacterAt(p, end);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++p;
        } else {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        }
    }
    return out;
}

}  // namespace zumelko
