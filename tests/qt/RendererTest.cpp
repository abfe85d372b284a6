// The form renderer: a form model becomes a window of the model's client size, controls at
// their places in their fonts, Japanese shown as text; what the user does reaches the models and
// what the program changes reaches the widgets while the dialog is up.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>

#include "core/MainForm.h"
#include "dialogs/CustomDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "framework/Application.h"
#include "framework/Menus.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

// A settings-like dialog using every kind of control the program's forms use.
class SampleForm final : public Form {
public:
    explicit SampleForm(Component* owner) : Form(owner) {
        SetName("SampleForm");
        SetCaption("Zumelko");
        SetClientSize(417, 307);
        SetStayOnTop(true);
        auto& bevel = AddControl<Bevel>("Bevel1");
        bevel.SetBounds(8, 8, 401, 113);
        auto& label = AddControl<Label>("Label1");
        label.SetCaption("送信：");
        label.SetFont({"ＭＳ Ｐゴシック", 13, clBlack, false});
        label.SetBounds(16, 16, 40, 13);
        ok = &AddControl<Button>("OKBtn");
        ok->SetCaption("OK");
        ok->SetDefault(true);
        ok->SetModalResult(mrOk);
        ok->SetBounds(79, 270, 75, 25);
        ok->SetTabOrder(0);
        cancel = &AddControl<Button>("CancelBtn");
        cancel->SetCaption("ｷｬﾝｾﾙ");
        cancel->SetCancel(true);
        cancel->SetModalResult(mrCancel);
        cancel->SetBounds(167, 270, 75, 25);
        cancel->SetTabOrder(1);
        radio = &AddControl<RadioGroup>("RadioGroup1");
        radio->SetCaption("クリップボードチェッカー");
        radio->SetItems({"有 ： 転送先を毎回選択する", "有 ： デフォルトへ送信する", "チェックしない"});
        radio->SetBounds(64, 24, 260, 90);
        radio->SetTabOrder(2);
        radio->OnClick = ([this](Component*) { details->SetEnabled(radio->ItemIndex() == 1); });
        details = &AddControl<Button>("Button1");
        details->SetCaption("詳細");
        details->SetEnabled(false);
        details->SetBounds(268, 66, 49, 17);
        details->SetTabOrder(3);
        combo = &AddControl<ComboBox>("ComboBox1");
        combo->SetBounds(16, 130, 121, 20);
        combo->AddItem("PC01");
        combo->AddItem("PC02");
        combo->SetTabOrder(4);
        memo = &AddControl<Memo>("Memo1");
        memo->SetBounds(150, 130, 120, 60);
        memo->SetFont({"ＭＳ Ｐゴシック", 16, clBlack, false});
        memo->AddLine("");
        image = &AddControl<Image>("Image1");
        image->SetShowsProgramIcon(true);
        image->SetBounds(290, 130, 32, 32);
        pages = &AddControl<PageControl>("PageControl1");
        pages->SetBounds(16, 196, 200, 60);
        sheet1 = &AddControl<TabSheet>("TabSheet1", pages);
        sheet1->SetTabVisible(false);
        pages->AddPage(*sheet1);
        sheet2 = &AddControl<TabSheet>("TabSheet2", pages);
        sheet2->SetTabVisible(false);
        pages->AddPage(*sheet2);
        auto& onSheet = AddControl<Label>("OnSheet2", sheet2);
        onSheet.SetCaption("データを受信しました。");
        onSheet.SetBounds(4, 4, 150, 16);
        pages->SetActivePage(sheet2);
        auto& panel = AddControl<Panel>("Panel1");
        panel.SetBevels(BevelKind::Raised, BevelKind::Lowered);
        panel.SetBounds(240, 196, 160, 60);
        auto& colour = AddControl<Label>("Credit", &panel);
        colour.SetCaption("ﾊﾞｰｼﾞｮﾝ情報");
        colour.SetFont({"ＭＳ Ｐゴシック", 13, clMaroon, false});
        colour.SetBounds(8, 8, 100, 13);
    }
    Button* ok;
    Button* cancel;
    Button* details;
    RadioGroup* radio;
    ComboBox* combo;
    Memo* memo;
    Image* image;
    PageControl* pages;
    TabSheet* sheet1;
    TabSheet* sheet2;
};

template <typename W>
W* Widget(const std::string& name, Form& form) {
    return dynamic_cast<W*>(Desk().ui().WidgetOf(*form.FindControl(name)));
}

// Runs the form modally, with `act` run once it is on screen.
int Show(Form& form, std::function<void(QWidget&)> act) {
    Desk().ui().onShown = [act](Form&, QWidget& window) {
        QTimer::singleShot(50, &window, [act, &window] { act(window); });
    };
    const int result = form.ShowModal();
    Desk().ui().onShown = nullptr;
    return result;
}

class Renderer : public ::testing::Test {
protected:
    Application& app = App();
    SampleForm& form = app.Create<SampleForm>();
    void TearDown() override { app.DestroyComponent(form); }
};

TEST_F(Renderer, LaysTheFormOutAsModelledInItsFonts) {
    const int result = Show(form, [&](QWidget& window) {
        SaveShot(window, "renderer_sample");
        EXPECT_EQ(window.size(), QSize(417, 307));
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Zumelko"));
        EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
        auto* label = Widget<QLabel>("Label1", form);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QStringLiteral("送信："));
        EXPECT_EQ(label->pos(), QPoint(16, 16));
        EXPECT_EQ(label->font().pixelSize(), 13);
        const QString family = QFontInfo(label->font()).family();
        EXPECT_TRUE(family.contains(QStringLiteral("IPAPGothic")) || family.contains(QStringLiteral("IPA Pゴシック")))
            << family.toStdString();
        auto* group = Widget<QGroupBox>("RadioGroup1", form);
        ASSERT_NE(group, nullptr);
        EXPECT_EQ(group->geometry(), QRect(64, 24, 260, 90));
        const auto radios = group->findChildren<QRadioButton*>();
        ASSERT_EQ(radios.size(), 3);
        // The second item's row is where the designer put the small button beside it.
        const QRect second = radios[1]->geometry().translated(group->pos());
        EXPECT_LE(std::abs(second.center().y() - (66 + 17 / 2)), 6);
        for (const auto* w : window.findChildren<QWidget*>()) {
            QString text;
            if (auto* l = qobject_cast<const QLabel*>(w)) text = l->text();
            if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
            if (auto* g = qobject_cast<const QGroupBox*>(w)) text = g->title();
            EXPECT_TRUE(MissingGlyphs(*w, text).isEmpty()) << text.toStdString();
        }
        auto* tabs = Widget<QTabWidget>("PageControl1", form);
        EXPECT_FALSE(tabs->tabBar()->isVisible());
        EXPECT_EQ(tabs->currentWidget(), Desk().ui().WidgetOf(*form.sheet2));
        EXPECT_TRUE(Widget<QLabel>("OnSheet2", form)->isVisible());
        auto* credit = Widget<QLabel>("Credit", form);
        EXPECT_EQ(credit->palette().color(QPalette::WindowText), QColor(0x80, 0, 0));
        EXPECT_FALSE(Widget<QLabel>("Image1", form)->pixmap().isNull());
        // The first tab stop has the focus.
        EXPECT_EQ(QApplication::focusWidget(), Widget<QPushButton>("OKBtn", form));
        form.Close();
    });
    EXPECT_EQ(result, mrCancel);
}

TEST_F(Renderer, ModelsAndWidgetsFollowEachOther) {
    form.radio->SetItemIndex(2);
    std::string typed;
    Show(form, [&](QWidget&) {
        auto* details = Widget<QPushButton>("Button1", form);
        EXPECT_FALSE(details->isEnabled());
        // The user picks the second item: the model's handler enables the button beside it.
        auto radios = Widget<QGroupBox>("RadioGroup1", form)->findChildren<QRadioButton*>();
        EXPECT_TRUE(radios[2]->isChecked());
        radios[1]->click();
        EXPECT_EQ(form.radio->ItemIndex(), 1);
        EXPECT_TRUE(details->isEnabled());
        // The program selects: the widget follows.
        form.radio->SetItemIndex(0);
        EXPECT_TRUE(radios[0]->isChecked());
        EXPECT_FALSE(details->isEnabled());
        form.radio->SetItemIndex(-1);
        for (auto* r : radios) EXPECT_FALSE(r->isChecked());

        auto* combo = Widget<QComboBox>("ComboBox1", form);
        EXPECT_EQ(combo->count(), 2);
        combo->lineEdit()->setText(QStringLiteral("ﾎｽﾄ-3"));
        EXPECT_EQ(form.combo->Text(), "ﾎｽﾄ-3");
        form.combo->AddItem("PC03");
        EXPECT_EQ(combo->count(), 3);
        EXPECT_EQ(combo->currentText(), QStringLiteral("ﾎｽﾄ-3")) << "adding an item keeps the text";
        form.combo->Clear();
        EXPECT_EQ(combo->count(), 0);
        EXPECT_EQ(combo->currentText(), QString());

        auto* memo = Widget<QPlainTextEdit>("Memo1", form);
        form.memo->ClearLines();
        form.memo->AddLine("one\r\ntwo");
        EXPECT_EQ(memo->toPlainText(), QStringLiteral("one\ntwo\n"));
        memo->setPlainText(QStringLiteral("edited\nby hand"));
        typed = form.memo->Text();

        form.pages->SetActivePage(form.sheet1);
        EXPECT_EQ(Widget<QTabWidget>("PageControl1", form)->currentWidget(), Desk().ui().WidgetOf(*form.sheet1));
        form.details->SetCaption("more");
        EXPECT_EQ(details->text(), QStringLiteral("more"));
        form.details->SetVisible(false);
        EXPECT_FALSE(details->isVisible());
        Widget<QPushButton>("OKBtn", form)->click();
    });
    EXPECT_EQ(form.ModalResult(), mrOk);
    EXPECT_EQ(typed, "edited\r\nby hand\r\n");
}

TEST_F(Renderer, EnterEscapeAndTheCloseBoxAsTheUserPressesThem) {
    // Real key presses through the X server, as xdotool gives them on a display without a
    // window manager.
    auto key = [](QWidget& window, const char* name) {
        RunProgram(QStringLiteral("xdotool"), {"windowfocus", "--sync", QString::number(window.winId()), "key", name});
    };
    EXPECT_EQ(Show(form, [&](QWidget& w) { key(w, "Return"); }), mrOk);
    EXPECT_EQ(Show(form, [&](QWidget& w) { key(w, "Escape"); }), mrCancel);
    // Enter on a focused button presses that one.
    EXPECT_EQ(Show(form, [&](QWidget& w) {
                  Widget<QPushButton>("CancelBtn", form)->setFocus();
                  key(w, "Return");
              }),
              mrCancel);
    EXPECT_EQ(Show(form, [&](QWidget& w) { w.close(); }), mrCancel);
    // Without a cancel button Esc does nothing; the close box still gives 2.
    form.cancel->SetCancel(false);
    EXPECT_EQ(Show(form, [&](QWidget& w) {
                  key(w, "Escape");
                  Pump(100);
                  EXPECT_EQ(form.ModalResult(), mrNone);
                  w.close();
              }),
              mrCancel);
}

TEST_F(Renderer, NestedDialogsDisableTheOneBelowAndHandlersMayThrow) {
    SampleForm& inner = app.Create<SampleForm>();
    inner.SetName("Inner");
    bool outerDisabled = false;
    form.details->SetEnabled(true);
    form.details->OnClick = ([&](Component*) {
        Show(inner, [&](QWidget&) {
            outerDisabled = !Desk().ui().WindowOf(form)->isEnabled();
            Widget<QPushButton>("OKBtn", inner)->click();
        });
    });
    form.radio->OnClick = ([](Component*) -> void { throw std::runtime_error("handler failed"); });
    const auto before = Desk().ui().Exceptions().size();
    const int result = Show(form, [&](QWidget& window) {
        Widget<QPushButton>("Button1", form)->click();
        EXPECT_TRUE(outerDisabled);
        EXPECT_TRUE(window.isEnabled());
        // A throwing handler is reported; the dialog stays up.
        Widget<QGroupBox>("RadioGroup1", form)->findChildren<QRadioButton*>()[0]->click();
        EXPECT_EQ(Desk().ui().Exceptions().size(), before + 1);
        EXPECT_TRUE(window.isVisible());
        Widget<QPushButton>("OKBtn", form)->click();
    });
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(inner.ModalResult(), mrOk);
    app.DestroyComponent(inner);
}

TEST_F(Renderer, PopupMenusRunTheChosenItem) {
    PopupMenu& menu = form.Create<PopupMenu>();
    menu.SetName("PopupMenu2");
    std::vector<std::string> clicked;
    for (const char* caption : {"デフォルトへ転送(&T)", "設定(&C)", "-", "バージョン情報(&A)", "終了(&E)"}) {
        MenuItem& item = form.Create<MenuItem>();
        item.SetCaption(caption);
        item.OnClick = ([&clicked, &item](Component*) { clicked.push_back(item.Caption()); });
        menu.Add(item);
    }
    Desk().ui().onMenu = [](QMenu& m) {
        EXPECT_EQ(m.actions().size(), 5);
        EXPECT_TRUE(m.actions()[2]->isSeparator());
        SaveShot(m, "renderer_menu");
        // The user presses the accelerator of "設定(&C)".
        RunProgram(QStringLiteral("xdotool"), {"key", "c"});
    };
    menu.Popup(200, 150);
    Desk().ui().onMenu = nullptr;
    EXPECT_EQ(clicked, std::vector<std::string>{"設定(&C)"});
}

// The settings' encryption group as the user meets it: the passphrase typed with real key
// presses into a field that shows dots, strict mode chosen, every text in view.
TEST(SettingsDialog, ThePassphraseIsTypedIntoAMaskedFieldAndNeverShownBack) {
    Application& app = App();
    TForm4& settings = app.Create<TForm4>();
    settings.SetSecurity(true, false);
    const auto radios = [&](const char* group) {
        return Widget<QGroupBox>(group, settings)->findChildren<QRadioButton*>();
    };
    int result = Show(settings, [&](QWidget& window) {
        SaveShot(window, "settings_security");
        EXPECT_EQ(window.size(), QSize(417, 587));
        auto* field = Widget<QLineEdit>("Edit1", settings);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(field->isEnabled()) << "one is set: 使う";
        EXPECT_TRUE(radios("RadioGroup4")[1]->isChecked());
        EXPECT_TRUE(radios("RadioGroup5")[0]->isChecked());
        // The groups not set here show the initial settings: every group shows one value.
        for (const char* group : {"RadioGroup1", "RadioGroup2", "RadioGroup3", "RadioGroup4", "RadioGroup5"}) {
            const auto buttons = radios(group);
            EXPECT_EQ(std::count_if(buttons.begin(), buttons.end(), [](auto* b) { return b->isChecked(); }), 1) << group;
        }
        EXPECT_EQ(field->text(), QString());
        // Every text of the dialog is in its window and drawn with glyphs the font has.
        for (const auto* w : window.findChildren<QWidget*>()) {
            QString text;
            if (auto* l = qobject_cast<const QLabel*>(w)) text = l->text();
            if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
            if (auto* g = qobject_cast<const QGroupBox*>(w)) text = g->title();
            EXPECT_TRUE(MissingGlyphs(*w, text).isEmpty()) << text.toStdString();
            const QRect inWindow(w->mapTo(&window, QPoint(0, 0)), w->size());
            EXPECT_TRUE(QRect(QPoint(0, 0), window.size()).contains(inWindow)) << text.toStdString();
            if (!text.isEmpty() && qobject_cast<const QRadioButton*>(w) != nullptr) {
                EXPECT_LE(w->sizeHint().width(), w->width()) << text.toStdString();
            }
        }
        RunProgram(QStringLiteral("xdotool"), {"windowfocus", "--sync", QString::number(window.winId())});
        field->setFocus();
        Pump(50);
        RunProgram(QStringLiteral("xdotool"), {"type", "--delay", "5", "team words 42"});
        EXPECT_TRUE(PumpUntil([&] { return settings.Edit1->Text() == "team words 42"; }, 3000));
        EXPECT_EQ(settings.Edit1->Text(), "team words 42");
        EXPECT_NE(field->displayText(), field->text()) << "shown as dots";
        radios("RadioGroup5")[1]->click();
        Widget<QPushButton>("OKBtn", settings)->click();
    });
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(settings.RadioGroup5->ItemIndex(), 1);
    EXPECT_EQ(settings.TakePassphrase(), std::optional<std::string>("team words 42"));

    // Shown again: empty; "使わない" takes the field away.
    settings.SetSecurity(true, true);
    result = Show(settings, [&](QWidget&) {
        auto* field = Widget<QLineEdit>("Edit1", settings);
        EXPECT_EQ(field->text(), QString());
        radios("RadioGroup4")[0]->click();
        EXPECT_FALSE(field->isEnabled());
        EXPECT_TRUE(radios("RadioGroup5")[1]->isChecked());
        Widget<QPushButton>("OKBtn", settings)->click();
    });
    EXPECT_EQ(settings.TakePassphrase(), std::optional<std::string>(""));
    app.DestroyComponent(settings);
}

// The receive question's line about how the item came: plain text, in full view.
TEST(ReceiveQuestion, ShowsHowTheItemCameAsPlainTextInFullView) {
    Application& app = App();
    TForm5& receive = app.Create<TForm5>();
    receive.Label3->SetCaption("\"<b>PC</b>\" にいる \"alice\" から");
    for (const ItemSecurity& security : {ItemSecurity{true, "0123 4567 8901", true}, ItemSecurity{},
                                         ItemSecurity{true, "0123 4567 8901", true, KeyState::Changed}}) {
        receive.Label4->SetCaption(SecurityLine(security));
        Show(receive, [&](QWidget& window) {
            EXPECT_EQ(window.size(), QSize(465, 183));
            auto* line = Widget<QLabel>("Label4", receive);
            ASSERT_NE(line, nullptr);
            EXPECT_EQ(line->text().toStdString(), SecurityLine(security));
            EXPECT_EQ(line->textFormat(), Qt::PlainText);
            EXPECT_TRUE(MissingGlyphs(*line, line->text()).isEmpty());
            const QRect bevel = Widget<QWidget>("Bevel1", receive)->geometry();
            EXPECT_LE(line->geometry().left() + line->sizeHint().width(), bevel.right());
            EXPECT_LE(line->geometry().bottom(), bevel.bottom());
            EXPECT_LT(line->geometry().bottom(), Widget<QPushButton>("Button1", receive)->geometry().top());
            SaveShot(window, security.key         ? "receive_key_line"
                             : security.encrypted ? "receive_encrypted"
                                                  : "receive_plain");
            Widget<QPushButton>("Button2", receive)->click();
        });
    }
    app.DestroyComponent(receive);
}

}  // namespace
}  // namespace zumelko::qttest
