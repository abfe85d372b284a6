#pragma once
// Announces this instance by DNS-SD over multicast DNS through the system's own functions
// (Windows 10 1809 and later) and browses for the others, under the same service type, port
// and instance name as the Linux desktop, so the two find each other. The system calls back
// on threads of its own: the callbacks only queue what they saw and post a message to a
// hidden window, and the loop takes it from there, so the loop never waits on the network.
// Where the functions are missing (older Windows, Wine) or fail, nothing is found, the
// destination list is the workgroup's alone, and one line on stderr says so.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace zumelko::platform::win32 {

class Win32Loop;
struct DnsSdApi;

class Win32Discovery {
public:
    static constexpr const wchar_t* kServiceType = L"_zumelko._tcp.local";
    static constexpr unsigned short kPort = 8000;
    // More would be a flood, not a LAN: names beyond these are not kept.
    static constexpr std::size_t kMaxMachines = 256;

    // machineName in the ANSI code page, as GetComputerNameA gives it. With the system's
    // functions, or with api in their place.
    Win32Discovery(Win32Loop& loop, const std::string& machineName);
    Win32Discovery(Win32Loop& loop, const std::string& machineName, const DnsSdApi& api);
    // Cancels browsing and withdraws the announcement, waiting a little for the system to
    // confirm both.
    ~Win32Discovery();
    Win32Discovery(const Win32Discovery&) = delete;
    Win32Discovery& operator=(const Win32Discovery&) = delete;

    // The names announced by the other instances known now, each once, in the ANSI code page.
    // Never waits.
    std::vector<std::string> Machines();
    // Their records' TXT strings ("key=value", UTF-8), at most kMaxTxtStrings each.
    struct Record {
        std::string machine;
        std::vector<std::string> txt;
    };
    std::vector<Record> Records() const;
    // False when the system cannot browse (the list is then the workgroup's alone).
    bool Browsing() const { return browsing_; }

    struct Shared;

private:
    void Start(const std::string& machineName, const DnsSdApi& api, std::uintptr_t module);
    void Take();

    Win32Loop& loop_;
    Hwnd window_ = 0;
    std::shared_ptr<Shared> shared_;
    // The name in lower case to the name as announced, in the ANSI code page.
    std::map<std::wstring, std::string> found_;
    // The name in lower case to its record's TXT strings.
    std::map<std::wstring, std::vector<std::string>> txt_;
    std::wstring self_;
    bool browsing_ = false;
    bool registered_ = false;
    // Each of these is said once.
    bool toldFull_ = false;
    bool toldBrowseError_ = false;
    bool toldRegisterError_ = false;
};

}  // namespace zumelko::platform::win32
