#pragma once
// Winsock itself: every call passes straight through, so the notifications, their order and
// their error codes are the system's own.
#include <memory>
#include <vector>

#include "platform/HostLookups.h"
#include "platform/Loop.h"
#include "platform/Sockets.h"

namespace zumelko::platform::win32 {

class Win32Sockets final : public Sockets {
public:
    explicit Win32Sockets(Loop& loop) : loop_(loop) {}
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
    // Winsock's own WSAAsyncGetHostByName writes into the caller's buffer until its thread is
    // done, and Wine's cancel does not stop it; these keep the answer on our side instead.
    AsyncHandle WSAAsyncGetHostByName(Hwnd window, std::uint32_t message, const std::string& name) override;
    bool TakeHostAddress(AsyncHandle request, std::uint32_t& addr) override;
    int WSACancelAsyncRequest(AsyncHandle request) override;

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
    int SetNoDelay(SocketHandle s, bool on) override;
    int CloseSocket(SocketHandle s) override;
    int GetSockName(SocketHandle s, SockAddrIn& local) override;

private:
    Loop& loop_;
    // The lookups' threads post to this window, whose procedure passes the answers on.
    Hwnd lookupWindow_ = 0;
    std::unique_ptr<HostLookups> lookups_;
    int startups_ = 0;  // balanced by the destructor if the program forgot its WSACleanup
    std::vector<int> knownProtocols_;  // found by getprotobynumber already
};

}  // namespace zumelko::platform::win32
