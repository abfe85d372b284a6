// The program on Windows.
#include "app/Program.h"
#include "platform/win32/Win32Desktop.h"

int main() {
    zumelko::platform::win32::ScopedWin32Desktop desktop;
    desktop->network().StartDiscovery(desktop->loop());
    return zumelko::RunProgram();
}
