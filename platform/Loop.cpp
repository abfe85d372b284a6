#include "platform/Loop.h"

#include <cstdio>

namespace zumelko::platform {

LResult Loop::Deliver(const WindowProc& proc, std::uint32_t message, WParam w, LParam l) {
    try {
        return proc(message, w, l);
    } catch (const std::exception& e) {
        if (exceptionHandler_) {
            exceptionHandler_(e);
        } else {
            std::fprintf(stderr, "zumelko: %s\n", e.what());
        }
    }
    return 0;
}

}  // namespace zumelko::platform
