#include "desktop/ClipboardViewer.h"

#include <exception>

#include "framework/Application.h"
#include "platform/Desktop.h"

namespace zumelko {

TClipboardViewer::TClipboardViewer(Component* owner) : Component(owner) {
    auto& desktop = platform::Current();
    handle_ = desktop.loop().CreateHiddenWindow(
        [this](std::uint32_t message, platform::WParam w, platform::LParam l) { return WndProc(message, w, l); });
    // The system greets a joining viewer with a change notification; no handler can be attached
    // yet, so what the clipboard holds at start-up is never reported.
    nextViewer_ = desktop.clipboard().SetClipboardViewer(handle_);
}

TClipboardViewer::~TClipboardViewer() {
    auto& desktop = platform::Current();
    desktop.clipboard().ChangeClipboardChain(handle_, nextViewer_);
    desktop.loop().DestroyWindow(handle_);
}

platform::LResult TClipboardViewer::WndProc(std::uint32_t message, platform::WParam w, platform::LParam l) {
    auto& loop = platform::Current().loop();
    switch (message) {
    case platform::WM_DRAWCLIPBOARD_:
        // The rest of the chain hears of the change before this program acts on it.
        loop.SendMessage(nextViewer_, message, w, l);
        ReportChange();
        return 0;
    case platform::WM_CHANGECBCHAIN_:
        loop.SendMessage(nextViewer_, message, w, l);
        // A chain that would lead back to this window ends here instead of going round forever.
        if (w == nextViewer_) nextViewer_ = static_cast<platform::Hwnd>(l) == handle_ ? 0 : static_cast<platform::Hwnd>(l);
        return 0;
    default:
        return 0;
    }
}

void TClipboardViewer::ReportChange() {
    // A failing handler is reported like any other escaped exception and the program goes on:
    // the watcher stays in the chain and reports the next change.
    try {
        OnChangeData(this);
    } catch (const std::exception& e) {
        if (Application* app = CurrentApplication())
            app->HandleException(this, e);
        else
            platform::Current().ui().ShowException("", e.what());
    }
}

}  // namespace zumelko
