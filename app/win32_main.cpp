// The program on Windows.
#include "app/Program.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Instance.h"

int main() {
    if (const auto code = zumelko::platform::win32::QuitFromCommandLine()) return *code;
    zumelko::platform::win32::ScopedWin32Desktop desktop;
    desktop->network().StartDiscovery(desktop->loop());
    const zumelko::platform::win32::Win32Instance instance(*desktop);
    return zumelko::RunProgram();
}
