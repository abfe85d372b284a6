// Names and text from the network on the Linux desktop: whatever they hold, every label,
// message box, tooltip and menu entry shows them as written, never as markup, and the dialogs
// keep their size. Esc answers no question that has no cancel button.
#include <gtest/gtest.h>

#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTextDocumentFragment>
#include <QTimer>

#include "desktop/TaskBar.h"
#include "dialogs/OKDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "dialogs/SendDialog.h"
#include "dialogs/YesNoDialog.h"
#include "framework/Application.h"
#include "framework/Menus.h"
#include "platform/qt/Charset.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

using platform::qt::FromCaption;

// Names as hosts on the LAN can write them into a header or answer them in the neighbourhood.
const std::vector<std::string>& HostileNames() {
    static const std::vector<std::string> names = {
        "<font color=red size=7>BIG</font>",
        "<img src=/etc/passwd>",
        "<a href=\"file:///etc/passwd\">click</a><b>bold",
        "&lt;b&gt;entity&amp;&#65;",
        "A&B && C&",
        "[*]-",
        "tab\there\x01\x1b[31mred\rcr\nlf",
        "<qt>" + std::string(60 * 1024, 'W') + "</qt>",
    };
    return names;
}

// What a tooltip shows: Qt draws it as rich text when it looks like rich text.
QString ShownTip(const QString& tip) {
    return Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
}

// Shows the form; `check` runs once it is on screen and closes it.
int Show(Form& form, const std::function<void(QWidget&)>& check) {
    Desk().ui().onShown = [&check](Form&, QWidget& window) {
        QTimer::singleShot(30, &window, [&check, &window] { check(window); });
    };
    const int result = form.ShowModal();
    Desk().ui().onShown = nullptr;
    return result;
}

// A label shows exactly the text, as plain text, at the size plain text takes.
void ExpectPlain(const Label& model, const std::string& expected, const std::string& name) {
    auto* label = dynamic_cast<QLabel*>(Desk().ui().WidgetOf(model));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << name.substr(0, 80);
    // A wrapped label (a notice too long for the screen) only has line breaks added.
    auto unbroken = [&model](QString text) { return model.WordWrap() ? text.remove(QLatin1Char('\n')) : text; };
    EXPECT_EQ(unbroken(label->text()), unbroken(FromCaption(expected))) << name.substr(0, 80);
    QLabel plain;
    plain.setTextFormat(Qt::PlainText);
    plain.setFont(label->font());
    plain.setText(label->text());
    EXPECT_EQ(label->sizeHint(), plain.sizeHint()) << name.substr(0, 80);
    if (!model.AutoSize()) {
        EXPECT_EQ(label->size(), QSize(model.Bounds().width, model.Bounds().height));
    }
}

class NetworkText : public ::testing::Test {
protected:
    Application& app = App();
};

TEST_F(NetworkText, ReceiveDialogsAndNoticesShowHostileNamesAsWritten) {
    TForm5& form5 = app.Create<TForm5>();
    TForm3& form3 = app.Create<TForm3>();
    TForm2& form2 = app.Create<TForm2>();
    int shot = 0;
    for (const std::string& name : HostileNames()) {
        const std::string sender = "\"" + name + "\" にいる \"" + name + "\" から";
        form5.Label3->SetCaption(sender);
        EXPECT_EQ(Show(form5, [&](QWidget& window) {
                      EXPECT_EQ(window.size(), QSize(form5.ClientWidth(), form5.ClientHeight()));
                      ExpectPlain(*form5.Label3, sender, name);
                      if (shot++ == 0) SaveShot(window, QStringLiteral("hostile_sender_form5"));
                      // The received text itself may be anything too: the dialog stays as it is.
                      form5.Close();
                  }),
                  mrCancel);
        form3.Label3->SetCaption(sender);
        Show(form3, [&](QWidget& window) {
            EXPECT_EQ(window.size(), QSize(form3.ClientWidth(), form3.ClientHeight()));
            ExpectPlain(*form3.Label3, sender, name);
            form3.Close();
        });
        // A notice quoting a destination: the label sizes itself to the plain text.
        const std::string notice = "ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"" + name + "\"に送信します。";
        Desk().ui().onShown = [&](Form&, QWidget& window) {
            QTimer::singleShot(30, &window, [&] {
                EXPECT_EQ(window.size(), QSize(form2.ClientWidth(), form2.ClientHeight()));
                ExpectPlain(*form2.Label1, notice, name);
                form2.Close();
            });
        };
        form2.ShowNotice(notice);
        Desk().ui().onShown = nullptr;
    }
    app.DestroyComponent(form5);
    app.DestroyComponent(form3);
    app.DestroyComponent(form2);
}

TEST_F(NetworkText, ErrorBoxTrayTipAndMenuEntriesShowNamesAsWritten) {
    // The standard error box.
    Desk().ui().SetExceptionBoxes(true);
    for (const std::string& name : {HostileNames()[0], HostileNames()[1], HostileNames()[5]}) {
        QString shownText;
        std::string shownTitle;
        Qt::TextFormat format = Qt::AutoText;
        QTimer::singleShot(50, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            shownText = box->text();
            format = box->textFormat();
            shownTitle = RunProgram(QStringLiteral("xprop"), {"-id", QString::number(box->winId()), "WM_NAME"}).out;
            box->accept();
        });
        Desk().ui().ShowException("[*]Zumelko", name);
        EXPECT_EQ(format, Qt::PlainText);
        EXPECT_EQ(shownText, FromCaption(name));
        EXPECT_NE(shownTitle.find("\"[*]Zumelko\""), std::string::npos) << shownTitle;
    }
    Desk().ui().SetExceptionBoxes(false);

    // The tray icon's tip: its first 63 bytes, as written.
    Form& owner = app.Create<Form>();
    TTaskBar& bar = owner.Create<TTaskBar>();
    bar.SetEnableTaskBar(false);
    bar.Loaded();
    QWidget* icon = Desk().shell().IconWindow();
    ASSERT_NE(icon, nullptr);
    for (const std::string& name : HostileNames()) {
        bar.SetTips(name);
        QString expected = FromCaption(name.substr(0, 63));
        expected.replace(QLatin1Char('\r'), QLatin1Char('\n'));  // a CR breaks the line
        EXPECT_EQ(ShownTip(icon->toolTip()), expected) << name.substr(0, 80);
    }

    // Machine entries are shown literally; the program's own captions keep their mnemonic.
    PopupMenu& menu = owner.Create<PopupMenu>();
    MenuItem& update = owner.Create<MenuItem>();
    update.SetCaption("更新(&U)");
    menu.Add(update);
    for (const std::string& name : HostileNames()) {
        MenuItem& entry = owner.Create<MenuItem>();
        entry.SetCaption(name);
        entry.SetLiteralCaption(true);
        menu.Add(entry);
    }
    bool seen = false;
    Desk().ui().onMenu = [&](QMenu& m) {
        seen = true;
        const auto actions = m.actions();
        EXPECT_EQ(actions.size(), static_cast<qsizetype>(HostileNames().size() + 1));
        EXPECT_EQ(QKeySequence::mnemonic(actions[0]->text()), QKeySequence(Qt::ALT | Qt::Key_U));
        for (qsizetype i = 1; i < actions.size(); ++i) {
            const std::string& name = HostileNames()[static_cast<std::size_t>(i - 1)];
            QString expected = FromCaption(name);
            expected.replace(QLatin1Char('\t'), QLatin1Char(' '));
            EXPECT_FALSE(actions[i]->isSeparator()) << name.substr(0, 80);
            EXPECT_TRUE(QKeySequence::mnemonic(actions[i]->text()).isEmpty()) << name.substr(0, 80);
            EXPECT_EQ(actions[i]->text().replace(QLatin1String("&&"), QLatin1String("&")), expected) << name.substr(0, 80);
        }
        m.close();
    };
    menu.Popup(100, 100);
    Desk().ui().onMenu = nullptr;
    EXPECT_TRUE(seen);
    app.DestroyComponent(owner);
}

// Esc on the questions that declare no cancel button changes nothing: the receive question and
// the chooser stay up; their close box still answers 2.
TEST_F(NetworkText, EscAnswersNoQuestionWithoutACancelButton) {
    TForm5& form5 = app.Create<TForm5>();
    TForm8& form8 = app.Create<TForm8>();
    auto key = [](QWidget& window, const char* name) {
        RunProgram(QStringLiteral("xdotool"), {"windowfocus", "--sync", QString::number(window.winId()), "key", name});
    };
    for (Form* form : std::initializer_list<Form*>{&form5, &form8}) {
        const int result = Show(*form, [&](QWidget& window) {
            key(window, "Escape");
            Pump(150);
            EXPECT_EQ(form->ModalResult(), mrNone) << form->Name();
            EXPECT_TRUE(window.isVisible());
            window.close();  // the close box
        });
        EXPECT_EQ(result, mrCancel) << form->Name();
    }
    app.DestroyComponent(form5);
    app.DestroyComponent(form8);
}

}  // namespace
}  // namespace zumelko::qttest
