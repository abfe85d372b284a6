// The tray on a desktop without one: the icon window stands in for it and answers the same
// clicks with the same menus, also while a dialog is up; the beep; identity.
#include <unistd.h>

#include <gtest/gtest.h>

#include <QTextDocumentFragment>

#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "desktop/TaskBar.h"
#include "framework/Application.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

using namespace zumelko::platform;

class Tray : public ::testing::Test {
protected:
    void SetUp() override {
        owner = &App().Create<Form>();
        owner->SetClientSize(200, 80);
        owner->SetCaption("Zumelko");
        auto& ok = owner->AddControl<Button>("OK");
        ok.SetCaption("OK");
        ok.SetModalResult(mrOk);
        ok.SetBounds(60, 40, 75, 25);
        left = &owner->Create<PopupMenu>();
        right = &owner->Create<PopupMenu>();
        for (auto [menu, caption] : {std::pair{left, "更新(&U)"}, std::pair{right, "設定(&C)"}}) {
            MenuItem& item = owner->Create<MenuItem>();
            item.SetCaption(caption);
            item.OnClick = [this, &item](Component*) { chosen.push_back(item.Caption()); };
            menu->Add(item);
        }
        bar = &owner->Create<TTaskBar>();
        bar->SetEnableTaskBar(false);
        bar->SetPopupMenuLeft(left);
        bar->SetPopupMenuRight(right);
        bar->OnTrayClick = [this](TMouseButton b) { presses.push_back(static_cast<int>(b)); };
        bar->Loaded();
        Desk().ui().onMenu = [this](QMenu& m) {
            menuRect = m.geometry();
            cursorAt = QCursor::pos();
            SaveShot(m, QStringLiteral("tray_menu_%1").arg(menusSeen++));
            // The user clicks the first item.
            const QPoint item = m.mapToGlobal(m.actionGeometry(m.actions().first()).center());
            RunProgram(QStringLiteral("xdotool"), {"mousemove", QString::number(item.x()),
                                                   QString::number(item.y()), "sleep", "0.05", "click", "1"});
        };
    }
    void TearDown() override {
        Desk().ui().onMenu = nullptr;
        App().DestroyComponent(*owner);
    }
    // The user clicks the icon window with a mouse button, as X delivers it.
    void ClickIcon(int button) {
        QWidget* w = Desk().shell().IconWindow();
        ASSERT_NE(w, nullptr);
        const QPoint centre = w->mapToGlobal(w->rect().center());
        // (mousemove --sync waits for a movement, so never ask for the place it is at.)
        RunProgram(QStringLiteral("xdotool"), {"mousemove", "--sync", "0", "0", "mousemove", "--sync",
                                               QString::number(centre.x()), QString::number(centre.y()), "click",
                                               QString::number(button)});
    }

    Form* owner = nullptr;
    PopupMenu* left = nullptr;
    PopupMenu* right = nullptr;
    TTaskBar* bar = nullptr;
    std::vector<std::string> chosen;
    std::vector<int> presses;
    QRect menuRect;
    QPoint cursorAt;
    int menusSeen = 0;
};

TEST_F(Tray, TheIconWindowAnswersBothButtonsWithTheirMenus) {
    EXPECT_FALSE(Desk().shell().UsesTray());
    QWidget* w = Desk().shell().IconWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(Desk().shell().ApplicationWindowVisible());
    SaveShot(*w, QStringLiteral("tray_icon_window"));

    ClickIcon(1);
    ASSERT_TRUE(PumpUntil([&] { return chosen.size() == 1; }));
    EXPECT_EQ(chosen.back(), "更新(&U)");
    EXPECT_EQ(presses, std::vector<int>{0});
    // The menu opened at the cursor, moved only as far as the screen's edge asks.
    EXPECT_TRUE(menuRect.adjusted(-2, -2, 2, 2).contains(cursorAt));

    ClickIcon(3);
    ASSERT_TRUE(PumpUntil([&] { return chosen.size() == 2; }));
    EXPECT_EQ(chosen.back(), "設定(&C)");
    // A middle click has no menu: only the press is told.
    ClickIcon(2);
    ASSERT_TRUE(PumpUntil([&] { return presses.size() == 3; }));
    Pump(100);
    EXPECT_EQ(presses, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(chosen.size(), 2u);

    // The tip shows its first 63 bytes; the icon goes away and comes back.
    bar->SetTips(std::string(70, 'x'));
    EXPECT_EQ(QTextDocumentFragment::fromHtml(w->toolTip()).toPlainText(), QString(63, QLatin1Char('x')));
    bar->SetEnableTaskTray(false);
    EXPECT_EQ(Desk().shell().IconWindow(), nullptr);
    bar->SetEnableTaskTray(true);
    ASSERT_NE(Desk().shell().IconWindow(), nullptr);
    EXPECT_TRUE(Desk().shell().IconShown());
}

TEST_F(Tray, ClicksAreAnsweredWhileADialogIsOpen) {
    Desk().ui().onShown = [this](Form&, QWidget& window) {
        QTimer::singleShot(50, &window, [this, &window] {
            ClickIcon(3);
            PumpUntil([&] { return !chosen.empty(); });
            window.findChild<QPushButton*>(QStringLiteral("OK"))->click();
        });
    };
    EXPECT_EQ(owner->ShowModal(), mrOk);
    Desk().ui().onShown = nullptr;
    EXPECT_EQ(chosen, std::vector<std::string>{"設定(&C)"});
}

TEST(Identity, LoginNameAndHostNameWithoutDomain) {
    auto& net = Desk().network();
    char buffer[256];
    std::uint32_t size = sizeof buffer;
    ASSERT_TRUE(net.GetComputerName(buffer, size));
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    std::string expected(host);
    expected = expected.substr(0, expected.find('.'));
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_EQ(size, expected.size());
    size = sizeof buffer;
    ASSERT_TRUE(net.GetUserName(buffer, size));
    EXPECT_FALSE(std::string(buffer).empty());
    EXPECT_EQ(size, std::string(buffer).size() + 1);
    // Too small a buffer: refused, with the size that is needed.
    std::uint32_t tiny = 1;
    EXPECT_FALSE(net.GetUserName(buffer, tiny));
    EXPECT_GT(tiny, 1u);
}

TEST(Beep, SoundsTheDesktopBell) {
    const auto before = Desk().shell().BeepCount();
    EXPECT_TRUE(Desk().shell().MessageBeep(0xFFFFFFFFu));
    EXPECT_EQ(Desk().shell().BeepCount(), before + 1);
}

}  // namespace
}  // namespace zumelko::qttest
