#pragma once
// Packets put together from what each desktop's sockets deliver: whole in one read, or a byte
// at a time, each counted exactly, with bytes beyond the packet never taken for it. Instantiated
// beside the seam's contract, with the same traits (SeamContract.h).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "framework/Component.h"
#include "tests/contract/SeamContract.h"
#include "transport/SimpleTcp.h"

namespace zumelko::contract {

template <typename Traits>
class ReassemblyContract : public ::testing::Test {
protected:
    // A channel listening on a port the system picks.
    ReassemblyContract() {
        channel_.SetPort(0);
        channel_.OnReceived = [this](Component*) {
            MemoryStream m;
            channel_.GetStream(m);
            received.emplace_back(m.View());
        };
        channel_.Listen();
        platform::SockAddrIn local{};
        traits.Desk().sockets().GetSockName(channel_.ListenerSocket().SocketHandle(), local);
        port_ = ntohs(local.port);
    }

    static std::string LengthField(std::uint32_t n) {
        std::string b(4, '\0');
        for (std::size_t i = 0; i < 4; ++i) b[i] = static_cast<char>(n >> (8 * i));
        return b;
    }
    // Writes until done or the channel has closed the connection (which is no signal here).
    static void WriteAll(RawSocket fd, const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
#ifdef _WIN32
            const long n = ::send(fd, bytes.data() + at, static_cast<int>(bytes.size() - at), 0);
#else
            const long n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
#endif
            if (n <= 0) return;
            at += static_cast<std::size_t>(n);
        }
    }
    // Lets the loop take what has arrived before the next byte comes.
    void Breathe(int ms) {
        this->traits.RunUntil([] { return false; }, ms);
    }

    Traits traits;
    Component owner_{nullptr};
    TSimpleTcp& channel_ = owner_.Create<TSimpleTcp>();
    std::uint16_t port_ = 0;
    std::vector<std::string> received;
};

TYPED_TEST_SUITE_P(ReassemblyContract);

TYPED_TEST_P(ReassemblyContract, EachPacketIsTakenOnceWithExactlyItsBytes) {
    ASSERT_NE(this->port_, 0);
    constexpr std::size_t kFirstRead = 256 * 1024;  // the size of a payload's first read
    const struct {
        std::size_t size;
        bool byteByByte;
    } cases[] = {
        {0, false},          {1, false},          {2, false},          {5, false},
        {kFirstRead - 1, false}, {kFirstRead, false}, {kFirstRead + 1, false}, {3 * kFirstRead + 7, false},
        {0, true},           {1, true},           {2, true},           {5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.byteByByte ? " a byte at a time" : " whole"));
        this->received.clear();
        std::string payload(c.size, '\0');
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + i % 23);
        // The next packet's bytes follow at once on the same connection; they are not this one's.
        const std::string beyond = this->LengthField(3) + "xyz";
        const RawSocket peer = Dial(this->port_);
        ASSERT_NE(peer, kNoRawSocket);
        if (c.byteByByte) {
            const std::string wire = this->LengthField(static_cast<std::uint32_t>(c.size)) + payload;
            for (std::size_t i = 0; i < wire.size(); ++i) {
                const bool last = i + 1 == wire.size();
                // The byte before the last has surely been read: nothing is taken yet.
                if (last) {
                    this->Breathe(50);
                    EXPECT_TRUE(this->received.empty()) << "taken before its last byte";
                }
                this->WriteAll(peer, wire.substr(i, 1));
                this->Breathe(3);
            }
            this->traits.RunUntil([&] { return !this->received.empty(); });
            this->WriteAll(peer, beyond);
        } else {
            const std::string wire = this->LengthField(static_cast<std::uint32_t>(c.size)) + payload + beyond;
            std::thread writer([&] { this->WriteAll(peer, wire); });
            this->traits.RunUntil([&] { return !this->received.empty(); }, 10000);
            writer.join();
        }
        this->traits.RunUntil([&] { return this->channel_.IncomingConnections() == 0; });
        this->traits.Settle();
        ASSERT_EQ(this->received.size(), 1u);
        EXPECT_TRUE(this->received[0] == payload) << "payload of " << this->received[0].size() << " bytes differs";
        EXPECT_EQ(this->channel_.IncomingConnections(), 0u) << "the connection stays open";
        CloseRaw(peer);
    }
}

REGISTER_TYPED_TEST_SUITE_P(ReassemblyContract, EachPacketIsTakenOnceWithExactlyItsBytes);

}  // namespace zumelko::contract
