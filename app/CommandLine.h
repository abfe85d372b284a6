#pragma once
// The program's own command line, the same on every desktop: --help and --version, and start
// options that set the initial state of a run (so that a start-at-login entry can carry a
// user's choices). Nothing is ever written anywhere; every option lasts one run.
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace zumelko {

class TForm1;

// The encrypted channel's options, the same for zumelko and zumelko-send. The passphrase never
// stands on the command line, which every user of the machine can read in the process list: it
// comes from a file (its first line; "-" is standard input) or from the environment variable
// ZUMELKO_PASSPHRASE, which only its own user (and root) can read. A file given wins.
struct SecurityOptions {
    // --strict: no plain transfer, neither sent nor received.
    bool strict = false;
    std::optional<std::string> passphraseFile;
    // The passphrase in UTF-8 once LoadPassphrase has read it; nothing when none was given.
    std::optional<std::string> passphrase;
};

inline constexpr const char* kPassphraseVariable = "ZUMELKO_PASSPHRASE";
// The longest passphrase taken, in bytes.
inline constexpr std::size_t kMaxPassphrase = 1024;

// Takes args[i] (and its value) when it is one of the options above, moving i past them; false
// for any other argument. Sets error (and returns true) for a wrong one.
bool TakeSecurityOption(const std::vector<std::string>& args, std::size_t& i, SecurityOptions& options,
                        std::string& error);

// Reads the passphrase from the options' file (standardInput for "-") or else from environment
// (the variable's value, UTF-8), into options.passphrase. It must be UTF-8, not empty, at most
// kMaxPassphrase bytes; a file's first line counts (without its CR LF or LF, and without a
// UTF-8 byte order mark). Returns the reason in one line when it cannot be taken.
// fileProblem, where the desktop has one, says why a file may not be taken (one others may
// read); the caller wipes environment afterwards.
using FileProblem = std::optional<std::string> (*)(const std::string& path);
std::optional<std::string> LoadPassphrase(SecurityOptions& options, const std::optional<std::string>& environment,
                                          std::istream& standardInput, FileProblem fileProblem = nullptr);

struct StartOptions {
    std::optional<std::uint8_t> checkerMode;
    std::optional<std::string> defaultDestination;
    std::optional<std::uint8_t> receiveMode;
    std::optional<std::int32_t> browser;
    std::optional<std::uint8_t> senderMode;
    std::optional<std::string> allowedNames;
    bool forwardSecrets = false;
    SecurityOptions security;
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
// A passphrase is applied here: its key is derived.
void ApplyStartOptions(TForm1& form, const StartOptions& options);

// The exit codes of a start that runs no program.
inline constexpr int kExitWrongCommandLine = 2;
inline constexpr int kExitNoDisplay = 1;

}  // namespace zumelko
