#include "platform/sim/SimDesktop.h"

namespace zumelko::platform::sim {

SimDesktop::SimDesktop()
    : sockets_(loop_), clipboard_(loop_, gdi_), shell_(loop_), ui_(loop_) {
    loop_.AddIoSource(sockets_);
}

SimDesktop::~SimDesktop() { loop_.RemoveIoSource(sockets_); }

}  // namespace zumelko::platform::sim
