#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop/BrowserLink.h"
#include "desktop/DdeClientConv.h"
#include "framework/Error.h"
#include "platform/sim/SimDesktop.h"
#include "tests/desktop/WebAddressCases.h"

namespace {

using zumelko::LinkToBrowser;
using zumelko::TDdeClientConv;
using namespace zumelko::platform;
using zumelko::platform::sim::ScopedSimDesktop;
using zumelko::platform::sim::SimBrowserServer;
using zumelko::platform::sim::SimDde;

const std::string kNul(1, '\0');

class BrowserLinkTest : public ::testing::Test {
protected:
    SimDde& dde() { return desktop->dde(); }
    void Link(int browser, const std::string& text) {
        LinkToBrowser(conv, browser, text, [this](const std::string& n) { notices.push_back(n); });
    }
    // After every run the conversation is closed and nothing of it is left behind.
    void ExpectNothingLeft() {
        EXPECT_FALSE(conv.Connected());
        EXPECT_EQ(dde().OpenConversations(), 0u);
        EXPECT_EQ(dde().LiveStringHandles(), 0u);
        EXPECT_EQ(dde().Misuses(), 0);
    }

    ScopedSimDesktop desktop;
    zumelko::Component owner{nullptr};
    TDdeClientConv& conv = owner.Create<TDdeClientConv>();
    std::vector<std::string> notices;
};

TEST_F(BrowserLinkTest, InternetExplorerIsPokedWithTheTextAsItemAndOneNulAsData) {
    SimBrowserServer& ie = dde().AddServer("IExplore", "WWW_OpenURL");
    Link(1, "http://pc01/index.html");
    EXPECT_EQ(ie.connects, 1);
    ASSERT_EQ(ie.transactions.size(), 1u);
    EXPECT_EQ(ie.transactions[0].type, XTYP_POKE_);
    EXPECT_EQ(ie.transactions[0].item, "http://pc01/index.html");
    EXPECT_EQ(ie.transactions[0].data, kNul);
    EXPECT_EQ(ie.transactions[0].format, 1u);
    EXPECT_EQ(ie.transactions[0].timeoutMs, TIMEOUT_ASYNC_);
    EXPECT_EQ(ie.disconnects, 1);
    EXPECT_TRUE(notices.empty());
    EXPECT_TRUE(dde().Execs().empty());
    ExpectNothingLeft();
}

TEST_F(BrowserLinkTest, NetscapeIsAskedForTheTextWithATenSecondTimeOut) {
    SimBrowserServer& ns = dde().AddServer("Netscape", "WWW_OpenURL");
    dde().AddServer("IExplore", "WWW_OpenURL");
    Link(0, "http://pc01/");
    EXPECT_EQ(ns.connects, 1);
    ASSERT_EQ(ns.transactions.size(), 1u);
    EXPECT_EQ(ns.transactions[0].type, XTYP_REQUEST_);
    EXPECT_EQ(ns.transactions[0].item, "http://pc01/");
    EXPECT_EQ(ns.transactions[0].format, 1u);
    EXPECT_EQ(ns.transactions[0].timeoutMs, 10000u);
    EXPECT_EQ(ns.disconnects, 1);
    EXPECT_TRUE(notices.empty());
    EXPECT_TRUE(dde().shellOpens.empty());
    ExpectNothingLeft();
}

TEST_F(BrowserLinkTest, ABrowserThatIsNotRunningGetsOneStartAttemptThenTheNotice) {
    SimBrowserServer& ns = dde().AddServer("Netscape", "WWW_OpenURL");
    ns.running = false;
    dde().AddProgram("Netscape WWW_OpenURL");  // starts, but its server does not answer yet
    Link(0, "http://pc01/");
    ASSERT_EQ(dde().Execs().size(), 1u);
    EXPECT_EQ(dde().Execs()[0].commandLine, "Netscape WWW_OpenURL");
    EXPECT_EQ(dde().Execs()[0].show, 7);
    EXPECT_EQ(dde().ConnectAttempts(), 2);
    EXPECT_EQ(notices, std::vector<std::string>{"Netscape Navigater が起動していません。"});
    EXPECT_TRUE(ns.transactions.empty());
    EXPECT_EQ(dde().shellOpens, std::vector<std::string>{"http://pc01/"}) << "offered to a default browser first";

    // No such program at all: no second connect.
    notices.clear();
    Link(1, "http://pc01/");
    ASSERT_EQ(dde().Execs().size(), 2u);
    EXPECT_EQ(dde().Execs()[1].commandLine, "IExplore WWW_OpenURL");
    EXPECT_EQ(dde().ConnectAttempts(), 3);
    EXPECT_EQ(notices, std::vector<std::string>{"Internet Explorer が起動していません。"});

    // The next run frees what the failed one left.
    conv.Disconnect();
    ExpectNothingLeft();
}

TEST_F(BrowserLinkTest, ABrowserStartedByTheAttemptIsUsedAtOnce) {
    SimBrowserServer& ie = dde().AddServer("IExplore", "WWW_OpenURL");
    ie.running = false;
    dde().AddProgram("IExplore WWW_OpenURL").starts = &ie;
    Link(1, "http://pc01/");
    EXPECT_EQ(ie.transactions.size(), 1u);
    EXPECT_TRUE(notices.empty());
    ExpectNothingLeft();
}

TEST_F(BrowserLinkTest, OtherBrowserValuesDoNothing) {
    dde().AddServer("Netscape", "WWW_OpenURL");
    dde().AddServer("IExplore", "WWW_OpenURL");
    // No browser chosen: not even a text that is no address gets a word.
    for (int browser : {2, -1, 100}) {
        Link(browser, "http://pc01/");
        Link(browser, "-new-instance");
    }
    EXPECT_EQ(dde().ConnectAttempts(), 0);
    EXPECT_TRUE(dde().Execs().empty());
    EXPECT_TRUE(notices.empty());
}

// One conversation object runs after run; only web addresses go out, each as its address, and
// everything else is stopped before any conversation or program start, with the notice.
TEST_F(BrowserLinkTest, OnlyWebAddressesReachEitherBrowser) {
    SimBrowserServer& ie = dde().AddServer("IExplore", "WWW_OpenURL");
    SimBrowserServer& ns = dde().AddServer("Netscape", "WWW_OpenURL");
    // What DDE cannot carry goes to the default browser.
    dde().defaultBrowser = true;
    std::size_t sent = 0;
    for (const auto& c : zumelko::testing::WebAddressCases()) {
        SCOPED_TRACE(c.text.substr(0, 80));
        EXPECT_EQ(zumelko::WebAddress(c.text), c.address);
        const int attemptsBefore = dde().ConnectAttempts();
        for (int browser : {1, 0}) {
            notices.clear();
            Link(browser, c.text);
            ExpectNothingLeft();
            if (c.address) {
                EXPECT_TRUE(notices.empty());
            } else {
                EXPECT_EQ(notices, std::vector<std::string>{zumelko::kNotAWebAddress});
            }
        }
        if (!c.address) {
            EXPECT_EQ(dde().ConnectAttempts(), attemptsBefore);
            EXPECT_TRUE(dde().shellOpens.empty());
            continue;
        }
        // An address longer than a DDE string goes to the default browser, once for each.
        if (c.address->size() > SimDde::kMaxStringHandle) {
            EXPECT_EQ(dde().ConnectAttempts(), attemptsBefore);
            EXPECT_EQ(dde().shellOpens, std::vector<std::string>(2, *c.address));
            dde().shellOpens.clear();
            continue;
        }
        EXPECT_TRUE(dde().shellOpens.empty());
        ++sent;
        ASSERT_EQ(ie.transactions.size(), sent);
        ASSERT_EQ(ns.transactions.size(), sent);
        EXPECT_EQ(ie.transactions.back().item, *c.address);
        EXPECT_EQ(ns.transactions.back().item, *c.address);
    }
    EXPECT_EQ(ie.connects, static_cast<int>(sent));
    EXPECT_EQ(ie.disconnects, static_cast<int>(sent));
    EXPECT_TRUE(dde().Execs().empty());
}

TEST_F(BrowserLinkTest, AnItemThatCannotBeMadeAHandleSendsNothing) {
    SimBrowserServer& ie = dde().AddServer("IExplore", "WWW_OpenURL");
    conv.SetLink("IExplore", "WWW_OpenURL");
    ASSERT_TRUE(conv.Connect());
    EXPECT_FALSE(conv.Poke("http://pc01/" + std::string(300, 'a'), ""));
    EXPECT_FALSE(conv.Request("http://pc01/" + std::string(300, 'a')).has_value());
    EXPECT_TRUE(ie.transactions.empty());
    conv.Disconnect();
    ExpectNothingLeft();
}

// Today's browsers answer no DDE: what DDE does not get to a browser goes to the desktop's
// default browser, and the user hears that the browser is not running only when that fails
// too. An address too long for DDE goes there at once.
TEST(BrowserLinkFallback, WhatDdeDoesNotDeliverGoesToTheDefaultBrowser) {
    enum class Dde { Takes, NotRunning, Refuses };
    struct Case {
        const char* what;
        int browser;
        Dde dde;
        std::string text;
        bool byDde;  // the browser's server saw a connect
    };
    const std::string longAddress = "http://pc01/" + std::string(300, 'a');
    const std::vector<Case> cases = {
        {"IE takes it", 1, Dde::Takes, "http://pc01/", true},
        {"Netscape takes it", 0, Dde::Takes, "http://pc01/", true},
        {"IE is not running", 1, Dde::NotRunning, "http://pc01/", false},
        {"Netscape is not running", 0, Dde::NotRunning, " www.example.com\r\n", false},
        {"IE refuses the poke", 1, Dde::Refuses, "http://pc01/", true},
        {"Netscape refuses (or times out)", 0, Dde::Refuses, "http://pc01/", true},
        {"too long for DDE, IE", 1, Dde::Takes, longAddress, false},
        {"too long for DDE, Netscape", 0, Dde::Takes, longAddress, false},
    };
    for (const Case& c : cases) {
        for (bool defaultBrowser : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (defaultBrowser ? ", a default browser" : ", none"));
            ScopedSimDesktop fresh;
            SimDde& sim = fresh->dde();
            zumelko::Component form(nullptr);
            TDdeClientConv& conversation = form.Create<TDdeClientConv>();
            SimBrowserServer& server = sim.AddServer(c.browser == 1 ? "IExplore" : "Netscape", "WWW_OpenURL");
            server.running = c.dde != Dde::NotRunning;
            server.acceptPokes = c.dde != Dde::Refuses;
            if (c.dde == Dde::Refuses) server.reply.reset();
            sim.defaultBrowser = defaultBrowser;
            std::vector<std::string> told;
            LinkToBrowser(conversation, c.browser, c.text, [&told](const std::string& n) { told.push_back(n); });

            const std::string address = *zumelko::WebAddress(c.text);
            EXPECT_EQ(server.connects, c.byDde ? 1 : 0);
            EXPECT_EQ(server.transactions.size(), c.byDde ? 1u : 0u);
            const bool fallsBack = c.dde != Dde::Takes || !c.byDde;
            EXPECT_EQ(sim.shellOpens, fallsBack ? std::vector<std::string>{address} : std::vector<std::string>{});
            const char* notRunning = c.browser == 1 ? zumelko::kExplorerNotRunning : zumelko::kNetscapeNotRunning;
            EXPECT_EQ(told, fallsBack && !defaultBrowser ? std::vector<std::string>{notRunning}
                                                         : std::vector<std::string>{});
            EXPECT_EQ(sim.OpenConversations(), 0u);
        }
    }
}

TEST_F(BrowserLinkTest, ConversationLifecycle) {
    SimBrowserServer& ns = dde().AddServer("Netscape", "WWW_OpenURL");
    ns.reply = std::string("42\0junk", 7);

    EXPECT_FALSE(conv.Connect()) << "no names, no connect";
    EXPECT_EQ(dde().ConnectAttempts(), 0);
    EXPECT_FALSE(conv.Request("x").has_value()) << "no conversation, no request";
    EXPECT_FALSE(conv.Poke("x", ""));

    conv.SetLink("Netscape", "WWW_OpenURL");
    ASSERT_TRUE(conv.Connect());
    EXPECT_FALSE(conv.Connect()) << "already open";
    EXPECT_EQ(conv.DataFormat(), 1u);
    EXPECT_EQ(conv.Request("http://pc01/"), "42");

    // New names end the open conversation.
    conv.SetLink("Netscape", "WWW_OpenURL");
    EXPECT_FALSE(conv.Connected());
    EXPECT_EQ(ns.disconnects, 1);

    // The browser ends it by itself: the object learns of it and does not end it again.
    ASSERT_TRUE(conv.Connect());
    ASSERT_EQ(ns.conversations.size(), 1u);
    dde().PartnerDisconnect(ns.conversations[0]);
    EXPECT_FALSE(conv.Connected());
    EXPECT_FALSE(conv.Poke("x", ""));
    conv.Disconnect();
    EXPECT_EQ(conv.ServiceName(), "");
    ExpectNothingLeft();

    // Going away ends an open conversation.
    {
        zumelko::Component form(nullptr);
        TDdeClientConv& other = form.Create<TDdeClientConv>();
        other.SetLink("Netscape", "WWW_OpenURL");
        ASSERT_TRUE(other.Connect());
    }
    EXPECT_EQ(dde().OpenConversations(), 0u);
    EXPECT_EQ(dde().LiveStringHandles(), 0u);
}

TEST(DdeStartup, ErrorCodesGiveTheirTexts) {
    EXPECT_EQ(zumelko::DdeErrorText(0x4007), "DDE 実行時にﾒﾓﾘ不足ｴﾗｰが発生しました ($04007)");
    EXPECT_EQ(zumelko::DdeErrorText(0x4008), "DDE 実行時にﾒﾓﾘ不足ｴﾗｰが発生しました ($04008)");
    EXPECT_EQ(zumelko::DdeErrorText(0x400A), "DDE ｴﾗｰ ($0400A) のため対話を確立できません");
    EXPECT_EQ(zumelko::DdeErrorText(0x4006), "DDE がｴﾗｰを返しました ($04006)");

    ScopedSimDesktop desktop;
    desktop->dde().initError = 0x4008;
    try {
        zumelko::DdeInstance instance;
        ADD_FAILURE() << "started without DDE";
    } catch (const zumelko::Error& e) {
        EXPECT_STREQ(e.what(), "DDE 実行時にﾒﾓﾘ不足ｴﾗｰが発生しました ($04008)");
    }
    desktop->dde().initError = 0;
    {
        zumelko::DdeInstance instance;
        EXPECT_TRUE(desktop->dde().Initialized());
    }
    EXPECT_FALSE(desktop->dde().Initialized());
}

}  // namespace
