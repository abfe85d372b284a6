// The packet channel over real loopback TCP: bytes on the wire, every send and read form,
// delivery reports and failures.
#include <arpa/inet.h>

#include <algorithm>
#include <set>

#include "tests/transport/ChannelFixture.h"

namespace zumelko::testing {
namespace {

// A picture that is just its bytes.
class BytesPicture final : public Graphic {
public:
    explicit BytesPicture(std::string bytes = {}) : bytes_(std::move(bytes)) {}
    void WriteToStream(Stream& s) const override { s.Write(bytes_.data(), bytes_.size()); }
    void ReadFromStream(Stream& s) override {
        bytes_.assign(s.Remaining(), '\0');
        bytes_.resize(s.Read(bytes_.data(), bytes_.size()));
    }
    bool Empty() const override { return bytes_.empty(); }
    int Width() const override { return 1; }
    int Height() const override { return 1; }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// A stream that is not a MemoryStream.
class StringStream final : public Stream {
public:
    explicit StringStream(std::string s = {}) : data_(std::move(s)) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        const std::size_t n = std::min(count, Remaining());
        std::copy_n(data_.data() + pos_, n, static_cast<char*>(buffer));
        pos_ += n;
        return n;
    }
    void Write(const void* buffer, std::size_t count) override {
        if (pos_ + count > data_.size()) data_.resize(pos_ + count);
        std::copy_n(static_cast<const char*>(buffer), count, data_.data() + pos_);
        pos_ += count;
    }
    std::size_t Size() const override { return data_.size(); }
    std::size_t Position() const override { return pos_; }
    void SetPosition(std::size_t p) override { pos_ = p; }
    const std::string& str() const { return data_; }

private:
    std::string data_;
    std::size_t pos_ = 0;
};

using SimpleTcpWire = ChannelTest;
using SimpleTcpRoundTrip = ChannelTest;
using SimpleTcpDelivery = ChannelTest;
using SimpleTcpFailures = ChannelTest;

TEST_F(SimpleTcpWire, PacketsAreALittleEndianLengthAndThePayload) {
    RawListener peer(kRawPort);
    Reports tx;
    auto& sender = Channel(tx, kRawPort);

    struct Case {
        std::function<void()> send;
        std::string wire;
    };
    StringList header;
    header.Add("string");
    header.Add("user1");
    header.Add("PC01");
    const std::vector<Case> cases = {
        {[&] { sender.SendString("abc"); }, Bytes({0x04, 0, 0, 0, 'a', 'b', 'c', 0})},
        {[&] { sender.SendString(""); }, Bytes({0x01, 0, 0, 0, 0})},
        {[&] { sender.SendStrings(header); }, Bytes({21, 0, 0, 0}) + "string\r\nuser1\r\nPC01\r\n"},
        {[&] { sender.SendBuffer("", 0); }, Bytes({0, 0, 0, 0})},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        cases[i].send();
        RawSocket conn = AcceptWhilePumping(peer);
        ASSERT_TRUE(conn.valid());
        // The connecting side's local end is one of the low ports.
        EXPECT_GE(conn.PeerPort(), 513);
        EXPECT_LE(conn.PeerPort(), 1024);
        std::string got = ReadWhilePumping(conn, cases[i].wire.size());
        Settle();
        conn.ReadAvailable(got);
        EXPECT_EQ(got, cases[i].wire) << "nothing more, nothing less";
        // Delivered only when the receiver closes, in order.
        EXPECT_EQ(tx.sended, static_cast<int>(i));
        conn.CloseGracefully();
        ASSERT_TRUE(Pump([&] { return tx.sended == static_cast<int>(i) + 1; }));
    }
    EXPECT_TRUE(tx.errors.empty());
}

TEST_F(SimpleTcpRoundTrip, EverySendFormArrivesAsSentForEveryReadForm) {
    Reports rx, tx;
    auto& receiver = Listening(rx);
    auto& sender = Channel(tx);
    std::function<void()> onReceived;
    receiver.OnReceived = [&](Component*) { onReceived(); };
    auto send = [&](const std::function<void()>& start, const std::function<void()>& check) {
        const int before = tx.sended;
        bool checked = false;
        onReceived = [&] {
            check();
            checked = true;
        };
        start();
        ASSERT_TRUE(Pump([&] { return tx.sended == before + 1; }));
        EXPECT_TRUE(checked);
    };

    send([&] { sender.SendString("abc"); }, [&] { EXPECT_EQ(receiver.GetString(), "abc"); });
    send([&] { sender.SendString(""); }, [&] { EXPECT_EQ(receiver.GetString(), ""); });
    // Text ends at the first NUL; a payload without one is text all through.
    send([&] { sender.SendBuffer("ab\0cd", 5); },
         [&] {
             EXPECT_EQ(receiver.GetString(), "ab");
             char buf[16] = {};
             EXPECT_EQ(receiver.GetBuffer(buf, 3), 3u);
             EXPECT_EQ(std::string(buf, 3), std::string("ab\0", 3));
             EXPECT_EQ(receiver.GetBuffer(buf, sizeof buf), 5u);
             EXPECT_EQ(std::string(buf, 5), std::string("ab\0cd", 5));
         });
    send([&] { sender.SendBuffer("xyz", 3); }, [&] { EXPECT_EQ(receiver.GetString(), "xyz"); });
    // Taking the text gives what GetString gives, followed by its NUL whether or not the
    // sender sent one, and leaves the channel holding nothing.
    for (const std::string& payload : {std::string("abc\0", 4), std::string("ab\0cd", 5), std::string("xyz"), std::string()}) {
        send([&] { sender.SendBuffer(payload.data(), payload.size()); },
             [&] {
                 const std::string text = receiver.GetString();
                 const SharedText taken = receiver.TakeString();
                 EXPECT_EQ(taken, text);
                 EXPECT_EQ(taken.ViewWithNul(), text + '\0');
                 EXPECT_EQ(receiver.GetBuffer(nullptr, 0), 0u);
                 MemoryStream rest;
                 receiver.GetStream(rest);
                 EXPECT_EQ(rest.Size(), 0u);
             });
    }

    StringList header;
    header.Add("string");
    header.Add("user1");
    header.Add("PC01");
    send([&] { sender.SendStrings(header); },
         [&] {
             StringList back;
             back.Add("left over");
             receiver.GetStrings(back);
             EXPECT_EQ(back, header);
         });

    // A stream goes whole whatever its position, which it keeps.
    MemoryStream memory;
    memory.Write("0123456789", 10);
    memory.SetPosition(4);
    send([&] { sender.SendStream(memory); }, [&] { EXPECT_EQ(receiver.GetString(), "0123456789"); });
    EXPECT_EQ(memory.Position(), 4u);
    StringStream other("other stream");
    other.SetPosition(6);
    send([&] { sender.SendStream(other); }, [&] { EXPECT_EQ(receiver.GetString(), "other stream"); });
    EXPECT_EQ(other.Position(), 6u);

    // A string or a stream handed over goes out from its own block past the first bytes: sizes
    // around the part copied ahead of it, each byte where it was, a NUL after the string alone.
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65535}, std::size_t{65536},
                                   std::size_t{65537}, (std::size_t{3} << 20) + 5}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i * 7 % 23 + i / 65536);
        auto arrived = [&](const std::string& expected) {
            MemoryStream back;
            receiver.GetStream(back);
            EXPECT_TRUE(back.View() == expected) << "received " << back.Size() << " of " << expected.size();
        };
        send([&] { sender.SendString(std::string(bytes)); }, [&] { arrived(bytes + '\0'); });
        MemoryStream block;
        block.Write(bytes.data(), bytes.size());
        block.SetPosition(size / 2);
        send([&] { sender.SendStream(std::move(block)); }, [&] { arrived(bytes); });
    }
    // A string that is no rvalue is copied and stays the caller's.
    std::string kept = "kept";
    send([&] { sender.SendString(kept); }, [&] { EXPECT_EQ(receiver.GetString(), "kept"); });
    EXPECT_EQ(kept, "kept");

    const std::string image = std::string("BM\0\x10", 4) + std::string(300, '\x7f');
    send([&] { sender.SendGraphic(BytesPicture(image)); },
         [&] {
             BytesPicture back;
             receiver.GetGraphic(back);
             EXPECT_EQ(back.bytes(), image);
             // Reading leaves the packet as it was.
             BytesPicture again;
             receiver.GetGraphic(again);
             EXPECT_EQ(again.bytes(), image);
             // A memory stream gets a copy from its start; any other stream at its position.
             MemoryStream m;
             m.Write("old contents that are longer than the packet", 44);
             receiver.GetStream(m);
             EXPECT_EQ(m.Position(), 0u);
             EXPECT_EQ(m.View(), image);
             StringStream s("head|tail");
             s.SetPosition(5);
             receiver.GetStream(s);
             EXPECT_EQ(s.str(), "head|" + image);
         });

    // The forms with a host argument leave HostName alone.
    sender.SetHostName("no-such-host.invalid");
    send([&] { sender.SendString("127.0.0.1", "to a host"); }, [&] { EXPECT_EQ(receiver.GetString(), "to a host"); });
    send([&] { sender.SendBuffer("127.0.0.1", "buf", 3); }, [&] { EXPECT_EQ(receiver.GetString(), "buf"); });
    send([&] { sender.SendStrings("127.0.0.1", header); },
         [&] {
             StringList back;
             receiver.GetStrings(back);
             EXPECT_EQ(back, header);
         });
    send([&] { sender.SendStream("127.0.0.1", memory); }, [&] { EXPECT_EQ(receiver.GetString(), "0123456789"); });
    send([&] { sender.SendGraphic("127.0.0.1", BytesPicture("pic")); },
         [&] { EXPECT_EQ(receiver.GetString(), "pic"); });
    EXPECT_EQ(sender.HostName(), "no-such-host.invalid");
    EXPECT_TRUE(tx.errors.empty()) << tx.errors[0];
    EXPECT_TRUE(rx.errors.empty());
}

TEST_F(SimpleTcpRoundTrip, LargePacketGoesThroughInPiecesWithoutStallingTheLoop) {
    Reports rx, tx;
    auto& receiver = Listening(rx);
    auto& sender = Channel(tx);
    std::string payload(24 << 20, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>((i * 131u) >> 7);
    std::size_t peakHeld = 0;
    int loopTurns = 0;
    sender.SendBuffer(payload.data(), payload.size());
    ASSERT_TRUE(Pump([&] {
        ++loopTurns;
        peakHeld = std::max(peakHeld, receiver.IncomingCapacity());
        return tx.sended == 1;
    }, 60000ms));
    ASSERT_EQ(rx.payloads.size(), 1u);
    EXPECT_TRUE(rx.payloads[0] == payload) << "payload differs";
    // Written in many turns of the loop, not in one blocking call.
    EXPECT_GT(loopTurns, 4);
    // The buffer of an arriving packet never outgrows the packet.
    EXPECT_LE(peakHeld, payload.size());
    EXPECT_EQ(receiver.IncomingCapacity(), 0u);
    EXPECT_TRUE(tx.errors.empty());
    EXPECT_TRUE(rx.errors.empty());
}

TEST_F(SimpleTcpDelivery, SenderHearsOfDeliveryOnlyAfterTheReceiverIsDone) {
    Reports rx, tx;
    auto& receiver = Listening(rx);
    auto& sender = Channel(tx);
    std::vector<std::string> order;
    receiver.OnReceived = [&](Component*) {
        order.push_back("received:" + receiver.GetString());
        // As a modal dialog would: the loop runs on while the handler is still inside.
        desktop->loop().RunFor(200ms);
        EXPECT_EQ(tx.sended, 0);
        order.push_back("handler returned");
    };
    sender.OnSended = [&](Component*) {
        ++tx.sended;
        order.push_back("sended");
    };
    sender.SendString("header");
    ASSERT_TRUE(Pump([&] { return tx.sended == 1; }));
    Settle();
    EXPECT_EQ(order, (std::vector<std::string>{"received:header", "handler returned", "sended"}));
}

TEST_F(SimpleTcpDelivery, AHeldConnectionTellsItsSenderOnlyWhenItsHandleCloses) {
    Reports rx, a, b;
    auto& receiver = Listening(rx);
    std::vector<THeldConnection> held;
    receiver.OnReceived = [&](Component*) {
        rx.payloads.push_back(receiver.GetString());
        held.push_back(receiver.Hold());
    };
    EXPECT_FALSE(receiver.Hold()) << "nothing is held outside OnReceived";
    auto& first = Channel(a);
    auto& second = Channel(b);
    first.SendString("one");
    second.SendString("two");
    ASSERT_TRUE(Pump([&] { return held.size() == 2; }));
    Settle(100ms);
    EXPECT_EQ(a.sended + b.sended, 0) << "a held packet was reported as taken";
    EXPECT_EQ(receiver.HeldConnections(), 2u);
    const std::size_t ofSecond = rx.payloads[0] == "two" ? 0 : 1;
    held[ofSecond].Close();
    ASSERT_TRUE(Pump([&] { return b.sended == 1; }));
    Settle(100ms);
    EXPECT_EQ(a.sended, 0);

    // The peer of a held connection goes away; its socket handle is taken by the next
    // connection, which the stale handle must leave alone.
    RawSocket gone = RawConnect(kChannelPort);
    gone.SendAll(LengthField(1) + "x");
    ASSERT_TRUE(Pump([&] { return held.size() == 3; }));
    gone.Close();
    ASSERT_TRUE(Pump([&] { return receiver.HeldConnections() == 1; }));
    RawSocket next = RawConnect(kChannelPort);
    next.SendAll(LengthField(1) + "y");
    ASSERT_TRUE(Pump([&] { return held.size() == 4; }));
    held[2].Close();
    Settle(100ms);
    EXPECT_FALSE(next.PeerClosed()) << "a stale handle closed another connection";
    held.clear();  // every handle closes on its way out
    EXPECT_TRUE(PeerClosedWhilePumping(next));
    ASSERT_TRUE(Pump([&] { return a.sended == 1; }));
    EXPECT_EQ(receiver.HeldConnections(), 0u);
    EXPECT_EQ(receiver.IncomingConnections(), 0u);

    // A handle that outlives its channel is harmless; the channel gone, its sender hears that
    // the item was not taken.
    first.SendString("last");
    ASSERT_TRUE(Pump([&] { return held.size() == 1; }));
    root->DestroyComponent(receiver);
    held.clear();
    ASSERT_TRUE(Pump([&] { return !a.errors.empty(); }));
    EXPECT_EQ(a.sended, 1);
}

TEST_F(SimpleTcpDelivery, ASendFromOnSendedStartsCleanly) {
    Reports rx, tx;
    Listening(rx);
    auto& sender = Channel(tx);
    sender.OnSended = [&](Component*) {
        if (++tx.sended == 1) sender.SendString("data");
    };
    sender.SendString("header");
    ASSERT_TRUE(Pump([&] { return tx.sended == 2; }));
    Settle();
    EXPECT_EQ(tx.sended, 2);
    EXPECT_EQ(rx.payloads, (std::vector<std::string>{std::string("header", 7), std::string("data", 5)}));
    EXPECT_TRUE(tx.errors.empty()) << tx.errors[0];
}

TEST_F(SimpleTcpDelivery, ASendBeforeTheLastWasReportedGivesTheOldConnectionUp) {
    RawListener stalled(kRawPort);
    Reports rx, tx;
    Listening(rx);
    auto& sender = Channel(tx, kRawPort);
    sender.SendString("never acknowledged");
    RawSocket first = AcceptWhilePumping(stalled);
    ASSERT_TRUE(first.valid());
    ReadWhilePumping(first, 4 + 19);

    sender.SetPort(kChannelPort);
    sender.SendString("second");
    EXPECT_TRUE(PeerClosedWhilePumping(first)) << "the earlier connection is still open";
    ASSERT_TRUE(Pump([&] { return tx.sended == 1; }));
    Settle();
    EXPECT_EQ(tx.sended, 1);
    EXPECT_EQ(rx.payloads, std::vector<std::string>{std::string("second", 7)});
    EXPECT_TRUE(tx.errors.empty()) << tx.errors[0];
}

TEST_F(SimpleTcpDelivery, AReceiverThatTalksBackStillHasItsCloseSeen) {
    RawListener peer(kRawPort);
    Reports tx;
    auto& sender = Channel(tx, kRawPort);
    sender.SendString("abc");
    RawSocket conn = AcceptWhilePumping(peer);
    ASSERT_TRUE(conn.valid());
    EXPECT_EQ(ReadWhilePumping(conn, 8).size(), 8u);
    conn.SendAll(std::string(200000, 'z'));
    Settle();
    conn.CloseGracefully();
    ASSERT_TRUE(Pump([&] { return tx.sended == 1; }));
    EXPECT_TRUE(tx.errors.empty()) << tx.errors[0];
}

TEST_F(SimpleTcpFailures, APeerRefusedAtTheDoorIsResetAndItsSenderHearsNoDelivery) {
    Reports rx, tx;
    auto& receiver = Listening(rx);
    auto& sender = Channel(tx);
    std::vector<std::uint32_t> peers;
    bool admit = false;
    int announced = 0;
    receiver.OnAdmit = [&](Component* who, std::uint32_t peer, bool& accept) {
        EXPECT_EQ(who, &receiver);
        peers.push_back(peer);
        accept = admit;
    };
    receiver.OnAnnounced = [&](Component*, std::size_t, bool&) { ++announced; };
    for (const std::size_t size : {std::size_t{5}, std::size_t{4} << 20}) {
        SCOPED_TRACE(size);
        tx.errors.clear();
        sender.SendString(std::string(size, 'r'));
        ASSERT_TRUE(Pump([&] { return !tx.errors.empty(); }));
        Settle(100ms);
        EXPECT_EQ(tx.sended, 0);
        const std::set<std::string> texts = {"Connection reset by peer (in Sender)",
                                             "Software caused connection abort (in Sender)"};
        EXPECT_TRUE(texts.count(tx.errors[0])) << tx.errors[0];
        EXPECT_EQ(rx.received, 0);
        EXPECT_EQ(announced, 0) << "nothing of a refused connection is read";
        EXPECT_EQ(receiver.IncomingConnections(), 0u);
        EXPECT_EQ(receiver.ListenerSocket().Clients().Count(), 0u);
    }
    EXPECT_EQ(peers, (std::vector<std::uint32_t>{htonl(INADDR_LOOPBACK), htonl(INADDR_LOOPBACK)}));
    EXPECT_TRUE(rx.errors.empty()) << rx.errors[0];

    // Admitted, the same packet is delivered and the sender told so.
    admit = true;
    sender.SendString("taken");
    ASSERT_TRUE(Pump([&] { return tx.sended == 1; }));
    EXPECT_EQ(rx.payloads, std::vector<std::string>{std::string("taken", 6)});
}

TEST_F(SimpleTcpFailures, NothingListeningIsARefusalAndNoDelivery) {
    Reports tx;
    auto& sender = Channel(tx, kOtherChannelPort);
    sender.SendString("hello");
    ASSERT_TRUE(Pump([&] { return !tx.errors.empty(); }));
    Settle();
    EXPECT_EQ(tx.errors, std::vector<std::string>{"Connection refused (in Sender)"});
    EXPECT_EQ(tx.errorSenders[0], &sender.SenderSocket());
    EXPECT_EQ(tx.sended, 0);
    EXPECT_EQ(desktop->sockets().OpenSocketCount(), 0u);
}

TEST_F(SimpleTcpFailures, ASecondListenerOnThePortFailsButCanStillSend) {
    Reports first, second;
    Listening(first);
    auto& late = Channel(second);
    late.Listen();
    EXPECT_EQ(second.errors, std::vector<std::string>{"Address already in use (in Listener)"});
    EXPECT_EQ(second.errorSenders[0], &late.ListenerSocket());
    late.SendString("still sends");
    ASSERT_TRUE(Pump([&] { return second.sended == 1; }));
    EXPECT_EQ(first.payloads, std::vector<std::string>{std::string("still sends", 12)});
}

TEST_F(SimpleTcpFailures, AnUnknownHostNameIsALookupFailure) {
    Reports tx;
    auto& sender = Channel(tx);
    sender.SetHostName("no-such-host.invalid");
    sender.SendString("hello");
    ASSERT_EQ(tx.errors.size(), 1u);
    const std::set<std::string> texts = {"Host not found (in Sender)", "Non authoritative - host not found (in Sender)",
                                         "Non recoverable error (in Sender)",
                                         "Valid name, no data record of requested type (in Sender)"};
    EXPECT_TRUE(texts.count(tx.errors[0])) << tx.errors[0];
    Settle();
    EXPECT_EQ(tx.sended, 0);
    EXPECT_EQ(desktop->sockets().OpenSocketCount(), 0u);
}

TEST_F(SimpleTcpFailures, AReceiverThatClosesEarlyIsNoDelivery) {
    RawListener peer(kRawPort);
    Reports tx;
    auto& sender = Channel(tx, kRawPort);
    const std::string big(8 << 20, 'q');
    sender.SendBuffer(big.data(), big.size());
    RawSocket conn = AcceptWhilePumping(peer);
    ASSERT_TRUE(conn.valid());
    ReadWhilePumping(conn, 10);
    conn.Close();
    ASSERT_TRUE(Pump([&] { return !tx.errors.empty(); }));
    Settle(100ms);
    EXPECT_EQ(tx.sended, 0);
    ASSERT_EQ(tx.errors.size(), 1u);
    const std::set<std::string> texts = {"Connection reset by peer (in Sender)",
                                         "Software caused connection abort (in Sender)"};
    EXPECT_TRUE(texts.count(tx.errors[0])) << tx.errors[0];
}

}  // namespace
}  // namespace zumelko::testing
