#include "platform/win32/Win32Desktop.h"

#include <cstdio>

#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

Win32Desktop::Win32Desktop()
    : loop_(std::make_unique<Win32Loop>()),
      sockets_(std::make_unique<Win32Sockets>(*loop_)),
      clipboard_(std::make_unique<Win32Clipboard>()),
      gdi_(std::make_unique<Win32Gdi>()),
      shell_(std::make_unique<Win32Shell>()),
      network_(std::make_unique<Win32Network>()),
      dde_(std::make_unique<Win32Dde>()),
      ui_(std::make_unique<Win32UiHost>(*loop_, *shell_)) {}

Win32Desktop::~Win32Desktop() {
    // Dialogs and the icon go before the windows they stand on.
    ui_.reset();
    // Discovery withdraws this machine and gives up its window while the loop is there.
    network_->StopDiscovery();
    dde_.reset();
    shell_.reset();
    sockets_.reset();
    loop_.reset();
}

void SayOnConsole(const std::string& utf8, bool error) {
    // A program of the GUI subsystem has standard handles only when its starter gave them.
    const DWORD which = error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    if (GetFileType(GetStdHandle(which)) == FILE_TYPE_UNKNOWN) {
        if (AttachConsole(ATTACH_PARENT_PROCESS)) {
            SetConsoleOutputCP(CP_UTF8);
            const HANDLE console = CreateFileA("CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, 0, nullptr);
            if (console != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                WriteFile(console, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
                CloseHandle(console);
                return;
            }
        }
        const std::wstring text = Widen(utf8);
        MessageBoxW(nullptr, text.c_str(), L"Zumelko", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
        return;
    }
    std::FILE* out = error ? stderr : stdout;
    std::fwrite(utf8.data(), 1, utf8.size(), out);
    std::fflush(out);
}

}  // namespace zumelko::platform::win32
