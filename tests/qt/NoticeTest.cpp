// The notice on the Linux desktop: a short one keeps the designed size; one that does not fit
// widens the dialog, up to what the screen shows, and wraps beyond that, all of it inside the
// window with the OK button below it.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "dialogs/OKDialog.h"
#include "framework/Application.h"
#include "platform/qt/Charset.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

TEST(Notice, ALongNoticeWidensTheDialogToTheScreenAndThenWrapsInsideIt) {
    TForm2& form = App().Create<TForm2>();
    const int screenWidth = QGuiApplication::primaryScreen()->availableGeometry().width();
    std::string japanese;
    for (int i = 0; i < 120; ++i) japanese += "受信";
    struct Case {
        std::string text;
        enum { Designed, Wider, Wrapped } shape;
    };
    const std::vector<Case> cases = {
        {"データの転送が終了しました。", Case::Designed},
        {"ネットワークエラー ： Address already in use (in Listener)", Case::Wider},
        {"ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"" + japanese + "\"に送信します。", Case::Wrapped},
        // One word longer than the screen still breaks, within the word.
        {"ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"" + std::string(400, 'W') + "\"に送信します。", Case::Wrapped},
        {"ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"PC-01\"に送信します。", Case::Designed},
    };
    int shot = 0;
    for (const Case& c : cases) {
        const std::string what = c.text.substr(0, 40);
        Desk().ui().onShown = [&](Form&, QWidget& window) {
            QTimer::singleShot(50, &window, [&] {
                auto* label = dynamic_cast<QLabel*>(Desk().ui().WidgetOf(*form.Label1));
                auto* ok = dynamic_cast<QPushButton*>(Desk().ui().WidgetOf(*form.Button1));
                if (label == nullptr || ok == nullptr) {
                    ADD_FAILURE() << "the notice's widgets are not there";
                    form.Close();
                    return;
                }
                const QFontMetrics metrics(label->font());
                const QStringList lines = label->text().split(QLatin1Char('\n'));
                EXPECT_EQ(QString(label->text()).remove(QLatin1Char('\n')), platform::qt::FromCaption(c.text)) << what;
                switch (c.shape) {
                    case Case::Designed:
                        EXPECT_EQ(window.size(), QSize(427, 141)) << what;
                        break;
                    case Case::Wider:
                        EXPECT_GT(window.width(), 427) << what;
                        EXPECT_EQ(window.height(), 141) << what;
                        EXPECT_EQ(lines.size(), 1) << what;
                        break;
                    case Case::Wrapped:
                        EXPECT_GT(window.width(), 427) << what;
                        EXPECT_LE(window.width(), screenWidth) << what;
                        EXPECT_GT(lines.size(), 1) << what;
                        EXPECT_EQ(label->height(), label->sizeHint().height()) << what;
                        break;
                }
                // Every line and the button are seen whole, inside the window.
                for (const QString& line : lines)
                    EXPECT_LE(label->x() + metrics.horizontalAdvance(line.trimmed()), window.width() - 24) << what;
                EXPECT_LE(label->geometry().bottom(), ok->y()) << what;
                EXPECT_LE(ok->geometry().bottom(), window.height()) << what;
                EXPECT_NEAR(ok->x() + ok->width() / 2, window.width() / 2, 1) << what;
                if (c.shape != Case::Designed) SaveShot(window, QStringLiteral("notice_%1").arg(++shot));
                form.Close();
            });
        };
        EXPECT_EQ(form.ShowNotice(c.text), mrCancel);
    }
    Desk().ui().onShown = nullptr;
    App().DestroyComponent(form);
}

}  // namespace
}  // namespace zumelko::qttest
