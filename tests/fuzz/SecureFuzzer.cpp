// The encrypted channel's receiving side under arbitrary plaintext: a client session in this
// process makes a real TLS 1.3 connection over loopback to a listening TSecureTcp on the
// simulated desktop's loop and writes the input's bytes inside it, in pieces, as the header
// packet, the data packet, their length fields and anything after them. The first byte picks
// the ceilings and whether the owner refuses the item at its header or at its announcement;
// then each step is a piece (its size, then its bytes), a close_notify or a reset. After every
// step the loop runs until idle, and:
//   - the channel never holds more for arriving items than its MaxPacketSize;
//   - a header or data packet longer than its ceiling is never reported;
//   - OnHeader sees exactly the header packet sent, OnAnnounced the data's length field;
//   - OnReceived comes at most once, for an item taken at both questions, with exactly the
//     data packet sent and of the size announced;
// and at the end, an item sent whole on a connection not reset has been delivered, the
// connection is gone once its client is, and a fresh connection still gets its item through.
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
#include <memory>
#include <optional>
#include <string>

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

struct Harness {
    zumelko::platform::sim::ScopedSimDesktop desktop;
    zumelko::tls::TlsContext serverContext;
    zumelko::tls::TlsContext clientContext;
    Component root{nullptr};
    TSecureTcp* channel = nullptr;
    std::uint16_t port = 0;

    Expected expected;
    bool refuseHeader = false;
    bool refuseData = false;
    int headers = 0;
    int announced = 0;
    int received = 0;

    Harness() {
        channel = &root.Create<TSecureTcp>(serverContext);
        channel->SetPort(0);
        channel->OnHeader = [this](Component*, bool& accept) { Header(accept); };
        channel->OnAnnounced = [this](Component*, std::size_t size, bool& accept) { Announced(size, accept); };
        channel->OnReceived = [this](Component*) { Received(); };
        channel->Listen();
        zumelko::platform::SockAddrIn local;
        if (desktop->sockets().GetSockName(channel->ListenerSocket().SocketHandle(), local) != 0) Fail("no listener");
        port = ntohs(local.port);
    }

    void Header(bool& accept) {
        ++headers;
        const auto h = expected.Header();
        if (!h) Fail("a header reported that was not sent whole within its ceiling");
        zumelko::StringList lines, again;
        channel->GetHeader(lines);
        again.SetText(*h);
        if (lines.Text() != again.Text()) Fail("the header reported differs from the one sent");
        if (channel->PacketSize() != h->size()) Fail("the header's size differs from its length field");
        if (channel->CheckCode().size() != 14) Fail("a header without its check code");
        accept = !refuseHeader;
    }

    void Announced(std::size_t size, bool& accept) {
        ++announced;
        if (headers != 1 || refuseHeader) Fail("data announced without a header taken");
        const auto n = expected.DataLength();
        if (!n || static_cast<std::size_t>(*n) != size) Fail("an announced size that is not the length field");
        accept = !refuseData;
    }

    void Received() {
        ++received;
        if (received > 1) Fail("an item delivered twice");
        if (refuseHeader || refuseData || announced != 1) Fail("a refused item delivered");
        const auto data = expected.Data();
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
        return c;
    }

    // Writes all of it, letting the channel read while the socket is full. False when the
    // connection is gone (the channel dropped it).
    bool Write(Client& c, const std::uint8_t* bytes, std::size_t n) {
        std::size_t done = 0;
        for (int i = 0; done < n && i < 1000; ++i) {
            c.session->Advance();
            const int w = c.session->Write(bytes + done, static_cast<int>(n - done));
            if (w < 0) return false;
            expected.sent.append(reinterpret_cast<const char*>(bytes + done), static_cast<std::size_t>(w));
            done += static_cast<std::size_t>(w);
            Settle();
        }
        return done == n;
    }

    void Reset(Client& c) {
        const linger l{1, 0};
        ::setsockopt(c.pipe.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        ::close(c.pipe.fd);
        c.pipe.fd = -1;
    }

    void Run(const std::uint8_t* data, std::size_t size) {
        if (size == 0) return;
        static constexpr std::array<std::size_t, 4> kHeaderMax{16, 1024, 64 * 1024, 64 * 1024};
        static constexpr std::array<std::size_t, 4> kPacketMax{64, 4096, 1 << 20, 1 << 20};
        expected = Expected{};
        expected.maxPacket = kPacketMax[(data[0] >> 2) & 3];
        // As the program has them, a header never takes more than a data packet may.
        expected.maxHeader = std::min(kHeaderMax[data[0] & 3], expected.maxPacket);
        refuseHeader = (data[0] & 0x10) != 0;
        refuseData = (data[0] & 0x20) != 0;
        headers = announced = received = 0;
        channel->SetMaxHeaderSize(expected.maxHeader);
        channel->SetMaxPacketSize(expected.maxPacket);

        auto client = Connect();
        bool open = true;
        bool reset = false;
        std::size_t i = 1;
        while (i < size && open) {
            const std::uint8_t op = data[i++];
            if (op == 0xFE) {  // close_notify, then FIN
                client->session->Close();
                client->session->Advance();
                ::shutdown(client->pipe.fd, SHUT_WR);
                open = false;
            } else if (op == 0xFF) {
                Reset(*client);
                reset = true;
                open = false;
            } else {
                const std::size_t n = std::min<std::size_t>(op, size - i);
                open = Write(*client, data + i, n);
                i += n;
            }
            Settle();
        }
        const bool whole = expected.Data().has_value() && !refuseHeader && !refuseData;
        if (whole && !reset) {
            if (!desktop->loop().RunUntilFor([&] { return received == 1; }, 3000ms))
                Fail("an item sent whole was never delivered");
        }
        if (!whole && received != 0) Fail("a delivery of an item not sent whole or refused");
        if (!reset && client->pipe.fd >= 0) Reset(*client);
        client.reset();
        if (!desktop->loop().RunUntilFor([&] { return channel->IncomingConnections() == 0; }, 3000ms))
            Fail("connections outlive their peers");

        // The channel still takes an item.
        expected = Expected{};
        expected.maxHeader = channel->MaxHeaderSize();
        expected.maxPacket = channel->MaxPacketSize();
        refuseHeader = refuseData = false;
        headers = announced = received = 0;
        static const std::string kItem = std::string("\x06\0\0\0text\r\n\x02\0\0\0ok", 16);
        auto fresh = Connect();
        if (!Write(*fresh, reinterpret_cast<const std::uint8_t*>(kItem.data()), kItem.size()))
            Fail("a fresh connection could not write its item");
        if (!desktop->loop().RunUntilFor([&] { return received == 1; }, 3000ms))
            Fail("the channel stopped taking items");
        Reset(*fresh);
        fresh.reset();
        if (!desktop->loop().RunUntilFor([&] { return channel->IncomingConnections() == 0; }, 3000ms))
            Fail("a delivered connection outlives its peer");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;  // one listener and one identity per side for every input
    harness.Run(data, size);
    return 0;
}
