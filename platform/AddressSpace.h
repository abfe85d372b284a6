#pragma once
// Address space set aside for one block that grows in place: the space holds no memory until
// it is committed, so a block can take the pages it needs as it fills and never move.
// Where a backend sets nothing aside (ReserveAddressSpace answers nullptr), callers keep to
// ordinary blocks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace zumelko::platform {

// n bytes of address space, no memory yet; nullptr when the system will not set it aside.
void* ReserveAddressSpace(std::size_t n);

// A block of about n bytes is about to be asked for and nothing kept may fit it: a backend may
// set a space aside for it now and put its memory in place off the caller's thread, for the
// next ReserveAddressSpace it fits. Only a hint; it does nothing where a backend keeps nothing.
void PrepareAddressSpace(std::size_t n);

// Makes the first n bytes of a space of `reserved` bytes readable and writable, keeping what
// was committed before and its contents (n <= reserved). False when the system will not give
// the memory; what was committed before is then still there.
bool CommitAddressSpace(void* space, std::size_t reserved, std::size_t n);

// Gives back the whole space, its memory and its addresses.
void ReleaseAddressSpace(void* space, std::size_t reserved) noexcept;

// A block from malloc, given back with free (a memory stream can take one over as it is).
struct FreeBytes {
    void operator()(std::uint8_t* p) const noexcept { std::free(p); }
};
using MallocBytes = std::unique_ptr<std::uint8_t, FreeBytes>;

}  // namespace zumelko::platform
