#pragma once
// Received texts as they might come to be linked: addresses people copy, and what a stranger
// on the network could send instead. address is what a browser must get, nothing when the
// text must reach no browser at all.
#include <optional>
#include <string>
#include <vector>

#include "desktop/BrowserLink.h"

namespace zumelko::testing {

struct WebAddressCase {
    std::string text;
    std::optional<std::string> address;
};

inline std::vector<WebAddressCase> WebAddressExamples() {
    const auto same = [](const std::string& t) { return WebAddressCase{t, t}; };
    const auto none = [](const std::string& t) { return WebAddressCase{t, std::nullopt}; };
    return {
        same("http://example.com/"),
        same("HTTP://EXAMPLE.COM/Index.HTML"),
        same("https://example.com:8443/a%20b/c?x=1&y=%E3%81%82#top"),
        same("https://日本語.jp/パス?q=値#節"),
        same("http://xn--wgv71a119e.jp/"),
        same("ftp://user:pw@files.example.org/pub/"),
        same("http://[::1]:8080/"),
        same("http://pc01/index.html"),
        same("http://pc01/\x83\x65\x83\x58\x83\x67/"),  // a path in code page 932
        // Whatever the address holds after its host is the page's business, not a shell's.
        same("http://example.com/?q=$(reboot);`id`&r='\"<b>'"),
        {"  http://example.com/a\r\n", "http://example.com/a"},
        {"\twww.example.com\n", "http://www.example.com"},
        {"www.example.com/path?q=1#f", "http://www.example.com/path?q=1#f"},
        {"192.168.0.5:8080/admin", "http://192.168.0.5:8080/admin"},

        none(""),
        none(" \r\n\t"),
        none("-new-instance"),
        none("--headless"),
        none("-P x"),
        none("-profile /tmp/x"),
        none("-new-window http://example.com/"),
        none("--version"),
        none("file:///etc/passwd"),
        none("FILE:///etc/passwd"),
        none("/etc/passwd"),
        none("../etc/passwd"),
        none("~/.ssh/id_rsa"),
        none("C:\\Windows\\system32\\calc.exe"),
        none("\\\\server\\share"),
        none("javascript:alert(1)"),
        none("smb://host/share"),
        none("x-custom:foo"),
        none("data:text/html,<script>alert(1)</script>"),
        none("mailto:a@example.com"),
        none("about:config"),
        none("http:example.com"),
        none("http://"),
        none("http:///etc/passwd"),
        none("http://user@/"),
        none("http://example.com\\@evil.example/"),
        none("http://example.com:80a/"),
        none("$(reboot)"),
        none(";rm -rf ~"),
        none("`reboot`"),
        none("example.com;reboot"),
        none("<b>bold</b>"),
        none("<img src=x onerror=alert(1)>"),
        none("http://example.com/\nsecond line"),
        none("http://example.com/a b"),
        none("www.example.com:abc"),
        none("hello"),
        none("3.14"),
        none("v1.2"),
        none(std::string(60 * 1024, 'a')),
        none("http://example.com/" + std::string(60 * 1024, 'a')),
    };
}

// Each check of the rule alone: every refused text below is the good address host.example/x
// (or one of its good forms at the top) with one thing changed, so that it is refused by that
// one check and would pass if the check let it through.
inline std::vector<WebAddressCase> WebAddressCheckCases() {
    const auto same = [](const std::string& t) { return WebAddressCase{t, t}; };
    const auto none = [](const std::string& t) { return WebAddressCase{t, std::nullopt}; };
    const std::string longest = "http://host.example/" + std::string(kMaxWebAddress - 20, 'p');
    const std::string longestBare = "host.example/" + std::string(kMaxWebAddress, 'p');
    return {
        // The good forms each refused case departs from.
        same("http://host.example/x"),
        same("HTTPS://host.example/x"),
        same("ftp://host.example/x"),
        {"host.example/x", "http://host.example/x"},
        // The schemes: only http, https and ftp, in any letter case, with their two slashes.
        none("javascript:host.example/x"),
        none("javascript://host.example/x"),
        none("JavaScript:host.example/x"),
        none("JAVASCRIPT://host.example/x"),
        none("vbscript:host.example"),
        none("vbscript://host.example/x"),
        none("file:host/x"),
        none("file://host.example/x"),
        none("data:host.example"),
        none("data://host.example/x"),
        none("smb:host/share"),
        none("smb://host.example/share"),
        none("ftps://host.example/x"),
        none("httpx://host.example/x"),
        none("htt://host.example/x"),
        none("zumelko-open://host.example/x"),
        none("web+app://host.example/x"),
        none("http:/host.example/x"),
        none("http:\\\\host.example/x"),
        // A scheme in disguise is no host name either: a name without its scheme has no escapes.
        none("javascript%3Ahost.example/x"),
        none("javascript%3ahost.example"),
        same("http://javascript%3Ahost.example/x"),
        // Blanks and line breaks around the address go; nothing else does, and nothing that is
        // not printable stays inside.
        {" \t\r\nhttp://host.example/x \r\n\t", "http://host.example/x"},
        none("\vhttp://host.example/x"),
        none("\fhttp://host.example/x"),
        none(std::string("\0http://host.example/x", 22)),
        none("\x01http://host.example/x"),
        none("\x1bhttp://host.example/x"),
        none("\x7fhttp://host.example/x"),
        none("\xc2\xa0http://host.example/x"),  // a no-break space in UTF-8
        none("-http://host.example/x"),
        none("http://host.example/x\v"),
        none("http://host.example/\x01x"),
        none("http://host.example/\x1b[2Jx"),
        none("http://host.example/x\x7f"),
        none(std::string("http://host.example/x\0", 22)),
        none("http://host.example/\tx"),
        none("host.example/\x01x"),
        // The length, on both sides of the limit, with and without the scheme that is added.
        same(longest),
        none(longest + "p"),
        {longestBare.substr(0, kMaxWebAddress - 7), "http://" + longestBare.substr(0, kMaxWebAddress - 7)},
        none(longestBare.substr(0, kMaxWebAddress - 6)),
    };
}

// Every case, as the desktops run them.
inline std::vector<WebAddressCase> WebAddressCases() {
    auto cases = WebAddressExamples();
    for (auto& c : WebAddressCheckCases()) cases.push_back(std::move(c));
    return cases;
}

}  // namespace zumelko::testing
