// zumelko-wl-offer: puts one copy on the Wayland clipboard in several types at once (a text with
// the password manager's mark beside it, which wl-copy cannot offer), through the data-control
// protocol, and serves it in the foreground until another program takes the clipboard or the
// compositor goes away. The program starts it as it starts wl-copy and stops it the same way.
//
// Standard input, read to its end before anything is offered, holds records of
//     TYPE[ TYPE...]\nLENGTH\nBYTES
// one or more MIME types that share the LENGTH (decimal) bytes that follow. Nothing comes from
// the command line. "ready" goes to standard output once the compositor has made the copy the
// selection. Exit codes: 0 when another program took the clipboard, 1 for input not as above,
// 2 when there is no compositor with data control and a seat, 3 when the compositor went away.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxInput = 512u << 20;
constexpr std::size_t kMaxTypes = 32;
constexpr std::size_t kMaxTypeLength = 255;
// Readers served at once; a further request is refused (its pipe closed) rather than queued.
constexpr std::size_t kMaxSends = 64;
// A reader that takes nothing for this long is given up on, so it cannot keep the tool alive.
constexpr auto kStall = std::chrono::seconds(30);
constexpr auto kSetUp = std::chrono::seconds(10);
constexpr std::size_t kChunk = 64u << 10;

template <auto Destroy>
struct Deleter {
    template <typename T>
    void operator()(T* p) const { Destroy(p); }
};
template <typename T, auto Destroy>
using Owned = std::unique_ptr<T, Deleter<Destroy>>;

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(std::exchange(o.fd, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd, o.fd);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

struct Item {
    std::string type;
    std::string_view bytes;  // into the input
};

// One reader's pipe being filled.
struct Send {
    Fd fd;
    std::string_view left;
    Clock::time_point lastProgress;
};

struct State {
    std::vector<Item> items;
    Owned<wl_seat, wl_seat_destroy> seat;
    Owned<zwlr_data_control_manager_v1, zwlr_data_control_manager_v1_destroy> manager;
    Owned<zwlr_data_control_offer_v1, zwlr_data_control_offer_v1_destroy> offer;  // the selection's, unused
    std::vector<Send> sends;
    int syncs = 0;  // answers to wl_display_sync so far: 1 after the globals, 2 after the selection
    bool cancelled = false;
    bool finished = false;
};

bool ValidType(std::string_view type) {
    return !type.empty() && type.size() <= kMaxTypeLength &&
           std::all_of(type.begin(), type.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

// The records of the whole input, or nothing when any part of it is not as described above.
std::vector<Item> Parse(std::string_view in) {
    std::vector<Item> items;
    auto line = [&in](std::string_view& out) {
        const std::size_t end = in.find('\n');
        if (end == std::string_view::npos || end > kMaxTypes * (kMaxTypeLength + 1)) return false;
        out = in.substr(0, end);
        in.remove_prefix(end + 1);
        return true;
    };
    while (!in.empty()) {
        std::string_view types;
        std::string_view length;
        if (!line(types) || !line(length) || length.empty()) return {};
        std::size_t n = 0;
        const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), n);
        if (error != std::errc() || end != length.data() + length.size() || n > in.size()) return {};
        const std::string_view bytes = in.substr(0, n);
        in.remove_prefix(n);
        while (!types.empty()) {
            const std::size_t space = types.find(' ');
            const std::string_view type = types.substr(0, space);
            types.remove_prefix(space == std::string_view::npos ? types.size() : space + 1);
            if (!ValidType(type) || items.size() == kMaxTypes ||
                std::any_of(items.begin(), items.end(), [&](const Item& i) { return i.type == type; })) {
                return {};
            }
            items.push_back({std::string(type), bytes});
        }
    }
    return items;
}

bool ReadAll(int fd, std::string& out) {
    char buffer[kChunk];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (out.size() + static_cast<std::size_t>(got) > kMaxInput) return false;
        out.append(buffer, static_cast<std::size_t>(got));
    }
}

// --- the compositor's events ---

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
    auto* state = static_cast<State*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !state->seat) {
        state->seat.reset(static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1)));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 && !state->manager) {
        state->manager.reset(static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1)));
    }
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistry = {OnGlobal, OnGlobalRemove};

void OnSynced(void* data, wl_callback* callback, std::uint32_t) {
    wl_callback_destroy(callback);
    ++static_cast<State*>(data)->syncs;
}
const wl_callback_listener kSynced = {OnSynced};

void OnSend(void* data, zwlr_data_control_source_v1*, const char* type, int32_t fd) {
    auto* state = static_cast<State*>(data);
    Fd pipe(fd);
    const auto item = std::find_if(state->items.begin(), state->items.end(),
                                   [type](const Item& i) { return i.type == type; });
    if (item == state->items.end() || state->sends.size() >= kMaxSends) return;
    // Never wait on one reader: every pipe is written as far as it takes at once.
    const int flags = fcntl(pipe.fd, F_GETFL);
    if (flags < 0 || fcntl(pipe.fd, F_SETFL, flags | O_NONBLOCK) < 0) return;
    state->sends.push_back({std::move(pipe), item->bytes, Clock::now()});
}
void OnCancelled(void* data, zwlr_data_control_source_v1*) { static_cast<State*>(data)->cancelled = true; }
const zwlr_data_control_source_v1_listener kSource = {OnSend, OnCancelled};

// Offers of what is on the clipboard (ours included) are of no use here; each is kept until the next.
void OnDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
    static_cast<State*>(data)->offer.reset(offer);
}
void OnSelection(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {}
void OnFinished(void* data, zwlr_data_control_device_v1*) { static_cast<State*>(data)->finished = true; }
const zwlr_data_control_device_v1_listener kDevice = {OnDataOffer, OnSelection, OnFinished};

// Writes what the pipe takes now; false when this reader is done with (all written, or gone).
bool Serve(Send& send) {
    while (!send.left.empty()) {
        const ssize_t put = write(send.fd.fd, send.left.data(), std::min(send.left.size(), kChunk));
        if (put < 0) return errno == EAGAIN || errno == EINTR;
        send.left.remove_prefix(static_cast<std::size_t>(put));
        send.lastProgress = Clock::now();
    }
    return false;
}

}  // namespace

int main() {
    // A reader that closes its end early is that reader's business, not the end of this tool.
    std::signal(SIGPIPE, SIG_IGN);
    std::string input;
    if (!ReadAll(STDIN_FILENO, input)) {
        std::fprintf(stderr, "zumelko-wl-offer: standard input could not be read whole\n");
        return 1;
    }
    std::vector<Item> items = Parse(input);
    if (items.empty()) {
        std::fprintf(stderr, "zumelko-wl-offer: nothing to offer, or input not in records of types, length, bytes\n");
        return 1;
    }

    Owned<wl_display, wl_display_disconnect> display(wl_display_connect(nullptr));
    if (!display) {
        std::fprintf(stderr, "zumelko-wl-offer: no Wayland compositor\n");
        return 2;
    }
    // Everything bound to the display goes before it.
    State state;
    state.items = std::move(items);
    Owned<wl_registry, wl_registry_destroy> registry(wl_display_get_registry(display.get()));
    wl_registry_add_listener(registry.get(), &kRegistry, &state);
    wl_callback_add_listener(wl_display_sync(display.get()), &kSynced, &state);

    Owned<zwlr_data_control_source_v1, zwlr_data_control_source_v1_destroy> source;
    Owned<zwlr_data_control_device_v1, zwlr_data_control_device_v1_destroy> device;
    const auto setUpBy = Clock::now() + kSetUp;
    bool ready = false;
    for (;;) {
        if (state.syncs >= 1 && !source) {
            if (!state.seat || !state.manager) {
                std::fprintf(stderr, "zumelko-wl-offer: the compositor offers no data control or no seat\n");
                return 2;
            }
            source.reset(zwlr_data_control_manager_v1_create_data_source(state.manager.get()));
            zwlr_data_control_source_v1_add_listener(source.get(), &kSource, &state);
            for (const Item& item : state.items) zwlr_data_control_source_v1_offer(source.get(), item.type.c_str());
            device.reset(zwlr_data_control_manager_v1_get_data_device(state.manager.get(), state.seat.get()));
            zwlr_data_control_device_v1_add_listener(device.get(), &kDevice, &state);
            zwlr_data_control_device_v1_set_selection(device.get(), source.get());
            wl_callback_add_listener(wl_display_sync(display.get()), &kSynced, &state);
        }
        if (state.syncs >= 2 && !ready) {
            ready = true;
            std::puts("ready");
            std::fflush(stdout);
        }
        const auto now = Clock::now();
        state.sends.erase(std::remove_if(state.sends.begin(), state.sends.end(),
                                         [now](const Send& s) { return now - s.lastProgress > kStall; }),
                          state.sends.end());
        if ((state.cancelled || state.finished) && state.sends.empty()) return 0;
        if (!ready && now > setUpBy) {
            std::fprintf(stderr, "zumelko-wl-offer: the compositor does not answer\n");
            return 2;
        }

        while (wl_display_prepare_read(display.get()) != 0) {
            if (wl_display_dispatch_pending(display.get()) < 0) return 3;
        }
        const bool unflushed = wl_display_flush(display.get()) < 0 && errno == EAGAIN;
        std::vector<pollfd> fds{{wl_display_get_fd(display.get()), static_cast<short>(POLLIN | (unflushed ? POLLOUT : 0)), 0}};
        for (const Send& send : state.sends) fds.push_back({send.fd.fd, POLLOUT, 0});
        // Wake for the set-up's deadline and for the stall check of the readers.
        const int ms = !ready || !state.sends.empty() ? 1000 : -1;
        if (poll(fds.data(), fds.size(), ms) < 0 && errno != EINTR) {
            wl_display_cancel_read(display.get());
            return 3;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            if (wl_display_read_events(display.get()) < 0) return 3;
        } else {
            wl_display_cancel_read(display.get());
            if ((fds[0].revents & (POLLERR | POLLHUP)) != 0) return 3;
        }
        if (wl_display_dispatch_pending(display.get()) < 0) return 3;
        // Readers added just now were not polled: they are written next time round.
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents != 0 && !Serve(state.sends[i - 1])) state.sends[i - 1].left = {};
        }
        state.sends.erase(std::remove_if(state.sends.begin(), state.sends.end(),
                                         [](const Send& s) { return s.left.empty(); }),
                          state.sends.end());
    }
}
