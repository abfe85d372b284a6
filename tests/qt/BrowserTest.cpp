// Handing a received text to a browser: the program that stands for the browser is started
// with the web address as one argument (after "--" for the Mozilla family; xdg-open knows no
// "--"), never through a shell; a text that is no web address starts nothing and gets its
// notice; no such program, no conversation, and the notice.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "desktop/BrowserLink.h"
#include "framework/Application.h"
#include "platform/qt/Charset.h"
#include "tests/desktop/WebAddressCases.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bin.isValid());
        oldPath = qgetenv("PATH");
        // Only the stand-ins: the machine's own xdg-open (which comes with a Wayland desktop)
        // would answer for a browser that is not there.
        qputenv("PATH", bin.path().toLocal8Bit());
        conversation = &App().Create<TDdeClientConv>();
    }
    void TearDown() override {
        App().DestroyComponent(*conversation);
        qputenv("PATH", oldPath);
    }
    // A browser that writes its arguments, each followed by a NUL, to <name>.log.
    void StandIn(const QString& name) {
        const QString path = bin.path() + QLatin1Char('/') + name;
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nPATH=/usr/bin:/bin\nprintf '%s\\0' \"$@\" > \"$0.log.tmp\" && mv \"$0.log.tmp\" \"$0.log\"\n");
        f.close();
        ::chmod(path.toLocal8Bit().constData(), 0755);
    }
    std::vector<std::string> Arguments(const QString& name) {
        const QString log = bin.path() + QLatin1Char('/') + name + QStringLiteral(".log");
        EXPECT_TRUE(PumpUntil([&] { return QFile::exists(log); }, 5000)) << name.toStdString();
        QFile f(log);
        f.open(QIODevice::ReadOnly);
        const QByteArray all = f.readAll();
        f.close();
        QFile::remove(log);
        std::vector<std::string> args;
        std::string current;
        for (char c : all) {
            if (c == '\0') {
                args.push_back(current);
                current.clear();
            } else {
                current += c;
            }
        }
        return args;
    }
    void Link(int browser, const std::string& text) {
        LinkToBrowser(*conversation, browser, text, [this](const std::string& n) { notices.push_back(n); });
    }

    QTemporaryDir bin;
    QByteArray oldPath;
    TDdeClientConv* conversation = nullptr;
    std::vector<std::string> notices;
};

// What a stranger could send never starts a program; a web address arrives byte for byte as one
// argument, whatever it holds after its host.
TEST_F(Browser, OnlyWebAddressesAreHandedToTheStartedProgram) {
    StandIn(QStringLiteral("firefox"));
    StandIn(QStringLiteral("xdg-open"));
    const auto cases = testing::WebAddressCases();
    for (const auto& c : cases) {
        if (c.address) continue;
        SCOPED_TRACE(c.text.substr(0, 80));
        for (int browser : {kBrowserNetscape, kBrowserExplorer}) {
            notices.clear();
            Link(browser, c.text);
            EXPECT_EQ(notices, std::vector<std::string>{kNotAWebAddress});
            EXPECT_FALSE(conversation->Connected());
        }
    }
    Pump(300);
    EXPECT_EQ(QDir(bin.path()).entryList(QDir::Files), (QStringList{QStringLiteral("firefox"), QStringLiteral("xdg-open")}))
        << "a refused text started a program";

    notices.clear();
    for (const auto& c : cases) {
        if (!c.address) continue;
        SCOPED_TRACE(c.text);
        // As Linux programs read it: UTF-8, which anything else is made.
        const std::string address = ValidUtf8(*c.address);
        Link(kBrowserNetscape, c.text);
        EXPECT_EQ(Arguments(QStringLiteral("firefox")), (std::vector<std::string>{"--", address}));
        Link(kBrowserExplorer, c.text);
        EXPECT_EQ(Arguments(QStringLiteral("xdg-open")), (std::vector<std::string>{address}));
    }
    Link(kBrowserNetscape, "http://例.jp/テ");
    EXPECT_EQ(Arguments(QStringLiteral("firefox")), (std::vector<std::string>{"--", "http://例.jp/テ"}));
    EXPECT_TRUE(notices.empty());
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/zumelko-pwned")));
}

// Below the check above, the desktop itself still starts nothing a program could read as an
// option or that a line break would split.
TEST_F(Browser, TheStarterRefusesOptionsAndControlCharactersWhoeverAsks) {
    StandIn(QStringLiteral("firefox"));
    StandIn(QStringLiteral("xdg-open"));
    auto& dde = Desk().dde();
    for (const char* service : {"Netscape", "IExplore"}) {
        for (const std::string& item : std::vector<std::string>{"-new-instance", "--headless", "", "http://a/\nb", "\x7f"}) {
            const auto s = dde.CreateStringHandle(service);
            const auto t = dde.CreateStringHandle("WWW_OpenURL");
            const auto i = dde.CreateStringHandle(item);
            const auto conv = dde.Connect(s, t);
            ASSERT_NE(conv, 0u);
            EXPECT_FALSE(dde.Request(conv, i, 1, 10000).has_value()) << service << " " << item;
            EXPECT_FALSE(dde.Poke(conv, i, std::string(1, '\0'), 1)) << service << " " << item;
            dde.Disconnect(conv);
            for (auto h : {s, t, i}) dde.FreeStringHandle(h);
        }
    }
    Pump(300);
    EXPECT_EQ(QDir(bin.path()).entryList(QDir::Files).size(), 2);
}

TEST_F(Browser, TheMozillaFamilyIsFoundUnderEitherName) {
    StandIn(QStringLiteral("firefox-esr"));
    Link(kBrowserNetscape, "http://a");
    EXPECT_EQ(Arguments(QStringLiteral("firefox-esr")), (std::vector<std::string>{"--", "http://a"}));
    EXPECT_TRUE(notices.empty());
}

TEST_F(Browser, NoBrowserToStartGivesTheNoticeAndStartsNothing) {
    Link(kBrowserNetscape, "http://a");
    Link(kBrowserExplorer, "http://b");
    Link(2, "http://c");
    EXPECT_EQ(notices, (std::vector<std::string>{kNetscapeNotRunning, kExplorerNotRunning}));
    EXPECT_TRUE(QDir(bin.path()).entryList(QDir::Files).isEmpty());
    // The fixed command line tried before giving up names no program here.
    EXPECT_LT(Desk().dde().WinExec("Netscape WWW_OpenURL", 7), 32u);
}

}  // namespace
}  // namespace zumelko::qttest
