#pragma once
// The simulated clipboard: one holder at a time, text and bitmap formats whose handles it owns,
// and the viewer chain, told at every close after a change as the system tells it.
#include <cstddef>
#include <optional>
#include <set>
#include <string>

#include "platform/Clipboard.h"
#include "platform/sim/SimLoop.h"

namespace zumelko::platform::sim {

class SimGdi;

class SimClipboard final : public Clipboard {
public:
    SimClipboard(SimLoop& loop, SimGdi& gdi) : loop_(loop), gdi_(gdi) {}
    ~SimClipboard() override;
    SimClipboard(const SimClipboard&) = delete;
    SimClipboard& operator=(const SimClipboard&) = delete;

    bool OpenClipboard(Hwnd owner) override;
    bool CloseClipboard() override;
    bool EmptyClipboard() override;
    bool IsClipboardFormatAvailable(std::uint32_t format) override;
    std::optional<std::string> GetText() override;
    bool SetText(std::string_view bytesWithNul) override;
    Hbitmap GetBitmap() override;
    Hpalette GetPalette() override;
    bool SetBitmap(Hbitmap bitmap) override;
    bool SetPalette(Hpalette palette) override;
    bool IsMarkedSecret() override;
    bool MarkSecret() override;
    Hwnd SetClipboardViewer(Hwnd viewer) override;
    bool ChangeClipboardChain(Hwnd remove, Hwnd next) override;

    // Test hooks.
    // Another program opens the clipboard and keeps it (true) or closes it again (false).
    void HoldByAnotherProgram(bool held) { heldByOther_ = held; }
    // A window that stands for another program: a change it closes reaches the chain through
    // the loop, as another program's does, not while its CloseClipboard runs.
    void AddOtherProgram(Hwnd owner) { others_.insert(owner); }
    bool IsOpen() const { return open_; }
    // The window that opened the clipboard (0 while closed) and the one that emptied it last.
    Hwnd OpenedBy() const { return open_ ? openedBy_ : 0; }
    Hwnd Owner() const { return owner_; }
    // The head of the viewer chain.
    Hwnd Viewer() const { return head_; }
    // WM_DRAWCLIPBOARD_ messages sent to the head of the chain for changes (not counting the one
    // a joining viewer gets).
    std::size_t ChangeNotifications() const { return notifications_; }
    const std::optional<std::string>& TextBlock() const { return text_; }
    Hbitmap BitmapHandle() const { return bitmap_; }
    Hpalette PaletteHandle() const { return palette_; }

private:
    void Free(std::uintptr_t& handle);

    SimLoop& loop_;
    SimGdi& gdi_;
    bool open_ = false;
    bool heldByOther_ = false;
    bool changed_ = false;
    Hwnd openedBy_ = 0;
    Hwnd owner_ = 0;
    Hwnd head_ = 0;
    std::set<Hwnd> others_;
    std::size_t notifications_ = 0;
    std::optional<std::string> text_;
    Hbitmap bitmap_ = 0;
    Hpalette palette_ = 0;
    bool secret_ = false;
};

}  // namespace zumelko::platform::sim
