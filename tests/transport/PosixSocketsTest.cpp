// The readiness layer under the socket components: one notification at a time per kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/sim/SimDesktop.h"
#include "tests/transport/TestPeers.h"

namespace zumelko {
namespace {

using namespace std::chrono_literals;
using namespace platform;

TEST(PosixSockets, AResetWhileAReadIsUnansweredIsReportedOnceAfterTheRead) {
    sim::ScopedSimDesktop desktop;
    auto& s = desktop->sockets();
    auto& loop = desktop->loop();
    std::vector<int> events;
    const Hwnd window = loop.CreateHiddenWindow([&](std::uint32_t, WParam, LParam l) {
        events.push_back(SelectEvent(l));
        return LResult{0};
    });
    auto count = [&](long e) { return std::count(events.begin(), events.end(), static_cast<int>(e)); };

    testing::RawListener peer;
    const SocketHandle h = s.Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_EQ(s.WSAAsyncSelect(h, window, WM_USER_ + 1, FD_CONNECT_), 0);
    const std::uint16_t port = peer.Port();
    const std::uint8_t portBytes[2] = {static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port & 0xFF)};
    SockAddrIn remote{s.InetAddr("127.0.0.1"), 0};
    std::memcpy(&remote.port, portBytes, 2);
    s.Connect(h, remote);
    testing::RawSocket conn;
    ASSERT_TRUE(loop.RunUntilFor([&] {
        if (!conn.valid()) conn = peer.TryAccept();
        return conn.valid() && count(FD_CONNECT_) == 1;
    }, 5000ms));
    ASSERT_EQ(s.WSAAsyncSelect(h, window, WM_USER_ + 1, FD_READ_ | FD_WRITE_ | FD_CLOSE_), 0);

    // A read waits unanswered, and a write waits for room.
    conn.SendAll("x");
    ASSERT_TRUE(loop.RunUntilFor([&] { return count(FD_READ_) == 1; }, 5000ms));
    std::vector<char> block(1 << 20, 'b');
    while (s.Send(h, block.data(), static_cast<int>(block.size()), 0) > 0) {
    }
    ASSERT_EQ(s.WSAGetLastError(), WSAEWOULDBLOCK_);

    conn.Close();  // reset
    loop.RunFor(100ms);
    EXPECT_EQ(count(FD_READ_), 1) << "a second read notification before the first was answered";
    EXPECT_EQ(count(FD_CLOSE_), 0) << "the close came before the data ahead of it was read";

    // Answering the reads brings the close, once.
    char buf[16];
    long answered = 0;
    ASSERT_TRUE(loop.RunUntilFor([&] {
        if (count(FD_READ_) > answered) {
            ++answered;
            s.Recv(h, buf, sizeof buf, 0);
        }
        return count(FD_CLOSE_) >= 1;
    }, 5000ms));
    loop.RunFor(100ms);
    EXPECT_EQ(count(FD_CLOSE_), 1);
    s.CloseSocket(h);
    loop.DestroyWindow(window);
}

}  // namespace
}  // namespace zumelko
