#pragma once
// The packet channel: one block of bytes per TCP connection, as a 4-byte little-endian signed
// length followed by the payload. The connecting side writes, the listening side reads the
// packet, tells its owner (OnReceived) and then closes; the sender's sight of that close is
// the delivery report (OnSended). The same Port is listened on and connected to.
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
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
#include "transport/SocketComponents.h"

namespace zumelko {

using TOnReceived = Event<Component* /*Sender*/>;
using TOnSended = Event<Component* /*Sender*/>;
// Sender is the inner socket component that failed; Message ends in " (in Sender)" or
// " (in Listener)".
using TOnTcpError = Event<Component* /*Sender*/, const std::string& /*Message*/>;
// A packet's length field is complete and none of its payload is held yet; clearing Accept
// refuses the packet, and its connection is closed.
using TOnAnnounced = Event<Component* /*Sender*/, std::size_t /*Length*/, bool& /*Accept*/>;
// A connection from Peer (an IPv4 address in network byte order) waits to be taken; clearing
// Accept refuses it with a reset, before it holds a place or a byte, and its sender hears of
// an error, not of a delivery.
using TOnPeer = Event<Component* /*Sender*/, std::uint32_t /*Peer*/, bool& /*Accept*/>;

class TSimpleTcp;

// The connection of a received packet, kept open after OnReceived has returned: its sender
// hears that the packet was taken only when this closes (Close, or the end of the handle's
// life), as it would have heard it right after the handler. Empty when nothing is held; a
// connection the peer closed meanwhile, or a channel gone meanwhile, is simply no more.
class THeldConnection {
public:
    THeldConnection() = default;
    THeldConnection(THeldConnection&& other) noexcept { *this = std::move(other); }
    THeldConnection& operator=(THeldConnection&& other) noexcept;
    THeldConnection(const THeldConnection&) = delete;
    THeldConnection& operator=(const THeldConnection&) = delete;
    ~THeldConnection() { Close(); }

    explicit operator bool() const { return !channel_.expired(); }
    void Close();
    // Closes it as a refusal (a reset): its sender hears that the packet was not taken.
    void Refuse();

private:
    friend class TSimpleTcp;
    THeldConnection(std::weak_ptr<TSimpleTcp*> channel, platform::SocketHandle socket, std::uint64_t serial)
        : channel_(std::move(channel)), socket_(socket), serial_(serial) {}

    std::weak_ptr<TSimpleTcp*> channel_;
    platform::SocketHandle socket_ = platform::kInvalidSocket;
    std::uint64_t serial_ = 0;
};

class TSimpleTcp final : public Component {
public:
    explicit TSimpleTcp(Component* owner);
    ~TSimpleTcp() override;

    int Port() const { return port_; }
    void SetPort(int port) { port_ = port; }
    const std::string& HostName() const { return hostName_; }
    void SetHostName(std::string host) { hostName_ = std::move(host); }

    // Each send replaces the outgoing packet and connects to HostName (or to the given host,
    // leaving HostName as it is). A send while the previous packet is still unreported gives
    // that connection up first.
    void SendString(std::string_view text);  // the bytes and one NUL
    void SendString(const std::string& host, std::string_view text);
    void SendStrings(const StringList& lines);  // every line followed by CR LF
    void SendStrings(const std::string& host, const StringList& lines);
    void SendGraphic(const Graphic& picture);
    void SendGraphic(const std::string& host, const Graphic& picture);
    void SendStream(Stream& stream);  // the whole stream from its start; its position is kept
    void SendStream(const std::string& host, Stream& stream);
    void SendBuffer(const void* data, std::size_t count);
    void SendBuffer(const std::string& host, const void* data, std::size_t count);
    // The same packets, taking the caller's block over instead of copying it: for a payload
    // built only to be sent. The channel keeps the block until the next send; the caller's
    // string or stream is left empty. Only a string given as an rvalue is taken; any other
    // text goes to the copying SendString above.
    template <typename Text>
        requires std::same_as<Text, std::string>
    void SendString(Text&& text) {
        AdoptString(hostName_, std::move(text));
    }
    template <typename Text>
        requires std::same_as<Text, std::string>
    void SendString(const std::string& host, Text&& text) {
        AdoptString(host, std::move(text));
    }
    void SendStream(MemoryStream&& stream);  // the whole stream, whatever its position
    void SendStream(const std::string& host, MemoryStream&& stream);

    // Starts listening on Port; a failure is reported through OnError.
    void Listen();

    // The last packet received. Meant for OnReceived; none of them changes the packet.
    std::string GetString() const;       // up to the first NUL
    std::size_t PacketSize() const { return received_.Size(); }
    // The text GetString gives, taken out of the channel without a copy: the channel holds
    // nothing of the packet afterwards, and the Get operations see an empty payload.
    SharedText TakeString();
    void GetStrings(StringList& lines);  // split at CR LF, lone CR or lone LF; NUL ends the text
    void GetGraphic(Graphic& picture);
    // A MemoryStream gets a copy of the payload (position 0); any other stream has the payload
    // written at its position.
    void GetStream(Stream& stream) const;
    std::size_t GetBuffer(void* buffer, std::size_t count) const;
    // The IPv4 address (network byte order) the packet came from, while it is announced
    // (OnAnnounced) and from its delivery on (OnReceived); 0 before any.
    std::uint32_t PeerAddress() const { return peer_; }
    // Called in OnReceived: the packet's connection stays open when the handler returns, until
    // the handle closes. At most kMaxHeld are held at once; beyond that, and outside
    // OnReceived, the handle is empty and the connection closes as usual.
    THeldConnection Hold();
    std::size_t HeldConnections() const;
    static constexpr std::size_t kMaxHeld = 16;

    // The inner socket components (for inspection).
    TTCPClient& SenderSocket() { return sender_; }
    TTCPServer& ListenerSocket() { return listener_; }
    // Bytes held for packets still arriving, so the cost of a connection can be watched.
    std::size_t IncomingCapacity() const;
    std::size_t IncomingConnections() const { return incoming_.size(); }

    // At most this many connections are reassembled at once; one more gives up the one that
    // has been quiet longest, so idle connections cannot use up the program's sockets.
    static constexpr std::size_t kMaxIncoming = 16;

    // The most one read notice takes from its connection, however much keeps arriving: copying
    // it is one turn of the loop, which the dialogs and menus wait for, and what is left comes
    // with the connection's next notice, behind those of the others.
    static constexpr std::size_t kMostPerTurn = std::size_t{4} << 20;

    // The longest payload taken, and at the same time the most this channel holds at once for
    // all the packets still arriving. Anyone on the network may connect and announce up to
    // 2 GB per connection: without a ceiling, a few connections trickling bytes would take
    // the program's memory. A longer length field closes its connection at once; a packet
    // that grows past what is left gives up the arriving packets that have been quiet longest.
    // Packets already whole are never given up. The default takes any picture (at most
    // 512 MiB of pixels); texts have a lower ceiling of their own (see OnAnnounced). A block
    // that cannot be had even within the ceiling gives up its packet like any other refusal.
    static constexpr std::size_t kDefaultMaxPacketSize = std::size_t{1} << 30;
    std::size_t MaxPacketSize() const { return maxPacket_; }
    void SetMaxPacketSize(std::size_t bytes) { maxPacket_ = bytes; }
    // Counts what arrives here against a budget shared with other channels instead of the
    // ceiling above (which still bounds one packet); none, the default, keeps the channel alone.
    void ShareBudget(std::shared_ptr<ReceiveBudget> budget);

    TOnPeer OnAdmit;
    TOnAnnounced OnAnnounced;
    TOnReceived OnReceived;
    TOnSended OnSended;
    TOnTcpError OnError;

private:
    // One packet arriving on one accepted connection.
    struct Incoming {
        enum class Stage { Length, Payload, Delivered };
        Stage stage = Stage::Length;
        PacketReassembler packet;
        std::uint64_t lastActivity = 0;
        std::uint32_t peer = 0;
        // Tells this connection from a later one that is given the same socket handle.
        std::uint64_t serial = 0;
        bool held = false;
    };

    // Starts the outgoing block: room for the length field and a payload of about this size.
    void BeginPacket(std::size_t payload);
    void AdoptString(const std::string& host, std::string text);
    // Copies the first bytes of a payload the channel took over behind the length field
    // (BeginPacket(0) first); the rest goes out from the payload's own block.
    void BeginAdopted(const std::uint8_t* data, std::size_t size);
    std::size_t PacketBytes() const { return outgoing_.Size() + tailSize_; }
    void StartSend(const std::string& host);
    void WriteMore();

    void SenderError(Component* sender, int error, const std::string& msg);
    void SenderConnect(Component* sender, platform::SocketHandle socket);
    void SenderWrite(Component* sender, platform::SocketHandle socket);
    void SenderData(Component* sender, platform::SocketHandle socket);
    void SenderClose(Component* sender, platform::SocketHandle socket);
    void ListenerError(Component* sender, int error, const std::string& msg);
    void ListenerAdmit(Component* sender, const platform::SockAddrIn& peer, bool& accept);
    void ListenerAccept(Component* sender, platform::SocketHandle socket);
    void ListenerData(Component* sender, platform::SocketHandle socket);
    void ListenerClose(Component* sender, platform::SocketHandle socket);

    // One read each: the bytes taken when more may be waiting, 0 when the socket had no more
    // (or the packet is delivered or given up meanwhile, when in is no more).
    std::size_t ReadLength(platform::SocketHandle socket, Incoming& in);
    std::size_t ReadPayload(platform::SocketHandle socket, Incoming& in, std::size_t budget);
    void Deliver(platform::SocketHandle socket, Incoming& in);
    void Finish(platform::SocketHandle socket);
    // Closes a held connection as Finish does, if it is still the one that was held.
    void Release(platform::SocketHandle socket, std::uint64_t serial);
    void Refuse(platform::SocketHandle socket, std::uint64_t serial);
    friend class THeldConnection;
    void Drop(platform::SocketHandle socket);
    // Gives up quiet arriving packets until the packet on socket can grow by extra bytes;
    // false when that packet itself is gone meanwhile.
    bool MakeRoom(platform::SocketHandle socket, std::size_t extra);
    static bool Arriving(const Incoming& in) { return in.stage != Incoming::Stage::Delivered; }

    int port_ = 0;
    std::size_t maxPacket_ = kDefaultMaxPacketSize;
    std::string hostName_;
    TTCPClient& sender_;
    TTCPServer& listener_;

    // The packet being sent, its length field and payload, kept until the next send.
    MemoryStream outgoing_;
    // A large payload taken over from the caller: its bytes past those copied into outgoing_
    // follow it on the wire straight from the caller's block.
    std::string adoptedText_;
    MemoryStream adoptedStream_;
    const std::uint8_t* tail_ = nullptr;
    std::size_t tailSize_ = 0;
    std::size_t written_ = 0;  // bytes of it taken by the socket
    std::uint64_t generation_ = 0;  // counts sends, so a handler that starts one is noticed
    bool connected_ = false;
    bool writeFailed_ = false;

    MemoryStream received_;
    std::size_t receivedNul_ = std::string_view::npos;
    std::uint32_t peer_ = 0;
    std::map<platform::SocketHandle, Incoming> incoming_;
    std::unique_ptr<ReceiveBudget::Member> budget_;
    std::uint64_t serials_ = 0;
    // The packet whose OnReceived runs now (innermost, when handlers nest); socket invalid
    // outside any.
    platform::SocketHandle delivering_ = platform::kInvalidSocket;
    std::uint64_t deliveringSerial_ = 0;
    // What held connections reach the channel through; it expires with the channel.
    std::shared_ptr<TSimpleTcp*> self_ = std::make_shared<TSimpleTcp*>(this);
};

}  // namespace zumelko
