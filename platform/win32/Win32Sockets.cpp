#include "platform/win32/Win32Sockets.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/win32/Win32Api.h"

namespace zumelko::platform::win32 {

namespace {

SOCKET S(SocketHandle s) { return static_cast<SOCKET>(s); }

// Writes every page of a buffer with what it already holds, one locked instruction a page: a
// page not yet in memory is brought in by one fault here, in the program, and the buffer's
// contents do not change.
void BringIn(void* buffer, std::size_t length) {
    constexpr std::uintptr_t kPage = 4096;
    auto* p = static_cast<unsigned char*>(buffer);
    unsigned char* const end = p + length;
    while (p < end) {
        std::atomic_ref<unsigned char>(*p).fetch_or(0, std::memory_order_relaxed);
        p += kPage - (reinterpret_cast<std::uintptr_t>(p) & (kPage - 1));
    }
}

// From this size on a receive's pages are brought in before it.
constexpr int kBringInFrom = 64 * 1024;

sockaddr_in ToSockaddr(const SockAddrIn& a) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = a.addr;
    sa.sin_port = a.port;
    return sa;
}

}  // namespace

static_assert(kInvalidSocket == static_cast<SocketHandle>(INVALID_SOCKET));
static_assert(kSocketError == SOCKET_ERROR);
static_assert(FD_READ_ == FD_READ && FD_WRITE_ == FD_WRITE && FD_OOB_ == FD_OOB && FD_ACCEPT_ == FD_ACCEPT &&
              FD_CONNECT_ == FD_CONNECT && FD_CLOSE_ == FD_CLOSE);
static_assert(WSAECONNREFUSED_ == WSAECONNREFUSED && WSAHOST_NOT_FOUND_ == WSAHOST_NOT_FOUND &&
              WSAEWOULDBLOCK_ == WSAEWOULDBLOCK && WSAEADDRINUSE_ == WSAEADDRINUSE);

namespace {
// Posted by a lookup thread to the sockets' own window: answers wait.
constexpr UINT kLookupsAnswered = WM_USER + 0x4A7;
}  // namespace

Win32Sockets::~Win32Sockets() {
    // No lookup thread posts anything from now on.
    lookups_.reset();
    if (lookupWindow_ != 0) loop_.DestroyWindow(lookupWindow_);
    while (startups_ > 0) {
        ::WSACleanup();
        --startups_;
    }
}

int Win32Sockets::WSAStartup(std::uint16_t version, WsaData& data) {
    WSADATA wsa{};
    const int rc = ::WSAStartup(version, &wsa);
    if (rc != 0) return rc;
    ++startups_;
    data.version = wsa.wVersion;
    data.description = wsa.szDescription;
    data.systemStatus = wsa.szSystemStatus;
    data.maxSockets = wsa.iMaxSockets;
    data.maxDatagramSize = wsa.iMaxUdpDg;
    return 0;
}

int Win32Sockets::WSACleanup() {
    const int rc = ::WSACleanup();
    if (rc == 0 && startups_ > 0) --startups_;
    return rc;
}

int Win32Sockets::WSAGetLastError() const { return ::WSAGetLastError(); }

bool Win32Sockets::GetProtoByNumber(int protocol) {
    // The protocol database does not change under a running program, and asking it costs a
    // millisecond under Wine, once for every packet sent: a protocol found once is known.
    if (std::find(knownProtocols_.begin(), knownProtocols_.end(), protocol) != knownProtocols_.end()) return true;
    if (::getprotobynumber(protocol) == nullptr) return false;
    knownProtocols_.push_back(protocol);
    return true;
}

bool Win32Sockets::GetServByName(const std::string& name, const std::string& protocol, std::uint16_t& port) {
    const servent* s = ::getservbyname(name.c_str(), protocol.c_str());
    if (s == nullptr) return false;
    port = static_cast<std::uint16_t>(s->s_port);
    return true;
}

std::uint32_t Win32Sockets::InetAddr(const std::string& text) { return ::inet_addr(text.c_str()); }

bool Win32Sockets::GetHostByName(const std::string& name, std::uint32_t& addr) {
    const hostent* h = ::gethostbyname(name.c_str());
    if (h == nullptr || h->h_addrtype != AF_INET || h->h_addr_list[0] == nullptr) return false;
    std::memcpy(&addr, h->h_addr_list[0], sizeof addr);
    return true;
}

AsyncHandle Win32Sockets::WSAAsyncGetHostByName(Hwnd window, std::uint32_t message, const std::string& name) {
    if (!lookups_) {
        lookupWindow_ = loop_.CreateHiddenWindow([this](std::uint32_t m, WParam, LParam) -> LResult {
            if (m != kLookupsAnswered || !lookups_) return 0;
            for (const HostLookups::Answer& a : lookups_->Collect())
                loop_.PostMessage(a.window, a.message, static_cast<WParam>(a.request), MakeSelectLParam(0, a.error));
            return 0;
        });
        if (lookupWindow_ == 0) {
            ::WSASetLastError(WSAENOBUFS);
            return 0;
        }
        lookups_ = std::make_unique<HostLookups>([window = AsHandle<HWND>(lookupWindow_)] {
            ::PostMessageA(window, kLookupsAnswered, 0, 0);
        });
    }
    const AsyncHandle request = lookups_->Start(window, message, [name](std::uint32_t& addr) {
        // Winsock keeps gethostbyname's answer per thread, so this thread's is its own.
        const hostent* h = ::gethostbyname(name.c_str());
        if (h == nullptr) {
            const int code = ::WSAGetLastError();
            return code >= WSAHOST_NOT_FOUND && code <= WSANO_DATA ? code : WSANO_RECOVERY;
        }
        if (h->h_addrtype != AF_INET || h->h_addr_list[0] == nullptr) return WSANO_DATA;
        std::memcpy(&addr, h->h_addr_list[0], sizeof addr);
        return 0;
    });
    if (request == 0) ::WSASetLastError(WSAENOBUFS);
    return request;
}

bool Win32Sockets::TakeHostAddress(AsyncHandle request, std::uint32_t& addr) {
    return lookups_ && lookups_->Take(request, addr);
}

int Win32Sockets::WSACancelAsyncRequest(AsyncHandle request) {
    const int rc = lookups_ ? lookups_->Cancel(request) : WSAEINVAL;
    if (rc == 0) return 0;
    ::WSASetLastError(rc);
    return SOCKET_ERROR;
}

SocketHandle Win32Sockets::Socket(int af, int type, int protocol) {
    return static_cast<SocketHandle>(::socket(af, type, protocol));
}

int Win32Sockets::WSAAsyncSelect(SocketHandle s, Hwnd window, std::uint32_t message, long events) {
    return ::WSAAsyncSelect(S(s), AsHandle<HWND>(window), message, events);
}

int Win32Sockets::Bind(SocketHandle s, const SockAddrIn& local) {
    const sockaddr_in sa = ToSockaddr(local);
    return ::bind(S(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

int Win32Sockets::Connect(SocketHandle s, const SockAddrIn& remote) {
    const sockaddr_in sa = ToSockaddr(remote);
    return ::connect(S(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

int Win32Sockets::Listen(SocketHandle s, int backlog) {
    // Connections taken here start with room for 2 MiB. A buffer that grows only as the program
    // reads keeps a sender to a small window while each read waits for its FD_READ message,
    // which under Wine is a trip through its server: a 1 MiB packet took three of them, and now
    // arrives at a third more speed. Accepted sockets inherit the size, and it is set before
    // listening so that the window offered in the handshake can use it. Where the system
    // refuses, its own size stays.
    const int size = 2 << 20;
    (void)::setsockopt(S(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    return ::listen(S(s), backlog);
}

SocketHandle Win32Sockets::Accept(SocketHandle s, SockAddrIn* peer) {
    sockaddr_in sa{};
    int len = sizeof sa;
    const SOCKET a = ::accept(S(s), reinterpret_cast<sockaddr*>(&sa), &len);
    if (a != INVALID_SOCKET && peer != nullptr) {
        peer->addr = sa.sin_addr.s_addr;
        peer->port = sa.sin_port;
    }
    return static_cast<SocketHandle>(a);
}

int Win32Sockets::Send(SocketHandle s, const void* data, int length, int flags) {
    return ::send(S(s), static_cast<const char*>(data), length, flags);
}

int Win32Sockets::Recv(SocketHandle s, void* buffer, int length, int flags) {
    // A large packet arrives into memory committed as it grows, whose pages are new. Under Wine
    // a receive that meets pages not yet in memory took twice as long at 16 MiB as one into
    // pages already in, longer than bringing them in first and receiving then (the loopback
    // sender fills the socket meanwhile). The buffer is the caller's to be written, as the
    // receive may write all of it; at most `length` bytes are brought in ahead of the data.
    if (length >= kBringInFrom && buffer != nullptr) BringIn(buffer, static_cast<std::size_t>(length));
    return ::recv(S(s), static_cast<char*>(buffer), length, flags);
}

int Win32Sockets::Shutdown(SocketHandle s, int how) { return ::shutdown(S(s), how); }

int Win32Sockets::SetOobInline(SocketHandle s, bool on) {
    const BOOL v = on ? TRUE : FALSE;
    return ::setsockopt(S(s), SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<const char*>(&v), sizeof v);
}

int Win32Sockets::SetLinger(SocketHandle s, bool on, std::uint16_t seconds) {
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    return ::setsockopt(S(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

int Win32Sockets::SetNoDelay(SocketHandle s, bool on) {
    const BOOL v = on ? TRUE : FALSE;
    return ::setsockopt(S(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&v), sizeof v);
}

int Win32Sockets::CloseSocket(SocketHandle s) { return ::closesocket(S(s)); }

int Win32Sockets::GetSockName(SocketHandle s, SockAddrIn& local) {
    sockaddr_in sa{};
    int len = sizeof sa;
    const int rc = ::getsockname(S(s), reinterpret_cast<sockaddr*>(&sa), &len);
    if (rc == 0) {
        local.addr = sa.sin_addr.s_addr;
        local.port = sa.sin_port;
    }
    return rc;
}

}  // namespace zumelko::platform::win32
