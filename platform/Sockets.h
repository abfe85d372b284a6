#pragma once
// Non-blocking IPv4 TCP with readiness notifications in the manner of WSAAsyncSelect:
// each notification is a message posted to a window, carrying the socket in wParam and
// the event (low word) and error code (high word) in lParam. Errors are Winsock codes on
// every desktop, so every user sees the same texts.
#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

namespace zumelko::platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;
// A name lookup under way (WSAAsyncGetHostByName's task handle); 0 is none.
using AsyncHandle = std::uintptr_t;
constexpr int kSocketError = -1;

constexpr int AF_INET_ = 2;
constexpr int SOCK_STREAM_ = 1;
constexpr int SOCK_RAW_ = 3;
constexpr std::uint32_t INADDR_ANY_ = 0;
constexpr std::uint32_t INADDR_NONE_ = 0xFFFFFFFFu;

constexpr long FD_READ_ = 1;
constexpr long FD_WRITE_ = 2;
constexpr long FD_OOB_ = 4;
constexpr long FD_ACCEPT_ = 8;
constexpr long FD_CONNECT_ = 16;
constexpr long FD_CLOSE_ = 32;

// Winsock error codes the program tells apart.
constexpr int WSAEACCES_ = 10013;
constexpr int WSAEINVAL_ = 10022;
constexpr int WSAEWOULDBLOCK_ = 10035;
constexpr int WSAEALREADY_ = 10037;
constexpr int WSAENOPROTOOPT_ = 10042;
constexpr int WSAEADDRINUSE_ = 10048;
constexpr int WSAENETDOWN_ = 10050;
constexpr int WSAECONNRESET_ = 10054;
constexpr int WSAENOTCONN_ = 10057;
constexpr int WSAECONNREFUSED_ = 10061;
constexpr int WSAHOST_NOT_FOUND_ = 11001;

constexpr int SD_RECEIVE_ = 0;
constexpr int SD_SEND_ = 1;
constexpr int SD_BOTH_ = 2;

// Address and port in network byte order, as in sockaddr_in.
struct SockAddrIn {
    std::uint32_t addr = 0;
    std::uint16_t port = 0;
};

struct WsaData {
    std::uint16_t version = 0;
    std::string description;
    std::string systemStatus;
    int maxSockets = 0;
    int maxDatagramSize = 0;
};

inline LParam MakeSelectLParam(int event, int error) {
    return static_cast<LParam>((static_cast<std::uint32_t>(error) << 16) |
                               (static_cast<std::uint32_t>(event) & 0xFFFFu));
}
inline int SelectEvent(LParam l) { return static_cast<int>(static_cast<std::uint32_t>(l) & 0xFFFFu); }
inline int SelectError(LParam l) { return static_cast<int>((static_cast<std::uint32_t>(l) >> 16) & 0xFFFFu); }

// Every call returns as its Winsock namesake does (0 or a result on success, kSocketError or
// kInvalidSocket on failure), and leaves the failure's code for WSAGetLastError.
class Sockets {
public:
    virtual ~Sockets() = default;

    virtual int WSAStartup(std::uint16_t version, WsaData& data) = 0;  // 0 or an error code
    virtual int WSACleanup() = 0;
    virtual int WSAGetLastError() const = 0;
    virtual bool WSAIsBlocking() const = 0;
    virtual int WSACancelBlockingCall() = 0;

    virtual bool GetProtoByNumber(int protocol) = 0;
    // Port of a service name for a protocol ("tcp"), in network order.
    virtual bool GetServByName(const std::string& name, const std::string& protocol,
                               std::uint16_t& portNetworkOrder) = 0;
    // A dotted IPv4 address in network order, or INADDR_NONE_.
    virtual std::uint32_t InetAddr(const std::string& text) = 0;
    // The first IPv4 address of a name lookup, in network order. Blocks for as long as the name
    // servers take: never on the loop thread where a user waits.
    virtual bool GetHostByName(const std::string& name, std::uint32_t& addrNetworkOrder) = 0;

    // WSAAsyncGetHostByName, with the answer kept by the desktop instead of in a buffer of the
    // caller's: looks name up away from the loop thread and returns at once. When the answer is
    // in, message is posted to window with wParam = the request and lParam =
    // MakeSelectLParam(0, error): error 0 when the name has an IPv4 address, which
    // TakeHostAddress then gives (once), else the lookup's code (11001 and the others a failed
    // GetHostByName leaves). Answers come in any order, each through the loop. Returns 0, with a
    // code for WSAGetLastError, when no lookup can be started.
    virtual AsyncHandle WSAAsyncGetHostByName(Hwnd window, std::uint32_t message, const std::string& name) = 0;
    // The address of a request whose message came with error 0, in network order; false for any
    // other request, or when the answer was taken already. A request whose message came is
    // forgotten by the desktop once this is asked, whatever the answer.
    virtual bool TakeHostAddress(AsyncHandle request, std::uint32_t& addrNetworkOrder) = 0;
    // WSACancelAsyncRequest: the request's message is not posted after this, and its answer is
    // dropped. Fails with WSAEALREADY_ when the message was posted already (it may still arrive:
    // callers ignore requests they no longer wait for), WSAEINVAL_ for an unknown request.
    virtual int WSACancelAsyncRequest(AsyncHandle request) = 0;

    virtual SocketHandle Socket(int af, int type, int protocol) = 0;
    // Registers interest in events (0 cancels them all) and makes the socket non-blocking.
    // FD_CLOSE carries the reset's code when the peer reset the connection, 0 for an orderly
    // close (Wine's Winsock says 0 for both).
    // FD_READ is posted again only after the next Recv on the socket; FD_ACCEPT after the
    // next Accept; FD_WRITE after a Send that would have blocked.
    virtual int WSAAsyncSelect(SocketHandle s, Hwnd window, std::uint32_t message, long events) = 0;
    virtual int Bind(SocketHandle s, const SockAddrIn& local) = 0;
    virtual int Connect(SocketHandle s, const SockAddrIn& remote) = 0;
    virtual int Listen(SocketHandle s, int backlog) = 0;
    virtual SocketHandle Accept(SocketHandle s, SockAddrIn* peer) = 0;
    virtual int Send(SocketHandle s, const void* data, int length, int flags) = 0;
    virtual int Recv(SocketHandle s, void* buffer, int length, int flags) = 0;
    virtual int Shutdown(SocketHandle s, int how) = 0;
    virtual int SetOobInline(SocketHandle s, bool on) = 0;
    virtual int SetLinger(SocketHandle s, bool on, std::uint16_t seconds) = 0;
    // TCP_NODELAY: small writes go at once instead of waiting for the peer's acknowledgement.
    virtual int SetNoDelay(SocketHandle s, bool on) = 0;
    virtual int CloseSocket(SocketHandle s) = 0;
    virtual int GetSockName(SocketHandle s, SockAddrIn& local) = 0;
};

}  // namespace zumelko::platform
