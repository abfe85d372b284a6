// Another program on the Windows desktop: puts its argument on the clipboard as text, in one
// transaction, and ends.
#include <cstring>
#include <string>

#include "platform/win32/Win32Api.h"

int main(int argc, char** argv) {
    using namespace zumelko::platform::win32;
    const std::string text = argc > 1 ? argv[1] : "";
    if (!::OpenClipboard(nullptr)) return 1;
    ::EmptyClipboard();
    UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, text.size() + 1));
    bool put = false;
    if (block) {
        {
            GlobalLockGuard lock(block.get());
            if (lock.get() != nullptr) std::memcpy(lock.get(), text.c_str(), text.size() + 1);
        }
        put = ::SetClipboardData(CF_TEXT, block.get()) != nullptr;
        if (put) block.release();
    }
    ::CloseClipboard();
    return put ? 0 : 1;
}
