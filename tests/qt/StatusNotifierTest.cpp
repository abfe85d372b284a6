// The tray of a Wayland desktop: the StatusNotifierItem service on D-Bus, taken by a host of our
// own on a private bus (tray/run.sh), which records what it is given and clicks the icon with
// both buttons; both menus open. With nobody on the bus to take the icon, the icon window
// stands in.
#include <gtest/gtest.h>

#include <set>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QSystemTrayIcon>

#include "desktop/TaskBar.h"
#include "framework/Application.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

QJsonObject Record(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

TEST(StatusNotifier, BothMenusOpenThroughTheBusOrTheIconWindowStandsIn) {
    if (qEnvironmentVariableIsEmpty("ZUMELKO_TEST_TRAY")) GTEST_SKIP() << "run by tray/run.sh";
    const QString recordPath = qEnvironmentVariable("ZUMELKO_TEST_NOTIFIER_RECORD");
    const bool host = !recordPath.isEmpty();
    Form& owner = App().Create<Form>();
    PopupMenu& left = owner.Create<PopupMenu>();
    PopupMenu& right = owner.Create<PopupMenu>();
    for (auto [menu, caption] : {std::pair{&left, "更新(&U)"}, std::pair{&right, "終了(&E)"}}) {
        MenuItem& item = owner.Create<MenuItem>();
        item.SetCaption(caption);
        menu->Add(item);
    }
    std::vector<std::string> seen;
    Desk().ui().onMenu = [&seen](QMenu& m) {
        seen.push_back(m.actions().first()->text().toStdString());
        m.close();
    };
    TTaskBar& bar = owner.Create<TTaskBar>();
    bar.SetEnableTaskBar(false);
    bar.SetTips("Zumelko <b>tip</b>");
    bar.SetPopupMenuLeft(&left);
    bar.SetPopupMenuRight(&right);
    bar.Loaded();

    if (!host) {
        EXPECT_FALSE(Desk().shell().UsesTray());
        EXPECT_NE(Desk().shell().IconWindow(), nullptr);
    } else {
        EXPECT_TRUE(Desk().shell().UsesTray());
        EXPECT_EQ(Desk().shell().IconWindow(), nullptr);
        // The host clicks left, then right, as a panel passes on a person's clicks.
        EXPECT_TRUE(PumpUntil([&] { return seen.size() == 2; }, 20000));
        EXPECT_EQ(seen, (std::vector<std::string>{"更新(&U)", "終了(&E)"}));
        const QJsonObject record = Record(recordPath);
        ASSERT_EQ(record["items"].toArray().size(), 1) << QJsonDocument(record).toJson().toStdString();
        const QJsonObject item = record["items"].toArray()[0].toObject();
        EXPECT_EQ(item["Status"].toString(), "Active");
        EXPECT_EQ(item["Id"].toString(), "zumelko");
        // The icon as pixels, at least one size, and the tip as text: a host shows markup there,
        // so the tip's own angle brackets come escaped.
        const QJsonArray pixmaps = item["IconPixmap"].toArray();
        ASSERT_FALSE(pixmaps.isEmpty());
        const QJsonArray first = pixmaps[0].toArray();
        EXPECT_GT(first[0].toInt(), 0);
        EXPECT_EQ(first[2].toObject()["bytes"].toInt(), first[0].toInt() * first[1].toInt() * 4);
        // Each size drawn for itself, for a host to pick the one of its panel and scale.
        std::set<int> sizes;
        for (const auto& p : pixmaps) {
            EXPECT_EQ(p.toArray()[0].toInt(), p.toArray()[1].toInt());
            sizes.insert(p.toArray()[0].toInt());
        }
        EXPECT_TRUE(sizes.count(16) == 1 && sizes.count(24) == 1 && sizes.count(32) == 1 && sizes.count(64) == 1)
            << pixmaps.size() << " sizes";
        const QString tip = item["ToolTip"].toArray()[2].toString();
        EXPECT_TRUE(tip.contains("Zumelko &lt;b&gt;tip&lt;/b&gt;")) << tip.toStdString();
        EXPECT_FALSE(tip.contains("<b>")) << tip.toStdString();
        EXPECT_TRUE(record["errors"].toArray().isEmpty()) << QJsonDocument(record).toJson().toStdString();
    }
    Desk().ui().onMenu = nullptr;
    App().DestroyComponent(owner);
}

}  // namespace
}  // namespace zumelko::qttest
