#pragma once
// The Wayland clipboard, watched and set without the focus through the data-control protocol,
// which wl-paste and wl-copy (wl-clipboard) speak. They are started as programs with argument
// lists and talked to through pipes only, so nothing here waits on the compositor and the loop
// never stops for a large picture.
//
// Transactions are those of the X11 clipboard: writes between OpenClipboard and CloseClipboard
// are staged and committed as one change at the close, told to the chain while the close runs.
// Another program's change is read whole (text, and a picture as PNG or BMP) before the chain
// is told, through the loop, so a viewer reads it at once. `wl-paste --watch` reports the
// program's own offers too, and from wl-clipboard 2.2 on its own emptying of the clipboard;
// that echo is recognised by its bytes (or by there being none) and not told again.
//
// One reading answers every report that came before it. A report may still tell of what the
// last reading found already (a program that sets the clipboard twice, a report that comes a
// moment after the reading): the same content again soon after is the same change, and the
// program's own content, while it is still there, is no change at all; so one change is never
// told twice. Not seen: another program emptying the clipboard under wl-clipboard 2.1 and
// earlier, whose watch reports new content only.
//
// A password manager's mark (the type x-kde-passwordManagerHint holding "secret") is read with
// the copy it came with. The program's own marked copies go out through zumelko-wl-offer, its
// own data-control client, as wl-copy offers one type only; without that tool they go out
// unmarked.
#include <QByteArray>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/StagedClipboard.h"

namespace zumelko::platform::qt {

class WaylandClipboard final : public StagedClipboard {
public:
    WaylandClipboard(QtLoop& loop, QtGdi& gdi);
    ~WaylandClipboard() override;
    WaylandClipboard(const WaylandClipboard&) = delete;
    WaylandClipboard& operator=(const WaylandClipboard&) = delete;

    // True when the watch runs and nothing is being offered or read (tests).
    bool Idle() const;

    // Largest item read from another program; a larger one is taken as absent.
    static constexpr qint64 kMaxRead = 256LL << 20;
    // A report this soon after the last reading ended that finds what it found is the same change.
    static constexpr qint64 kSameChangeMs = 1000;

private:
    // What another program offers, as read after its change.
    struct Outside {
        std::optional<QByteArray> utf8;
        QImage image;
        bool secret = false;
    };
    // One change of our own on its way to the compositor.
    struct Offer {
        QString type;      // empty: the clipboard is emptied
        QByteArray bytes;  // what other programs are given
        bool secret = false;  // with the password manager's mark beside it
    };
    // One reading of the clipboard after a reported change.
    struct Reading {
        QStringList types;
        std::optional<QByteArray> text;
        QByteArray picture;
        bool secret = false;
    };

    void Commit() override;
    QImage OutsideImage() override;
    bool OutsideHas(std::uint32_t format) override;
    std::optional<std::string> OutsideText() override;
    bool OutsideSecret() override;
    void Queue(std::shared_ptr<QFutureWatcher<Offer>> offer);
    void StartOffer();
    void OfferDone();
    void OfferAgain();

    void StartWatch();
    void WatchEnded(const QString& why);
    void WatchOutput();
    void StartReading();
    void ReadContent();
    void ReadMark(const QStringList& types, std::function<void()> then);
    void Read(const QStringList& arguments, std::function<void(std::optional<QByteArray>)> then);
    void Decide();
    static bool Matches(const Reading& reading, const Offer& offer);
    static bool Same(const Reading& a, const Reading& b);

    QObject context_;  // timers and signals are dropped with it
    Outside outside_;
    Reading outsideRead_;  // as it was read, to know it again

    // Our own offers, one at a time so that they reach the compositor in the order made.
    std::deque<std::shared_ptr<QFutureWatcher<Offer>>> offers_;
    std::optional<Offer> inFlight_;      // started, not yet known to be on the clipboard
    // Offers started and not yet reported by the watch, oldest first; a few are kept, as a
    // late report of an older one must not pass for another program's change.
    std::deque<Offer> awaitingEcho_;
    std::optional<Offer> lastOffer_;     // the newest offer the watch has reported
    std::unique_ptr<QProcess> writer_;  // serves the newest offer until it is replaced
    std::vector<std::unique_ptr<QProcess>> retired_;
    QTimer offerTimer_;
    bool toldNoOfferTool_ = false;

    // The watch and the readings it asks for.
    std::unique_ptr<QProcess> watch_;
    QByteArray watchLine_;
    int reported_ = 0;  // reports not yet answered by a reading
    QElapsedTimer clock_;
    qint64 firstReportMs_ = 0;   // when the oldest of those came
    qint64 readingForMs_ = 0;    // when the oldest report the reading under way answers came
    qint64 lastReadEndMs_ = -kSameChangeMs - 1;
    bool freshWatch_ = false;  // the next report may be the watch's first look at old content
    std::unique_ptr<QProcess> reader_;
    QTimer readTimer_;
    std::optional<Reading> reading_;
    std::unique_ptr<QFutureWatcher<QImage>> decoding_;
    QTimer retryTimer_;
    int retryMs_ = 0;
    bool lost_ = false;
    QTimer steadyTimer_;
};

}  // namespace zumelko::platform::qt
