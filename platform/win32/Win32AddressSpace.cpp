// Windows cannot grow a large block in place: realloc copies it at every growth. Address space
// reserved with VirtualAlloc and committed page by page gives a block that never moves.
#include "platform/AddressSpace.h"
#include "platform/win32/Win32Api.h"

namespace zumelko::platform {

void* ReserveAddressSpace(std::size_t n) {
    if (n == 0) return nullptr;
    return ::VirtualAlloc(nullptr, n, MEM_RESERVE, PAGE_NOACCESS);
}

// Nothing is kept here for later blocks, so nothing is prepared either.
void PrepareAddressSpace(std::size_t) {}

bool CommitAddressSpace(void* space, std::size_t reserved, std::size_t n) {
    if (space == nullptr || n > reserved) return false;
    if (n == 0) return true;
    // Pages committed already are committed again without change.
    return ::VirtualAlloc(space, n, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

void ReleaseAddressSpace(void* space, std::size_t) noexcept {
    if (space != nullptr) ::VirtualFree(space, 0, MEM_RELEASE);
}

}  // namespace zumelko::platform
