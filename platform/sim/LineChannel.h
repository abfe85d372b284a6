#pragma once
// A text channel that plays the user of a simulated desktop from outside the process: each line
// read from the input descriptor is handed to the handler as a posted message, so a command runs
// like any other event (and may open a modal dialog, inside which later lines keep arriving).
#include <deque>
#include <functional>
#include <string>

#include "platform/posix/IoSource.h"
#include "platform/sim/SimLoop.h"

namespace zumelko::platform::sim {

class LineChannel final : public IoSource {
public:
    using Handler = std::function<std::string(const std::string& line)>;

    // Replies (one line per command) go to outFd.
    LineChannel(SimLoop& loop, int inFd, int outFd, Handler handler);
    ~LineChannel() override;
    LineChannel(const LineChannel&) = delete;
    LineChannel& operator=(const LineChannel&) = delete;

    void Collect(std::vector<pollfd>& fds) const override;
    void Dispatch(const pollfd& ready) override;
    bool Closed() const { return closed_; }
    // Told once when the input ends.
    void SetClosedHandler(std::function<void()> handler) { onClosed_ = std::move(handler); }

private:
    void Reply(const std::string& text);

    SimLoop& loop_;
    int in_;
    int out_;
    Handler handler_;
    Hwnd window_ = 0;
    std::string partial_;
    std::deque<std::string> lines_;
    bool closed_ = false;
    std::function<void()> onClosed_;
};

}  // namespace zumelko::platform::sim
