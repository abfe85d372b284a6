#include "platform/posix/PosixSecrets.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/Wipe.h"

namespace zumelko::platform::posix {

std::optional<std::string> TakeEnvironment(const char* name) {
    char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    std::optional<std::string> taken(value);
    // The entry "NAME=value" is one block: wiped whole once nothing points at it any more.
    const std::size_t nameLength = std::strlen(name);
    char* entry = value - nameLength - 1;
    const std::size_t entryLength = nameLength + 1 + std::strlen(value);
    ::unsetenv(name);
    WipeBytes(entry, entryLength);
    return taken;
}

std::optional<std::string> PassphraseFileProblem(const std::string& path) {
    struct stat status{};
    if (::stat(path.c_str(), &status) != 0 || (status.st_mode & 077) == 0) return std::nullopt;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return "the passphrase file " + path + " may be read by others (mode " + mode +
           "); make it private with: chmod 600 " + path;
}

}  // namespace zumelko::platform::posix
