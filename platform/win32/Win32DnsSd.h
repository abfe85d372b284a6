#pragma once
// The DNS-SD entry points of dnsapi.dll. They exist from Windows 10 1809 on only, so they are
// looked up when the program starts rather than linked, and the one exe still starts on older
// systems. Tests put stand-ins in their place to play the system's threads.
#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

struct DnsSdApi {
    decltype(&::DnsServiceConstructInstance) constructInstance = nullptr;
    decltype(&::DnsServiceFreeInstance) freeInstance = nullptr;
    decltype(&::DnsServiceRegister) registerService = nullptr;
    decltype(&::DnsServiceDeRegister) deregisterService = nullptr;
    decltype(&::DnsServiceBrowse) browse = nullptr;
    decltype(&::DnsServiceBrowseCancel) browseCancel = nullptr;
    decltype(&::DnsFree) free = nullptr;

    bool Complete() const {
        return constructInstance != nullptr && freeInstance != nullptr && registerService != nullptr &&
               deregisterService != nullptr && browse != nullptr && browseCancel != nullptr &&
               free != nullptr;
    }
};

// What the asynchronous DnsService… calls answer when they have started (not in every SDK).
constexpr DWORD kDnsRequestPending = 9506;

}  // namespace zumelko::platform::win32
