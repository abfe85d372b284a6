// The encrypted channel's receiving side under arbitrary plaintext on several connections at
// once: client sessions in this process make real TLS 1.3 connections over loopback to a
// listening TSecureTcp on the simulated desktop's loop and write the input's bytes inside them,
// in pieces, as header packets, data packets, their length fields and anything after them. The
// first byte picks the ceilings and whether the owner refuses the items of connections opened
// in the odd slots at their header or at their announcement; then each step acts on one of four
// slots, opening a connection there when it has none: a piece of bytes, a small length field,
// a close_notify with FIN, or a reset. The connections stay open across steps, so their packets
// arrive interleaved and are held at the same time. After every step the loop runs until idle,
// and:
//   - the channel never holds more for arriving items, all connections together, than its
//     MaxPacketSize;
//   - a header or data packet longer than its ceiling is never reported;
//   - OnHeader sees exactly the header packet its own connection sent (told by the check code),
//     OnAnnounced that connection's data length field;
//   - OnReceived comes at most once per connection, for an item taken at both questions, with
//     exactly the data packet that connection sent and of the size announced;
// and at the end, where the ceiling leaves room for every connection's packet, an item sent
// whole on a connection not reset has been delivered; the connections are gone, and hold
// nothing, once their clients are; and a fresh connection still gets its item through.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/Stream.h"
#include "framework/StringList.h"
#include "platform/sim/SimDesktop.h"
#include "transport/SecureTcp.h"
#include "transport/tls/TlsContext.h"
#include "transport/tls/TlsSession.h"

namespace {

using namespace std::chrono_literals;
using zumelko::Component;
using zumelko::MemoryStream;
using zumelko::TSecureTcp;
using zumelko::tls::TlsState;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "secure channel invariant broken: %s\n", what);
    std::abort();
}

// A non-blocking loopback socket as the client session's byte stream.
struct FdPipe final : zumelko::tls::TlsPipe {
    int fd = -1;
    int Send(const void* data, int length, int& error) override {
        const ssize_t n = ::send(fd, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
        if (n >= 0) return static_cast<int>(n);
        error = errno == EAGAIN || errno == EWOULDBLOCK ? zumelko::platform::WSAEWOULDBLOCK_
                                                        : zumelko::platform::WSAECONNRESET_;
        return -1;
    }
    int Receive(void* buffer, int size, int& error) override {
        const ssize_t n = ::recv(fd, buffer, static_cast<std::size_t>(size), 0);
        if (n >= 0) return static_cast<int>(n);
        error = errno == EAGAIN || errno == EWOULDBLOCK ? zumelko::platform::WSAEWOULDBLOCK_
                                                        : zumelko::platform::WSAECONNRESET_;
        return -1;
    }
};

// What the script's plaintext means, read as the channel must read it.
struct Expected {
    std::string sent;
    std::size_t maxHeader = 0;
    std::size_t maxPacket = 0;

    static std::optional<std::int32_t> Field(const std::string& s, std::size_t at) {
        if (s.size() < at + 4) return std::nullopt;
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
        return static_cast<std::int32_t>(v);
    }
    // The header packet, once whole and within its ceiling.
    std::optional<std::string> Header() const {
        const auto n = Field(sent, 0);
        if (!n || *n < 0 || static_cast<std::size_t>(*n) > maxHeader) return std::nullopt;
        if (sent.size() < 4 + static_cast<std::size_t>(*n)) return std::nullopt;
        return sent.substr(4, static_cast<std::size_t>(*n));
    }
    std::size_t DataField() const { return 4 + Header()->size(); }
    std::optional<std::int32_t> DataLength() const {
        if (!Header()) return std::nullopt;
        const auto n = Field(sent, DataField());
        if (!n || *n < 0 || static_cast<std::size_t>(*n) > maxPacket) return std::nullopt;
        return n;
    }
    std::optional<std::string> Data() const {
        const auto n = DataLength();
        if (!n || sent.size() < DataField() + 4 + static_cast<std::size_t>(*n)) return std::nullopt;
        return sent.substr(DataField() + 4, static_cast<std::size_t>(*n));
    }
};

struct Client {
    FdPipe pipe;
    std::unique_ptr<zumelko::tls::TlsSession> session;
    ~Client() {
        session.reset();
        if (pipe.fd >= 0) ::close(pipe.fd);
    }
};

// One connection of the input and what the channel told of it.
struct Conn {
    std::unique_ptr<Client> client;
    std::string code;  // the check code both ends see
    Expected expected;
    bool refuseHeader = false;
    bool refuseData = false;
    bool open = true;  // steps still go to it (no close, no reset, no failed write)
    bool reset = false;
    int headers = 0;
    int announced = 0;
    int received = 0;
};

struct Harness {
    zumelko::platform::sim::ScopedSimDesktop desktop;
    zumelko::tls::TlsContext serverContext;
    zumelko::tls::TlsContext clientContext;
    Component root{nullptr};
    TSecureTcp* channel = nullptr;
    std::uint16_t port = 0;
    std::vector<std::unique_ptr<Conn>> conns;  // every connection of the current input

    Harness() {
        channel = &root.Create<TSecureTcp>(serverContext);
        channel->SetPort(0);
        // Every input connects anew from one address, as fast as it can: no per-address limits.
        channel->SetLimits({std::numeric_limits<std::size_t>::max(), 1e9, 1e9, 0, 0});
        channel->OnHeader = [this](Component*, bool& accept) { Header(accept); };
        channel->OnAnnounced = [this](Component*, std::size_t size, bool& accept) { Announced(size, accept); };
        channel->OnReceived = [this](Component*) { Received(); };
        channel->Listen();
        zumelko::platform::SockAddrIn local;
        if (desktop->sockets().GetSockName(channel->ListenerSocket().SocketHandle(), local) != 0) Fail("no listener");
        port = ntohs(local.port);
    }

    // The connection the channel reports on now.
    Conn& Reported() {
        for (auto& c : conns)
            if (c->code == channel->CheckCode()) return *c;
        Fail("a report for no connection of this input");
    }

    void Header(bool& accept) {
        Conn& c = Reported();
        ++c.headers;
        if (c.headers > 1) Fail("two headers on one connection");
        const auto h = c.expected.Header();
        if (!h) Fail("a header reported that was not sent whole within its ceiling");
        zumelko::StringList lines, again;
        channel->GetHeader(lines);
        again.SetText(*h);
        if (lines.Text() != again.Text()) Fail("the header reported differs from the one sent");
        if (channel->PacketSize() != h->size()) Fail("the header's size differs from its length field");
        accept = !c.refuseHeader;
    }

    void Announced(std::size_t size, bool& accept) {
        Conn& c = Reported();
        ++c.announced;
        if (c.headers != 1 || c.refuseHeader || c.announced > 1) Fail("data announced without a header taken");
        const auto n = c.expected.DataLength();
        if (!n || static_cast<std::size_t>(*n) != size) Fail("an announced size that is not the length field");
        accept = !c.refuseData;
    }

    void Received() {
        Conn& c = Reported();
        ++c.received;
        if (c.received > 1) Fail("an item delivered twice");
        if (c.refuseHeader || c.refuseData || c.announced != 1) Fail("a refused item delivered");
        const auto data = c.expected.Data();
        if (!data) Fail("an item delivered that was not sent whole");
        if (channel->PacketSize() != data->size()) Fail("a delivery of the wrong size");
        const std::string text = channel->GetString();
        if (text != data->substr(0, data->find('\0'))) Fail("the delivered item differs from the one sent");
        const zumelko::SharedText taken = channel->TakeString();
        if (!(taken == text)) Fail("TakeString differs from GetString");
        if (channel->PacketSize() != 0) Fail("a taken item is still there");
    }

    void Settle() {
        auto& loop = desktop->loop();
        int idle = 0;
        for (int i = 0; i < 100000 && idle < 2; ++i) {
            loop.ProcessMessages();
            idle = loop.PendingMessages() == 0 ? idle + 1 : 0;
        }
        if (channel->IncomingCapacity() > channel->MaxPacketSize()) Fail("more held than the ceiling");
    }

    std::unique_ptr<Client> Connect() {
        auto c = std::make_unique<Client>();
        c->pipe.fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (c->pipe.fd < 0) Fail("socket");
        const int on = 1;
        ::setsockopt(c->pipe.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(c->pipe.fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            int err = errno;
            if (err == EINTR) {  // libFuzzer's timer signal: the connection completes on its own
                pollfd p{c->pipe.fd, POLLOUT, 0};
                while (::poll(&p, 1, 5000) < 0 && errno == EINTR) {
                }
                socklen_t len = sizeof err;
                ::getsockopt(c->pipe.fd, SOL_SOCKET, SO_ERROR, &err, &len);
            }
            if (err != 0) Fail("connect");
        }
        ::fcntl(c->pipe.fd, F_SETFL, ::fcntl(c->pipe.fd, F_GETFL) | O_NONBLOCK);
        c->session = std::make_unique<zumelko::tls::TlsSession>(clientContext, zumelko::tls::TlsRole::Client, c->pipe);
        c->session->Start();
        for (int i = 0; i < 2000 && c->session->State() == TlsState::Handshaking; ++i) {
            Settle();
            c->session->Advance();
            if (c->session->State() == TlsState::Handshaking) {
                pollfd p{c->pipe.fd, POLLIN, 0};
                ::poll(&p, 1, 1);
            }
        }
        if (c->session->State() != TlsState::Open) Fail("the handshake with the channel failed");
        if (c->session->CheckCode().size() != 14) Fail("a connection without its check code");
        return c;
    }

    Conn& Open(std::size_t maxHeader, std::size_t maxPacket) {
        conns.push_back(std::make_unique<Conn>());
        Conn& c = *conns.back();
        c.expected.maxHeader = maxHeader;
        c.expected.maxPacket = maxPacket;
        c.client = Connect();
        c.code = c.client->session->CheckCode();
        return c;
    }

    // Writes all of it, letting the channel read while the socket is full. False when the
    // connection is gone (the channel dropped it).
    bool Write(Conn& c, const std::uint8_t* bytes, std::size_t n) {
        std::size_t done = 0;
        for (int i = 0; done < n && i < 1000; ++i) {
            c.client->session->Advance();
            const int w = c.client->session->Write(bytes + done, static_cast<int>(n - done));
            if (w < 0) return false;
            c.expected.sent.append(reinterpret_cast<const char*>(bytes + done), static_cast<std::size_t>(w));
            done += static_cast<std::size_t>(w);
            Settle();
        }
        return done == n;
    }

    void Reset(Client& c) {
        if (c.pipe.fd < 0) return;
        const linger l{1, 0};
        ::setsockopt(c.pipe.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(c.pipe.fd);
        c.pipe.fd = -1;
    }

    void Run(const std::uint8_t* data, std::size_t size) {
        if (size == 0) return;
        static constexpr std::array<std::size_t, 4> kHeaderMax{16, 1024, 64 * 1024, 64 * 1024};
        static constexpr std::array<std::size_t, 4> kPacketMax{64, 4096, 1 << 20, 1 << 20};
        const std::size_t maxPacket = kPacketMax[(data[0] >> 2) & 3];
        // As the program has them, a header never takes more than a data packet may.
        const std::size_t maxHeader = std::min(kHeaderMax[data[0] & 3], maxPacket);
        const bool refuseHeader = (data[0] & 0x10) != 0;
        const bool refuseData = (data[0] & 0x20) != 0;
        // Room for the first block of every slot's packet: no connection is given up for another.
        const bool roomy = maxPacket == (1 << 20);
        channel->SetMaxHeaderSize(maxHeader);
        channel->SetMaxPacketSize(maxPacket);
        conns.clear();

        std::array<Conn*, 4> slot{};
        std::size_t i = 1;
        while (i < size) {
            const std::uint8_t op = data[i++];
            const std::size_t s = op & 3;
            const int kind = (op >> 2) & 3;
            if (slot[s] == nullptr || !slot[s]->open) {
                if (kind >= 2) continue;  // nothing to close
                Conn& fresh = Open(maxHeader, maxPacket);
                fresh.refuseHeader = refuseHeader && (s & 1) != 0;
                fresh.refuseData = refuseData && (s & 1) != 0;
                slot[s] = &fresh;
            }
            Conn& c = *slot[s];
            switch (kind) {
                case 0: {  // a piece of plaintext
                    std::size_t n = 0;
                    if (i < size) {
                        n = data[i];
                        ++i;
                        n = std::min(n, size - i);
                    }
                    c.open = Write(c, data + i, n);
                    i += n;
                    break;
                }
                case 1: {  // a small length field, so that whole packets are common
                    std::uint16_t len = 0;
                    if (i + 2 <= size) len = static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8));
                    i += 2;
                    const std::array<std::uint8_t, 4> field{static_cast<std::uint8_t>(len & 0xFF),
                                                            static_cast<std::uint8_t>(len >> 8), 0, 0};
                    c.open = Write(c, field.data(), field.size());
                    break;
                }
                case 2:  // close_notify, then FIN
                    c.client->session->Close();
                    c.client->session->Advance();
                    ::shutdown(c.client->pipe.fd, SHUT_WR);
                    c.open = false;
                    break;
                default:
                    Reset(*c.client);
                    c.reset = true;
                    c.open = false;
                    break;
            }
            Settle();
        }
        if (roomy) {
            auto lacking = [&] {
                for (const auto& c : conns)
                    if (c->expected.Data() && !c->refuseHeader && !c->refuseData && !c->reset && c->received == 0)
                        return true;
                return false;
            };
            if (!desktop->loop().RunUntilFor([&] { return !lacking(); }, 3000ms))
                Fail("an item sent whole was never delivered");
        }
        for (auto& c : conns) {
            if (c->received != 0 && (!c->expected.Data() || c->refuseHeader || c->refuseData))
                Fail("a delivery of an item not sent whole or refused");
            Reset(*c->client);
        }
        if (!desktop->loop().RunUntilFor([&] { return channel->IncomingConnections() == 0; }, 3000ms))
            Fail("connections outlive their peers");
        if (channel->IncomingCapacity() != 0) Fail("memory held for connections that are gone");
        conns.clear();

        // The channel still takes an item.
        channel->SetMaxHeaderSize(64 * 1024);
        channel->SetMaxPacketSize(1 << 20);
        static const std::string kItem = std::string("\x06\0\0\0text\r\n\x02\0\0\0ok", 16);
        Conn& fresh = Open(channel->MaxHeaderSize(), channel->MaxPacketSize());
        if (!Write(fresh, reinterpret_cast<const std::uint8_t*>(kItem.data()), kItem.size()))
            Fail("a fresh connection could not write its item");
        if (!desktop->loop().RunUntilFor([&] { return fresh.received == 1; }, 3000ms))
            Fail("the channel stopped taking items");
        Reset(*fresh.client);
        if (!desktop->loop().RunUntilFor([&] { return channel->IncomingConnections() == 0; }, 3000ms))
            Fail("a delivered connection outlives its peer");
        conns.clear();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;  // one listener and one identity per side for every input
    harness.Run(data, size);
    return 0;
}
