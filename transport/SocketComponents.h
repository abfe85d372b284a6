#pragma once
// TCP sockets as components with events. Every socket is non-blocking; each completion comes
// back as a WM_USER_ + 1 notification to a hidden window of the component, one at a time, on the
// loop thread, and becomes an event there. Failures are events too (OnError), never exceptions,
// except a port text that is neither a service name nor a port number.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Component.h"
#include "framework/Event.h"
#include "platform/Sockets.h"
#include "platform/WinTypes.h"

namespace zumelko {

// The notification message of every socket component.
constexpr std::uint32_t WM_SOCKET_NOTIFY = platform::WM_USER_ + 1;

enum : std::uint8_t {
    ssNotStarted = 0,
    ssIdle = 1,
    ssConnected = 2,
    ssListening = 3,
    ssConnecting = 4,
};

using TOnError = Event<Component* /*Sender*/, int /*Error*/, const std::string& /*Msg*/>;
using TOnData = Event<Component* /*Sender*/, platform::SocketHandle /*Socket*/>;
using TOnAccept = Event<Component* /*Sender*/, platform::SocketHandle /*Socket*/>;
using TOnConnect = Event<Component* /*Sender*/, platform::SocketHandle /*Socket*/>;
using TOnClose = Event<Component* /*Sender*/, platform::SocketHandle /*Socket*/>;
// A connection is waiting to be taken, from Peer; clearing Accept refuses it: it is reset at
// once, before anything of it is read or kept.
using TOnAdmit = Event<Component* /*Sender*/, const platform::SockAddrIn& /*Peer*/, bool& /*Accept*/>;

// A port text that names no service and is no port number. The one failure the socket
// components throw: it is a mistake of the caller, not of the network.
class EConvertError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The English text of a Winsock error code; "Not a Winsock error" for anything else.
const char* WinsockErrorText(int code);

// A hidden window whose messages go to one component; destroyed with it.
class NotifyWindowHandle {
public:
    explicit NotifyWindowHandle(platform::WindowProc proc);
    ~NotifyWindowHandle();
    NotifyWindowHandle(const NotifyWindowHandle&) = delete;
    NotifyWindowHandle& operator=(const NotifyWindowHandle&) = delete;
    platform::Hwnd get() const { return window_; }

private:
    platform::Hwnd window_;
};

class TCustomSocket : public Component {
public:
    explicit TCustomSocket(Component* owner);
    ~TCustomSocket() override;

    const std::string& VersionText() const { return versionText_; }
    const std::string& Description() const { return description_; }
    const std::string& SystemStatus() const { return systemStatus_; }
    int MaxSockets() const { return maxSockets_; }
    int MaxDatagramSize() const { return maxDatagramSize_; }
    platform::SocketHandle SocketHandle() const { return handle_; }
    std::uint8_t SocketState() const { return state_; }
    int LastError() const { return lastError_; }

    // Stores the code in LastError and fires OnError with its text.
    void ReportError(int code);
    // The text for LastError.
    std::string ErrorText() const { return WinsockErrorText(lastError_); }

    // Remote address for a connect: host as a dotted address, else the first IPv4 address of
    // a name lookup. Reports a failed lookup and returns false. Throws EConvertError for a port
    // text that is neither a service nor a number from 0 to 65535.
    bool ResolveAddress(const std::string& host, const std::string& port, platform::SockAddrIn& address);
    // Local address for a listener: any local address and the port (as ResolveAddress).
    bool ResolvePort(const std::string& port, platform::SockAddrIn& address);

    // Cancels the notifications of the socket and closes it; hard closes reset the connection
    // (without a FIN before) and leave no TIME_WAIT behind. The handle is -1 afterwards, even when a step before the
    // close failed (that failure is reported), so no close ever leaves a socket behind.
    void ShutdownSocket(platform::SocketHandle& handle, platform::Hwnd window, bool hard);

    // send / recv: a negative result is reported and returned. A non-blocking socket that would
    // have blocked is no failure: it returns negative with LastError 10035 and fires nothing.
    int SocketSend(platform::SocketHandle handle, const void* data, int flags, int length);
    int SocketReceive(platform::SocketHandle handle, void* buffer, int flags, int size);

    TOnError OnError;

protected:
    int protocol_ = 0;
    int socketType_ = platform::SOCK_RAW_;
    platform::SocketHandle handle_ = platform::kInvalidSocket;
    std::uint8_t state_ = ssNotStarted;

    // Closes the own socket after a step that failed, keeping the report of that step.
    void ReleaseAfterFailure(platform::Hwnd window);

private:
    // The port in network order; throws EConvertError.
    std::uint16_t PortOf(const std::string& port);

    std::string versionText_;
    std::string description_;
    std::string systemStatus_;
    int maxSockets_ = 0;
    int maxDatagramSize_ = 0;
    int lastError_ = 0;
    bool started_ = false;
};

class TTCPClient final : public TCustomSocket {
public:
    explicit TTCPClient(Component* owner);
    ~TTCPClient() override;

    platform::Hwnd NotifyWindow() const { return window_.get(); }
    bool Authorized() const { return authorized_; }
    void SetAuthorized(bool authorized) { authorized_ = authorized; }
    const std::string& Host() const { return host_; }
    void SetHost(std::string host) { host_ = std::move(host); }
    const std::string& Port() const { return port_; }
    void SetPort(std::string port) { port_ = std::move(port); }

    // Starts connecting to Host:Port and returns at once; OnConnect or OnError follows.
    // A socket still held from an earlier connection is closed first.
    void Open();
    void Close();
    int Send(const void* data, int length);
    int Receive(void* buffer, int size);
    // Reads and drops whatever waits on the connection, so a peer that talks back cannot hide
    // its close behind unread bytes. A failed read is left to the close notification.
    void Discard();
    // The error the last close notification carried: 0 when the peer closed in order, else
    // why the connection ended (a reset gives 10054). Meant for OnClose.
    int CloseError() const { return closeError_; }
    // The address the last Open connected to (network order); 0 when its host was not found.
    std::uint32_t RemoteAddress() const { return remoteAddress_; }

    TOnData OnData;
    TOnConnect OnConnect;
    TOnClose OnClose;
    // The connection takes bytes again after a send that would have blocked (and once after
    // the connection is made).
    TOnData OnWrite;

private:
    platform::LResult WndProc(std::uint32_t message, platform::WParam w, platform::LParam l);
    void DoConnect(platform::SocketHandle handle, int error);
    void DoRead(platform::SocketHandle handle, int error);
    void DoWrite(platform::SocketHandle handle, int error);
    void DoClose(platform::SocketHandle handle, int error);
    // Binds the local end to a port from 1024 down to 513 when one is free; false when a bind
    // failed in a way that was reported.
    bool BindAuthorizedPort();

    bool authorized_ = false;
    int closeError_ = 0;
    std::uint32_t remoteAddress_ = 0;
    std::string host_;
    std::string port_;
    NotifyWindowHandle window_;
};

// Handles of accepted sockets, in the order they were accepted.
class TClientList {
public:
    TClientList() = default;
    std::size_t Count() const { return items_.size(); }
    platform::SocketHandle operator[](std::size_t index) const { return items_[index]; }
    // False only when no room can be had for the handle.
    bool Add(platform::SocketHandle handle);
    // Removes the first entry of the handle; nothing when there is none.
    void Remove(platform::SocketHandle handle);
    void Clear() { items_.clear(); }
    bool Contains(platform::SocketHandle handle) const;

private:
    std::vector<platform::SocketHandle> items_;
};

class TTCPServer final : public TCustomSocket {
public:
    explicit TTCPServer(Component* owner);
    ~TTCPServer() override;

    platform::Hwnd NotifyWindow() const { return window_.get(); }
    const std::string& Port() const { return port_; }
    void SetPort(std::string port) { port_ = std::move(port); }
    const TClientList& Clients() const { return clients_; }
    // Where the connection last accepted comes from; meant for OnAccept.
    const platform::SockAddrIn& LastPeer() const { return lastPeer_; }

    void Listen();
    // Closes every accepted connection (in acceptance order), then the listening socket.
    void Close();
    // Closes the listening socket only: connections already accepted go on.
    void StopListening();
    // Closes one accepted socket; a handle that is not in the list is closed all the same.
    void CloseClient(platform::SocketHandle handle);
    int Receive(platform::SocketHandle handle, void* buffer, int size);
    // Writes on an accepted connection, as TTCPClient::Send does.
    int Send(platform::SocketHandle handle, const void* data, int length);

    TOnData OnData;
    // An accepted connection takes bytes again after a send that would have blocked. Watched
    // only on connections accepted while a handler is attached, so a server that never writes
    // gets no write notices.
    TOnData OnWrite;
    TOnAdmit OnAdmit;
    TOnAccept OnAccept;
    TOnClose OnClose;

private:
    platform::LResult WndProc(std::uint32_t message, platform::WParam w, platform::LParam l);
    void DoAccept(platform::SocketHandle handle, int error);
    void DoRead(platform::SocketHandle handle, int error);
    void DoWrite(platform::SocketHandle handle, int error);
    void DoClose(platform::SocketHandle handle, int error);

    std::string port_;
    TClientList clients_;
    NotifyWindowHandle window_;
    platform::SockAddrIn lastPeer_;
};

}  // namespace zumelko
