#pragma once
// Opens a text as a URL in a running web browser, over the caller's own conversation object.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/DdeClientConv.h"

namespace zumelko {

// Browser values, as the settings store them; any other value means no browser.
constexpr int kBrowserNetscape = 0;
constexpr int kBrowserExplorer = 1;

extern const char* const kNetscapeNotRunning;
extern const char* const kExplorerNotRunning;
extern const char* const kNotAWebAddress;

// Longer texts are not taken for an address: no page needs one, and a browser's argument or a
// DDE item of that size is a load, not a link.
constexpr std::size_t kMaxWebAddress = 8192;

// The address a browser may be given for a received text, or nothing when the text is no web
// address. Blanks and line breaks around it are dropped; what is left must be an absolute
// http, https or ftp address with a host (scheme in any letter case), or a host name with a
// dot in it and no percent escape, optionally with port, path, query and fragment, which is
// taken as http. Nothing
// inside may be a blank or a control character. The address always begins with its scheme,
// so no program can take it for an option, and no other scheme (file, javascript, data, smb,
// a desktop's own) and no file path reaches a browser. Bytes above 0x7F pass unchanged, so
// international names and paths arrive as they were sent, in either code page.
std::optional<std::string> WebAddress(std::string_view text);

// The text goes to the browser as WebAddress gives it; a text that is no web address is not
// handed over and notice is told so. The browser is asked by DDE first. When no conversation
// comes about, the browser refuses the address or DDE cannot carry it (over 255 characters),
// the address goes to the desktop's default browser instead, and notice is told that the
// browser is not running only when that fails too.
void LinkToBrowser(TDdeClientConv& conversation, int browser, const std::string& text,
                   const std::function<void(const std::string&)>& notice);

}  // namespace zumelko
