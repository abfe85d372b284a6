#pragma once
// The team passphrase as it reaches a POSIX program: from its environment or from a file.
#include <optional>
#include <string>

namespace zumelko::platform::posix {

// The variable's value, taken out of the environment: no program started afterwards (a browser,
// wl-copy, anything through a shell) inherits it, and its bytes in the process's own environment
// block (what /proc/PID/environ shows) are overwritten. Nothing when it is not set.
std::optional<std::string> TakeEnvironment(const char* name);

// Why a passphrase file is not taken: others than its owner have some permission on it (a group
// or other bit), as a private key is refused. Nothing for a private file, or one that cannot be
// looked at (its read then says why).
std::optional<std::string> PassphraseFileProblem(const std::string& path);

}  // namespace zumelko::platform::posix
