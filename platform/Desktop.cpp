#include "platform/Desktop.h"

#include <cstdlib>
#include <cstdio>

namespace zumelko::platform {

namespace {
Desktop* g_desktop = nullptr;
}

Desktop& Current() {
    if (g_desktop == nullptr) {
        std::fputs("zumelko: no desktop installed\n", stderr);
        std::abort();
    }
    return *g_desktop;
}

void Install(Desktop* desktop) { g_desktop = desktop; }

}  // namespace zumelko::platform
