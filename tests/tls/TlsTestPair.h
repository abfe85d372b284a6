#pragma once
// A client and a server session over real loopback TCP through the simulated desktop's sockets,
// each driven from its component's notices the way a channel drives it.
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "framework/Component.h"
#include "platform/sim/SimDesktop.h"
#include "transport/SocketComponents.h"
#include "transport/tls/TlsSession.h"

namespace zumelko::testing {

// One end: what it is to send, what it got, how often the socket was full.
struct TlsEnd {
    std::unique_ptr<tls::TlsPipe> pipe;
    std::unique_ptr<tls::TlsSession> session;
    std::string outgoing;
    std::size_t sent = 0;
    std::string received;
    int wouldBlock = 0;
    bool readEnded = false;  // Read returned -1

    // Advances the session, writes what is left, reads everything that waits.
    void Drive();
};

// A server component listening on a port the system picks, with a session per accepted
// connection (the last one is kept).
class TlsServerEnd {
public:
    TlsServerEnd(Component& root, const tls::TlsContext& context);
    std::uint16_t Port() const { return port_; }
    TTCPServer& Server() { return server_; }
    TlsEnd& End() { return end_; }
    int Accepted() const { return accepted_; }
    // Runs before the session starts, for a test to queue what the server sends.
    std::function<void(TlsEnd&)> onAccept;

private:
    TTCPServer& server_;
    const tls::TlsContext& context_;
    std::uint16_t port_ = 0;
    TlsEnd end_;
    int accepted_ = 0;
};

class TlsClientEnd {
public:
    TlsClientEnd(Component& root, const tls::TlsContext& context, std::uint16_t port);
    TTCPClient& Client() { return client_; }
    TlsEnd& End() { return end_; }

private:
    TTCPClient& client_;
    TlsEnd end_;
};

// Keeps what is written; nothing ever arrives.
struct MemoryPipe final : tls::TlsPipe {
    std::string written;
    int Send(const void* data, int length, int& error) override;
    int Receive(void* buffer, int size, int& error) override;
};

// The first flight of a client session of the context, as it goes on the wire.
std::string ClientHello(const tls::TlsContext& context);

bool Pump(platform::sim::ScopedSimDesktop& desktop, const std::function<bool()>& done,
          std::chrono::milliseconds limit = std::chrono::milliseconds(20000));

// True once the session is past its handshake, one way or the other.
inline bool Settled(const TlsEnd& e) {
    return e.session && e.session->State() != tls::TlsState::Idle && e.session->State() != tls::TlsState::Handshaking;
}

}  // namespace zumelko::testing
