#pragma once
// Winsock-shaped sockets over POSIX non-blocking sockets, shared by the Linux desktops.
// Readiness becomes WSAAsyncSelect-style messages posted to the registered window:
//  - FD_CONNECT once the connect completes, with its error code;
//  - FD_ACCEPT when a connection waits, posted again only after the next Accept;
//  - FD_READ when bytes wait, posted again only after the next Recv (so unread data never
//    spins the loop);
//  - FD_CLOSE once, when the peer has closed and everything before the close was read (a reset
//    gives 10054);
//  - FD_WRITE after a Send that would have blocked, once the socket takes bytes again.
// Handles are never reused within a process, so a notification still queued for a socket
// that was closed meanwhile can never be taken for a newer socket.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/HostLookups.h"
#include "platform/Loop.h"
#include "platform/Sockets.h"
#include "platform/posix/IoSource.h"

namespace zumelko::platform {

// The Winsock code for an errno value of a socket call.
int WinsockCodeForErrno(int err);

class PosixSockets final : public Sockets, public IoSource {
public:
    explicit PosixSockets(Loop& loop) : loop_(loop) {}
    ~PosixSockets() override;
    PosixSockets(const PosixSockets&) = delete;
    PosixSockets& operator=(const PosixSockets&) = delete;

    int WSAStartup(std::uint16_t version, WsaData& data) override;
    int WSACleanup() override { return 0; }
    int WSAGetLastError() const override { return lastError_; }
    bool WSAIsBlocking() const override { return false; }
    int WSACancelBlockingCall() override { return 0; }

    bool GetProtoByNumber(int protocol) override;
    bool GetServByName(const std::string& name, const std::string& protocol, std::uint16_t& port) override;
    std::uint32_t InetAddr(const std::string& text) override;
    bool GetHostByName(const std::string& name, std::uint32_t& addr) override;
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

    void Collect(std::vector<pollfd>& fds) const override;
    void Dispatch(const pollfd& ready) override;

    // A host of its own on a shared machine: "any address" means this address, and outgoing
    // connections leave from it (network order; 0 = the machine's own addresses).
    void SetLocalAddress(std::uint32_t addr) { localAddress_ = addr; }
    // Names this desktop resolves before asking the system (network order), as a name server
    // that takes delay to answer; INADDR_NONE_ is a name the name server does not know.
    void AddHost(const std::string& name, std::uint32_t addr,
                 std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
        hosts_[name] = {addr, delay};
    }
    std::size_t OpenSocketCount() const { return sockets_.size(); }

private:
    struct State {
        int fd = -1;
        Hwnd window = 0;
        std::uint32_t message = 0;
        long events = 0;
        bool bound = false;
        bool nonBlocking = false;
        bool listening = false;
        bool connecting = false;
        bool readArmed = true;
        bool acceptArmed = true;
        bool writeArmed = false;
        bool closePosted = false;
    };
    State* Find(SocketHandle s);
    int Fail(int code);
    int FailErrno();
    void Post(SocketHandle s, const State& st, int event, int error);

    Loop& loop_;
    std::map<SocketHandle, State> sockets_;
    std::map<int, SocketHandle> byFd_;
    SocketHandle next_ = 100;
    int lastError_ = 0;
    std::uint32_t localAddress_ = 0;
    struct Host {
        std::uint32_t addr;
        std::chrono::milliseconds delay;
    };
    std::map<std::string, Host> hosts_;
    // Lookups off the loop: their threads wake the loop through an eventfd.
    std::unique_ptr<HostLookups> lookups_;
    int wakeFd_ = -1;
};

}  // namespace zumelko::platform
