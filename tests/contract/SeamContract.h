#pragma once
// What every desktop must do behind the platform seam, checked the same way on each: the
// clipboard's transactions, text blocks and viewer chain, and the loop's order and nesting.
// Each desktop instantiates the suites with a traits type that gives:
//   Traits()                      installs (or finds) the desktop for one test
//   platform::Desktop& Desk()
//   void Settle()                 lets whatever the desktop still has to deliver arrive
//   bool RunUntil(done, ms=5000)  runs the loop until done() or the time is up; returns done()
//   void OtherProgramCopies(text, secret=false)
//                                 another program puts text on the clipboard (with a password
//                                 manager's mark when secret) and returns before this
//                                 program's loop has run
//   bool OtherProgramSeesSecret() whether the clipboard's content carries the marks, as the
//                                 desktop's own tools read them
//   void RestoreExceptionHandler() puts back what the desktop's loop did with escaped exceptions
// Whatever differs between desktops belongs in the traits, never in the tests.
#include <gtest/gtest.h>
#ifdef _WIN32
#include "platform/win32/Win32Api.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/Sockets.h"

namespace zumelko::contract {

using platform::Hwnd;
using platform::LParam;
using platform::LResult;
using platform::WParam;

// A window of the viewer chain that keeps to its rules, noting every message as it comes.
class ChainMember {
public:
    struct Heard {
        std::uint32_t message;
        WParam w;
        LParam l;
        bool operator==(const Heard&) const = default;
    };
    explicit ChainMember(platform::Desktop& desk) : desk_(desk) {
        hwnd_ = desk_.loop().CreateHiddenWindow([this](std::uint32_t m, WParam w, LParam l) -> LResult {
            if (m != platform::WM_DRAWCLIPBOARD_ && m != platform::WM_CHANGECBCHAIN_) return 0;
            heard.push_back({m, w, l});
            if (m == platform::WM_DRAWCLIPBOARD_) {
                desk_.loop().SendMessage(next, m, w, l);
                if (onChange) onChange();
            } else if (w == next) {
                next = static_cast<Hwnd>(l);
            } else {
                desk_.loop().SendMessage(next, m, w, l);
            }
            return 0;
        });
    }
    ~ChainMember() { desk_.loop().DestroyWindow(hwnd_); }
    ChainMember(const ChainMember&) = delete;
    ChainMember& operator=(const ChainMember&) = delete;

    void Join() { next = desk_.clipboard().SetClipboardViewer(hwnd_); }
    bool Leave() { return desk_.clipboard().ChangeClipboardChain(hwnd_, next); }
    std::size_t Changes() const {
        std::size_t n = 0;
        for (const Heard& h : heard) n += h.message == platform::WM_DRAWCLIPBOARD_;
        return n;
    }
    Hwnd hwnd() const { return hwnd_; }

    Hwnd next = 0;
    std::vector<Heard> heard;
    std::function<void()> onChange;

private:
    platform::Desktop& desk_;
    Hwnd hwnd_ = 0;
};

template <typename Traits>
class ClipboardContract : public ::testing::Test {
protected:
    platform::Desktop& desk() { return traits.Desk(); }
    platform::Clipboard& clip() { return desk().clipboard(); }
    // One transaction of this program: empty, then write the block when there is one.
    void Transaction(Hwnd owner, const std::optional<std::string>& block) {
        ASSERT_TRUE(clip().OpenClipboard(owner));
        EXPECT_TRUE(clip().EmptyClipboard());
        if (block) {
            EXPECT_TRUE(clip().SetText(*block));
        }
        EXPECT_TRUE(clip().CloseClipboard());
    }
    std::optional<std::string> Read(Hwnd owner) {
        if (!clip().OpenClipboard(owner)) return std::nullopt;
        auto text = clip().GetText();
        clip().CloseClipboard();
        return text;
    }

    Traits traits;
};

TYPED_TEST_SUITE_P(ClipboardContract);

// The program's own change is told once, while CloseClipboard runs, after the clipboard is
// closed (a viewer can read the new content at once); Qt's or X's own reports add nothing.
TYPED_TEST_P(ClipboardContract, OwnChangesAreToldOnceBeforeTheCloseReturns) {
    ChainMember viewer(this->desk());
    std::size_t joined = 0;
    viewer.onChange = [&] { ++joined; };
    viewer.Join();
    EXPECT_EQ(joined, 1u) << "a joining viewer is told at once";
    this->traits.Settle();
    viewer.heard.clear();

    std::optional<std::string> seen;
    viewer.onChange = [&] { seen = this->Read(viewer.hwnd()); };
    this->Transaction(viewer.hwnd(), std::string("first\0", 6));
    EXPECT_EQ(viewer.Changes(), 1u) << "told before CloseClipboard returned";
    EXPECT_EQ(seen, std::string("first\0", 6));
    this->traits.Settle();
    EXPECT_EQ(viewer.Changes(), 1u);

    // Taking an item over: a clear, then an empty-and-write: two notices. Emptying a clipboard
    // that is already empty is a change too.
    viewer.heard.clear();
    this->Transaction(viewer.hwnd(), std::nullopt);
    EXPECT_EQ(seen, std::nullopt);
    this->Transaction(viewer.hwnd(), std::nullopt);
    this->Transaction(viewer.hwnd(), std::string("second\0", 7));
    this->traits.Settle();
    EXPECT_EQ(viewer.Changes(), 3u);

    // Reading, and a period that writes nothing, change nothing; writes need an open clipboard.
    viewer.heard.clear();
    EXPECT_EQ(this->Read(viewer.hwnd()), std::string("second\0", 7));
    ASSERT_TRUE(this->clip().OpenClipboard(viewer.hwnd()));
    EXPECT_FALSE(this->clip().OpenClipboard(viewer.hwnd() + 1)) << "held by another window";
    EXPECT_TRUE(this->clip().CloseClipboard());
    EXPECT_FALSE(this->clip().CloseClipboard());
    EXPECT_FALSE(this->clip().SetText(std::string("x\0", 2)));
    EXPECT_FALSE(this->clip().EmptyClipboard());
    EXPECT_EQ(this->clip().GetText(), std::nullopt);
    this->traits.Settle();
    EXPECT_EQ(viewer.Changes(), 0u);
    viewer.Leave();
}

// GetClipboardData(CF_TEXT) gives the whole block: its terminating NUL and whatever follows an
// embedded one, for the program's own text and another program's alike.
TYPED_TEST_P(ClipboardContract, TextIsTheWholeBlockWithItsNul) {
    const Hwnd owner = this->desk().shell().ApplicationWindow();
    for (const std::string& block : {std::string("abc\0", 4), std::string("ab\0cd\0", 6), std::string(1, '\0'),
                                    std::string("\x83\x65\x83\x4C\x83\x58\x83\x67\0", 9)}) {
        this->Transaction(owner, block);
        EXPECT_TRUE(this->clip().IsClipboardFormatAvailable(platform::CF_TEXT_));
        EXPECT_FALSE(this->clip().IsClipboardFormatAvailable(platform::CF_BITMAP_));
        EXPECT_EQ(this->Read(owner), block);
    }
    this->traits.OtherProgramCopies("from outside");
    this->traits.Settle();
    EXPECT_EQ(this->Read(owner), std::string("from outside\0", 13));
    this->Transaction(owner, std::nullopt);
    EXPECT_FALSE(this->clip().IsClipboardFormatAvailable(platform::CF_TEXT_));
    EXPECT_EQ(this->Read(owner), std::nullopt);
}

// Another program's change reaches the chain through the loop, once.
TYPED_TEST_P(ClipboardContract, AnotherProgramsChangeIsToldThroughTheLoopOnce) {
    ChainMember viewer(this->desk());
    viewer.Join();
    this->traits.Settle();
    viewer.heard.clear();
    this->traits.OtherProgramCopies("theirs");
    EXPECT_EQ(viewer.Changes(), 0u) << "not before the loop has run";
    this->traits.Settle();
    EXPECT_EQ(viewer.Changes(), 1u);
    viewer.Leave();
}

// Leaving the chain: the head (the new one when the head leaves) is told and passes the word
// down; the window before the leaving one links past it. The result is the head's answer, and
// true when no window is left to tell.
TYPED_TEST_P(ClipboardContract, LeavingTheChainTellsTheHeadAndLinksPast) {
    using Heard = ChainMember::Heard;
    ChainMember a(this->desk()), b(this->desk()), c(this->desk());
    a.Join();
    b.Join();
    c.Join();  // c -> b -> a
    EXPECT_EQ(c.next, b.hwnd());
    EXPECT_EQ(b.next, a.hwnd());
    this->traits.Settle();
    for (ChainMember* m : {&a, &b, &c}) m->heard.clear();

    EXPECT_FALSE(b.Leave()) << "the head answered 0";
    const Heard bLeaves{platform::WM_CHANGECBCHAIN_, b.hwnd(), static_cast<LParam>(a.hwnd())};
    EXPECT_EQ(c.heard, std::vector<Heard>{bLeaves});
    EXPECT_TRUE(b.heard.empty());
    EXPECT_EQ(c.next, a.hwnd());
    this->Transaction(c.hwnd(), std::string("x\0", 2));
    EXPECT_EQ(c.Changes(), 1u);
    EXPECT_EQ(a.Changes(), 1u);
    EXPECT_EQ(b.Changes(), 0u);

    a.heard.clear();
    c.heard.clear();
    EXPECT_FALSE(c.Leave());  // the head leaves: the new head hears of it
    const Heard cLeaves{platform::WM_CHANGECBCHAIN_, c.hwnd(), static_cast<LParam>(a.hwnd())};
    EXPECT_EQ(a.heard, std::vector<Heard>{cLeaves});
    EXPECT_TRUE(c.heard.empty());
    this->Transaction(a.hwnd(), std::string("y\0", 2));
    EXPECT_EQ(a.Changes(), 1u);
    EXPECT_EQ(c.Changes(), 0u);

    a.heard.clear();
    EXPECT_TRUE(a.Leave()) << "nobody is left to tell";
    EXPECT_TRUE(a.heard.empty());
    EXPECT_TRUE(a.Leave()) << "leaving an empty chain";
    this->Transaction(a.hwnd(), std::string("z\0", 2));
    this->traits.Settle();
    EXPECT_EQ(a.Changes(), 0u);
}

// A password manager's mark is read with the copy it came with, and never after a later one; what
// the program marks carries the desktop's marks for other programs, and its next write none.
TYPED_TEST_P(ClipboardContract, SecretMarksGoWithTheirCopy) {
    const Hwnd owner = this->desk().shell().ApplicationWindow();
    auto marked = [&] {
        if (!this->clip().OpenClipboard(owner)) return false;
        const bool secret = this->clip().IsMarkedSecret();
        this->clip().CloseClipboard();
        return secret;
    };
    for (const bool secret : {true, false, true}) {
        this->traits.OtherProgramCopies(secret ? "hunter2" : "ordinary", secret);
        this->traits.Settle();
        EXPECT_EQ(this->Read(owner), std::string(secret ? "hunter2" : "ordinary") + '\0');
        EXPECT_EQ(marked(), secret);
    }
    EXPECT_FALSE(this->clip().IsMarkedSecret()) << "only with the clipboard open";
    EXPECT_FALSE(this->clip().MarkSecret());

    for (const bool secret : {true, false}) {
        ASSERT_TRUE(this->clip().OpenClipboard(owner));
        EXPECT_TRUE(this->clip().EmptyClipboard());
        EXPECT_TRUE(this->clip().SetText(std::string("ours\0", 5)));
        if (secret) {
            EXPECT_TRUE(this->clip().MarkSecret());
        }
        EXPECT_TRUE(this->clip().CloseClipboard());
        this->traits.Settle();
        EXPECT_EQ(marked(), secret);
        EXPECT_EQ(this->traits.OtherProgramSeesSecret(), secret);
        EXPECT_EQ(this->Read(owner), std::string("ours\0", 5));
    }
}

REGISTER_TYPED_TEST_SUITE_P(ClipboardContract, OwnChangesAreToldOnceBeforeTheCloseReturns,
                            TextIsTheWholeBlockWithItsNul, AnotherProgramsChangeIsToldThroughTheLoopOnce,
                            LeavingTheChainTellsTheHeadAndLinksPast, SecretMarksGoWithTheirCopy);

template <typename Traits>
class LoopContract : public ::testing::Test {
protected:
    platform::Loop& loop() { return traits.Desk().loop(); }
    Traits traits;
};

TYPED_TEST_SUITE_P(LoopContract);

// Posted messages come later, in order, one at a time; sent ones at once with their answer;
// what is posted while the pending ones are dispatched waits for the next round; a destroyed
// window's messages are dropped.
TYPED_TEST_P(LoopContract, PostedInOrderSentAtOnceDestroyedDropped) {
    auto& loop = this->loop();
    std::vector<int> got;
    Hwnd second = 0;
    const Hwnd first = loop.CreateHiddenWindow([&](std::uint32_t m, WParam w, LParam) -> LResult {
        got.push_back(static_cast<int>(w));
        if (w == 2) loop.PostMessage(second, m, 20, 0);
        return static_cast<LResult>(w * 10);
    });
    second = loop.CreateHiddenWindow([&](std::uint32_t, WParam w, LParam) -> LResult {
        got.push_back(static_cast<int>(w));
        return 0;
    });
    for (WParam w : {1, 2, 3}) EXPECT_TRUE(loop.PostMessage(first, platform::WM_USER_, w, 0));
    EXPECT_TRUE(got.empty()) << "posting runs nothing";
    EXPECT_EQ(loop.SendMessage(first, platform::WM_USER_, 7, 0), 70);
    EXPECT_EQ(got, std::vector<int>{7});
    loop.ProcessMessages();
    EXPECT_EQ(got, (std::vector<int>{7, 1, 2, 3}));
    this->traits.Settle();
    EXPECT_EQ(got, (std::vector<int>{7, 1, 2, 3, 20}));

    loop.PostMessage(second, platform::WM_USER_, 99, 0);
    loop.DestroyWindow(second);
    EXPECT_FALSE(loop.IsWindow(second));
    EXPECT_FALSE(loop.PostMessage(second, platform::WM_USER_, 98, 0));
    EXPECT_EQ(loop.SendMessage(second, platform::WM_USER_, 97, 0), 0);
    this->traits.Settle();
    EXPECT_EQ(got.back(), 20);
    loop.DestroyWindow(first);
}

// A handler may run a nested loop (a modal dialog does): messages posted before and during it
// are delivered inside it, in order. A window procedure that throws is reported and the loop
// goes on.
TYPED_TEST_P(LoopContract, NestedLoopsDeliverAndThrowingProceduresAreReported) {
    auto& loop = this->loop();
    std::vector<std::string> got;
    std::vector<std::string> reported;
    loop.SetExceptionHandler([&](const std::exception& e) { reported.push_back(e.what()); });
    Hwnd w = 0;
    w = loop.CreateHiddenWindow([&](std::uint32_t m, WParam p, LParam) -> LResult {
        if (m == platform::WM_USER_ + 1) throw std::runtime_error("thrown");
        got.push_back("msg" + std::to_string(p));
        if (p == 1) {
            loop.PostMessage(w, platform::WM_USER_, 3, 0);
            loop.RunUntil([&] { return got.size() >= 3; });
            got.push_back("nested done");
        }
        return 0;
    });
    loop.PostMessage(w, platform::WM_USER_, 1, 0);
    loop.PostMessage(w, platform::WM_USER_ + 1, 0, 0);
    loop.PostMessage(w, platform::WM_USER_, 2, 0);
    loop.RunUntil([&] { return got.size() >= 4; });
    EXPECT_EQ(got, (std::vector<std::string>{"msg1", "msg2", "msg3", "nested done"}));
    EXPECT_EQ(reported, std::vector<std::string>{"thrown"});
    this->traits.RestoreExceptionHandler();
    loop.DestroyWindow(w);
}

// Timers tick through the queue with their id, not before their time, not after they are killed
// (a tick already queued included), and end with their window.
TYPED_TEST_P(LoopContract, TimersTickWithTheirIdUntilKilled) {
    auto& loop = this->loop();
    std::vector<WParam> ticks;
    const Hwnd w = loop.CreateHiddenWindow([&](std::uint32_t m, WParam p, LParam) -> LResult {
        if (m == platform::WM_TIMER_) ticks.push_back(p);
        return 0;
    });
    auto count = [&](WParam id) { return std::count(ticks.begin(), ticks.end(), id); };
    EXPECT_FALSE(loop.SetTimer(0x7FFF0, 1, 10)) << "no such window";
    ASSERT_TRUE(loop.SetTimer(w, 1, 20));
    ASSERT_TRUE(loop.SetTimer(w, 2, 60000));
    loop.ProcessMessages();
    EXPECT_TRUE(ticks.empty()) << "nothing before the first interval";
    EXPECT_TRUE(this->traits.RunUntil([&] { return count(1) >= 3; }, 3000));
    EXPECT_EQ(count(2), 0) << "each timer keeps its own interval";
    EXPECT_TRUE(loop.KillTimer(w, 1));
    EXPECT_FALSE(loop.KillTimer(w, 1)) << "killed already";
    const auto afterKill = count(1);
    this->traits.RunUntil([] { return false; }, 100);
    EXPECT_EQ(count(1), afterKill) << "no tick after KillTimer";
    // Restarting an id that was set already moves its next tick.
    ASSERT_TRUE(loop.SetTimer(w, 2, 20));
    EXPECT_TRUE(this->traits.RunUntil([&] { return count(2) >= 1; }, 3000));
    loop.DestroyWindow(w);
    EXPECT_FALSE(loop.KillTimer(w, 2)) << "the window took its timers with it";
    this->traits.RunUntil([] { return false; }, 60);
}

REGISTER_TYPED_TEST_SUITE_P(LoopContract, PostedInOrderSentAtOnceDestroyedDropped,
                            NestedLoopsDeliverAndThrowingProceduresAreReported, TimersTickWithTheirIdUntilKilled);

// Socket readiness as WSAAsyncSelect gives it: through the loop, one notification at a time.
template <typename Traits>
class SocketContract : public ::testing::Test {
protected:
    Traits traits;
};

TYPED_TEST_SUITE_P(SocketContract);

// A window that notes the messages it gets.
struct Recorder {
    std::vector<std::pair<std::uint32_t, LParam>> got;
    platform::Desktop& desk;
    Hwnd window = 0;
    explicit Recorder(platform::Desktop& d) : desk(d) {
        window = desk.loop().CreateHiddenWindow([this](std::uint32_t m, WParam, LParam l) {
            got.emplace_back(m, l);
            return LResult{0};
        });
    }
    ~Recorder() { desk.loop().DestroyWindow(window); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
};

// The test's own plain sockets, in the system's socket calls.
#ifdef _WIN32
using RawSocket = SOCKET;
using RawLength = int;
inline void CloseRaw(RawSocket fd) { ::closesocket(fd); }
inline long WriteRaw(RawSocket fd, const char* data, int size) { return ::send(fd, data, size, 0); }
constexpr RawSocket kNoRawSocket = INVALID_SOCKET;
#else
using RawSocket = int;
using RawLength = socklen_t;
inline void CloseRaw(RawSocket fd) { ::close(fd); }
inline long WriteRaw(RawSocket fd, const char* data, int size) { return ::write(fd, data, static_cast<std::size_t>(size)); }
constexpr RawSocket kNoRawSocket = -1;
#endif

// A plain client socket to talk to the program's sockets.
inline RawSocket Dial(std::uint16_t port) {
    const RawSocket fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        CloseRaw(fd);
        return kNoRawSocket;
    }
    return fd;
}

TYPED_TEST_P(SocketContract, ReadinessComesOneAtATimeAndReadIsReArmedOnlyByARecv) {
    using namespace zumelko::platform;
    auto& s = this->traits.Desk().sockets();
    Recorder r(this->traits.Desk());
    const std::uint32_t kMsg = WM_USER_ + 50;
    const SocketHandle listener = s.Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_NE(listener, kInvalidSocket);
    SockAddrIn any{htonl(INADDR_LOOPBACK), 0};
    ASSERT_EQ(s.Bind(listener, any), 0);
    ASSERT_EQ(s.Listen(listener, 5), 0);
    ASSERT_EQ(s.WSAAsyncSelect(listener, r.window, kMsg, FD_ACCEPT_), 0);
    SockAddrIn local{};
    ASSERT_EQ(s.GetSockName(listener, local), 0);

    const RawSocket peer = Dial(ntohs(local.port));
    ASSERT_NE(peer, kNoRawSocket);
    ASSERT_TRUE(this->traits.RunUntil([&] { return !r.got.empty(); }));
    EXPECT_EQ(SelectEvent(r.got[0].second), FD_ACCEPT_);
    const SocketHandle conn = s.Accept(listener, nullptr);
    ASSERT_NE(conn, kInvalidSocket);
    ASSERT_EQ(s.WSAAsyncSelect(conn, r.window, kMsg, FD_READ_ | FD_CLOSE_), 0);
    r.got.clear();

    ASSERT_EQ(WriteRaw(peer, "abcdef", 6), 6);
    ASSERT_TRUE(this->traits.RunUntil([&] { return !r.got.empty(); }));
    // Unread data does not spin: no second notification until a receive.
    this->traits.Settle();
    ASSERT_EQ(r.got.size(), 1u);
    EXPECT_EQ(SelectEvent(r.got[0].second), FD_READ_);
    char buf[4];
    EXPECT_EQ(s.Recv(conn, buf, 3, 0), 3);
    ASSERT_TRUE(this->traits.RunUntil([&] { return r.got.size() == 2; }));
    EXPECT_EQ(SelectEvent(r.got[1].second), FD_READ_);
    EXPECT_EQ(s.Recv(conn, buf, 3, 0), 3);
    this->traits.Settle();
    EXPECT_EQ(r.got.size(), 2u);

    // The peer's close, once everything was read.
    CloseRaw(peer);
    ASSERT_TRUE(this->traits.RunUntil([&] { return r.got.size() == 3; }));
    EXPECT_EQ(SelectEvent(r.got[2].second), FD_CLOSE_);
    this->traits.Settle();
    EXPECT_EQ(r.got.size(), 3u);
    EXPECT_EQ(s.CloseSocket(conn), 0);
    EXPECT_EQ(s.CloseSocket(listener), 0);
}

TYPED_TEST_P(SocketContract, ConnectCompletionCarriesItsError) {
    using namespace zumelko::platform;
    auto& s = this->traits.Desk().sockets();
    Recorder r(this->traits.Desk());
    // A port nobody listens on: take one and close it again.
    const RawSocket probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    RawLength len = sizeof sa;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&sa), &len);
    CloseRaw(probe);

    const SocketHandle c = s.Socket(AF_INET_, SOCK_STREAM_, 0);
    ASSERT_EQ(s.WSAAsyncSelect(c, r.window, WM_USER_ + 9, FD_CONNECT_ | FD_READ_ | FD_CLOSE_), 0);
    s.Connect(c, {sa.sin_addr.s_addr, sa.sin_port});
    ASSERT_TRUE(this->traits.RunUntil([&] { return !r.got.empty(); }));
    EXPECT_EQ(SelectEvent(r.got[0].second), FD_CONNECT_);
    EXPECT_EQ(SelectError(r.got[0].second), WSAECONNREFUSED_);
    s.CloseSocket(c);
}

// A hard close tells its peer a reset; a shutdown first makes it an orderly close, with no
// error: what lets a sender tell a refused packet from a taken one.
TYPED_TEST_P(SocketContract, AHardCloseIsAResetUnlessAShutdownWentFirst) {
    using namespace zumelko::platform;
    auto& s = this->traits.Desk().sockets();
    for (const bool shutdownFirst : {false, true}) {
        SCOPED_TRACE(shutdownFirst ? "shutdown, then the hard close" : "the hard close alone");
        Recorder r(this->traits.Desk());
        const std::uint32_t kMsg = WM_USER_ + 51;
        const SocketHandle listener = s.Socket(AF_INET_, SOCK_STREAM_, 0);
        ASSERT_EQ(s.Bind(listener, {htonl(INADDR_LOOPBACK), 0}), 0);
        ASSERT_EQ(s.Listen(listener, 5), 0);
        SockAddrIn local{};
        ASSERT_EQ(s.GetSockName(listener, local), 0);
        ASSERT_EQ(s.WSAAsyncSelect(listener, r.window, kMsg, FD_ACCEPT_), 0);
        const SocketHandle client = s.Socket(AF_INET_, SOCK_STREAM_, 0);
        ASSERT_EQ(s.WSAAsyncSelect(client, r.window, kMsg, FD_CONNECT_ | FD_READ_ | FD_CLOSE_), 0);
        s.Connect(client, {htonl(INADDR_LOOPBACK), local.port});
        ASSERT_TRUE(this->traits.RunUntil([&] { return r.got.size() == 2; }));
        const SocketHandle conn = s.Accept(listener, nullptr);
        ASSERT_NE(conn, kInvalidSocket);
        ASSERT_EQ(s.Send(client, "packet", 6, 0), 6);
        char buf[8];
        ASSERT_TRUE(this->traits.RunUntil([&] { return s.Recv(conn, buf, 8, 0) == 6; }));
        r.got.clear();
        if (shutdownFirst) {
            EXPECT_EQ(s.Shutdown(conn, SD_BOTH_), 0);
        }
        EXPECT_EQ(s.SetLinger(conn, true, 0), 0);
        EXPECT_EQ(s.CloseSocket(conn), 0);
        int error = -1;
        ASSERT_TRUE(this->traits.RunUntil([&] {
            for (const auto& got : r.got) {
                if (SelectEvent(got.second) == FD_CLOSE_) error = SelectError(got.second);
            }
            return error >= 0;
        }));
        if (shutdownFirst) {
            EXPECT_EQ(error, 0);
        } else {
            EXPECT_TRUE(error == WSAECONNRESET_ || error == 10053) << error;
        }
        EXPECT_EQ(s.CloseSocket(client), 0);
        EXPECT_EQ(s.CloseSocket(listener), 0);
    }
}

// Name lookups away from the loop: every answer through the loop, none for a cancelled
// request, the address taken once.
TYPED_TEST_P(SocketContract, LookupsAnswerThroughTheLoopAndCancelledOnesNever) {
    using namespace zumelko::platform;
    auto& s = this->traits.Desk().sockets();
    struct Heard {
        WParam request;
        int error;
    };
    std::vector<Heard> heard;
    const std::uint32_t kMsg = WM_USER_ + 52;
    const Hwnd window = this->traits.Desk().loop().CreateHiddenWindow([&](std::uint32_t m, WParam w, LParam l) {
        if (m == kMsg) heard.push_back({w, SelectError(l)});
        return LResult{0};
    });
    const AsyncHandle known = s.WSAAsyncGetHostByName(window, kMsg, "localhost");
    const AsyncHandle unknown = s.WSAAsyncGetHostByName(window, kMsg, "no-such-host.invalid");
    const AsyncHandle cancelled = s.WSAAsyncGetHostByName(window, kMsg, "localhost");
    ASSERT_NE(known, 0u);
    ASSERT_NE(unknown, 0u);
    ASSERT_NE(cancelled, 0u);
    EXPECT_NE(known, unknown);
    EXPECT_EQ(s.WSACancelAsyncRequest(cancelled), 0);
    EXPECT_TRUE(heard.empty()) << "answers come through the loop only";
    ASSERT_TRUE(this->traits.RunUntil([&] { return heard.size() == 2; }, 20000));
    this->traits.Settle();
    ASSERT_EQ(heard.size(), 2u) << "nothing for the cancelled request";
    for (const Heard& h : heard) {
        std::uint32_t addr = 0;
        if (h.request == known) {
            EXPECT_EQ(h.error, 0);
            EXPECT_TRUE(s.TakeHostAddress(known, addr));
            EXPECT_EQ(addr, htonl(INADDR_LOOPBACK));
            EXPECT_FALSE(s.TakeHostAddress(known, addr)) << "taken once";
        } else {
            EXPECT_EQ(h.request, unknown);
            EXPECT_TRUE(h.error >= WSAHOST_NOT_FOUND_ && h.error <= 11004) << h.error;
            EXPECT_FALSE(s.TakeHostAddress(unknown, addr));
        }
    }
    EXPECT_NE(s.WSACancelAsyncRequest(known), 0) << "an answered request is no longer known";
    this->traits.Desk().loop().DestroyWindow(window);
}

REGISTER_TYPED_TEST_SUITE_P(SocketContract, ReadinessComesOneAtATimeAndReadIsReArmedOnlyByARecv,
                            ConnectCompletionCarriesItsError, AHardCloseIsAResetUnlessAShutdownWentFirst,
                            LookupsAnswerThroughTheLoopAndCancelledOnesNever);

}  // namespace zumelko::contract
