#pragma once
// Name lookups away from the loop thread, shared by the desktops' WSAAsyncGetHostByName: a few
// worker threads run the blocking lookups one request at a time and queue their answers; the
// desktop is woken from the worker (Wake) and, on the loop thread, collects the answers and
// posts each request's message. A name server that takes seconds then holds a worker, never
// the loop.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Sockets.h"
#include "platform/WinTypes.h"

namespace zumelko::platform {

class HostLookups {
public:
    // Runs on a worker thread: 0 with the address (network order), or a Winsock lookup code.
    using Lookup = std::function<int(std::uint32_t& addr)>;
    // Runs on a worker thread, under the lookups' lock, when answers wait to be collected and
    // the desktop has not been woken for them yet: it must be quick and must not call back.
    using Wake = std::function<void()>;

    struct Answer {
        Hwnd window;
        std::uint32_t message;
        AsyncHandle request;
        int error;
    };

    // Lookups running at once; more wait their turn. A slow name server holds this many
    // threads at most, and a list of names is answered this many at a time.
    static constexpr std::size_t kMaxThreads = 8;

    explicit HostLookups(Wake wake);
    // Returns at once: lookups still running finish on their threads, their answers dropped and
    // nobody woken.
    ~HostLookups();
    HostLookups(const HostLookups&) = delete;
    HostLookups& operator=(const HostLookups&) = delete;

    // 0 when no thread could be had for the lookup (and none runs that could take it later).
    AsyncHandle Start(Hwnd window, std::uint32_t message, Lookup lookup);
    // 0; WSAEALREADY_ once the answer was collected; WSAEINVAL_ for an unknown request.
    int Cancel(AsyncHandle request);
    // The address of a posted answer without error. The request is forgotten afterwards,
    // whatever its answer was.
    bool Take(AsyncHandle request, std::uint32_t& addr);
    // On the loop thread: the answers in since the last call, in the order they came. The
    // caller posts their messages; from now on they count as posted.
    std::vector<Answer> Collect();

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace zumelko::platform
