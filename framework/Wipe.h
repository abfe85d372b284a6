#pragma once
// Overwrites a secret's plain copy before its memory is let go, in a way the compiler may not
// leave out as a dead store.
#include <cstddef>
#include <string>

namespace zumelko {

inline void WipeBytes(void* data, std::size_t size) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

// The string's whole block, past its end too (where an earlier, longer content may remain), and
// then empties it.
template <typename Char>
void WipeString(std::basic_string<Char>& text) {
    text.resize(text.capacity());
    WipeBytes(text.data(), text.size() * sizeof(Char));
    text.clear();
}

}  // namespace zumelko
