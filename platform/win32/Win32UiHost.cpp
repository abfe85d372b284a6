#include "platform/win32/Win32UiHost.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

#include "framework/Application.h"
#include "framework/Stream.h"
#include "platform/Dib.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Text.h"

namespace zumelko::platform::win32 {

namespace {

constexpr wchar_t kFormClass[] = L"ZumelkoForm";
constexpr int kFirstId = 100;  // clear of IDOK and IDCANCEL
constexpr UINT_PTR kMenuTimer = 0x5A4D;
// The forms' geometry is laid out in pixels of a 96-DPI display.
constexpr int kDesignDpi = 96;

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    return static_cast<LRESULT>(Win32UiHost::Procedure(FromHandle(window), message, w, l));
}

// Runs a handler of the program from a window procedure: nothing may be thrown through
// user32, so what escapes goes to the application's standard error box.
template <typename F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        App().HandleException(nullptr, e);
    } catch (...) {
        App().HandleException(nullptr, std::runtime_error("unknown exception"));
    }
}

bool IsValidUtf8(const std::string& s) {
    return s.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                                              nullptr, 0) > 0;
}

std::wstring Decode(UINT codePage, const std::string& s) {
    if (s.empty()) return {};
    const int n = ::MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0) ::MultiByteToWideChar(codePage, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string Encode(UINT codePage, const std::wstring& s) {
    if (s.empty()) return {};
    const int n = ::WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0) ::WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring WindowText(HWND h) {
    const int n = ::GetWindowTextLengthW(h);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = ::GetWindowTextW(h, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

// A device bitmap from a picture model (a BMP file image), or none when it holds no picture.
HBITMAP BitmapOf(const Graphic& graphic) {
    if (graphic.Empty()) return nullptr;
    MemoryStream stream;
    graphic.WriteToStream(stream);
    constexpr std::size_t kFileHeader = 14;
    if (stream.Size() <= kFileHeader) return nullptr;
    const std::uint8_t* dib = stream.Data() + kFileHeader;
    const std::size_t size = stream.Size() - kFileHeader;
    const auto layout = dib::ParseHeader(dib, size);
    if (!layout || !dib::PixelBytes(*layout, dib + layout->TableEnd(), size - layout->TableEnd())) return nullptr;
    std::vector<DWORD> header((layout->TableEnd() + 3) / 4 + 1);
    std::memcpy(header.data(), dib, layout->TableEnd());
    ScreenDc screen;
    return ::CreateDIBitmap(screen.get(), reinterpret_cast<const BITMAPINFOHEADER*>(header.data()), CBM_INIT,
                            dib + layout->TableEnd(), reinterpret_cast<const BITMAPINFO*>(header.data()),
                            DIB_RGB_COLORS);
}

// The memo's text with every line ended by CR LF, the one line end an edit control breaks at:
// a line may still hold the LF or CR ends of a text from another desktop, and the model counts
// those as line ends too.
std::wstring LinesToText(const StringList& lines) {
    std::wstring s;
    for (std::size_t i = 0; i < lines.Count(); ++i) {
        const std::wstring line = FromCaption(lines[i]);
        for (std::size_t k = 0; k < line.size(); ++k) {
            if (line[k] == L'\r' || line[k] == L'\n') {
                if (line[k] == L'\r' && k + 1 < line.size() && line[k + 1] == L'\n') ++k;
                s += L"\r\n";
            } else {
                s += line[k];
            }
        }
        s += L"\r\n";
    }
    return s;
}

std::wstring FaceFor(const std::string& name);

// A form's font at a DPI: its size is given for 96.
UniqueGdiObject MakeFont(const Font& font, int dpi = kDesignDpi) {
    LOGFONTW lf{};
    lf.lfHeight = -::MulDiv(std::max(1, font.sizePx), dpi, kDesignDpi);
    lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    const std::wstring name = FaceFor(font.name);
    wcsncpy(lf.lfFaceName, name.c_str(), LF_FACESIZE - 1);
    return UniqueGdiObject(::CreateFontIndirectW(&lf));
}

// A caption as a label with WordWrap shows it, in the font selected into dc: each of its lines
// broken to the width after a blank where the line has one (the blank goes), anywhere within
// a word wider alone; the lines as written stay as they are.
std::wstring BrokenToWidth(HDC dc, const std::wstring& text, int width) {
    std::wstring out;
    auto breakLine = [&](std::wstring_view rest) {
        while (!rest.empty()) {
            int fit = 0;
            SIZE size{};
            ::GetTextExtentExPointW(dc, rest.data(), static_cast<int>(rest.size()), std::max(1, width), &fit,
                                    nullptr, &size);
            if (fit >= 0 && static_cast<std::size_t>(fit) >= rest.size()) {
                out += rest;
                return;
            }
            std::size_t cut = static_cast<std::size_t>(std::max(fit, 1));
            // Never between the halves of a surrogate pair.
            if (IS_HIGH_SURROGATE(rest[cut - 1])) cut = cut > 1 ? cut - 1 : std::min<std::size_t>(2, rest.size());
            const std::size_t blank = rest.substr(0, std::min(cut + 1, rest.size())).find_last_of(L' ');
            if (blank != std::wstring_view::npos && blank > 0) {
                out += rest.substr(0, blank);
                rest.remove_prefix(blank + 1);
            } else {
                out += rest.substr(0, cut);
                rest.remove_prefix(cut);
            }
            out += L"\r\n";
        }
    };
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find_first_of(L"\r\n", start);
        breakLine(std::wstring_view(text).substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        std::size_t next = end + 1;
        if (text[end] == L'\r' && next < text.size() && text[next] == L'\n') ++next;
        out.append(text, end, next - end);
        start = next;
    }
    return out;
}

// The caption as the label shows it, in its font, at its width in the window's pixels.
std::wstring LabelText(const Label& label, HFONT font, int width) {
    std::wstring text = FromCaption(label.Caption());
    if (!label.WordWrap()) return text;
    ScreenDc screen;
    HGDIOBJ old = ::SelectObject(screen.get(), font);
    text = BrokenToWidth(screen.get(), text, width);
    ::SelectObject(screen.get(), old);
    return text;
}

COLORREF ColorOf(std::uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Plain radio buttons check nothing by themselves: the group's selection is the model's, and
// its buttons show it.
void ShowSelection(const std::vector<HWND>& buttons, const RadioGroup& group) {
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        const int index = static_cast<int>(i);
        ::SendMessageW(buttons[i], BM_SETCHECK, index == group.ItemIndex() ? BST_CHECKED : BST_UNCHECKED, 0);
        // Tab reaches the selected item (or the first when none is); arrows move within.
        LONG_PTR style = ::GetWindowLongPtrW(buttons[i], GWL_STYLE);
        const bool stop = group.TabStop() && index == std::max(0, group.ItemIndex());
        style = stop ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
        ::SetWindowLongPtrW(buttons[i], GWL_STYLE, style);
    }
}

// How wide a radio button must be for its mark and its text in that font: no wider, so that it
// lies under nothing placed beside its text (a "詳細" button at the end of its row).
int WindowDpi(HWND window);

int RadioWidth(HWND radio, HFONT font, const std::wstring& text) {
    HDC dc = ::GetDC(radio);
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{0, 0};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(radio, dc);
    // The mark, and the gap before the text at the window's scale.
    return ::GetSystemMetrics(SM_CXMENUCHECK) + ::MulDiv(8, WindowDpi(radio), kDesignDpi) + size.cx;
}

// Functions of newer systems, looked up where they exist: the program starts on older ones.
template <typename F>
F UserFunction(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

int SystemDpi() {
    using Fn = UINT(WINAPI*)();
    static const auto forSystem = UserFunction<Fn>("GetDpiForSystem");
    if (forSystem != nullptr) return static_cast<int>(forSystem());
    ScreenDc screen;
    const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
    return dpi > 0 ? dpi : kDesignDpi;
}

// The DPI a window is shown at: its monitor's where the system scales per monitor, else the
// system's.
int WindowDpi(HWND window) {
    using Fn = UINT(WINAPI*)(HWND);
    static const auto forWindow = UserFunction<Fn>("GetDpiForWindow");
    if (forWindow != nullptr) {
        if (const UINT dpi = forWindow(window); dpi != 0) return static_cast<int>(dpi);
    }
    return SystemDpi();
}

// The window size for a client area, with the frame and caption of that DPI.
void AdjustForDpi(RECT& r, DWORD style, DWORD exStyle, int dpi) {
    using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto forDpi = UserFunction<Fn>("AdjustWindowRectExForDpi");
    if (forDpi == nullptr || !forDpi(&r, style, FALSE, exStyle, static_cast<UINT>(dpi))) {
        ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
    }
}

int CALLBACK FontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// The face a form's font is shown in: the one it names where the system has it, else the
// system's own face for messages in its language, chosen once.
std::wstring FaceFor(const std::string& name) {
    static std::map<std::string, std::wstring> chosen;
    if (auto it = chosen.find(name); it != chosen.end()) return it->second;
    std::wstring face = Widen(name);
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(wanted.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    bool found = false;
    ScreenDc screen;
    ::EnumFontFamiliesExW(screen.get(), &wanted, FontFound, reinterpret_cast<LPARAM>(&found), 0);
    if (!found) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
            face = metrics.lfMessageFont.lfFaceName;
        }
    }
    return chosen[name] = face;
}

// Makes the window's client area width × height. The frame the system draws is what it is
// at the window's DPI; where it is not what AdjustForDpi said, the difference is made good.
void SizeClientArea(HWND window, int width, int height) {
    RECT client{}, outer{};
    ::GetClientRect(window, &client);
    if (client.right == width && client.bottom == height) return;
    ::GetWindowRect(window, &outer);
    ::SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left + width - client.right,
                   outer.bottom - outer.top + height - client.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Where a page control's sheets place their controls: its display area below the tabs, in
// the form's client coordinates.
POINT SheetOrigin(HWND pages, HWND form) {
    RECT area{0, 0, 0, 0};
    ::GetClientRect(pages, &area);
    ::SendMessageW(pages, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    POINT at{area.left, area.top};
    ::MapWindowPoints(pages, form, &at, 1);
    return at;
}

}  // namespace

std::wstring FromCaption(const std::string& bytes) {
    return Decode(IsValidUtf8(bytes) ? CP_UTF8 : CP_ACP, bytes);
}

std::string ToAnsi(const std::wstring& text) { return Encode(CP_ACP, text); }

std::wstring Widen(const std::string& utf8) { return Decode(CP_UTF8, utf8); }
std::string Narrow(const std::wstring& wide) { return Encode(CP_UTF8, wide); }

struct Win32UiHost::Rendered {
    Win32UiHost* host = nullptr;
    Form* form = nullptr;
    UniqueWindow window;
    std::map<const Control*, HWND> windows;             // a radio group's is its group box
    std::map<const Control*, std::vector<HWND>> radios;  // the buttons of each radio group
    std::map<int, Control*> byId;
    std::map<int, std::pair<RadioGroup*, int>> radioById;
    std::map<const Control*, POINT> origins;  // where a container's children are placed from
    std::vector<UniqueGdiObject> fonts;
    std::map<const Control*, UniqueGdiObject> pictures;
    std::map<HWND, COLORREF> textColors;
    const Control* echo = nullptr;
    int nextId = kFirstId;
    int dpi = kDesignDpi;

    // A length of the forms' 96-DPI layout in pixels of the window's display: every position,
    // size and font of a form becomes window coordinates through here.
    int Scale(int v) const { return ::MulDiv(v, dpi, kDesignDpi); }
    RECT Place(const Control& c, POINT origin) const {
        const Rect& b = c.Bounds();
        const int left = origin.x + Scale(b.left);
        const int top = origin.y + Scale(b.top);
        return {left, top, left + Scale(b.width), top + Scale(b.height)};
    }

    HFONT FontFor(const Font& font) {
        fonts.push_back(MakeFont(font, dpi));
        return static_cast<HFONT>(fonts.back().get());
    }
};

Win32UiHost::Win32UiHost(Win32Loop& loop, Win32Shell& shell) : loop_(loop), shell_(shell) {
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FormProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hIcon = AsHandle<HICON>(shell_.ApplicationIcon());
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    if (::RegisterClassExW(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        throw std::runtime_error("RegisterClassExW failed");
    }
}

Win32UiHost::~Win32UiHost() = default;

Win32UiHost::Rendered* Win32UiHost::Find(const Form& form) const {
    for (Rendered* r : open_)
        if (r->form == &form) return r;
    return nullptr;
}

Hwnd Win32UiHost::WindowOf(const Form& form) const {
    const Rendered* r = Find(form);
    return r == nullptr ? 0 : FromHandle(r->window.get());
}

Hwnd Win32UiHost::WindowOfControl(const Control& control) const {
    const Rendered* r = Find(control.OwnerForm());
    if (r == nullptr) return 0;
    auto it = r->windows.find(&control);
    return it == r->windows.end() ? 0 : FromHandle(it->second);
}

Hwnd Win32UiHost::RadioButtonOf(const RadioGroup& group, int index) const {
    const Rendered* r = Find(group.OwnerForm());
    if (r == nullptr) return 0;
    auto it = r->radios.find(&group);
    if (it == r->radios.end() || index < 0 || static_cast<std::size_t>(index) >= it->second.size()) return 0;
    return FromHandle(it->second[static_cast<std::size_t>(index)]);
}

LResult Win32UiHost::Procedure(Hwnd window, std::uint32_t message, WParam w, LParam l) {
    HWND hwnd = AsHandle<HWND>(window);
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* r = reinterpret_cast<Rendered*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (r == nullptr || r->form == nullptr) return static_cast<LResult>(::DefWindowProcW(hwnd, message, w, l));
    Form& form = *r->form;
    switch (message) {
    case WM_CLOSE:
        if (::IsWindowEnabled(hwnd)) form.Close();
        return 0;
    case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(l);
        r->host->Rescale(*r, HIWORD(w), suggested->left, suggested->top);
        return 0;
    }
    case WM_NEXTDLGCTL: {
        // A multi-line edit hands Tab on to its dialog this way, as IsDialogMessage does not
        // take it from a control that wants every key.
        HWND next = LOWORD(l) != 0 ? reinterpret_cast<HWND>(w) : ::GetNextDlgTabItem(hwnd, ::GetFocus(), w != 0);
        if (next != nullptr && ::IsChild(hwnd, next)) {
            ::SetFocus(next);
            if ((::SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) {
                ::SendMessageW(next, EM_SETSEL, 0, -1);
            }
        }
        return 0;
    }
    case DM_GETDEFID:
        // Enter in the dialog presses the default button.
        if (Button* b = form.DefaultButton()) {
            for (const auto& [id, c] : r->byId)
                if (c == b) return MAKELRESULT(id, DC_HASDEFID);
        }
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT: {
        auto it = r->textColors.find(reinterpret_cast<HWND>(l));
        if (it == r->textColors.end()) break;
        HDC dc = reinterpret_cast<HDC>(w);
        ::SetTextColor(dc, it->second);
        if (message == WM_CTLCOLOREDIT) {
            ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LResult>(::GetSysColorBrush(COLOR_WINDOW));
        }
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LResult>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(l);
        if (hdr->code != static_cast<UINT>(TCN_SELCHANGE)) break;
        auto it = r->byId.find(static_cast<int>(hdr->idFrom));
        if (it == r->byId.end()) break;
        auto* pages = dynamic_cast<PageControl*>(it->second);
        if (pages == nullptr) break;
        const int index = static_cast<int>(::SendMessageW(hdr->hwndFrom, TCM_GETCURSEL, 0, 0));
        std::vector<TabSheet*> shown;
        for (TabSheet* sheet : pages->Pages())
            if (sheet->TabVisible()) shown.push_back(sheet);
        if (index >= 0 && static_cast<std::size_t>(index) < shown.size()) {
            TabSheet* sheet = shown[static_cast<std::size_t>(index)];
            Guarded([&] { pages->SetActivePage(sheet); });
        }
        return 0;
    }
    case WM_COMMAND: {
        const int id = LOWORD(w);
        const int code = HIWORD(w);
        if (id == IDOK && code == BN_CLICKED && r->byId.count(IDOK) == 0) {
            if (Button* b = form.DefaultButton()) Guarded([b] { b->Click(); });
            return 0;
        }
        if (id == IDCANCEL && code == BN_CLICKED) {
            // Esc presses the cancel button; a form without one (a question the user has to
            // answer) stays up. Its close box still closes it, through WM_CLOSE.
            Guarded([&form] { form.PressEscape(); });
            return 0;
        }
        if (auto radio = r->radioById.find(id); radio != r->radioById.end()) {
            // A plain radio button takes the focus from the arrow keys but is not clicked by
            // them; the focus moved that way selects, as in any dialog. (With the mouse, the
            // click decides.)
            const bool byKeys = code == BN_SETFOCUS && ::GetKeyState(VK_LBUTTON) >= 0;
            if (code != BN_CLICKED && !byKeys) return 0;
            auto [group, index] = radio->second;
            if (r->echo == group) return 0;
            r->echo = group;
            Guarded([&] { group->SetItemIndex(index); });
            r->echo = nullptr;
            ShowSelection(r->radios[group], *group);
            return 0;
        }
        auto it = r->byId.find(id);
        if (it == r->byId.end()) break;
        Control* c = it->second;
        HWND child = reinterpret_cast<HWND>(l);
        if (auto* button = dynamic_cast<Button*>(c)) {
            if (code == BN_CLICKED) Guarded([button] { button->Click(); });
        } else if (auto* combo = dynamic_cast<ComboBox*>(c)) {
            std::wstring text;
            if (code == CBN_EDITCHANGE) {
                text = WindowText(child);
            } else if (code == CBN_SELCHANGE) {
                const LRESULT sel = ::SendMessageW(child, CB_GETCURSEL, 0, 0);
                if (sel == CB_ERR) return 0;
                const LRESULT len = ::SendMessageW(child, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel), 0);
                text.assign(static_cast<std::size_t>(std::max<LRESULT>(len, 0)) + 1, L'\0');
                ::SendMessageW(child, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(text.data()));
                text.resize(static_cast<std::size_t>(std::max<LRESULT>(len, 0)));
            } else {
                return 0;
            }
            if (r->echo == combo) return 0;
            r->echo = combo;
            Guarded([&] { combo->SetText(ToAnsi(text)); });
            r->echo = nullptr;
        } else if (auto* edit = dynamic_cast<Edit*>(c)) {
            if (code != EN_CHANGE || r->echo == edit) return 0;
            r->echo = edit;
            // UTF-8, never the code page: a passphrase must be the same bytes on every desktop.
            const std::wstring typed = WindowText(child);
            const std::string text = Utf8Of(typed.data(), typed.size(), 4 * typed.size() + 1).value_or(std::string());
            Guarded([&] { edit->SetText(text); });
            r->echo = nullptr;
        } else if (auto* memo = dynamic_cast<Memo*>(c)) {
            if (code != EN_CHANGE || r->echo == memo) return 0;
            r->echo = memo;
            const std::string text = ToAnsi(WindowText(child));
            Guarded([&] { memo->SetText(text); });
            r->echo = nullptr;
        }
        return 0;
    }
    default:
        break;
    }
    return static_cast<LResult>(::DefWindowProcW(hwnd, message, w, l));
}

std::unique_ptr<Win32UiHost::Rendered> Win32UiHost::Render(Form& form) {
    auto r = std::make_unique<Rendered>();
    r->host = this;
    r->form = &form;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);

    // No WS_CLIPCHILDREN: bevels are frames only, and the form paints what lies inside them.
    DWORD style = WS_POPUP;
    if (form.Border() != BorderStyle::None) style |= WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
    DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    if (form.StayOnTop()) exStyle |= WS_EX_TOPMOST;
    r->dpi = SystemDpi();
    RECT outer{0, 0, r->Scale(form.ClientWidth()), r->Scale(form.ClientHeight())};
    AdjustForDpi(outer, style, exStyle, r->dpi);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    r->window.reset(::CreateWindowExW(exStyle, kFormClass, FromCaption(form.Caption()).c_str(), style, x, y, width,
                                      height, nullptr, nullptr, instance, r.get()));
    if (!r->window) throw std::runtime_error("CreateWindowExW failed");
    HWND top = r->window.get();
    // The monitor it came up on may have a scale of its own.
    if (const int shown = WindowDpi(top); shown != r->dpi) {
        r->dpi = shown;
        RECT resized{0, 0, r->Scale(form.ClientWidth()), r->Scale(form.ClientHeight())};
        AdjustForDpi(resized, style, exStyle, r->dpi);
        ::SetWindowPos(top, nullptr, 0, 0, resized.right - resized.left, resized.bottom - resized.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SizeClientArea(top, r->Scale(form.ClientWidth()), r->Scale(form.ClientHeight()));
    ::SendMessageW(top, WM_SETFONT, reinterpret_cast<WPARAM>(r->FontFor(form.GetFont())), FALSE);

    Rendered& rr = *r;
    std::vector<HWND> created;
    for (Control* c : form.Controls()) {
        POINT origin{0, 0};
        if (Control* p = c->Parent()) {
            auto it = rr.origins.find(p);
            if (it != rr.origins.end()) origin = it->second;
        }
        const RECT placed = rr.Place(*c, origin);
        const int left = placed.left;
        const int topY = placed.top;
        const wchar_t* cls = nullptr;
        DWORD cs = WS_CHILD | WS_GROUP;
        DWORD cex = 0;
        if (c->TabStop()) cs |= WS_TABSTOP;
        if (auto* label = dynamic_cast<Label*>(c)) {
            cls = L"STATIC";
            // Captions carry names and texts from the network: shown as they are (no '&'
            // prefixes, no markup of any kind).
            cs |= SS_LEFT | SS_NOPREFIX;
            if (!label->WordWrap()) cs |= SS_LEFTNOWORDWRAP;
        } else if (dynamic_cast<Button*>(c) != nullptr) {
            cls = L"BUTTON";
            cs |= static_cast<Button*>(c)->Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        } else if (dynamic_cast<RadioGroup*>(c) != nullptr) {
            cls = L"BUTTON";
            cs = (cs | BS_GROUPBOX) & ~static_cast<DWORD>(WS_TABSTOP);
        } else if (dynamic_cast<ComboBox*>(c) != nullptr) {
            cls = L"COMBOBOX";
            cs |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL;
        } else if (auto* edit = dynamic_cast<Edit*>(c)) {
            cls = L"EDIT";
            cs |= ES_AUTOHSCROLL | (edit->Password() ? ES_PASSWORD : 0);
            cex = WS_EX_CLIENTEDGE;
        } else if (dynamic_cast<Memo*>(c) != nullptr) {
            cls = L"EDIT";
            cs |= ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_HSCROLL;
            cex = WS_EX_CLIENTEDGE;
        } else if (auto* image = dynamic_cast<Image*>(c)) {
            cls = L"STATIC";
            cs |= image->ShowsProgramIcon() ? SS_ICON : (SS_BITMAP | (image->Stretch() ? SS_REALSIZECONTROL : 0));
        } else if (dynamic_cast<PageControl*>(c) != nullptr) {
            cls = WC_TABCONTROLW;
            cs |= WS_CLIPSIBLINGS;
        } else if (dynamic_cast<TabSheet*>(c) != nullptr) {
            // A sheet is the page control's display area; its controls are placed from there.
            if (Control* p = c->Parent()) {
                auto pw = rr.windows.find(p);
                if (pw != rr.windows.end()) {
                    // A sheet without a tab is reached by the program alone (the preview turns
                    // its pages itself); tab indexes count only the sheets with one.
                    if (static_cast<TabSheet*>(c)->TabVisible()) {
                        TCITEMW item{};
                        item.mask = TCIF_TEXT;
                        std::wstring text = FromCaption(c->Caption());
                        item.pszText = text.data();
                        const auto count = ::SendMessageW(pw->second, TCM_GETITEMCOUNT, 0, 0);
                        ::SendMessageW(pw->second, TCM_INSERTITEMW, static_cast<WPARAM>(count),
                                       reinterpret_cast<LPARAM>(&item));
                    }
                    // The display area below the tabs there are so far.
                    rr.origins[c] = SheetOrigin(pw->second, top);
                }
            }
            continue;
        } else if (dynamic_cast<Bevel*>(c) != nullptr) {
            // A frame only: what it frames shows through.
            cls = L"STATIC";
            cs = WS_CHILD | SS_ETCHEDFRAME;
        } else if (dynamic_cast<Panel*>(c) != nullptr) {
            cls = L"STATIC";
            cs = WS_CHILD | SS_ETCHEDFRAME;
            rr.origins[c] = POINT{left, topY};
        } else {
            continue;
        }
        const int id = rr.nextId++;
        HWND h = ::CreateWindowExW(cex, cls, L"", cs, left, topY, placed.right - left, placed.bottom - topY, top,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        if (h == nullptr) throw std::runtime_error("CreateWindowExW failed for a control");
        rr.windows[c] = h;
        rr.byId[id] = c;
        created.push_back(h);
        Apply(rr, *c);
    }
    // Page controls show their active page once their pages exist.
    for (Control* c : form.Controls())
        if (dynamic_cast<PageControl*>(c) != nullptr) ControlChanged(form, *c);

    // Tab order is the windows' order: tab stops in their order, the rest after them.
    std::vector<Control*> stops;
    for (Control* c : form.Controls())
        if (c->TabStop() && rr.windows.count(c) != 0) stops.push_back(c);
    std::stable_sort(stops.begin(), stops.end(), [](const Control* a, const Control* b) {
        const int ta = a->TabOrder() < 0 ? 1 << 20 : a->TabOrder();
        const int tb = b->TabOrder() < 0 ? 1 << 20 : b->TabOrder();
        return ta < tb;
    });
    HWND after = HWND_TOP;
    for (Control* c : stops) {
        std::vector<HWND> chain = rr.radios.count(c) != 0 ? rr.radios[c] : std::vector<HWND>{rr.windows[c]};
        for (HWND h : chain) {
            ::SetWindowPos(h, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            after = h;
        }
    }
    // Bevels and panels lie beneath what they frame.
    for (Control* c : form.Controls()) {
        if (dynamic_cast<Bevel*>(c) != nullptr || dynamic_cast<Panel*>(c) != nullptr) {
            ::SetWindowPos(rr.windows[c], HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    return r;
}

void Win32UiHost::Rescale(Rendered& r, int dpi, int x, int y) {
    if (dpi <= 0 || dpi == r.dpi) return;
    r.dpi = dpi;
    HWND top = r.window.get();
    Form& form = *r.form;
    RECT outer{0, 0, r.Scale(form.ClientWidth()), r.Scale(form.ClientHeight())};
    AdjustForDpi(outer, static_cast<DWORD>(::GetWindowLongPtrW(top, GWL_STYLE)),
                 static_cast<DWORD>(::GetWindowLongPtrW(top, GWL_EXSTYLE)), dpi);
    ::SetWindowPos(top, nullptr, x, y, outer.right - outer.left, outer.bottom - outer.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    SizeClientArea(top, r.Scale(form.ClientWidth()), r.Scale(form.ClientHeight()));
    ::SendMessageW(top, WM_SETFONT, reinterpret_cast<WPARAM>(r.FontFor(form.GetFont())), FALSE);
    // In the order they were made: containers first, so that what they hold is placed from
    // where they are now.
    for (Control* c : form.Controls()) {
        POINT origin{0, 0};
        Control* parent = c->Parent();
        if (parent != nullptr) {
            auto it = r.origins.find(parent);
            if (it != r.origins.end()) origin = it->second;
        }
        if (dynamic_cast<TabSheet*>(c) != nullptr) {
            auto pages = parent != nullptr ? r.windows.find(parent) : r.windows.end();
            if (pages != r.windows.end()) r.origins[c] = SheetOrigin(pages->second, top);
            continue;
        }
        if (dynamic_cast<Panel*>(c) != nullptr) {
            const RECT placed = r.Place(*c, origin);
            r.origins[c] = POINT{placed.left, placed.top};
        }
        Apply(r, *c);
    }
    ::InvalidateRect(top, nullptr, TRUE);
}

void Win32UiHost::Apply(Rendered& r, Control& c) {
    auto it = r.windows.find(&c);
    if (it == r.windows.end()) return;
    HWND h = it->second;
    HWND top = r.window.get();
    POINT origin{0, 0};
    if (Control* p = c.Parent()) {
        auto o = r.origins.find(p);
        if (o != r.origins.end()) origin = o->second;
    }
    const RECT placed = r.Place(c, origin);
    const int placedWidth = placed.right - placed.left;
    const int placedHeight = placed.bottom - placed.top;
    ::MoveWindow(h, placed.left, placed.top, placedWidth, placedHeight, FALSE);
    HFONT font = r.FontFor(c.GetFont());
    ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (c.GetFont().color != clBlack) {
        r.textColors[h] = ColorOf(c.GetFont().color);
    } else {
        r.textColors.erase(h);
    }
    ::EnableWindow(h, c.Enabled() ? TRUE : FALSE);
    bool visible = c.Visible();
    // Controls on a tab sheet show only while their sheet is the active one.
    if (Control* p = c.Parent()) {
        if (auto* sheet = dynamic_cast<TabSheet*>(p)) {
            auto* pages = dynamic_cast<PageControl*>(sheet->Parent());
            visible = visible && pages != nullptr && pages->ActivePage() == sheet;
        }
    }

    if (auto* label = dynamic_cast<Label*>(&c)) {
        const std::wstring text = LabelText(*label, font, r.Scale(label->Bounds().width));
        ::SetWindowTextW(h, text.c_str());
        if (label->AutoSize() && !label->WordWrap()) {
            // Sizes itself to its text from where it stands.
            HDC dc = ::GetDC(h);
            HGDIOBJ old = ::SelectObject(dc, font);
            RECT rc{0, 0, 0, 0};
            ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_CALCRECT | DT_NOPREFIX);
            ::SelectObject(dc, old);
            ::ReleaseDC(h, dc);
            ::SetWindowPos(h, nullptr, 0, 0, rc.right, rc.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    } else if (dynamic_cast<Button*>(&c) != nullptr) {
        ::SetWindowTextW(h, FromCaption(c.Caption()).c_str());
    } else if (auto* group = dynamic_cast<RadioGroup*>(&c)) {
        ::SetWindowTextW(h, FromCaption(c.Caption()).c_str());
        std::vector<HWND>& buttons = r.radios[group];
        const auto& items = group->Items();
        if (buttons.size() != items.size()) {
            for (HWND old : buttons) ::DestroyWindow(old);
            buttons.clear();
            std::erase_if(r.radioById, [group](const auto& e) { return e.second.first == group; });
            HWND after = h;
            for (std::size_t i = 0; i < items.size(); ++i) {
                const int id = r.nextId++;
                const DWORD style = WS_CHILD | BS_RADIOBUTTON | BS_NOTIFY | (i == 0 ? WS_GROUP : 0) |
                                    (c.TabStop() ? WS_TABSTOP : 0);
                HWND radio = ::CreateWindowExW(0, L"BUTTON", L"", style, 0, 0, 0, 0, top,
                                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                               ::GetModuleHandleW(nullptr), nullptr);
                if (radio == nullptr) throw std::runtime_error("CreateWindowExW failed for a radio button");
                ::SetWindowPos(radio, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                after = radio;
                buttons.push_back(radio);
                r.radioById[id] = {group, static_cast<int>(i)};
            }
        }
        // The rows share the height below the caption evenly.
        const int caption = r.Scale(std::max(1, c.GetFont().sizePx) + 2);
        const int avail = std::max(0, placedHeight - caption - r.Scale(5));
        const int count = static_cast<int>(buttons.size());
        const int row = count > 0 ? avail / count : 0;
        for (int i = 0; i < count; ++i) {
            HWND radio = buttons[static_cast<std::size_t>(i)];
            const std::wstring text = FromCaption(items[static_cast<std::size_t>(i)]);
            ::SetWindowTextW(radio, text.c_str());
            ::SendMessageW(radio, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            ::MoveWindow(radio, placed.left + r.Scale(8), placed.top + caption + r.Scale(1) + i * row,
                         std::clamp(RadioWidth(radio, font, text), 0, std::max(0, placedWidth - r.Scale(10))), row,
                         FALSE);
            ::EnableWindow(radio, c.Enabled() ? TRUE : FALSE);
            ::ShowWindow(radio, visible ? SW_SHOWNA : SW_HIDE);
        }
        ShowSelection(buttons, *group);
    } else if (auto* combo = dynamic_cast<ComboBox*>(&c)) {
        if (r.echo != combo) {
            ::SendMessageW(h, CB_RESETCONTENT, 0, 0);
            for (const auto& item : combo->Items()) {
                const std::wstring text = FromCaption(item);
                ::SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
            }
            ::SetWindowTextW(h, FromCaption(combo->Text()).c_str());
        }
        // A drop-down combo box's window holds its list too: the model's height is the edit
        // field's, and the list below it gets room for up to eight names.
        const auto row = ::SendMessageW(h, CB_GETITEMHEIGHT, 0, 0);
        const int rows = static_cast<int>(std::clamp<std::size_t>(combo->Items().size(), 1, 8));
        ::MoveWindow(h, placed.left, placed.top, placedWidth,
                     placedHeight + rows * static_cast<int>(std::max<LRESULT>(row, 1)) + 2, FALSE);
    } else if (auto* edit = dynamic_cast<Edit*>(&c)) {
        if (r.echo != edit) {
            // The password style is set when the field is made; a field that changes it shows
            // the dot from then on.
            ::SendMessageW(h, EM_SETPASSWORDCHAR, edit->Password() ? static_cast<WPARAM>(L'\x25CF') : 0, 0);
            const std::wstring text = WideOf(edit->Text()).value_or(std::wstring());
            if (WindowText(h) != text) {
                r.echo = edit;
                ::SetWindowTextW(h, text.c_str());
                r.echo = nullptr;
            }
        }
    } else if (auto* memo = dynamic_cast<Memo*>(&c)) {
        if (r.echo != memo) {
            const std::wstring text = LinesToText(memo->Lines());
            if (WindowText(h) != text) {
                r.echo = memo;
                ::SetWindowTextW(h, text.c_str());
                r.echo = nullptr;
            }
        }
    } else if (auto* image = dynamic_cast<Image*>(&c)) {
        if (image->ShowsProgramIcon()) {
            ::SendMessageW(h, STM_SETICON, static_cast<WPARAM>(shell_.ApplicationIcon()), 0);
        } else {
            UniqueGdiObject picture(image->Picture() ? BitmapOf(*image->Picture()) : nullptr);
            ::SendMessageW(h, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.get()));
            ::MoveWindow(h, placed.left, placed.top, placedWidth, placedHeight, FALSE);
            // The control draws from the handle it was given: it stays alive while shown.
            r.pictures[&c] = std::move(picture);
        }
    } else if (auto* pages = dynamic_cast<PageControl*>(&c)) {
        int index = 0;
        for (TabSheet* sheet : pages->Pages()) {
            if (sheet == pages->ActivePage()) ::SendMessageW(h, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
            if (sheet->TabVisible()) ++index;
        }
    }
    ::ShowWindow(h, visible ? SW_SHOWNA : SW_HIDE);
    ::InvalidateRect(h, nullptr, TRUE);
}

int Win32UiHost::RunModal(Form& form) {
    std::unique_ptr<Rendered> rendered = Render(form);
    HWND window = rendered->window.get();
    // The forms under a modal one wait for it.
    std::vector<HWND> disabled;
    for (Rendered* r : open_) {
        if (::IsWindowEnabled(r->window.get())) {
            ::EnableWindow(r->window.get(), FALSE);
            disabled.push_back(r->window.get());
        }
    }
    open_.push_back(rendered.get());
    loop_.PushDialog(FromHandle(window));

    ::ShowWindow(window, SW_SHOW);
    ::SetForegroundWindow(window);
    // The first enabled tab stop has the focus (for a radio group, its selected button).
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
        if ((style & WS_TABSTOP) != 0 && (style & WS_VISIBLE) != 0 && ::IsWindowEnabled(child)) {
            ::SetFocus(child);
            break;
        }
    }
    ::UpdateWindow(window);
    if (onShown) onShown(form, FromHandle(window));

    loop_.RunUntil([&form] { return form.ModalResult() != mrNone; });
    if (form.ModalResult() == mrNone) form.Close();  // the program is quitting

    loop_.PopDialog(FromHandle(window));
    open_.erase(std::find(open_.begin(), open_.end(), rendered.get()));
    for (HWND h : disabled) ::EnableWindow(h, TRUE);
    ::ShowWindow(window, SW_HIDE);
    rendered.reset();
    if (!open_.empty()) ::SetForegroundWindow(open_.back()->window.get());
    return form.ModalResult();
}

void Win32UiHost::ControlChanged(Form& form, Control& control) {
    Rendered* r = Find(form);
    if (r == nullptr || r->echo == &control) return;
    Apply(*r, control);
    // The controls on a page control's sheets follow it (the active sheet decides what is seen).
    if (dynamic_cast<PageControl*>(&control) != nullptr) {
        for (Control* c : form.Controls()) {
            if (auto* sheet = dynamic_cast<TabSheet*>(c->Parent()); sheet != nullptr && sheet->Parent() == &control) {
                Apply(*r, *c);
            }
        }
    }
}

namespace {
// The handler of an open popup menu, for the timer that runs it once the menu is up.
std::function<void()>* g_menuShown = nullptr;

void CALLBACK MenuTimer(HWND window, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(window, id);
    if (g_menuShown != nullptr) (*g_menuShown)();
}
}  // namespace

void Win32UiHost::TrackPopupMenu(PopupMenu& menu, int x, int y) {
    UniqueMenu popup(::CreatePopupMenu());
    if (!popup) return;
    std::vector<std::string> captions;
    for (std::size_t i = 0; i < menu.Count(); ++i) {
        MenuItem& item = menu.Item(i);
        captions.push_back(item.Caption());
        if (item.IsSeparator()) {
            ::AppendMenuW(popup.get(), MF_SEPARATOR, 0, nullptr);
        } else {
            ::AppendMenuW(popup.get(), MF_STRING, i + 1, FromCaption(item.Caption()).c_str());
        }
    }
    // The menu closes when the user clicks elsewhere only if its owner is the foreground
    // window; and a message posted to the owner afterwards lets the next menu open at once.
    HWND owner = AsHandle<HWND>(shell_.ApplicationWindow());
    ::SetForegroundWindow(owner);
    int picked = -1;
    std::function<void()> shown = [this, &captions, &picked] {
        picked = onMenu(captions);
        ::EndMenu();
    };
    std::function<void()>* previous = g_menuShown;
    if (onMenu) {
        g_menuShown = &shown;
        ::SetTimer(owner, kMenuTimer, 50, MenuTimer);
    }
    const UINT chosen = static_cast<UINT>(::TrackPopupMenu(popup.get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN,
                                                           x, y, 0, owner, nullptr));
    g_menuShown = previous;
    ::PostMessageA(owner, WM_NULL, 0, 0);
    std::size_t index = chosen > 0 ? chosen - 1 : menu.Count();
    // A test handler's pick stands for the user's click.
    if (onMenu && picked >= 0) index = static_cast<std::size_t>(picked);
    if (index >= menu.Count() || menu.Item(index).IsSeparator()) return;
    MenuItem* item = &menu.Item(index);
    Guarded([item] { item->Click(); });
}

void Win32UiHost::ShowException(const std::string& title, const std::string& message) {
    exceptions_.push_back(message);
    std::fprintf(stderr, "[%s] %s\n", title.c_str(), message.c_str());
    if (!exceptionBoxes_) return;
    ::MessageBoxW(nullptr, FromCaption(message).c_str(), FromCaption(title).c_str(), MB_OK | MB_ICONERROR);
}

std::string Win32UiHost::CaptionText(const std::string& ansi) { return Win32Texts().LocalToUtf8(ansi); }

const TextCodec& Win32UiHost::Texts() const { return Win32Texts(); }

Extent Win32UiHost::MeasureCaption(const Font& font, const std::string& caption, int width) {
    // Measured as a static control in that font draws the text at the display's scale, and
    // given back in the forms' 96-DPI pixels, rounded up, so that the room scaled back is
    // never less than the text takes there.
    const int dpi = SystemDpi();
    ScreenDc screen;
    const UniqueGdiObject made = MakeFont(font, dpi);
    HGDIOBJ old = ::SelectObject(screen.get(), made.get());
    std::wstring text = FromCaption(caption);
    if (width > 0) text = BrokenToWidth(screen.get(), text, ::MulDiv(width, dpi, kDesignDpi));
    RECT rc{0, 0, 0, 0};
    ::DrawTextW(screen.get(), text.c_str(), static_cast<int>(text.size()), &rc, DT_CALCRECT | DT_NOPREFIX);
    ::SelectObject(screen.get(), old);
    const auto designed = [dpi](LONG v) { return static_cast<int>((v * kDesignDpi + dpi - 1) / dpi); };
    return {designed(rc.right - rc.left), designed(rc.bottom - rc.top)};
}

Extent Win32UiHost::LargestClientArea() {
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    // The frame of the dialogs Render makes.
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectEx(&frame, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME, FALSE,
                         WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_TOPMOST);
    // In the forms' 96-DPI pixels, as their layouts are given.
    const int dpi = SystemDpi();
    return {std::max(1, ::MulDiv((work.right - work.left) - (frame.right - frame.left), kDesignDpi, dpi)),
            std::max(1, ::MulDiv((work.bottom - work.top) - (frame.bottom - frame.top), kDesignDpi, dpi))};
}

}  // namespace zumelko::platform::win32
