#pragma once
// Plain POSIX peers for the transport tests: they read and write raw bytes on loopback, so the
// tests see exactly what goes over the wire and can misbehave in ways no channel would.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zumelko::testing {

// An open descriptor, closed hard (reset, no TIME_WAIT) unless told otherwise.
class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(int fd) : fd_(fd) {}
    ~RawSocket() { Close(); }
    RawSocket(RawSocket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    RawSocket& operator=(RawSocket&& o) noexcept;
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hard close: linger on with time-out 0.
    void Close();
    // Orderly close (FIN).
    void CloseGracefully();

    // Writes everything (blocking).
    void SendAll(std::string_view bytes) const;
    // Appends whatever can be read now without waiting; false once the peer has closed.
    bool ReadAvailable(std::string& into) const;
    // True when the peer has closed or reset the connection.
    bool PeerClosed() const;
    // Port of the peer, host order.
    std::uint16_t PeerPort() const;

private:
    int fd_ = -1;
};

// A listening socket on 127.0.0.1 (port 0: any free port).
class RawListener {
public:
    explicit RawListener(std::uint16_t port = 0);
    std::uint16_t Port() const { return port_; }
    // A connection waiting now, or an invalid socket.
    RawSocket TryAccept() const;

private:
    RawSocket socket_;
    std::uint16_t port_ = 0;
};

// A connected socket to 127.0.0.1:port with Nagle off, so each write leaves at once.
RawSocket RawConnect(std::uint16_t port);

// Binds a socket to a local port on any address and keeps it, to make that port taken.
RawSocket HoldPort(std::uint16_t port);

std::string Bytes(std::initializer_list<int> values);
std::string LengthField(std::int32_t length);

// Runs body in a child process with a network namespace of its own (its own loopback, so the
// fixed ports are nobody else's), optionally without the right to bind ports below 1024.
// Returns what body returned (empty for success) or what went wrong with the child.
struct IsolatedResult {
    std::string failure;
    bool ownNamespace = false;
};
IsolatedResult RunIsolated(const std::function<std::string()>& body, bool withoutLowPortRights);

}  // namespace zumelko::testing
