// The program on the Linux desktop.
#include "app/Program.h"
#include "platform/qt/QtDesktop.h"

int main(int argc, char** argv) {
    zumelko::platform::qt::ScopedQtDesktop desktop(argc, argv);
    desktop->QuitOnSessionEnd();
    desktop->network().StartDiscovery();
    return zumelko::RunProgram();
}
