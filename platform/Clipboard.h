#pragma once
// The system clipboard: open/close with an owner window, empty, formats, text and bitmap
// data, and the viewer chain that tells its members of every change.
//
// Each call stands for the USER32 call named beside it. The data calls (Get…/Set…) act only
// while the clipboard is open by the program, as GetClipboardData and SetClipboardData do.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace zumelko::platform {

constexpr std::uint32_t CF_TEXT_ = 1;
constexpr std::uint32_t CF_BITMAP_ = 2;
constexpr std::uint32_t CF_PALETTE_ = 9;
constexpr std::uint32_t CF_UNICODETEXT_ = 13;

class Clipboard {
public:
    virtual ~Clipboard() = default;

    // OpenClipboard: false while another program holds it open.
    virtual bool OpenClipboard(Hwnd owner) = 0;
    // CloseClipboard. Closing after a change (empty or set) sends WM_DRAWCLIPBOARD_ to the head
    // of the viewer chain once: after the clipboard is closed and before CloseClipboard returns,
    // so the program's own change has been told by then. A change made by another program
    // reaches the head through the loop, once per change, like any message from elsewhere.
    virtual bool CloseClipboard() = 0;
    // EmptyClipboard: frees every format; counts as a change even when nothing was there.
    virtual bool EmptyClipboard() = 0;
    // IsClipboardFormatAvailable: needs no open clipboard.
    virtual bool IsClipboardFormatAvailable(std::uint32_t format) = 0;

    // GetClipboardData(CF_TEXT) as GlobalLock shows it: the whole block, its terminating NUL
    // and anything after an embedded one included. Nothing when there is no text or the
    // clipboard is not open by the program.
    virtual std::optional<std::string> GetText() = 0;
    // SetClipboardData(CF_TEXT) from bytes that end with their NUL; the clipboard keeps a copy.
    virtual bool SetText(std::string_view bytesWithNul) = 0;
    // GetClipboardData(CF_UNICODETEXT) in UTF-8, as GetText gives its block. A desktop whose
    // texts are UTF-8 (Linux, the simulated one) holds its text in one form, which this gives.
    virtual std::optional<std::string> GetUnicodeText() { return GetText(); }
    // SetClipboardData(CF_UNICODETEXT) from UTF-8 that ends with its NUL, and the text in the
    // code page (CF_TEXT) beside it for programs that read only that, in the one change.
    virtual bool SetUnicodeText(std::string_view utf8WithNul) { return SetText(utf8WithNul); }
    // GetClipboardData(CF_BITMAP / CF_PALETTE): handles that stay the clipboard's (0 when absent).
    virtual Hbitmap GetBitmap() = 0;
    virtual Hpalette GetPalette() = 0;
    // SetClipboardData(CF_BITMAP / CF_PALETTE): on success the clipboard owns the handle and
    // frees the one it held in that format; on failure the handle stays the caller's.
    virtual bool SetBitmap(Hbitmap bitmap) = 0;
    virtual bool SetPalette(Hpalette palette) = 0;

    // The marks a password manager puts beside what it copies, asking clipboard tools to keep
    // it out of their histories and off other machines. Windows: the registered formats
    // "ExcludeClipboardContentFromMonitorProcessing" or "Clipboard Viewer Ignore" present, or
    // "CanIncludeInClipboardHistory" or "CanUploadToCloudClipboard" holding a DWORD 0. Linux:
    // the type "x-kde-passwordManagerHint" holding "secret".
    // IsMarkedSecret: whether what the clipboard holds carries them; false unless the clipboard
    // is open by the program. Read as the data is (the same opening), never ahead of it.
    virtual bool IsMarkedSecret() = 0;
    // Puts the desktop's marks beside what this opening writes (call it after the data): they
    // are committed with it, as one change, and other programs see them with it. False when the
    // clipboard is not open by the program.
    virtual bool MarkSecret() = 0;

    // SetClipboardViewer: makes viewer the head of the chain, sends it WM_DRAWCLIPBOARD_, and
    // returns the window that was the head (the viewer's next), or 0.
    virtual Hwnd SetClipboardViewer(Hwnd viewer) = 0;
    // ChangeClipboardChain: removes a window from the chain. When it is the head, next becomes
    // the head. Then WM_CHANGECBCHAIN_ (remove, next) is sent to the head (the new one, when the
    // head left), which passes it down to the window before the leaving one. Returns whether the
    // head answered non-zero (a viewer answers 0, so usually false); true when no window is left
    // in the chain to tell, leaving an empty chain included.
    virtual bool ChangeClipboardChain(Hwnd remove, Hwnd next) = 0;
};

}  // namespace zumelko::platform
