#pragma once
// Makes the program a member of the clipboard viewer chain and raises OnChangeData at every
// change of the clipboard, whoever made it, the program's own writes included.
#include "framework/Component.h"
#include "framework/Controls.h"
#include "platform/WinTypes.h"

namespace zumelko {

class TClipboardViewer final : public Component {
public:
    // Joins the chain at once; changes are reported from then on.
    explicit TClipboardViewer(Component* owner);
    // Leaves the chain.
    ~TClipboardViewer() override;

    platform::Hwnd Handle() const { return handle_; }
    // The window after this one in the chain; 0 when this one is the last.
    platform::Hwnd NextViewer() const { return nextViewer_; }

    NotifyEvent OnChangeData;

private:
    platform::LResult WndProc(std::uint32_t message, platform::WParam w, platform::LParam l);
    void ReportChange();

    platform::Hwnd handle_ = 0;
    platform::Hwnd nextViewer_ = 0;
};

}  // namespace zumelko
