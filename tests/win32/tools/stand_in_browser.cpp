// A stand-in browser for the DDE tests: a DDEML server for service argv[1], topic WWW_OpenURL,
// that answers every request with "ok", takes every poke, and writes one line per transaction
// to the file argv[2] ("request ITEM", "poke ITEM DATA"). It ends after argv[3] seconds.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/win32/Win32Api.h"

namespace {

DWORD g_instance = 0;
std::unique_ptr<std::FILE, int (*)(std::FILE*)> g_log(nullptr, &std::fclose);

std::string Text(HSZ handle) {
    char buffer[1024] = {};
    ::DdeQueryStringA(g_instance, handle, buffer, sizeof buffer, CP_WINANSI);
    return buffer;
}

void Note(const std::string& line) {
    std::fprintf(g_log.get(), "%s\n", line.c_str());
    std::fflush(g_log.get());
}

HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV, HSZ topic, HSZ item, HDDEDATA data, ULONG_PTR, ULONG_PTR) {
    switch (type) {
    case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(static_cast<INT_PTR>(Text(topic) == "WWW_OpenURL"));
    case XTYP_REQUEST: {
        Note("request " + Text(item));
        static const char reply[] = "ok";
        return ::DdeCreateDataHandle(g_instance, reinterpret_cast<LPBYTE>(const_cast<char*>(reply)), sizeof reply, 0,
                                     item, format, 0);
    }
    case XTYP_POKE: {
        std::string bytes(::DdeGetData(data, nullptr, 0, 0), '\0');
        if (!bytes.empty()) ::DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), static_cast<DWORD>(bytes.size()), 0);
        Note("poke " + Text(item) + " " + std::to_string(bytes.size()));
        return reinterpret_cast<HDDEDATA>(static_cast<INT_PTR>(DDE_FACK));
    }
    default:
        return nullptr;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    g_log.reset(std::fopen(argv[2], "w"));
    if (!g_log) return 2;
    if (::DdeInitializeA(&g_instance, Callback, APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS, 0) !=
        DMLERR_NO_ERROR) {
        return 1;
    }
    HSZ service = ::DdeCreateStringHandleA(g_instance, argv[1], CP_WINANSI);
    ::DdeNameService(g_instance, service, nullptr, DNS_REGISTER);
    Note("ready");
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(std::atoi(argv[3])) * 1000;
    MSG m{};
    while (::GetTickCount64() < end) {
        while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&m);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    ::DdeNameService(g_instance, service, nullptr, DNS_UNREGISTER);
    ::DdeFreeStringHandle(g_instance, service);
    ::DdeUninitialize(g_instance);
    return 0;
}
