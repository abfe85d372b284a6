#include "platform/win32/Win32Dde.h"

#include <cstdio>

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32UiHost.h"
// COM, for the shell's sake alone, after the headers that must come first.
#include <objbase.h>

namespace zumelko::platform::win32 {

namespace {

// DDEML's callback carries no context of ours; there is one instance per process.
Win32Dde* g_instance = nullptr;

HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV conversation, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    if (type == XTYP_DISCONNECT && g_instance != nullptr) {
        // Nothing may unwind through DDEML.
        try {
            g_instance->PartnerDisconnected(FromHandle(conversation));
        } catch (...) {
            std::fputs("zumelko: exception in the disconnect handler\n", stderr);
        }
    }
    return nullptr;
}

}  // namespace

static_assert(XTYP_REQUEST_ == XTYP_REQUEST && XTYP_POKE_ == XTYP_POKE && TIMEOUT_ASYNC_ == TIMEOUT_ASYNC);
static_assert(CP_WINANSI_ == CP_WINANSI && DMLERR_NO_CONV_ESTABLISHED_ == DMLERR_NO_CONV_ESTABLISHED);

Win32Dde::~Win32Dde() { Uninitialize(); }

std::uint32_t Win32Dde::Initialize() {
    if (instance_ != 0) return DMLERR_NO_ERROR;
    DWORD id = 0;
    const UINT rc = ::DdeInitializeA(&id, Callback, APPCMD_CLIENTONLY, 0);
    if (rc != DMLERR_NO_ERROR) return rc;
    instance_ = id;
    g_instance = this;
    return DMLERR_NO_ERROR;
}

void Win32Dde::Uninitialize() {
    if (instance_ == 0) return;
    ::DdeUninitialize(instance_);
    instance_ = 0;
    if (g_instance == this) g_instance = nullptr;
}

Hsz Win32Dde::CreateStringHandle(const std::string& text) {
    if (instance_ == 0) return 0;
    return FromHandle(::DdeCreateStringHandleA(instance_, text.c_str(), CP_WINANSI));
}

void Win32Dde::FreeStringHandle(Hsz handle) {
    if (instance_ != 0 && handle != 0) ::DdeFreeStringHandle(instance_, AsHandle<HSZ>(handle));
}

Hconv Win32Dde::Connect(Hsz service, Hsz topic) {
    if (instance_ == 0) return 0;
    return FromHandle(::DdeConnect(instance_, AsHandle<HSZ>(service), AsHandle<HSZ>(topic), nullptr));
}

void Win32Dde::Disconnect(Hconv conversation) {
    if (conversation != 0) ::DdeDisconnect(AsHandle<HCONV>(conversation));
}

std::optional<std::string> Win32Dde::Request(Hconv conversation, Hsz item, std::uint32_t format,
                                             std::uint32_t timeoutMs) {
    if (conversation == 0) return std::nullopt;
    DWORD result = 0;
    HDDEDATA data = ::DdeClientTransaction(nullptr, 0, AsHandle<HCONV>(conversation), AsHandle<HSZ>(item), format,
                                          XTYP_REQUEST, timeoutMs, &result);
    if (data == nullptr) return std::nullopt;
    const DWORD size = ::DdeGetData(data, nullptr, 0, 0);
    std::string bytes(size, '\0');
    if (size != 0) ::DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), size, 0);
    ::DdeFreeDataHandle(data);
    return bytes;
}

bool Win32Dde::Poke(Hconv conversation, Hsz item, const std::string& data, std::uint32_t format) {
    if (conversation == 0) return false;
    DWORD id = 0;
    // DDEML copies the bytes before it returns, so the string may go at once.
    return ::DdeClientTransaction(reinterpret_cast<LPBYTE>(const_cast<char*>(data.data())),
                                  static_cast<DWORD>(data.size()), AsHandle<HCONV>(conversation),
                                  AsHandle<HSZ>(item), format, XTYP_POKE, TIMEOUT_ASYNC, &id) != nullptr;
}

void Win32Dde::SetDisconnectHandler(std::function<void(Hconv)> handler) { disconnected_ = std::move(handler); }

void Win32Dde::PartnerDisconnected(Hconv conversation) {
    if (disconnected_) disconnected_(conversation);
}

std::uint32_t Win32Dde::WinExec(const std::string& commandLine, int show) {
    return ::WinExec(commandLine.c_str(), static_cast<UINT>(show));
}

bool Win32Dde::ShellExecuteOpen(const std::string& address) {
    // The handler's command line is the registered one with the address put in place of "%1",
    // in quotes: a quote of the address's own would end them there. Browsers read %22 as the
    // same character.
    std::string quoted;
    for (char c : address) quoted += c == '"' ? std::string("%22") : std::string(1, c);
    // Bytes above 0x7F are the code page's, or UTF-8 from a Linux peer, as on the clipboard.
    const std::wstring wide = FromCaption(quoted);
    // The shell may hand the address on through COM.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // No box of the system's own when it fails: the caller tells the user.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = wide.c_str();
    info.nShow = SW_SHOWNORMAL;
    const bool opened = ::ShellExecuteExW(&info) != FALSE;
    if (SUCCEEDED(com)) ::CoUninitialize();
    return opened;
}

}  // namespace zumelko::platform::win32
