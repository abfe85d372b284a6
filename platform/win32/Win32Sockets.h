#pragma once
// Winsock itself: every call passes straight through, so the notifications, their order and
// their error codes are the system's own.
#include "platform/Sockets.h"

namespace zumelko::platform::win32 {

class Win32Sockets final : public Sockets {
public:
    Win32Sockets() = default;
    ~Win32Sockets() override;
    Win32Sockets(const Win32Sockets&) = delete;
    Win32Sockets& operator=(const Win32Sockets&) = delete;

    // Sockets overrides:
    int WSAStartup(std::uint16_t version, WsaData& data) override;
    int WSACleanup() override;
    int WSAGetLastError() const override;
    // Winsock 2 has no blocking hooks any more.
    bool WSAIsBlocking() const override { return false; }
    int WSACancelBlockingCall() override { return 0; }

    bool GetProtoByNumber(int protocol) override;
    bool GetServByName(const std::string& name, const std::string& protocol, std::uint16_t& port) override;
    std::uint32_t InetAddr(const std::string& text) override;
    bool GetHostByName(const std::string& name, std::uint32_t& addr) override;

    SocketHandle Socket(int af, int type, int protocol) override;
    int WSAAsyncSelect(SocketHandle s, Hwnd window, std::uint32_t message, long events) override;
    int Bind(SocketHandle s, const SockAddrIn& local) override;
    int Connect(SocketHandle s, const SockAddrIn& remote) override;
    int Listen(SocketHandle s, int backlog) override;
    SocketHandle Accept(SocketHandle s, SockAddrIn* peer) override;
    int Send(SocketHandle s, const void* data, int length, int flags) override;
    int Recv(SocketHandle s, void* buffer, int length, int flags) override;
    int Shutdown(SocketHandle s, int how) override;
    int SetOobInline(SocketHandle s, bool on) override;
    int SetLinger(SocketHandle s, bool on, std::uint16_t seconds) override;
    int CloseSocket(SocketHandle s) override;
    int GetSockName(SocketHandle s, SockAddrIn& local) override;

private:
    int startups_ = 0;  // balanced by the destructor if the program forgot its WSACleanup
};

}  // namespace zumelko::platform::win32
