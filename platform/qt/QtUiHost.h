#pragma once
// Dialogs and menus on the Linux desktop: one renderer turns any form model into Qt widgets at
// the model's client size, places and fonts, and keeps widgets and models in step both ways
// while the form is shown: model changes reach the widgets, and what the user does reaches the
// models (combo text, radio selection, memo text, button presses, the close box, Enter and
// Esc). A modal form disables the forms under it, as modal windows do, but not the tray icon,
// which keeps answering while a dialog is up.
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/Form.h"
#include "framework/Menus.h"
#include "platform/UiHost.h"
#include "platform/qt/QtLoop.h"

class QMenu;

namespace zumelko::platform::qt {

// The font family standing in for a font name of the forms.
QString FamilyFor(const std::string& name);

class QtUiHost final : public UiHost {
public:
    explicit QtUiHost(QtLoop& loop);
    ~QtUiHost() override;
    QtUiHost(const QtUiHost&) = delete;
    QtUiHost& operator=(const QtUiHost&) = delete;

    int RunModal(Form& form) override;
    void ControlChanged(Form& form, Control& control) override;
    void TrackPopupMenu(PopupMenu& menu, int x, int y) override;
    void ShowException(const std::string& title, const std::string& message) override;
    std::string CaptionText(const std::string& ansi) override;
    const TextCodec& Texts() const override;
    Extent MeasureCaption(const Font& font, const std::string& caption, int width) override;
    // The primary screen's available area, less room for a window manager's frame.
    Extent LargestClientArea() override;

    // Told when a form has appeared on screen (tests and the demonstration take pictures).
    std::function<void(Form&, QWidget&)> onShown;
    // Told when a popup menu has appeared (tests pick an item).
    std::function<void(QMenu&)> onMenu;
    // The window of a form on screen, and the widget of one of its controls.
    QWidget* WindowOf(const Form& form) const;
    QWidget* WidgetOf(const Control& control) const;
    // Exceptions shown so far (their messages).
    const std::vector<std::string>& Exceptions() const { return exceptions_; }
    // Whether the standard error box is shown on screen (else only reported on stderr).
    void SetExceptionBoxes(bool on) { exceptionBoxes_ = on; }

    class Window;
    struct Rendered;

private:
    Rendered* Find(const Form& form) const;
    std::unique_ptr<Rendered> Render(Form& form);
    void Apply(Rendered& r, Control& control);
    void WarmUp();
    static constexpr int kWarmUpDelayMs = 500;

    QtLoop& loop_;
    std::vector<Rendered*> open_;
    std::vector<std::string> exceptions_;
    bool exceptionBoxes_ = true;
    bool rendered_ = false;
    std::unique_ptr<QWidget> warm_;  // the window of the warm-up, while it runs
    QList<QPointer<QWidget>> warmParts_;
    QObject context_;  // the warm-up turn is dropped with it
};

}  // namespace zumelko::platform::qt
