#include "platform/qt/QtUiHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "framework/Application.h"
#include "framework/Stream.h"
#include "platform/qt/Charset.h"
#include "platform/qt/PlainText.h"
#include "platform/qt/QtShell.h"

namespace zumelko::platform::qt {

namespace {

// What the user types is kept as UTF-8, which this desktop reads as itself: the names typed
// here go to the resolver, which takes UTF-8.
std::string Typed(const QString& text) { return text.toUtf8().toStdString(); }

// Runs a handler of the program from a Qt slot: nothing may be thrown through Qt, so what
// escapes is shown in the application's standard error box, and the program carries on.
template <typename F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        App().HandleException(nullptr, e);
    } catch (...) {
        App().HandleException(nullptr, std::runtime_error("unknown exception"));
    }
}

QFont FontOf(const Font& font) {
    QFont f;
    f.setFamilies({FamilyFor(font.name), QString::fromUtf8(font.name.c_str())});
    f.setPixelSize(std::max(1, font.sizePx));
    f.setBold(font.bold);
    // The dialogs are laid out in pixels for crisp bitmap-like text: no hinting surprises.
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

void ApplyFont(QWidget& w, const Font& font) {
    w.setFont(FontOf(font));
    QPalette p = w.palette();
    const QColor c(static_cast<int>((font.color >> 16) & 0xFF), static_cast<int>((font.color >> 8) & 0xFF),
                   static_cast<int>(font.color & 0xFF));
    // Disabled controls keep the style's greyed text.
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::WindowText, c);
        p.setColor(group, QPalette::ButtonText, c);
        p.setColor(group, QPalette::Text, c);
    }
    w.setPalette(p);
}

QString LinesToText(const StringList& lines) {
    QString s;
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        if (i > 0) s += QLatin1Char('\n');
        s += FromCaption(lines[i]);
    }
    if (lines.Count() > 0) s += QLatin1Char('\n');
    return s;
}

QPixmap PictureOf(const Graphic& graphic) {
    if (graphic.Empty()) return {};
    MemoryStream stream;
    graphic.WriteToStream(stream);
    QImage image;
    image.loadFromData(stream.Data(), static_cast<int>(stream.Size()), "BMP");
    return QPixmap::fromImage(std::move(image));
}

// A caption as a label with WordWrap shows it: each of its lines broken to the width after a
// blank where the line has one, anywhere within a word wider alone (QLabel's own wrapping
// lets such a word run out of the label). Only line breaks are added.
QString BrokenToWidth(const QString& text, const QFont& font, int width) {
    QString out;
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (qsizetype p = 0; p < paragraphs.size(); ++p) {
        if (p > 0) out += QLatin1Char('\n');
        const QString& paragraph = paragraphs[p];
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        bool first = true;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(std::max(1, width));
            if (!first) out += QLatin1Char('\n');
            out += paragraph.mid(line.textStart(), line.textLength());
            first = false;
        }
        layout.endLayout();
    }
    return out;
}

// What a label shows of its caption.
QString LabelText(const Label& label, const QFont& font) {
    const QString caption = FromCaption(label.Caption());
    return label.WordWrap() ? BrokenToWidth(caption, font, label.Bounds().width) : caption;
}

// Where the buttons of a radio group sit: the rows share the height below the caption evenly,
// so controls placed beside the group line up with its items.
QRect RadioRect(const QGroupBox& box, int index, int count) {
    const int th = box.fontMetrics().height();
    const int avail = std::max(0, box.height() - th - 5);
    const int rowHeight = count > 0 ? avail / count : 0;
    const int top = th + 1 + (count > 0 ? (avail % count) / 2 : 0);
    return {8, top + index * rowHeight, std::max(0, box.width() - 10), rowHeight};
}

// Arrow keys move the selection within a radio group, round the ends, as they do in dialogs;
// Tab reaches only the selected item (the others take the focus by mouse alone).
class RadioKeys final : public QObject {
public:
    explicit RadioKeys(QGroupBox& box) : QObject(&box), box_(box) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        int step = 0;
        if (key == Qt::Key_Up || key == Qt::Key_Left) step = -1;
        if (key == Qt::Key_Down || key == Qt::Key_Right) step = 1;
        if (step == 0) return false;
        const auto radios = box_.findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
        const auto at = radios.indexOf(qobject_cast<QRadioButton*>(watched));
        if (at < 0 || radios.isEmpty()) return false;
        for (qsizetype n = 1; n <= radios.size(); ++n) {
            QRadioButton* next = radios[(at + step * n + radios.size() * n) % radios.size()];
            if (next->isEnabled() && next->isVisible()) {
                next->setFocus(Qt::TabFocusReason);
                if (!next->isChecked()) next->click();
                break;
            }
        }
        return true;
    }

private:
    QGroupBox& box_;
};

void TabFocusOnSelected(QGroupBox& box) {
    const auto radios = box.findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    qsizetype selected = 0;
    for (qsizetype i = 0; i < radios.size(); ++i)
        if (radios[i]->isChecked()) selected = i;
    for (qsizetype i = 0; i < radios.size(); ++i)
        radios[i]->setFocusPolicy(i == selected ? Qt::StrongFocus : Qt::ClickFocus);
}

}  // namespace

QString FamilyFor(const std::string& name) {
    if (name == "ＭＳ Ｐゴシック" || name == "MS PGothic") return QStringLiteral("IPAPGothic");
    if (name == "ＭＳ ゴシック" || name == "MS Gothic") return QStringLiteral("IPAGothic");
    if (name == "ＭＳ Ｐ明朝" || name == "MS PMincho") return QStringLiteral("IPAPMincho");
    if (name == "ＭＳ 明朝" || name == "MS Mincho") return QStringLiteral("IPAMincho");
    return QString::fromUtf8(name.c_str());
}

// The top-level window of a form: the close box closes the form (result 2), Enter presses the
// default button (or the focused one), Esc the cancel button; on a form without one Esc does
// nothing (QDialog would reject it, which would answer a question with one stray key).
class QtUiHost::Window final : public QWidget {
public:
    explicit Window(Form& form) : form_(form) {}

protected:
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        if (isEnabled()) form_.Close();
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
            if (focused != nullptr && isAncestorOf(focused)) {
                focused->click();
            } else if (Button* b = form_.DefaultButton()) {
                Guarded([b] { b->Click(); });
            }
            return;
        }
        if (e->key() == Qt::Key_Escape) {
            Guarded([this] { form_.PressEscape(); });
            return;
        }
        QWidget::keyPressEvent(e);
    }

private:
    Form& form_;
};

struct QtUiHost::Rendered {
    Form* form = nullptr;
    std::unique_ptr<Window> window;
    std::map<const Control*, QPointer<QWidget>> widgets;
    // The control whose change came from its own widget: the widget already shows it.
    const Control* echo = nullptr;
};

QtUiHost::QtUiHost(QtLoop& loop) : loop_(loop) {
    // Soon after the start, not during it: the icon comes first.
    QTimer::singleShot(kWarmUpDelayMs, &context_, [this] { WarmUp(); });
}

// The first dialog of a run costs several times what the later ones do: the style's first
// use, the dialog fonts and their glyphs, the first native window with its backing store. That
// is paid soon after the start with a window that never shows, a part per idle turn so that no
// turn holds the loop long, and the first item to arrive is asked about as quickly as the
// later ones.
void QtUiHost::WarmUp() {
    if (rendered_) {  // a dialog came first and paid it
        warm_.reset();
        return;
    }
    if (!warm_) {
        warm_ = std::make_unique<QWidget>();
        QWidget& window = *warm_;
        window.setAttribute(Qt::WA_DontShowOnScreen);
        window.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        window.setWindowIcon(ProgramIcon());
        ApplyFont(window, Font{});
        window.setFixedSize(465, 159);
        auto* frame = new QFrame(&window);
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        frame->setGeometry(8, 8, 449, 105);
        for (const bool bold : {false, true}) {
            auto* label = new QLabel(&window);
            Font font;
            font.sizePx = 16;
            font.bold = bold;
            ApplyFont(*label, font);
            label->setTextFormat(Qt::PlainText);
            label->setText(QStringLiteral("\"Zumelko\" にいる \"ｸﾘｯﾌﾟﾎﾞｰﾄﾞ\" から 0123456789 ABCxyz"));
            label->setGeometry(24, bold ? 46 : 16, 420, 20);
        }
        auto* button = new QPushButton(QStringLiteral("YES NO プレビュー"), &window);
        button->setGeometry(16, 124, 100, 25);
        window.ensurePolished();
        (void)window.winId();
        for (QWidget* part : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) warmParts_.push_back(part);
    } else if (!warmParts_.isEmpty()) {
        if (QWidget* part = warmParts_.takeFirst()) (void)part->grab();
    } else {
        (void)warm_->grab();
        warm_.reset();
        return;
    }
    QTimer::singleShot(0, &context_, [this] { WarmUp(); });
}
QtUiHost::~QtUiHost() = default;

QtUiHost::Rendered* QtUiHost::Find(const Form& form) const {
    for (Rendered* r : open_)
        if (r->form == &form) return r;
    return nullptr;
}

QWidget* QtUiHost::WindowOf(const Form& form) const {
    const Rendered* r = Find(form);
    return r == nullptr ? nullptr : r->window.get();
}

QWidget* QtUiHost::WidgetOf(const Control& control) const {
    const Rendered* r = Find(control.OwnerForm());
    if (r == nullptr) return nullptr;
    auto it = r->widgets.find(&control);
    return it == r->widgets.end() ? nullptr : it->second.data();
}

std::unique_ptr<QtUiHost::Rendered> QtUiHost::Render(Form& form) {
    rendered_ = true;
    auto r = std::make_unique<Rendered>();
    r->form = &form;
    r->window = std::make_unique<Window>(form);
    Window& w = *r->window;
    Qt::WindowFlags flags = Qt::Dialog;
    if (form.Border() == BorderStyle::None) {
        flags |= Qt::FramelessWindowHint;
    } else {
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    }
    if (form.StayOnTop()) flags |= Qt::WindowStaysOnTopHint;
    w.setWindowFlags(flags);
    w.setWindowTitle(PlainWindowTitle(FromCaption(form.Caption())));
    w.setObjectName(QString::fromUtf8(form.Name().c_str()));
    w.setWindowIcon(ProgramIcon());
    ApplyFont(w, form.GetFont());
    w.setFixedSize(form.ClientWidth(), form.ClientHeight());

    Rendered& rr = *r;
    for (Control* c : form.Controls()) {
        QWidget* parent = &w;
        if (Control* p = c->Parent()) {
            auto it = rr.widgets.find(p);
            if (it != rr.widgets.end() && it->second) parent = it->second.data();
        }
        QWidget* widget = nullptr;
        if (dynamic_cast<Label*>(c) != nullptr) {
            auto* l = new QLabel(parent);
            // Captions carry names from the network: never guessed to be markup.
            l->setTextFormat(Qt::PlainText);
            l->setTextInteractionFlags(Qt::NoTextInteraction);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = l;
        } else if (auto* button = dynamic_cast<Button*>(c)) {
            auto* b = new QPushButton(parent);
            b->setAutoDefault(false);
            b->setDefault(button->Default());
            QObject::connect(b, &QPushButton::clicked, b, [button] { Guarded([button] { button->Click(); }); });
            widget = b;
        } else if (dynamic_cast<RadioGroup*>(c) != nullptr) {
            auto* box = new QGroupBox(parent);
            box->setFocusPolicy(Qt::NoFocus);
            new RadioKeys(*box);
            widget = box;
        } else if (auto* combo = dynamic_cast<ComboBox*>(c)) {
            auto* b = new QComboBox(parent);
            b->setEditable(true);
            b->setInsertPolicy(QComboBox::NoInsert);
            QObject::connect(b, &QComboBox::editTextChanged, b, [this, &rr, combo](const QString& text) {
                if (rr.echo == combo) return;
                rr.echo = combo;
                Guarded([&] { combo->SetText(Typed(text)); });
                rr.echo = nullptr;
            });
            widget = b;
        } else if (auto* edit = dynamic_cast<Edit*>(c)) {
            auto* e = new QLineEdit(parent);
            QObject::connect(e, &QLineEdit::textEdited, e, [&rr, edit](const QString& text) {
                if (rr.echo == edit) return;
                rr.echo = edit;
                Guarded([&] { edit->SetText(Typed(text)); });
                rr.echo = nullptr;
            });
            widget = e;
        } else if (auto* memo = dynamic_cast<Memo*>(c)) {
            auto* m = new QPlainTextEdit(parent);
            m->setLineWrapMode(QPlainTextEdit::NoWrap);
            QObject::connect(m, &QPlainTextEdit::textChanged, m, [&rr, memo, m] {
                if (rr.echo == memo) return;
                rr.echo = memo;
                QString text = m->toPlainText();
                text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
                Guarded([&] { memo->SetText(Typed(text)); });
                rr.echo = nullptr;
            });
            widget = m;
        } else if (dynamic_cast<Image*>(c) != nullptr) {
            auto* l = new QLabel(parent);
            l->setTextFormat(Qt::PlainText);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = l;
        } else if (dynamic_cast<PageControl*>(c) != nullptr) {
            widget = new QTabWidget(parent);
        } else if (auto* sheet = dynamic_cast<TabSheet*>(c)) {
            auto* page = new QWidget();
            if (auto* tabs = qobject_cast<QTabWidget*>(parent)) {
                tabs->addTab(page, FromCaption(sheet->Caption()));
            } else {
                page->setParent(parent);
            }
            widget = page;
        } else if (auto* bevel = dynamic_cast<Bevel*>(c)) {
            auto* f = new QFrame(parent);
            f->setFrameShape(QFrame::Box);
            f->setFrameShadow(bevel->Style() == BevelStyle::Raised ? QFrame::Raised : QFrame::Sunken);
            f->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget = f;
        } else if (auto* panel = dynamic_cast<Panel*>(c)) {
            auto* f = new QFrame(parent);
            f->setFrameShape(QFrame::Panel);
            const BevelKind outer = panel->BevelOuter();
            f->setFrameShadow(outer == BevelKind::Lowered ? QFrame::Sunken : QFrame::Raised);
            f->setLineWidth(panel->BevelInner() != BevelKind::None && outer != BevelKind::None ? 2 : 1);
            widget = f;
        } else {
            continue;
        }
        widget->setObjectName(QString::fromUtf8(c->Name().c_str()));
        if (!c->TabStop() || qobject_cast<QGroupBox*>(widget) != nullptr) widget->setFocusPolicy(Qt::NoFocus);
        rr.widgets[c] = widget;
        Apply(rr, *c);
    }
    // Page controls show their active page once their pages exist.
    for (Control* c : form.Controls())
        if (dynamic_cast<PageControl*>(c) != nullptr) Apply(rr, *c);
    // Bevels are drawn beneath the controls they frame.
    for (Control* c : form.Controls())
        if (dynamic_cast<Bevel*>(c) != nullptr && rr.widgets[c]) rr.widgets[c]->lower();

    // Tab order: the tab stops in their order, those without one after them in declaration order.
    std::vector<Control*> stops;
    for (Control* c : form.Controls())
        if (c->TabStop() && rr.widgets.count(c)) stops.push_back(c);
    std::stable_sort(stops.begin(), stops.end(), [](const Control* a, const Control* b) {
        const int ta = a->TabOrder() < 0 ? 1 << 20 : a->TabOrder();
        const int tb = b->TabOrder() < 0 ? 1 << 20 : b->TabOrder();
        return ta < tb;
    });
    std::vector<QWidget*> chain;
    for (Control* c : stops) {
        QWidget* widget = rr.widgets[c];
        if (auto* box = qobject_cast<QGroupBox*>(widget)) {
            for (auto* radio : box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) chain.push_back(radio);
        } else {
            chain.push_back(widget);
        }
    }
    for (std::size_t i = 1; i < chain.size(); ++i) QWidget::setTabOrder(chain[i - 1], chain[i]);
    for (Control* c : stops) {
        QWidget* widget = rr.widgets[c];
        if (c->Enabled() && c->Visible()) {
            if (auto* box = qobject_cast<QGroupBox*>(widget)) {
                // A radio group takes the focus on its selected item.
                for (auto* radio : box->findChildren<QRadioButton*>())
                    if (radio->isChecked()) widget = radio;
            }
            widget->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
    return r;
}

void QtUiHost::Apply(Rendered& r, Control& c) {
    auto it = r.widgets.find(&c);
    if (it == r.widgets.end() || !it->second) return;
    QWidget& widget = *it->second;
    const QString caption = FromCaption(c.Caption());
    const Rect& b = c.Bounds();
    if (dynamic_cast<TabSheet*>(&c) == nullptr) widget.setGeometry(b.left, b.top, b.width, b.height);
    ApplyFont(widget, c.GetFont());
    widget.setEnabled(c.Enabled());
    if (dynamic_cast<TabSheet*>(&c) == nullptr) widget.setVisible(c.Visible());

    if (auto* label = dynamic_cast<Label*>(&c)) {
        auto* l = static_cast<QLabel*>(&widget);
        l->setText(LabelText(*label, l->font()));
        if (label->AutoSize()) {
            // Sizes itself to its text from where it stands; a wrapped one keeps its width.
            const QSize hint = l->sizeHint();
            l->resize(label->WordWrap() ? b.width : hint.width(), hint.height());
        }
    } else if (dynamic_cast<Button*>(&c) != nullptr) {
        static_cast<QPushButton*>(&widget)->setText(caption);
    } else if (auto* group = dynamic_cast<RadioGroup*>(&c)) {
        auto* box = static_cast<QGroupBox*>(&widget);
        box->setTitle(caption);
        auto radios = box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
        const auto& items = group->Items();
        if (radios.size() != static_cast<qsizetype>(items.size())) {
            qDeleteAll(radios);
            radios.clear();
            for (std::size_t i = 0; i < items.size(); ++i) {
                auto* radio = new QRadioButton(box);
                radio->setObjectName(QStringLiteral("%1_%2").arg(widget.objectName()).arg(i));
                const int index = static_cast<int>(i);
                QObject::connect(radio, &QRadioButton::toggled, radio, [&r, group, index, box](bool on) {
                    if (!on || r.echo == group) return;
                    r.echo = group;
                    Guarded([&] { group->SetItemIndex(index); });
                    r.echo = nullptr;
                    TabFocusOnSelected(*box);
                });
                if (auto* keys = box->findChild<RadioKeys*>()) radio->installEventFilter(keys);
                radio->show();
                radios.push_back(radio);
            }
        }
        for (qsizetype i = 0; i < radios.size(); ++i) {
            QRadioButton* radio = radios[i];
            radio->setText(FromCaption(items[static_cast<std::size_t>(i)]));
            radio->setFont(box->font());
            radio->setGeometry(RadioRect(*box, static_cast<int>(i), static_cast<int>(radios.size())));
            if (r.echo != group) {
                // Nothing selected must be possible too, which exclusive buttons do not allow.
                radio->setAutoExclusive(false);
                const QSignalBlocker block(radio);
                radio->setChecked(i == group->ItemIndex());
                radio->setAutoExclusive(true);
            }
        }
        TabFocusOnSelected(*box);
    } else if (auto* combo = dynamic_cast<ComboBox*>(&c)) {
        if (r.echo == combo) return;
        auto* box = static_cast<QComboBox*>(&widget);
        const QSignalBlocker block(box);
        QStringList items;
        for (const auto& item : combo->Items()) items << FromCaption(item);
        QStringList current;
        for (int i = 0; i < box->count(); ++i) current << box->itemText(i);
        if (items != current) {
            box->clear();
            box->addItems(items);
        }
        const QString text = FromCaption(combo->Text());
        if (box->currentText() != text) box->setEditText(text);
    } else if (auto* field = dynamic_cast<Edit*>(&c)) {
        if (r.echo == field) return;
        auto* e = static_cast<QLineEdit*>(&widget);
        const QSignalBlocker block(e);
        e->setEchoMode(field->Password() ? QLineEdit::Password : QLineEdit::Normal);
        const QString text = QString::fromUtf8(field->Text());
        if (e->text() != text) e->setText(text);
    } else if (auto* memo = dynamic_cast<Memo*>(&c)) {
        if (r.echo == memo) return;
        auto* edit = static_cast<QPlainTextEdit*>(&widget);
        const QSignalBlocker block(edit);
        const QString text = LinesToText(memo->Lines());
        if (edit->toPlainText() != text) edit->setPlainText(text);
    } else if (auto* image = dynamic_cast<Image*>(&c)) {
        auto* l = static_cast<QLabel*>(&widget);
        l->setScaledContents(image->Stretch());
        if (image->ShowsProgramIcon()) {
            l->setPixmap(ProgramPixmap());
        } else if (image->Picture()) {
            l->setPixmap(PictureOf(*image->Picture()));
        } else {
            l->clear();
        }
    } else if (auto* pages = dynamic_cast<PageControl*>(&c)) {
        auto* tabs = static_cast<QTabWidget*>(&widget);
        bool anyTab = false;
        for (TabSheet* sheet : pages->Pages()) anyTab = anyTab || sheet->TabVisible();
        tabs->tabBar()->setVisible(anyTab);
        if (TabSheet* active = pages->ActivePage()) {
            auto at = r.widgets.find(active);
            if (at != r.widgets.end() && at->second) tabs->setCurrentWidget(at->second);
        }
    } else if (auto* sheet = dynamic_cast<TabSheet*>(&c)) {
        if (auto* tabs = qobject_cast<QTabWidget*>(widget.parentWidget() ? widget.parentWidget()->parentWidget() : nullptr)) {
            const int index = tabs->indexOf(&widget);
            if (index >= 0) {
                tabs->setTabText(index, caption);
                tabs->setTabVisible(index, sheet->TabVisible() || !tabs->tabBar()->isVisible());
            }
        }
    }
}

int QtUiHost::RunModal(Form& form) {
    std::unique_ptr<Rendered> rendered = Render(form);
    Window& window = *rendered->window;
    // The forms under a modal one wait for it, as they do everywhere.
    // Each keeps the control that had its focus, to have it again when it comes back.
    std::vector<std::pair<QPointer<QWidget>, QPointer<QWidget>>> disabled;
    for (Rendered* r : open_) {
        if (r->window->isEnabled()) {
            disabled.emplace_back(r->window.get(), r->window->focusWidget());
            r->window->setEnabled(false);
        }
    }
    open_.push_back(rendered.get());

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window.move(area.center() - QPoint(form.ClientWidth() / 2, form.ClientHeight() / 2));
    }
    QWidget* focus = window.focusWidget();
    window.show();
    window.raise();
    window.activateWindow();
    if (focus != nullptr) focus->setFocus(Qt::OtherFocusReason);
    if (onShown) onShown(form, window);

    loop_.RunUntil([&form] { return form.ModalResult() != mrNone; });
    if (form.ModalResult() == mrNone) form.Close();  // the program is quitting

    window.hide();
    open_.erase(std::find(open_.begin(), open_.end(), rendered.get()));
    rendered.reset();
    for (auto& [w, had] : disabled) {
        QWidget* outer = w.data();
        if (outer == nullptr) continue;
        outer->setEnabled(true);
        QWidget* restore = had.data();
        if (restore != nullptr && restore->isEnabled()) restore->setFocus(Qt::OtherFocusReason);
    }
    if (!open_.empty()) {
        open_.back()->window->raise();
        open_.back()->window->activateWindow();
    }
    return form.ModalResult();
}

void QtUiHost::ControlChanged(Form& form, Control& control) {
    Rendered* r = Find(form);
    if (r == nullptr || r->echo == &control) return;
    Apply(*r, control);
    // A page control's pages follow it (the active page decides what is seen).
    if (auto* pages = dynamic_cast<PageControl*>(&control)) {
        for (TabSheet* sheet : pages->Pages()) Apply(*r, *sheet);
    }
}

void QtUiHost::TrackPopupMenu(PopupMenu& menu, int x, int y) {
    QMenu qmenu;
    qmenu.setObjectName(QString::fromUtf8(menu.Name().c_str()));
    if (menu.Count() > 0) qmenu.setFont(FontOf(Font{}));
    std::map<QAction*, MenuItem*> actions;
    for (std::size_t i = 0; i < menu.Count(); ++i) {
        MenuItem& item = menu.Item(i);
        if (item.IsSeparator()) {
            qmenu.addSeparator();
        } else {
            actions[qmenu.addAction(MenuText(FromCaption(item.Caption()), item.LiteralCaption()))] = &item;
        }
    }
    if (onMenu) QObject::connect(&qmenu, &QMenu::aboutToShow, &qmenu, [this, &qmenu] {
        QMetaObject::invokeMethod(&qmenu, [this, &qmenu] { onMenu(qmenu); }, Qt::QueuedConnection);
    });
    QAction* chosen = qmenu.exec(QPoint(x, y));
    if (chosen == nullptr) return;
    auto it = actions.find(chosen);
    if (it != actions.end()) {
        MenuItem* item = it->second;
        Guarded([item] { item->Click(); });
    }
}

void QtUiHost::ShowException(const std::string& title, const std::string& message) {
    exceptions_.push_back(message);
    std::fprintf(stderr, "[%s] %s\n", title.c_str(), message.c_str());
    if (!exceptionBoxes_) return;
    QMessageBox box(QMessageBox::Critical, PlainWindowTitle(FromCaption(title)), FromCaption(message), QMessageBox::Ok);
    // The message may quote what came from the network.
    box.setTextFormat(Qt::PlainText);
    box.setFont(FontOf(Font{}));
    box.exec();
}

std::string QtUiHost::CaptionText(const std::string& ansi) { return ValidUtf8(ansi); }

const TextCodec& QtUiHost::Texts() const { return QtTexts(); }

Extent QtUiHost::MeasureCaption(const Font& font, const std::string& caption, int width) {
    // Measured as a label of that font shows the text and sizes itself to it.
    QLabel label;
    label.setTextFormat(Qt::PlainText);
    label.setFont(FontOf(font));
    const QString text = FromCaption(caption);
    label.setText(width > 0 ? BrokenToWidth(text, label.font(), width) : text);
    const QSize hint = label.sizeHint();
    return {hint.width(), hint.height()};
}

Extent QtUiHost::LargestClientArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return {1024, 768};
    const QRect area = screen->availableGeometry();
    constexpr int kFrameWidth = 16;
    constexpr int kFrameHeight = 48;
    return {std::max(1, area.width() - kFrameWidth), std::max(1, area.height() - kFrameHeight)};
}

}  // namespace zumelko::platform::qt
