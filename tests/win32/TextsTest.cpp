// Texts in the Windows program: the wire table on the system's own converters, and the whole
// program sending to itself over real TCP, taking what a classic peer sends, and
// announcing a default machine whose name is in the code page.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/Program.h"
#include "core/MainForm.h"
#include "desktop/DdeClientConv.h"
#include "dialogs/OKDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "framework/Application.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Text.h"
#include "tests/support/WireTextCases.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

using platform::Hwnd;
using platform::win32::AsHandle;
using platform::win32::Win32Texts;

TEST(Texts, TheWireTableOnTheSystemsConverters) { testing::CheckWireTexts(Win32Texts()); }

std::wstring TextOf(Form& form, const std::string& control) {
    HWND h = AsHandle<HWND>(Desk().ui().WindowOfControl(*form.FindControl(control)));
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
    return text;
}

void Press(Form& form, Control& button) {
    ::PostMessageW(AsHandle<HWND>(Desk().ui().WindowOfControl(button)), BM_CLICK, 0, 0);
    (void)form;
}

// Another program's copy: Unicode text, as Windows programs put it today.
void CopyUnicode(const std::wstring& text) {
    using namespace platform::win32;
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)));
    ASSERT_TRUE(block);
    {
        GlobalLockGuard lock(block.get());
        std::memcpy(lock.get(), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    }
    ASSERT_NE(::SetClipboardData(CF_UNICODETEXT, block.get()), nullptr);
    block.release();
    ::CloseClipboard();
}

std::optional<std::string> ClipboardBlock(UINT format) {
    using namespace platform::win32;
    if (!::OpenClipboard(nullptr)) return std::nullopt;
    std::optional<std::string> out;
    if (HANDLE h = ::GetClipboardData(format)) {
        GlobalLockGuard lock(h);
        if (lock.get() != nullptr) out = std::string(static_cast<const char*>(lock.get()), ::GlobalSize(h));
    }
    ::CloseClipboard();
    return out;
}

std::wstring Wide(const std::string& utf8) { return *platform::win32::WideOf(utf8); }

bool SendTo8000And8001(const std::string& header, const std::string& data) {
    const auto send = [](u_short port, const std::string& payload) {
        std::string bytes(4, '\0');
        for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((payload.size() >> (8 * i)) & 0xFF);
        bytes += payload;
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = ::htons(port);
        remote.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        DWORD timeout = 10000;
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        char sink[16];
        const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0 &&
                        ::send(s, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size()) &&
                        ::recv(s, sink, sizeof sink, 0) <= 0;
        ::closesocket(s);
        return ok;
    };
    return send(8000, header) && send(8001, data);
}

TEST(Texts, TheProgramTakesTheOriginalProgramsTextsAndSendsItsOwnExactly) {
    Application& app = App();
    DdeInstance dde;
    CreateForms(app);
    std::vector<std::wstring> notices;
    std::vector<std::wstring> senders;
    std::vector<std::string> received;
    Desk().ui().onShown = [&](Form& form, Hwnd window) {
        Pump(30);
        if (&form == Form2) {
            notices.push_back(TextOf(form, "Label1"));
            Press(form, *Form2->Button1);
        } else if (&form == Form5) {
            senders.push_back(TextOf(form, "Label3"));
            received.push_back(std::string(Form5->ReceivedText.View()));
            Press(form, *Form5->Button1);  // YES
        } else {
            ADD_FAILURE() << "unexpected dialog";
            ::PostMessageW(AsHandle<HWND>(window), WM_CLOSE, 0, 0);
        }
    };

    // A classic peer: three lines and its code page, half-width kana that are also
    // UTF-8 (ﾊｲ, CA B2) in the name and the text.
    std::atomic<bool> done{false};
    bool sent = false;
    std::thread peer([&] {
        sent = SendTo8000And8001("string\r\n\x83\x86\xca\xb2\r\nPC\r\n", "\xca\xb2 \xc0\xb1 \x93\xfa\x96\x7b");
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 20000));
    peer.join();
    EXPECT_TRUE(sent);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], "ﾊｲ ﾀｱ 日本");
    EXPECT_EQ(senders[0], L"\"PC\" にいる \"ユﾊｲ\" から");
    EXPECT_STREQ(ClipboardBlock(CF_TEXT).value_or("").c_str(), "\xca\xb2 \xc0\xb1 \x93\xfa\x96\x7b");

    // Copies of other programs go to this machine, which takes each exactly: as Unicode text,
    // with the code page's best form beside it.
    Form1->DefaultDestination = "127.0.0.1";
    Form1->CheckerMode = UseDefault;
    const struct {
        std::string text;
        std::string codePage;
    } copies[] = {
        {"ﾊｲ 日本語 ①", "\xca\xb2 \x93\xfa\x96\x7b\x8c\xea \x87\x40"},
        {"¥1,000 ～", "\\1,000 \x81\x60"},
        {"日本 한국 😀", ""},
    };
    for (const auto& c : copies) {
        SCOPED_TRACE(c.text);
        const std::size_t before = received.size();
        const std::size_t told = notices.size();
        CopyUnicode(Wide(c.text));
        // The announcement, the question, the end of the transfer.
        ASSERT_TRUE(PumpUntil([&] { return received.size() > before && notices.size() >= told + 2; }, 20000));
        Pump(200);
        EXPECT_EQ(received.back(), c.text);
        const auto unicode = ClipboardBlock(CF_UNICODETEXT);
        ASSERT_TRUE(unicode);
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(unicode->data())), Wide(c.text));
        if (!c.codePage.empty()) {
            EXPECT_STREQ(ClipboardBlock(CF_TEXT).value_or("").c_str(), c.codePage.c_str());
        }
    }

    // A default machine whose name is in the code page is announced in the program's words.
    notices.clear();
    Form1->DefaultDestination = "\x8c\x6f\x97\x9d\x89\xdb-PC";  // 経理課-PC
    CopyUnicode(L"x");
    ASSERT_TRUE(PumpUntil([&] { return notices.size() >= 2; }, 20000));
    EXPECT_EQ(notices[0], L"ｸﾘｯﾌﾟしたﾃﾞｰﾀを\"経理課-PC\"に送信します。");
    Form1->CheckerMode = NoCheck;
    Pump(200);
    Desk().ui().onShown = nullptr;
    app.DestroyForms();
    ForgetForms();
}

}  // namespace
}  // namespace zumelko::wintest
