#include "platform/win32/Win32Discovery.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cwctype>
#include <deque>
#include <mutex>

#include "platform/Network.h"
#include "platform/win32/Win32DnsSd.h"
#include "platform/win32/Win32Loop.h"

namespace zumelko::platform::win32 {

namespace {

// Posted to the discovery's window when the system's threads have queued something.
constexpr UINT kFoundMessage = WM_USER + 0x5D1;
// What the callbacks queue between two turns of the loop; a flood beyond this is dropped.
constexpr std::size_t kMaxQueued = 4096;
// How long quitting waits for the system to confirm the cancelled browse and the withdrawal.
constexpr auto kConfirmWait = std::chrono::seconds(2);
// An instance name is one DNS label.
constexpr std::size_t kMaxNameBytes = 63;

struct ModuleFree {
    void operator()(HMODULE m) const noexcept { ::FreeLibrary(m); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFree>;

struct InstanceFree {
    decltype(&::DnsServiceFreeInstance) free = nullptr;
    void operator()(PDNS_SERVICE_INSTANCE instance) const noexcept {
        if (free != nullptr) free(instance);
    }
};

template <typename F>
void Find(HMODULE module, const char* name, F& function) {
    // FARPROC is a placeholder type: the real one is the declared function's.
    function = reinterpret_cast<F>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

void Say(const char* text) { std::fprintf(stderr, "zumelko: %s\n", text); }

void Say(const char* text, unsigned long error) { std::fprintf(stderr, "zumelko: %s (error %lu)\n", text, error); }

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// The name in the ANSI code page; false when a character has no place in it (such a name
// could not be looked up by this system's resolver anyway).
bool ToAnsi(const std::wstring& wide, std::string& text) {
    BOOL lossy = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    text.assign(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                          nullptr, &lossy);
    return !lossy;
}

// The instance of a browse answer's target ("NAME._zumelko._tcp.local", the final dot
// optional); false for another service or a name that is no machine's. Anyone on the LAN
// can answer, so the name is taken as data and only as far as a machine name goes.
bool InstanceOf(const wchar_t* target, std::wstring& name) {
    std::wstring t(target, ::wcsnlen(target, 1024));
    if (!t.empty() && t.back() == L'.') t.pop_back();
    const std::wstring suffix = std::wstring(L".") + Win32Discovery::kServiceType;
    if (t.size() <= suffix.size()) return false;
    if (::_wcsicmp(t.c_str() + (t.size() - suffix.size()), suffix.c_str()) != 0) return false;
    t.resize(t.size() - suffix.size());
    for (wchar_t c : t) {
        // Control characters and the escapes of DNS's text form belong to no machine's name.
        if (c < 0x20 || c == 0x7F || c == L'\\') return false;
    }
    name = std::move(t);
    return true;
}

std::string Utf8(const wchar_t* text, std::size_t units) {
    if (units == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    return text;
}

// This machine's name as multicast DNS knows it.
std::wstring LocalHostName() {
    wchar_t buffer[256] = {};
    DWORD size = 256;
    if (!::GetComputerNameExW(ComputerNameDnsHostname, buffer, &size)) return {};
    return std::wstring(buffer, size) + L".local";
}

}  // namespace

// What the system's threads touch. It outlives the discovery when the system has not yet
// confirmed that it is done with it.
struct Win32Discovery::Shared {
    UniqueModule module;
    DnsSdApi api;
    std::unique_ptr<DNS_SERVICE_INSTANCE, InstanceFree> instance;
    // Both stay where they are until the system is done with them.
    DNS_SERVICE_REGISTER_REQUEST registration{};
    DNS_SERVICE_BROWSE_REQUEST browse{};
    DNS_SERVICE_CANCEL browseCancel{};

    struct Event {
        std::wstring name;
        bool gone = false;
        // A TXT record's strings rather than a name's announcement.
        bool hasTxt = false;
        std::vector<std::string> txt;
    };

    std::mutex mutex;
    std::condition_variable settled;
    HWND window = nullptr;  // null once the loop no longer listens
    bool posted = false;
    std::deque<Event> events;
    bool overflowed = false;
    DWORD browseError = ERROR_SUCCESS;
    DWORD registerError = ERROR_SUCCESS;
    bool browseEnded = false;
    int completions = 0;  // of the registration, then of the withdrawal

    // Under the mutex: the loop is told once until it has taken what is queued.
    void Wake() {
        if (window == nullptr || posted) return;
        posted = ::PostMessageA(window, kFoundMessage, 0, 0) != FALSE;
    }
};

namespace {

VOID WINAPI Browsed(DWORD status, PVOID context, PDNS_RECORD records) {
    auto& s = *static_cast<Win32Discovery::Shared*>(context);
    struct Release {
        decltype(&::DnsFree) free;
        PDNS_RECORD records;
        ~Release() {
            if (records != nullptr) free(records, DnsFreeRecordList);
        }
    } release{s.api.free, records};
    std::lock_guard lock(s.mutex);
    if (status == ERROR_CANCELLED) {
        s.browseEnded = true;
        s.settled.notify_all();
        return;
    }
    if (status != ERROR_SUCCESS) {
        if (s.browseError == ERROR_SUCCESS) s.browseError = status;
        s.Wake();
        return;
    }
    // The answers come as the wide-character records the request asked for.
    for (auto* r = reinterpret_cast<const DNS_RECORDW*>(records); r != nullptr; r = r->pNext) {
        if (s.events.size() >= kMaxQueued) {
            s.overflowed = true;
            break;
        }
        std::wstring name;
        if (r->wType == DNS_TYPE_TEXT && r->pName != nullptr && r->dwTtl != 0 && InstanceOf(r->pName, name)) {
            // The instance's TXT strings come along with its name: bytes from anyone, kept
            // bounded and read only by the program's parser.
            Win32Discovery::Shared::Event e{std::move(name), false, true, {}};
            const DWORD count = std::min<DWORD>(r->Data.TXT.dwStringCount, static_cast<DWORD>(kMaxTxtStrings));
            for (DWORD i = 0; i < count; ++i) {
                const wchar_t* text = r->Data.TXT.pStringArray[i];
                if (text == nullptr) continue;
                e.txt.push_back(Utf8(text, ::wcsnlen(text, 255)));
            }
            s.events.push_back(std::move(e));
            continue;
        }
        if (r->wType != DNS_TYPE_PTR || r->Data.PTR.pNameHost == nullptr) continue;
        if (!InstanceOf(r->Data.PTR.pNameHost, name)) continue;
        // A time to live of 0 is the instance's goodbye.
        s.events.push_back({std::move(name), r->dwTtl == 0, false, {}});
    }
    s.Wake();
}

VOID WINAPI Registered(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance) {
    auto& s = *static_cast<Win32Discovery::Shared*>(context);
    if (instance != nullptr) s.api.freeInstance(instance);
    std::lock_guard lock(s.mutex);
    if (++s.completions == 1 && status != ERROR_SUCCESS) {
        s.registerError = status;
        s.Wake();
    }
    s.settled.notify_all();
}

}  // namespace

Win32Discovery::Win32Discovery(Win32Loop& loop, const std::string& machineName) : loop_(loop) {
    // From the system folder only, never from the folder the program was started in.
    char folder[MAX_PATH] = {};
    const UINT n = ::GetSystemDirectoryA(folder, MAX_PATH);
    UniqueModule module;
    if (n > 0 && n < MAX_PATH - 16) module.reset(::LoadLibraryA((std::string(folder, n) + "\\dnsapi.dll").c_str()));
    DnsSdApi api;
    if (module) {
        Find(module.get(), "DnsServiceConstructInstance", api.constructInstance);
        Find(module.get(), "DnsServiceFreeInstance", api.freeInstance);
        Find(module.get(), "DnsServiceRegister", api.registerService);
        Find(module.get(), "DnsServiceDeRegister", api.deregisterService);
        Find(module.get(), "DnsServiceBrowse", api.browse);
        Find(module.get(), "DnsServiceBrowseCancel", api.browseCancel);
        Find(module.get(), "DnsFree", api.free);
    }
    if (!api.Complete()) {
        Say("this Windows has no DNS-SD functions (Windows 10 1809 and later have them); "
            "other machines are found in the workgroup only");
        return;
    }
    Start(machineName, api, FromHandle(module.release()));
}

Win32Discovery::Win32Discovery(Win32Loop& loop, const std::string& machineName, const DnsSdApi& api) : loop_(loop) {
    if (!api.Complete()) {
        Say("no DNS-SD functions; other machines are found in the workgroup only");
        return;
    }
    Start(machineName, api, 0);
}

void Win32Discovery::Start(const std::string& machineName, const DnsSdApi& api, std::uintptr_t module) {
    auto shared = std::make_shared<Shared>();
    shared->module.reset(AsHandle<HMODULE>(module));
    shared->api = api;
    window_ = loop_.CreateHiddenWindow([this](std::uint32_t message, WParam, LParam) -> LResult {
        if (message == kFoundMessage) Take();
        return 0;
    });
    if (window_ == 0) {
        Say("cannot look for other machines: no window for the answers");
        return;
    }
    shared_ = std::move(shared);
    Shared& s = *shared_;
    s.window = AsHandle<HWND>(window_);

    // Announce first: a failure there still lets this machine find the others.
    const std::wstring name = FromAnsi(machineName);
    self_ = Lower(name);
    if (!name.empty() && name.size() <= kMaxNameBytes) {
        const std::wstring instance = name + L"." + kServiceType;
        const std::wstring host = LocalHostName();
        // The record says that this instance takes the encrypted channel, and on which port.
        const std::wstring key = FromAnsi(kSecureTxtKey);
        const std::wstring value = std::to_wstring(kSecureChannelPort);
        PCWSTR keys[] = {key.c_str()};
        PCWSTR values[] = {value.c_str()};
        s.instance = std::unique_ptr<DNS_SERVICE_INSTANCE, InstanceFree>(
            api.constructInstance(instance.c_str(), host.empty() ? nullptr : host.c_str(), nullptr, nullptr, kPort,
                                  0, 0, 1, keys, values),
            InstanceFree{api.freeInstance});
        if (s.instance) {
            s.registration.Version = DNS_QUERY_REQUEST_VERSION1;
            s.registration.InterfaceIndex = 0;
            s.registration.pServiceInstance = s.instance.get();
            s.registration.pRegisterCompletionCallback = Registered;
            s.registration.pQueryContext = &s;
            s.registration.unicastEnabled = FALSE;
            const DWORD rc = api.registerService(&s.registration, nullptr);
            registered_ = rc == kDnsRequestPending;
            if (!registered_) {
                toldRegisterError_ = true;
                Say("cannot announce this machine by multicast DNS", rc);
            }
        }
    }

    s.browse.Version = DNS_QUERY_REQUEST_VERSION1;
    s.browse.InterfaceIndex = 0;
    s.browse.QueryName = kServiceType;
    s.browse.pBrowseCallback = Browsed;
    s.browse.pQueryContext = &s;
    const DNS_STATUS rc = api.browse(&s.browse, &s.browseCancel);
    browsing_ = rc == static_cast<DNS_STATUS>(kDnsRequestPending);
    if (!browsing_) {
        toldBrowseError_ = true;
        Say("cannot look for other machines by multicast DNS; they are found in the workgroup only",
            static_cast<unsigned long>(rc));
    }
}

Win32Discovery::~Win32Discovery() {
    if (!shared_) return;
    Shared& s = *shared_;
    // The calls are made outside the lock: the system may call back before they return.
    bool done = true;
    if (browsing_) {
        if (s.api.browseCancel(&s.browseCancel) == ERROR_SUCCESS) {
            std::unique_lock lock(s.mutex);
            done = s.settled.wait_for(lock, kConfirmWait, [&] { return s.browseEnded; });
        } else {
            done = false;
        }
    }
    if (registered_) {
        const DWORD rc = s.api.deregisterService(&s.registration, nullptr);
        std::unique_lock lock(s.mutex);
        // The registration's own completion, then the withdrawal's, if it was started.
        const int expected = rc == kDnsRequestPending ? 2 : 1;
        if (!s.settled.wait_for(lock, kConfirmWait, [&] { return s.completions >= expected; })) done = false;
    }
    {
        std::lock_guard lock(s.mutex);
        s.window = nullptr;
    }
    loop_.DestroyWindow(window_);
    if (!done) {
        // The system may still call back into it: it stays, and dnsapi.dll with it, for the
        // life of the process. Deliberately never destroyed, not even at exit, when those
        // callbacks could still come.
        static auto* kept = new std::vector<std::shared_ptr<Shared>>();
        kept->push_back(std::move(shared_));
    }
}

void Win32Discovery::Take() {
    std::deque<Shared::Event> events;
    bool overflowed = false;
    DWORD browseError = ERROR_SUCCESS;
    DWORD registerError = ERROR_SUCCESS;
    {
        std::lock_guard lock(shared_->mutex);
        events.swap(shared_->events);
        std::swap(overflowed, shared_->overflowed);
        std::swap(browseError, shared_->browseError);
        std::swap(registerError, shared_->registerError);
        shared_->posted = false;
    }
    for (auto& e : events) {
        std::string name;
        if (!ToAnsi(e.name, name) || name.size() > kMaxNameBytes) continue;
        std::wstring key = Lower(e.name);
        if (key == self_) continue;  // this machine's own announcement
        if (e.hasTxt) {
            if (txt_.size() < kMaxMachines || txt_.count(key) != 0) txt_[key] = std::move(e.txt);
            continue;
        }
        if (e.gone) {
            found_.erase(key);
            txt_.erase(key);
        } else if (found_.size() < kMaxMachines || found_.count(key) != 0) {
            found_.emplace(std::move(key), std::move(name));  // as first announced
        } else {
            overflowed = true;
        }
    }
    if (overflowed && !toldFull_) {
        toldFull_ = true;
        Say("too many machines announce themselves by multicast DNS; the list keeps the first ones");
    }
    if (browseError != ERROR_SUCCESS && !toldBrowseError_) {
        toldBrowseError_ = true;
        Say("looking for other machines by multicast DNS failed", browseError);
    }
    if (registerError != ERROR_SUCCESS && !toldRegisterError_) {
        toldRegisterError_ = true;
        Say("cannot announce this machine by multicast DNS", registerError);
    }
}

std::vector<std::string> Win32Discovery::Machines() {
    std::vector<std::string> names;
    names.reserve(found_.size());
    for (const auto& entry : found_) names.push_back(entry.second);
    return names;
}

std::vector<Win32Discovery::Record> Win32Discovery::Records() const {
    std::vector<Record> records;
    for (const auto& [key, strings] : txt_) {
        const auto name = found_.find(key);
        if (name != found_.end()) records.push_back({name->second, strings});
    }
    return records;
}

}  // namespace zumelko::platform::win32
