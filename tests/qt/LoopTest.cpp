// The Qt loop: posted messages in order through Qt's own loop, nested loops, and socket
// readiness with the same one-at-a-time semantics as everywhere.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QTimer>

#include <vector>

#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

using namespace zumelko::platform;

struct Recorder {
    std::vector<std::pair<std::uint32_t, LParam>> got;
    Hwnd window = 0;
    Recorder() {
        window = Desk().loop().CreateHiddenWindow([this](std::uint32_t m, WParam, LParam l) {
            got.emplace_back(m, l);
            return LResult{0};
        });
    }
    ~Recorder() { Desk().loop().DestroyWindow(window); }
};

TEST(Loop, PostedMessagesArriveInOrderAndDestroyedWindowsGetNothing) {
    auto& loop = Desk().loop();
    Recorder a, b;
    for (int i = 0; i < 5; ++i) loop.PostMessage(a.window, WM_USER_ + 1, 0, i);
    loop.PostMessage(b.window, WM_USER_ + 2, 0, 0);
    loop.DestroyWindow(b.window);
    EXPECT_FALSE(loop.PostMessage(b.window, WM_USER_, 0, 0));
    EXPECT_TRUE(PumpUntil([&] { return a.got.size() == 5; }, 2000));
    Pump(50);
    ASSERT_EQ(a.got.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a.got[static_cast<std::size_t>(i)].second, i);
    EXPECT_TRUE(b.got.empty());
    // An exception thrown by a window procedure is reported, and the loop carries on.
    const Hwnd thrower = loop.CreateHiddenWindow([](std::uint32_t, WParam, LParam) -> LResult {
        throw std::runtime_error("from a window procedure");
    });
    const auto before = Desk().ui().Exceptions().size();
    loop.PostMessage(thrower, WM_USER_, 0, 0);
    loop.PostMessage(a.window, WM_USER_ + 3, 0, 99);
    EXPECT_TRUE(PumpUntil([&] { return a.got.size() == 6; }, 2000));
    EXPECT_EQ(Desk().ui().Exceptions().size(), before + 1);
    loop.DestroyWindow(thrower);
}

TEST(Loop, NestedLoopsRunHandlersAndUnwindInOrder) {
    auto& loop = Desk().loop();
    std::vector<std::string> trace;
    bool innerDone = false, outerDone = false;
    Recorder r;
    const Hwnd nester = loop.CreateHiddenWindow([&](std::uint32_t m, WParam, LParam) {
        if (m == WM_USER_) {
            trace.push_back("inner start");
            // While nested, posted messages still arrive.
            loop.PostMessage(r.window, WM_USER_ + 7, 0, 0);
            QTimer::singleShot(30, [&] { innerDone = true; });
            loop.RunUntil([&] { return innerDone; });
            trace.push_back("inner end, saw " + std::to_string(r.got.size()));
            outerDone = true;
        }
        return LResult{0};
    });
    loop.PostMessage(nester, WM_USER_, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return outerDone; }, 3000));
    EXPECT_EQ(trace, (std::vector<std::string>{"inner start", "inner end, saw 1"}));
    loop.DestroyWindow(nester);
}

// A plain client socket to talk to the program's sockets.
int Dial(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST(Loop, SocketReadinessComesOneAtATimeAndReadIsReArmedOnlyByARecv) {
    auto& s = Desk().sockets();
    Recorder r;
    const std::uint32_t kMsg = WM_USER_ + 50;
    const SocketHandle listener = s.Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_NE(listener, kInvalidSocket);
    SockAddrIn any{htonl(INADDR_LOOPBACK), 0};
    ASSERT_EQ(s.Bind(listener, any), 0);
    ASSERT_EQ(s.Listen(listener, 5), 0);
    ASSERT_EQ(s.WSAAsyncSelect(listener, r.window, kMsg, FD_ACCEPT_), 0);
    SockAddrIn local{};
    ASSERT_EQ(s.GetSockName(listener, local), 0);

    const int peer = Dial(ntohs(local.port));
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(PumpUntil([&] { return !r.got.empty(); }));
    EXPECT_EQ(SelectEvent(r.got[0].second), FD_ACCEPT_);
    const SocketHandle conn = s.Accept(listener, nullptr);
    ASSERT_NE(conn, kInvalidSocket);
    ASSERT_EQ(s.WSAAsyncSelect(conn, r.window, kMsg, FD_READ_ | FD_CLOSE_), 0);
    r.got.clear();

    ASSERT_EQ(::write(peer, "abcdef", 6), 6);
    ASSERT_TRUE(PumpUntil([&] { return !r.got.empty(); }));
    // Unread data does not spin: no second notification until a receive.
    Pump(150);
    ASSERT_EQ(r.got.size(), 1u);
    EXPECT_EQ(SelectEvent(r.got[0].second), FD_READ_);
    char buf[4];
    EXPECT_EQ(s.Recv(conn, buf, 3, 0), 3);
    ASSERT_TRUE(PumpUntil([&] { return r.got.size() == 2; }));
    EXPECT_EQ(SelectEvent(r.got[1].second), FD_READ_);
    EXPECT_EQ(s.Recv(conn, buf, 3, 0), 3);
    Pump(100);
    EXPECT_EQ(r.got.size(), 2u);

    // The peer's close, once everything was read.
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return r.got.size() == 3; }));
    EXPECT_EQ(SelectEvent(r.got[2].second), FD_CLOSE_);
    Pump(100);
    EXPECT_EQ(r.got.size(), 3u);
    EXPECT_EQ(s.CloseSocket(conn), 0);
    EXPECT_EQ(s.CloseSocket(listener), 0);
}

TEST(Loop, ConnectCompletionCarriesItsError) {
    auto& s = Desk().sockets();
    Recorder r;
    // A port nobody listens on: take one and close it again.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    socklen_t len = sizeof sa;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&sa), &len);
    ::close(probe);

    const SocketHandle c = s.Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_EQ(s.WSAAsyncSelect(c, r.window, WM_USER_ + 9, FD_CONNECT_ | FD_READ_ | FD_CLOSE_), 0);
    s.Connect(c, {sa.sin_addr.s_addr, sa.sin_port});
    ASSERT_TRUE(PumpUntil([&] { return !r.got.empty(); }));
    EXPECT_EQ(SelectEvent(r.got[0].second), FD_CONNECT_);
    EXPECT_EQ(SelectError(r.got[0].second), WSAECONNREFUSED_);
    s.CloseSocket(c);
}

}  // namespace
}  // namespace zumelko::qttest
