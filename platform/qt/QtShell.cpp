#include "platform/qt/QtShell.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

#include "platform/qt/Charset.h"
#include "platform/qt/PlainText.h"
#include "zumelko_icons.h"

namespace zumelko::platform::qt {

QPixmap ProgramPixmap() {
    QPixmap pixmap;
    for (const auto& image : icons::kImages)
        if (image.size == 32) pixmap.loadFromData(image.data, static_cast<uint>(image.length), "PNG");
    return pixmap;
}

QIcon ProgramIcon() {
    // Every size drawn for itself: the tray, the panel and the window list take the one they
    // show, at any display scale.
    QIcon icon;
    for (const auto& image : icons::kImages) {
        QPixmap pixmap;
        if (pixmap.loadFromData(image.data, static_cast<uint>(image.length), "PNG")) icon.addPixmap(pixmap);
    }
    return icon;
}

// The stand-in for the tray: the icon in a small window that stays above the others.
class QtShell::IconWindowImpl final : public QWidget {
public:
    explicit IconWindowImpl(QtShell& shell)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::WindowDoesNotAcceptFocus),
          shell_(shell) {
        setWindowTitle(QStringLiteral("Zumelko"));
        setObjectName(QStringLiteral("ZumelkoIconWindow"));
        setFixedSize(36, 36);
        setAttribute(Qt::WA_ShowWithoutActivating);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.right() - width() - 4, area.bottom() - height() - 4);
        }
    }
    void SetIcon(const QIcon& icon) {
        icon_ = icon;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().window());
        p.setPen(palette().dark().color());
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        icon_.paint(&p, QRect(2, 2, 32, 32));
    }
    void mousePressEvent(QMouseEvent* e) override { Button(e, WM_LBUTTONDOWN_, WM_RBUTTONDOWN_, WM_MBUTTONDOWN_); }
    void mouseReleaseEvent(QMouseEvent* e) override { Button(e, WM_LBUTTONUP_, WM_RBUTTONUP_, WM_MBUTTONUP_); }
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        Button(e, WM_LBUTTONDBLCLK_, WM_RBUTTONDBLCLK_, WM_MBUTTONDBLCLK_);
    }

private:
    void Button(QMouseEvent* e, std::uint32_t left, std::uint32_t right, std::uint32_t middle) {
        switch (e->button()) {
            case Qt::LeftButton: shell_.Click(left); break;
            case Qt::RightButton: shell_.Click(right); break;
            case Qt::MiddleButton: shell_.Click(middle); break;
            default: break;
        }
    }
    QtShell& shell_;
    QIcon icon_;
};

QtShell::QtShell(QtLoop& loop, bool forceIconWindow)
    : loop_(loop),
      forceIconWindow_(forceIconWindow),
      applicationWindow_(loop.CreateHiddenWindow([](std::uint32_t, WParam, LParam) { return LResult{0}; })) {}

QtShell::~QtShell() {
    tray_.reset();
    window_.reset();
    loop_.DestroyWindow(applicationWindow_);
}

QIcon QtShell::IconFor(Hicon icon) const {
    // The program has one icon of its own; anything else is shown as that one too.
    (void)icon;
    return ProgramIcon();
}

void QtShell::Click(std::uint32_t mouseMessage) {
    if (!shown_) return;
    loop_.PostMessage(data_.hWnd, data_.uCallbackMessage, data_.uID, static_cast<LParam>(mouseMessage));
}

void QtShell::Apply(const NotifyIconData& data) {
    std::string tip(data.szTip.data(), strnlen(data.szTip.data(), data.szTip.size()));
    const QString text = PlainToolTip(FromCaption(tip));
    if (tray_) {
        if (data.uFlags & NIF_ICON_) tray_->setIcon(IconFor(data.hIcon));
        if (data.uFlags & NIF_TIP_) tray_->setToolTip(text);
    }
    if (window_) {
        if (data.uFlags & NIF_ICON_) window_->SetIcon(IconFor(data.hIcon));
        if (data.uFlags & NIF_TIP_) window_->setToolTip(text);
    }
}

bool QtShell::ShellNotifyIcon(std::uint32_t operation, const NotifyIconData& data) {
    switch (operation) {
        case NIM_ADD_: {
            if (shown_) return false;
            data_ = data;
            if (!forceIconWindow_ && QSystemTrayIcon::isSystemTrayAvailable()) {
                tray_ = std::make_unique<QSystemTrayIcon>();
                QObject::connect(tray_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason r) {
                    switch (r) {
                        case QSystemTrayIcon::Trigger:
                            Click(WM_LBUTTONDOWN_);
                            Click(WM_LBUTTONUP_);
                            break;
                        case QSystemTrayIcon::Context:
                            Click(WM_RBUTTONDOWN_);
                            Click(WM_RBUTTONUP_);
                            break;
                        case QSystemTrayIcon::MiddleClick:
                            Click(WM_MBUTTONDOWN_);
                            Click(WM_MBUTTONUP_);
                            break;
                        case QSystemTrayIcon::DoubleClick:
                            Click(WM_LBUTTONDBLCLK_);
                            break;
                        default: break;
                    }
                });
                Apply(data);
                tray_->show();
            } else {
                window_ = std::make_unique<IconWindowImpl>(*this);
                Apply(data);
                window_->show();
            }
            shown_ = true;
            return true;
        }
        case NIM_MODIFY_:
            if (!shown_) return false;
            if (data.uFlags & NIF_ICON_) data_.hIcon = data.hIcon;
            if (data.uFlags & NIF_TIP_) data_.szTip = data.szTip;
            Apply(data);
            return true;
        case NIM_DELETE_:
            if (!shown_) return false;
            tray_.reset();
            window_.reset();
            shown_ = false;
            return true;
        default:
            return false;
    }
}

Point QtShell::GetCursorPos() {
    const QPoint p = QCursor::pos();
    return {p.x(), p.y()};
}

bool QtShell::SetForegroundWindow(Hwnd) { return true; }

bool QtShell::ShowWindow(Hwnd window, int command) {
    const bool was = applicationWindowVisible_;
    // The application window has no taskbar button of its own here; its state is only kept.
    if (window == applicationWindow_) applicationWindowVisible_ = command != SW_HIDE_;
    return was;
}

bool QtShell::MessageBeep(std::uint32_t) {
    ++beeps_;
    QApplication::beep();
    return true;
}

QWidget* QtShell::IconWindow() const { return window_.get(); }

}  // namespace zumelko::platform::qt
