#pragma once
// The loop on the Linux desktop: Qt's event loop drives everything. Hidden windows are
// procedures in a table, posted messages wait in a queue that the Qt loop drains one message
// per turn (so dialogs, menus and the tray stay responsive in between), socket readiness comes
// from QSocketNotifiers kept in line with what the socket layer wants, and every nested modal
// loop is a nested turn of Qt's loop.
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "platform/Loop.h"
#include "platform/posix/IoSource.h"

namespace zumelko::platform::qt {

class QtLoop final : public Loop {
public:
    QtLoop();
    ~QtLoop() override;
    QtLoop(const QtLoop&) = delete;
    QtLoop& operator=(const QtLoop&) = delete;

    Hwnd CreateHiddenWindow(WindowProc proc) override;
    void DestroyWindow(Hwnd window) override;
    bool IsWindow(Hwnd window) const override;
    bool PostMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) override;
    bool SetTimer(Hwnd window, std::uintptr_t id, unsigned elapseMs) override;
    bool KillTimer(Hwnd window, std::uintptr_t id) override;
    LResult SendMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) override;
    void ProcessMessages() override;
    void RunUntil(const std::function<bool()>& done) override;
    void PostQuit() override;
    bool QuitRequested() const override { return quit_; }

    // The sockets (or any other source of descriptors) whose readiness the loop watches.
    void AddIoSource(IoSource& source);
    void RemoveIoSource(IoSource& source);

    std::size_t PendingMessages() const { return queue_.size(); }
    int Depth() const { return depth_; }
    // Runs the loop until done() or the time is up (tests); returns done().
    bool RunUntilFor(const std::function<bool()>& done, int limitMs);

private:
    struct Message {
        Hwnd window;
        std::uint32_t message;
        WParam w;
        LParam l;
    };
    class Pump;
    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    void Schedule();
    bool DispatchOne();
    void SyncWatches();
    void Ready(int fd, QSocketNotifier::Type type);
    void Wake();

    std::map<Hwnd, WindowProc> windows_;
    Hwnd next_ = 0x1000;
    std::deque<Message> queue_;
    // Each timer is a QTimer whose timeout posts the tick (never deleted from inside its own
    // timeout: ticks arrive through the queue).
    std::map<std::pair<Hwnd, std::uintptr_t>, std::unique_ptr<QTimer>> timers_;
    std::unique_ptr<Pump> pump_;
    bool scheduled_ = false;
    std::vector<IoSource*> sources_;
    std::map<int, Watch> watches_;
    bool syncing_ = false;
    bool quit_ = false;
    int depth_ = 0;
};

}  // namespace zumelko::platform::qt
