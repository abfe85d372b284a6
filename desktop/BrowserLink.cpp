#include "desktop/BrowserLink.h"

namespace zumelko {

const char* const kNetscapeNotRunning = "Netscape Navigater が起動していません。";
const char* const kExplorerNotRunning = "Internet Explorer が起動していません。";

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

    conversation.SetLink(service, "WWW_OpenURL");
    if (!conversation.Connect()) {
        if (notice) notice(notRunning);
        return;
    }
    // Netscape opens the item it is asked for; Internet Explorer opens the item poked to it.
    // Neither answer tells us anything we could act on.
    if (browser == kBrowserNetscape) {
        conversation.Request(text);
    } else {
        conversation.Poke(text, "");
    }
    conversation.Disconnect();
}

}  // namespace zumelko
