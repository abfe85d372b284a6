#pragma once
// Client conversations with a browser (DDEML on Windows; elsewhere the desktop reaches the
// browser its own way but keeps the same operations), starting a program, and the desktop's
// default browser.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/WinTypes.h"

namespace zumelko::platform {

using Hconv = std::uintptr_t;  // 0: no conversation
using Hsz = std::uintptr_t;    // 0: no string handle

constexpr std::uint32_t XTYP_REQUEST_ = 0x20B0;
constexpr std::uint32_t XTYP_POKE_ = 0x4090;
constexpr std::uint32_t TIMEOUT_ASYNC_ = 0xFFFFFFFFu;
constexpr std::uint32_t CP_WINANSI_ = 1004;
constexpr int SW_SHOWMINNOACTIVE_ = 7;
constexpr std::uint32_t DMLERR_NO_ERROR_ = 0;
constexpr std::uint32_t DMLERR_DLL_NOT_INITIALIZED_ = 0x4003;
constexpr std::uint32_t DMLERR_INVALIDPARAMETER_ = 0x4006;
constexpr std::uint32_t DMLERR_LOW_MEMORY_ = 0x4007;
constexpr std::uint32_t DMLERR_MEMORY_ERROR_ = 0x4008;
constexpr std::uint32_t DMLERR_NO_CONV_ESTABLISHED_ = 0x400A;

class Dde {
public:
    virtual ~Dde() = default;

    // DdeInitializeA for the process (client only, command flags 0): DMLERR_NO_ERROR_ or the
    // DDEML error code. Desktops that reach browsers without DDE have nothing to set up.
    virtual std::uint32_t Initialize() { return DMLERR_NO_ERROR_; }
    virtual void Uninitialize() {}

    // CP_WINANSI string handles; 0 when the text cannot be made one (too long, out of memory).
    virtual Hsz CreateStringHandle(const std::string& text) = 0;
    virtual void FreeStringHandle(Hsz handle) = 0;
    // 0 when no server answers. A 0 handle matches any service or topic, as DdeConnect does.
    virtual Hconv Connect(Hsz service, Hsz topic) = 0;
    virtual void Disconnect(Hconv conversation) = 0;
    // Synchronous request: the reply's bytes, or nothing (refused, timed out).
    virtual std::optional<std::string> Request(Hconv conversation, Hsz item, std::uint32_t format,
                                               std::uint32_t timeoutMs) = 0;
    // Asynchronous poke of data (its bytes as given, NUL included): true when started.
    virtual bool Poke(Hconv conversation, Hsz item, const std::string& data, std::uint32_t format) = 0;
    // The instance callback's XTYP_DISCONNECT: told when a partner ends a conversation by
    // itself (not for Disconnect). One handler per process; setting it replaces the last.
    virtual void SetDisconnectHandler(std::function<void(Hconv)> handler) = 0;

    // WinExec: a value of 32 or more means the program was started.
    virtual std::uint32_t WinExec(const std::string& commandLine, int show) = 0;

    // ShellExecuteW with the verb "open" on a web address (one that WebAddress gave): the
    // browser the user has chosen for such addresses opens it. True when it was handed over;
    // false when the desktop knows no such browser or starting it failed.
    virtual bool ShellExecuteOpen(const std::string& /*address*/) { return false; }
};

}  // namespace zumelko::platform
