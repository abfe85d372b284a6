#include "platform/win32/Win32Text.h"

#include <climits>

#include "framework/Utf8.h"
#include "framework/Wipe.h"
#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

namespace {

bool Fits(std::size_t n) { return n < static_cast<std::size_t>(INT_MAX); }

std::optional<std::wstring> Widen(UINT codePage, std::string_view bytes) {
    if (bytes.empty()) return std::wstring();
    if (!Fits(bytes.size())) return std::nullopt;
    const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

// The code page's best form of a UTF-16 text; usedDefault says whether a character had no place.
std::string Narrow(UINT codePage, const wchar_t* wide, std::size_t units, bool* usedDefault) {
    if (units == 0 || !Fits(units)) return {};
    BOOL defaulted = FALSE;
    BOOL* flag = codePage == CP_UTF8 || usedDefault == nullptr ? nullptr : &defaulted;
    const int n = ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(units), nullptr, 0, nullptr, flag);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(codePage, 0, wide, static_cast<int>(units), out.data(), n, nullptr, flag);
    if (usedDefault != nullptr) *usedDefault = defaulted != FALSE;
    return out;
}

}  // namespace

std::optional<std::wstring> WideOf(std::string_view utf8) { return Widen(CP_UTF8, utf8); }

std::optional<std::string> Utf8Of(const wchar_t* wide, std::size_t units, std::size_t limit) {
    if (units == 0) return std::string();
    if (!Fits(units)) return std::nullopt;
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
    if (n <= 0 || static_cast<std::size_t>(n) > limit) return std::nullopt;
    return Narrow(CP_UTF8, wide, units, nullptr);
}

std::optional<std::string> EnvironmentUtf8(const wchar_t* name) {
    const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::nullopt;
    std::wstring value(size, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(name, value.data(), size);
    // Set but empty: the size asked for was its NUL alone.
    if (n == 0) return std::string();
    if (n >= size) return std::nullopt;
    // It may be a secret: the wide copy goes wiped.
    std::optional<std::string> utf8 = Utf8Of(value.data(), n, 4 * static_cast<std::size_t>(n));
    WipeString(value);
    return utf8;
}

std::optional<std::string> TakeEnvironmentUtf8(const wchar_t* name) {
    std::optional<std::string> value = EnvironmentUtf8(name);
    if (value) ::SetEnvironmentVariableW(name, nullptr);
    return value;
}

int Win32TextCodec::PeerCodePage() const { return static_cast<int>(::GetACP()); }

bool Win32TextCodec::Knows(int codePage) const {
    return codePage > 0 && codePage < 65536 && ::IsValidCodePage(static_cast<UINT>(codePage)) != FALSE;
}

std::string Win32TextCodec::FromUtf8(std::string_view utf8, int codePage, bool& exact) const {
    exact = false;
    const auto wide = WideOf(utf8);
    if (!wide || !Knows(codePage)) return std::string(utf8);
    bool defaulted = false;
    std::string out = Narrow(static_cast<UINT>(codePage), wide->data(), wide->size(), &defaulted);
    if (defaulted) return out;
    // Best fit maps some characters to others (U+00A5 to a backslash in 932) without saying so:
    // only reading the bytes back tells.
    const auto back = Widen(static_cast<UINT>(codePage), out);
    exact = back && *back == *wide;
    return out;
}

std::optional<std::string> Win32TextCodec::ToUtf8(std::string_view bytes, int codePage, std::size_t limit) const {
    if (!Knows(codePage)) return std::nullopt;
    if (codePage == static_cast<int>(CP_UTF8)) {
        std::string out = ValidUtf8(bytes);
        if (out.size() > limit) return std::nullopt;
        return out;
    }
    const auto wide = Widen(static_cast<UINT>(codePage), bytes);
    if (!wide) return std::nullopt;
    return Utf8Of(wide->data(), wide->size(), limit);
}

std::string Win32TextCodec::LocalToUtf8(std::string_view local) const {
    return ToUtf8(local, PeerCodePage(), 3 * local.size()).value_or(std::string());
}

std::string Win32TextCodec::Utf8ToLocal(std::string_view utf8) const {
    bool exact = false;
    return FromUtf8(utf8, PeerCodePage(), exact);
}

const Win32TextCodec& Win32Texts() {
    static const Win32TextCodec codec;
    return codec;
}

}  // namespace zumelko::platform::win32
