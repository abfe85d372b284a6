#pragma once
// Opens a text as a URL in a running web browser, over the caller's own conversation object.
#include <functional>
#include <string>

#include "desktop/DdeClientConv.h"

namespace zumelko {

// Browser values, as the settings store them; any other value means no browser.
constexpr int kBrowserNetscape = 0;
constexpr int kBrowserExplorer = 1;

extern const char* const kNetscapeNotRunning;
extern const char* const kExplorerNotRunning;

// The text goes to the browser exactly as given. notice is told when the browser does not
// answer; nothing else is reported.
void LinkToBrowser(TDdeClientConv& conversation, int browser, const std::string& text,
                   const std::function<void(const std::string&)>& notice);

}  // namespace zumelko
