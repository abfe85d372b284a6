#pragma once
// Another program's picture on the X clipboard, read on a thread of its own over a connection
// of its own to the X server: the list of what the owner offers, the transfer of the chosen
// type (in pieces when the owner sends it incrementally, as it does for anything larger than
// one property), then the decoding into the display's format. The loop's thread never waits on
// the other program; it is told when the picture is ready. A large picture's 24-bit rows are
// made there too, for a send to take over (QtGdi::MakeRowsAhead).
#include <QByteArray>
#include <QImage>
#include <QList>

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

#include "platform/qt/QtGdi.h"

namespace zumelko::platform::qt {

class SelectionFetch {
public:
    enum class Outcome {
        Busy,       // still reading
        NoPicture,  // the owner offers no type a picture can be read from
        Failed,     // no connection, no answer in time, refused or cancelled
        Read,       // the transfer completed; the picture is null when the bytes were none
    };
    struct Options {
        QByteArray display;            // the X display to connect to
        QByteArray selection = "CLIPBOARD";
        QList<QByteArray> readable;    // picture types besides PNG, in no particular order
        QImage::Format format = QImage::Format_RGB32;  // the display's; Mono and Indexed8 keep the picture's own
        int quietMs = 5000;            // no word from the owner for this long: the transfer is given up
        std::size_t maxBytes = std::size_t{1} << 30;
    };

    // Starts at once. `done` runs on the fetching thread as its last act, cancelled or not; it
    // must only post to the loop, where Finished() is then true and the fetch can go at once.
    SelectionFetch(Options options, std::function<void()> done);
    ~SelectionFetch();  // cancels and waits for the thread
    SelectionFetch(const SelectionFetch&) = delete;
    SelectionFetch& operator=(const SelectionFetch&) = delete;

    // Stops the transfer soon; the outcome becomes Failed.
    void Cancel();
    Outcome State() const { return outcome_.load(); }
    bool Finished() const { return finished_.load(); }
    // Waits for the outcome; the picture when it is Read.
    Outcome Wait(QImage& image);
    // After Wait: the rows made ahead for that picture, once (nothing for a small one).
    std::optional<RowsAhead> TakeRows() { return std::exchange(rows_, std::nullopt); }

private:
    void Run();
    std::optional<QByteArray> Transfer(QByteArray& type);

    Options options_;
    std::function<void()> done_;
    int wake_ = -1;  // written by Cancel, watched beside the X connection
    std::atomic<bool> cancelled_{false};
    std::atomic<Outcome> outcome_{Outcome::Busy};
    std::atomic<bool> finished_{false};
    QImage image_;
    std::optional<RowsAhead> rows_;
    std::thread worker_;
};

}  // namespace zumelko::platform::qt
