// Anyone on the network can connect to a listening channel. Whatever a peer sends, slowly,
// wrongly or not at all, the channel stays able to receive the next good packet.
#include <sys/socket.h>

#include <algorithm>
#include <future>
#include <stdexcept>

#include "tests/transport/ChannelFixture.h"

namespace zumelko::testing {
namespace {

class SimpleTcpHostile : public ChannelTest {
protected:
    Reports rx, tx;
    TSimpleTcp* receiver = nullptr;
    TSimpleTcp* sender = nullptr;

    void SetUp() override {
        receiver = &Listening(rx);
        sender = &Channel(tx);
    }

    RawSocket Connect() {
        RawSocket s = RawConnect(static_cast<std::uint16_t>(kChannelPort));
        // Let the listener take it before anything else happens.
        Settle(10ms);
        return s;
    }

    // Sends bytes one write at a time, letting the loop run in between.
    void Trickle(const RawSocket& s, const std::string& bytes) {
        for (char c : bytes) {
            s.SendAll(std::string(1, c));
            Settle(3ms);
        }
    }

    // Writes from a thread of its own while the loop runs, so a write larger than the socket
    // buffers cannot stall the test. False when the channel closed the connection meanwhile.
    bool Feed(const RawSocket& s, const std::string& bytes) {
        auto sent = std::async(std::launch::async, [&s, &bytes] {
            try {
                s.SendAll(bytes);
                return true;
            } catch (const std::exception&) {
                return false;
            }
        });
        Pump([&] { return sent.wait_for(0s) == std::future_status::ready; });
        Settle();
        return sent.get();
    }

    // The channel still takes a good packet, whole and alone.
    void ExpectStillReceiving(const std::string& text = "good packet") {
        const auto before = rx.payloads.size();
        sender->SendString(text);
        ASSERT_TRUE(Pump([&] { return tx.sended == 1 && rx.payloads.size() == before + 1; }));
        EXPECT_EQ(rx.payloads.back(), text + std::string(1, '\0'));
        tx.sended = 0;
    }
};

TEST_F(SimpleTcpHostile, PacketInSmallPiecesIsReassembledAndReportedOnce) {
    RawSocket peer = Connect();
    const std::string payload("hello, world", 13);
    // The length field in two halves, then the payload byte by byte.
    peer.SendAll(LengthField(13).substr(0, 2));
    Settle(20ms);
    peer.SendAll(LengthField(13).substr(2));
    Settle(20ms);
    Trickle(peer, payload.substr(0, payload.size() - 1));
    EXPECT_EQ(rx.received, 0);
    peer.SendAll(payload.substr(payload.size() - 1));
    ASSERT_TRUE(Pump([&] { return rx.received == 1; }));
    EXPECT_EQ(rx.payloads[0], payload);
    EXPECT_TRUE(PeerClosedWhilePumping(peer)) << "the receiver closes after the packet";
    Settle();
    EXPECT_EQ(rx.received, 1);
    EXPECT_TRUE(rx.errors.empty());
}

TEST_F(SimpleTcpHostile, ZeroLengthIsAnEmptyPacket) {
    RawSocket peer = Connect();
    peer.SendAll(LengthField(0));
    ASSERT_TRUE(Pump([&] { return rx.received == 1; }));
    EXPECT_EQ(rx.payloads[0], "");
    EXPECT_TRUE(PeerClosedWhilePumping(peer));
    ExpectStillReceiving();
}

TEST_F(SimpleTcpHostile, NegativeLengthClosesTheConnectionAndNothingArrives) {
    RawSocket peer = Connect();
    peer.SendAll(LengthField(-1) + "junk after it");
    EXPECT_TRUE(PeerClosedWhilePumping(peer));
    EXPECT_EQ(rx.received, 0);
    EXPECT_EQ(receiver->IncomingConnections(), 0u);
    ExpectStillReceiving();
    EXPECT_TRUE(rx.errors.empty());
}

TEST_F(SimpleTcpHostile, HugeLengthReservesOnlyWhatArrives) {
    RawSocket peer = Connect();
    peer.SendAll(LengthField(static_cast<std::int32_t>(TSimpleTcp::kDefaultMaxPacketSize)));
    Settle();
    EXPECT_LT(receiver->IncomingCapacity(), 1u << 20) << "the length field alone made the buffer grow";
    peer.SendAll(std::string(100000, 'x'));
    Settle(100ms);
    const std::size_t held = receiver->IncomingCapacity();
    EXPECT_GE(held, 100000u);
    EXPECT_LT(held, 1u << 20);
    // The peer gives up: the unfinished packet goes, nothing is reported.
    peer.Close();
    ASSERT_TRUE(Pump([&] { return receiver->IncomingConnections() == 0; }));
    EXPECT_EQ(receiver->IncomingCapacity(), 0u);
    EXPECT_EQ(rx.received, 0);
    ExpectStillReceiving();
}

TEST_F(SimpleTcpHostile, TruncatedPacketIsDroppedAndDoesNotLeakIntoTheNext) {
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        RawSocket peer = Connect();
        peer.SendAll(LengthField(100) + std::string(50, 'T'));
        Settle();
        if (reset) {
            peer.Close();
        } else {
            peer.CloseGracefully();
        }
        ASSERT_TRUE(Pump([&] { return receiver->IncomingConnections() == 0; }));
        EXPECT_EQ(rx.received, 0);
        ExpectStillReceiving();
        rx.received = 0;
        rx.payloads.clear();
    }
}

TEST_F(SimpleTcpHostile, TwoSendersInterleavedByteByByteStayApart) {
    RawSocket a = Connect();
    RawSocket b = Connect();
    const std::string wireA = LengthField(6) + std::string("alpha", 6);
    const std::string wireB = LengthField(9) + std::string("bravo!!!", 9);
    for (std::size_t i = 0; i < std::max(wireA.size(), wireB.size()); ++i) {
        if (i < wireA.size()) a.SendAll(wireA.substr(i, 1));
        Settle(2ms);
        if (i < wireB.size()) b.SendAll(wireB.substr(i, 1));
        Settle(2ms);
    }
    ASSERT_TRUE(Pump([&] { return rx.received == 2; }));
    EXPECT_EQ(rx.payloads, (std::vector<std::string>{std::string("alpha", 6), std::string("bravo!!!", 9)}));
    EXPECT_TRUE(PeerClosedWhilePumping(a));
    EXPECT_TRUE(PeerClosedWhilePumping(b));
    ExpectStillReceiving();
}

TEST_F(SimpleTcpHostile, AStalledSenderBlocksNobody) {
    RawSocket slow = Connect();
    slow.SendAll(LengthField(10) + "half");
    Settle();
    ExpectStillReceiving("meanwhile");
    // The stalled packet is still whole when it is finished at last.
    slow.SendAll("-done");
    slow.SendAll(std::string(1, '\0'));
    ASSERT_TRUE(Pump([&] { return rx.received == 2; }));
    EXPECT_EQ(rx.payloads[1], std::string("half-done", 10));
}

// The simulated desktop with its sockets seen through a peer that never runs dry: once its
// length field is read, every read of the flooded connection is filled to the last byte asked
// for, as from a peer faster than any loop. The real connection keeps a byte unread, so it
// stays readable and its notices keep coming.
class FloodingDesktop final : public platform::Desktop, public platform::Sockets {
public:
    explicit FloodingDesktop(platform::sim::SimDesktop& sim) : sim_(sim), real_(sim.sockets()) {}

    platform::SocketHandle flooded = platform::kInvalidSocket;
    std::size_t taken = 0;  // bytes made up for the flooded connection since last cleared

    platform::Loop& loop() override { return sim_.loop(); }
    platform::Sockets& sockets() override { return *this; }
    platform::Clipboard& clipboard() override { return sim_.clipboard(); }
    platform::Gdi& gdi() override { return sim_.gdi(); }
    platform::Shell& shell() override { return sim_.shell(); }
    platform::Network& network() override { return sim_.network(); }
    platform::Dde& dde() override { return sim_.dde(); }
    platform::UiHost& ui() override { return sim_.ui(); }

    int Recv(platform::SocketHandle s, void* buffer, int length, int flags) override {
        if (s != flooded || lengthRead_ < 4) {
            const int n = real_.Recv(s, buffer, length, flags);
            if (s == flooded && n > 0) lengthRead_ += n;
            return n;
        }
        // Answers the notice on the real socket (it is armed again) without taking its byte.
        char probe = 0;
        if (real_.Recv(s, &probe, 1, MSG_PEEK) != 1) return real_.Recv(s, buffer, length, flags);
        std::fill_n(static_cast<char*>(buffer), length, 'f');
        taken += static_cast<std::size_t>(length);
        return length;
    }

    int WSAStartup(std::uint16_t v, platform::WsaData& d) override { return real_.WSAStartup(v, d); }
    int WSACleanup() override { return real_.WSACleanup(); }
    int WSAGetLastError() const override { return real_.WSAGetLastError(); }
    bool WSAIsBlocking() const override { return real_.WSAIsBlocking(); }
    int WSACancelBlockingCall() override { return real_.WSACancelBlockingCall(); }
    bool GetProtoByNumber(int p) override { return real_.GetProtoByNumber(p); }
    bool GetServByName(const std::string& n, const std::string& p, std::uint16_t& port) override {
        return real_.GetServByName(n, p, port);
    }
    std::uint32_t InetAddr(const std::string& t) override { return real_.InetAddr(t); }
    bool GetHostByName(const std::string& n, std::uint32_t& a) override { return real_.GetHostByName(n, a); }
    platform::AsyncHandle WSAAsyncGetHostByName(platform::Hwnd w, std::uint32_t m, const std::string& n) override {
        return real_.WSAAsyncGetHostByName(w, m, n);
    }
    bool TakeHostAddress(platform::AsyncHandle r, std::uint32_t& a) override { return real_.TakeHostAddress(r, a); }
    int WSACancelAsyncRequest(platform::AsyncHandle r) override { return real_.WSACancelAsyncRequest(r); }
    platform::SocketHandle Socket(int af, int type, int p) override { return real_.Socket(af, type, p); }
    int WSAAsyncSelect(platform::SocketHandle s, platform::Hwnd w, std::uint32_t m, long e) override {
        return real_.WSAAsyncSelect(s, w, m, e);
    }
    int Bind(platform::SocketHandle s, const platform::SockAddrIn& a) override { return real_.Bind(s, a); }
    int Connect(platform::SocketHandle s, const platform::SockAddrIn& a) override { return real_.Connect(s, a); }
    int Listen(platform::SocketHandle s, int b) override { return real_.Listen(s, b); }
    platform::SocketHandle Accept(platform::SocketHandle s, platform::SockAddrIn* p) override {
        return real_.Accept(s, p);
    }
    int Send(platform::SocketHandle s, const void* d, int n, int f) override { return real_.Send(s, d, n, f); }
    int Shutdown(platform::SocketHandle s, int how) override { return real_.Shutdown(s, how); }
    int SetOobInline(platform::SocketHandle s, bool on) override { return real_.SetOobInline(s, on); }
    int SetLinger(platform::SocketHandle s, bool on, std::uint16_t t) override { return real_.SetLinger(s, on, t); }
    int SetNoDelay(platform::SocketHandle s, bool on) override { return real_.SetNoDelay(s, on); }
    int CloseSocket(platform::SocketHandle s) override { return real_.CloseSocket(s); }
    int GetSockName(platform::SocketHandle s, platform::SockAddrIn& a) override { return real_.GetSockName(s, a); }

private:
    platform::sim::SimDesktop& sim_;
    platform::Sockets& real_;
    int lengthRead_ = 0;
};

TEST_F(SimpleTcpHostile, AFloodingSenderTakesTurnsWithTheOthers) {
    // One notice reads a bounded amount however much keeps arriving, so a packet on another
    // connection is taken while the flooded one is still coming in, and every turn of the loop
    // ends in time.
    FloodingDesktop flooding(*desktop);
    platform::Install(&flooding);
    struct Restore {
        platform::sim::ScopedSimDesktop& d;
        ~Restore() { platform::Install(&*d); }
    } restore{desktop};
    RawSocket flood = Connect();
    RawSocket quick = Connect();
    ASSERT_EQ(receiver->ListenerSocket().Clients().Count(), 2u);
    flooding.flooded = receiver->ListenerSocket().Clients()[0];
    constexpr std::size_t kFlood = std::size_t{32} << 20;
    flood.SendAll(LengthField(static_cast<std::int32_t>(kFlood)) + "x");
    quick.SendAll(LengthField(6) + std::string("quick", 6));
    std::size_t mostInATurn = 0;
    std::size_t turnsBefore = 0;
    for (int turn = 0; turn < 1000 && rx.received < 2; ++turn) {
        desktop->loop().ProcessMessages();
        mostInATurn = std::max(mostInATurn, std::exchange(flooding.taken, 0));
        if (rx.received == 0) ++turnsBefore;
    }
    ASSERT_EQ(rx.received, 2);
    EXPECT_TRUE(rx.payloads[0] == std::string("quick", 6)) << "first came " << rx.payloads[0].size() << " bytes";
    EXPECT_TRUE(rx.payloads[1] == std::string(kFlood, 'f')) << "the flooded packet differs";
    EXPECT_LE(mostInATurn, TSimpleTcp::kMostPerTurn);
    EXPECT_LE(turnsBefore, 10u) << "the small packet waited for the flood";
    EXPECT_TRUE(rx.errors.empty());
}

TEST_F(SimpleTcpHostile, BytesBeyondThePacketAreNotTakenForAnother) {
    RawSocket peer = Connect();
    peer.SendAll(LengthField(3) + std::string("ok", 3) + LengthField(5) + "extra");
    ASSERT_TRUE(Pump([&] { return rx.received == 1; }));
    EXPECT_TRUE(PeerClosedWhilePumping(peer));
    Settle();
    EXPECT_EQ(rx.received, 1);
    EXPECT_EQ(rx.payloads[0], std::string("ok", 3));
}

TEST_F(SimpleTcpHostile, IdleConnectionsCannotCrowdTheListenerOut) {
    std::vector<RawSocket> idle;
    for (std::size_t i = 0; i < TSimpleTcp::kMaxIncoming + 4; ++i) idle.push_back(Connect());
    ASSERT_TRUE(Pump([&] { return receiver->ListenerSocket().Clients().Count() <= TSimpleTcp::kMaxIncoming; }));
    EXPECT_EQ(receiver->IncomingConnections(), TSimpleTcp::kMaxIncoming);
    // The quietest ones went first.
    for (std::size_t i = 0; i < 4; ++i) EXPECT_TRUE(PeerClosedWhilePumping(idle[i])) << i;
    EXPECT_FALSE(idle[4].PeerClosed());
    ExpectStillReceiving();
    EXPECT_TRUE(rx.errors.empty());
}

TEST_F(SimpleTcpHostile, APacketBeingHandledKeepsItsConnectionWhileOthersArrive) {
    // While the owner sits in OnReceived (a dialog), a second packet may arrive and complete:
    // both are delivered, each sender hears of its own delivery when its handler returns.
    bool nested = false;
    receiver->OnReceived = [&](Component*) {
        ++rx.received;
        rx.payloads.push_back(receiver->GetString());
        if (rx.received == 1) {
            RawSocket second = Connect();
            second.SendAll(LengthField(7) + std::string("second", 7));
            nested = Pump([&] { return rx.received == 2; });
            EXPECT_TRUE(PeerClosedWhilePumping(second));
            EXPECT_EQ(tx.sended, 0);
        }
    };
    sender->SendString("first");
    ASSERT_TRUE(Pump([&] { return tx.sended == 1; }));
    EXPECT_TRUE(nested);
    EXPECT_EQ(rx.payloads, (std::vector<std::string>{"first", "second"}));
}

TEST_F(SimpleTcpHostile, ALengthBeyondTheLimitIsRefusedBeforeAnythingIsHeld) {
    receiver->SetMaxPacketSize(1000);
    for (std::int32_t length : {1001, 0x7FFFFFFF}) {
        SCOPED_TRACE(length);
        RawSocket peer = Connect();
        peer.SendAll(LengthField(length) + "the start of it");
        EXPECT_TRUE(PeerClosedWhilePumping(peer));
        EXPECT_EQ(receiver->IncomingConnections(), 0u);
        EXPECT_EQ(receiver->IncomingCapacity(), 0u);
    }
    EXPECT_EQ(rx.received, 0);
    EXPECT_TRUE(rx.errors.empty());
    // A packet of exactly the limit is taken whole.
    RawSocket peer = Connect();
    ASSERT_TRUE(Feed(peer, LengthField(1000) + std::string(1000, 'L')));
    ASSERT_TRUE(Pump([&] { return rx.received == 1; }));
    EXPECT_EQ(rx.payloads[0], std::string(1000, 'L'));
    ExpectStillReceiving();
}

TEST_F(SimpleTcpHostile, ManyBigPacketsArrivingTogetherStayWithinTheLimit) {
    // Each peer announces a packet of the whole limit and sends part of it: together they would
    // hold several times the limit. The quietest give way; what the channel holds never passes
    // the limit, and the one still going is taken whole once it is finished.
    constexpr std::size_t kLimit = 1 << 20;
    constexpr std::size_t kPart = 300 * 1024;
    receiver->SetMaxPacketSize(kLimit);
    std::vector<RawSocket> peers;
    std::size_t most = 0;
    for (int i = 0; i < 6; ++i) {
        peers.push_back(Connect());
        Feed(peers.back(), LengthField(static_cast<std::int32_t>(kLimit)) + std::string(kPart, static_cast<char>('a' + i)));
        most = std::max(most, receiver->IncomingCapacity());
        EXPECT_LE(receiver->IncomingCapacity(), kLimit) << "after peer " << i;
    }
    EXPECT_GE(most, 2 * kPart) << "the channel gave way before it had to";
    EXPECT_TRUE(PeerClosedWhilePumping(peers[0]));
    EXPECT_TRUE(PeerClosedWhilePumping(peers[1]));
    EXPECT_FALSE(peers[5].PeerClosed());
    ASSERT_TRUE(Feed(peers[5], std::string(kLimit - kPart, 'f')));
    ASSERT_TRUE(Pump([&] { return rx.received == 1; }));
    EXPECT_EQ(rx.payloads[0], std::string(kPart, 'f') + std::string(kLimit - kPart, 'f'));
    EXPECT_LE(receiver->IncomingCapacity(), kLimit);
    EXPECT_TRUE(rx.errors.empty());
    peers.clear();
    ExpectStillReceiving();
}

TEST_F(SimpleTcpHostile, AHandlerThatThrowsIsReportedAndItsConnectionStillCloses) {
    std::vector<std::string> escaped;
    desktop->loop().SetExceptionHandler([&](const std::exception& e) { escaped.emplace_back(e.what()); });
    receiver->OnReceived = [&](Component*) {
        ++rx.received;
        throw std::runtime_error("the handler failed");
    };
    RawSocket peer = Connect();
    peer.SendAll(LengthField(3) + std::string("ok", 3));
    ASSERT_TRUE(Pump([&] { return rx.received == 1; }));
    EXPECT_TRUE(PeerClosedWhilePumping(peer)) << "the sender would wait for ever";
    EXPECT_EQ(escaped, std::vector<std::string>{"the handler failed"});
    EXPECT_EQ(receiver->IncomingConnections(), 0u);
    EXPECT_EQ(receiver->ListenerSocket().Clients().Count(), 0u);
    // The channel goes on, and its sockets are all closed with it.
    receiver->OnReceived = [&](Component*) {
        ++rx.received;
        rx.payloads.push_back(receiver->GetString());
    };
    sender->SendString("after");
    ASSERT_TRUE(Pump([&] { return tx.sended == 1; }));
    EXPECT_EQ(rx.payloads, std::vector<std::string>{"after"});
    desktop->loop().SetExceptionHandler(nullptr);
}

// Memory the system refuses mid-packet, or a length the owner will not take: either way only
// that connection goes, nothing is reported as an escaped failure, and what others are sending
// arrives whole.
TEST_F(SimpleTcpHostile, APacketThatCannotBeHeldDropsOnlyItsConnection) {
    std::vector<std::string> escaped;
    desktop->loop().SetExceptionHandler([&](const std::exception& e) { escaped.emplace_back(e.what()); });
    struct BlockLimit {
        explicit BlockLimit(std::size_t bytes) { MemoryStream::SetBlockLimit(bytes); }
        ~BlockLimit() { MemoryStream::SetBlockLimit(0); }
    };
    receiver->OnAnnounced = [](Component*, std::size_t length, bool& accept) { accept = length != 4242; };

    const struct {
        const char* what;
        std::int32_t length;
        std::size_t blockLimit;
    } cases[] = {
        {"heap refuses the block", 1 << 20, 512 * 1024},
        {"owner refuses the length", 4242, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BlockLimit limit(c.blockLimit);
        // Another packet is half way when the bad one comes.
        RawSocket other = Connect();
        ASSERT_TRUE(Feed(other, LengthField(11) + "other "));
        RawSocket bad = Connect();
        Feed(bad, LengthField(c.length) + std::string(600 * 1024, 'x'));
        EXPECT_TRUE(PeerClosedWhilePumping(bad));
        EXPECT_EQ(receiver->IncomingConnections(), 1u);
        EXPECT_FALSE(other.PeerClosed());
        ASSERT_TRUE(Feed(other, std::string("half", 5)));
        ASSERT_TRUE(Pump([&] { return rx.payloads.size() == 1; }));
        EXPECT_EQ(rx.payloads[0], std::string("other half", 11));
        rx.payloads.clear();
        ExpectStillReceiving();
        rx.payloads.clear();
    }
    EXPECT_EQ(rx.received, 4);
    EXPECT_TRUE(escaped.empty()) << escaped[0];
    EXPECT_TRUE(rx.errors.empty());
    desktop->loop().SetExceptionHandler(nullptr);
}

}  // namespace
}  // namespace zumelko::testing
