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
#include <memory>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "platform/qt/SelectionFetch.h"
#include "platform/qt/StagedClipboard.h"

class QClipboard;

namespace zumelko::platform::qt {

class QtClipboard final : public StagedClipboard {
public:
    QtClipboard(QtLoop& loop, QtGdi& gdi);
    ~QtClipboard() override;
    QtClipboard(const QtClipboard&) = delete;
    QtClipboard& operator=(const QtClipboard&) = delete;

    // No picture of another program is being read ahead (tests and benchmarks).
    bool ReadAheadDone() const { return !readAheadDue_ && (!ahead_ || ahead_->Finished()); }

private:
    void Commit() override;
    QImage OutsideImage() override;
    bool OutsideHas(std::uint32_t format) override;
    std::optional<std::string> OutsideText() override;
    bool OutsideSecret() override;
    // The PNG form of a picture, made on a thread of its own.
    std::shared_future<QByteArray> EncodePng(const QImage& image);
    void OutsideChange();
    // Another program's picture is read ahead on the loop's next idle turn after it appears (or
    // after the program starts): transferred and decoded on a thread of its own, so that
    // neither the loop nor the first send of a large picture waits for it. Cancelled at the
    // next change.
    void ReadAheadSoon();
    void ReadAhead();
    void DropReadAhead();
    // Lets fetches that have finished go (the loop is told when one has).
    void Reap();
    bool SameText(const QMimeData& data) const;

    QClipboard* clipboard_;
    QMetaObject::Connection connection_;
    bool committing_ = false;
    QPointer<QMimeData> offered_;  // what Commit gave Qt, until Qt lets it go
    struct Encoding {
        std::thread worker;
        std::shared_future<QByteArray> done;
    };
    std::vector<Encoding> encodings_;
    QObject context_;  // the idle turn is dropped with it
    bool readAheadDue_ = false;
    QList<QByteArray> readable_;  // the picture types Qt can read
    std::unique_ptr<SelectionFetch> ahead_;
    std::vector<std::unique_ptr<SelectionFetch>> cancelled_;  // still winding down
};

}  // namespace zumelko::platform::qt
