#include "platform/qt/WaylandClipboard.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

#include "platform/qt/Charset.h"

namespace zumelko::platform::qt {

namespace {

const QString kWlPaste = QStringLiteral("wl-paste");
const QString kWlCopy = QStringLiteral("wl-copy");
const QString kTextType = QStringLiteral("text/plain;charset=utf-8");
const QString kPngType = QStringLiteral("image/png");
const QString kMarkType = QStringLiteral("x-kde-passwordManagerHint");

// Text types in the order they are preferred; all are taken as UTF-8, as Wayland programs write them.
const QStringList kTextTypes = {kTextType, QStringLiteral("UTF8_STRING"), QStringLiteral("text/plain"),
                                QStringLiteral("STRING"), QStringLiteral("TEXT")};
const QStringList kPictureTypes = {kPngType, QStringLiteral("image/bmp"), QStringLiteral("image/x-bmp")};

// A reader or writer that has not started is not waited for; one that has is stopped for good.
void Stop(QProcess& process) {
    process.disconnect();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
    }
}

// wl-paste and wl-copy end with the program, however it ends: a watch left behind would run
// for as long as the compositor does. Ctrl+C in the program's terminal is the program's to
// act on (it stops them itself), so they are not in its process group.
std::unique_ptr<QProcess> Tool() {
    auto process = std::make_unique<QProcess>();
    process->setChildProcessModifier([] {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        setpgid(0, 0);
    });
    process->setStandardErrorFile(QProcess::nullDevice());
    return process;
}

QStringList Types(const std::optional<QByteArray>& list) {
    QStringList types;
    if (!list) return types;
    for (const QByteArray& line : list->split('\n')) {
        if (!line.isEmpty()) types.push_back(QString::fromUtf8(line));
    }
    return types;
}

// The program's own data-control client, from beside the program (the build tree) or where the
// package puts it; empty when it is in neither place.
QString OfferTool() {
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& path : {here + QStringLiteral("/zumelko-wl-offer"),
                                here + QStringLiteral("/../lib/zumelko/zumelko-wl-offer")}) {
        const QFileInfo tool(path);
        if (tool.isFile() && tool.isExecutable()) return QDir::cleanPath(tool.absoluteFilePath());
    }
    return {};
}

QString FirstOf(const QStringList& wanted, const QStringList& offered) {
    for (const QString& type : wanted) {
        if (offered.contains(type)) return type;
    }
    return {};
}

}  // namespace

WaylandClipboard::WaylandClipboard(QtLoop& loop, QtGdi& gdi) : StagedClipboard(loop, gdi) {
    clock_.start();
    for (QTimer* timer : {&offerTimer_, &readTimer_, &retryTimer_, &steadyTimer_}) timer->setSingleShot(true);
    // An offer whose echo is not seen in this time (the watch was lost meanwhile, or another
    // program replaced it first) no longer holds up the next one.
    offerTimer_.setInterval(10000);
    QObject::connect(&offerTimer_, &QTimer::timeout, &context_, [this] { OfferDone(); });
    // A program that offers its data and never writes it does not hold up every later change.
    readTimer_.setInterval(10000);
    QObject::connect(&readTimer_, &QTimer::timeout, &context_, [this] {
        if (reader_) reader_->kill();
    });
    QObject::connect(&retryTimer_, &QTimer::timeout, &context_, [this] { StartWatch(); });
    // A watch that has run this long has found the compositor: the next loss is news again.
    steadyTimer_.setInterval(2000);
    QObject::connect(&steadyTimer_, &QTimer::timeout, &context_, [this] {
        retryMs_ = 0;
        // A watch reports what is there at once; a report after this is a change.
        if (reported_ == 0 && !reading_) freshWatch_ = false;
        if (lost_) {
            lost_ = false;
            std::fprintf(stderr, "zumelko: watching the Wayland clipboard again\n");
            OfferAgain();
        }
    });
    StartWatch();
}

WaylandClipboard::~WaylandClipboard() {
    context_.disconnect();
    for (QTimer* timer : {&offerTimer_, &readTimer_, &retryTimer_, &steadyTimer_}) {
        timer->disconnect();
        timer->stop();
    }
    for (auto& offer : offers_) {
        offer->disconnect();
        offer->waitForFinished();
    }
    if (decoding_) {
        decoding_->disconnect();
        decoding_->waitForFinished();
    }
    for (QProcess* p : {watch_.get(), reader_.get(), writer_.get()}) {
        if (p != nullptr) Stop(*p);
    }
    for (auto& p : retired_) Stop(*p);
    DropHandles();
}

bool WaylandClipboard::Idle() const {
    return watch_ && watch_->state() == QProcess::Running && !lost_ && offers_.empty() && !inFlight_ &&
           reported_ == 0 && !reading_ && !decoding_;
}

// --- what another program offers, as last read ---
QImage WaylandClipboard::OutsideImage() { return outside_.image; }

bool WaylandClipboard::OutsideHas(std::uint32_t format) {
    if (format == CF_TEXT_) return outside_.utf8.has_value();
    if (format == CF_BITMAP_) return !outside_.image.isNull();
    return false;
}

std::optional<std::string> WaylandClipboard::OutsideText() {
    if (!outside_.utf8) return std::nullopt;
    return ValidUtf8(std::string_view(outside_.utf8->constData(), static_cast<std::size_t>(outside_.utf8->size())));
}

bool WaylandClipboard::OutsideSecret() { return outside_.secret; }

// --- our own changes, handed to wl-copy ---

void WaylandClipboard::Commit() {
    DropHandles();
    owned_ = std::move(staged_);
    staged_ = {};
    QFuture<Offer> future;
    if (owned_->bitmap) {
        // Other programs get the picture in colour, as PNG; made off the loop's thread.
        const QImage::Format format = owned_->bitmap->format();
        const QImage offered = format == QImage::Format_Mono || format == QImage::Format_Indexed8
                                   ? owned_->bitmap->convertToFormat(QImage::Format_RGB32)
                                   : *owned_->bitmap;
        future = QtConcurrent::run([offered, secret = owned_->secret] {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            if (!offered.save(&buffer, "PNG", 80)) bytes.clear();
            return Offer{kPngType, bytes, secret};
        });
    } else if (owned_->text) {
        // Other programs see the text up to its first NUL, as they would read the block.
        const qsizetype nul = owned_->text->indexOf('\0');
        future = QtFuture::makeReadyFuture(
            Offer{kTextType, nul < 0 ? *owned_->text : owned_->text->left(nul), owned_->secret});
    } else {
        future = QtFuture::makeReadyFuture(Offer{});
    }
    auto watcher = std::make_shared<QFutureWatcher<Offer>>();
    QObject::connect(watcher.get(), &QFutureWatcherBase::finished, &context_, [this] { StartOffer(); });
    watcher->setFuture(future);
    offers_.push_back(std::move(watcher));
    Notify(true);  // last: a viewer may open the clipboard again meanwhile
    StartOffer();
}

void WaylandClipboard::StartOffer() {
    if (inFlight_) return;
    // Only the newest offer matters: the program has told of every change already.
    while (offers_.size() > 1) {
        offers_.front()->disconnect();
        offers_.pop_front();
    }
    if (offers_.empty() || !offers_.front()->isFinished()) return;
    Offer offer = offers_.front()->result();
    offers_.pop_front();
    if (!offer.type.isEmpty() && offer.bytes.isEmpty() && offer.type == kPngType) {
        std::fprintf(stderr, "zumelko: the picture could not be put on the Wayland clipboard\n");
        return;
    }

    QString tool;
    if (offer.secret) {
        tool = OfferTool();
        if (tool.isEmpty()) {
            // The copy matters more than its mark.
            if (!std::exchange(toldNoOfferTool_, true)) {
                std::fprintf(stderr, "zumelko: zumelko-wl-offer is missing: secret copies go on the Wayland "
                                     "clipboard without the password manager's mark\n");
            }
            offer.secret = false;
        }
    }

    // The wl-copy serving our previous offer ends by itself once this one replaces it.
    retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                  [](const auto& p) { return p->state() == QProcess::NotRunning; }),
                   retired_.end());
    if (writer_) retired_.push_back(std::move(writer_));
    writer_ = Tool();
    QProcess* writer = writer_.get();
    writer->setStandardOutputFile(QProcess::nullDevice());
    auto ended = [this, writer] {
        if (writer == writer_.get() && inFlight_) OfferDone();
    };
    QObject::connect(writer, &QProcess::finished, &context_, ended);
    QObject::connect(writer, &QProcess::errorOccurred, &context_, [ended](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) ended();
    });
    if (offer.secret) {
        // A tool that is there and does not start: the copy goes out unmarked after all, unless
        // a newer one is waiting. Through the loop, as start() may fail before it returns.
        QObject::connect(
            writer, &QProcess::errorOccurred, &context_,
            [this, writer, offer](QProcess::ProcessError e) {
                if (e != QProcess::FailedToStart || writer != writer_.get() || !offers_.empty()) return;
                std::fprintf(stderr, "zumelko: zumelko-wl-offer could not be started: the secret copy goes on "
                                     "the Wayland clipboard without the password manager's mark\n");
                Offer plain = offer;
                plain.secret = false;
                auto watcher = std::make_shared<QFutureWatcher<Offer>>();
                QObject::connect(watcher.get(), &QFutureWatcherBase::finished, &context_, [this] { StartOffer(); });
                watcher->setFuture(QtFuture::makeReadyFuture(plain));
                offers_.push_back(std::move(watcher));
                StartOffer();
            },
            Qt::QueuedConnection);
    }
    inFlight_ = offer;
    awaitingEcho_.push_back(offer);
    if (awaitingEcho_.size() > 4) awaitingEcho_.pop_front();
    if (offer.type.isEmpty()) {
        // The watch of wl-clipboard 2.2 and later reports the emptied clipboard, that of 2.1
        // does not: done when wl-copy is.
        writer->start(kWlCopy, {QStringLiteral("--clear")});
        return;
    }
    if (offer.secret) {
        // Records of types, length and bytes: the copy in the types wl-copy would give it, and the
        // mark. Like wl-copy below, the tool stays in the foreground serving them.
        const QByteArray types = offer.type == kTextType ? kTextTypes.join(QLatin1Char(' ')).toUtf8() : offer.type.toUtf8();
        writer->start(tool, QStringList{});
        writer->write(types + '\n' + QByteArray::number(offer.bytes.size()) + '\n');
        writer->write(offer.bytes);
        writer->write(kMarkType.toUtf8() + "\n6\nsecret");
        writer->closeWriteChannel();
        offerTimer_.start();
        return;
    }
    // The bytes go through the pipe, never on the command line; wl-copy stays in the foreground
    // serving them until another program takes the clipboard, and is ours to stop.
    writer->start(kWlCopy, {QStringLiteral("--foreground"), QStringLiteral("--type"), offer.type});
    writer->write(offer.bytes);
    writer->closeWriteChannel();
    offerTimer_.start();
}

// A compositor that went away took what the program had put on the clipboard with it: the new
// one gets it again, unless another program has put something there meanwhile. Not a change
// for the program, so the chain is not told.
void WaylandClipboard::OfferAgain() {
    if (!owned_ || !lastOffer_ || inFlight_ || !offers_.empty()) return;
    if (writer_ && writer_->state() != QProcess::NotRunning) return;
    auto watcher = std::make_shared<QFutureWatcher<Offer>>();
    QObject::connect(watcher.get(), &QFutureWatcherBase::finished, &context_, [this] { StartOffer(); });
    watcher->setFuture(QtFuture::makeReadyFuture(*lastOffer_));
    offers_.push_back(std::move(watcher));
    StartOffer();
}

void WaylandClipboard::OfferDone() {
    offerTimer_.stop();
    inFlight_.reset();
    StartOffer();
}

// --- the watch, and reading other programs' changes ---

void WaylandClipboard::StartWatch() {
    if (watch_) {
        watch_->disconnect();
        watch_.release()->deleteLater();  // Qt's to delete: it may be in one of its own signals
    }
    watch_ = Tool();
    QProcess* watch = watch_.get();
    // `echo` says "changed" once per new selection; it does not read the content wl-paste hands it.
    QObject::connect(watch, &QProcess::readyReadStandardOutput, &context_, [this] { WatchOutput(); });
    QObject::connect(watch, &QProcess::finished, &context_, [this](int code, QProcess::ExitStatus status) {
        WatchEnded(status == QProcess::CrashExit ? QStringLiteral("wl-paste ended abnormally")
                                                 : QStringLiteral("wl-paste ended with code %1").arg(code));
    });
    QObject::connect(watch, &QProcess::errorOccurred, &context_, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) WatchEnded(QStringLiteral("wl-paste could not be started"));
    });
    freshWatch_ = true;
    watchLine_.clear();
    watch->start(kWlPaste, {QStringLiteral("--watch"), QStringLiteral("echo")});
    steadyTimer_.start();
}

void WaylandClipboard::WatchEnded(const QString& why) {
    steadyTimer_.stop();
    if (!lost_) {
        lost_ = true;
        std::fprintf(stderr, "zumelko: lost the Wayland clipboard (%s); watching again as soon as it can\n",
                     why.toLocal8Bit().constData());
    }
    retryMs_ = retryMs_ == 0 ? 250 : std::min(retryMs_ * 2, 8000);
    retryTimer_.start(retryMs_);
}

void WaylandClipboard::WatchOutput() {
    const QByteArray out = watch_->readAllStandardOutput();
    const int reports = static_cast<int>(out.count('\n'));
    if (reports == 0) return;
    if (reported_ == 0) firstReportMs_ = clock_.elapsed();
    reported_ += reports;
    if (!reading_ && !decoding_) StartReading();
}

void WaylandClipboard::Read(const QStringList& arguments, std::function<void(std::optional<QByteArray>)> then) {
    reader_ = Tool();
    QProcess* reader = reader_.get();
    auto got = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(reader, &QProcess::readyReadStandardOutput, &context_, [reader, got, tooLarge] {
        if (*tooLarge) return;
        if (got->size() + reader->bytesAvailable() > kMaxRead) {
            *tooLarge = true;
            reader->kill();
            return;
        }
        got->append(reader->readAllStandardOutput());
    });
    auto done = [this, reader, got, tooLarge, then](bool ok) {
        readTimer_.stop();
        if (ok) got->append(reader->readAllStandardOutput());
        reader->disconnect();
        reader_.release()->deleteLater();
        then(ok && !*tooLarge ? std::optional<QByteArray>(std::move(*got)) : std::nullopt);
    };
    QObject::connect(reader, &QProcess::finished, &context_, [done](int code, QProcess::ExitStatus status) {
        done(status == QProcess::NormalExit && code == 0);
    });
    QObject::connect(reader, &QProcess::errorOccurred, &context_, [done](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) done(false);
    });
    readTimer_.start();
    reader->start(kWlPaste, arguments);
}

void WaylandClipboard::StartReading() {
    if (reported_ == 0 || reading_) return;
    // What is read now is what every report so far told of, or newer.
    reported_ = 0;
    readingForMs_ = firstReportMs_;
    reading_.emplace();
    Read({QStringLiteral("--list-types")}, [this](std::optional<QByteArray> list) {
        reading_->types = Types(list);
        ReadMark(reading_->types, [this] { ReadContent(); });
    });
}

void WaylandClipboard::ReadContent() {
    // The types, the mark and the content are separate reads, and another copy may come between
    // them. A marked copy whose text was read must not pass for an unmarked one: the types are
    // listed again after the content, and a mark seen in either list counts. Still possible: a
    // marked copy that comes after the first list and is gone before the second, its text read in
    // between, is taken for an unmarked one; as is one whose mark is read from a later copy
    // whose mark says something other than "secret".
    auto listAgain = [this] {
        Read({QStringLiteral("--list-types")}, [this](std::optional<QByteArray> list) {
            ReadMark(Types(list), [this] { Decide(); });
        });
    };
    const QString picture = FirstOf(kPictureTypes, reading_->types);
    auto readPicture = [this, picture, listAgain] {
        if (picture.isEmpty()) return listAgain();
        Read({QStringLiteral("--no-newline"), QStringLiteral("--type"), picture},
             [this, listAgain](std::optional<QByteArray> bytes) {
                 if (bytes) reading_->picture = std::move(*bytes);
                 listAgain();
             });
    };
    const QString text = FirstOf(kTextTypes, reading_->types);
    if (text.isEmpty()) return readPicture();
    Read({QStringLiteral("--no-newline"), QStringLiteral("--type"), text},
         [this, readPicture](std::optional<QByteArray> bytes) {
             reading_->text = std::move(bytes);
             readPicture();
         });
}

// A mark among the types makes the reading secret unless its value, read, says otherwise; a
// value that cannot be read (the copy changed meanwhile) errs on the side of the secret.
void WaylandClipboard::ReadMark(const QStringList& types, std::function<void()> then) {
    if (reading_->secret || !types.contains(kMarkType)) return then();
    Read({QStringLiteral("--no-newline"), QStringLiteral("--type"), kMarkType},
         [this, then = std::move(then)](std::optional<QByteArray> value) {
             reading_->secret = !value || value->trimmed() == "secret";
             then();
         });
}

bool WaylandClipboard::Matches(const Reading& reading, const Offer& offer) {
    if (offer.type.isEmpty()) return reading.types.isEmpty();
    if (reading.secret != offer.secret) return false;
    if (offer.type == kPngType) return reading.picture == offer.bytes;
    return !reading.types.contains(kPngType) && reading.text && *reading.text == offer.bytes;
}

bool WaylandClipboard::Same(const Reading& a, const Reading& b) {
    return a.types == b.types && a.text == b.text && a.picture == b.picture && a.secret == b.secret;
}

void WaylandClipboard::Decide() {
    Reading reading = std::move(*reading_);
    reading_.reset();
    const bool fresh = std::exchange(freshWatch_, false);
    // Reports that came while the last reading ran, or just after it, may tell of what it found.
    const bool soon = readingForMs_ <= lastReadEndMs_ + kSameChangeMs;
    lastReadEndMs_ = clock_.elapsed();
    auto next = [this] { StartReading(); };

    // The compositor telling us of our own offer.
    const auto echo = std::find_if(awaitingEcho_.rbegin(), awaitingEcho_.rend(),
                                   [&](const Offer& offer) { return Matches(reading, offer); });
    if (echo != awaitingEcho_.rend()) {
        lastOffer_ = *echo;
        awaitingEcho_.erase(awaitingEcho_.begin(), echo.base());  // it and every older one
        if (inFlight_ && Matches(reading, *inFlight_)) OfferDone();
        return next();
    }
    // What the program put there, still there, is no change. Another program's content found
    // again is the same change when told again soon, and when a watch started again reports
    // what is there already: only a change made while it was away is one.
    if (owned_ && lastOffer_ && Matches(reading, *lastOffer_)) return next();
    if (!owned_ && Same(reading, outsideRead_) && (fresh || soon)) return next();
    // Nothing there for a watch started again (wl-clipboard 2.2 and later say so) while the
    // program's content should be: a new compositor, which is given it again (OfferAgain).
    if (fresh && owned_ && reading.types.isEmpty()) return next();

    auto publish = [this](Reading read, QImage image) {
        owned_.reset();
        lastOffer_.reset();
        DropHandles();
        outside_ = Outside{read.text, std::move(image), read.secret};
        outsideRead_ = std::move(read);
        Notify(false);
        StartReading();
    };
    if (reading.picture.isEmpty()) return publish(std::move(reading), QImage());
    // A large picture takes a while to decode: not on the loop's thread.
    decoding_ = std::make_unique<QFutureWatcher<QImage>>();
    auto bytes = reading.picture;
    QObject::connect(decoding_.get(), &QFutureWatcherBase::finished, &context_,
                     [this, publish, read = std::move(reading)]() mutable {
                         QImage image = decoding_->result();
                         decoding_->disconnect();
                         decoding_.release()->deleteLater();
                         publish(std::move(read), std::move(image));
                     });
    decoding_->setFuture(QtConcurrent::run([bytes] { return QImage::fromData(bytes); }));
}

}  // namespace zumelko::platform::qt
