#pragma once
// The Windows desktop: one object per process, made on the thread that runs the loop and
// installed before any component is created.
#include <memory>
#include <string>

#include "platform/Desktop.h"
#include "platform/win32/Win32Clipboard.h"
#include "platform/win32/Win32Dde.h"
#include "platform/win32/Win32Gdi.h"
#include "platform/win32/Win32Loop.h"
#include "platform/win32/Win32Network.h"
#include "platform/win32/Win32Shell.h"
#include "platform/win32/Win32Sockets.h"
#include "platform/win32/Win32UiHost.h"

namespace zumelko::platform::win32 {

class Win32Desktop final : public Desktop {
public:
    Win32Desktop();
    ~Win32Desktop() override;
    Win32Desktop(const Win32Desktop&) = delete;
    Win32Desktop& operator=(const Win32Desktop&) = delete;

    Win32Loop& loop() override { return *loop_; }
    Win32Sockets& sockets() override { return *sockets_; }
    Win32Clipboard& clipboard() override { return *clipboard_; }
    Win32Gdi& gdi() override { return *gdi_; }
    Win32Shell& shell() override { return *shell_; }
    Win32Network& network() override { return *network_; }
    Win32Dde& dde() override { return *dde_; }
    Win32UiHost& ui() override { return *ui_; }

private:
    std::unique_ptr<Win32Loop> loop_;
    std::unique_ptr<Win32Sockets> sockets_;
    std::unique_ptr<Win32Clipboard> clipboard_;
    std::unique_ptr<Win32Gdi> gdi_;
    std::unique_ptr<Win32Shell> shell_;
    std::unique_ptr<Win32Network> network_;
    std::unique_ptr<Win32Dde> dde_;
    std::unique_ptr<Win32UiHost> ui_;
};

// Says a UTF-8 text of the command line's (help, version, a wrong option) where its user sees
// it: on standard output or error when they lead somewhere (a console, a pipe, a file), on the
// console of the program that started this one, or else in a message box.
void SayOnConsole(const std::string& utf8, bool error);

// Installs a desktop for as long as it lives.
class ScopedWin32Desktop {
public:
    ScopedWin32Desktop() { Install(&desktop_); }
    ~ScopedWin32Desktop() { Install(nullptr); }
    ScopedWin32Desktop(const ScopedWin32Desktop&) = delete;
    ScopedWin32Desktop& operator=(const ScopedWin32Desktop&) = delete;
    Win32Desktop* operator->() { return &desktop_; }
    Win32Desktop& operator*() { return desktop_; }

private:
    Win32Desktop desktop_;
};

}  // namespace zumelko::platform::win32
