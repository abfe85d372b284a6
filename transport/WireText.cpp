#include "transport/WireText.h"

#include <algorithm>
#include <charconv>

#include "framework/StringList.h"
#include "framework/Utf8.h"

namespace zumelko {

namespace {

constexpr std::string_view kTagPrefix = "zumelko-text cp";

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A name from a header in UTF-8: the exact line when there is a well-formed one, else the code
// page's line read in that code page.
std::string NameOf(const platform::TextCodec& codec, const StringList& lines, std::size_t codePageLine,
                   std::size_t exactLine, int codePage, bool tagged) {
    if (tagged && lines.Count() > exactLine && IsValidUtf8(lines[exactLine])) return lines[exactLine];
    if (lines.Count() <= codePageLine) return {};
    const std::string& bytes = lines[codePageLine];
    // A header is at most a few dozen KiB; its lines cannot grow past three bytes a byte.
    if (auto utf8 = codec.ToUtf8(bytes, codePage, 3 * bytes.size() + 3)) return *utf8;
    return ValidUtf8(bytes);
}

}  // namespace

std::string TextTag(int codePage) { return std::string(kTagPrefix) + std::to_string(codePage); }

std::optional<int> ReadTextTag(std::string_view line) {
    if (line.substr(0, kTagPrefix.size()) != kTagPrefix) return std::nullopt;
    const std::string_view digits = line.substr(kTagPrefix.size());
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() || digits[0] == '+' ||
        value <= 0 || value > 65535)
        return std::nullopt;
    return value;
}

void MakeHeader(const platform::TextCodec& codec, std::string_view type, std::string_view userUtf8,
                std::string_view machineUtf8, StringList& header, bool secret) {
    const int codePage = codec.PeerCodePage();
    bool exact = false;
    header.Clear();
    header.Add(std::string(type));
    header.Add(codec.FromUtf8(userUtf8, codePage, exact));
    header.Add(codec.FromUtf8(machineUtf8, codePage, exact));
    header.Add(TextTag(codePage));
    header.Add(std::string(userUtf8));
    header.Add(std::string(machineUtf8));
    if (secret) header.Add(std::string(kSecretLine));
}

ReceivedHeader ReadHeader(const platform::TextCodec& codec, const StringList& lines) {
    ReceivedHeader header;
    header.type = lines.Count() > 0 ? lines[0] : std::string();
    const std::optional<int> tag = lines.Count() > 3 ? ReadTextTag(lines[3]) : std::nullopt;
    // A code page this desktop cannot read is taken for its own: names still show, the best
    // that can be done.
    header.codePage = tag && codec.Knows(*tag) ? *tag : codec.PeerCodePage();
    header.user = NameOf(codec, lines, 1, 4, header.codePage, tag.has_value());
    header.machine = NameOf(codec, lines, 2, 5, header.codePage, tag.has_value());
    if (!tag) header.codePage = 0;
    header.secret = tag && lines.Count() > 6 && lines[6] == kSecretLine;
    return header;
}

std::string TextPayload(const platform::TextCodec& codec, std::string_view utf8) {
    bool exact = false;
    std::string payload = codec.FromUtf8(utf8, codec.PeerCodePage(), exact);
    if (exact) return payload;
    payload.reserve(payload.size() + 1 + utf8.size());
    payload.push_back('\0');
    payload.append(utf8);
    return payload;
}

std::optional<SharedText> ReadTextPayload(const platform::TextCodec& codec, const SharedText& firstPart, int codePage,
                                          std::size_t limit) {
    if (firstPart.Size() > limit) return std::nullopt;
    if (codePage != 0) {
        // Only this program's kind sends an exact part, and only behind its tag.
        SharedText exact = firstPart.Following();
        if (!exact.Empty() && IsValidUtf8(exact.View())) {
            if (exact.Size() > limit) return std::nullopt;
            return exact;
        }
    } else {
        codePage = codec.PeerCodePage();
    }
    const std::string_view bytes = firstPart.View();
    // ASCII reads the same in every code page a peer may use: no copy.
    if (IsAscii(bytes) || (codePage == platform::kUtf8CodePage && IsValidUtf8(bytes))) {
        if (firstPart.Size() > limit) return std::nullopt;
        return firstPart;
    }
    auto utf8 = codec.ToUtf8(bytes, codePage, limit);
    if (!utf8) {
        if (codec.Knows(codePage)) return std::nullopt;  // too long
        utf8 = ValidUtf8(bytes);
        if (utf8->size() > limit) return std::nullopt;
    }
    return SharedText::Adopt(std::move(*utf8));
}

}  // namespace zumelko
