#include "platform/qt/SessionEnd.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace zumelko::platform::qt {

namespace {

std::atomic<int> g_writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pair already holds a signal to act on: nothing is lost by not writing.
    if (write(g_writeEnd.load(std::memory_order_relaxed), &number, 1) < 0) {
    }
    errno = saved;
}

}  // namespace

SessionEnd::SessionEnd(QtLoop& loop) : loop_(loop) {
    if (g_writeEnd.load() != -1) {
        std::fprintf(stderr, "zumelko: signals are watched already\n");
    } else if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair_) != 0) {
        std::fprintf(stderr, "zumelko: signals cannot be watched (%s); they end the program at once\n",
                     std::strerror(errno));
        pair_[0] = pair_[1] = -1;
    } else {
        g_writeEnd.store(pair_[1]);
        notifier_ = std::make_unique<QSocketNotifier>(pair_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { SignalArrived(); });
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        for (int s : kSignals) sigaddset(&action.sa_mask, s);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], nullptr, &previous_[i]);
            // A signal ignored by whoever started the program stays ignored (nohup, for one).
            if (previous_[i].sa_handler == SIG_IGN) continue;
            sigaction(kSignals[i], &action, nullptr);
            caught_[i] = true;
        }
    }
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

SessionEnd::~SessionEnd() {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (caught_[i]) sigaction(kSignals[i], &previous_[i], nullptr);
    }
    notifier_.reset();
    if (pair_[1] != -1) {
        g_writeEnd.store(-1);
        close(pair_[1]);
        close(pair_[0]);
    }
}

bool SessionEnd::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Quit || watched != QCoreApplication::instance()) return false;
    Quit("the session manager ends the session");
    return true;
}

void SessionEnd::SignalArrived() {
    unsigned char number = 0;
    unsigned char byte = 0;
    while (read(pair_[0], &byte, 1) == 1) number = byte;
    if (number == 0) return;
    // A second signal is not caught: it ends a program that does not get out.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (caught_[i]) sigaction(kSignals[i], &fallback, nullptr);
    }
    const char* name = sigabbrev_np(number);
    Quit(name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(number));
}

void SessionEnd::Quit(const std::string& why) {
    if (loop_.QuitRequested()) return;
    std::fprintf(stderr, "zumelko: quitting: %s\n", why.c_str());
    // A tray menu runs a loop of its own, which ends when it closes.
    for (int i = 0; i < 8; ++i) {
        QWidget* popup = QApplication::activePopupWidget();
        if (popup == nullptr) break;
        popup->close();
    }
    loop_.PostQuit();
}

}  // namespace zumelko::platform::qt
