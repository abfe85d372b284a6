// Space mapped without access and opened page by page as the block grows. glibc's realloc
// already grows large blocks by remapping their pages; a space set aside also saves the
// remapping, and the block's address stays the same.
//
// The last two large spaces given back are kept for the next large blocks, their pages handed to
// the system as free (MADV_FREE): the system takes them back only when it needs memory, and until
// then the next packet or picture writes into pages that are already there instead of taking a
// fault for every 4 KiB of it, which costs about a third of a receiver's time for a large item.
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <mutex>
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

void* Map(std::size_t n) {
    void* space = ::mmap(nullptr, n, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return space == MAP_FAILED ? nullptr : space;
}

class Spaces {
public:
    // A kept space for a block of n bytes, followed again; nullptr when none fits. A space fits
    // a block that needs no more than it has and not much less, so that a small block does not
    // hold a large space; of two that fit, the smaller.
    void* Take(std::size_t n) {
        const std::lock_guard lock(mutex_);
        Kept* best = nullptr;
        for (Kept& k : kept_) {
            if (k.at == nullptr || k.mapped < n || k.mapped / 4 > n) continue;
            if (best == nullptr || k.mapped < best->mapped) best = &k;
        }
        if (best == nullptr) return nullptr;
        void* at = std::exchange(best->at, nullptr);
        followed_.emplace(at, best->mapped);
        return at;
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
