// The program on the Linux desktop.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/Program.h"
#include "framework/Wipe.h"
#include "platform/posix/PosixSecrets.h"
#include "platform/qt/QtDesktop.h"

int main(int argc, char** argv) {
    zumelko::CommandLine line = zumelko::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
        case zumelko::CommandLine::Action::Help:
            std::fputs(zumelko::HelpText().c_str(), stdout);
            return 0;
        case zumelko::CommandLine::Action::Version:
            std::printf("%s\n", zumelko::VersionText().c_str());
            return 0;
        case zumelko::CommandLine::Action::Wrong:
            std::fprintf(stderr, "zumelko: %s\nTry 'zumelko --help'.\n", line.error.c_str());
            return zumelko::kExitWrongCommandLine;
        case zumelko::CommandLine::Action::Run:
            break;
    }
    // Out of the environment before anything is started: nothing the program starts inherits it.
    std::optional<std::string> environment =
        zumelko::platform::posix::TakeEnvironment(zumelko::kPassphraseVariable);
    const auto why = zumelko::LoadPassphrase(line.options.security, environment, std::cin,
                                             zumelko::platform::posix::PassphraseFileProblem);
    if (environment) zumelko::WipeString(*environment);
    if (why) {
        std::fprintf(stderr, "zumelko: %s\n", why->c_str());
        return zumelko::kExitWrongCommandLine;
    }
    if (const auto missing = zumelko::platform::qt::MissingDisplay()) {
        std::fprintf(stderr, "zumelko: %s; the program needs a desktop to show its icon\n", missing->c_str());
        return zumelko::kExitNoDisplay;
    }
    // The options are ours alone: Qt gets none of them to read as its own.
    int qtArgc = 1;
    zumelko::platform::qt::ScopedQtDesktop desktop(qtArgc, argv);
    desktop->QuitOnSessionEnd();
    desktop->network().StartDiscovery();
    return zumelko::RunProgram(line.options);
}
