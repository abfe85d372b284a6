// The Windows program itself, zumelko.exe, as another program on its desktop sees it: it passes
// the clipboard viewer chain on to the programs that joined before it, and it ends cleanly when
// `zumelko.exe /quit` asks it to and when the session ends (its icon deleted, the chain left,
// its ports free again).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

using platform::win32::UniqueWindow;

std::filesystem::path BuildFolder() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    // tests/win32/win32_tests.exe; the program is at the top of the build tree.
    return std::filesystem::path(self).parent_path().parent_path().parent_path();
}

// A program started here, with its own handle; one still running at the end is killed.
class Started {
public:
    explicit Started(std::wstring commandLine) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION p{};
        if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &p)) {
            ::CloseHandle(p.hThread);
            process_ = p.hProcess;
            id_ = p.dwProcessId;
        }
    }
    ~Started() {
        if (process_ == nullptr) return;
        if (!Ended(0)) {
            ::TerminateProcess(process_, 99);
            ::WaitForSingleObject(process_, 5000);
        }
        ::CloseHandle(process_);
    }
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;

    bool Running() const { return process_ != nullptr && !Ended(0); }
    // Lets this program's loop run meanwhile: the one that ends may send it messages first.
    bool Ended(int ms) const {
        return process_ != nullptr &&
               PumpUntil([this] { return ::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }, ms);
    }
    DWORD ExitCode() const {
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(process_, &code);
        return code;
    }
    DWORD Id() const { return id_; }

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Runs a program to its end, letting this one's loop run meanwhile; its exit code.
DWORD RunToEnd(const std::wstring& commandLine) {
    Started program(commandLine);
    if (!program.Ended(30000)) return STILL_ACTIVE;
    return program.ExitCode();
}

DWORD OtherProgramCopies(const std::string& text) {
    return RunToEnd(L"clip_put.exe " + std::wstring(text.begin(), text.end()));
}

// Whether some program listens on the port: it is not free to bind.
bool PortTaken(unsigned short port) {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(1, 1), &data);
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = ::htons(port);
    a.sin_addr.s_addr = ::htonl(INADDR_ANY);
    const bool taken = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
    ::closesocket(s);
    ::WSACleanup();
    return taken;
}

std::vector<HWND> WindowsOf(DWORD process) {
    struct Search {
        DWORD process;
        std::vector<HWND> found;
    } s{process, {}};
    ::EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* search = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(h, &owner);
            if (owner == search->process) search->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// The notification area while it lives: Shell_NotifyIcon hands every icon to the first window
// of the shell's tray class, and a window made last comes first. Wine's record of an icon
// begins with its window and its id, as 32-bit numbers; the operation is the copy's dwData.
class StandInTray {
public:
    StandInTray() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "Shell_TrayWnd";
        ::RegisterClassA(&wc);
        window_.reset(::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        wc.hInstance, this));
    }
    StandInTray(const StandInTray&) = delete;
    StandInTray& operator=(const StandInTray&) = delete;

    // Whether one of these windows has an icon here.
    bool HasIconOf(const std::vector<HWND>& windows) const {
        return std::any_of(icons_.begin(), icons_.end(), [&](const auto& icon) {
            return std::find(windows.begin(), windows.end(), icon.first) != windows.end();
        });
    }

private:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_NCCREATE) {
            ::SetWindowLongPtrA(h, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
        }
        auto* self = reinterpret_cast<StandInTray*>(::GetWindowLongPtrA(h, GWLP_USERDATA));
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(l);
        if (self == nullptr || m != WM_COPYDATA || copy->cbData < 8) return ::DefWindowProcA(h, m, w, l);
        std::uint32_t record[2] = {};
        std::memcpy(record, copy->lpData, sizeof record);
        const std::pair<HWND, UINT> icon{reinterpret_cast<HWND>(static_cast<std::uintptr_t>(record[0])), record[1]};
        if (copy->dwData == NIM_ADD) {
            self->icons_.insert(icon);
        } else if (copy->dwData == NIM_DELETE) {
            return self->icons_.erase(icon) != 0;
        }
        return TRUE;
    }

    UniqueWindow window_;
    std::set<std::pair<HWND, UINT>> icons_;
};

// Another program's window in the viewer chain, keeping to the chain's rules and noting what
// it hears.
class ChainWindow {
public:
    ChainWindow() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "ZumelkoTestChainWindow";
        ::RegisterClassA(&wc);
        window_.reset(::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        wc.hInstance, this));
    }
    ~ChainWindow() {
        if (joined_) Leave();
    }
    ChainWindow(const ChainWindow&) = delete;
    ChainWindow& operator=(const ChainWindow&) = delete;

    void Join() {
        next = ::SetClipboardViewer(window_.get());
        joined_ = true;
    }
    void Leave() {
        ::ChangeClipboardChain(window_.get(), next);
        joined_ = false;
    }
    HWND get() const { return window_.get(); }

    int changes = 0;
    std::vector<std::pair<HWND, HWND>> chainChanges;  // (leaving, its next) as told
    HWND next = nullptr;

private:
    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
        if (m == WM_NCCREATE) {
            ::SetWindowLongPtrA(h, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
        }
        auto* self = reinterpret_cast<ChainWindow*>(::GetWindowLongPtrA(h, GWLP_USERDATA));
        if (self != nullptr && m == WM_DRAWCLIPBOARD) {
            ++self->changes;
            if (self->next != nullptr) ::SendMessageA(self->next, m, w, l);
            return 0;
        }
        if (self != nullptr && m == WM_CHANGECBCHAIN) {
            self->chainChanges.emplace_back(reinterpret_cast<HWND>(w), reinterpret_cast<HWND>(l));
            if (reinterpret_cast<HWND>(w) == self->next) {
                self->next = reinterpret_cast<HWND>(l);
            } else if (self->next != nullptr) {
                ::SendMessageA(self->next, m, w, l);
            }
            return 0;
        }
        return ::DefWindowProcA(h, m, w, l);
    }

    UniqueWindow window_;
    bool joined_ = false;
};

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(PortTaken(8000) || PortTaken(8001)) << "the program's ports are taken before it starts";
    }
    // The program, up: listening, its icon in the notification area.
    std::unique_ptr<Started> Start() {
        auto program = std::make_unique<Started>(L"\"" + (BuildFolder() / L"zumelko.exe").wstring() + L"\"");
        EXPECT_TRUE(PumpUntil([&] { return PortTaken(8000) && PortTaken(8001); }, 20000)) << "it does not listen";
        EXPECT_TRUE(tray.HasIconOf(WindowsOf(program->Id()))) << "its icon is not there";
        return program;
    }
    // After the program has ended: no icon, no listener, and it has left the chain (the window
    // it linked to hears of changes directly now).
    void ExpectTidiedUp(const Started& program, const std::vector<HWND>& windows, ChainWindow& before) {
        EXPECT_EQ(program.ExitCode(), 0u);
        EXPECT_FALSE(tray.HasIconOf(windows)) << "the icon was not deleted";
        EXPECT_FALSE(PortTaken(8000));
        EXPECT_FALSE(PortTaken(8001));
        const int heard = before.changes;
        ASSERT_EQ(OtherProgramCopies("after"), 0u);
        EXPECT_TRUE(PumpUntil([&] { return before.changes == heard + 1; }, 3000)) << "the chain was not left";
    }
    std::wstring Quit() const { return L"\"" + (BuildFolder() / L"zumelko.exe").wstring() + L"\" /quit"; }

    StandInTray tray;
};

TEST_F(Program, PassesTheViewerChainOnAndEndsWhenAskedToQuit) {
    // Two other programs' viewers joined before it; the program is the head.
    ChainWindow first, second;
    first.Join();
    second.Join();
    auto program = Start();
    ASSERT_TRUE(program->Running());
    const std::vector<HWND> windows = WindowsOf(program->Id());

    // A change reaches the viewers behind it, once.
    Pump(300);
    const int firstBefore = first.changes;
    const int secondBefore = second.changes;
    ASSERT_EQ(OtherProgramCopies("one"), 0u);
    Pump(300);
    EXPECT_EQ(first.changes, firstBefore + 1);
    EXPECT_EQ(second.changes, secondBefore + 1);

    // The second leaves: the program passes that on (to the one leaving, its next) and links
    // past it, so the next change still reaches the first.
    second.Leave();
    EXPECT_TRUE(PumpUntil([&] { return !second.chainChanges.empty(); }, 3000));
    ASSERT_EQ(second.chainChanges.size(), 1u);
    EXPECT_EQ(second.chainChanges[0], std::make_pair(second.get(), first.get()));
    ASSERT_EQ(OtherProgramCopies("two"), 0u);
    Pump(300);
    EXPECT_EQ(first.changes, firstBefore + 2);
    EXPECT_EQ(second.changes, secondBefore + 1);

    // `/quit` ends it, and says so; asked again, it says that none runs.
    EXPECT_EQ(RunToEnd(Quit()), 0u);
    EXPECT_TRUE(program->Ended(10000));
    ExpectTidiedUp(*program, windows, first);
    EXPECT_EQ(RunToEnd(Quit()), 1u);
}

TEST_F(Program, EndsAtTheEndOfTheSession) {
    ChainWindow before;
    before.Join();
    auto program = Start();
    // The user is in the settings dialog, opened from the icon's menu, when the session ends.
    ASSERT_EQ(RunToEnd(L"desk_user.exe menu RIGHT c"), 0u);
    ASSERT_EQ(RunToEnd(L"desk_user.exe wait 417 587"), 0u);
    const std::vector<HWND> windows = WindowsOf(program->Id());
    // As Windows does at log-off: every top-level window is asked, then told.
    for (UINT message : {WM_QUERYENDSESSION, WM_ENDSESSION}) {
        for (HWND h : windows) {
            DWORD_PTR answer = 0;
            const bool answered =
                ::SendMessageTimeoutA(h, message, message == WM_ENDSESSION, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000,
                                      &answer) != 0;
            if (message == WM_QUERYENDSESSION) {
                EXPECT_TRUE(answered && answer != 0) << "the end was refused";
            }
        }
    }
    EXPECT_TRUE(program->Ended(10000));
    ExpectTidiedUp(*program, windows, before);
}

}  // namespace
}  // namespace zumelko::wintest
