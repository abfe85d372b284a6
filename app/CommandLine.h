#pragma once
// The program's own command line, the same on every desktop: --help and --version, and start
// options that set the initial state of a run (so that a start-at-login entry can carry a
// user's choices). Nothing is ever written anywhere; every option lasts one run.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zumelko {

class TForm1;

struct StartOptions {
    std::optional<std::uint8_t> checkerMode;
    std::optional<std::string> defaultDestination;
    std::optional<std::uint8_t> receiveMode;
    std::optional<std::int32_t> browser;
    std::optional<std::uint8_t> senderMode;
    std::optional<std::string> allowedNames;
};

struct CommandLine {
    enum class Action { Run, Help, Version, Wrong };
    Action action = Action::Run;
    StartOptions options;
    std::string error;  // for Wrong: what is wrong, in one line
};

// args are the arguments after the program's name. With slashes (Windows), "/help", "/?",
// "/version" and "/checker=ask" are taken like their "--" forms.
CommandLine ParseCommandLine(const std::vector<std::string>& args, bool slashes = false);

// "zumelko 1.0.0"
std::string VersionText();
std::string HelpText();

// Sets what the options name on the main window; what they leave out keeps its initial value.
void ApplyStartOptions(TForm1& form, const StartOptions& options);

// The exit codes of a start that runs no program.
inline constexpr int kExitWrongCommandLine = 2;
inline constexpr int kExitNoDisplay = 1;

}  // namespace zumelko
