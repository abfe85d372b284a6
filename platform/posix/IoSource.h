#pragma once
// Something with file descriptors to wait on (the sockets): a loop collects what each source
// wants before it waits, and hands back what became ready.
#include <poll.h>

#include <functional>
#include <vector>

namespace zumelko::platform {

class IoSource {
public:
    virtual ~IoSource() = default;
    // Appends the descriptors and events waited for now.
    virtual void Collect(std::vector<pollfd>& fds) const = 0;
    // One descriptor became ready; the source posts its notifications.
    virtual void Dispatch(const pollfd& ready) = 0;
    // Told whenever the set of wanted descriptors or events changes (a loop that keeps
    // long-lived watchers re-reads Collect then).
    void SetChangedHandler(std::function<void()> handler) { changed_ = std::move(handler); }

protected:
    void NotifyChanged() const {
        if (changed_) changed_();
    }

private:
    std::function<void()> changed_;
};

}  // namespace zumelko::platform
