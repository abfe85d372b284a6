#pragma once
// The one place the Windows headers come in. Their A/W macros would rename any method called
// PostMessage, SendMessage, GetObject, GetUserName, SetPort… everywhere after them, so only the
// backend's .cpp files include this, it takes back the macros that clash with names of ours,
// and the backend calls the …A and …W functions by name.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ddeml.h>
#include <shellapi.h>
#include <winnetwk.h>
#include <commctrl.h>
#include <windns.h>
// clang-format on

// The seam and the components have methods of these names; the backend calls the …A and …W
// functions by name, so the A/W macros go.
#undef PostMessage
#undef SendMessage
#undef GetObject
#undef GetUserName
#undef GetComputerName
#undef WNetOpenEnum
#undef WNetEnumResource
#undef SetPort
#undef DrawText
#undef CreateWindow
#undef LoadImage

#include <memory>
#include <type_traits>

namespace zumelko::platform::win32 {

// Owners for the handles the backend makes and frees itself.
struct GdiObjectFree {
    void operator()(HGDIOBJ h) const noexcept { ::DeleteObject(h); }
};
struct MemoryDcFree {
    void operator()(HDC dc) const noexcept { ::DeleteDC(dc); }
};
struct GlobalFreer {
    void operator()(HGLOBAL h) const noexcept { ::GlobalFree(h); }
};
struct WindowFree {
    void operator()(HWND w) const noexcept { ::DestroyWindow(w); }
};
struct MenuFree {
    void operator()(HMENU m) const noexcept { ::DestroyMenu(m); }
};
struct IconFree {
    void operator()(HICON i) const noexcept { ::DestroyIcon(i); }
};

using UniqueGdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectFree>;
using UniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcFree>;
using UniqueGlobal = std::unique_ptr<std::remove_pointer_t<HGLOBAL>, GlobalFreer>;
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowFree>;
using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuFree>;

// The screen's DC for as long as it is needed.
class ScreenDc {
public:
    ScreenDc() : dc_(::GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_ != nullptr) ::ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// GlobalLock for as long as the lock is needed.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL h) : h_(h), p_(h != nullptr ? ::GlobalLock(h) : nullptr) {}
    ~GlobalLockGuard() {
        if (p_ != nullptr) ::GlobalUnlock(h_);
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    void* get() const { return p_; }

private:
    HGLOBAL h_;
    void* p_;
};

// A palette selected (and realized) into a DC, put back when done.
class SelectedPalette {
public:
    SelectedPalette(HDC dc, HPALETTE palette) : dc_(dc) {
        if (palette != nullptr) {
            old_ = ::SelectPalette(dc, palette, FALSE);
            ::RealizePalette(dc);
        }
    }
    ~SelectedPalette() {
        if (old_ != nullptr) ::SelectPalette(dc_, old_, FALSE);
    }
    SelectedPalette(const SelectedPalette&) = delete;
    SelectedPalette& operator=(const SelectedPalette&) = delete;

private:
    HDC dc_;
    HPALETTE old_ = nullptr;
};

// An object selected into a DC, put back when done.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (old_ != nullptr && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    bool ok() const { return old_ != nullptr && old_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ old_;
};

template <typename Handle>
Handle AsHandle(std::uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}
template <typename Handle>
std::uintptr_t FromHandle(Handle h) {
    return reinterpret_cast<std::uintptr_t>(h);
}

// UTF-8 (the program's own texts) to UTF-16 for the wide-character window functions.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

}  // namespace zumelko::platform::win32
