#include "platform/HostLookups.h"

#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace zumelko::platform {

struct HostLookups::Shared {
    enum class Stage { Queued, Running, Answered, Posted };
    struct Request {
        Hwnd window = 0;
        std::uint32_t message = 0;
        Stage stage = Stage::Queued;
        bool cancelled = false;
        int error = 0;
        std::uint32_t addr = 0;
    };

    std::mutex mutex;
    Wake wake;  // empty once the owner is gone
    bool woken = false;
    std::size_t threads = 0;
    AsyncHandle next = 1;
    std::map<AsyncHandle, Request> requests;
    std::deque<std::pair<AsyncHandle, Lookup>> queue;
    std::vector<Answer> answered;

    // One worker: takes queued lookups until there are none.
    static void Work(const std::shared_ptr<Shared>& self) {
        std::unique_lock lock(self->mutex);
        while (!self->queue.empty() && self->wake) {
            auto [id, lookup] = std::move(self->queue.front());
            self->queue.pop_front();
            self->requests[id].stage = Stage::Running;
            lock.unlock();
            std::uint32_t addr = 0;
            const int error = lookup(addr);
            lookup = nullptr;  // whatever it holds goes here, off the lock
            lock.lock();
            auto it = self->requests.find(id);
            if (it == self->requests.end()) continue;
            if (it->second.cancelled || !self->wake) {
                self->requests.erase(it);
                continue;
            }
            it->second.stage = Stage::Answered;
            it->second.error = error;
            it->second.addr = error == 0 ? addr : 0;
            self->answered.push_back({it->second.window, it->second.message, id, error});
            if (!self->woken) {
                self->woken = true;
                self->wake();
            }
        }
        --self->threads;
    }
};

HostLookups::HostLookups(Wake wake) : shared_(std::make_shared<Shared>()) { shared_->wake = std::move(wake); }

HostLookups::~HostLookups() {
    std::lock_guard lock(shared_->mutex);
    shared_->wake = nullptr;
    shared_->queue.clear();
    shared_->answered.clear();
    shared_->requests.clear();
}

AsyncHandle HostLookups::Start(Hwnd window, std::uint32_t message, Lookup lookup) {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    const AsyncHandle id = s.next++;
    s.requests[id] = Shared::Request{window, message};
    s.queue.emplace_back(id, std::move(lookup));
    if (s.threads < kMaxThreads) {
        try {
            std::thread([self = shared_] { Shared::Work(self); }).detach();
            ++s.threads;
        } catch (const std::system_error&) {
            // The threads already running take it in their turn; without any it would wait for ever.
            if (s.threads == 0) {
                s.queue.pop_back();
                s.requests.erase(id);
                return 0;
            }
        }
    }
    return id;
}

int HostLookups::Cancel(AsyncHandle request) {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    auto it = s.requests.find(request);
    if (it == s.requests.end()) return WSAEINVAL_;
    switch (it->second.stage) {
        case Shared::Stage::Queued:
            std::erase_if(s.queue, [request](const auto& q) { return q.first == request; });
            s.requests.erase(it);
            return 0;
        case Shared::Stage::Running:
            // The thread drops the answer when it comes.
            it->second.cancelled = true;
            return 0;
        case Shared::Stage::Answered:
            std::erase_if(s.answered, [request](const Answer& a) { return a.request == request; });
            s.requests.erase(it);
            return 0;
        case Shared::Stage::Posted:
            s.requests.erase(it);
            return WSAEALREADY_;
    }
    return WSAEINVAL_;
}

bool HostLookups::Take(AsyncHandle request, std::uint32_t& addr) {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    auto it = s.requests.find(request);
    if (it == s.requests.end() || it->second.stage != Shared::Stage::Posted) return false;
    const bool found = it->second.error == 0;
    if (found) addr = it->second.addr;
    s.requests.erase(it);
    return found;
}

std::vector<HostLookups::Answer> HostLookups::Collect() {
    Shared& s = *shared_;
    std::lock_guard lock(s.mutex);
    s.woken = false;
    std::vector<Answer> answers = std::exchange(s.answered, {});
    for (const Answer& a : answers) s.requests[a.request].stage = Shared::Stage::Posted;
    return answers;
}

}  // namespace zumelko::platform
