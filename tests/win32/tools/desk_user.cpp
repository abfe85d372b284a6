// The user of a Windows desktop, played from outside the program: finds its dialogs, clicks
// their buttons and types into them, opens the notification icon's menus as the shell does,
// and copies and reads the clipboard as another program would. One command per run:
//   desk_user wait W H               a dialog of that client size is on screen within 20 s
//   desk_user absent W H SECONDS     no dialog of that client size shows up for that long
//   desk_user click W H CAPTION      BM_CLICK on the dialog's first enabled button so captioned
//   desk_user type W H TEXT          types TEXT into the dialog's edit field, replacing it
//   desk_user text W H               what the dialog's labels and fields show, one a line
//   desk_user menu RIGHT|LEFT KEY    the icon's menu, then the item with that accelerator key
//   desk_user put-text TEXT          the clipboard holds TEXT as Unicode text
//   desk_user put-picture FILE.bmp   the clipboard holds the BMP file's picture
//   desk_user get-text               the clipboard's Unicode text on standard output, as UTF-8
//   desk_user get-picture FILE.bmp   the clipboard's picture as a BMP file
//   desk_user formats                the clipboard's formats, one a line: a registered one by
//                                    its name (with =N when it holds a DWORD N), the others
//                                    by number
// Arguments are taken as Unicode, whatever the ANSI code page.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"

namespace {

using namespace zumelko::platform::win32;

constexpr UINT kTrayMessage = WM_APP + 100;  // the program's icon callback message
constexpr UINT kIconId = 1;

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// Asked of the control itself: for another program's window GetWindowTextW answers only the
// caption it was created with, not what has been typed since.
std::wstring TextOf(HWND h) {
    const auto length = ::SendMessageW(h, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    const auto got = ::SendMessageW(h, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

std::wstring ClassOf(HWND h) {
    wchar_t name[64] = {};
    ::GetClassNameW(h, name, 64);
    return name;
}

struct Search {
    int width;
    int height;
    HWND found;
};

// A visible form of the program whose client area has that size; a negative width asks for at
// least that width (a notice grows wider with its text).
HWND FindDialog(int width, int height) {
    Search s{width, height, nullptr};
    ::EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* wanted = reinterpret_cast<Search*>(p);
            RECT r{};
            if (!::IsWindowVisible(h) || ClassOf(h) != L"ZumelkoForm" || !::GetClientRect(h, &r)) return TRUE;
            const int shown = r.right - r.left;
            const bool wide = wanted->width < 0 ? shown >= -wanted->width : shown == wanted->width;
            if (!wide || r.bottom - r.top != wanted->height) return TRUE;
            wanted->found = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitDialog(int width, int height, int seconds) {
    // Looked for at least once, however short the time.
    for (int i = 0;; ++i) {
        if (HWND h = FindDialog(width, height)) return h;
        if (i >= seconds * 10) return nullptr;
        ::Sleep(100);
    }
}

// What is on screen instead, for the record of a failed step.
void ListDialogs(int width, int height) {
    std::fprintf(stderr, "no %dx%d dialog on screen; there are:", width, height);
    ::EnumWindows(
        [](HWND h, LPARAM) -> BOOL {
            RECT r{};
            if (::IsWindowVisible(h) && ::GetClientRect(h, &r))
                std::fprintf(stderr, " %s %ldx%ld;", Utf8(ClassOf(h)).c_str(), r.right - r.left, r.bottom - r.top);
            return TRUE;
        },
        0);
    std::fputs("\n", stderr);
}

HWND NeedDialog(int width, int height) {
    HWND h = WaitDialog(width, height, 20);
    if (h == nullptr) ListDialogs(width, height);
    return h;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> all;
    ::EnumChildWindows(
        parent,
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

// Whether a caption names the same thing, its accelerator's ampersand aside.
bool SameCaption(std::wstring caption, const std::wstring& wanted) {
    if (caption == wanted) return true;
    if (const auto amp = caption.find(L'&'); amp != std::wstring::npos) caption.erase(amp, 1);
    return caption == wanted;
}

int Click(int width, int height, const std::wstring& caption) {
    HWND dialog = NeedDialog(width, height);
    if (dialog == nullptr) return 1;
    // A dialog just shown may not have its buttons on screen yet.
    for (int i = 0; i < 50; ++i) {
        for (HWND child : Children(dialog)) {
            if (ClassOf(child) != L"Button" || !::IsWindowEnabled(child) || !::IsWindowVisible(child)) continue;
            if (!SameCaption(TextOf(child), caption)) continue;
            // Posted: the button may open a nested dialog, and this program must not wait on it.
            return ::PostMessageW(child, BM_CLICK, 0, 0) ? 0 : 1;
        }
        ::Sleep(100);
    }
    std::fprintf(stderr, "no enabled button \"%s\" in the %dx%d dialog\n", Utf8(caption).c_str(), width, height);
    return 1;
}

int Type(int width, int height, const std::wstring& text) {
    HWND dialog = NeedDialog(width, height);
    if (dialog == nullptr) return 1;
    for (HWND child : Children(dialog)) {
        if (ClassOf(child) != L"Edit" || !::IsWindowEnabled(child)) continue;
        // As keys: the field tells its dialog of each change, as it does for a user.
        ::SendMessageW(child, EM_SETSEL, 0, -1);
        ::PostMessageW(child, WM_CHAR, VK_BACK, 1);
        for (wchar_t c : text) ::PostMessageW(child, WM_CHAR, static_cast<WPARAM>(c), 1);
        // Until the field has taken every key.
        for (int i = 0; i < 100 && TextOf(child) != text; ++i) ::Sleep(50);
        return TextOf(child) == text ? 0 : 1;
    }
    std::fprintf(stderr, "no edit field in the %dx%d dialog\n", width, height);
    return 1;
}

HWND FindMenu() {
    HWND menu = nullptr;
    while ((menu = ::FindWindowExW(nullptr, menu, L"#32768", nullptr)) != nullptr)
        if (::IsWindowVisible(menu)) return menu;
    return nullptr;
}

int Menu(bool right, wchar_t key) {
    // The shell sends the icon's callback message to the window that added the icon; posting it
    // to every hidden window of the program reaches that one, and the others ignore it.
    bool posted = false;
    HWND window = nullptr;
    while ((window = ::FindWindowExA(nullptr, window, "ZumelkoHiddenWindow", nullptr)) != nullptr) {
        const LPARAM down = right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN;
        const LPARAM up = right ? WM_RBUTTONUP : WM_LBUTTONUP;
        if (::PostMessageA(window, kTrayMessage, kIconId, down) && ::PostMessageA(window, kTrayMessage, kIconId, up))
            posted = true;
    }
    if (!posted) return 1;
    for (int i = 0; i < 200; ++i) {
        if (HWND menu = FindMenu()) {
            ::Sleep(200);
            return ::PostMessageW(menu, WM_CHAR, static_cast<WPARAM>(key), 1) ? 0 : 1;
        }
        ::Sleep(100);
    }
    std::fputs("the icon's menu did not open\n", stderr);
    return 1;
}

// The clipboard, open for one transaction; other programs hold it briefly at times.
class OpenClipboard {
public:
    OpenClipboard() {
        for (int i = 0; i < 50 && !open_; ++i) {
            open_ = ::OpenClipboard(nullptr) != FALSE;
            if (!open_) ::Sleep(100);
        }
    }
    ~OpenClipboard() {
        if (open_) ::CloseClipboard();
    }
    OpenClipboard(const OpenClipboard&) = delete;
    OpenClipboard& operator=(const OpenClipboard&) = delete;
    explicit operator bool() const { return open_; }

private:
    bool open_ = false;
};

bool Put(UINT format, const void* data, std::size_t size) {
    OpenClipboard clipboard;
    if (!clipboard || !::EmptyClipboard()) return false;
    UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block) return false;
    {
        GlobalLockGuard lock(block.get());
        if (lock.get() == nullptr) return false;
        std::memcpy(lock.get(), data, size);
    }
    if (::SetClipboardData(format, block.get()) == nullptr) return false;
    block.release();  // the clipboard owns it now
    return true;
}

std::vector<char> Get(UINT format) {
    OpenClipboard clipboard;
    if (!clipboard) return {};
    HANDLE h = ::GetClipboardData(format);
    if (h == nullptr) return {};
    GlobalLockGuard lock(h);
    if (lock.get() == nullptr) return {};
    const auto* bytes = static_cast<const char*>(lock.get());
    return std::vector<char>(bytes, bytes + ::GlobalSize(h));
}

int PutPicture(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    constexpr std::size_t kFileHeader = sizeof(BITMAPFILEHEADER);
    if (file.size() <= kFileHeader || file[0] != 'B' || file[1] != 'M') return 1;
    return Put(CF_DIB, file.data() + kFileHeader, file.size() - kFileHeader) ? 0 : 1;
}

int GetPicture(const std::wstring& path) {
    const std::vector<char> dib = Get(CF_DIB);
    if (dib.size() < sizeof(BITMAPINFOHEADER)) return 1;
    BITMAPINFOHEADER info{};
    std::memcpy(&info, dib.data(), sizeof info);
    DWORD colours = info.biClrUsed;
    if (colours == 0 && info.biBitCount <= 8) colours = 1u << info.biBitCount;
    DWORD table = colours * sizeof(RGBQUAD);
    if (info.biCompression == BI_BITFIELDS) table += 3 * sizeof(DWORD);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfSize = static_cast<DWORD>(sizeof file + dib.size());
    file.bfOffBits = static_cast<DWORD>(sizeof file + info.biSize + table);
    std::ofstream out(path.c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(dib.data(), static_cast<std::streamsize>(dib.size()));
    return out ? 0 : 1;
}

int Print(const std::string& utf8) {
    DWORD written = 0;
    return ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
                       nullptr) && written == utf8.size()
               ? 0
               : 1;
}

int Texts(int width, int height) {
    HWND dialog = NeedDialog(width, height);
    if (dialog == nullptr) return 1;
    std::string lines;
    for (HWND child : Children(dialog)) {
        const std::wstring cls = ClassOf(child);
        if (cls == L"Edit" || cls == L"Static") lines += Utf8(TextOf(child)) + '\n';
    }
    return Print(lines);
}

int GetText() {
    const std::vector<char> bytes = Get(CF_UNICODETEXT);
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    return Print(Utf8(text));
}

int Formats() {
    OpenClipboard clipboard;
    if (!clipboard) return 1;
    std::string lines;
    for (UINT format = ::EnumClipboardFormats(0); format != 0; format = ::EnumClipboardFormats(format)) {
        wchar_t name[256] = {};
        // Only registered formats are memory blocks for sure; a standard one may be a GDI handle.
        if (format < 0xC000 || ::GetClipboardFormatNameW(format, name, 256) <= 0) {
            lines += std::to_string(format) + '\n';
            continue;
        }
        lines += Utf8(name);
        HANDLE h = ::GetClipboardData(format);
        if (h != nullptr && ::GlobalSize(h) >= sizeof(DWORD)) {
            GlobalLockGuard lock(h);
            DWORD value = 0;
            if (lock.get() != nullptr) std::memcpy(&value, lock.get(), sizeof value);
            lines += "=" + std::to_string(value);
        }
        lines += '\n';
    }
    return Print(lines);
}

int Run(const std::vector<std::wstring>& a) {
    const auto n = a.size();
    const auto number = [&](std::size_t i) { return i < n ? std::stoi(a[i]) : 0; };
    const std::wstring command = n > 1 ? a[1] : L"";
    if (command == L"wait" && n == 4) return NeedDialog(number(2), number(3)) ? 0 : 1;
    if (command == L"absent" && n == 5) return WaitDialog(number(2), number(3), number(4)) ? 1 : 0;
    if (command == L"click" && n == 5) return Click(number(2), number(3), a[4]);
    if (command == L"type" && n == 5) return Type(number(2), number(3), a[4]);
    if (command == L"text" && n == 4) return Texts(number(2), number(3));
    if (command == L"menu" && n == 4 && a[3].size() == 1) return Menu(a[2] == L"RIGHT", a[3][0]);
    if (command == L"put-text" && n == 3) return Put(CF_UNICODETEXT, a[2].c_str(), (a[2].size() + 1) * sizeof(wchar_t)) ? 0 : 1;
    if (command == L"put-picture" && n == 3) return PutPicture(a[2]);
    if (command == L"get-text" && n == 2) return GetText();
    if (command == L"get-picture" && n == 3) return GetPicture(a[2]);
    if (command == L"formats" && n == 2) return Formats();
    std::fputs("usage: desk_user wait|absent|click|type|text|menu|put-text|put-picture|get-text|get-picture|formats ...\n",
               stderr);
    return 2;
}

}  // namespace

int main() {
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&::LocalFree)> argv(::CommandLineToArgvW(::GetCommandLineW(), &count),
                                                          &::LocalFree);
    if (!argv) return 2;
    std::vector<std::wstring> args(argv.get(), argv.get() + count);
    try {
        return Run(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "desk_user: %s\n", e.what());
        return 2;
    }
}
