// The platform seam's contract on the simulated desktop.
#include <chrono>

#include "platform/sim/SimDesktop.h"
#include "tests/contract/ReassemblyContract.h"
#include "tests/contract/SeamContract.h"

namespace zumelko::contract {
namespace {

class SimSeam {
public:
    SimSeam() { desktop_->clipboard().AddOtherProgram(kOther); }
    platform::Desktop& Desk() { return *desktop_; }
    void Settle() { desktop_->loop().RunFor(std::chrono::milliseconds(20)); }
    bool RunUntil(const std::function<bool()>& done, int ms = 5000) {
        return desktop_->loop().RunUntilFor(done, std::chrono::milliseconds(ms));
    }
    void OtherProgramCopies(const std::string& text, bool secret = false) {
        auto& clipboard = desktop_->clipboard();
        clipboard.OpenClipboard(kOther);
        clipboard.EmptyClipboard();
        clipboard.SetText(text + '\0');
        if (secret) clipboard.MarkSecret();
        clipboard.CloseClipboard();
    }
    bool OtherProgramSeesSecret() {
        auto& clipboard = desktop_->clipboard();
        clipboard.OpenClipboard(kOther);
        const bool secret = clipboard.IsMarkedSecret();
        clipboard.CloseClipboard();
        return secret;
    }
    void RestoreExceptionHandler() { desktop_->loop().SetExceptionHandler(nullptr); }

private:
    static constexpr Hwnd kOther = 0x77;
    platform::sim::ScopedSimDesktop desktop_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Sim, ClipboardContract, SimSeam);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, LoopContract, SimSeam);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, SocketContract, SimSeam);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, ReassemblyContract, SimSeam);

}  // namespace
}  // namespace zumelko::contract
