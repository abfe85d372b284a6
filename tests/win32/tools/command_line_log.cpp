// A stand-in for a program the desktop starts: appends its command line, as UTF-8 and one line
// per start, to the file ZUMELKO_COMMAND_LOG names, and ends.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/win32/Win32Api.h"

int main() {
    const wchar_t* path = ::_wgetenv(L"ZUMELKO_COMMAND_LOG");
    if (path == nullptr) return 1;
    const wchar_t* line = ::GetCommandLineW();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8.data(), n, nullptr, nullptr);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> log(::_wfopen(path, L"ab"), &std::fclose);
    if (!log) return 1;
    return std::fprintf(log.get(), "%s\n", utf8.c_str()) > 0 ? 0 : 1;
}
