#pragma once
// One TLS 1.3 connection over a non-blocking socket of the socket components. The session reads
// and writes the socket itself, through a pipe that calls the component's Send and Receive: no
// bytes are kept beside OpenSSL's own record buffers, so nothing grows with what a peer sends,
// and the same code runs on every desktop. The caller drives it from the socket's notices:
//
//   connect / accept:    Start()
//   read, write, close:  Advance(), then Read() until it returns 0 or less, and Write() again
//                        whatever was left over
//
// A session never raises and never closes the socket: it reports what happened (State, Ending,
// ErrorText) and the owner of the socket acts on it. A send or receive that fails is reported
// by the component too (OnError), from inside the session's call: a handler there may close the
// socket but must not destroy the session or the component; the session's own report follows
// when its call returns.
//
// With a team passphrase the TLS handshake is the same as without; then, still Handshaking,
// both ends run a password-authenticated exchange (Spake2.h) inside the connection, its
// confirmations bound to this connection through the exporter. A recording tests no guess of
// the passphrase; a peer that takes part tests one per connection. The first four plaintext
// bytes tell the modes apart: the exchange's magic, or a header's length.
//
// Writes go out as OpenSSL makes its records, so a connection carrying TLS wants Nagle's
// algorithm off: otherwise the client's last small record (its Finished, a short record, the
// close_notify) waits for the peer's delayed acknowledgement, some 40 ms on Linux.
#include <openssl/ssl.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Sockets.h"
#include "transport/tls/Spake2.h"
#include "transport/tls/TlsContext.h"

namespace zumelko {
class TTCPClient;
class TTCPServer;
}  // namespace zumelko

namespace zumelko::tls {

// The byte stream under a session, with the results of send and recv on a non-blocking
// socket: bytes moved; 0 from Receive when the peer closed its side (FIN); negative on failure,
// with the Winsock code in error (WSAEWOULDBLOCK_: nothing can move now, a notice follows).
class TlsPipe {
public:
    virtual ~TlsPipe() = default;
    virtual int Send(const void* data, int length, int& error) = 0;
    virtual int Receive(void* buffer, int size, int& error) = 0;
};

// The connection of a client component.
class ClientPipe final : public TlsPipe {
public:
    explicit ClientPipe(TTCPClient& client) : client_(client) {}
    int Send(const void* data, int length, int& error) override;
    int Receive(void* buffer, int size, int& error) override;

private:
    TTCPClient& client_;
};

// One accepted connection of a server component.
class ServerPipe final : public TlsPipe {
public:
    ServerPipe(TTCPServer& server, platform::SocketHandle handle) : server_(server), handle_(handle) {}
    int Send(const void* data, int length, int& error) override;
    int Receive(void* buffer, int size, int& error) override;

private:
    TTCPServer& server_;
    platform::SocketHandle handle_;
};

enum class TlsRole { Client, Server };

enum class TlsState {
    Idle,         // not started
    Handshaking,  // under way
    Open,         // plaintext flows (after Close, only from the peer)
    Closed,       // the peer ended its side in order: Ending is CloseNotify or Fin
    Failed,       // see ErrorText (and Ending, for a reset); the connection is of no further use
};

// How the peer ended the connection.
enum class TlsEnding {
    None,         // it has not
    CloseNotify,  // in order: everything it sent has arrived
    Fin,          // its side closed without a close_notify: what it sent may be cut short
    Reset,        // the connection was reset
};

class TlsSession {
public:
    // The session takes what it needs of the context (identity, passphrase key) now; the pipe
    // must outlive it.
    TlsSession(const TlsContext& context, TlsRole role, TlsPipe& pipe);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Begins the handshake (the client sends its hello). Once, when the connection is made or
    // accepted.
    void Start();
    // Steps the handshake and a close_notify still to be sent; call on every notice of the
    // socket. Returns the state afterwards.
    TlsState Advance();

    // Plaintext into the caller's buffer: the number of bytes (> 0); 0 when nothing waits now (a
    // read notice will come); -1 when nothing more will come (State says why: Closed, with
    // Ending, or Failed). Read until it returns 0 or less: plaintext already decrypted brings
    // no further notice. Without a passphrase the peer's first four bytes come out once all four
    // are in: they tell a peer with a passphrase apart.
    int Read(void* buffer, int size);
    // Encrypts and sends: the bytes taken (> 0); 0 when the socket takes nothing now (a write
    // notice will come: call again with the same bytes first, at the same or another address);
    // -1 when the connection is of no further use. Before the handshake is done nothing is taken.
    int Write(const void* data, int length);
    // Sends close_notify (now, or on the next Advance when the socket is full); nothing is written
    // after it. Reading goes on until the peer's own close. Before the handshake is done there is
    // nothing to close in order: close the socket instead.
    void Close();
    // True while a close_notify waits for room on the socket.
    bool ClosePending() const { return closeState_ == CloseState::Pending; }

    TlsState State() const { return state_; }
    TlsEnding Ending() const { return ending_; }
    // A short English text for the user, "TLS handshake failed: …" or "TLS connection failed:
    // …"; empty unless State is Failed.
    const std::string& ErrorText() const { return error_; }
    // Failed in the handshake (ErrorText "TLS handshake failed: …"), even if it was Open a moment:
    // an end without a passphrase learns from the peer's first bytes that it has one.
    bool HandshakeFailed() const { return state_ == TlsState::Failed && handshakeFailed_; }

    // The check code both ends show once the handshake is done: twelve decimal digits in three
    // groups of four ("0123 4567 8901"); empty before. It comes from the exporter, whose secret
    // hashes the whole handshake with both certificates and key shares: a machine in the middle
    // holds two sessions with unrelated codes and would have to try some 10^12 key shares within
    // one handshake's time-out (TSecureTcp's deadline, seconds) to make them equal; eight digits
    // would be in reach of one machine. It proves this one connection only: every connection
    // has a code of its own, so users compare it again whenever the peer's key is not the one
    // they compared before.
    const std::string& CheckCode() const { return checkCode_; }
    // Both ends proved they hold the team's passphrase: each checked the other's confirmation.
    bool PassphraseAuthenticated() const { return passphraseAuthenticated_; }
    // The context's PassphraseGeneration when the session was made: what it proved is the
    // passphrase of that generation.
    std::uint64_t PassphraseGeneration() const { return generation_; }
    // Fingerprint of the certificate the peer presented (see CertificateFingerprint).
    const std::string& PeerFingerprint() const { return peerFingerprint_; }

private:
    enum class CloseState { None, Pending, Sent };

    // Where a session with a passphrase is in its exchange after the TLS handshake: the client
    // (A) sends "ZPK1" + pA and reads "ZPK1" + pB + cB, then sends cA; the server (B) sends
    // "ZPK1" + pB at once (it does not depend on pA), reads "ZPK1" + pA, sends cB, reads cA.
    enum class Exchange { Tls, Magic, Share, Confirmation, Refusing, Done };

    friend struct SessionCallbacks;
    // Runs a step of OpenSSL and turns its result into the session's state. True when the step
    // completed, false when it must wait or failed.
    bool Settle(int result, bool handshake);
    void Fail(const std::string& reason);
    void FinishHandshake();
    void StepExchange();
    bool ExchangeRead(std::size_t want);
    std::string FailureReason(int sslError);
    // Without a passphrase: the peer's first plaintext bytes, held until they are known not to
    // be the exchange's magic.
    int ReadFirst(void* buffer, int size);

    TlsRole role_;
    TlsPipe& pipe_;
    SslPtr ssl_;
    std::optional<PassphraseKey> passphrase_;
    std::uint64_t generation_ = 0;
    TlsState state_ = TlsState::Idle;
    TlsEnding ending_ = TlsEnding::None;
    CloseState closeState_ = CloseState::None;
    int pipeError_ = 0;       // a failed send or receive other than would-block
    bool sawFin_ = false;     // the pipe reported the peer's FIN
    std::string refusal_;     // why one of our own checks refused the handshake
    std::string error_;
    std::string checkCode_;
    std::string peerFingerprint_;
    bool passphraseAuthenticated_ = false;
    bool handshakeFailed_ = false;
    Exchange exchange_ = Exchange::Tls;
    std::unique_ptr<Spake2> spake_;
    std::string outgoing_;  // of the exchange, still to be written
    std::size_t written_ = 0;
    std::array<std::uint8_t, 4 + kSpakeShareSize + kSpakeMacSize> incoming_{};
    std::size_t got_ = 0;
    std::array<char, 4> first_{};
    std::size_t firstGot_ = 0;
    std::size_t firstGiven_ = 0;
    std::size_t firstWant_ = 4;
};

// Installs the checks every session makes of its peer's hello and certificate.
void InstallSessionChecks(SSL_CTX* context);

// The exporter label of the check code, this program's own.
inline constexpr char kCheckCodeLabel[] = "EXPORTER-zumelko check code";
// The exporter label of the data the passphrase exchange's confirmations cover: a relay
// between two TLS connections fails on both.
inline constexpr char kPassphraseLabel[] = "EXPORTER-zumelko team passphrase";
// What every message of the exchange starts with. A peer without a passphrase starts with a
// header's length, at most 64 KiB, which never reads as these bytes.
inline constexpr char kExchangeMagic[4] = {'Z', 'P', 'K', '1'};

// Twelve decimal digits in three groups of four, from 8 bytes of keying material.
std::string FormatCheckCode(const std::uint8_t material[8]);

}  // namespace zumelko::tls
