#pragma once
// The system clipboard: open/close with an owner window, empty, formats, text and bitmap
// data, and the viewer chain that tells its members of every change.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace zumelko::platform {

constexpr std::uint32_t CF_TEXT_ = 1;
constexpr std::uint32_t CF_BITMAP_ = 2;
constexpr std::uint32_t CF_PALETTE_ = 9;

class Clipboard {
public:
    virtual ~Clipboard() = default;

    virtual bool OpenClipboard(Hwnd owner) = 0;
    // Closing after a change notifies the viewer chain once (WM_DRAWCLIPBOARD to its head).
    virtual bool CloseClipboard() = 0;
    virtual bool EmptyClipboard() = 0;
    virtual bool IsClipboardFormatAvailable(std::uint32_t format) = 0;

    // CF_TEXT: the bytes up to the first NUL, or nothing when there is no text
    // (or the clipboard is not open by the caller).
    virtual std::optional<std::string> GetText() = 0;
    // CF_TEXT from bytes that end with their NUL; the clipboard keeps its own copy.
    virtual bool SetText(std::string_view bytesWithNul) = 0;
    // CF_BITMAP / CF_PALETTE: handles that stay the clipboard's (0 when absent).
    virtual Hbitmap GetBitmap() = 0;
    virtual Hpalette GetPalette() = 0;
    // The clipboard takes ownership of the handle.
    virtual bool SetBitmap(Hbitmap bitmap) = 0;
    virtual bool SetPalette(Hpalette palette) = 0;

    // Joins the viewer chain; returns the window that was the head (the next viewer), or 0.
    virtual Hwnd SetClipboardViewer(Hwnd viewer) = 0;
    // Removes a window from the chain, telling the chain with WM_CHANGECBCHAIN.
    virtual bool ChangeClipboardChain(Hwnd remove, Hwnd next) = 0;
};

}  // namespace zumelko::platform
