#include "platform/posix/PosixSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace zumelko::platform {

int WinsockCodeForErrno(int err) {
    switch (err) {
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES:
        case EPERM: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE:
        case ENFILE: return 10024;
        case EAGAIN: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED:
        case EPIPE: return 10053;
        case ECONNRESET: return 10054;
        case ENOBUFS:
        case ENOMEM: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        case EDQUOT: return 10069;
        case ESTALE: return 10070;
        case EREMOTE: return 10071;
        default: return 10022;
    }
}

namespace {

sockaddr_in ToSockaddr(const SockAddrIn& a) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = a.addr;
    sa.sin_port = a.port;
    return sa;
}

// The system's lookup: 0 and the first IPv4 address, or the Winsock code for the failure.
// Safe on any thread.
int LookUp(const std::string& name, std::uint32_t& addr) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const int rc = name.empty() ? EAI_NONAME : ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
    switch (rc) {
        case 0: break;
        case EAI_AGAIN: return 11002;
        case EAI_FAIL: return 11003;
#ifdef EAI_NODATA
        case EAI_NODATA: return 11004;
#endif
        case EAI_ADDRFAMILY: return 11004;
        default: return 11001;
    }
    addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(res);
    return 0;
}

}  // namespace

PosixSockets::~PosixSockets() {
    // No lookup thread wakes anyone from now on, so the eventfd can go.
    lookups_.reset();
    if (wakeFd_ >= 0) ::close(wakeFd_);
    for (auto& [h, st] : sockets_) ::close(st.fd);
}

int PosixSockets::Fail(int code) {
    lastError_ = code;
    return kSocketError;
}

int PosixSockets::FailErrno() { return Fail(WinsockCodeForErrno(errno)); }

PosixSockets::State* PosixSockets::Find(SocketHandle s) {
    auto it = sockets_.find(s);
    return it == sockets_.end() ? nullptr : &it->second;
}

int PosixSockets::WSAStartup(std::uint16_t version, WsaData& data) {
    data.version = version;
    data.description = "Zumelko POSIX sockets";
    data.systemStatus = "Running";
    data.maxSockets = 32767;
    data.maxDatagramSize = 65467;
    return 0;
}

bool PosixSockets::GetProtoByNumber(int protocol) {
    // TCP is always there (see below): no need to read the protocol database for it on every
    // connection.
    if (protocol == IPPROTO_TCP) return true;
    protoent entry{};
    protoent* result = nullptr;
    char buf[1024];
    if (::getprotobynumber_r(protocol, &entry, buf, sizeof buf, &result) == 0 && result != nullptr) return true;
    // Minimal systems may lack the protocol database; TCP is always there.
    if (protocol == IPPROTO_TCP) return true;
    lastError_ = 11004;
    return false;
}

bool PosixSockets::GetServByName(const std::string& name, const std::string& protocol, std::uint16_t& port) {
    servent entry{};
    servent* result = nullptr;
    char buf[1024];
    if (::getservbyname_r(name.c_str(), protocol.c_str(), &entry, buf, sizeof buf, &result) != 0 ||
        result == nullptr)
        return false;
    port = static_cast<std::uint16_t>(result->s_port);
    return true;
}

std::uint32_t PosixSockets::InetAddr(const std::string& text) {
    in_addr a{};
    if (::inet_aton(text.c_str(), &a) == 0) return INADDR_NONE_;
    return a.s_addr;
}

bool PosixSockets::GetHostByName(const std::string& name, std::uint32_t& addr) {
    if (auto it = hosts_.find(name); it != hosts_.end()) {
        std::this_thread::sleep_for(it->second.delay);
        if (it->second.addr == INADDR_NONE_) {
            lastError_ = 11001;
            return false;
        }
        addr = it->second.addr;
        return true;
    }
    const int error = LookUp(name, addr);
    if (error != 0) lastError_ = error;
    return error == 0;
}

AsyncHandle PosixSockets::WSAAsyncGetHostByName(Hwnd window, std::uint32_t message, const std::string& name) {
    if (!lookups_) {
        wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0) {
            FailErrno();
            return 0;
        }
        lookups_ = std::make_unique<HostLookups>([fd = wakeFd_] {
            const std::uint64_t one = 1;
            (void)!::write(fd, &one, sizeof one);
        });
        NotifyChanged();
    }
    HostLookups::Lookup lookup;
    if (auto it = hosts_.find(name); it != hosts_.end()) {
        lookup = [host = it->second](std::uint32_t& addr) {
            std::this_thread::sleep_for(host.delay);
            if (host.addr == INADDR_NONE_) return 11001;
            addr = host.addr;
            return 0;
        };
    } else {
        lookup = [name](std::uint32_t& addr) { return LookUp(name, addr); };
    }
    const AsyncHandle request = lookups_->Start(window, message, std::move(lookup));
    if (request == 0) Fail(10055);
    return request;
}

bool PosixSockets::TakeHostAddress(AsyncHandle request, std::uint32_t& addr) {
    return lookups_ && lookups_->Take(request, addr);
}

int PosixSockets::WSACancelAsyncRequest(AsyncHandle request) {
    const int rc = lookups_ ? lookups_->Cancel(request) : WSAEINVAL_;
    return rc == 0 ? 0 : Fail(rc);
}

SocketHandle PosixSockets::Socket(int af, int type, int protocol) {
    if (af != AF_INET_) return Fail(10047);
    int posixType = 0;
    if (type == SOCK_STREAM_) {
        posixType = SOCK_STREAM;
    } else if (type == SOCK_RAW_) {
        posixType = SOCK_RAW;
    } else {
        return Fail(10044);
    }
    const int fd = ::socket(AF_INET, posixType | SOCK_CLOEXEC, protocol);
    if (fd < 0) return FailErrno();
    const SocketHandle h = next_++;
    State st;
    st.fd = fd;
    sockets_.emplace(h, st);
    byFd_[fd] = h;
    return h;
}

int PosixSockets::WSAAsyncSelect(SocketHandle s, Hwnd window, std::uint32_t message, long events) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    // Once is enough: the flag stays, and every connection would otherwise pay two more calls
    // for each of its registrations.
    if (!st->nonBlocking) {
        const int flags = ::fcntl(st->fd, F_GETFL);
        if (flags < 0 || ::fcntl(st->fd, F_SETFL, flags | O_NONBLOCK) < 0) return FailErrno();
        st->nonBlocking = true;
    }
    st->window = window;
    st->message = message;
    st->events = events;
    st->readArmed = true;
    st->acceptArmed = true;
    st->closePosted = false;
    // Re-registering for FD_WRITE on a connected socket reports it writable, as Winsock does.
    st->writeArmed = (events & FD_WRITE_) != 0 && !st->connecting && !st->listening;
    NotifyChanged();
    return 0;
}

int PosixSockets::Bind(SocketHandle s, const SockAddrIn& local) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    SockAddrIn a = local;
    if (a.addr == INADDR_ANY_) a.addr = localAddress_;
    if (st->events & FD_ACCEPT_) {
        // A listener takes its port back while connections it closed wait in TIME_WAIT (a taken
        // packet's orderly close leaves one when its sender closes in order as well), as
        // Windows lets it. Linux still refuses a second listener on the port.
        const int one = 1;
        if (::setsockopt(st->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) return FailErrno();
    }
    const sockaddr_in sa = ToSockaddr(a);
    if (::bind(st->fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) return FailErrno();
    st->bound = true;
    return 0;
}

int PosixSockets::Connect(SocketHandle s, const SockAddrIn& remote) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    if (!st->bound && localAddress_ != 0) {
        // Leave from this host's own address.
        SockAddrIn here{localAddress_, 0};
        if (Bind(s, here) != 0) return kSocketError;
    }
    const sockaddr_in sa = ToSockaddr(remote);
    const int rc = ::connect(st->fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (rc != 0 && errno != EINPROGRESS) return FailErrno();
    // Completion, even an immediate one, is reported by FD_CONNECT.
    st->connecting = true;
    NotifyChanged();
    if (rc != 0) return Fail(WSAEWOULDBLOCK_);
    return 0;
}

int PosixSockets::Listen(SocketHandle s, int backlog) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    if (::listen(st->fd, backlog) != 0) return FailErrno();
    st->listening = true;
    st->acceptArmed = true;
    NotifyChanged();
    return 0;
}

SocketHandle PosixSockets::Accept(SocketHandle s, SockAddrIn* peer) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    st->acceptArmed = true;
    NotifyChanged();
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const int fd = ::accept4(st->fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return FailErrno();
    if (peer != nullptr) *peer = {sa.sin_addr.s_addr, sa.sin_port};
    const SocketHandle h = next_++;
    State accepted;
    accepted.fd = fd;
    accepted.bound = true;
    accepted.nonBlocking = true;  // accept4 made it so
    sockets_.emplace(h, accepted);
    byFd_[fd] = h;
    return h;
}

int PosixSockets::Send(SocketHandle s, const void* data, int length, int flags) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    if (length < 0) return Fail(10014);
    const ssize_t n = ::send(st->fd, data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            st->writeArmed = (st->events & FD_WRITE_) != 0;
            NotifyChanged();
        }
        return FailErrno();
    }
    return static_cast<int>(n);
}

int PosixSockets::Recv(SocketHandle s, void* buffer, int length, int flags) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    if (length < 0) return Fail(10014);
    // Only a change of what is watched is news for the loop; a notice that is armed already
    // stays armed.
    if (!st->readArmed) {
        st->readArmed = true;
        NotifyChanged();
    }
    const ssize_t n = ::recv(st->fd, buffer, static_cast<std::size_t>(length), flags);
    if (n < 0) return FailErrno();
    return static_cast<int>(n);
}

int PosixSockets::Shutdown(SocketHandle s, int how) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    const int posixHow = how == SD_RECEIVE_ ? SHUT_RD : how == SD_SEND_ ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(st->fd, posixHow) != 0) return FailErrno();
    return 0;
}

int PosixSockets::SetOobInline(SocketHandle s, bool on) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    const int v = on ? 1 : 0;
    if (::setsockopt(st->fd, SOL_SOCKET, SO_OOBINLINE, &v, sizeof v) != 0) return FailErrno();
    return 0;
}

int PosixSockets::SetNoDelay(SocketHandle s, bool on) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    const int v = on ? 1 : 0;
    if (::setsockopt(st->fd, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) != 0) return FailErrno();
    return 0;
}

int PosixSockets::SetLinger(SocketHandle s, bool on, std::uint16_t seconds) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    const linger l{on ? 1 : 0, seconds};
    if (::setsockopt(st->fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0) return FailErrno();
    return 0;
}

int PosixSockets::CloseSocket(SocketHandle s) {
    auto it = sockets_.find(s);
    if (it == sockets_.end()) return Fail(10038);
    const int fd = it->second.fd;
    byFd_.erase(fd);
    sockets_.erase(it);
    NotifyChanged();
    if (::close(fd) != 0) return FailErrno();
    return 0;
}

int PosixSockets::GetSockName(SocketHandle s, SockAddrIn& local) {
    State* st = Find(s);
    if (st == nullptr) return Fail(10038);
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(st->fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return FailErrno();
    local = {sa.sin_addr.s_addr, sa.sin_port};
    return 0;
}

void PosixSockets::Collect(std::vector<pollfd>& fds) const {
    if (wakeFd_ >= 0) fds.push_back({wakeFd_, POLLIN, 0});
    for (const auto& [h, st] : sockets_) {
        if (st.window == 0 || st.events == 0) continue;
        short want = 0;
        if (st.connecting) {
            if (st.events & FD_CONNECT_) want |= POLLOUT;
        } else if (st.listening) {
            if ((st.events & FD_ACCEPT_) && st.acceptArmed) want |= POLLIN;
        } else {
            // Reads and the peer's close are both seen as readable; while a FD_READ waits to be
            // answered by a Recv nothing is watched, so unread data does not spin the loop.
            if ((st.events & (FD_READ_ | FD_CLOSE_)) && st.readArmed && !st.closePosted) want |= POLLIN;
            if ((st.events & FD_WRITE_) && st.writeArmed) want |= POLLOUT;
        }
        if (want != 0) fds.push_back({st.fd, want, 0});
    }
}

void PosixSockets::Post(SocketHandle s, const State& st, int event, int error) {
    loop_.PostMessage(st.window, st.message, static_cast<WParam>(s), MakeSelectLParam(event, error));
}

void PosixSockets::Dispatch(const pollfd& ready) {
    if (ready.fd == wakeFd_ && wakeFd_ >= 0) {
        std::uint64_t count = 0;
        (void)!::read(wakeFd_, &count, sizeof count);
        for (const HostLookups::Answer& a : lookups_->Collect())
            loop_.PostMessage(a.window, a.message, static_cast<WParam>(a.request), MakeSelectLParam(0, a.error));
        return;
    }
    auto f = byFd_.find(ready.fd);
    if (f == byFd_.end()) return;
    const SocketHandle h = f->second;
    State* st = Find(h);
    if (st == nullptr || st->window == 0) return;

    if (st->connecting) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(st->fd, SOL_SOCKET, SO_ERROR, &err, &len);
        st->connecting = false;
        st->writeArmed = (st->events & FD_WRITE_) != 0;
        NotifyChanged();
        Post(h, *st, static_cast<int>(FD_CONNECT_), err == 0 ? 0 : WinsockCodeForErrno(err));
        return;
    }
    if (st->listening) {
        if (ready.revents & (POLLIN | POLLERR | POLLHUP)) {
            st->acceptArmed = false;
            NotifyChanged();
            Post(h, *st, static_cast<int>(FD_ACCEPT_), 0);
        }
        return;
    }
    if ((ready.revents & POLLOUT) && st->writeArmed) {
        st->writeArmed = false;
        NotifyChanged();
        Post(h, *st, static_cast<int>(FD_WRITE_), 0);
    }
    // An error or hang-up is reported by poll even for a socket watched only for writing; while
    // a read waits to be answered, or once the close was posted, it is no news.
    if ((ready.revents & (POLLIN | POLLERR | POLLHUP)) && st->readArmed && !st->closePosted) {
        char probe = 0;
        const ssize_t n = ::recv(st->fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            if (st->events & FD_READ_) {
                st->readArmed = false;
                NotifyChanged();
                Post(h, *st, static_cast<int>(FD_READ_), 0);
            }
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            const int error = n == 0 ? 0 : WinsockCodeForErrno(errno);
            st->closePosted = true;
            NotifyChanged();
            if (st->events & FD_CLOSE_) Post(h, *st, static_cast<int>(FD_CLOSE_), error);
        }
    }
}

}  // namespace zumelko::platform
