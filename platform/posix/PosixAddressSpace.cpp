// Space mapped without access and opened page by page as the block grows. glibc's realloc
// already grows large blocks by remapping their pages; a space set aside also saves the
// remapping, and the block's address stays the same.
//
// The last two large spaces given back are kept for the next large blocks, their pages handed to
// the system as free (MADV_FREE): the system takes them back only when it needs memory, and until
// then the next packet or picture writes into pages that are already there instead of taking a
// fault for every 4 KiB of it, which costs about a third of a receiver's time for a large item.
//
// When nothing kept fits a block that is known to be coming (a received picture's image, while
// its packet is still arriving), a space can be prepared for it: mapped and its pages put in
// place on a thread of this file's own, in one call rather than one fault per page.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/AddressSpace.h"

namespace zumelko::platform {

namespace {
// Spaces of these sizes (every packet that sets its space aside, up to a 4096 x 2160 picture of
// 32 bits: 33.75 MiB) are followed, and kept when given back.
constexpr std::size_t kKeepFrom = std::size_t{256} << 10;
constexpr std::size_t kKeepAtMost = std::size_t{40} << 20;

bool Keepable(std::size_t n) { return n >= kKeepFrom && n <= kKeepAtMost; }

std::size_t Pages(std::size_t n) {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (n + page - 1) / page * page;
}

// Without access (opened as the block grows) unless told otherwise.
void* Map(std::size_t n, int access = PROT_NONE) {
    void* space = ::mmap(nullptr, n, access, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return space == MAP_FAILED ? nullptr : space;
}

// A space fits a block that needs no more than it has and not much less, so that a small block
// does not hold a large space.
bool Fits(std::size_t mapped, std::size_t n) { return mapped >= n && mapped / 4 <= n; }

class Spaces {
public:
    // A kept space for a block of n bytes, followed again; nullptr when none fits. Of two that
    // fit, the smaller; the prepared space only when no kept one fits, once its pages are in.
    void* Take(std::size_t n) {
        std::unique_lock lock(mutex_);
        Kept* best = nullptr;
        for (Kept& k : kept_) {
            if (k.at == nullptr || !Fits(k.mapped, n)) continue;
            if (best == nullptr || k.mapped < best->mapped) best = &k;
        }
        if (best != nullptr) {
            followed_.emplace(best->at, best->mapped);  // first: if it throws, the space stays kept
            return std::exchange(best->at, nullptr);
        }
        // Waiting for the rest of its pages is shorter than faulting all of them in anew.
        changed_.wait(lock, [this, n] {
            return prepared_.at == nullptr || !Fits(prepared_.mapped, n) || !prepared_.filling;
        });
        if (prepared_.at == nullptr || !Fits(prepared_.mapped, n)) return nullptr;
        // Already open: committing it changes nothing, where closing it first would cost as
        // much as a third of the pages' own filling.
        followed_.emplace(prepared_.at, prepared_.mapped);
        void* at = std::exchange(prepared_.at, nullptr);
        changed_.notify_all();
        return at;
    }
    // Maps a space of n bytes and has the worker put its pages in place, unless a kept or
    // prepared space already fits such a block or a space is being filled now.
    void Prepare(std::size_t n) {
        void* drop = nullptr;
        std::size_t dropLength = 0;
        {
            const std::lock_guard lock(mutex_);
            for (const Kept& k : kept_) {
                if (k.at != nullptr && Fits(k.mapped, n)) return;
            }
            if (prepared_.at != nullptr && (Fits(prepared_.mapped, n) || prepared_.filling)) return;
            void* space = Map(n, PROT_READ | PROT_WRITE);
            if (space == nullptr) return;
            if (!worker_.joinable()) {
                try {
                    worker_ = std::thread([this] { Work(); });
                } catch (...) {
                    ::munmap(space, n);
                    return;
                }
            }
            drop = std::exchange(prepared_.at, space);
            dropLength = std::exchange(prepared_.mapped, n);
            prepared_.filling = true;
            ++prepared_.serial;
        }
        changed_.notify_all();
        if (drop != nullptr) ::munmap(drop, dropLength);
    }
    void Follow(void* at, std::size_t mapped) {
        const std::lock_guard lock(mutex_);
        followed_.emplace(at, mapped);
    }
    // True when the space was followed: it is then kept, in place of the one given back longest
    // ago, which is unmapped.
    bool Give(void* at) noexcept {
        void* drop = nullptr;
        std::size_t dropLength = 0;
        {
            const std::lock_guard lock(mutex_);
            const auto it = followed_.find(at);
            if (it == followed_.end()) return false;
            const std::size_t mapped = it->second;
            followed_.erase(it);
            (void)::madvise(at, mapped, MADV_FREE);
            Kept* place = &kept_[0];
            for (Kept& k : kept_) {
                if (k.at == nullptr || (place->at != nullptr && k.given < place->given)) place = &k;
            }
            drop = std::exchange(place->at, at);
            dropLength = std::exchange(place->mapped, mapped);
            place->given = ++given_;
        }
        if (drop != nullptr) ::munmap(drop, dropLength);
        return true;
    }

private:
    // The worker: fills the prepared space, then, if no block has taken it within a while,
    // hands its pages to the system as free as a kept space's are (it stays there to be taken).
    void Work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return prepared_.filling; });
            void* at = prepared_.at;
            const std::size_t mapped = prepared_.mapped;
            const std::uint64_t serial = prepared_.serial;
            lock.unlock();
            Populate(at, mapped);
            lock.lock();
            prepared_.filling = false;
            changed_.notify_all();
            const bool taken = changed_.wait_for(lock, kPreparedFor, [this, serial] {
                return prepared_.serial != serial || prepared_.at == nullptr;
            });
            if (!taken) (void)::madvise(at, mapped, MADV_FREE);
        }
    }
    // In steps: the whole space at once would hold the process's map for as long, and every
    // other thread that opens pages of a growing block (a packet arriving) would wait for it.
    static void Populate(void* at, std::size_t mapped) {
        static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        auto* bytes = static_cast<std::uint8_t*>(at);
        for (std::size_t from = 0; from < mapped; from += kPopulateStep) {
            const std::size_t n = std::min(kPopulateStep, mapped - from);
            if (::madvise(bytes + from, n, MADV_POPULATE_WRITE) == 0) continue;
            // A system without it: one write per page, here rather than in the block's user.
            auto* step = static_cast<volatile std::uint8_t*>(bytes + from);
            for (std::size_t i = 0; i < n; i += page) step[i] = 0;
        }
    }

    static constexpr std::size_t kPopulateStep = std::size_t{1} << 20;

    static constexpr std::chrono::seconds kPreparedFor{10};

    struct Prepared {
        void* at = nullptr;
        std::size_t mapped = 0;
        bool filling = false;      // the worker is putting its pages in place
        std::uint64_t serial = 0;  // which space the worker was last given
    };

    struct Kept {
        void* at = nullptr;
        std::size_t mapped = 0;  // the length of the mapping, which may be more than its next user asks for
        std::uint64_t given = 0;
    };
    std::mutex mutex_;
    std::unordered_map<void*, std::size_t> followed_;  // space → the length of its mapping
    // Two: a received picture's packet and the image made from it are given back in turn.
    std::array<Kept, 2> kept_{};
    std::uint64_t given_ = 0;
    // At most one prepared space, in place until a block takes it or another replaces it.
    Prepared prepared_;
    std::condition_variable changed_;
    std::thread worker_;  // never joined: the spaces live until the process ends
};

Spaces& Followed() {
    static Spaces* spaces = new Spaces;  // never destroyed: blocks may be given back during exit
    return *spaces;
}
}  // namespace

void* ReserveAddressSpace(std::size_t n) {
    if (n == 0) return nullptr;
    if (!Keepable(n)) return Map(n);
    if (void* kept = Followed().Take(n)) return kept;
    void* space = Map(n);
    if (space == nullptr) return nullptr;
    try {
        Followed().Follow(space, n);
    } catch (...) {
        ::munmap(space, n);
        return nullptr;
    }
    return space;
}

void PrepareAddressSpace(std::size_t n) {
    if (Keepable(n)) Followed().Prepare(Pages(n));
}

bool CommitAddressSpace(void* space, std::size_t reserved, std::size_t n) {
    if (space == nullptr || n > reserved) return false;
    if (n == 0) return true;
    // The mapping ends on a page boundary, so the last page is whole even when `reserved` is not.
    return ::mprotect(space, Pages(n), PROT_READ | PROT_WRITE) == 0;
}

void ReleaseAddressSpace(void* space, std::size_t reserved) noexcept {
    if (space == nullptr) return;
    if (Keepable(reserved) && Followed().Give(space)) return;
    ::munmap(space, reserved);
}

}  // namespace zumelko::platform
