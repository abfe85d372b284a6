#pragma once
// Handle and message types shared by every desktop. They are shaped after the Win32 ones the
// program was designed against, so the Windows desktop passes them straight through.
#include <cstdint>
#include <functional>

namespace zumelko::platform {

using Hwnd = std::uintptr_t;  // 0: no window
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;
using WindowProc = std::function<LResult(std::uint32_t message, WParam, LParam)>;

using Hbitmap = std::uintptr_t;   // 0: none
using Hpalette = std::uintptr_t;  // 0: none
using Hicon = std::uintptr_t;     // 0: none

constexpr std::uint32_t WM_USER_ = 0x0400;
constexpr std::uint32_t WM_APP_ = 0x8000;
constexpr std::uint32_t WM_TIMER_ = 0x0113;
constexpr std::uint32_t WM_DRAWCLIPBOARD_ = 0x0308;
constexpr std::uint32_t WM_CHANGECBCHAIN_ = 0x030D;
constexpr std::uint32_t WM_MOUSEMOVE_ = 0x0200;
constexpr std::uint32_t WM_LBUTTONDOWN_ = 0x0201;
constexpr std::uint32_t WM_LBUTTONUP_ = 0x0202;
constexpr std::uint32_t WM_LBUTTONDBLCLK_ = 0x0203;
constexpr std::uint32_t WM_RBUTTONDOWN_ = 0x0204;
constexpr std::uint32_t WM_RBUTTONUP_ = 0x0205;
constexpr std::uint32_t WM_RBUTTONDBLCLK_ = 0x0206;
constexpr std::uint32_t WM_MBUTTONDOWN_ = 0x0207;
constexpr std::uint32_t WM_MBUTTONUP_ = 0x0208;
constexpr std::uint32_t WM_MBUTTONDBLCLK_ = 0x0209;

struct Point {
    int x = 0;
    int y = 0;
};

}  // namespace zumelko::platform
