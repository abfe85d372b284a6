// Packet reassembly under arbitrary traffic: the input is a script of steps on up to four
// client connections at once (write a chunk, write a length field, close, reset), played
// against a real receiving channel over loopback TCP on the simulated desktop's loop. After
// every step the loop runs until it has nothing left to do, and then:
//   - every packet delivered is exactly the payload one connection sent behind its length
//     field, and no connection's packet is delivered twice;
//   - the channel never holds more for arriving packets than its MaxPacketSize;
//   - a packet refused for its length is never delivered.
// At the end, with a ceiling no input reaches and no allocation failing, every packet that
// was sent whole on a connection that was not reset has been delivered.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "framework/Stream.h"
#include "platform/sim/SimDesktop.h"
#include "transport/SimpleTcp.h"

namespace {

using namespace std::chrono_literals;
using zumelko::Component;
using zumelko::MemoryStream;
using zumelko::TSimpleTcp;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "reassembly invariant broken: %s\n", what);
    std::abort();
}

// One client connection as the script made it.
struct Conn {
    int fd = -1;
    std::string sent;  // what the socket took
    bool delivered = false;
    bool reset = false;
    bool completeWhileOpen = false;

    // The length field's value once it is all there.
    bool HasLength() const { return sent.size() >= 4; }
    std::int32_t Length() const {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(sent[static_cast<std::size_t>(i)]);
        return static_cast<std::int32_t>(v);
    }
    bool Valid(std::size_t max) const {
        return HasLength() && Length() >= 0 && static_cast<std::size_t>(Length()) <= max;
    }
    bool Complete(std::size_t max) const {
        return Valid(max) && sent.size() >= 4 + static_cast<std::size_t>(Length());
    }
    std::string Payload() const { return sent.substr(4, static_cast<std::size_t>(Length())); }
};

struct Harness {
    zumelko::platform::sim::ScopedSimDesktop desktop;
    Component root{nullptr};
    TSimpleTcp* channel = nullptr;
    std::uint16_t port = 0;
    std::vector<Conn> conns;  // every connection of the current input
    std::size_t max = 0;

    Harness() {
        channel = &root.Create<TSimpleTcp>();
        channel->SetPort(0);
        channel->OnReceived = [this](Component*) { Received(); };
        channel->Listen();
        zumelko::platform::SockAddrIn local;
        if (desktop->sockets().GetSockName(channel->ListenerSocket().SocketHandle(), local) != 0) Fail("no listener");
        port = ntohs(local.port);  // network order, as Winsock gives it
    }

    void Received() {
        MemoryStream copy;
        channel->GetStream(copy);
        const std::string payload(copy.View());
        Conn* from = nullptr;
        for (Conn& c : conns)
            if (!c.delivered && c.Complete(max) && c.Payload() == payload) from = &c;
        if (from == nullptr) Fail("a packet no connection sent whole, or one delivered twice");
        from->delivered = true;
        const std::string text = channel->GetString();
        if (text != payload.substr(0, payload.find('\0'))) Fail("GetString is not the payload up to its NUL");
        const zumelko::SharedText taken = channel->TakeString();
        if (!(taken == text)) Fail("TakeString differs from GetString");
        if (taken.ViewWithNul().back() != '\0') Fail("a taken text without its NUL");
        if (channel->GetString() != "") Fail("a taken packet is still there");
    }

    // Runs the loop until it is idle twice in a row.
    void Settle() {
        auto& loop = desktop->loop();
        int idle = 0;
        for (int i = 0; i < 100000 && idle < 2; ++i) {
            loop.ProcessMessages();
            idle = loop.PendingMessages() == 0 ? idle + 1 : 0;
        }
        if (channel->IncomingCapacity() > channel->MaxPacketSize()) Fail("more held than the ceiling");
    }

    int Open() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) Fail("socket");
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // libFuzzer's timer signal may interrupt the connect; the connection then completes on
        // its own, and is waited for.
        if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            pollfd p{fd, POLLOUT, 0};
            int err = errno;
            if (err == EINTR) {
                while (::poll(&p, 1, 5000) < 0 && errno == EINTR) {
                }
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            }
            if (err != 0) {
                std::fprintf(stderr, "connect: %s\n", std::strerror(err));
                Fail("connect");
            }
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        return fd;
    }

    void Write(Conn& c, const std::uint8_t* bytes, std::size_t n) {
        if (c.fd < 0) return;
        const ssize_t w = ::send(c.fd, bytes, n, MSG_NOSIGNAL);
        if (w > 0) c.sent.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(w));
        if (c.Complete(max)) c.completeWhileOpen = true;
    }

    void Close(Conn& c, bool hard) {
        if (c.fd < 0) return;
        if (hard) {
            const linger l{1, 0};
            ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            c.reset = true;
        }
        ::close(c.fd);
        c.fd = -1;
    }

    void Run(const std::uint8_t* data, std::size_t size) {
        if (size == 0) return;
        static constexpr std::array<std::size_t, 4> kMax{64, 4096, 1 << 20, 1 << 20};
        max = kMax[data[0] & 3];
        const bool starved = (data[0] & 4) != 0;
        const bool live = max == (1 << 20) && !starved;
        channel->SetMaxPacketSize(max);
        MemoryStream::SetBlockLimit(starved ? 2048 : 0);
        conns.clear();
        conns.reserve(size);
        std::array<int, 4> slot{-1, -1, -1, -1};  // index into conns of each slot's connection
        std::size_t i = 1;
        while (i < size) {
            const std::uint8_t op = data[i++];
            const int s = op & 3;
            const int kind = (op >> 2) & 3;
            if (slot[s] < 0 || conns[static_cast<std::size_t>(slot[s])].fd < 0) {
                if (kind >= 2) continue;  // nothing to close
                conns.push_back(Conn{});
                conns.back().fd = Open();
                slot[s] = static_cast<int>(conns.size() - 1);
            }
            Conn& c = conns[static_cast<std::size_t>(slot[s])];
            switch (kind) {
                case 0: {  // a chunk of raw bytes
                    std::size_t n = 0;
                    if (i < size) {
                        n = data[i];
                        ++i;
                        n = std::min(n, size - i);
                    }
                    Write(c, data + i, n);
                    i += n;
                    break;
                }
                case 1: {  // a small length field, so that whole packets are common
                    std::uint16_t len = 0;
                    if (i + 2 <= size) len = static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8));
                    i += 2;
                    const std::array<std::uint8_t, 4> field{static_cast<std::uint8_t>(len & 0xFF),
                                                            static_cast<std::uint8_t>(len >> 8), 0, 0};
                    Write(c, field.data(), field.size());
                    break;
                }
                case 2: Close(c, false); break;
                default: Close(c, true); break;
            }
            Settle();
        }
        if (live) {
            const bool all = desktop->loop().RunUntilFor(
                [&] {
                    for (const Conn& c : conns)
                        if (c.completeWhileOpen && !c.reset && !c.delivered) return false;
                    return true;
                },
                3000ms);
            if (!all) Fail("a packet sent whole was never delivered");
        }
        for (Conn& c : conns) Close(c, true);
        if (!desktop->loop().RunUntilFor([&] { return channel->IncomingConnections() == 0; }, 3000ms))
            Fail("connections outlive their peers");
        MemoryStream::SetBlockLimit(0);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;  // one listener for every input of the process
    harness.Run(data, size);
    return 0;
}
