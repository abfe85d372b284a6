#pragma once
// The USER32 clipboard and its viewer chain, passed straight through: the change notices and
// their count are the system's own.
#include "platform/Clipboard.h"

namespace zumelko::platform::win32 {

class Win32Clipboard final : public Clipboard {
public:
    // Clipboard overrides:
    bool OpenClipboard(Hwnd owner) override;
    bool CloseClipboard() override;
    bool EmptyClipboard() override;
    bool IsClipboardFormatAvailable(std::uint32_t format) override;
    std::optional<std::string> GetText() override;
    bool SetText(std::string_view bytesWithNul) override;
    std::optional<std::string> GetUnicodeText() override;
    bool SetUnicodeText(std::string_view utf8WithNul) override;
    Hbitmap GetBitmap() override;
    Hpalette GetPalette() override;
    bool SetBitmap(Hbitmap bitmap) override;
    bool SetPalette(Hpalette palette) override;
    bool IsMarkedSecret() override;
    bool MarkSecret() override;
    Hwnd SetClipboardViewer(Hwnd viewer) override;
    bool ChangeClipboardChain(Hwnd remove, Hwnd next) override;

private:
    // Windows keeps the clipboard for the window that opened it; Wine lets another window of
    // the same thread open it again meanwhile, so the window is checked here too.
    bool open_ = false;
    Hwnd openOwner_ = 0;
};

}  // namespace zumelko::platform::win32
