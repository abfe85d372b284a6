#include "platform/qt/QtLoop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>

#include <algorithm>

namespace zumelko::platform::qt {

namespace {
const QEvent::Type kDispatchEvent = static_cast<QEvent::Type>(QEvent::User + 0x5A);
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::User + 0x5B);
}  // namespace

// Receives the loop's own events: one queued message is dispatched per event, so whatever Qt
// has to do meanwhile (painting, input, the clipboard) is never starved by a busy queue.
class QtLoop::Pump final : public QObject {
public:
    explicit Pump(QtLoop& loop) : loop_(loop) {}
    bool event(QEvent* e) override {
        if (e->type() == kDispatchEvent) {
            loop_.scheduled_ = false;
            loop_.DispatchOne();
            if (!loop_.queue_.empty()) loop_.Schedule();
            return true;
        }
        if (e->type() == kWakeEvent) return true;
        return QObject::event(e);
    }

private:
    QtLoop& loop_;
};

QtLoop::QtLoop() : pump_(std::make_unique<Pump>(*this)) {}

QtLoop::~QtLoop() {
    for (IoSource* s : sources_) s->SetChangedHandler(nullptr);
    watches_.clear();
}

Hwnd QtLoop::CreateHiddenWindow(WindowProc proc) {
    const Hwnd h = next_++;
    windows_.emplace(h, std::move(proc));
    return h;
}

void QtLoop::DestroyWindow(Hwnd window) {
    windows_.erase(window);
    std::erase_if(timers_, [window](const auto& t) { return t.first.first == window; });
    std::erase_if(queue_, [window](const Message& m) { return m.window == window; });
}

bool QtLoop::IsWindow(Hwnd window) const { return windows_.count(window) != 0; }

bool QtLoop::PostMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    if (!IsWindow(window)) return false;
    queue_.push_back({window, message, w, l});
    Schedule();
    return true;
}

bool QtLoop::SetTimer(Hwnd window, std::uintptr_t id, unsigned elapseMs) {
    if (!IsWindow(window)) return false;
    std::unique_ptr<QTimer>& timer = timers_[{window, id}];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, pump_.get(), [this, window, id] {
            const bool waiting = std::any_of(queue_.begin(), queue_.end(), [&](const Message& m) {
                return m.window == window && m.message == WM_TIMER_ && m.w == id;
            });
            if (!waiting) PostMessage(window, WM_TIMER_, id, 0);
        });
    }
    timer->start(static_cast<int>(std::max(elapseMs, 1u)));
    return true;
}

bool QtLoop::KillTimer(Hwnd window, std::uintptr_t id) {
    std::erase_if(queue_, [&](const Message& m) { return m.window == window && m.message == WM_TIMER_ && m.w == id; });
    return timers_.erase({window, id}) != 0;
}

LResult QtLoop::SendMessage(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    auto it = windows_.find(window);
    if (it == windows_.end()) return 0;
    // A copy: the procedure may destroy its own window.
    WindowProc proc = it->second;
    return Deliver(proc, message, w, l);
}

void QtLoop::Schedule() {
    if (scheduled_) return;
    scheduled_ = true;
    QCoreApplication::postEvent(pump_.get(), new QEvent(kDispatchEvent));
}

void QtLoop::Wake() { QCoreApplication::postEvent(pump_.get(), new QEvent(kWakeEvent)); }

bool QtLoop::DispatchOne() {
    if (queue_.empty()) return false;
    const Message m = queue_.front();
    queue_.pop_front();
    SendMessage(m.window, m.message, m.w, m.l);
    return true;
}

void QtLoop::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Only what is pending now: messages posted while dispatching wait for the next turn.
    std::size_t n = queue_.size();
    while (n-- > 0 && !queue_.empty()) DispatchOne();
}

void QtLoop::RunUntil(const std::function<bool()>& done) {
    ++depth_;
    while (!quit_ && !done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    --depth_;
}

bool QtLoop::RunUntilFor(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    // The timer only makes sure the wait below ends in time.
    QTimer tick;
    tick.start(10);
    ++depth_;
    bool ok = done();
    while (!quit_ && !ok && clock.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ok = done();
    }
    --depth_;
    return ok;
}

void QtLoop::PostQuit() {
    quit_ = true;
    Wake();
}

void QtLoop::AddIoSource(IoSource& source) {
    sources_.push_back(&source);
    source.SetChangedHandler([this] { SyncWatches(); });
    SyncWatches();
}

void QtLoop::RemoveIoSource(IoSource& source) {
    source.SetChangedHandler(nullptr);
    std::erase(sources_, &source);
    SyncWatches();
}

// Brings the notifiers in line with what the sources want now. Notifiers are kept per
// descriptor and only enabled or disabled (never deleted while Qt may be inside one of them);
// a descriptor number that is reused later simply gets its notifier enabled again.
void QtLoop::SyncWatches() {
    if (syncing_) return;
    syncing_ = true;
    std::vector<pollfd> fds;
    for (IoSource* s : sources_) s->Collect(fds);
    std::map<int, short> wanted;
    for (const pollfd& p : fds) wanted[p.fd] |= p.events;
    for (auto& [fd, watch] : watches_) {
        if (!wanted.count(fd)) {
            if (watch.read) watch.read->setEnabled(false);
            if (watch.write) watch.write->setEnabled(false);
        }
    }
    for (const auto& [fd, events] : wanted) {
        Watch& watch = watches_[fd];
        const bool wantRead = (events & POLLIN) != 0;
        const bool wantWrite = (events & POLLOUT) != 0;
        if (wantRead && !watch.read) {
            watch.read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(watch.read.get(), &QSocketNotifier::activated, pump_.get(),
                             [this, fd] { Ready(fd, QSocketNotifier::Read); });
        }
        if (wantWrite && !watch.write) {
            watch.write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
            QObject::connect(watch.write.get(), &QSocketNotifier::activated, pump_.get(),
                             [this, fd] { Ready(fd, QSocketNotifier::Write); });
        }
        if (watch.read && watch.read->isEnabled() != wantRead) watch.read->setEnabled(wantRead);
        if (watch.write && watch.write->isEnabled() != wantWrite) watch.write->setEnabled(wantWrite);
    }
    syncing_ = false;
}

// A notifier fired. The socket layer is asked again what it wants right now, so a notifier
// that fired for a state already left behind (data taken meanwhile, the socket closed) posts
// nothing: one notification at a time, as on every desktop.
void QtLoop::Ready(int fd, QSocketNotifier::Type type) {
    const short event = type == QSocketNotifier::Read ? POLLIN : POLLOUT;
    for (IoSource* s : sources_) {
        std::vector<pollfd> fds;
        s->Collect(fds);
        auto it = std::find_if(fds.begin(), fds.end(),
                               [&](const pollfd& p) { return p.fd == fd && (p.events & event); });
        if (it == fds.end()) continue;
        pollfd ready = *it;
        ready.revents = event;
        s->Dispatch(ready);
        break;
    }
    SyncWatches();
}

}  // namespace zumelko::platform::qt
