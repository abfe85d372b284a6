// The browser conversation through DDEML against a stand-in browser in its own process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "desktop/BrowserLink.h"
#include "desktop/DdeClientConv.h"
#include "platform/win32/Win32Api.h"
#include "tests/desktop/WebAddressCases.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The rule that decides what a browser is given, built by this desktop's compiler: the same
// table as everywhere.
TEST(Dde, OnlyWebAddressesAreTakenForLinks) {
    for (const auto& c : zumelko::testing::WebAddressCases()) {
        SCOPED_TRACE(c.text.substr(0, 80));
        EXPECT_EQ(WebAddress(c.text), c.address);
    }
}

TEST(Dde, RequestAndPokeReachTheBrowserAndNoServerMeansNoConversation) {
    DdeInstance instance;
    Component owner{nullptr};
    auto& conversation = owner.Create<TDdeClientConv>();

    // Nobody serves the name yet.
    conversation.SetLink("ZSTANDIN", "WWW_OpenURL");
    EXPECT_FALSE(conversation.Connect());

    const std::string log = "stand_in_browser.log";
    std::remove(log.c_str());
    std::string command = "stand_in_browser.exe ZSTANDIN " + log + " 20";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process));
    ASSERT_TRUE(PumpUntil([&] { return ReadAll(log).find("ready") != std::string::npos; }, 10000));

    ASSERT_TRUE(conversation.Connect());
    const auto reply = conversation.Request("http://www.example.com/日本");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->substr(0, 2), "ok");
    EXPECT_TRUE(conversation.Poke("http://www.example.com/", ""));
    Pump(300);
    conversation.Disconnect();
    EXPECT_FALSE(conversation.Connected());

    // The request arrived with its item as sent (its bytes in the ANSI code page); the poke's
    // item is not checked, as Wine sometimes hands it over empty.
    const std::string heard = ReadAll(log);
    EXPECT_NE(heard.find("request http://www.example.com/日本"), std::string::npos) << heard;

    ::TerminateProcess(process.hProcess, 0);
    ::WaitForSingleObject(process.hProcess, 5000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
}

// Sets an environment variable for as long as it lives (children inherit it).
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t old[4096] = {};
        had_ = ::GetEnvironmentVariableW(name, old, 4096) > 0;
        old_ = old;
        ::SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { ::SetEnvironmentVariableW(name_, had_ ? old_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
    std::wstring old_;
    bool had_ = false;
};

TEST(Dde, WithoutAServerTheBrowserIsStartedByNameWithTheTopicAloneAndTheUserTold) {
    DdeInstance instance;
    Component owner{nullptr};
    auto& conversation = owner.Create<TDdeClientConv>();

    // Beside this program, where a program started by name is looked for first: a browser that
    // notes how it was started. (Netscape's name: Wine's own Internet Explorer, disabled in the
    // session, is what a started "IExplore" would be.)
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    const std::filesystem::path browser = folder / L"Netscape.exe";
    const std::filesystem::path log = folder / L"browser-started.log";
    std::filesystem::remove(log);
    std::filesystem::copy_file(folder / L"command_line_log.exe", browser,
                               std::filesystem::copy_options::overwrite_existing);
    struct Removed {
        std::filesystem::path a, b;
        ~Removed() {
            std::error_code ignored;
            std::filesystem::remove(a, ignored);
            std::filesystem::remove(b, ignored);
        }
    } removed{browser, log};
    std::vector<std::string> notices;
    {
        ScopedVariable logged(L"ZUMELKO_COMMAND_LOG", log.wstring());
        // Received text: the address, or anything else, never reaches the command line.
        for (const char* text : {"http://www.example.com/?q=1", "www.example.com -new-window file:///C:/"}) {
            LinkToBrowser(conversation, kBrowserNetscape, text,
                          [&notices](const std::string& notice) { notices.push_back(notice); });
        }
    }
    // The browser was started for the address (the second connect follows at once and finds
    // no server yet); what it got is its name and the topic, and the user is told. The text
    // that is no address started nothing.
    EXPECT_TRUE(PumpUntil([&] { return ReadAll(log).find('\n') != std::string::npos; }, 5000));
    Pump(300);
    EXPECT_EQ(ReadAll(log), "Netscape WWW_OpenURL\n");
    EXPECT_EQ(notices, (std::vector<std::string>{kNetscapeNotRunning, kNotAWebAddress}));
}

// The program that opens web addresses for as long as this lives: the session's own browser
// gives way to one that notes how it was started. (Wine reads the classes of the machine only,
// not the user's.)
class StandInDefaultBrowser {
public:
    StandInDefaultBrowser(const std::filesystem::path& program, const std::filesystem::path& log)
        : logged_(L"ZUMELKO_COMMAND_LOG", log.wstring()) {
        std::filesystem::remove(log);
        for (const wchar_t* key : kKeys) {
            wchar_t value[1024] = {};
            DWORD size = sizeof value;
            ::RegGetValueW(HKEY_CLASSES_ROOT, key, nullptr, RRF_RT_REG_SZ, nullptr, value, &size);
            before_.emplace_back(value);
        }
        Register(L"\"" + program.wstring() + L"\" \"%1\"");
    }
    ~StandInDefaultBrowser() {
        for (std::size_t i = 0; i < before_.size(); ++i) Set(kKeys[i], before_[i]);
    }
    StandInDefaultBrowser(const StandInDefaultBrowser&) = delete;
    StandInDefaultBrowser& operator=(const StandInDefaultBrowser&) = delete;

    void Register(const std::wstring& command) {
        for (const wchar_t* key : kKeys) ASSERT_EQ(Set(key, command), ERROR_SUCCESS);
    }

private:
    static constexpr const wchar_t* kKeys[] = {L"http\\shell\\open\\command", L"https\\shell\\open\\command"};
    static LONG Set(const wchar_t* key, const std::wstring& command) {
        return ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key, nullptr, REG_SZ, command.c_str(),
                                 static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    }

    ScopedVariable logged_;
    std::vector<std::wstring> before_;
};

// The arguments of each start noted in the log, after the program's own name.
std::vector<std::vector<std::wstring>> Starts(const std::filesystem::path& log) {
    std::vector<std::vector<std::wstring>> starts;
    std::istringstream lines(ReadAll(log));
    for (std::string line; std::getline(lines, line);) {
        int count = 0;
        const std::wstring wide = platform::win32::Widen(line);
        std::unique_ptr<LPWSTR, decltype(&::LocalFree)> argv(::CommandLineToArgvW(wide.c_str(), &count), &::LocalFree);
        if (argv) starts.emplace_back(argv.get() + 1, argv.get() + count);
    }
    return starts;
}

// No browser of today answers DDE: the address goes to the one the user has chosen for web
// addresses, as one argument (the quotes of the registered command line kept whole), in the
// characters it was sent in. Only when that fails too is the user told.
TEST(Dde, WhatNoBrowserTakesByDdeGoesToTheDefaultBrowser) {
    DdeInstance instance;
    Component owner{nullptr};
    auto& conversation = owner.Create<TDdeClientConv>();
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    const std::filesystem::path log = folder / L"default-browser.log";
    StandInDefaultBrowser browser(folder / L"command_line_log.exe", log);
    std::vector<std::string> notices;
    auto link = [&](int which, const std::string& text) {
        LinkToBrowser(conversation, which, text, [&notices](const std::string& n) { notices.push_back(n); });
    };

    const std::string longAddress = "https://www.example.com/" + std::string(400, 'p') + "?q=1";
    link(kBrowserExplorer, "http://www.example.com/?q=1&r='\"<b>'");
    link(kBrowserNetscape, " www.example.com/会議\r\n");
    link(kBrowserExplorer, "http://pc01/\x83\x65\x83\x58\x83\x67/");  // a path in code page 932
    link(kBrowserExplorer, longAddress);
    link(kBrowserExplorer, "file:///C:/windows/win.ini");
    ASSERT_TRUE(PumpUntil([&] { return Starts(log).size() == 4; }, 10000)) << ReadAll(log);
    Pump(300);
    // The browsers started run side by side: the order they note in is theirs.
    auto started = Starts(log);
    std::sort(started.begin(), started.end());
    EXPECT_EQ(started, (std::vector<std::vector<std::wstring>>{{L"http://pc01/テスト/"},
                                                               {L"http://www.example.com/?q=1&r='%22<b>'"},
                                                               {L"http://www.example.com/会議"},
                                                               {platform::win32::Widen(longAddress)}}));
    EXPECT_EQ(notices, std::vector<std::string>{kNotAWebAddress});

    // A browser that answers DDE still gets the address that way, and the default browser does
    // not; one too long for DDE goes to the default browser without asking.
    const std::string served = "stand_in_browser.log";
    std::remove(served.c_str());
    std::wstring command = L"stand_in_browser.exe IExplore " + platform::win32::Widen(served) + L" 20";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process));
    ASSERT_TRUE(PumpUntil([&] { return ReadAll(served).find("ready") != std::string::npos; }, 10000));
    link(kBrowserExplorer, "http://www.example.com/dde");
    link(kBrowserExplorer, longAddress);
    EXPECT_TRUE(PumpUntil([&] { return Starts(log).size() == 5; }, 10000));
    Pump(300);
    EXPECT_EQ(Starts(log).back(), std::vector<std::wstring>{platform::win32::Widen(longAddress)});
    // (The poke's item is not compared: Wine sometimes hands it over empty.)
    EXPECT_EQ(ReadAll(served).find("poke"), ReadAll(served).rfind("poke")) << ReadAll(served);
    EXPECT_NE(ReadAll(served).find("poke"), std::string::npos) << ReadAll(served);
    ::TerminateProcess(process.hProcess, 0);
    ::WaitForSingleObject(process.hProcess, 5000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);

    // No program for web addresses to start either: the user is told the browser is not running.
    browser.Register(L"\"" + (folder / L"no-such-browser.exe").wstring() + L"\" \"%1\"");
    link(kBrowserExplorer, "http://www.example.com/");
    link(kBrowserNetscape, "http://www.example.com/");
    EXPECT_EQ(notices, (std::vector<std::string>{kNotAWebAddress, kExplorerNotRunning, kNetscapeNotRunning}));
    EXPECT_EQ(Starts(log).size(), 5u);
}

}  // namespace
}  // namespace zumelko::wintest
