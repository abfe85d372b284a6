#pragma once
#include "platform/Clipboard.h"
#include "platform/sim/SimLoop.h"

namespace zumelko::platform::sim {

class SimGdi;

// Not built yet: a clipboard that holds nothing.
class SimClipboard final : public Clipboard {
public:
    SimClipboard(SimLoop& loop, SimGdi& gdi) : loop_(loop), gdi_(gdi) {}
    bool OpenClipboard(Hwnd) override { return false; }
    bool CloseClipboard() override { return false; }
    bool EmptyClipboard() override { return false; }
    bool IsClipboardFormatAvailable(std::uint32_t) override { return false; }
    std::optional<std::string> GetText() override { return std::nullopt; }
    bool SetText(std::string_view) override { return false; }
    Hbitmap GetBitmap() override { return 0; }
    Hpalette GetPalette() override { return 0; }
    bool SetBitmap(Hbitmap) override { return false; }
    bool SetPalette(Hpalette) override { return false; }
    Hwnd SetClipboardViewer(Hwnd) override { return 0; }
    bool ChangeClipboardChain(Hwnd, Hwnd) override { return false; }

private:
    [[maybe_unused]] SimLoop& loop_;
    [[maybe_unused]] SimGdi& gdi_;
};

}  // namespace zumelko::platform::sim
