#pragma once
// Texts on the wire between this program, its own kind and classic peers.
//
// A classic peer (a program that speaks these packets but knows only its Windows code page)
// sends a header of three lines (type tag, user name, computer name) and a text in its code
// page with a NUL after it; it keeps only the first three lines of a header
// and reads a text up to its first NUL. So this program sends what those peers read in the
// places they read, and what its own kind needs beyond them where those peers do not look:
//
//   header: type, user and machine in the code page's best form, then a line naming that code
//           page (TextTag), then user and machine exactly, in UTF-8, then, for an item a
//           password manager marked, kSecretLine;
//   text:   the code page's best form and its NUL, and, only when that form does not read back
//           as the very text, the text in UTF-8 and a NUL after it.
//
// A header of three lines (a classic peer's) means the code page of the peers, never a
// guess; an exact part that is not well-formed UTF-8 is ignored for the code page's form.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "framework/SharedText.h"
#include "platform/TextCodec.h"

namespace zumelko {

class StringList;

// Line 3 of this program's headers: "zumelko-text cp932" for code page 932.
std::string TextTag(int codePage);
// The code page a line names when it is such a tag.
std::optional<int> ReadTextTag(std::string_view line);

// Line 6 of the header of an item that is a password: the receiver keeps its text out of sight
// and out of clipboard histories. Only read behind a text tag.
inline constexpr std::string_view kSecretLine = "zumelko-secret";

// The header lines for an item of the given type from the user on the machine (both UTF-8).
void MakeHeader(const platform::TextCodec& codec, std::string_view type, std::string_view userUtf8,
                std::string_view machineUtf8, StringList& header, bool secret = false);

struct ReceivedHeader {
    std::string type;
    std::string user;     // UTF-8
    std::string machine;  // UTF-8
    int codePage = 0;     // what the sender's code page parts are in
    bool secret = false;  // the sender's item was marked as a password
};
// A header as received; missing lines are empty.
ReceivedHeader ReadHeader(const platform::TextCodec& codec, const StringList& lines);

// The data payload for a text (UTF-8, without NUL), before the NUL SendString puts after it.
std::string TextPayload(const platform::TextCodec& codec, std::string_view utf8);

// The received text in UTF-8, from the payload taken as GetString gives it (its first part; the
// block behind it holds the rest). Nothing when its UTF-8 form would be longer than limit.
std::optional<SharedText> ReadTextPayload(const platform::TextCodec& codec, const SharedText& firstPart,
                                          int codePage, std::size_t limit);

}  // namespace zumelko
