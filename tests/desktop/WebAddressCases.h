#pragma once
// Received texts as they might come to be linked: addresses people copy, and what a stranger
// on the network could send instead. address is what a browser must get, nothing when the
// text must reach no browser at all.
#include <optional>
#include <string>
#include <vector>

namespace zumelko::testing {

struct WebAddressCase {
    std::string text;
    std::optional<std::string> address;
};

inline std::vector<WebAddressCase> WebAddressCases() {
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

}  // namespace zumelko::testing
