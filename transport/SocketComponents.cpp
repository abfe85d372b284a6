#include "transport/SocketComponents.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Desktop.h"

namespace zumelko {

namespace {

using platform::kInvalidSocket;
using platform::SockAddrIn;
using SocketHandleT = platform::SocketHandle;

platform::Sockets& Api() { return platform::Current().sockets(); }

// Port numbers travel in network order whatever this machine's order is.
std::uint16_t ToNetworkOrder(std::uint16_t port) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port & 0xFFu)};
    std::uint16_t out = 0;
    std::memcpy(&out, bytes, sizeof out);
    return out;
}

// A decimal port number: an optional sign and digits, nothing else. A number outside 0 … 65535
// is refused as well: truncating it would quietly reach some other port.
bool ParsePortNumber(std::string_view text, std::uint16_t& port) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
        if (value > 65535) return false;
    }
    if (negative && value != 0) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

const char* WinsockErrorText(int code) {
    switch (code) {
        case 10004: return "Interrupted system call";
        case 10009: return "Bad file number";
        case 10013: return "Permission denied";
        case 10014: return "Bad address";
        case 10022: return "Invalid argument";
        case 10024: return "Too many open files";
        case 10035: return "Operation would block";
        case 10036: return "Operation now in progress";
        case 10037: return "Operation already in progress";
        case 10038: return "Socket operation on nonsocket";
        case 10039: return "Destination address required";
        case 10040: return "Message too long";
        case 10041: return "Protocol wrong type for socket";
        case 10042: return "Protocol not available";
        case 10043: return "Protocol not supported";
        case 10044: return "Socket not supported";
        case 10045: return "Operation not supported on socket";
        case 10046: return "Protocol family not supported";
        case 10047: return "Address family not supported";
        case 10048: return "Address already in use";
        case 10049: return "Can't assign requested address";
        case 10050: return "Network is down";
        case 10051: return "Network is unreachable";
        case 10052: return "Network dropped connection on reset";
        case 10053: return "Software caused connection abort";
        case 10054: return "Connection reset by peer";
        case 10055: return "No buffer space available";
        case 10056: return "Socket is already connected";
        case 10057: return "Socket is not connected";
        case 10058: return "Can't send after socket shutdown";
        case 10059: return "Too many references:can't splice";
        case 10060: return "Connection timed out";
        case 10061: return "Connection refused";
        case 10062: return "Too many levels of symbolic links";
        case 10063: return "File name is too long";
        case 10064: return "Host is down";
        case 10065: return "No route to host";
        case 10066: return "Directory is not empty";
        case 10067: return "Too many processes";
        case 10068: return "Too many users";
        case 10069: return "Disk quota exceeded";
        case 10070: return "Stale NFS file handle";
        case 10071: return "Too many levels of remote in path";
        case 10091: return "Network subsystem is unusable";
        case 10092: return "Winsock DLL cannot support this application";
        case 10093: return "Winsock not initialized";
        case 11001: return "Host not found";
        case 11002: return "Non authoritative - host not found";
        case 11003: return "Non recoverable error";
        case 11004: return "Valid name, no data record of requested type";
        default: return "Not a Winsock error";
    }
}

NotifyWindowHandle::NotifyWindowHandle(platform::WindowProc proc)
    : window_(platform::Current().loop().CreateHiddenWindow(std::move(proc))) {}

NotifyWindowHandle::~NotifyWindowHandle() { platform::Current().loop().DestroyWindow(window_); }

// ---------------------------------------------------------------------------------------------
// TCustomSocket

TCustomSocket::TCustomSocket(Component* owner) : Component(owner) {
    platform::WsaData data;
    lastError_ = Api().WSAStartup(0x0101, data);
    if (lastError_ != 0) {
        ReportError(lastError_);
        return;
    }
    started_ = true;
    state_ = ssIdle;
    versionText_ = std::to_string(data.version & 0xFFu) + "." + std::to_string((data.version >> 8) & 0xFFu);
    description_ = data.description;
    systemStatus_ = data.systemStatus;
    maxSockets_ = data.maxSockets;
    maxDatagramSize_ = data.maxDatagramSize;
}

TCustomSocket::~TCustomSocket() {
    if (started_ && Api().WSACleanup() != 0) ReportError(Api().WSAGetLastError());
}

void TCustomSocket::ReportError(int code) {
    lastError_ = code;
    OnError(this, code, ErrorText());
}

std::uint16_t TCustomSocket::PortOf(const std::string& port) {
    // A number first: no service is named with digits alone, and the services database is a
    // file the system reads through on every lookup, once for every packet sent.
    std::uint16_t number = 0;
    if (ParsePortNumber(port, number)) return ToNetworkOrder(number);
    std::uint16_t network = 0;
    if (Api().GetServByName(port, protocol_ == 17 ? "udp" : "tcp", network)) return network;
    throw EConvertError("'" + port + "' is not a valid port");
}

bool TCustomSocket::ResolveAddress(const std::string& host, const std::string& port, SockAddrIn& address) {
    auto& s = Api();
    if (!s.GetProtoByNumber(protocol_)) {
        ReportError(s.WSAGetLastError());
        return false;
    }
    address.port = PortOf(port);
    address.addr = s.InetAddr(host);
    if (address.addr == platform::INADDR_NONE_ && !s.GetHostByName(host, address.addr)) {
        ReportError(s.WSAGetLastError());
        return false;
    }
    return true;
}

bool TCustomSocket::ResolvePort(const std::string& port, SockAddrIn& address) {
    auto& s = Api();
    // A listener that cannot start says so, like the connecting side does.
    if (!s.GetProtoByNumber(protocol_)) {
        ReportError(s.WSAGetLastError());
        return false;
    }
    address.port = PortOf(port);
    address.addr = platform::INADDR_ANY_;
    return true;
}

void TCustomSocket::ShutdownSocket(SocketHandleT& handle, platform::Hwnd window, bool hard) {
    if (handle == kInvalidSocket) return;
    auto& s = Api();
    int failure = 0;
    auto note = [&failure, &s](int rc, int tolerated) {
        if (rc == 0 || failure != 0) return;
        const int code = s.WSAGetLastError();
        if (code != tolerated) failure = code;
    };
    note(s.WSAAsyncSelect(handle, window, WM_SOCKET_NOTIFY, 0), 0);
    if (s.WSAIsBlocking()) note(s.WSACancelBlockingCall(), 0);
    // A hard close is a reset alone. Shutting down first would send a FIN, and a peer quick to
    // answer it would leave this end in TIME_WAIT before the reset: a listening port would then
    // stay taken for a minute, and a restarted program could not listen on it.
    if (!hard) note(s.Shutdown(handle, platform::SD_BOTH_), platform::WSAENOTCONN_);
    note(s.SetLinger(handle, hard, 0), platform::WSAENOPROTOOPT_);
    // Close even after a failed step: a socket given up on must not stay open for ever.
    note(s.CloseSocket(handle), 0);
    handle = kInvalidSocket;
    if (failure != 0) ReportError(failure);
}

void TCustomSocket::ReleaseAfterFailure(platform::Hwnd window) {
    const int code = Api().WSAGetLastError();
    ShutdownSocket(handle_, window, true);
    state_ = ssIdle;
    ReportError(code);
}

int TCustomSocket::SocketSend(SocketHandleT handle, const void* data, int flags, int length) {
    auto& s = Api();
    const int n = s.Send(handle, data, length, flags);
    if (n < 0) {
        const int code = s.WSAGetLastError();
        if (code == platform::WSAEWOULDBLOCK_) {
            lastError_ = code;
        } else {
            ReportError(code);
        }
    }
    return n;
}

int TCustomSocket::SocketReceive(SocketHandleT handle, void* buffer, int flags, int size) {
    auto& s = Api();
    const int n = s.Recv(handle, buffer, size, flags);
    if (n < 0) {
        const int code = s.WSAGetLastError();
        if (code == platform::WSAEWOULDBLOCK_) {
            lastError_ = code;
        } else {
            ReportError(code);
        }
    }
    return n;
}

// ---------------------------------------------------------------------------------------------
// TTCPClient

TTCPClient::TTCPClient(Component* owner)
    : TCustomSocket(owner),
      window_([this](std::uint32_t m, platform::WParam w, platform::LParam l) { return WndProc(m, w, l); }) {
    protocol_ = 6;
    socketType_ = platform::SOCK_STREAM_;
}

TTCPClient::~TTCPClient() {
    if (state_ != ssIdle || handle_ != kInvalidSocket) Close();
}

void TTCPClient::Open() {
    auto& s = Api();
    // One connection per component: an earlier one still held is given up, not leaked.
    if (handle_ != kInvalidSocket) Close();
    SockAddrIn remote;
    remoteAddress_ = 0;
    if (!ResolveAddress(host_, port_, remote)) return;
    remoteAddress_ = remote.addr;
    handle_ = s.Socket(platform::AF_INET_, socketType_, 0);
    if (handle_ == kInvalidSocket) {
        ReportError(s.WSAGetLastError());
        return;
    }
    if (s.SetOobInline(handle_, true) != 0 ||
        s.WSAAsyncSelect(handle_, window_.get(), WM_SOCKET_NOTIFY, platform::FD_CONNECT_) != 0) {
        ReleaseAfterFailure(window_.get());
        return;
    }
    if (authorized_ && !BindAuthorizedPort()) return;
    if (s.Connect(handle_, remote) != 0 && s.WSAGetLastError() != platform::WSAEWOULDBLOCK_) {
        ReleaseAfterFailure(window_.get());
        return;
    }
    state_ = ssConnecting;
}

bool TTCPClient::BindAuthorizedPort() {
    auto& s = Api();
    for (int port = 1024; port >= 513; --port) {
        const SockAddrIn local{platform::INADDR_ANY_, ToNetworkOrder(static_cast<std::uint16_t>(port))};
        if (s.Bind(handle_, local) == 0) return true;
        const int code = s.WSAGetLastError();
        if (code == platform::WSAEADDRINUSE_) continue;
        // Below 1024 a user without privileges is refused on every port: rather than failing
        // every connection while 1024 is taken, connect from a port the system picks.
        if (code == platform::WSAEACCES_) return true;
        ReleaseAfterFailure(window_.get());
        return false;
    }
    return true;
}

void TTCPClient::Close() {
    ShutdownSocket(handle_, window_.get(), true);
    if (handle_ == kInvalidSocket) state_ = ssIdle;
}

int TTCPClient::Send(const void* data, int length) { return SocketSend(handle_, data, 0, length); }

int TTCPClient::Receive(void* buffer, int size) { return SocketReceive(handle_, buffer, 0, size); }

void TTCPClient::Discard() {
    char scratch[4096];
    // One read re-arms the read notification; what is left comes with the next one.
    (void)Api().Recv(handle_, scratch, static_cast<int>(sizeof scratch), 0);
}

platform::LResult TTCPClient::WndProc(std::uint32_t message, platform::WParam w, platform::LParam l) {
    if (message != WM_SOCKET_NOTIFY) return 0;
    const auto handle = static_cast<SocketHandleT>(w);
    // A notification queued before the socket was closed belongs to a connection given up on.
    if (handle == kInvalidSocket || handle != handle_) return 0;
    const int error = platform::SelectError(l);
    switch (platform::SelectEvent(l)) {
        case platform::FD_READ_: DoRead(handle, error); break;
        case platform::FD_WRITE_: DoWrite(handle, error); break;
        case platform::FD_CONNECT_: DoConnect(handle, error); break;
        case platform::FD_CLOSE_: DoClose(handle, error); break;
        default:
            if (error != 0) ReportError(error);
            break;
    }
    return 0;
}

void TTCPClient::DoConnect(SocketHandleT handle, int error) {
    if (error != 0) {
        // Close the failed socket before telling anyone, so a handler that opens again at once
        // is not hit by this close.
        ShutdownSocket(handle_, window_.get(), true);
        state_ = ssIdle;
        ReportError(error);
        return;
    }
    if (Api().WSAAsyncSelect(handle_, window_.get(), WM_SOCKET_NOTIFY,
                             platform::FD_READ_ | platform::FD_WRITE_ | platform::FD_CLOSE_) != 0) {
        ReleaseAfterFailure(window_.get());
        return;
    }
    OnConnect(this, handle);
    if (handle_ == handle) state_ = ssConnected;
}

void TTCPClient::DoRead(SocketHandleT handle, int error) {
    if (error != 0) {
        ReportError(error);
        return;
    }
    OnData(this, handle);
}

void TTCPClient::DoWrite(SocketHandleT handle, int error) {
    if (error != 0) {
        ReportError(error);
        return;
    }
    OnWrite(this, handle);
}

void TTCPClient::DoClose(SocketHandleT handle, int error) {
    if (error == platform::WSAENETDOWN_) {
        ReportError(error);
        return;
    }
    closeError_ = error;
    OnClose(this, handle);
    // The handler may have closed this connection and opened the next one already.
    if (handle_ == handle) Close();
}

// ---------------------------------------------------------------------------------------------
// TClientList

bool TClientList::Add(SocketHandleT handle) {
    try {
        items_.push_back(handle);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void TClientList::Remove(SocketHandleT handle) {
    auto it = std::find(items_.begin(), items_.end(), handle);
    if (it != items_.end()) items_.erase(it);
}

bool TClientList::Contains(SocketHandleT handle) const {
    return std::find(items_.begin(), items_.end(), handle) != items_.end();
}

// ---------------------------------------------------------------------------------------------
// TTCPServer

TTCPServer::TTCPServer(Component* owner)
    : TCustomSocket(owner),
      window_([this](std::uint32_t m, platform::WParam w, platform::LParam l) { return WndProc(m, w, l); }) {
    protocol_ = 6;
    socketType_ = platform::SOCK_STREAM_;
}

TTCPServer::~TTCPServer() {
    if (state_ != ssIdle || handle_ != kInvalidSocket || clients_.Count() != 0) Close();
}

void TTCPServer::Listen() {
    auto& s = Api();
    if (handle_ != kInvalidSocket) {
        ShutdownSocket(handle_, window_.get(), true);
        state_ = ssIdle;
    }
    SockAddrIn local;
    if (!ResolvePort(port_, local)) return;
    handle_ = s.Socket(platform::AF_INET_, socketType_, 0);
    if (handle_ == kInvalidSocket) {
        ReportError(s.WSAGetLastError());
        return;
    }
    // No address-reuse option: a second listener on the same port must fail, not share it.
    if (s.WSAAsyncSelect(handle_, window_.get(), WM_SOCKET_NOTIFY, platform::FD_ACCEPT_) != 0 ||
        s.Bind(handle_, local) != 0 || s.Listen(handle_, 5) != 0) {
        ReleaseAfterFailure(window_.get());
        return;
    }
    state_ = ssListening;
}

void TTCPServer::Close() {
    const std::vector<SocketHandleT> accepted = [this] {
        std::vector<SocketHandleT> v;
        for (std::size_t i = 0; i < clients_.Count(); ++i) v.push_back(clients_[i]);
        return v;
    }();
    for (SocketHandleT h : accepted) ShutdownSocket(h, window_.get(), true);
    clients_.Clear();
    ShutdownSocket(handle_, window_.get(), true);
    if (handle_ == kInvalidSocket) state_ = ssIdle;
}

void TTCPServer::StopListening() {
    ShutdownSocket(handle_, window_.get(), true);
    if (handle_ == kInvalidSocket) state_ = ssIdle;
}

void TTCPServer::CloseClient(SocketHandleT handle) {
    clients_.Remove(handle);
    ShutdownSocket(handle, window_.get(), true);
}

int TTCPServer::Receive(SocketHandleT handle, void* buffer, int size) {
    return SocketReceive(handle, buffer, 0, size);
}

int TTCPServer::Send(SocketHandleT handle, const void* data, int length) {
    return SocketSend(handle, data, 0, length);
}

platform::LResult TTCPServer::WndProc(std::uint32_t message, platform::WParam w, platform::LParam l) {
    if (message != WM_SOCKET_NOTIFY) return 0;
    const auto handle = static_cast<SocketHandleT>(w);
    const int event = platform::SelectEvent(l);
    const int error = platform::SelectError(l);
    // Notifications queued for sockets closed meanwhile are old news.
    const bool listening = handle != kInvalidSocket && handle == handle_;
    const bool accepted = clients_.Contains(handle);
    const bool current = event == platform::FD_ACCEPT_                                ? listening
                         : event == platform::FD_READ_ || event == platform::FD_CLOSE_ ||
                                   event == platform::FD_WRITE_
                             ? accepted
                                                                                      : listening || accepted;
    if (!current) return 0;
    switch (event) {
        case platform::FD_READ_: DoRead(handle, error); break;
        case platform::FD_ACCEPT_: DoAccept(handle, error); break;
        case platform::FD_WRITE_: DoWrite(handle, error); break;
        case platform::FD_CLOSE_: DoClose(handle, error); break;
        default:
            if (error != 0) ReportError(error);
            break;
    }
    return 0;
}

void TTCPServer::DoAccept(SocketHandleT, int error) {
    if (error != 0) {
        ReportError(error);
        return;
    }
    auto& s = Api();
    SockAddrIn peer;
    SocketHandleT accepted = s.Accept(handle_, &peer);
    if (accepted == kInvalidSocket) {
        const int code = s.WSAGetLastError();
        // The connection went away before it was taken: nothing waits, nothing failed.
        if (code != platform::WSAEWOULDBLOCK_) ReportError(code);
        return;
    }
    bool admit = true;
    OnAdmit(this, peer, admit);
    if (!admit) {
        // A reset, so that the peer's program learns its packet was not taken; nothing of the
        // connection is read, listed or kept.
        ShutdownSocket(accepted, window_.get(), true);
        return;
    }
    const long events = platform::FD_READ_ | platform::FD_CLOSE_ | (OnWrite ? platform::FD_WRITE_ : 0);
    if (s.SetOobInline(accepted, true) != 0 ||
        s.WSAAsyncSelect(accepted, window_.get(), WM_SOCKET_NOTIFY, events) != 0) {
        // Nobody else knows the socket: close it rather than leave it open for ever.
        const int code = s.WSAGetLastError();
        ShutdownSocket(accepted, window_.get(), true);
        ReportError(code);
        return;
    }
    if (!clients_.Add(accepted)) {
        ShutdownSocket(accepted, window_.get(), false);
        return;
    }
    lastPeer_ = peer;
    OnAccept(this, accepted);
}

void TTCPServer::DoRead(SocketHandleT handle, int error) {
    if (error != 0) {
        ReportError(error);
        return;
    }
    OnData(this, handle);
}

void TTCPServer::DoWrite(SocketHandleT handle, int error) {
    if (error != 0) {
        ReportError(error);
        return;
    }
    OnWrite(this, handle);
}

void TTCPServer::DoClose(SocketHandleT handle, int error) {
    if (error == platform::WSAENETDOWN_) {
        ReportError(error);
        return;
    }
    OnClose(this, handle);
    if (clients_.Contains(handle)) CloseClient(handle);
}

}  // namespace zumelko
