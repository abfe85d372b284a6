#include "platform/qt/QtClipboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QTimer>

#include <chrono>


namespace zumelko::platform::qt {

namespace {

// What other programs are offered. A picture's PNG form, which is what other programs on X ask
// for, is made off the loop's thread as soon as the picture is offered: made on request
// instead, a 4K picture would hold the loop for seconds whenever another program pastes it; a
// paste that comes before it is ready waits only for the rest.
class OfferedData final : public QMimeData {
public:
    void OfferPng(std::shared_future<QByteArray> png) { png_ = std::move(png); }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        if (png_.valid() && mimeType == QLatin1String("image/png")) return png_.get();
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    std::shared_future<QByteArray> png_;
};

// A password manager's mark beside what it copies.
const QString kSecretType = QStringLiteral("x-kde-passwordManagerHint");
const QByteArray kSecretValue = QByteArrayLiteral("secret");

// Other programs see a text up to its first NUL, as they would read the block.
QByteArray UpToNul(const QByteArray& block) {
    const qsizetype nul = block.indexOf('\0');
    return nul < 0 ? block : block.left(nul);
}

}  // namespace

QtClipboard::QtClipboard(QtLoop& loop, QtGdi& gdi)
    : StagedClipboard(loop, gdi),
      clipboard_(QGuiApplication::clipboard()),
      readable_(QImageReader::supportedMimeTypes()) {
    connection_ = QObject::connect(clipboard_, &QClipboard::dataChanged, [this] { OutsideChange(); });
    // What another program put there before the program started.
    ReadAheadSoon();
}

QtClipboard::~QtClipboard() {
    QObject::disconnect(connection_);
    DropHandles();
    for (auto& encoding : encodings_) encoding.worker.join();
    ahead_.reset();
    cancelled_.clear();
}

std::shared_future<QByteArray> QtClipboard::EncodePng(const QImage& image) {
    // Workers that are done are let go; one still busy with an earlier picture goes on.
    for (auto it = encodings_.begin(); it != encodings_.end();) {
        if (it->done.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            it->worker.join();
            it = encodings_.erase(it);
        } else {
            ++it;
        }
    }
    std::promise<QByteArray> promise;
    Encoding encoding;
    encoding.done = promise.get_future().share();
    const std::shared_future<QByteArray> result = encoding.done;
    // QImage is shared, not copied, and nothing draws on a picture that is on the clipboard.
    encoding.worker = std::thread([image, promise = std::move(promise)]() mutable {
        QByteArray bytes;
        try {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            // A lighter compression than the default: about three times faster for a
            // photograph, and about a sixth larger.
            if (!image.save(&buffer, "PNG", 80)) bytes.clear();
        } catch (...) {
            bytes.clear();  // nothing ready: the paste is served the usual way, on request
        }
        promise.set_value(std::move(bytes));
    });
    encodings_.push_back(std::move(encoding));
    return result;
}
void QtClipboard::ReadAheadSoon() {
    DropReadAhead();
    if (readAheadDue_) return;
    readAheadDue_ = true;
    QTimer::singleShot(0, &context_, [this] {
        if (readAheadDue_) ReadAhead();
    });
}

void QtClipboard::DropReadAhead() {
    gdi_.DropRowsAhead();  // their picture has left the clipboard
    if (!ahead_) return;
    // Not waited for here: a transfer stops at once, a decoding that has begun runs out.
    ahead_->Cancel();
    cancelled_.push_back(std::move(ahead_));
}

void QtClipboard::Reap() {
    std::erase_if(cancelled_, [](const auto& fetch) { return fetch->Finished(); });
    if (ahead_ && ahead_->Finished()) {
        QImage ignored;
        ahead_->Wait(ignored);  // the thread has ended: only joined
    }
}

void QtClipboard::ReadAhead() {
    readAheadDue_ = false;
    DropReadAhead();
    // The program's own items are never fetched; nor is anything where X is not the desktop.
    if (clipboard_->ownsClipboard() || QGuiApplication::platformName() != QLatin1String("xcb")) return;
    SelectionFetch::Options options;
    options.display = qgetenv("DISPLAY");
    options.readable = readable_;
    options.format = gdi_.DisplayFormat();
    ahead_ = std::make_unique<SelectionFetch>(std::move(options), [this] {
        QMetaObject::invokeMethod(&context_, [this] { Reap(); }, Qt::QueuedConnection);
    });
}

QImage QtClipboard::OutsideImage() {
    // Asked before the idle turn came: read now.
    if (readAheadDue_) ReadAhead();
    if (ahead_) {
        QImage image;
        // Null when the bytes were no picture: Qt would make nothing of them either.
        if (ahead_->Wait(image) == SelectionFetch::Outcome::Read) {
            if (auto rows = ahead_->TakeRows()) gdi_.KeepRowsAhead(std::move(*rows));
            return image;
        }
    }
    // Not read ahead, or the transfer failed: Qt reads it, here.
    const QMimeData* data = clipboard_->mimeData();
    if (data == nullptr || !data->hasImage()) return {};
    return qvariant_cast<QImage>(data->imageData());
}

bool QtClipboard::OutsideHas(std::uint32_t format) {
    const QMimeData* data = clipboard_->mimeData();
    if (data == nullptr) return false;
    if (format == CF_TEXT_) return data->hasText();
    if (format == CF_BITMAP_) return data->hasImage();
    return false;
}

std::optional<std::string> QtClipboard::OutsideText() {
    const QMimeData* data = clipboard_->mimeData();
    if (data == nullptr || !data->hasText()) return std::nullopt;
    const QByteArray utf8 = data->text().toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

bool QtClipboard::OutsideSecret() {
    const QMimeData* data = clipboard_->mimeData();
    // The type is looked for before its data is asked for: no round trip to the owner for it
    // on an ordinary copy.
    return data != nullptr && data->hasFormat(kSecretType) && data->data(kSecretType).trimmed() == kSecretValue;
}

void QtClipboard::Commit() {
    DropHandles();
    readAheadDue_ = false;
    DropReadAhead();
    committing_ = true;
    // An emptied clipboard is taken over with no data at all, so that what another program
    // offered before is gone for everyone, as after emptying it anywhere else.
    auto data = std::make_unique<OfferedData>();
    if (staged_.bitmap) {
        // Other programs get the picture in colour whatever the display's format.
        const QImage::Format format = staged_.bitmap->format();
        const QImage offered = format == QImage::Format_Mono || format == QImage::Format_Indexed8
                                   ? staged_.bitmap->convertToFormat(QImage::Format_RGB32)
                                   : *staged_.bitmap;
        data->OfferPng(EncodePng(offered));
        data->setImageData(offered);
    }
    if (staged_.text) {
        // Offered as bytes: a QString would hold the text again, in UTF-16 at twice the size.
        // Qt serves this format as UTF8_STRING, STRING and TEXT too. The text is offered as
        // the very block the clipboard holds.
        data->setData(QStringLiteral("text/plain"), UpToNul(*staged_.text));
    }
    if (staged_.secret) data->setData(kSecretType, kSecretValue);
    offered_ = data.get();
    owned_ = std::move(staged_);
    clipboard_->setMimeData(data.release());  // Qt owns it from here
    committing_ = false;
    staged_ = {};
    Notify(true);
}

// Qt's report of a clipboard change. The program's own commits are reported by Commit; an
// echo of them (Qt tells of them again when the X server confirms the ownership) is recognised
// by the program still owning what it committed.
void QtClipboard::OutsideChange() {
    if (committing_) return;
    if (owned_ && clipboard_->ownsClipboard()) {
        const QMimeData* data = clipboard_->mimeData();
        // Our own widgets (a copy from the preview's text) replace the data while we own it.
        const bool ours = data != nullptr && data->hasText() == owned_->text.has_value() &&
                          data->hasImage() == owned_->bitmap.has_value() && (!owned_->text || SameText(*data));
        if (ours) return;
    }
    owned_.reset();
    offered_.clear();
    DropHandles();
    ReadAheadSoon();
    Notify(false);
}

bool QtClipboard::SameText(const QMimeData& data) const {
    // What we committed is still there: no need to convert or compare a large text.
    if (&data == offered_.data()) return true;
    return data.data(QStringLiteral("text/plain")) == UpToNul(*owned_->text);
}
}  // namespace zumelko::platform::qt
