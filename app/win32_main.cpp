// The program on Windows.
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Program.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Instance.h"

int main(int argc, char** argv) {
    using zumelko::CommandLine;
    using zumelko::platform::win32::SayOnConsole;
    // An installer or a script ending the running copy: asked before any option is read.
    if (const auto code = zumelko::platform::win32::QuitFromCommandLine()) return *code;
    const CommandLine line = zumelko::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), true);
    if (line.action == CommandLine::Action::Help) SayOnConsole(zumelko::HelpText(), false);
    if (line.action == CommandLine::Action::Version) SayOnConsole(zumelko::VersionText() + "\n", false);
    if (line.action == CommandLine::Action::Wrong)
        SayOnConsole("zumelko: " + line.error + "\nTry 'zumelko --help'.\n", true);
    if (line.action != CommandLine::Action::Run)
        return line.action == CommandLine::Action::Wrong ? zumelko::kExitWrongCommandLine : 0;
    zumelko::platform::win32::ScopedWin32Desktop desktop;
    desktop->network().StartDiscovery(desktop->loop());
    const zumelko::platform::win32::Win32Instance instance(*desktop);
    return zumelko::RunProgram(line.options);
}
