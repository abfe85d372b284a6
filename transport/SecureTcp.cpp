#include "transport/SecureTcp.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "platform/Desktop.h"

namespace zumelko {

namespace {

using platform::kInvalidSocket;
using SocketHandleT = platform::SocketHandle;

// Messages of the channel's own window.
constexpr std::uintptr_t kConnectTimer = 1;
constexpr std::uintptr_t kDeadlineTimer = 2;
constexpr std::uint32_t kTurnMessage = platform::WM_USER_ + 2;

// Plaintext one connection may take in one turn of the loop; what is left waits behind the
// other connections' turns.
constexpr std::size_t kTurnBudget = 4 * 1024 * 1024;
// One write of the session never asks for more than this: it is cut into records anyway.
constexpr std::size_t kMostWrite = 1024 * 1024;
// What goes with the header in its first write: one TLS record's worth.
constexpr std::size_t kCoalesce = 16 * 1024;
constexpr std::size_t kMaxPayload = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());

void AppendLength(MemoryStream& out, std::size_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v & 0xFFu), static_cast<std::uint8_t>((v >> 8) & 0xFFu),
                               static_cast<std::uint8_t>((v >> 16) & 0xFFu),
                               static_cast<std::uint8_t>((v >> 24) & 0xFFu)};
    out.Write(b, 4);
}

}  // namespace

TSecureTcp::TSecureTcp(Component* owner, tls::TlsContext& context)
    : Component(owner),
      context_(context),
      sender_(Create<TTCPClient>()),
      listener_(Create<TTCPServer>()),
      window_([this](std::uint32_t m, platform::WParam w, platform::LParam l) { return WndProc(m, w, l); }) {
    sender_.SetName("Sender");
    listener_.SetName("Listener");
    sender_.OnError = TOnError(this, &TSecureTcp::SenderError);
    sender_.OnConnect = TOnConnect(this, &TSecureTcp::SenderConnect);
    sender_.OnWrite = TOnData(this, &TSecureTcp::SenderEvent);
    sender_.OnData = TOnData(this, &TSecureTcp::SenderEvent);
    sender_.OnClose = TOnClose(this, &TSecureTcp::SenderClose);
    listener_.OnError = TOnError(this, &TSecureTcp::ListenerError);
    listener_.OnAdmit = TOnAdmit(this, &TSecureTcp::ListenerAdmit);
    listener_.OnAccept = TOnAccept(this, &TSecureTcp::ListenerAccept);
    listener_.OnData = TOnData(this, &TSecureTcp::ListenerEvent);
    listener_.OnWrite = TOnData(this, &TSecureTcp::ListenerEvent);
    listener_.OnClose = TOnClose(this, &TSecureTcp::ListenerClose);
}

TSecureTcp::~TSecureTcp() {
    self_.reset();
    for (TCustomSocket* s : {static_cast<TCustomSocket*>(&sender_), static_cast<TCustomSocket*>(&listener_)})
        s->OnError.Clear();
    sender_.OnConnect.Clear();
    sender_.OnWrite.Clear();
    sender_.OnData.Clear();
    sender_.OnClose.Clear();
    listener_.OnAdmit.Clear();
    listener_.OnAccept.Clear();
    listener_.OnData.Clear();
    listener_.OnWrite.Clear();
    listener_.OnClose.Clear();
    // Sessions write through their sockets' components: they go first.
    sendSession_.reset();
    sendPipe_.reset();
    incoming_.clear();
    DestroyComponent(listener_);
    DestroyComponent(sender_);
}

platform::LResult TSecureTcp::WndProc(std::uint32_t message, platform::WParam w, platform::LParam l) {
    if (message == platform::WM_TIMER_ && w == kConnectTimer) {
        platform::Current().loop().KillTimer(window_.get(), kConnectTimer);
        if (sending_ && !connected_) {
            sender_.Close();
            sender_.ReportError(10060);  // "Connection timed out"
        }
        return 0;
    }
    if (message == platform::WM_TIMER_ && w == kDeadlineTimer) {
        Sweep();
        return 0;
    }
    if (message == kTurnMessage) {
        const auto socket = static_cast<SocketHandleT>(w);
        if (Incoming* in = Find(socket, static_cast<std::uint64_t>(l))) {
            in->turnQueued = false;
            Service(socket);
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Deadlines and limits

void TSecureTcp::WatchDeadlines() {
    if (watching_) return;
    // Often enough that a connection outlives its deadline by a fraction of it at most.
    const unsigned period = std::clamp(handshakeTimeoutMs_ / 8, 5u, 250u);
    watching_ = platform::Current().loop().SetTimer(window_.get(), kDeadlineTimer, period);
}

void TSecureTcp::Sweep() {
    const Clock::time_point now = Clock::now();
    bool pending = false;
    std::vector<SocketHandleT> expired;
    for (const auto& [socket, in] : incoming_) {
        if (in->stage != Incoming::Stage::Handshake && in->stage != Incoming::Stage::Closing) continue;
        if (now >= in->deadline) {
            expired.push_back(socket);
        } else {
            pending = true;
        }
    }
    for (SocketHandleT socket : expired) {
        auto it = incoming_.find(socket);
        if (it == incoming_.end()) continue;
        if (it->second->stage == Incoming::Stage::Handshake) HandshakeEnded(it->second->peer, false);
        Drop(socket);
    }
    const bool handshaking = sending_ && connected_ && !handshakeDone_;
    const bool sendExpired = handshaking && now >= sendDeadline_;
    if (handshaking && !sendExpired) pending = true;
    if (!pending && watching_) {
        platform::Current().loop().KillTimer(window_.get(), kDeadlineTimer);
        watching_ = false;
    }
    // Last: the owner's handler may do anything, this channel's end included.
    if (sendExpired)
        FailSend(TSecureFailure::Handshake,
                 "TLS handshake failed: no answer within " + std::to_string((handshakeTimeoutMs_ + 999) / 1000) + " s");
}

TSecureTcp::AddressRecord& TSecureTcp::Record(std::uint32_t addr, Clock::time_point now) {
    auto it = addresses_.find(addr);
    if (it != addresses_.end()) return it->second;
    if (addresses_.size() >= kMaxTrackedAddresses) {
        auto oldest = addresses_.begin();
        for (auto i = addresses_.begin(); i != addresses_.end(); ++i)
            if (i->second.lastSeen < oldest->second.lastSeen) oldest = i;
        addresses_.erase(oldest);
    }
    AddressRecord& fresh = addresses_[addr];
    fresh.tokens = limits_.burst;
    fresh.refilled = now;
    fresh.lastSeen = now;
    return fresh;
}

bool TSecureTcp::AdmitHandshake(std::uint32_t addr) {
    const Clock::time_point now = Clock::now();
    AddressRecord& r = Record(addr, now);
    r.lastSeen = now;
    if (now < r.waitUntil) return false;
    std::size_t atOnce = 0;
    for (const auto& [socket, in] : incoming_)
        atOnce += in->peer == addr && in->stage == Incoming::Stage::Handshake ? 1 : 0;
    if (atOnce >= limits_.atOnce) return false;
    const double elapsed = std::chrono::duration<double>(now - r.refilled).count();
    r.tokens = std::min(limits_.burst, r.tokens + elapsed * limits_.perSecond);
    r.refilled = now;
    if (r.tokens < 1) return false;
    r.tokens -= 1;
    return true;
}

void TSecureTcp::HandshakeEnded(std::uint32_t addr, bool succeeded) {
    const Clock::time_point now = Clock::now();
    AddressRecord& r = Record(addr, now);
    if (succeeded) {
        r.failures = 0;
        return;
    }
    // One failure is free (a mistyped passphrase, retried at once); from the second on the wait
    // doubles, so that a stranger trying at will pays the longest wait per try.
    r.failures = std::min(r.failures + 1, 31u);
    if (r.failures < 2) return;
    const unsigned shift = std::min(r.failures - 2, 20u);
    const auto wait = std::min<std::uint64_t>(std::uint64_t{limits_.failureWaitMs} << shift, limits_.longestWaitMs);
    r.waitUntil = now + std::chrono::milliseconds(wait);
}

// ---------------------------------------------------------------------------------------------
// Sending

void TSecureTcp::SendItem(const std::string& host, const StringList& header, MemoryStream data) {
    const std::string text = header.Text();
    SendItem(host, std::string_view(text), std::move(data));
}

void TSecureTcp::SendItem(const std::string& host, std::string_view header, MemoryStream data) {
    auto shared = std::make_shared<MemoryStream>(std::move(data));
    SendItem(host, header, [shared] { return std::move(*shared); });
}

void TSecureTcp::SendItem(const std::string& host, std::string_view header, DataSource data) {
    CancelSend();
    sendCheckCode_.clear();
    sendPassphrase_ = false;
    sendFingerprint_.clear();
    if (header.size() > kMaxPayload) {
        OnSendFailed(this, TSecureFailure::Lost, WinsockErrorText(10040));  // "Message too long"
        return;
    }
    outgoing_.Clear();
    data_.Clear();
    outgoing_.Reserve(8 + header.size());
    AppendLength(outgoing_, header.size());
    outgoing_.Write(header.data(), header.size());
    source_ = std::move(data);
    written_ = 0;
    sending_ = true;
    platform::Current().loop().SetTimer(window_.get(), kConnectTimer, connectTimeoutMs_);
    sender_.SetAuthorized(false);
    sender_.SetHost(host);
    sender_.SetPort(std::to_string(port_));
    // A failed lookup is reported from within Open.
    sender_.Open();
}

void TSecureTcp::CancelSend() {
    platform::Current().loop().KillTimer(window_.get(), kConnectTimer);
    ++generation_;
    sendSession_.reset();
    sendPipe_.reset();
    source_ = nullptr;
    if (sender_.SocketHandle() != kInvalidSocket) sender_.Close();
    sending_ = false;
    connected_ = false;
    handshakeDone_ = false;
}

void TSecureTcp::FailSend(TSecureFailure kind, std::string message) {
    if (!sending_) return;
    CancelSend();
    outgoing_.Clear();
    data_.Clear();
    OnSendFailed(this, kind, message);
}

void TSecureTcp::SenderError(Component*, int, const std::string& msg) {
    // Once connected, the session sees the same failure and tells what it meant.
    if (!sending_ || connected_) return;
    FailSend(TSecureFailure::Unreachable, msg);
}

void TSecureTcp::SenderConnect(Component*, SocketHandleT) {
    if (!sending_) return;
    platform::Current().loop().KillTimer(window_.get(), kConnectTimer);
    connected_ = true;
    sendDeadline_ = Clock::now() + std::chrono::milliseconds(handshakeTimeoutMs_);
    WatchDeadlines();
    // A TLS flight is several small writes: none of them may wait for an acknowledgement.
    (void)platform::Current().sockets().SetNoDelay(sender_.SocketHandle(), true);
    sendPipe_ = std::make_unique<tls::ClientPipe>(sender_);
    sendSession_ = std::make_unique<tls::TlsSession>(context_, tls::TlsRole::Client, *sendPipe_);
    sendSession_->Start();
    PumpSend();
}

void TSecureTcp::SenderEvent(Component*, SocketHandleT) {
    if (sendSession_) {
        PumpSend();
    } else {
        sender_.Discard();
    }
}

void TSecureTcp::PumpSend() {
    if (!sendSession_) return;
    const std::uint64_t generation = generation_;
    tls::TlsSession& s = *sendSession_;
    s.Advance();
    if (s.State() == tls::TlsState::Open && !handshakeDone_) {
        handshakeDone_ = true;
        sendCheckCode_ = s.CheckCode();
        sendPassphrase_ = s.PassphraseAuthenticated();
        sendFingerprint_ = s.PeerFingerprint();
        OnHandshake(this);
        if (generation != generation_) return;
        if (source_) {
            DataSource source = std::exchange(source_, nullptr);
            try {
                data_ = source();
            } catch (...) {
                CancelSend();
                throw;
            }
            if (generation != generation_) return;
            if (data_.Size() > kMaxPayload) {
                FailSend(TSecureFailure::Lost, WinsockErrorText(10040));
                return;
            }
            AppendLength(outgoing_, data_.Size());
        }
    }
    const std::size_t head = outgoing_.Size();
    const std::size_t total = head + data_.Size();
    while (handshakeDone_ && s.State() == tls::TlsState::Open && written_ < total) {
        int n = 0;
        if (written_ < head) {
            // The header and the start of the data in one record: two small writes in a row
            // would wait for the peer's delayed acknowledgement.
            std::array<std::uint8_t, kCoalesce> first{};
            const std::size_t from = head - written_;
            const std::size_t body = std::min(data_.Size(), first.size() - std::min(from, first.size()));
            if (from + body <= first.size()) {
                std::memcpy(first.data(), outgoing_.Data() + written_, from);
                if (body > 0) std::memcpy(first.data() + from, data_.Data(), body);
                n = s.Write(first.data(), static_cast<int>(from + body));
            } else {
                n = s.Write(outgoing_.Data() + written_, static_cast<int>(std::min(from, kMostWrite)));
            }
        } else {
            const std::size_t offset = written_ - head;
            n = s.Write(data_.Data() + offset, static_cast<int>(std::min(data_.Size() - offset, kMostWrite)));
        }
        if (generation != generation_) return;
        if (n <= 0) break;
        written_ += static_cast<std::size_t>(n);
    }
    // Nothing is meant to come back but the receiver's close; whatever does is dropped.
    char scratch[4096];
    while (s.Read(scratch, sizeof scratch) > 0) {
    }
    if (generation != generation_) return;
    switch (s.State()) {
        case tls::TlsState::Failed:
            if (!handshakeDone_ || s.HandshakeFailed()) {
                FailSend(TSecureFailure::Handshake, s.ErrorText());
            } else {
                FailSend(s.Ending() == tls::TlsEnding::Reset ? TSecureFailure::Refused : TSecureFailure::Lost,
                         s.ErrorText());
            }
            return;
        case tls::TlsState::Closed:
            if (s.Ending() == tls::TlsEnding::CloseNotify && written_ == total) {
                // Taken: the receiver answered with its close_notify after the whole item.
                CancelSend();
                outgoing_.Clear();
                data_.Clear();
                OnSended(this);
            } else {
                FailSend(TSecureFailure::Lost, "TLS connection failed: the receiver closed before the item was taken");
            }
            return;
        default: return;
    }
}

void TSecureTcp::SenderClose(Component*, SocketHandleT) {
    if (!sendSession_) {
        // Closed before the connection was made: that is a failed connect.
        if (sending_ && !connected_) FailSend(TSecureFailure::Unreachable, WinsockErrorText(sender_.CloseError()));
        return;
    }
    const std::uint64_t generation = generation_;
    const int closeError = sender_.CloseError();
    // Whatever arrived before the close is read first: the receiver's close_notify among it.
    PumpSend();
    if (generation != generation_ || !sending_) return;
    if (closeError == platform::WSAECONNRESET_) {
        FailSend(handshakeDone_ ? TSecureFailure::Refused : TSecureFailure::Handshake,
                 std::string(handshakeDone_ ? "TLS connection failed: " : "TLS handshake failed: ") +
                     WinsockErrorText(closeError));
    } else {
        FailSend(handshakeDone_ ? TSecureFailure::Lost : TSecureFailure::Handshake,
                 std::string(handshakeDone_ ? "TLS connection failed: " : "TLS handshake failed: ") +
                     "the peer closed the connection");
    }
}

// ---------------------------------------------------------------------------------------------
// Receiving

void TSecureTcp::Listen() {
    listener_.SetPort(std::to_string(port_));
    listener_.Listen();
}

void TSecureTcp::ListenerError(Component* sender, int, const std::string& msg) {
    OnError(sender, msg + " (in Listener)");
}

void TSecureTcp::ListenerAdmit(Component*, const platform::SockAddrIn& peer, bool& accept) {
    OnAdmit(this, peer.addr, accept);
    if (accept) accept = AdmitHandshake(peer.addr);
}

TSecureTcp::Incoming* TSecureTcp::Find(SocketHandleT socket, std::uint64_t serial) {
    auto it = incoming_.find(socket);
    if (it == incoming_.end() || it->second->serial != serial) return nullptr;
    return it->second.get();
}

void TSecureTcp::ListenerAccept(Component*, SocketHandleT socket) {
    (void)platform::Current().sockets().SetNoDelay(socket, true);
    auto fresh = std::make_unique<Incoming>();
    fresh->serial = ++serials_;
    fresh->lastActivity = reassembly::NextActivity();
    fresh->peer = listener_.LastPeer().addr;
    fresh->deadline = Clock::now() + std::chrono::milliseconds(handshakeTimeoutMs_);
    fresh->pipe = std::make_unique<tls::ServerPipe>(listener_, socket);
    fresh->session = std::make_unique<tls::TlsSession>(context_, tls::TlsRole::Server, *fresh->pipe);
    // A handle closed meanwhile is taken again for a new connection: it starts afresh.
    incoming_[socket] = std::move(fresh);
    // A connection still in its handshake, or closing, counts like any other: the quietest goes.
    // Held ones have a bound of their own.
    reassembly::LimitArriving(
        incoming_, socket, kMaxIncoming, [](const Incoming& in) { return in.stage != Incoming::Stage::Delivered; },
        [this](SocketHandleT s) { Drop(s); });
    WatchDeadlines();
    if (Incoming* in = Find(socket, serials_)) {
        in->session->Start();
        Service(socket);
    }
}

void TSecureTcp::ListenerEvent(Component*, SocketHandleT socket) {
    auto it = incoming_.find(socket);
    if (it == incoming_.end()) return;
    it->second->lastActivity = reassembly::NextActivity();
    Service(socket);
}

void TSecureTcp::ListenerClose(Component*, SocketHandleT socket) {
    // An unfinished item dies with its connection; the listener closes the socket next.
    auto it = incoming_.find(socket);
    if (it != incoming_.end() && it->second->stage == Incoming::Stage::Handshake) HandshakeEnded(it->second->peer, false);
    incoming_.erase(socket);
}

void TSecureTcp::Service(SocketHandleT socket) {
    auto it = incoming_.find(socket);
    if (it == incoming_.end()) return;
    const std::uint64_t serial = it->second->serial;
    tls::TlsSession& s = *it->second->session;
    s.Advance();
    Incoming* in = it->second.get();
    if (in->stage == Incoming::Stage::Closing) {
        if (!s.ClosePending() || s.State() == tls::TlsState::Failed) {
            incoming_.erase(it);
            (void)platform::Current().sockets().Shutdown(socket, platform::SD_BOTH_);
            listener_.CloseClient(socket);
        }
        return;
    }
    if (in->stage == Incoming::Stage::Handshake) {
        if (s.State() != tls::TlsState::Open) {
            if (s.State() == tls::TlsState::Failed || s.State() == tls::TlsState::Closed) {
                HandshakeEnded(in->peer, false);
                Drop(socket);
            }
            return;
        }
        HandshakeEnded(in->peer, true);
        in->stage = Incoming::Stage::HeaderLength;
    }
    if (s.State() == tls::TlsState::Failed) {
        Drop(socket);
        return;
    }
    std::size_t budget = kTurnBudget;
    for (;;) {
        in = Find(socket, serial);
        if (in == nullptr) return;
        bool progressed = false;
        switch (in->stage) {
            case Incoming::Stage::HeaderLength:
            case Incoming::Stage::DataLength: {
                if (!ReadLength(socket, *in, budget)) break;
                const bool header = in->stage == Incoming::Stage::HeaderLength;
                const std::optional<std::size_t> length = in->packet.Announced(header ? maxHeader_ : maxPacket_);
                if (!length) {
                    Drop(socket);
                    return;
                }
                in->packet.Begin(*length);
                in->stage = header ? Incoming::Stage::Header : Incoming::Stage::Data;
                if (!header) {
                    DataAnnounced(socket);
                    if (Find(socket, serial) == nullptr) return;
                }
                progressed = true;
                break;
            }
            case Incoming::Stage::Header:
                if (!ReadPayload(socket, budget)) break;
                HeaderArrived(socket);
                progressed = true;
                break;
            case Incoming::Stage::Data:
                if (!ReadPayload(socket, budget)) break;
                Deliver(socket);
                return;
            default:
                // Bytes beyond the item are not read; the connection closes when the owner is done.
                return;
        }
        if (progressed) continue;
        in = Find(socket, serial);
        if (in == nullptr) return;
        if (budget == 0) {
            // More may wait, decrypted already, which brings no notice: another turn comes
            // after every other connection's.
            if (!in->turnQueued) {
                in->turnQueued = true;
                platform::Current().loop().PostMessage(window_.get(), kTurnMessage, static_cast<platform::WParam>(socket),
                                                       static_cast<platform::LParam>(serial));
            }
            return;
        }
        // The peer ended before the item was whole, or its records were bad.
        if (in->session->State() != tls::TlsState::Open) Drop(socket);
        return;
    }
}

bool TSecureTcp::ReadLength(SocketHandleT, Incoming& in, std::size_t& budget) {
    while (!in.packet.LengthWhole()) {
        if (budget == 0) return false;
        const int n = in.packet.ReadLength([&](void* into, int most) { return in.session->Read(into, most); });
        if (n <= 0) return false;
        budget -= std::min<std::size_t>(budget, static_cast<std::size_t>(n));
    }
    return true;
}

bool TSecureTcp::ReadPayload(SocketHandleT socket, std::size_t& budget) {
    for (;;) {
        auto it = incoming_.find(socket);
        if (it == incoming_.end()) return false;
        Incoming& in = *it->second;
        if (in.packet.Complete()) return true;
        if (budget == 0) return false;
        const std::size_t want = in.packet.NextRead(budget);
        const std::size_t capacity = in.packet.Capacity();
        if (const std::size_t grown = in.packet.GrowthFor(want); grown > capacity) {
            const std::uint64_t serial = in.serial;
            if (!MakeRoom(socket, grown - capacity)) return false;
            Incoming* again = Find(socket, serial);
            if (again == nullptr) return false;
            try {
                again->packet.Grow(grown);
            } catch (const std::bad_alloc&) {
                Drop(socket);
                return false;
            }
            continue;
        }
        // Records are decrypted one at a time: read until the session has nothing more now.
        const int n = in.packet.ReadPayload([&](void* into, int most) { return in.session->Read(into, most); }, want);
        if (n <= 0) return false;
        budget -= std::min<std::size_t>(budget, static_cast<std::size_t>(n));
    }
}

void TSecureTcp::ShareBudget(std::shared_ptr<ReceiveBudget> budget) {
    budget_.reset();
    budget_ = reassembly::ShareBudget(std::move(budget), incoming_, Arriving, [this](SocketHandleT s) { Drop(s); });
}

bool TSecureTcp::MakeRoom(SocketHandleT socket, std::size_t extra) {
    if (budget_) return budget_->MakeRoom(socket, extra);
    return reassembly::MakeRoom(incoming_, socket, extra, maxPacket_, Arriving, [this](SocketHandleT s) { Drop(s); });
}

void TSecureTcp::Report(Incoming& in) {
    peer_ = in.peer;
    header_ = in.header;
    checkCode_ = in.session->CheckCode();
    passphrase_ = in.session->PassphraseAuthenticated();
    fingerprint_ = in.session->PeerFingerprint();
    passphraseGeneration_ = in.session->PassphraseGeneration();
}

void TSecureTcp::HeaderArrived(SocketHandleT socket) {
    Incoming& in = *incoming_.at(socket);
    const std::uint64_t serial = in.serial;
    receivedNul_ = in.packet.FirstNul();
    received_ = in.packet.TakePayload();
    in.header.assign(received_.View());
    Report(in);
    in.stage = Incoming::Stage::DataLength;
    bool accept = true;
    OnHeader(this, accept);
    if (Find(socket, serial) != nullptr && !accept) Drop(socket);
}

void TSecureTcp::DataAnnounced(SocketHandleT socket) {
    Incoming& in = *incoming_.at(socket);
    const std::uint64_t serial = in.serial;
    Report(in);
    bool accept = true;
    OnAnnounced(this, in.packet.Expected(), accept);
    Incoming* again = Find(socket, serial);
    if (again == nullptr) return;
    if (!accept) {
        Drop(socket);
        return;
    }
    // An empty item is delivered by the turn that announced it.
}

void TSecureTcp::Deliver(SocketHandleT socket) {
    Incoming& in = *incoming_.at(socket);
    in.stage = Incoming::Stage::Delivered;
    Report(in);
    receivedNul_ = in.packet.FirstNul();
    received_ = in.packet.TakePayload();
    const std::uint64_t serial = in.serial;
    const SocketHandleT outerSocket = std::exchange(delivering_, socket);
    const std::uint64_t outerSerial = std::exchange(deliveringSerial_, serial);
    auto finish = [this, socket, serial, outerSocket, outerSerial] {
        delivering_ = outerSocket;
        deliveringSerial_ = outerSerial;
        Incoming* again = Find(socket, serial);
        if (again != nullptr && !again->held) Finish(socket);
    };
    try {
        OnReceived(this);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TSecureTcp::Finish(SocketHandleT socket) {
    auto it = incoming_.find(socket);
    if (it == incoming_.end()) return;
    Incoming& in = *it->second;
    // Taken: close_notify, then an orderly close; a refused item gets the reset alone.
    in.session->Close();
    if (in.session->ClosePending() && in.session->State() != tls::TlsState::Failed) {
        in.stage = Incoming::Stage::Closing;
        in.held = false;
        in.deadline = Clock::now() + std::chrono::milliseconds(handshakeTimeoutMs_);
        WatchDeadlines();
        return;
    }
    incoming_.erase(it);
    (void)platform::Current().sockets().Shutdown(socket, platform::SD_BOTH_);
    listener_.CloseClient(socket);
}

TSecureHeld TSecureTcp::Hold() {
    Incoming* in = Find(delivering_, deliveringSerial_);
    if (in == nullptr || in->stage != Incoming::Stage::Delivered) return {};
    if (!in->held && HeldConnections() >= kMaxHeld) return {};
    in->held = true;
    return TSecureHeld(self_, delivering_, deliveringSerial_);
}

std::size_t TSecureTcp::HeldConnections() const {
    std::size_t n = 0;
    for (const auto& [h, in] : incoming_) n += in->held ? 1 : 0;
    return n;
}

void TSecureTcp::Release(SocketHandleT socket, std::uint64_t serial) {
    Incoming* in = Find(socket, serial);
    if (in == nullptr || in->stage != Incoming::Stage::Delivered) return;
    Finish(socket);
}

TSecureHeld& TSecureHeld::operator=(TSecureHeld&& other) noexcept {
    if (this != &other) {
        Close();
        channel_ = std::exchange(other.channel_, {});
        socket_ = std::exchange(other.socket_, platform::kInvalidSocket);
        serial_ = std::exchange(other.serial_, 0);
    }
    return *this;
}

void TSecureHeld::Close() {
    const auto channel = std::exchange(channel_, {}).lock();
    if (channel) (*channel)->Release(socket_, serial_);
}

void TSecureHeld::Refuse() {
    const auto channel = std::exchange(channel_, {}).lock();
    if (channel) (*channel)->Refuse(socket_, serial_);
}

void TSecureTcp::Refuse(SocketHandleT socket, std::uint64_t serial) {
    if (Find(socket, serial) != nullptr) Drop(socket);
}

void TSecureTcp::Drop(SocketHandleT socket) {
    incoming_.erase(socket);
    listener_.CloseClient(socket);
}

std::size_t TSecureTcp::IncomingCapacity() const { return reassembly::Capacity(incoming_); }

// ---------------------------------------------------------------------------------------------
// Reading the item

std::string TSecureTcp::GetString() const {
    const std::string_view all = received_.View();
    return std::string(all.substr(0, std::min(receivedNul_, all.size())));
}

SharedText TSecureTcp::TakeString() {
    const std::size_t nul = std::exchange(receivedNul_, std::string_view::npos);
    return SharedText::Adopt(std::exchange(received_, MemoryStream{}), nul);
}

void TSecureTcp::GetStrings(StringList& lines) { lines.SetText(received_.View()); }

void TSecureTcp::GetGraphic(Graphic& picture) {
    received_.SetPosition(0);
    picture.ReadFromStream(received_);
}

}  // namespace zumelko
