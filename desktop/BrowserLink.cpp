#include "desktop/BrowserLink.h"

#include <array>
#include <string_view>

#include "platform/Desktop.h"

namespace zumelko {

const char* const kNetscapeNotRunning = "Netscape Navigater が起動していません。";
const char* const kExplorerNotRunning = "Internet Explorer が起動していません。";
const char* const kNotAWebAddress = "Web アドレスではないので、ブラウザには渡しません。";

namespace {

using Bytes = std::string_view;

bool IsAround(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
// Blanks and control characters end an address wherever they stand in a text; inside one
// they would split it for whoever reads it next.
bool IsInside(unsigned char c) { return c > 0x20 && c != 0x7F; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// A name's bytes: ASCII letters, digits and the few marks host names use, and any byte above
// 0x7F for names in other scripts.
bool IsNameByte(unsigned char c) {
    return IsLetter(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' || c == '%' || c >= 0x80;
}
bool StartsName(unsigned char c) { return IsLetter(c) || IsDigit(c) || c >= 0x80; }
bool IsUserByte(unsigned char c) {
    static constexpr Bytes kMarks = "-._~%!$&'()*+,;=:";
    return IsLetter(c) || IsDigit(c) || c >= 0x80 || kMarks.find(static_cast<char>(c)) != Bytes::npos;
}
bool EndsAuthority(char c) { return c == '/' || c == '?' || c == '#'; }

bool AllOf(Bytes s, bool (*pred)(unsigned char)) {
    for (char c : s)
        if (!pred(static_cast<unsigned char>(c))) return false;
    return true;
}

bool IsPort(Bytes s) { return s.size() <= 5 && AllOf(s, IsDigit); }

bool IsHostName(Bytes host) { return !host.empty() && StartsName(static_cast<unsigned char>(host.front())) && AllOf(host, IsNameByte); }

// host[:port] of an absolute address; a bracketed IPv6 literal is a host too.
bool IsHostAndPort(Bytes hostPort) {
    Bytes rest;
    if (!hostPort.empty() && hostPort.front() == '[') {
        const auto close = hostPort.find(']');
        if (close == Bytes::npos || close < 2) return false;
        for (char c : hostPort.substr(1, close - 1)) {
            const auto u = static_cast<unsigned char>(c);
            if (!(IsDigit(u) || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F') || c == ':' || c == '.')) return false;
        }
        rest = hostPort.substr(close + 1);
    } else {
        const auto colon = hostPort.find(':');
        if (!IsHostName(hostPort.substr(0, colon))) return false;
        rest = colon == Bytes::npos ? Bytes() : hostPort.substr(colon);
    }
    return rest.empty() || (rest.front() == ':' && IsPort(rest.substr(1)));
}

std::optional<std::size_t> SchemeLength(Bytes text) {
    static constexpr std::array<Bytes, 3> kSchemes = {"http://", "https://", "ftp://"};
    for (Bytes scheme : kSchemes) {
        if (text.size() < scheme.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < scheme.size() && same; ++i) {
            const char c = text[i];
            same = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == scheme[i];
        }
        if (same) return scheme.size();
    }
    return std::nullopt;
}

bool IsAbsolute(Bytes text, std::size_t schemeLength) {
    const Bytes afterScheme = text.substr(schemeLength);
    std::size_t end = 0;
    while (end < afterScheme.size() && !EndsAuthority(afterScheme[end])) ++end;
    Bytes authority = afterScheme.substr(0, end);
    if (const auto at = authority.rfind('@'); at != Bytes::npos) {
        if (!AllOf(authority.substr(0, at), IsUserByte)) return false;
        authority = authority.substr(at + 1);
    }
    return IsHostAndPort(authority);
}

// A name such as www.example.com: labels of name bytes with a dot between them, the last one
// not all digits unless the whole is a dotted IPv4 address, so that a number is not a host.
bool IsBareHost(Bytes text) {
    std::size_t end = 0;
    while (end < text.size() && !EndsAuthority(text[end]) && text[end] != ':') ++end;
    Bytes host = text.substr(0, end);
    // Escapes belong to addresses that say their scheme: javascript%3Ahost.example is a
    // scheme in disguise, not a name anyone types.
    if (!IsHostName(host) || host.find("..") != Bytes::npos || host.find('%') != Bytes::npos) return false;
    if (host.back() == '.') host.remove_suffix(1);
    const auto lastDot = host.rfind('.');
    if (lastDot == Bytes::npos) return false;
    const Bytes last = host.substr(lastDot + 1);
    if (AllOf(last, IsDigit)) {
        int labels = 0;
        for (std::size_t from = 0; from <= host.size();) {
            auto dot = host.find('.', from);
            if (dot == Bytes::npos) dot = host.size();
            const Bytes label = host.substr(from, dot - from);
            if (label.empty() || label.size() > 3 || !AllOf(label, IsDigit)) return false;
            ++labels;
            from = dot + 1;
        }
        if (labels != 4) return false;
    }
    Bytes rest = text.substr(end);
    if (!rest.empty() && rest.front() == ':') {
        std::size_t portEnd = 1;
        while (portEnd < rest.size() && !EndsAuthority(rest[portEnd])) ++portEnd;
        if (portEnd == 1 || !IsPort(rest.substr(1, portEnd - 1))) return false;
    }
    return true;
}

// Netscape opens the item it is asked for; Internet Explorer opens the item poked to it. True
// when the browser took the address: a request answered, a poke started.
bool ByDde(TDdeClientConv& conversation, const char* service, int browser, const std::string& address) {
    conversation.SetLink(service, "WWW_OpenURL");
    if (!conversation.Connect()) return false;
    const bool taken =
        browser == kBrowserNetscape ? conversation.Request(address).has_value() : conversation.Poke(address, "");
    conversation.Disconnect();
    return taken;
}

}  // namespace

std::optional<std::string> WebAddress(std::string_view text) {
    Bytes t = text;
    while (!t.empty() && IsAround(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsAround(t.back())) t.remove_suffix(1);
    if (t.empty() || t.size() > kMaxWebAddress || !AllOf(t, IsInside)) return std::nullopt;
    if (const auto scheme = SchemeLength(t)) {
        if (IsAbsolute(t, *scheme)) return std::string(t);
        return std::nullopt;
    }
    if (IsBareHost(t) && t.size() + 7 <= kMaxWebAddress) return "http://" + std::string(t);
    return std::nullopt;
}

void LinkToBrowser(TDdeClientConv& conversation, int browser, const std::string& text,
                   const std::function<void(const std::string&)>& notice) {
    const char* service = nullptr;
    const char* notRunning = nullptr;
    if (browser == kBrowserNetscape) {
        service = "Netscape";
        notRunning = kNetscapeNotRunning;
    } else if (browser == kBrowserExplorer) {
        service = "IExplore";
        notRunning = kExplorerNotRunning;
    } else {
        return;
    }

    // Received text is anyone's on the network: a browser, or whatever the desktop starts in
    // its place, would act on an option, a local file or another scheme's handler just as
    // readily as on a page. Only a web address leaves the program.
    const auto address = WebAddress(text);
    if (!address) {
        if (notice) notice(kNotAWebAddress);
        return;
    }

    // Browsers that still answer DDE get the address that way; today's answer nothing, and then
    // the desktop's default browser opens it.
    if (TDdeClientConv::CanCarry(*address) && ByDde(conversation, service, browser, *address)) return;
    if (platform::Current().dde().ShellExecuteOpen(*address)) return;
    if (notice) notice(notRunning);
}

}  // namespace zumelko
