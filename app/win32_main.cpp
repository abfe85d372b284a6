// The program on Windows.
#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Program.h"
#include "framework/Wipe.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Instance.h"
#include "platform/win32/Win32Text.h"

int main(int argc, char** argv) {
    using zumelko::CommandLine;
    using zumelko::platform::win32::SayOnConsole;
    // An installer or a script ending the running copy: asked before any option is read.
    if (const auto code = zumelko::platform::win32::QuitFromCommandLine()) return *code;
    CommandLine line = zumelko::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), true);
    if (line.action == CommandLine::Action::Help) SayOnConsole(zumelko::HelpText(), false);
    if (line.action == CommandLine::Action::Version) SayOnConsole(zumelko::VersionText() + "\n", false);
    if (line.action == CommandLine::Action::Wrong)
        SayOnConsole("zumelko: " + line.error + "\nTry 'zumelko --help'.\n", true);
    if (line.action != CommandLine::Action::Run)
        return line.action == CommandLine::Action::Wrong ? zumelko::kExitWrongCommandLine : 0;
    // The passphrase reaches the key as UTF-8 whatever the code page: the variable is read in
    // UTF-16, the file holds UTF-8.
    // Taken out of the environment, so that nothing the program starts inherits it. A passphrase
    // file's permissions are not looked at here: its access list is the system's to keep (a file
    // in the user's own profile is theirs alone).
    auto environment = zumelko::platform::win32::TakeEnvironmentUtf8(L"ZUMELKO_PASSPHRASE");
    const auto why = zumelko::LoadPassphrase(line.options.security, environment, std::cin);
    if (environment) zumelko::WipeString(*environment);
    if (why) {
        SayOnConsole("zumelko: " + *why + "\n", true);
        return zumelko::kExitWrongCommandLine;
    }
    zumelko::platform::win32::ScopedWin32Desktop desktop;
    desktop->network().StartDiscovery(desktop->loop());
    const zumelko::platform::win32::Win32Instance instance(*desktop);
    return zumelko::RunProgram(line.options);
}
