#pragma once
// The clipboard transactions and the viewer chain the program expects, over a desktop clipboard
// that knows neither: writes made between OpenClipboard and CloseClipboard are staged and
// committed as one change at the close; while the program owns the clipboard, reading it back
// gives the very bytes and palette it wrote; handles given out by GetBitmap and GetPalette stay
// the clipboard's until the next change. A desktop's clipboard adds how a committed change
// reaches other programs and how another program's item is read.
#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clipboard.h"
#include "platform/qt/QtGdi.h"
#include "platform/qt/QtLoop.h"

namespace zumelko::platform::qt {

class StagedClipboard : public Clipboard {
public:
    StagedClipboard(QtLoop& loop, QtGdi& gdi) : loop_(loop), gdi_(gdi) {}
    StagedClipboard(const StagedClipboard&) = delete;
    StagedClipboard& operator=(const StagedClipboard&) = delete;

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

    // Change notices sent to the chain so far (tests).
    std::size_t NotificationCount() const { return notifications_; }

protected:
    struct Content {
        // ANSI bytes as written, without the terminating NUL. Shared, not copied, between the
        // staged and the owned content and, when they are UTF-8 already, with what other
        // programs are offered.
        std::optional<QByteArray> text;
        std::optional<QImage> bitmap;
        std::vector<PaletteEntry> palette;
        // Offered with the password manager's mark beside it.
        bool secret = false;
        bool Empty() const { return !text && !bitmap; }
    };

    // Makes the staged content the clipboard's and tells the chain, last: a viewer may open
    // the clipboard again meanwhile.
    virtual void Commit() = 0;
    // What another program put on the clipboard: whether it holds a format, its text in the
    // peers' code page (without a NUL), its picture (null when there is none).
    virtual bool OutsideHas(std::uint32_t format) = 0;
    virtual std::optional<std::string> OutsideText() = 0;
    virtual QImage OutsideImage() = 0;
    // Whether what another program put there carries the password manager's mark.
    virtual bool OutsideSecret() = 0;

    // The program's own content while it owns the clipboard (or is changing it), else null.
    const Content* Own() const;
    // Tells the head of the chain of one change: at once (sent) or through the loop (posted).
    void Notify(bool sent);
    void DropHandles();

    QtLoop& loop_;
    QtGdi& gdi_;
    Hwnd head_ = 0;
    bool open_ = false;
    Hwnd openOwner_ = 0;
    bool changed_ = false;
    Content staged_;
    std::optional<Content> owned_;
    std::vector<std::uintptr_t> handedOut_;
    Hbitmap bitmapHandle_ = 0;
    Hpalette paletteHandle_ = 0;
    std::size_t notifications_ = 0;
};

}  // namespace zumelko::platform::qt
