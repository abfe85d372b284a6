// Space mapped without access and opened page by page as the block grows. glibc's realloc
// already grows large blocks by remapping their pages; a space set aside also saves the
// remapping, and the block's address stays the same.
#include <sys/mman.h>
#include <unistd.h>

#include "platform/AddressSpace.h"

namespace zumelko::platform {

namespace {
std::size_t Pages(std::size_t n) {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (n + page - 1) / page * page;
}
}  // namespace

void* ReserveAddressSpace(std::size_t n) {
    if (n == 0) return nullptr;
    void* space = ::mmap(nullptr, n, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return space == MAP_FAILED ? nullptr : space;
}

bool CommitAddressSpace(void* space, std::size_t reserved, std::size_t n) {
    if (space == nullptr || n > reserved) return false;
    if (n == 0) return true;
    // The mapping ends on a page boundary, so the last page is whole even when `reserved` is not.
    return ::mprotect(space, Pages(n), PROT_READ | PROT_WRITE) == 0;
}

void ReleaseAddressSpace(void* space, std::size_t reserved) noexcept {
    if (space != nullptr) ::munmap(space, reserved);
}

}  // namespace zumelko::platform
