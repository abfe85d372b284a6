#include "platform/sim/LineChannel.h"

#include <unistd.h>

#include <cerrno>

namespace zumelko::platform::sim {

namespace {
constexpr std::uint32_t kLineMessage = WM_USER_ + 50;
}

LineChannel::LineChannel(SimLoop& loop, int inFd, int outFd, Handler handler)
    : loop_(loop), in_(inFd), out_(outFd), handler_(std::move(handler)) {
    window_ = loop_.CreateHiddenWindow([this](std::uint32_t message, WParam, LParam) -> LResult {
        if (message != kLineMessage || lines_.empty()) return 0;
        const std::string line = lines_.front();
        lines_.pop_front();
        std::string reply;
        try {
            reply = handler_(line);
        } catch (const std::exception& e) {
            reply = std::string("err ") + e.what();
        }
        Reply(reply);
        return 0;
    });
    loop_.AddIoSource(*this);
}

LineChannel::~LineChannel() {
    loop_.RemoveIoSource(*this);
    loop_.DestroyWindow(window_);
}

void LineChannel::Collect(std::vector<pollfd>& fds) const {
    if (!closed_) fds.push_back({in_, POLLIN, 0});
}

void LineChannel::Dispatch(const pollfd&) {
    char buf[4096];
    const ssize_t n = ::read(in_, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        closed_ = true;
        if (onClosed_) onClosed_();
        return;
    }
    partial_.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while ((nl = partial_.find('\n')) != std::string::npos) {
        std::string line = partial_.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        partial_.erase(0, nl + 1);
        lines_.push_back(std::move(line));
        loop_.PostMessage(window_, kLineMessage, 0, 0);
    }
}

void LineChannel::Reply(const std::string& text) {
    std::string line = text + "\n";
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(out_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace zumelko::platform::sim
