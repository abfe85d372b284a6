#pragma once
// The simulated desktop: everything of the operating system that the program touches, in
// process and inspectable, except the sockets, which are real.
#include <memory>

#include "platform/Desktop.h"
#include "platform/posix/PosixSockets.h"
#include "platform/sim/SimClipboard.h"
#include "platform/sim/SimDde.h"
#include "platform/sim/SimGdi.h"
#include "platform/sim/SimLoop.h"
#include "platform/sim/SimNetwork.h"
#include "platform/sim/SimShell.h"
#include "platform/sim/SimUiHost.h"

namespace zumelko::platform::sim {

class SimDesktop final : public Desktop {
public:
    SimDesktop();
    ~SimDesktop() override;

    SimLoop& loop() override { return loop_; }
    PosixSockets& sockets() override { return sockets_; }
    SimClipboard& clipboard() override { return clipboard_; }
    SimGdi& gdi() override { return gdi_; }
    SimShell& shell() override { return shell_; }
    SimNetwork& network() override { return network_; }
    SimDde& dde() override { return dde_; }
    SimUiHost& ui() override { return ui_; }

private:
    SimLoop loop_;
    PosixSockets sockets_;
    SimGdi gdi_;
    SimClipboard clipboard_;
    SimShell shell_;
    SimNetwork network_;
    SimDde dde_;
    SimUiHost ui_;
};

// Installs a fresh simulated desktop for as long as it lives (tests make one per case).
class ScopedSimDesktop {
public:
    ScopedSimDesktop() { Install(&desktop_); }
    ~ScopedSimDesktop() { Install(nullptr); }
    ScopedSimDesktop(const ScopedSimDesktop&) = delete;
    ScopedSimDesktop& operator=(const ScopedSimDesktop&) = delete;
    SimDesktop* operator->() { return &desktop_; }
    SimDesktop& operator*() { return desktop_; }
    const SimDesktop* operator->() const { return &desktop_; }
    const SimDesktop& operator*() const { return desktop_; }

private:
    SimDesktop desktop_;
};

}  // namespace zumelko::platform::sim
