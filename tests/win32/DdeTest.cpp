// The browser conversation through DDEML against a stand-in browser in its own process.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "desktop/DdeClientConv.h"
#include "platform/win32/Win32Api.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
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

}  // namespace
}  // namespace zumelko::wintest
