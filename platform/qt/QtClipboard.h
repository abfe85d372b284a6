#pragma once
// The X11 clipboard through Qt, with the transactions and the viewer chain the program expects:
// writes made between OpenClipboard and CloseClipboard are staged and committed as one change
// at the close, and the head of the viewer chain is told of exactly one change per committed
// transaction, whoever made it. Qt reports the program's own writes by itself (and stays silent
// when an empty clipboard is cleared); those reports are swallowed and the transaction's own
// notice is sent at the close instead, so the count never depends on what Qt happens to emit.
// Changes by other programs come from Qt's loop and are posted.
#include <QByteArray>
#include <QImage>
#include <QMetaObject>
#include <QMimeData>
#include <QPointer>

#include <future>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "platform/Clipboard.h"
#include "platform/qt/QtGdi.h"
#include "platform/qt/QtLoop.h"

class QClipboard;

namespace zumelko::platform::qt {

class QtClipboard final : public Clipboard {
public:
    QtClipboard(QtLoop& loop, QtGdi& gdi);
    ~QtClipboard() override;
    QtClipboard(const QtClipboard&) = delete;
    QtClipboard& operator=(const QtClipboard&) = delete;

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
    Hwnd SetClipboardViewer(Hwnd viewer) override;
    bool ChangeClipboardChain(Hwnd remove, Hwnd next) override;

    // Change notices sent to the chain so far (tests).
    std::size_t NotificationCount() const { return notifications_; }

private:
    // What the program put on the clipboard, kept while it owns the clipboard so that reading
    // it back gives the very bytes and palette that were written.
    struct Content {
        // ANSI bytes as written, without the terminating NUL. Shared, not copied, between the
        // staged and the owned content and, when they are UTF-8 already, with what other
        // programs are offered.
        std::optional<QByteArray> text;
        std::optional<QImage> bitmap;
        std::vector<PaletteEntry> palette;
        bool Empty() const { return !text && !bitmap; }
    };

    void Commit();
    // The PNG form of a picture, made on a thread of its own.
    std::shared_future<QByteArray> EncodePng(const QImage& image);
    void OutsideChange();
    bool SameText(const QMimeData& data) const;
    void Notify(bool sent);
    const Content* Own() const;
    void DropHandles();

    QtLoop& loop_;
    QtGdi& gdi_;
    QClipboard* clipboard_;
    QMetaObject::Connection connection_;
    Hwnd head_ = 0;
    bool open_ = false;
    Hwnd openOwner_ = 0;
    bool changed_ = false;
    bool committing_ = false;
    Content staged_;
    std::optional<Content> owned_;
    QPointer<QMimeData> offered_;  // what Commit gave Qt, until Qt lets it go
    // Handles given out by GetBitmap/GetPalette stay the clipboard's; freed at the next change.
    std::vector<std::uintptr_t> handedOut_;
    Hbitmap bitmapHandle_ = 0;
    Hpalette paletteHandle_ = 0;
    std::size_t notifications_ = 0;
    struct Encoding {
        std::thread worker;
        std::shared_future<QByteArray> done;
    };
    std::vector<Encoding> encodings_;
};

}  // namespace zumelko::platform::qt
