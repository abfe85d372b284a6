#pragma once
// The program on the simulated desktop, played from outside through a line channel: the test
// driver (or a person at a terminal) copies things to the clipboard, clicks the tray icon, reads
// and answers the dialogs, and inspects what happened.
#include <cstdint>
#include <string>
#include <vector>

namespace zumelko::platform::sim {
class SimDesktop;
}

namespace zumelko {

struct SimInstanceOptions {
    std::string address;                              // this host's loopback address, e.g. 127.0.0.2
    std::vector<std::pair<std::string, std::string>> hosts;  // name -> dotted address
    std::string user = "user";
    std::string computer = "PC";
    std::vector<std::string> machines;                // the workgroup's members
    int displayBits = 32;
    std::vector<std::string> browsers;                // DDE services that answer ("Netscape", "IExplore")
    bool echo = false;                                // print each dialog and notice as it appears
};

// Parses the command line; throws std::invalid_argument on a bad option.
SimInstanceOptions ParseSimInstanceOptions(int argc, char** argv);

// Shapes the desktop as the options say.
void ConfigureSimDesktop(platform::sim::SimDesktop& desktop, const SimInstanceOptions& options);

// Runs one command line against the running program; returns the reply line.
std::string RunSimCommand(platform::sim::SimDesktop& desktop, const std::string& line);

std::string ToHex(const std::string& bytes);
std::string FromHex(const std::string& hex);

}  // namespace zumelko
