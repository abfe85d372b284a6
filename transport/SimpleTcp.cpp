#include "transport/SimpleTcp.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "platform/Desktop.h"

namespace zumelko {

namespace {

using platform::kInvalidSocket;
using SocketHandleT = platform::SocketHandle;

static_assert(PacketReassembler::kMostRead == TSimpleTcp::kMostPerTurn, "one read takes at most a turn's bytes");
// The length field, kept in front of the payload in the outgoing block, so that the two go out
// in one write: two small writes in a row would wait for the peer's delayed acknowledgement,
// and the receiver takes a small packet whole in one read.
constexpr std::size_t kHeader = 4;
// Of a payload taken over from the caller, this much is copied behind the length field, so that a
// small packet still goes out in one write and a large one starts with a full first write.
constexpr std::size_t kAdoptCopied = 64 * 1024;
// One send call never asks for more than an int can say.
constexpr std::size_t kMaxSend = std::size_t{1} << 30;
constexpr std::size_t kMaxPayload = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

void EncodeLength(std::uint32_t v, std::uint8_t* out) {
    out[0] = static_cast<std::uint8_t>(v & 0xFFu);
    out[1] = static_cast<std::uint8_t>((v >> 8) & 0xFFu);
    out[2] = static_cast<std::uint8_t>((v >> 16) & 0xFFu);
    out[3] = static_cast<std::uint8_t>((v >> 24) & 0xFFu);
}

}  // namespace

TSimpleTcp::TSimpleTcp(Component* owner)
    : Component(owner), sender_(Create<TTCPClient>()), listener_(Create<TTCPServer>()) {
    sender_.SetName("Sender");
    listener_.SetName("Listener");
    sender_.OnError = TOnError(this, &TSimpleTcp::SenderError);
    sender_.OnConnect = TOnConnect(this, &TSimpleTcp::SenderConnect);
    sender_.OnWrite = TOnData(this, &TSimpleTcp::SenderWrite);
    sender_.OnData = TOnData(this, &TSimpleTcp::SenderData);
    sender_.OnClose = TOnClose(this, &TSimpleTcp::SenderClose);
    listener_.OnError = TOnError(this, &TSimpleTcp::ListenerError);
    listener_.OnAdmit = TOnAdmit(this, &TSimpleTcp::ListenerAdmit);
    listener_.OnAccept = TOnAccept(this, &TSimpleTcp::ListenerAccept);
    listener_.OnData = TOnData(this, &TSimpleTcp::ListenerData);
    listener_.OnClose = TOnClose(this, &TSimpleTcp::ListenerClose);
}

TSimpleTcp::~TSimpleTcp() {
    // Held connections close with the listener now, not through their handles.
    self_.reset();
    // Nothing is reported while the channel goes away: its owner is going away too.
    for (TCustomSocket* s : {static_cast<TCustomSocket*>(&sender_), static_cast<TCustomSocket*>(&listener_)})
        s->OnError.Clear();
    sender_.OnConnect.Clear();
    sender_.OnWrite.Clear();
    sender_.OnData.Clear();
    sender_.OnClose.Clear();
    listener_.OnAdmit.Clear();
    listener_.OnAccept.Clear();
    listener_.OnData.Clear();
    listener_.OnClose.Clear();
    DestroyComponent(listener_);
    DestroyComponent(sender_);
}

// ---------------------------------------------------------------------------------------------
// Sending

void TSimpleTcp::BeginPacket(std::size_t payload) {
    // Let a large earlier packet go instead of keeping its block for a small one.
    outgoing_.Clear();
    std::string().swap(adoptedText_);
    adoptedStream_.Clear();
    tail_ = nullptr;
    tailSize_ = 0;
    outgoing_.Reserve(kHeader + payload);
    const std::array<std::uint8_t, kHeader> unknown{};
    outgoing_.Write(unknown.data(), unknown.size());
}

void TSimpleTcp::BeginAdopted(const std::uint8_t* data, std::size_t size) {
    const std::size_t head = std::min(size, kAdoptCopied);
    outgoing_.Reserve(kHeader + head);
    outgoing_.Write(data, head);
    tail_ = data + head;
    tailSize_ = size - head;
}

void TSimpleTcp::AdoptString(const std::string& host, std::string text) {
    BeginPacket(0);
    adoptedText_ = std::move(text);
    // The string's own terminator is the NUL the packet ends with.
    BeginAdopted(reinterpret_cast<const std::uint8_t*>(adoptedText_.c_str()), adoptedText_.size() + 1);
    // A payload copied whole is not kept twice.
    if (tailSize_ == 0) {
        std::string().swap(adoptedText_);
        tail_ = nullptr;
    }
    StartSend(host);
}

void TSimpleTcp::SendStream(MemoryStream&& stream) { SendStream(hostName_, std::move(stream)); }

void TSimpleTcp::SendStream(const std::string& host, MemoryStream&& stream) {
    BeginPacket(0);
    adoptedStream_ = std::move(stream);
    BeginAdopted(adoptedStream_.Data(), adoptedStream_.Size());
    if (tailSize_ == 0) {
        adoptedStream_.Clear();
        tail_ = nullptr;
    }
    StartSend(host);
}

void TSimpleTcp::SendString(std::string_view text) { SendString(hostName_, text); }

void TSimpleTcp::SendString(const std::string& host, std::string_view text) {
    BeginPacket(text.size() + 1);
    outgoing_.Write(text.data(), text.size());
    const char nul = '\0';
    outgoing_.Write(&nul, 1);
    StartSend(host);
}

void TSimpleTcp::SendStrings(const StringList& lines) { SendStrings(hostName_, lines); }

void TSimpleTcp::SendStrings(const std::string& host, const StringList& lines) {
    const std::string text = lines.Text();
    BeginPacket(text.size());
    outgoing_.Write(text.data(), text.size());
    StartSend(host);
}

void TSimpleTcp::SendGraphic(const Graphic& picture) { SendGraphic(hostName_, picture); }

void TSimpleTcp::SendGraphic(const std::string& host, const Graphic& picture) {
    BeginPacket(0);
    picture.WriteToStream(outgoing_);
    StartSend(host);
}

void TSimpleTcp::SendStream(Stream& stream) { SendStream(hostName_, stream); }

void TSimpleTcp::SendStream(const std::string& host, Stream& stream) {
    BeginPacket(stream.Size());
    if (auto* memory = dynamic_cast<MemoryStream*>(&stream)) {
        outgoing_.Write(memory->Data(), memory->Size());
    } else {
        const std::size_t kept = stream.Position();
        stream.SetPosition(0);
        for (;;) {
            const std::size_t want = std::max<std::size_t>(stream.Remaining(), 1);
            std::uint8_t* dst = outgoing_.WriteSpace(std::min<std::size_t>(want, 1 << 20));
            const std::size_t got = stream.Read(dst, std::min<std::size_t>(want, 1 << 20));
            if (got == 0) break;
            outgoing_.Commit(got);
        }
        stream.SetPosition(kept);
    }
    StartSend(host);
}

void TSimpleTcp::SendBuffer(const void* data, std::size_t count) { SendBuffer(hostName_, data, count); }

void TSimpleTcp::SendBuffer(const std::string& host, const void* data, std::size_t count) {
    BeginPacket(count);
    outgoing_.Write(data, count);
    StartSend(host);
}

void TSimpleTcp::StartSend(const std::string& host) {
    // One packet per channel at a time: a connection whose packet is still unreported is given
    // up, so its late close can never be taken for the new packet's delivery.
    if (sender_.SocketHandle() != kInvalidSocket) sender_.Close();
    ++generation_;
    connected_ = false;
    writeFailed_ = false;
    written_ = 0;
    const std::size_t payload = PacketBytes() - kHeader;
    if (payload > kMaxPayload) {
        sender_.ReportError(10040);  // "Message too long": the length field cannot say it
        return;
    }
    EncodeLength(static_cast<std::uint32_t>(payload), outgoing_.Data());
    sender_.SetAuthorized(true);
    sender_.SetHost(host);
    sender_.SetPort(std::to_string(port_));
    sender_.Open();
}

void TSimpleTcp::WriteMore() {
    if (!connected_ || writeFailed_) return;
    const std::uint64_t generation = generation_;
    const std::size_t head = outgoing_.Size();
    const std::size_t total = PacketBytes();
    while (written_ < total) {
        // The outgoing block, then what of a taken-over payload follows it.
        const std::uint8_t* from = written_ < head ? outgoing_.Data() + written_ : tail_ + (written_ - head);
        const std::size_t left = std::min((written_ < head ? head : total) - written_, kMaxSend);
        const int n = sender_.Send(from, static_cast<int>(left));
        // A failed send was reported, and its handler may already have started another packet.
        if (generation != generation_) return;
        if (n < 0) {
            // Would block: the rest goes when the socket takes bytes again.
            if (sender_.LastError() != platform::WSAEWOULDBLOCK_) writeFailed_ = true;
            return;
        }
        written_ += static_cast<std::size_t>(n);
    }
}

void TSimpleTcp::SenderError(Component* sender, int, const std::string& msg) { OnError(sender, msg + " (in Sender)"); }

void TSimpleTcp::SenderConnect(Component*, SocketHandleT) {
    connected_ = true;
    WriteMore();
}

void TSimpleTcp::SenderWrite(Component*, SocketHandleT) { WriteMore(); }

void TSimpleTcp::SenderData(Component*, SocketHandleT) {
    // Nothing ever flows back. Whatever a peer sends anyway is dropped, so that its close is
    // still seen behind it.
    sender_.Discard();
}

void TSimpleTcp::SenderClose(Component*, SocketHandleT) {
    const bool whole = connected_ && written_ == PacketBytes();
    const bool failed = writeFailed_;
    // A receiver that took the packet closes in order; one that refused it resets.
    const int closeError = sender_.CloseError();
    const std::uint64_t generation = generation_;
    connected_ = false;
    // Closed before anyone hears of it, so a send from OnSended starts on a clean component.
    sender_.Close();
    if (generation != generation_) return;
    if (!whole) {
        // Closed before the packet was out: that is no delivery.
        if (!failed) sender_.ReportError(platform::WSAECONNRESET_);
        return;
    }
    if (closeError != 0) {
        sender_.ReportError(closeError);
        return;
    }
    OnSended(this);
}

// ---------------------------------------------------------------------------------------------
// Receiving

void TSimpleTcp::Listen() {
    listener_.SetPort(std::to_string(port_));
    listener_.Listen();
}

void TSimpleTcp::ListenerError(Component* sender, int, const std::string& msg) {
    OnError(sender, msg + " (in Listener)");
}

void TSimpleTcp::ListenerAdmit(Component*, const platform::SockAddrIn& peer, bool& accept) {
    OnAdmit(this, peer.addr, accept);
}

void TSimpleTcp::ListenerAccept(Component*, SocketHandleT socket) {
    // A handle closed meanwhile is taken again for a new connection: it starts afresh.
    Incoming& fresh = incoming_[socket] = Incoming{};
    fresh.serial = ++serials_;
    fresh.lastActivity = reassembly::NextActivity();
    fresh.peer = listener_.LastPeer().addr;
    // A packet being handled by the owner is never given up; the quietest arriving one is.
    reassembly::LimitArriving(incoming_, socket, kMaxIncoming, Arriving, [this](SocketHandleT s) { Drop(s); });
}

void TSimpleTcp::ListenerData(Component*, SocketHandleT socket) {
    Incoming& first = incoming_[socket];
    first.lastActivity = reassembly::NextActivity();
    // One notice takes what has arrived, the length field and the payload behind it, read after
    // read until the socket has nothing more or the turn has taken kMostPerTurn bytes: a notice
    // per read would cost a turn of the loop for every block. What is left past the bound comes
    // with the next notice, queued behind those of the other connections, so a connection that
    // floods does not starve one that trickles, and no turn keeps the dialogs waiting.
    std::size_t budget = kMostPerTurn;
    for (;;) {
        auto it = incoming_.find(socket);
        if (it == incoming_.end()) return;
        Incoming& in = it->second;
        std::size_t got = 0;
        switch (in.stage) {
            case Incoming::Stage::Length: got = ReadLength(socket, in); break;
            case Incoming::Stage::Payload: got = ReadPayload(socket, in, budget); break;
            case Incoming::Stage::Delivered:
                // Bytes beyond the packet are not read; the connection closes when the owner is done.
                return;
        }
        if (got == 0 || got >= budget) return;
        budget -= got;
    }
}

std::size_t TSimpleTcp::ReadLength(SocketHandleT socket, Incoming& in) {
    const int n =
        in.packet.ReadLength([&](void* into, int most) { return listener_.Receive(socket, into, most); });
    // Fewer bytes than asked for: nothing more waits now.
    if (n <= 0 || !in.packet.LengthWhole()) return 0;
    const std::optional<std::size_t> length = in.packet.Announced(maxPacket_);
    if (!length) {
        Drop(socket);
        return 0;
    }
    bool accept = true;
    peer_ = in.peer;
    OnAnnounced(this, *length, accept);
    // The handler may have let the loop run, in which the peer went away.
    if (incoming_.count(socket) == 0) return 0;
    if (!accept) {
        Drop(socket);
        return 0;
    }
    in.stage = Incoming::Stage::Payload;
    in.packet.Begin(*length);
    if (*length == 0) {
        Deliver(socket, in);
        return 0;
    }
    return static_cast<std::size_t>(n);
}

std::size_t TSimpleTcp::ReadPayload(SocketHandleT socket, Incoming& in, std::size_t budget) {
    const std::size_t want = in.packet.NextRead(budget);
    const std::size_t capacity = in.packet.Capacity();
    if (const std::size_t grown = in.packet.GrowthFor(want); grown > capacity) {
        // Giving others up may report a failed close, whose notice runs the loop.
        if (!MakeRoom(socket, grown - capacity)) return 0;
        try {
            incoming_.at(socket).packet.Grow(grown);
        } catch (const std::bad_alloc&) {
            // Memory the system will not give is a packet this program cannot hold: the
            // connection goes, and what the others are sending keeps arriving.
            Drop(socket);
            return 0;
        }
    }
    // Straight from the socket into the packet's own buffer, never more than the packet lacks.
    const int n = incoming_.at(socket).packet.ReadPayload(
        [&](void* into, int most) { return listener_.Receive(socket, into, most); }, want);
    if (n <= 0) return 0;
    if (in.packet.Complete()) {
        Deliver(socket, in);
        return 0;
    }
    // Fewer bytes than asked for: the socket has nothing more now.
    return static_cast<std::size_t>(n) < want ? 0 : static_cast<std::size_t>(n);
}

void TSimpleTcp::ShareBudget(std::shared_ptr<ReceiveBudget> budget) {
    budget_.reset();
    budget_ = reassembly::ShareBudget(std::move(budget), incoming_, Arriving, [this](SocketHandleT s) { Drop(s); });
}

bool TSimpleTcp::MakeRoom(SocketHandleT socket, std::size_t extra) {
    if (budget_) return budget_->MakeRoom(socket, extra);
    return reassembly::MakeRoom(incoming_, socket, extra, maxPacket_, Arriving, [this](SocketHandleT s) { Drop(s); });
}

void TSimpleTcp::Deliver(SocketHandleT socket, Incoming& in) {
    in.stage = Incoming::Stage::Delivered;
    receivedNul_ = in.packet.FirstNul();
    received_ = in.packet.TakePayload();
    peer_ = in.peer;
    const std::uint64_t serial = in.serial;
    // Handlers nest when one runs a dialog: each sees its own packet as the one to hold.
    const SocketHandleT outerSocket = std::exchange(delivering_, socket);
    const std::uint64_t outerSerial = std::exchange(deliveringSerial_, serial);
    // The handler may have run a nested loop in which the peer went away, or a held
    // connection was closed already and its handle given to a new connection.
    auto finish = [this, socket, serial, outerSocket, outerSerial] {
        delivering_ = outerSocket;
        deliveringSerial_ = outerSerial;
        auto it = incoming_.find(socket);
        if (it != incoming_.end() && it->second.serial == serial && !it->second.held) Finish(socket);
    };
    try {
        OnReceived(this);
    } catch (...) {
        // The failure is the owner's to report; the sender still hears that its packet was
        // taken, and the connection does not stay open for ever.
        finish();
        throw;
    }
    finish();
}

void TSimpleTcp::Finish(SocketHandleT socket) {
    auto it = incoming_.find(socket);
    if (it == incoming_.end()) return;
    incoming_.erase(it);
    // The packet was taken: an orderly close (a FIN, then the hard close's reset) tells the
    // sender so, where a refused packet gets the reset alone.
    (void)platform::Current().sockets().Shutdown(socket, platform::SD_BOTH_);
    listener_.CloseClient(socket);
}

THeldConnection TSimpleTcp::Hold() {
    auto it = incoming_.find(delivering_);
    if (it == incoming_.end() || it->second.serial != deliveringSerial_) return {};
    if (!it->second.held && HeldConnections() >= kMaxHeld) return {};
    it->second.held = true;
    return THeldConnection(self_, delivering_, deliveringSerial_);
}

std::size_t TSimpleTcp::HeldConnections() const {
    std::size_t n = 0;
    for (const auto& [h, in] : incoming_) n += in.held ? 1 : 0;
    return n;
}

void TSimpleTcp::Release(SocketHandleT socket, std::uint64_t serial) {
    auto it = incoming_.find(socket);
    if (it == incoming_.end() || it->second.serial != serial) return;
    Finish(socket);
}

THeldConnection& THeldConnection::operator=(THeldConnection&& other) noexcept {
    if (this != &other) {
        Close();
        channel_ = std::exchange(other.channel_, {});
        socket_ = std::exchange(other.socket_, platform::kInvalidSocket);
        serial_ = std::exchange(other.serial_, 0);
    }
    return *this;
}

void THeldConnection::Close() {
    const auto channel = std::exchange(channel_, {}).lock();
    if (channel) (*channel)->Release(socket_, serial_);
}

void THeldConnection::Refuse() {
    const auto channel = std::exchange(channel_, {}).lock();
    if (channel) (*channel)->Refuse(socket_, serial_);
}

void TSimpleTcp::Refuse(SocketHandleT socket, std::uint64_t serial) {
    auto it = incoming_.find(socket);
    if (it != incoming_.end() && it->second.serial == serial) Drop(socket);
}

void TSimpleTcp::Drop(SocketHandleT socket) {
    incoming_.erase(socket);
    listener_.CloseClient(socket);
}

void TSimpleTcp::ListenerClose(Component*, SocketHandleT socket) {
    // An unfinished packet dies with its connection; the listener closes the socket next.
    incoming_.erase(socket);
}

std::size_t TSimpleTcp::IncomingCapacity() const { return reassembly::Capacity(incoming_); }

// ---------------------------------------------------------------------------------------------
// Reading the last packet

std::string TSimpleTcp::GetString() const {
    const std::string_view all = received_.View();
    return std::string(all.substr(0, std::min(receivedNul_, all.size())));
}

SharedText TSimpleTcp::TakeString() {
    const std::size_t nul = std::exchange(receivedNul_, std::string_view::npos);
    return SharedText::Adopt(std::exchange(received_, MemoryStream{}), nul);
}

void TSimpleTcp::GetStrings(StringList& lines) { lines.SetText(received_.View()); }

void TSimpleTcp::GetGraphic(Graphic& picture) {
    received_.SetPosition(0);
    picture.ReadFromStream(received_);
}

void TSimpleTcp::GetStream(Stream& stream) const {
    if (auto* memory = dynamic_cast<MemoryStream*>(&stream)) {
        memory->Clear();
        memory->Reserve(received_.Size());
        memory->Write(received_.Data(), received_.Size());
        memory->SetPosition(0);
        return;
    }
    stream.Write(received_.Data(), received_.Size());
}

std::size_t TSimpleTcp::GetBuffer(void* buffer, std::size_t count) const {
    const std::size_t n = std::min(count, received_.Size());
    if (n > 0) std::memcpy(buffer, received_.Data(), n);
    return n;
}

}  // namespace zumelko
