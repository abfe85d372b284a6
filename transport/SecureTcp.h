#pragma once
// The encrypted channel: one item per TLS 1.3 connection, its header packet and then its data
// packet, each a 4-byte little-endian signed length and the payload, as on the two plain ports.
// The connecting side writes both; the listening side reads the header (OnHeader, where its
// owner may refuse the item), announces the data (OnAnnounced), delivers it (OnReceived) and then
// closes in order (close_notify, then FIN): the sender's sight of that is the delivery report
// (OnSended). A refused item is reset, with no close_notify. Bounds, fairness and the address
// check are those of the plain channel (TSimpleTcp).
//
// A handshake costs this end work a stranger may ask for at will, so it is bounded: every
// connection, sending or receiving, must finish its handshake within HandshakeTimeoutMs of its
// connect or accept, and one closing in order must be done within as long again; each address
// gets only a few handshakes at once and a few new ones a second, and every failed handshake
// makes it wait longer before its next is taken. Refused connections are reset at accept,
// before any TLS work.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "framework/Component.h"
#include "framework/Event.h"
#include "framework/Graphic.h"
#include "framework/SharedText.h"
#include "framework/Stream.h"
#include "framework/StringList.h"
#include "transport/PacketReassembler.h"
#include "transport/ReceiveBudget.h"
#include "transport/SimpleTcp.h"
#include "transport/SocketComponents.h"
#include "transport/tls/TlsContext.h"
#include "transport/tls/TlsSession.h"

namespace zumelko {

// Why a secure send failed. Only Unreachable may be followed by a plain send: the others mean
// that something answered on the secure port, and a plain send then would be a downgrade.
enum class TSecureFailure {
    Unreachable,  // nothing took the connection: refused, timed out, no route, no such host
    Handshake,    // it was taken but the handshake failed (another passphrase, an old TLS peer)
    Refused,      // the receiver reset the connection: the item was not taken
    Lost,         // the connection ended otherwise before the delivery report
};

using TOnSecureFailed = Event<Component* /*Sender*/, TSecureFailure /*Kind*/, const std::string& /*Message*/>;
// A header packet has arrived (read it with GetStrings, PeerAddress, CheckCode…); clearing
// Accept refuses the item and its connection is reset.
using TOnHeader = Event<Component* /*Sender*/, bool& /*Accept*/>;

class TSecureTcp;

// The connection of a received item, kept open after OnReceived has returned, as
// THeldConnection keeps a plain one: the sender hears that the item was taken when this closes.
class TSecureHeld {
public:
    TSecureHeld() = default;
    TSecureHeld(TSecureHeld&& other) noexcept { *this = std::move(other); }
    TSecureHeld& operator=(TSecureHeld&& other) noexcept;
    TSecureHeld(const TSecureHeld&) = delete;
    TSecureHeld& operator=(const TSecureHeld&) = delete;
    ~TSecureHeld() { Close(); }

    explicit operator bool() const { return !channel_.expired(); }
    void Close();
    // Resets it instead: its sender hears that the item was refused.
    void Refuse();

private:
    friend class TSecureTcp;
    TSecureHeld(std::weak_ptr<TSecureTcp*> channel, platform::SocketHandle socket, std::uint64_t serial)
        : channel_(std::move(channel)), socket_(socket), serial_(serial) {}

    std::weak_ptr<TSecureTcp*> channel_;
    platform::SocketHandle socket_ = platform::kInvalidSocket;
    std::uint64_t serial_ = 0;
};

class TSecureTcp final : public Component {
public:
    // The context must outlive the channel; sessions take its passphrase key as they start.
    TSecureTcp(Component* owner, tls::TlsContext& context);
    ~TSecureTcp() override;

    static constexpr int kDefaultPort = 8002;
    int Port() const { return port_; }
    void SetPort(int port) { port_ = port; }
    // How long a connect may take before the secure port counts as unreachable.
    unsigned ConnectTimeoutMs() const { return connectTimeoutMs_; }
    void SetConnectTimeoutMs(unsigned ms) { connectTimeoutMs_ = ms; }
    // How long a connection may take from its connect or accept to the end of its handshake, and
    // a connection closing in order from its close_notify to its end. A send whose handshake
    // runs out fails as Handshake.
    static constexpr unsigned kDefaultHandshakeTimeoutMs = 10000;
    unsigned HandshakeTimeoutMs() const { return handshakeTimeoutMs_; }
    void SetHandshakeTimeoutMs(unsigned ms) { handshakeTimeoutMs_ = ms; }

    // What one address may ask of the listener. Past any of these its connection is reset at
    // accept.
    struct HandshakeLimits {
        std::size_t atOnce = 4;             // handshakes under way at once
        double perSecond = 4;               // new handshakes, on average
        double burst = 8;                   // new handshakes in a row after a quiet spell
        unsigned failureWaitMs = 250;       // the wait after a second failed handshake in a row,
        unsigned longestWaitMs = 8000;      // doubled by each further one up to this
    };
    const HandshakeLimits& Limits() const { return limits_; }
    void SetLimits(const HandshakeLimits& limits) { limits_ = limits; }
    // Addresses remembered for the limits; past this the one seen longest ago is forgotten.
    static constexpr std::size_t kMaxTrackedAddresses = 256;
    std::size_t TrackedAddresses() const { return addresses_.size(); }

    // Sends one item to host:Port: the header packet (the lines, each followed by CR LF) and
    // the data packet. A send while another is unreported gives that one up first.
    void SendItem(const std::string& host, const StringList& header, MemoryStream data);
    void SendItem(const std::string& host, std::string_view header, MemoryStream data);
    // The same, with the data made only once the handshake is done (as the plain channels'
    // sender reads the clipboard only once its header is taken). What the source throws gives
    // the item up and goes on to the loop's handler, like any handler's failure.
    using DataSource = std::function<MemoryStream()>;
    void SendItem(const std::string& host, std::string_view header, DataSource data);
    // Gives up the item being sent, if any, without a report.
    void CancelSend();
    bool Sending() const { return sending_; }
    // The check code of the connection being sent on (from OnHandshake on) or last delivered.
    const std::string& SendCheckCode() const { return sendCheckCode_; }
    bool SendPassphraseAuthenticated() const { return sendPassphrase_; }
    // The receiver's key fingerprint on that connection (empty when no certificate came), and
    // the address connected to (0 before the host's address is known).
    const std::string& SendPeerFingerprint() const { return sendFingerprint_; }
    std::uint32_t SendPeerAddress() const { return sender_.RemoteAddress(); }

    void Listen();

    // The item being reported, meant for OnHeader (its header), OnAnnounced (its address and
    // security only) and OnReceived (its data). None of them changes the packet.
    std::string GetString() const;  // up to the first NUL
    std::size_t PacketSize() const { return received_.Size(); }
    SharedText TakeString();
    void GetStrings(StringList& lines);
    void GetGraphic(Graphic& picture);
    // The header the item came under, from OnHeader on: the same connection's header packet.
    void GetHeader(StringList& lines) const { lines.SetText(header_); }
    std::uint32_t PeerAddress() const { return peer_; }
    const std::string& CheckCode() const { return checkCode_; }
    bool PassphraseAuthenticated() const { return passphrase_; }
    // The sender's key fingerprint on the item's connection; empty when no certificate came.
    const std::string& PeerFingerprint() const { return fingerprint_; }
    // The context's PassphraseGeneration when the item's session began.
    std::uint64_t PassphraseGeneration() const { return passphraseGeneration_; }
    // Called in OnReceived: the item's connection stays open until the handle closes; at most
    // kMaxHeld at once.
    TSecureHeld Hold();
    // Called in OnReceived: the item is refused after all, and its connection is reset.
    void Refuse() { Refuse(delivering_, deliveringSerial_); }
    std::size_t HeldConnections() const;
    static constexpr std::size_t kMaxHeld = TSimpleTcp::kMaxHeld;

    // As on the plain channel: connections being read at once, and the ceiling on their bytes
    // and on one data packet.
    static constexpr std::size_t kMaxIncoming = TSimpleTcp::kMaxIncoming;
    std::size_t MaxPacketSize() const { return maxPacket_; }
    void SetMaxPacketSize(std::size_t bytes) { maxPacket_ = bytes; }
    // As TSimpleTcp::ShareBudget.
    void ShareBudget(std::shared_ptr<ReceiveBudget> budget);
    // The longest header taken; a longer length field resets the connection.
    std::size_t MaxHeaderSize() const { return maxHeader_; }
    void SetMaxHeaderSize(std::size_t bytes) { maxHeader_ = bytes; }
    std::size_t IncomingConnections() const { return incoming_.size(); }
    std::size_t IncomingCapacity() const;

    TTCPClient& SenderSocket() { return sender_; }
    TTCPServer& ListenerSocket() { return listener_; }

    TOnPeer OnAdmit;
    TOnHeader OnHeader;
    TOnAnnounced OnAnnounced;
    TOnReceived OnReceived;
    // The sender's handshake is done: SendCheckCode is known.
    TOnSended OnHandshake;
    TOnSended OnSended;
    TOnSecureFailed OnSendFailed;
    // The listener's own failures (a port in use); Message ends in " (in Listener)".
    TOnTcpError OnError;

private:
    struct Incoming {
        enum class Stage { Handshake, HeaderLength, Header, DataLength, Data, Delivered, Closing };
        Stage stage = Stage::Handshake;
        std::unique_ptr<tls::ServerPipe> pipe;
        std::unique_ptr<tls::TlsSession> session;
        PacketReassembler packet;
        std::string header;
        std::uint64_t lastActivity = 0;
        // The end of the handshake or of the orderly close, whichever is under way.
        std::chrono::steady_clock::time_point deadline;
        std::uint32_t peer = 0;
        std::uint64_t serial = 0;
        bool held = false;
        bool turnQueued = false;
    };

    using Clock = std::chrono::steady_clock;
    struct AddressRecord {
        double tokens = 0;
        Clock::time_point refilled;
        Clock::time_point lastSeen;
        Clock::time_point waitUntil;
        unsigned failures = 0;
    };

    platform::LResult WndProc(std::uint32_t message, platform::WParam w, platform::LParam l);
    // The deadlines: connections whose handshake or close ran out are ended; the timer runs only
    // while some deadline is pending.
    void WatchDeadlines();
    void Sweep();
    // The per-address limits: whether a connection from addr may start a handshake now, and
    // what became of one.
    bool AdmitHandshake(std::uint32_t addr);
    AddressRecord& Record(std::uint32_t addr, Clock::time_point now);
    void HandshakeEnded(std::uint32_t addr, bool succeeded);

    void SenderError(Component* sender, int error, const std::string& msg);
    void SenderConnect(Component* sender, platform::SocketHandle socket);
    void SenderEvent(Component* sender, platform::SocketHandle socket);
    void SenderClose(Component* sender, platform::SocketHandle socket);
    void PumpSend();
    void FailSend(TSecureFailure kind, std::string message);

    void ListenerError(Component* sender, int error, const std::string& msg);
    void ListenerAdmit(Component* sender, const platform::SockAddrIn& peer, bool& accept);
    void ListenerAccept(Component* sender, platform::SocketHandle socket);
    void ListenerEvent(Component* sender, platform::SocketHandle socket);
    void ListenerClose(Component* sender, platform::SocketHandle socket);

    // One turn of a connection: steps its session and reads up to a bound, then leaves the
    // rest to a later turn behind every other connection's.
    void Service(platform::SocketHandle socket);
    // Reads into the length field; true when it is whole.
    bool ReadLength(platform::SocketHandle socket, Incoming& in, std::size_t& budget);
    // Reads into the payload; true when it is whole. False also when in is gone.
    bool ReadPayload(platform::SocketHandle socket, std::size_t& budget);
    void Report(Incoming& in);
    void HeaderArrived(platform::SocketHandle socket);
    void DataAnnounced(platform::SocketHandle socket);
    void Deliver(platform::SocketHandle socket);
    void Finish(platform::SocketHandle socket);
    void Release(platform::SocketHandle socket, std::uint64_t serial);
    void Refuse(platform::SocketHandle socket, std::uint64_t serial);
    friend class TSecureHeld;
    void Drop(platform::SocketHandle socket);
    bool MakeRoom(platform::SocketHandle socket, std::size_t extra);
    // Still arriving: neither delivered nor closing.
    static bool Arriving(const Incoming& in) {
        return in.stage != Incoming::Stage::Delivered && in.stage != Incoming::Stage::Closing;
    }
    Incoming* Find(platform::SocketHandle socket, std::uint64_t serial);

    tls::TlsContext& context_;
    int port_ = kDefaultPort;
    unsigned connectTimeoutMs_ = 1000;
    unsigned handshakeTimeoutMs_ = kDefaultHandshakeTimeoutMs;
    HandshakeLimits limits_;
    std::map<std::uint32_t, AddressRecord> addresses_;
    bool watching_ = false;
    Clock::time_point sendDeadline_;
    std::size_t maxPacket_ = TSimpleTcp::kDefaultMaxPacketSize;
    std::size_t maxHeader_ = 64 * 1024;
    TTCPClient& sender_;
    TTCPServer& listener_;
    NotifyWindowHandle window_;

    // The item being sent: the header packet and the data's length field, the data, and how far
    // they went.
    MemoryStream outgoing_;
    MemoryStream data_;
    DataSource source_;
    std::size_t written_ = 0;
    std::unique_ptr<tls::ClientPipe> sendPipe_;
    std::unique_ptr<tls::TlsSession> sendSession_;
    std::uint64_t generation_ = 0;
    bool sending_ = false;
    bool connected_ = false;
    bool handshakeDone_ = false;
    std::string sendCheckCode_;
    bool sendPassphrase_ = false;
    std::string sendFingerprint_;

    MemoryStream received_;
    std::size_t receivedNul_ = std::string_view::npos;
    std::uint32_t peer_ = 0;
    std::string header_;
    std::string checkCode_;
    bool passphrase_ = false;
    std::string fingerprint_;
    std::uint64_t passphraseGeneration_ = 0;
    std::map<platform::SocketHandle, std::unique_ptr<Incoming>> incoming_;
    std::unique_ptr<ReceiveBudget::Member> budget_;
    std::uint64_t serials_ = 0;
    platform::SocketHandle delivering_ = platform::kInvalidSocket;
    std::uint64_t deliveringSerial_ = 0;
    std::shared_ptr<TSecureTcp*> self_ = std::make_shared<TSecureTcp*>(this);
};

}  // namespace zumelko
