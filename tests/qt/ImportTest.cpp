// The whole program on the Linux desktop, receiving over real TCP: the sender's names arrive as
// plain text, and an import that fails leaves nothing of its own changes pending, so the user's
// next real copy (xclip) is taken exactly once and nothing is asked about the emptied clipboard.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <future>
#include <utility>
#include <vector>

#include "app/Program.h"
#include "core/MainForm.h"
#include "desktop/DdeClientConv.h"
#include "dialogs/ReceiveDialog.h"
#include "dialogs/SendDialog.h"
#include "framework/Application.h"
#include "tests/qt/QtTestSupport.h"
#include "tests/support/RawPeer.h"

namespace zumelko::qttest {
namespace {

std::string SmallBmp() {
    QImage image(5, 4, QImage::Format_RGB888);
    image.fill(QColor(10, 200, 30));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes.toStdString();
}

class Import : public ::testing::Test {
protected:
    Import() { CreateForms(App()); }
    ~Import() override {
        Desk().ui().onShown = nullptr;
        App().DestroyForms();
        ForgetForms();
    }
    bool Deliver(std::future<bool>& sender) {
        return PumpUntil([&] { return sender.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30000);
    }
    DdeInstance dde_;
};

TEST_F(Import, TheSendersNamesArriveAsPlainText) {
    const std::string user = "<font color=red size=7>user</font>";
    const std::string machine = "<img src=/etc/passwd>&amp;";
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    Desk().ui().onShown = [&](Form& form, QWidget& window) {
        QTimer::singleShot(30, &window, [&] {
            if (&form == Form5) {
                const auto* label = dynamic_cast<QLabel*>(Desk().ui().WidgetOf(*Form5->Label3));
                if (label != nullptr) {
                    shown = label->text();
                    format = label->textFormat();
                }
                Form5->Button2->Click();  // NO
            } else {
                form.Close();
            }
        });
    };
    auto sender = std::async(std::launch::async, [&] {
        return testing::RawSendPacket("127.0.0.1", 8000, "string\r\n" + user + "\r\n" + machine + "\r\n") &&
               testing::RawSendPacket("127.0.0.1", 8001, std::string("text\0", 5), 20000);
    });
    ASSERT_TRUE(Deliver(sender));
    EXPECT_TRUE(sender.get());
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown.toStdString(), "\"" + machine + "\" にいる \"" + user + "\" から");
}

TEST_F(Import, TextsFromTheOriginalProgramAndFromInstancesArriveAsTheSenderMeantThem) {
    // A classic peer's names and text in code page 932: ユーザーﾊｲ on マシン１, and half-width
    // kana that are also well-formed UTF-8 (ﾊｲ, CA B2) or nearly so (ﾀｱ, C0 B1).
    const std::string user = "\x83\x86\x81\x5b\x83\x55\x81\x5b\xca\xb2";
    const std::string machine = "\x83\x7d\x83\x56\x83\x93\x82\x50";
    const std::string text = "\x93\xfa\x96\x7b\x8c\xea \xb1\xb2 \x87\x40\xfb\xfc \xca\xb2 \xc0\xb1";
    QString shown;
    std::vector<std::string> received;
    Desk().ui().onShown = [&](Form& form, QWidget& window) {
        QTimer::singleShot(30, &window, [&] {
            if (&form != Form5) return form.Close();
            if (const auto* label = dynamic_cast<QLabel*>(Desk().ui().WidgetOf(*Form5->Label3))) shown = label->text();
            received.push_back(std::string(Form5->ReceivedText.View()));
            // The first is taken, the program's own sends (to itself) only looked at.
            (received.size() == 1 ? Form5->Button1 : Form5->Button2)->Click();
        });
    };
    auto sender = std::async(std::launch::async, [&] {
        return testing::RawSendPacket("127.0.0.1", 8000, "string\r\n" + user + "\r\n" + machine + "\r\n") &&
               testing::RawSendPacket("127.0.0.1", 8001, text + '\0', 20000);
    });
    ASSERT_TRUE(Deliver(sender));
    EXPECT_TRUE(sender.get());
    EXPECT_EQ(shown.toStdString(), "\"マシン１\" にいる \"ユーザーﾊｲ\" から");
    const Ran pasted = RunProgram(QStringLiteral("xclip"), {"-selection", "clipboard", "-o"});
    ASSERT_TRUE(pasted.finished);
    EXPECT_EQ(pasted.out, "日本語 ｱｲ ①髙 ﾊｲ ﾀｱ");

    // Copies made here go to the default machine, this one, which takes each exactly: those
    // code page 932 holds, those it holds only in a close form, and those it cannot hold.
    Form1->CheckerMode = UseDefault;
    Form1->DefaultDestination = "127.0.0.1";
    for (const std::string copied : {"日本語 ｱｲ ①髙 ﾊｲ ﾀｱ", "¥1,000 〜 ‾ − ‖", "日本 한국 😀"}) {
        const std::size_t before = received.size();
        ASSERT_TRUE(RunProgram(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"}, copied).finished);
        ASSERT_TRUE(PumpUntil([&] { return received.size() > before; }, 20000)) << copied;
        EXPECT_EQ(received.back(), copied);
        Pump(300);
    }
    Form1->CheckerMode = NoCheck;
}

TEST_F(Import, AFailedImportLeavesNothingPendingAndTheNextCopyIsAskedAboutOnce) {
    Form1->CheckerMode = AskDestination;
    std::vector<std::string> shown;
    Desk().ui().onShown = [&](Form& form, QWidget& window) {
        shown.push_back(form.Name());
        QTimer::singleShot(30, &window, [&form] {
            if (&form == Form5) {
                // The display runs short between the question and the answer.
                Desk().gdi().SetBitmapPixelLimit(1);
                Form5->Button1->Click();  // YES
            } else {
                form.Close();
            }
        });
    };
    const auto exceptionsBefore = Desk().ui().Exceptions().size();
    auto sender = std::async(std::launch::async, [] {
        return testing::RawSendPacket("127.0.0.1", 8000, "bitmap\r\nuser\r\nPC-X\r\n") &&
               testing::RawSendPacket("127.0.0.1", 8001, SmallBmp(), 20000);
    });
    ASSERT_TRUE(Deliver(sender));
    EXPECT_TRUE(sender.get());
    Desk().gdi().SetBitmapPixelLimit(platform::qt::QtGdi::kMaxPixels);
    Pump(500);  // whatever the import left on its way arrives now
    ASSERT_EQ(Desk().ui().Exceptions().size(), exceptionsBefore + 1);
    EXPECT_EQ(Desk().ui().Exceptions().back(), "ｼｽﾃﾑ ﾘｿｰｽが足りません");
    EXPECT_EQ(shown, std::vector<std::string>{"Form5"}) << "nothing asked about the emptied clipboard";
    EXPECT_EQ(Form1->SkipCount, 0);

    // The user copies in another program: asked where to send it, once.
    const Ran copy = RunProgram(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"}, "next");
    ASSERT_TRUE(copy.finished);
    EXPECT_TRUE(PumpUntil([&] { return shown.size() >= 2; }));
    Pump(500);
    EXPECT_EQ(shown, (std::vector<std::string>{"Form5", "Form8"}));
}

}  // namespace
}  // namespace zumelko::qttest
