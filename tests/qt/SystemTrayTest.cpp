// The tray where the desktop has one (a system tray that embeds icons runs beside the test):
// the icon sits in the tray, and the tray's activations open the same menus as the icon
// window's clicks. (The activations are raised here as the tray raises them: the embedding
// tray used for the test does not pass synthetic pointer events on to its icons.)
#include <gtest/gtest.h>

#include <QMenu>
#include <QSystemTrayIcon>

#include "desktop/TaskBar.h"
#include "framework/Application.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

TEST(SystemTray, TheTrayIconAnswersBothButtonsWithTheirMenus) {
    if (qEnvironmentVariableIsEmpty("ZUMELKO_TEST_TRAY")) GTEST_SKIP() << "no tray beside this run";
    ASSERT_TRUE(PumpUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
    Form& owner = App().Create<Form>();
    PopupMenu& left = owner.Create<PopupMenu>();
    PopupMenu& right = owner.Create<PopupMenu>();
    for (auto [menu, caption] : {std::pair{&left, "更新(&U)"}, std::pair{&right, "終了(&E)"}}) {
        MenuItem& item = owner.Create<MenuItem>();
        item.SetCaption(caption);
        menu->Add(item);
    }
    TTaskBar& bar = owner.Create<TTaskBar>();
    bar.SetEnableTaskBar(false);
    bar.SetPopupMenuLeft(&left);
    bar.SetPopupMenuRight(&right);
    bar.Loaded();
    EXPECT_TRUE(Desk().shell().UsesTray());
    EXPECT_EQ(Desk().shell().IconWindow(), nullptr);
    auto* tray = Desk().shell().Tray();
    ASSERT_NE(tray, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return tray->geometry().isValid() && tray->geometry().width() > 0; }, 5000));

    Desk().ui().onMenu = [](QMenu& m) {
        const QPoint item = m.mapToGlobal(m.actionGeometry(m.actions().first()).center());
        RunProgram(QStringLiteral("xdotool"), {"mousemove", QString::number(item.x()), QString::number(item.y()),
                                               "sleep", "0.05", "click", "1"});
    };
    // The icon sits in the tray's window; the icon window is not there.
    // (The tray takes its selection before it names its window, so the name may come a moment
    // after the tray is there.)
    QString tree;
    EXPECT_TRUE(PumpUntil([&] {
        tree = QString::fromStdString(RunProgram(QStringLiteral("xwininfo"), {"-root", "-tree"}).out);
        return tree.contains(QStringLiteral("Docker"));
    }, 5000)) << tree.toStdString();
    // Its clicks become the same callback messages as the icon window's: the tray reports
    // them as activations.
    std::vector<std::string> seen;
    Desk().ui().onMenu = [&seen](QMenu& m) {
        seen.push_back(m.actions().first()->text().toStdString());
        m.close();
    };
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(PumpUntil([&] { return seen.size() == 1; }));
    emit tray->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
    Desk().ui().onMenu = nullptr;
    EXPECT_EQ(seen, (std::vector<std::string>{"更新(&U)", "終了(&E)"}));
    App().DestroyComponent(owner);
}

}  // namespace
}  // namespace zumelko::qttest
