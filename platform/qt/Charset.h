#pragma once
// Texts the program handles are bytes in the desktop's ANSI code page; Qt speaks Unicode.
// On Linux that code page is a hybrid made for the Windows peers: what arrives is UTF-8 when
// it is valid UTF-8 and the peers' code page (932 unless ZUMELKO_PEER_CODEPAGE names another)
// otherwise, and what goes out is in the peers' code page when every character has a place
// there and UTF-8 otherwise. Real code page 932 text is practically never valid UTF-8 (its
// lead bytes and half-width kana are UTF-8 continuation bytes), so peers that know nothing
// but their code page get exactly what they always got. These convert at the edges
// (clipboard, widgets, tray tip, names).
#include <QByteArray>
#include <QString>

#include <string>
#include <string_view>

namespace zumelko::platform::qt {

// The Windows code page of the peers: ZUMELKO_PEER_CODEPAGE (such as 932, 936, 949, 950 or
// 1252) when this system can convert it, else 932. Read once.
int PeerCodePage();
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// ANSI bytes to Unicode; bytes that do not decode become U+FFFD.
QString FromAnsi(std::string_view bytes, int codePage = PeerCodePage());
// ANSI bytes as UTF-8. Valid UTF-8 is handed back as it is, sharing the caller's block; a text
// in the code page grows by at most three bytes for each of its bytes.
QByteArray AnsiToUtf8(const QByteArray& bytes, int codePage = PeerCodePage());
std::string AnsiToUtf8(std::string_view bytes, int codePage = PeerCodePage());
// Unicode to ANSI bytes: the code page when it holds every character, else UTF-8.
std::string ToAnsi(const QString& text, int codePage = PeerCodePage());
// The same from UTF-8; bytes that are not valid UTF-8 are taken to be ANSI already and kept.
std::string Utf8ToAnsi(std::string_view utf8, int codePage = PeerCodePage());
// Captions of the forms mix the program's own texts (UTF-8 in the source) with names and
// received text: decoded as FromAnsi decodes.
inline QString FromCaption(std::string_view bytes) { return FromAnsi(bytes); }

}  // namespace zumelko::platform::qt
