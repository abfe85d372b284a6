#pragma once
// What the Windows benchmarks share: handles and sockets closed with their owners, Winsock
// started for as long as it is needed, and the loopback address of a port.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <type_traits>

#include "platform/win32/Win32Api.h"

namespace zumelko::bench {

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h != nullptr) ::CloseHandle(h);
    }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

class Socket {
public:
    explicit Socket(SOCKET s = INVALID_SOCKET) : s_(s) {}
    ~Socket() {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return s_; }

private:
    SOCKET s_;
};

struct Winsock {
    Winsock() {
        WSADATA data{};
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup");
    }
    ~Winsock() { ::WSACleanup(); }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
};

inline sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = ::htons(port);
    sa.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    return sa;
}

}  // namespace zumelko::bench
