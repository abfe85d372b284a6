#include "tests/transport/TestPeers.h"

#include <arpa/inet.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace zumelko::testing {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

bool BringLoopbackUp() {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
        ok = ::ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    }
    ::close(s);
    return ok;
}

// Drops CAP_NET_BIND_SERVICE from every set of this process: as for a user without
// privileges, every bind below 1024 is refused from then on.
std::string DropLowPortRights() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) return std::string("capget: ") + std::strerror(errno);
    const unsigned bit = 1u << CAP_NET_BIND_SERVICE;
    data[0].effective &= ~bit;
    data[0].permitted &= ~bit;
    data[0].inheritable &= ~bit;
    if (::syscall(SYS_capset, &header, data) != 0) return std::string("capset: ") + std::strerror(errno);
    // Make sure the refusal is real before anything relies on it.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(1000);
    const int rc = ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    const int err = errno;
    ::close(s);
    if (rc == 0 || err != EACCES) return "binding port 1000 was not refused after dropping the right";
    return {};
}

}  // namespace

RawSocket& RawSocket::operator=(RawSocket&& o) noexcept {
    if (this != &o) {
        Close();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

void RawSocket::Close() {
    if (fd_ < 0) return;
    const linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd_);
    fd_ = -1;
}

void RawSocket::CloseGracefully() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

void RawSocket::SendAll(std::string_view bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("send");
        }
        done += static_cast<std::size_t>(n);
    }
}

bool RawSocket::ReadAvailable(std::string& into) const {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            into.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) return false;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
}

bool RawSocket::PeerClosed() const {
    char c = 0;
    const ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return true;
    return n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

std::uint16_t RawSocket::PeerPort() const {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

RawListener::RawListener(std::uint16_t port) {
    socket_ = RawSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket_.valid()) Fail("socket");
    const int on = 1;
    ::setsockopt(socket_.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa = Loopback(port);
    if (::bind(socket_.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) Fail("bind");
    if (::listen(socket_.fd(), 64) != 0) Fail("listen");
    socklen_t len = sizeof sa;
    ::getsockname(socket_.fd(), reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
}

RawSocket RawListener::TryAccept() const {
    return RawSocket(::accept4(socket_.fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

RawSocket RawConnect(std::uint16_t port) {
    RawSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.valid()) Fail("socket");
    const int on = 1;
    ::setsockopt(s.fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const sockaddr_in sa = Loopback(port);
    if (::connect(s.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) Fail("connect");
    return s;
}

RawSocket HoldPort(std::uint16_t port) {
    RawSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.valid()) Fail("socket");
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) Fail("bind to hold a port");
    return s;
}

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

std::string LengthField(std::int32_t length) {
    const auto v = static_cast<std::uint32_t>(length);
    return Bytes({static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF),
                  static_cast<int>((v >> 24) & 0xFF)});
}

IsolatedResult RunIsolated(const std::function<std::string()>& body, bool withoutLowPortRights) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {std::string("pipe: ") + std::strerror(errno), false};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return {std::string("fork: ") + std::strerror(errno), false};
    if (pid == 0) {
        ::close(pipeFds[0]);
        std::string result;
        const bool own = ::unshare(CLONE_NEWNET) == 0 && BringLoopbackUp();
        if (withoutLowPortRights) result = DropLowPortRights();
        if (result.empty()) {
            try {
                result = body();
            } catch (const std::exception& e) {
                result = std::string("exception: ") + e.what();
            }
        }
        const std::string message = std::string(own ? "1" : "0") + result;
        ssize_t ignored = ::write(pipeFds[1], message.data(), message.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string message;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
        if (n > 0) {
            message.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || message.empty())
        return {"the child process died (status " + std::to_string(status) + ")", false};
    return {message.substr(1), message[0] == '1'};
}

}  // namespace zumelko::testing
