// The program on Windows.
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Program.h"
#include "platform/win32/Win32Desktop.h"

int main(int argc, char** argv) {
    using zumelko::CommandLine;
    using zumelko::platform::win32::SayOnConsole;
    const CommandLine line = zumelko::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), true);
    if (line.action == CommandLine::Action::Help) SayOnConsole(zumelko::HelpText(), false);
    if (line.action == CommandLine::Action::Version) SayOnConsole(zumelko::VersionText() + "\n", false);
    if (line.action == CommandLine::Action::Wrong)
        SayOnConsole("zumelko: " + line.error + "\nTry 'zumelko --help'.\n", true);
    if (line.action != CommandLine::Action::Run)
        return line.action == CommandLine::Action::Wrong ? zumelko::kExitWrongCommandLine : 0;
    zumelko::platform::win32::ScopedWin32Desktop desktop;
    desktop->network().StartDiscovery(desktop->loop());
    return zumelko::RunProgram(line.options);
}
