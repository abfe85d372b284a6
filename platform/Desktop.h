#pragma once
// The desktop the program runs on: one object per process, installed by the entry point
// (or a test) before any component is created.
#include "platform/Clipboard.h"
#include "platform/Dde.h"
#include "platform/Gdi.h"
#include "platform/Loop.h"
#include "platform/Network.h"
#include "platform/Shell.h"
#include "platform/Sockets.h"
#include "platform/UiHost.h"

namespace zumelko::platform {

class Desktop {
public:
    virtual ~Desktop() = default;
    virtual Loop& loop() = 0;
    virtual Sockets& sockets() = 0;
    virtual Clipboard& clipboard() = 0;
    virtual Gdi& gdi() = 0;
    virtual Shell& shell() = 0;
    virtual Network& network() = 0;
    virtual Dde& dde() = 0;
    virtual UiHost& ui() = 0;
};

// The installed desktop; using it before one is installed is a programming error.
Desktop& Current();
void Install(Desktop* desktop);

}  // namespace zumelko::platform
