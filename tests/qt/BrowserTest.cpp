// Handing a received text to a browser: the program that stands for the browser is started
// with the text as one argument (after "--" for the Mozilla family; xdg-open knows no "--"),
// never through a shell; no such program, no conversation, and the notice.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "desktop/BrowserLink.h"
#include "framework/Application.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

class Browser : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bin.isValid());
        oldPath = qgetenv("PATH");
        // Only the stand-ins and the shell they are written in.
        qputenv("PATH", (bin.path() + QStringLiteral(":/usr/bin:/bin")).toLocal8Bit());
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
        f.write("#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$0.log.tmp\" && mv \"$0.log.tmp\" \"$0.log\"\n");
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

TEST_F(Browser, TheTextArrivesAsOneArgumentWhateverItHolds) {
    StandIn(QStringLiteral("firefox"));
    StandIn(QStringLiteral("xdg-open"));
    const std::vector<std::string> texts = {
        "http://example.invalid/a b?q=\"x\"&y='z'",
        "; touch /tmp/zumelko-pwned $(touch /tmp/zumelko-pwned) `id`",
        "first line\r\nsecond line\n",
        "-new-window http://x",
        "  blanks around  ",
        "ｸﾘｯﾌﾟﾎﾞｰﾄﾞ 日本語",
    };
    for (const auto& text : texts) {
        Link(kBrowserNetscape, text);
        EXPECT_EQ(Arguments(QStringLiteral("firefox")), (std::vector<std::string>{"--", text}));
        if (text.front() == '-') continue;
        Link(kBrowserExplorer, text);
        EXPECT_EQ(Arguments(QStringLiteral("xdg-open")), (std::vector<std::string>{text}));
    }
    // xdg-open would take a text beginning with "-" for an option (it refuses "--" too): such a
    // text is not handed to it at all.
    Link(kBrowserExplorer, "--version");
    Pump(300);
    EXPECT_FALSE(QFile::exists(bin.path() + QStringLiteral("/xdg-open.log")));
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/zumelko-pwned")));
    EXPECT_TRUE(notices.empty());
    EXPECT_FALSE(conversation->Connected());
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
