// The Windows loop and Winsock through the seam: message order and nesting, what the system
// keeps for itself, and socket notifications with their Winsock codes.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/AddressSpace.h"
#include "platform/win32/Win32Api.h"
#include "tests/win32/Win32TestSupport.h"

namespace zumelko::wintest {
namespace {

using namespace zumelko::platform;

struct Recorder {
    std::vector<std::pair<std::uint32_t, LParam>> got;
    std::vector<WParam> wparams;
    Hwnd window = 0;
    Recorder() {
        window = Desk().loop().CreateHiddenWindow([this](std::uint32_t m, WParam w, LParam l) {
            got.emplace_back(m, l);
            wparams.push_back(w);
            return LResult{0};
        });
    }
    ~Recorder() { Desk().loop().DestroyWindow(window); }
};

TEST(Loop, RunsInTheJapaneseCodePage) {
    // The session's locale makes this the system Zumelko's Windows users have.
    EXPECT_EQ(::GetACP(), 932u);
}

TEST(Loop, OrderNestingAndWhatTheSystemKeeps) {
    auto& loop = Desk().loop();
    Recorder a, b;
    for (int i = 0; i < 5; ++i) loop.PostMessage(a.window, WM_USER_ + 1, 0, i);
    loop.PostMessage(b.window, WM_USER_ + 2, 0, 0);
    loop.DestroyWindow(b.window);
    EXPECT_FALSE(loop.PostMessage(b.window, WM_USER_, 0, 0));
    // One round handles what was pending, not what its handlers post meanwhile.
    const Hwnd echo = loop.CreateHiddenWindow([&](std::uint32_t m, WParam, LParam l) {
        if (m == WM_USER_) loop.PostMessage(a.window, WM_USER_ + 9, 0, l);
        return LResult{0};
    });
    loop.PostMessage(echo, WM_USER_, 0, 42);
    loop.ProcessMessages();
    ASSERT_EQ(a.got.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a.got[static_cast<std::size_t>(i)].second, i);
    EXPECT_TRUE(b.got.empty());
    loop.ProcessMessages();
    ASSERT_EQ(a.got.size(), 6u);
    EXPECT_EQ(a.got[5], (std::pair<std::uint32_t, LParam>{WM_USER_ + 9, 42}));

    // A nested loop runs posted messages and unwinds before the outer one goes on.
    std::vector<std::string> trace;
    bool innerDone = false;
    bool outerDone = false;
    const Hwnd finisher = loop.CreateHiddenWindow([&](std::uint32_t m, WParam, LParam) {
        if (m == WM_USER_) innerDone = true;
        return LResult{0};
    });
    const Hwnd nester = loop.CreateHiddenWindow([&](std::uint32_t m, WParam, LParam) {
        if (m == WM_USER_) {
            trace.push_back("inner start, depth " + std::to_string(loop.Depth()));
            loop.PostMessage(a.window, WM_USER_ + 7, 0, 0);
            loop.PostMessage(finisher, WM_USER_, 0, 0);
            loop.RunUntil([&] { return innerDone; });
            trace.push_back("inner end, saw " + std::to_string(a.got.size()));
            outerDone = true;
        }
        return LResult{0};
    });
    loop.PostMessage(nester, WM_USER_, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return outerDone; }, 3000));
    EXPECT_EQ(trace, (std::vector<std::string>{"inner start, depth 1", "inner end, saw 7"}));

    // The program's handlers answer only their own messages; the rest must reach the system.
    const Hwnd quiet = loop.CreateHiddenWindow([](std::uint32_t, WParam, LParam) { return LResult{0}; });
    ::SendMessageW(win32::AsHandle<HWND>(quiet), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"名前"));
    wchar_t text[8] = {};
    ::GetWindowTextW(win32::AsHandle<HWND>(quiet), text, 8);
    EXPECT_STREQ(text, L"名前");

    // An exception thrown by a window procedure is reported, and the loop carries on.
    const Hwnd thrower = loop.CreateHiddenWindow([](std::uint32_t, WParam, LParam) -> LResult {
        throw std::runtime_error("from a window procedure");
    });
    const auto before = Desk().ui().Exceptions().size();
    loop.PostMessage(thrower, WM_USER_, 0, 0);
    loop.PostMessage(a.window, WM_USER_ + 3, 0, 99);
    EXPECT_TRUE(PumpUntil([&] { return a.got.size() == 8; }, 2000));
    EXPECT_EQ(Desk().ui().Exceptions().size(), before + 1);
    for (Hwnd h : {echo, nester, quiet, finisher, thrower}) loop.DestroyWindow(h);
}

class Sockets : public ::testing::Test {
protected:
    void SetUp() override {
        WsaData data;
        ASSERT_EQ(net().WSAStartup(0x0101, data), 0);
    }
    void TearDown() override { net().WSACleanup(); }
    static platform::Sockets& net() { return Desk().sockets(); }
    // Events seen for socket s, in order: (event, error).
    static std::vector<std::pair<int, int>> EventsOf(const Recorder& r, SocketHandle s) {
        std::vector<std::pair<int, int>> out;
        for (std::size_t i = 0; i < r.got.size(); ++i)
            if (static_cast<SocketHandle>(r.wparams[i]) == s)
                out.emplace_back(SelectEvent(r.got[i].second), SelectError(r.got[i].second));
        return out;
    }
    static SockAddrIn Loopback(std::uint16_t portNetworkOrder) {
        return {net().InetAddr("127.0.0.1"), portNetworkOrder};
    }
};

TEST_F(Sockets, ConnectAcceptReadOnceUntilReceivedAndClose) {
    Recorder r;
    const SocketHandle listener = net().Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_NE(listener, kInvalidSocket);
    ASSERT_EQ(net().Bind(listener, Loopback(0)), 0);
    ASSERT_EQ(net().Listen(listener, 5), 0);
    SockAddrIn bound;
    ASSERT_EQ(net().GetSockName(listener, bound), 0);
    ASSERT_EQ(net().WSAAsyncSelect(listener, r.window, WM_USER_ + 1, FD_ACCEPT_), 0);

    const SocketHandle client = net().Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_EQ(net().WSAAsyncSelect(client, r.window, WM_USER_ + 2, FD_CONNECT_ | FD_READ_ | FD_CLOSE_), 0);
    EXPECT_EQ(net().Connect(client, Loopback(bound.port)), kSocketError);
    EXPECT_EQ(net().WSAGetLastError(), WSAEWOULDBLOCK_);
    ASSERT_TRUE(PumpUntil([&] { return !EventsOf(r, client).empty() && !EventsOf(r, listener).empty(); }));
    EXPECT_EQ(EventsOf(r, client).front(), (std::pair<int, int>{FD_CONNECT_, 0}));
    EXPECT_EQ(EventsOf(r, listener).front(), (std::pair<int, int>{FD_ACCEPT_, 0}));
    SockAddrIn peer;
    const SocketHandle served = net().Accept(listener, &peer);
    ASSERT_NE(served, kInvalidSocket);
    EXPECT_EQ(peer.addr, net().InetAddr("127.0.0.1"));

    // Bytes wait: one notice, and no other until they are received.
    ASSERT_EQ(net().Send(served, "abc", 3, 0), 3);
    ASSERT_TRUE(PumpUntil([&] { return EventsOf(r, client).size() == 2; }));
    ASSERT_EQ(net().Send(served, "def", 3, 0), 3);
    Pump(200);
    EXPECT_EQ(EventsOf(r, client), (std::vector<std::pair<int, int>>{{FD_CONNECT_, 0}, {FD_READ_, 0}}));
    char buffer[16] = {};
    EXPECT_EQ(net().Recv(client, buffer, 2, 0), 2);
    ASSERT_TRUE(PumpUntil([&] { return EventsOf(r, client).size() == 3; }));
    EXPECT_EQ(net().Recv(client, buffer, sizeof buffer, 0), 4);
    EXPECT_EQ(std::string(buffer, 4), "cdef");

    // The peer closes: one close notice with no error.
    net().CloseSocket(served);
    ASSERT_TRUE(PumpUntil([&] {
        const auto e = EventsOf(r, client);
        return !e.empty() && e.back().first == FD_CLOSE_;
    }));
    EXPECT_EQ(EventsOf(r, client).back(), (std::pair<int, int>{FD_CLOSE_, 0}));
    net().CloseSocket(client);

    // Nobody listens on the port any more: the connect completes with 10061. (Winsock reuses
    // handle values, so what was heard for the closed sockets goes first.)
    net().CloseSocket(listener);
    r.got.clear();
    r.wparams.clear();
    const SocketHandle refused = net().Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_EQ(net().WSAAsyncSelect(refused, r.window, WM_USER_ + 2, FD_CONNECT_ | FD_CLOSE_), 0);
    net().Connect(refused, Loopback(bound.port));
    ASSERT_TRUE(PumpUntil([&] { return !EventsOf(r, refused).empty(); }));
    EXPECT_EQ(EventsOf(r, refused).front(), (std::pair<int, int>{FD_CONNECT_, WSAECONNREFUSED_}));
    net().CloseSocket(refused);
}

TEST_F(Sockets, NamesResolveFromTheHostsFileAndUnknownOnesGive11001) {
    std::uint32_t addr = 0;
    ASSERT_TRUE(net().GetHostByName("localhost", addr));
    EXPECT_EQ(addr, net().InetAddr("127.0.0.1"));
    EXPECT_FALSE(net().GetHostByName("no-such-host.invalid", addr));
    EXPECT_EQ(net().WSAGetLastError(), WSAHOST_NOT_FOUND_);
    EXPECT_EQ(net().InetAddr("1.2.3"), net().InetAddr("1.2.0.3"));
    EXPECT_EQ(net().InetAddr("300.1.1.1"), INADDR_NONE_);
    std::uint16_t port = 0;
    EXPECT_FALSE(net().GetServByName("no-such-service", "tcp", port));
}

// A large receive brings its buffer's pages in before the data: what it does not fill keeps
// what it held, in an ordinary buffer and in new pages set aside and committed.
TEST_F(Sockets, ALargeReceiveLeavesWhatItDoesNotFillAsItWas) {
    Recorder r;
    const SocketHandle listener = net().Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_EQ(net().Bind(listener, Loopback(0)), 0);
    ASSERT_EQ(net().Listen(listener, 5), 0);
    SockAddrIn bound;
    ASSERT_EQ(net().GetSockName(listener, bound), 0);
    const SocketHandle client = net().Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_EQ(net().WSAAsyncSelect(client, r.window, WM_USER_ + 2, FD_CONNECT_ | FD_READ_), 0);
    net().Connect(client, Loopback(bound.port));
    ASSERT_TRUE(PumpUntil([&] { return !EventsOf(r, client).empty(); }));
    const SocketHandle served = net().Accept(listener, nullptr);
    ASSERT_NE(served, kInvalidSocket);

    constexpr std::size_t kSize = 1 << 20;
    std::string held(kSize, '\0');
    for (std::size_t i = 0; i < kSize; ++i) held[i] = static_cast<char>(i * 7 + 1);
    void* space = ReserveAddressSpace(kSize);
    ASSERT_NE(space, nullptr);
    ASSERT_TRUE(CommitAddressSpace(space, kSize, kSize));
    struct Case {
        char* buffer;
        int length;
        std::string before;
    } cases[] = {{held.data() + 1, static_cast<int>(kSize - 1), held.substr(1)},
                 {static_cast<char*>(space), static_cast<int>(kSize), std::string(kSize, '\0')}};
    for (Case& c : cases) {
        const std::size_t seen = EventsOf(r, client).size();
        ASSERT_EQ(net().Send(served, "xyz", 3, 0), 3);
        ASSERT_TRUE(PumpUntil([&] { return EventsOf(r, client).size() > seen; }));
        ASSERT_EQ(net().Recv(client, c.buffer, c.length, 0), 3);
        EXPECT_EQ(std::string(c.buffer, 3), "xyz");
        EXPECT_TRUE(std::string(c.buffer + 3, c.before.size() - 3) == c.before.substr(3));
    }
    ReleaseAddressSpace(space, kSize);
    net().CloseSocket(served);
    net().CloseSocket(client);
    net().CloseSocket(listener);
}

}  // namespace
}  // namespace zumelko::wintest
