// The header's text form from any bytes: StringList splitting against a splitter written
// here from the rules (lines end at CR LF, a lone CR or a lone LF; a NUL ends the text; a
// final line end adds no empty line), the three lines the receiver reads from it, and the
// round trip of the lines through their text form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "framework/StringList.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "header invariant broken: %s\n", what);
    std::abort();
}

std::vector<std::string> Reference(std::string_view text) {
    std::vector<std::string> lines;
    std::string line;
    bool open = false;  // a line has begun and not ended
    for (std::size_t i = 0; i < text.size() && text[i] != '\0'; ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            open = false;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
            open = true;
        }
    }
    if (open) lines.push_back(line);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zumelko::StringList header;
    header.SetText(text);
    if (header.Lines() != Reference(text)) Fail("lines differ from the rules");

    std::size_t total = 0;
    for (const std::string& line : header) {
        if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) Fail("a line holds CR, LF or NUL");
        total += line.size();
    }
    if (total > size) Fail("the lines hold more than the text");

    // The receiver's reading: type tag, user, machine; missing lines are empty.
    const std::string type = header.Count() > 0 ? header[0] : std::string();
    const std::string user = header.Count() > 1 ? header[1] : std::string();
    const std::string machine = header.Count() > 2 ? header[2] : std::string();
    if (type.size() + user.size() + machine.size() > size) Fail("the header's fields hold more than the text");

    // Lines written out and read back are the same lines.
    zumelko::StringList again;
    again.SetText(header.Text());
    if (!(again == header)) Fail("the text form does not read back");
    // A sender's three lines come back as the same three, whatever bytes they hold.
    zumelko::StringList sent;
    sent.Add(type);
    sent.Add(user);
    sent.Add(machine);
    zumelko::StringList got;
    got.SetText(sent.Text());
    if (got.Count() != 3 || got[0] != type || got[1] != user || got[2] != machine) Fail("three lines do not survive");
    return 0;
}
