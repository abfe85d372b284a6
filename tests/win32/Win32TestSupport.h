#pragma once
// What the Windows desktop's tests share: the real desktop installed for the whole run (under
// Wine, on the display and in the locale the session set up), letting its loop run, and
// keeping pictures of windows as artifacts of the run.
#include <functional>
#include <string>

#include "platform/win32/Win32Desktop.h"

namespace zumelko::wintest {

platform::win32::Win32Desktop& Desk();
// Lets the loop run for a while; until done() or the time is up.
void Pump(int ms);
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Keeps a picture of a window's client area (as the screen shows it) under the run's artifacts as a BMP
// file; returns its path, or "" when it could not be taken.
std::string SaveShot(platform::Hwnd window, const std::string& name);

// How a connection that sent a packet ended: the receiver closed in order (it took the packet),
// reset it (it refused it), or neither (no connection, or nothing within 5 s).
enum class Ending { Closed, Reset, None };
// Writes one packet (its length in four bytes, low first, then the payload) from a plain
// blocking socket bound to the source address to 127.0.0.1:port, on the calling thread.
Ending SendPacketFrom(const char* source, unsigned short port, const std::string& payload);

}  // namespace zumelko::wintest
