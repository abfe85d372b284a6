// Another program on the Windows desktop: puts its argument on the clipboard as text, in one
// transaction, and ends. With --secret first, the text carries the marks password managers
// put beside a copy: "Clipboard Viewer Ignore" (there at all) and "CanIncludeInClipboardHistory"
// holding 0, a pair the program itself never writes.
#include <cstring>
#include <string>

#include "platform/win32/Win32Api.h"

namespace {

bool Put(UINT format, const void* bytes, std::size_t size) {
    using namespace zumelko::platform::win32;
    UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, size == 0 ? 1 : size));
    if (!block) return false;
    {
        GlobalLockGuard lock(block.get());
        if (lock.get() == nullptr) return false;
        if (size != 0) std::memcpy(lock.get(), bytes, size);
    }
    if (::SetClipboardData(format, block.get()) == nullptr) return false;
    block.release();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const bool secret = argc > 2 && std::strcmp(argv[1], "--secret") == 0;
    const std::string text = argc > 1 ? argv[argc - 1] : "";
    if (!::OpenClipboard(nullptr)) return 1;
    ::EmptyClipboard();
    bool put = Put(CF_TEXT, text.c_str(), text.size() + 1);
    if (secret) {
        const DWORD zero = 0;
        put = Put(::RegisterClipboardFormatA("Clipboard Viewer Ignore"), nullptr, 0) && put;
        put = Put(::RegisterClipboardFormatA("CanIncludeInClipboardHistory"), &zero, sizeof zero) && put;
    }
    ::CloseClipboard();
    return put ? 0 : 1;
}
