#pragma once
// Texts the program handles are bytes in the locale's character set; Qt speaks Unicode.
// These convert at the edges (clipboard, widgets, tray tip).
#include <QString>

#include <string>
#include <string_view>

namespace zumelko::platform::qt {

// The locale's character set name (as nl_langinfo gives it once the locale is set).
std::string LocaleCodeset();
// Bytes in the locale's character set to Unicode; bytes that do not decode become U+FFFD.
QString FromLocale(std::string_view bytes);
// Unicode to the locale's character set; characters it cannot hold become '?'.
std::string ToLocale(const QString& text);
// Captions of the forms mix the program's own texts (UTF-8 in the source) with names and
// received text in the locale's character set: valid UTF-8 is taken as such, anything else
// as locale bytes.
QString FromCaption(std::string_view bytes);

}  // namespace zumelko::platform::qt
