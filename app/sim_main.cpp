// Zumelko on the simulated desktop: the whole program, with a console that plays its user.
// Each line on standard input is a command ("help" lists them); each gets one reply line.
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "app/Program.h"
#include "app/SimInstance.h"
#include "framework/Application.h"
#include "platform/sim/LineChannel.h"
#include "platform/sim/SimDesktop.h"

int main(int argc, char** argv) {
    zumelko::SimInstanceOptions options;
    try {
        options = zumelko::ParseSimInstanceOptions(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zumelko-sim: %s\n", e.what());
        return 2;
    }
    zumelko::platform::sim::ScopedSimDesktop desktop;
    zumelko::ConfigureSimDesktop(*desktop, options);
    zumelko::platform::sim::LineChannel console(desktop->loop(), STDIN_FILENO, STDOUT_FILENO,
                                                [&desktop](const std::string& line) {
                                                    return zumelko::RunSimCommand(*desktop, line);
                                                });
    console.SetClosedHandler([&desktop] { desktop->loop().PostQuit(); });
    return zumelko::RunProgram();
}
