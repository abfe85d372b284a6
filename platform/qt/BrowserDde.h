#pragma once
// Reaching a browser on Linux, which has no DDE: the conversation operations keep their shape,
// and a conversation stands for a browser program that can be started. A request or a poke on
// the "WWW_OpenURL" topic starts that program with the item as one argument, never through a
// shell, and never where it could pass for an option.
//   "Netscape"  -> the Mozilla family: firefox, else firefox-esr
//   "IExplore"  -> the desktop's default browser: xdg-open
#include <map>
#include <string>
#include <vector>

#include "platform/Dde.h"

namespace zumelko::platform::qt {

class BrowserDde final : public Dde {
public:
    Hsz CreateStringHandle(const std::string& text) override;
    void FreeStringHandle(Hsz handle) override;
    Hconv Connect(Hsz service, Hsz topic) override;
    void Disconnect(Hconv conversation) override;
    std::optional<std::string> Request(Hconv conversation, Hsz item, std::uint32_t format,
                                       std::uint32_t timeoutMs) override;
    bool Poke(Hconv conversation, Hsz item, const std::string& data, std::uint32_t format) override;
    void SetDisconnectHandler(std::function<void(Hconv)> handler) override { disconnected_ = std::move(handler); }
    std::uint32_t WinExec(const std::string& commandLine, int show) override;

    // The programs that answer for a service, in the order they are tried.
    static std::vector<std::string> ProgramsFor(const std::string& service);
    // Starts a program found on PATH with these arguments, detached; false when it cannot be.
    static bool Start(const std::string& program, const std::vector<std::string>& arguments);

private:
    bool Open(Hconv conversation, Hsz item);

    std::map<Hsz, std::string> strings_;
    std::map<Hconv, std::string> conversations_;  // the program each conversation starts
    Hsz nextString_ = 0x100;
    Hconv nextConversation_ = 0x4000;
    std::function<void(Hconv)> disconnected_;
};

}  // namespace zumelko::platform::qt
