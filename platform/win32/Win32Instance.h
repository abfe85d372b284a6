#pragma once
// The running program as an installer, a script or Windows itself reaches it: a hidden
// top-level window of a class of its own. `zumelko.exe /quit` finds it and asks the program to
// quit with a registered message, and it is told when the session ends (log-off, shut-down).
#include <optional>

#include "platform/win32/Win32Desktop.h"

namespace zumelko::platform::win32 {

class Win32Instance {
public:
    // The registered quit message ends the program as "終了(&E)" does: the loop ends and the
    // program tidies up on its way out. At the end of the session there is no way out left:
    // Windows may end the process as soon as WM_ENDSESSION has been answered, so the forms go
    // there and then (the icon is removed, the viewer chain left, the listeners closed), the
    // machine is withdrawn from discovery, and the process ends before answering.
    explicit Win32Instance(Win32Desktop& desktop);
    ~Win32Instance();
    Win32Instance(const Win32Instance&) = delete;
    Win32Instance& operator=(const Win32Instance&) = delete;

    // The window procedure (an LRESULT CALLBACK in the .cpp).
    static LResult Procedure(Hwnd window, std::uint32_t message, WParam w, LParam l);

private:
    void EndSession();

    Win32Desktop& desktop_;
    Hwnd window_ = 0;
};

// The message that asks a running instance to quit.
std::uint32_t QuitMessage();

// `zumelko.exe /quit`: asks every running instance to quit and waits for each to end, at most
// waitMs. 0 when one or more were asked and all have ended; 1 when none runs; 2 when one did
// not answer or has not ended in time.
int QuitRunningInstances(unsigned long waitMs);

// What the command line asks for instead of running the program: with `/quit` (in any letter
// case) as its one argument, the exit code of QuitRunningInstances. Nothing otherwise.
std::optional<int> QuitFromCommandLine();

}  // namespace zumelko::platform::win32
