// The browser conversation through DDEML against a stand-in browser in its own process.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
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

}  // namespace
}  // namespace zumelko::wintest
