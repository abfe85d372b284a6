// The platform seam's contract on the Windows desktop: the real clipboard and viewer chain,
// another Windows program as the other program, Winsock, the thread's message queue.
#include <string>

#include "framework/Application.h"
#include "tests/contract/ReassemblyContract.h"
#include "tests/contract/SeamContract.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::contract {
namespace {

class Win32Seam {
public:
    Win32Seam() {
        platform::WsaData data;
        started_ = wintest::Desk().sockets().WSAStartup(0x0101, data) == 0;
        Settle();
    }
    ~Win32Seam() {
        if (started_) wintest::Desk().sockets().WSACleanup();
    }
    Win32Seam(const Win32Seam&) = delete;
    Win32Seam& operator=(const Win32Seam&) = delete;
    platform::Desktop& Desk() { return wintest::Desk(); }
    // Notices from other processes come through the message queue.
    void Settle() { wintest::Pump(200); }
    bool RunUntil(const std::function<bool()>& done, int ms = 5000) { return wintest::PumpUntil(done, ms); }
    // The other program runs to its end while this one waits without running its loop.
    void OtherProgramCopies(const std::string& text, bool secret = false) {
        using namespace platform::win32;
        std::string command = std::string("clip_put.exe ") + (secret ? "--secret " : "") + "\"" + text + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                     &process));
        ::WaitForSingleObject(process.hProcess, 10000);
        DWORD code = 1;
        ::GetExitCodeProcess(process.hProcess, &code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        ASSERT_EQ(code, 0u);
    }
    // The marks as the system's own calls find them: the exclusion format there, and the two
    // DWORD formats holding 0.
    bool OtherProgramSeesSecret() {
        using namespace platform::win32;
        if (!::OpenClipboard(nullptr)) return false;
        auto zero = [](const char* name) {
            HANDLE h = ::GetClipboardData(::RegisterClipboardFormatA(name));
            if (h == nullptr || ::GlobalSize(h) < sizeof(DWORD)) return false;
            GlobalLockGuard lock(h);
            return lock.get() != nullptr && *static_cast<const DWORD*>(lock.get()) == 0;
        };
        const bool seen =
            ::IsClipboardFormatAvailable(::RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing")) &&
            zero("CanIncludeInClipboardHistory") && zero("CanUploadToCloudClipboard");
        ::CloseClipboard();
        return seen;
    }
    void RestoreExceptionHandler() {
        wintest::Desk().loop().SetExceptionHandler([](const std::exception& e) { App().ShowException(e); });
    }

private:
    bool started_ = false;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ClipboardContract, Win32Seam);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, LoopContract, Win32Seam);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, SocketContract, Win32Seam);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ReassemblyContract, Win32Seam);

}  // namespace
}  // namespace zumelko::contract
