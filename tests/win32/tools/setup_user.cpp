// The user of an installer's wizard, played from outside it: finds the wizard's window by its
// title, lists what the page says and presses its buttons. One command per run:
//   setup_user show TITLE           the page of the window whose title holds TITLE (waited for up
//                                   to 30 s): its rectangle "x y w h", then the text of every
//                                   visible control, one a line, as UTF-8
//   setup_user next TITLE           waits until the page's forward button (id 1) is enabled,
//                                   presses it and waits for the next page (or the window's end)
//   setup_user gone TITLE SECONDS   no such window is left within that time
// Arguments are taken as Unicode, whatever the ANSI code page.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"

namespace {

std::string Utf8(const std::wstring& s) {
    if (s.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

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
    const std::wstring* title;
    HWND found;
};

HWND FindWizard(const std::wstring& title) {
    Search s{&title, nullptr};
    ::EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* wanted = reinterpret_cast<Search*>(p);
            if (!::IsWindowVisible(h) || ClassOf(h) != L"#32770") return TRUE;
            if (TextOf(h).find(*wanted->title) == std::wstring::npos) return TRUE;
            wanted->found = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitWizard(const std::wstring& title, int seconds) {
    for (int i = 0;; ++i) {
        if (HWND h = FindWizard(title)) return h;
        if (i >= seconds * 10) return nullptr;
        ::Sleep(100);
    }
}

std::vector<HWND> VisibleControls(HWND wizard) {
    std::vector<HWND> all;
    ::EnumChildWindows(
        wizard,
        [](HWND h, LPARAM p) -> BOOL {
            if (::IsWindowVisible(h)) reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

// The page itself: the wizard shows each page as a child dialog of its own.
HWND PageOf(HWND wizard) {
    for (HWND h : VisibleControls(wizard)) {
        if (ClassOf(h) == L"#32770") return h;
    }
    return nullptr;
}

int Show(const std::wstring& title) {
    HWND wizard = WaitWizard(title, 30);
    if (wizard == nullptr) {
        std::fprintf(stderr, "no window titled %s\n", Utf8(title).c_str());
        return 1;
    }
    ::Sleep(300);  // a page just shown is filled in a moment later
    RECT r{};
    ::GetWindowRect(wizard, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    std::printf("%s\n", Utf8(TextOf(wizard)).c_str());
    for (HWND h : VisibleControls(wizard)) {
        const std::wstring text = TextOf(h);
        // (A picture's control holds its resource number as text, after 0xFFFF.)
        if (!text.empty() && text[0] != L'\xFFFF' && ClassOf(h) != L"#32770") std::printf("%s\n", Utf8(text).c_str());
    }
    return 0;
}

int Next(const std::wstring& title) {
    HWND wizard = WaitWizard(title, 30);
    if (wizard == nullptr) {
        std::fprintf(stderr, "no window titled %s\n", Utf8(title).c_str());
        return 1;
    }
    HWND button = ::GetDlgItem(wizard, 1);
    for (int i = 0; i < 600 && (button == nullptr || !::IsWindowEnabled(button)); ++i) ::Sleep(100);
    if (button == nullptr || !::IsWindowEnabled(button)) {
        std::fputs("the forward button stays disabled\n", stderr);
        return 1;
    }
    HWND page = PageOf(wizard);
    ::PostMessageW(button, BM_CLICK, 0, 0);
    for (int i = 0; i < 600; ++i) {
        ::Sleep(100);
        if (!::IsWindow(wizard) || !::IsWindowVisible(wizard)) return 0;
        HWND now = PageOf(wizard);
        if (now != nullptr && now != page) return 0;
    }
    std::fputs("the page did not change\n", stderr);
    return 1;
}

int Gone(const std::wstring& title, int seconds) {
    for (int i = 0; i <= seconds * 10; ++i) {
        if (FindWizard(title) == nullptr) return 0;
        ::Sleep(100);
    }
    std::fprintf(stderr, "the window titled %s is still there\n", Utf8(title).c_str());
    return 1;
}

}  // namespace

int main() {
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&::LocalFree)> argv(::CommandLineToArgvW(::GetCommandLineW(), &count),
                                                          &::LocalFree);
    if (!argv || count < 3) {
        std::fputs("usage: setup_user show|next TITLE | gone TITLE SECONDS\n", stderr);
        return 2;
    }
    const std::wstring command = argv.get()[1];
    const std::wstring title = argv.get()[2];
    if (command == L"show") return Show(title);
    if (command == L"next") return Next(title);
    if (command == L"gone" && count == 4) return Gone(title, _wtoi(argv.get()[3]));
    std::fputs("unknown command\n", stderr);
    return 2;
}
