#pragma once
// Texts the program handles are bytes in the locale's character set; Qt speaks Unicode.
// These convert at the edges (clipboard, widgets, tray tip).
#include <QByteArray>
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
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);
// Locale bytes as UTF-8 for other programs. Valid UTF-8 in a UTF-8 locale is handed on as it
// is, sharing the caller's block; anything else is converted as FromLocale converts it.
QByteArray ToClipboardUtf8(const QByteArray& bytes);
// Captions of the forms mix the program's own texts (UTF-8 in the source) with names and
// received text in the locale's character set: valid UTF-8 is taken as such, anything else
// as locale bytes.
QString FromCaption(std::string_view bytes);

}  // namespace zumelko::platform::qt
