#pragma once
// DDEML as a client, WinExec, and the shell's default browser. One DDEML instance per
// process: its callback reports a partner's disconnect to the handler.
#include "platform/Dde.h"

namespace zumelko::platform::win32 {

class Win32Dde final : public Dde {
public:
    Win32Dde() = default;
    ~Win32Dde() override;
    Win32Dde(const Win32Dde&) = delete;
    Win32Dde& operator=(const Win32Dde&) = delete;

    // Dde overrides:
    std::uint32_t Initialize() override;
    void Uninitialize() override;
    Hsz CreateStringHandle(const std::string& text) override;
    void FreeStringHandle(Hsz handle) override;
    Hconv Connect(Hsz service, Hsz topic) override;
    void Disconnect(Hconv conversation) override;
    std::optional<std::string> Request(Hconv conversation, Hsz item, std::uint32_t format,
                                       std::uint32_t timeoutMs) override;
    bool Poke(Hconv conversation, Hsz item, const std::string& data, std::uint32_t format) override;
    void SetDisconnectHandler(std::function<void(Hconv)> handler) override;
    std::uint32_t WinExec(const std::string& commandLine, int show) override;
    // A '"' goes as %22: the browser's registered command line has the address in quotes.
    bool ShellExecuteOpen(const std::string& address) override;

    // The DDEML callback's work (the callback itself is in the .cpp).
    void PartnerDisconnected(Hconv conversation);

private:
    unsigned long instance_ = 0;
    std::function<void(Hconv)> disconnected_;
};

}  // namespace zumelko::platform::win32
