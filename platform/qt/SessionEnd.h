#pragma once
// The ways a desktop session ends a program, made the program's own way out: SIGTERM (the
// session ending, a service manager, kill), SIGINT (Ctrl+C in a terminal), SIGHUP (its terminal
// gone) and the X session manager's "die" end the loop as "終了(&E)" does, so the program winds
// up as it always does: the icon removed, the listeners closed, wl-paste and wl-copy stopped,
// what it put on the X11 clipboard handed to a clipboard manager. A menu open at that moment
// is closed.
//
// A signal handler only writes the signal's number to a socket pair that the loop watches.
// Once one has been read, the three signals are back at their defaults: a second one ends a
// program that hangs on its way out. A signal ignored when the program starts (nohup) stays
// ignored.
#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <iterator>
#include <memory>
#include <string>

#include "platform/qt/QtLoop.h"

namespace zumelko::platform::qt {

class SessionEnd final : public QObject {
public:
    // One per process; made on the loop's thread.
    explicit SessionEnd(QtLoop& loop);
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

    // The session manager's "die" comes as Qt's quit event to the application.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SignalArrived();
    void Quit(const std::string& why);

    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    QtLoop& loop_;
    int pair_[2] = {-1, -1};  // [0] read by the loop, [1] written by the handler
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[std::size(kSignals)] = {};
    bool caught_[std::size(kSignals)] = {};
};

}  // namespace zumelko::platform::qt
