// The tray where the desktop has one (a system tray that embeds icons runs beside the test):
// the icon sits in the tray, and its clicks open the same menus as the icon window's.
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
    std::vector<std::string> chosen;
    for (auto [menu, caption] : {std::pair{&left, "更新(&U)"}, std::pair{&right, "終了(&E)"}}) {
        MenuItem& item = owner.Create<MenuItem>();
        item.SetCaption(caption);
        item.OnClick = [&chosen, &item](Component*) { chosen.push_back(item.Caption()); };
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
    auto click = [&](int button) {
        const QPoint c = tray->geometry().center();
        RunProgram(QStringLiteral("xdotool"), {"mousemove", "--sync", "0", "0", "mousemove", "--sync",
                                               QString::number(c.x()), QString::number(c.y()), "click",
                                               QString::number(button)});
    };
    click(1);
    EXPECT_TRUE(PumpUntil([&] { return chosen.size() == 1; }));
    click(3);
    EXPECT_TRUE(PumpUntil([&] { return chosen.size() == 2; }));
    Desk().ui().onMenu = nullptr;
    EXPECT_EQ(chosen, (std::vector<std::string>{"更新(&U)", "終了(&E)"}));
    App().DestroyComponent(owner);
}

}  // namespace
}  // namespace zumelko::qttest
