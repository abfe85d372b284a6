#include "platform/win32/Win32Desktop.h"

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

}  // namespace zumelko::platform::win32
