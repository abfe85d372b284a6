#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "framework/Application.h"
#include "platform/win32/Win32Api.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {

namespace {
std::unique_ptr<platform::win32::ScopedWin32Desktop> g_desktop;
std::unique_ptr<Application> g_application;

class DesktopEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        g_desktop = std::make_unique<platform::win32::ScopedWin32Desktop>();
        g_application = std::make_unique<Application>();
        (*g_desktop)->ui().SetExceptionBoxes(false);
    }
    void TearDown() override {
        g_application.reset();
        g_desktop.reset();
    }
};
}  // namespace

platform::win32::Win32Desktop& Desk() { return **g_desktop; }

Ending SendPacketFrom(const char* source, unsigned short port, const std::string& payload) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((payload.size() >> (8 * i)) & 0xFF);
    bytes += payload;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return Ending::None;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = ::inet_addr(source);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = ::htons(port);
    remote.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    DWORD timeout = 5000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    Ending ending = Ending::None;
    const auto reset = [](int code) { return code == WSAECONNRESET || code == WSAECONNABORTED; };
    char sink[64];
    if (::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ending = reset(::WSAGetLastError()) ? Ending::Reset : Ending::None;
    } else if (::send(s, bytes.data(), static_cast<int>(bytes.size()), 0) != static_cast<int>(bytes.size())) {
        ending = reset(::WSAGetLastError()) ? Ending::Reset : Ending::None;
    } else if (const int n = ::recv(s, sink, sizeof sink, 0); n == 0) {
        ending = Ending::Closed;
    } else if (n == SOCKET_ERROR && reset(::WSAGetLastError())) {
        ending = Ending::Reset;
    }
    ::closesocket(s);
    return ending;
}

void Pump(int ms) { Desk().loop().RunUntilFor([] { return false; }, ms); }

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) { return Desk().loop().RunUntilFor(done, timeoutMs); }

std::string SaveShot(platform::Hwnd window, const std::string& name) {
    using namespace platform::win32;
    HWND h = AsHandle<HWND>(window);
    // The client area: frame and caption are the window manager's, and the test display
    // runs none, so there they would show whatever lies beneath.
    RECT r{};
    if (!::GetClientRect(h, &r)) return "";
    ::MapWindowPoints(h, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int w = r.right - r.left;
    const int height = r.bottom - r.top;
    if (w <= 0 || height <= 0) return "";
    ::UpdateWindow(h);
    ScreenDc screen;
    UniqueMemoryDc dc(::CreateCompatibleDC(screen.get()));
    UniqueGdiObject bitmap(::CreateCompatibleBitmap(screen.get(), w, height));
    if (!dc || !bitmap) return "";
    {
        SelectedObject selected(dc.get(), bitmap.get());
        ::BitBlt(dc.get(), 0, 0, w, height, screen.get(), r.left, r.top, SRCCOPY);
    }
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) / 4 * 4;
    std::vector<unsigned char> pixels(stride * static_cast<std::size_t>(height));
    if (::GetDIBits(dc.get(), static_cast<HBITMAP>(bitmap.get()), 0, static_cast<UINT>(height), pixels.data(),
                    reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == 0) {
        return "";
    }
    const char* dir = std::getenv("ZUMELKO_ARTIFACTS");
    const std::string path = std::string(dir != nullptr ? dir : ".") + "\\" + name + ".bmp";
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!f) return "";
    std::fwrite(&file, sizeof file, 1, f.get());
    std::fwrite(&info, sizeof info, 1, f.get());
    std::fwrite(pixels.data(), 1, pixels.size(), f.get());
    return path;
}

}  // namespace zumelko::wintest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zumelko::wintest::DesktopEnvironment);
    return RUN_ALL_TESTS();
}
