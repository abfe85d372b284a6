#include "tests/support/RawPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zumelko::testing {

namespace {

sockaddr_in Address(const std::string& addr, int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, addr.c_str(), &sa.sin_addr);
    return sa;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// How the connection ended, and whether every byte was written before.
Ending RawSendEnding(const std::string& addr, int port, const std::string& bytes, int timeoutMs,
                     const std::string& source, bool* written = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Ending::None;
    if (!source.empty()) {
        const sockaddr_in from = Address(source, 0);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
            ::close(fd);
            return Ending::None;
        }
    }
    const sockaddr_in sa = Address(addr, port);
    Ending ending = Ending::None;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        ending = errno == ECONNRESET ? Ending::Reset : Ending::None;
    } else if (!WriteAll(fd, bytes)) {
        ending = errno == ECONNRESET || errno == EPIPE ? Ending::Reset : Ending::None;
    } else {
        if (written != nullptr) *written = true;
        char c;
        while (WaitReadable(fd, timeoutMs)) {
            const ssize_t n = ::recv(fd, &c, 1, 0);
            if (n == 0) ending = Ending::Closed;
            if (n < 0) ending = Ending::Reset;
            if (n <= 0) break;
        }
    }
    ::close(fd);
    return ending;
}

}  // namespace

std::string LengthPrefixed(const std::string& payload) {
    const auto n = static_cast<std::uint32_t>(payload.size());
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
    return out + payload;
}

bool RawSendBytes(const std::string& addr, int port, const std::string& bytes, int timeoutMs,
                  const std::string& source) {
    bool written = false;
    return RawSendEnding(addr, port, bytes, timeoutMs, source, &written) != Ending::None && written;
}

Ending RawSendPacketEnding(const std::string& addr, int port, const std::string& payload, int timeoutMs,
                           const std::string& source) {
    return RawSendEnding(addr, port, LengthPrefixed(payload), timeoutMs, source);
}

bool RawSendPacket(const std::string& addr, int port, const std::string& payload, int timeoutMs,
                   const std::string& source) {
    return RawSendBytes(addr, port, LengthPrefixed(payload), timeoutMs, source);
}

RawListener::RawListener(const std::string& addr, int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in sa = Address(addr, port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, 5) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

RawListener::~RawListener() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<std::string> RawListener::ReceivePacket(int timeoutMs) {
    if (fd_ < 0 || !WaitReadable(fd_, timeoutMs)) return std::nullopt;
    const int c = ::accept(fd_, nullptr, nullptr);
    if (c < 0) return std::nullopt;
    std::string got;
    char buf[65536];
    std::size_t want = 4;
    while (got.size() < want) {
        if (!WaitReadable(c, timeoutMs)) break;
        const ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
        if (got.size() >= 4 && want == 4) {
            std::uint32_t len = 0;
            for (int i = 0; i < 4; ++i) len |= static_cast<std::uint32_t>(static_cast<unsigned char>(got[static_cast<std::size_t>(i)])) << (8 * i);
            want = 4 + len;
        }
    }
    ::close(c);
    if (got.size() < want) return std::nullopt;
    return got;
}

}  // namespace zumelko::testing
