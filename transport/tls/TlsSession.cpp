#include "transport/tls/TlsSession.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/tls1.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>

#include "transport/SocketComponents.h"

namespace zumelko::tls {

namespace {

bool IsReset(int code) { return code == platform::WSAECONNRESET_ || code == 10053 /*WSAECONNABORTED*/; }

TlsSession* SessionOf(SSL* ssl) { return ssl == nullptr ? nullptr : static_cast<TlsSession*>(SSL_get_app_data(ssl)); }

struct BioMethodFree {
    void operator()(BIO_METHOD* p) const { BIO_meth_free(p); }
};

}  // namespace

// OpenSSL's callbacks, with access to the session they serve.
struct SessionCallbacks {
    static int PipeWrite(BIO* bio, const char* data, int length) {
        auto* s = static_cast<TlsSession*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        int error = 0;
        const int n = s->pipe_.Send(data, length, error);
        if (n > 0) return n;
        if (n < 0 && error != platform::WSAEWOULDBLOCK_) {
            s->pipeError_ = error;
            return -1;
        }
        BIO_set_retry_write(bio);
        return -1;
    }

    static int PipeRead(BIO* bio, char* buffer, int size) {
        auto* s = static_cast<TlsSession*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        if (s->sawFin_) return 0;
        int error = 0;
        const int n = s->pipe_.Receive(buffer, size, error);
        if (n > 0) return n;
        if (n == 0) {
            s->sawFin_ = true;
            return 0;
        }
        if (error == platform::WSAEWOULDBLOCK_) {
            BIO_set_retry_read(bio);
        } else {
            s->pipeError_ = error;
        }
        return -1;
    }

    static long PipeCtrl(BIO* bio, int command, long, void*) {
        switch (command) {
            case BIO_CTRL_FLUSH: return 1;  // every write goes straight to the socket
            case BIO_CTRL_EOF: return static_cast<TlsSession*>(BIO_get_data(bio))->sawFin_ ? 1 : 0;
            default: return 0;
        }
    }

    static BIO_METHOD* PipeMethod() {
        static const std::unique_ptr<BIO_METHOD, BioMethodFree> method = [] {
            std::unique_ptr<BIO_METHOD, BioMethodFree> m(
                BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zumelko socket"));
            if (m) {
                BIO_meth_set_write(m.get(), PipeWrite);
                BIO_meth_set_read(m.get(), PipeRead);
                BIO_meth_set_ctrl(m.get(), PipeCtrl);
            }
            return m;
        }();
        return method.get();
    }

    // Server: an earlier version of this program offered the team's passphrase as a TLS
    // pre-shared key, whose binder lets a recording test guesses; such a hello is refused at once.
    static int CheckClientHello(SSL* ssl, int* alert, void*) {
        TlsSession* s = SessionOf(ssl);
        if (s == nullptr) return SSL_CLIENT_HELLO_SUCCESS;
        const unsigned char* ext = nullptr;
        std::size_t extLength = 0;
        if (SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_psk, &ext, &extLength) != 1) return SSL_CLIENT_HELLO_SUCCESS;
        s->refusal_ = "the peer uses the team passphrase of an older version";
        *alert = SSL_AD_HANDSHAKE_FAILURE;
        return SSL_CLIENT_HELLO_ERROR;
    }

    // Our own check of the peer's certificate, in place of chain verification: any key will do
    // (the users compare the check code, or the passphrase exchange that follows proves the
    // peer), but exactly one certificate.
    static int VerifyPeer(X509_STORE_CTX* store, void*) {
        auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        TlsSession* s = SessionOf(ssl);
        if (s == nullptr) return 0;
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_untrusted(store);
        X509* leaf = X509_STORE_CTX_get0_cert(store);
        if (leaf != nullptr && (chain == nullptr || sk_X509_num(chain) <= 1)) {
            s->peerFingerprint_ = CertificateFingerprint(leaf);
            return 1;
        }
        s->refusal_ = "the peer's certificate comes with a chain";
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }
};

void InstallSessionChecks(SSL_CTX* context) {
    SSL_CTX_set_cert_verify_callback(context, SessionCallbacks::VerifyPeer, nullptr);
    SSL_CTX_set_client_hello_cb(context, SessionCallbacks::CheckClientHello, nullptr);
}

std::string FormatCheckCode(const std::uint8_t material[8]) {
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | material[i];
    // 2^64 is 18 million times 10^12: the remainder is as good as uniform.
    value %= 1000000000000ull;
    char digits[13];
    std::snprintf(digits, sizeof digits, "%012llu", static_cast<unsigned long long>(value));
    return std::string(digits, 4) + ' ' + std::string(digits + 4, 4) + ' ' + std::string(digits + 8, 4);
}

TlsSession::TlsSession(const TlsContext& context, TlsRole role, TlsPipe& pipe)
    : role_(role), pipe_(pipe), passphrase_(context.Passphrase()), generation_(context.PassphraseGeneration()) {
    ERR_clear_error();
    ssl_.reset(SSL_new(context.Handle()));
    BIO_METHOD* method = SessionCallbacks::PipeMethod();
    BIO* bio = ssl_ && method != nullptr ? BIO_new(method) : nullptr;
    if (bio == nullptr) {
        Fail("out of memory");
        return;
    }
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL* ssl = ssl_.get();
    SSL_set_bio(ssl, bio, bio);
    SSL_set_app_data(ssl, this);
    // The same handshake with a passphrase or without: the exchange that proves the passphrase
    // follows it, inside the connection.
    const bool ok = SSL_use_certificate(ssl, context.Certificate()) == 1 && SSL_use_PrivateKey(ssl, context.Key()) == 1;
    SSL_set_verify(ssl, role == TlsRole::Server ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT : SSL_VERIFY_PEER,
                   nullptr);
    if (!ok) {
        Fail("set-up of the session failed");
        return;
    }
    if (role == TlsRole::Client) {
        SSL_set_connect_state(ssl);
    } else {
        SSL_set_accept_state(ssl);
    }
}

TlsSession::~TlsSession() = default;

void TlsSession::Start() {
    if (state_ != TlsState::Idle) return;
    state_ = TlsState::Handshaking;
    Advance();
}

TlsState TlsSession::Advance() {
    if (state_ == TlsState::Handshaking && exchange_ == Exchange::Tls) {
        ERR_clear_error();
        const int r = SSL_do_handshake(ssl_.get());
        if (r == 1) {
            FinishHandshake();
        } else {
            Settle(r, true);
        }
    }
    if (state_ == TlsState::Handshaking && exchange_ != Exchange::Tls) StepExchange();
    if (closeState_ == CloseState::Pending && (state_ == TlsState::Open || state_ == TlsState::Closed)) {
        ERR_clear_error();
        const int r = SSL_shutdown(ssl_.get());
        if (r >= 0) {
            closeState_ = CloseState::Sent;
        } else {
            Settle(r, false);
        }
    }
    return state_;
}

int TlsSession::Read(void* buffer, int size) {
    if (state_ == TlsState::Handshaking) Advance();
    if (state_ == TlsState::Idle || state_ == TlsState::Handshaking) return 0;
    if (!passphrase_ && firstGiven_ < firstWant_ && state_ != TlsState::Failed && size > 0) return ReadFirst(buffer, size);
    if (state_ != TlsState::Open) return -1;
    if (size <= 0) return 0;
    ERR_clear_error();
    std::size_t got = 0;
    const int r = SSL_read_ex(ssl_.get(), buffer, static_cast<std::size_t>(size), &got);
    if (r == 1) return static_cast<int>(got);
    if (Settle(r, false)) return 0;
    return state_ == TlsState::Open ? 0 : -1;
}

int TlsSession::Write(const void* data, int length) {
    if (state_ == TlsState::Handshaking) Advance();
    if (state_ == TlsState::Idle || state_ == TlsState::Handshaking) return 0;
    // A peer that ended its side in order may still read: TLS 1.3 closes each way on its own.
    if ((state_ != TlsState::Open && state_ != TlsState::Closed) || closeState_ != CloseState::None) return -1;
    if (length <= 0) return 0;
    ERR_clear_error();
    std::size_t sent = 0;
    const int r = SSL_write_ex(ssl_.get(), data, static_cast<std::size_t>(length), &sent);
    if (r == 1) return static_cast<int>(sent);
    const TlsState before = state_;
    Settle(r, false);
    return state_ == before ? 0 : -1;
}

void TlsSession::Close() {
    if (closeState_ != CloseState::None || (state_ != TlsState::Open && state_ != TlsState::Closed)) return;
    closeState_ = CloseState::Pending;
    Advance();
}

bool TlsSession::Settle(int result, bool handshake) {
    const int code = SSL_get_error(ssl_.get(), result);
    if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) return false;
    if (code == SSL_ERROR_ZERO_RETURN) {
        ending_ = TlsEnding::CloseNotify;
        state_ = TlsState::Closed;
        return false;
    }
    if (pipeError_ != 0 && IsReset(pipeError_)) ending_ = TlsEnding::Reset;
    if (!handshake && sawFin_ && pipeError_ == 0 && ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        // The peer closed its side without a close_notify: no failure of this connection, but
        // the owner is told, since what it sent last may be cut short.
        ERR_clear_error();
        ending_ = TlsEnding::Fin;
        state_ = TlsState::Closed;
        return false;
    }
    if (sawFin_ && ending_ == TlsEnding::None) ending_ = TlsEnding::Fin;
    Fail(FailureReason(code));
    return false;
}

std::string TlsSession::FailureReason(int sslError) {
    std::string reason;
    if (!refusal_.empty()) {
        reason = refusal_;
    } else if (pipeError_ != 0) {
        reason = WinsockErrorText(pipeError_);
    } else if (const unsigned long e = ERR_peek_error(); e != 0) {
        const int r = ERR_GET_REASON(e);
        if (r == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
            reason = "the peer closed the connection";
        } else if (const char* text = ERR_reason_error_string(e)) {
            reason = text;
        } else {
            reason = "error " + std::to_string(r);
        }
        // An alert from the peer: it refused. An earlier version of this program with a
        // passphrase refuses a hello without its pre-shared key so.
        if (r > SSL_AD_REASON_OFFSET) {
            reason = "the peer refused it (" + reason + ")";
            if (passphrase_ && role_ == TlsRole::Client && r - SSL_AD_REASON_OFFSET == SSL_AD_HANDSHAKE_FAILURE)
                reason += ": it may run an older version, or have no team passphrase";
        }
    } else if (sawFin_) {
        reason = "the peer closed the connection";
    } else {
        reason = sslError == SSL_ERROR_SYSCALL ? "connection lost" : "internal error";
    }
    ERR_clear_error();
    return reason;
}

void TlsSession::Fail(const std::string& reason) {
    if (state_ == TlsState::Failed) return;
    const bool handshake = state_ != TlsState::Open && state_ != TlsState::Closed;
    error_ = std::string(handshake ? "TLS handshake failed: " : "TLS connection failed: ") + reason;
    state_ = TlsState::Failed;
    handshakeFailed_ = handshake;
    if (handshake) checkCode_.clear();
}

void TlsSession::FinishHandshake() {
    SSL* ssl = ssl_.get();
    if (SSL_get0_peer_certificate(ssl) == nullptr) {
        Fail("the peer presented no certificate");
        return;
    }
    std::uint8_t material[8];
    if (SSL_export_keying_material(ssl, material, sizeof material, kCheckCodeLabel, sizeof kCheckCodeLabel - 1,
                                   nullptr, 0, 0) != 1) {
        Fail("no check code");
        return;
    }
    checkCode_ = FormatCheckCode(material);
    if (!passphrase_) {
        state_ = TlsState::Open;
        return;
    }
    // The state stays Handshaking through the exchange, so the owner's handshake deadline
    // covers it and nothing is written or read before it is over.
    try {
        spake_ = std::make_unique<Spake2>(role_ == TlsRole::Client ? SpakeRole::A : SpakeRole::B, passphrase_->bytes);
    } catch (const ETlsSetup&) {
        Fail("set-up of the passphrase exchange failed");
        return;
    }
    outgoing_.assign(kExchangeMagic, sizeof kExchangeMagic);
    outgoing_.append(reinterpret_cast<const char*>(spake_->Share().data()), spake_->Share().size());
    exchange_ = Exchange::Magic;
    StepExchange();
}

bool TlsSession::ExchangeRead(std::size_t want) {
    while (got_ < want) {
        ERR_clear_error();
        std::size_t n = 0;
        const int r = SSL_read_ex(ssl_.get(), incoming_.data() + got_, want - got_, &n);
        if (r == 1) {
            got_ += n;
            continue;
        }
        const int code = SSL_get_error(ssl_.get(), r);
        if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) return false;
        // A peer without a passphrase or of an older version ends the connection here.
        if (code == SSL_ERROR_ZERO_RETURN || sawFin_ || IsReset(pipeError_)) {
            ending_ = IsReset(pipeError_) ? TlsEnding::Reset : code == SSL_ERROR_ZERO_RETURN ? TlsEnding::CloseNotify : TlsEnding::Fin;
            ERR_clear_error();
            Fail("the peer ended the passphrase exchange: it may have no team passphrase or run an older version");
        } else {
            Fail(FailureReason(code));
        }
        return false;
    }
    return true;
}

void TlsSession::StepExchange() {
    const std::size_t shareEnd = sizeof kExchangeMagic + kSpakeShareSize;
    for (;;) {
        while (written_ < outgoing_.size()) {
            ERR_clear_error();
            std::size_t n = 0;
            const int r = SSL_write_ex(ssl_.get(), outgoing_.data() + written_, outgoing_.size() - written_, &n);
            if (r != 1) {
                Settle(r, true);
                return;
            }
            written_ += n;
        }
        switch (exchange_) {
            case Exchange::Magic:
                if (!ExchangeRead(sizeof kExchangeMagic)) return;
                if (std::memcmp(incoming_.data(), kExchangeMagic, sizeof kExchangeMagic) != 0) {
                    Fail("the peer has no team passphrase");
                    return;
                }
                exchange_ = Exchange::Share;
                break;
            case Exchange::Share: {
                // The client reads the server's confirmation along with its share.
                if (!ExchangeRead(role_ == TlsRole::Client ? shareEnd + kSpakeMacSize : shareEnd)) return;
                std::array<std::uint8_t, 32> aad{};
                if (SSL_export_keying_material(ssl_.get(), aad.data(), aad.size(), kPassphraseLabel,
                                               sizeof kPassphraseLabel - 1, nullptr, 0, 0) != 1) {
                    Fail("no keying material for the passphrase exchange");
                    return;
                }
                bool valid = false;
                try {
                    valid = spake_->Finish(std::span(incoming_).subspan(sizeof kExchangeMagic, kSpakeShareSize), aad);
                } catch (const ETlsSetup&) {
                    Fail("the passphrase exchange failed");
                    return;
                }
                if (!valid) {
                    Fail("the peer's passphrase exchange is malformed");
                    return;
                }
                outgoing_.assign(reinterpret_cast<const char*>(spake_->Confirmation().data()), kSpakeMacSize);
                written_ = 0;
                got_ = 0;
                if (role_ == TlsRole::Server) {
                    exchange_ = Exchange::Confirmation;
                } else if (spake_->PeerConfirms(std::span(incoming_).subspan(shareEnd, kSpakeMacSize))) {
                    exchange_ = Exchange::Done;
                } else {
                    // Not our confirmation but bytes that say nothing, so that the server fails
                    // for the same reason rather than for a closed connection.
                    outgoing_.assign(kSpakeMacSize, '\0');
                    exchange_ = Exchange::Refusing;
                }
                break;
            }
            case Exchange::Confirmation:
                if (!ExchangeRead(kSpakeMacSize)) return;
                if (!spake_->PeerConfirms(std::span(incoming_).first(kSpakeMacSize))) {
                    Fail("the team passphrases differ");
                    return;
                }
                exchange_ = Exchange::Done;
                break;
            case Exchange::Refusing:
                Fail("the team passphrases differ");
                return;
            case Exchange::Done:
                spake_.reset();
                passphraseAuthenticated_ = true;
                state_ = TlsState::Open;
                return;
            case Exchange::Tls:
                return;
        }
    }
}

int TlsSession::ReadFirst(void* buffer, int size) {
    while (firstGot_ < firstWant_) {
        ERR_clear_error();
        std::size_t n = 0;
        const int r = SSL_read_ex(ssl_.get(), first_.data() + firstGot_, firstWant_ - firstGot_, &n);
        if (r != 1) {
            Settle(r, false);
            if (state_ == TlsState::Open) return 0;
            if (state_ == TlsState::Failed || firstGot_ == firstGiven_) return -1;
            firstWant_ = firstGot_;  // the peer ended before four bytes: what it sent is still its
            break;
        }
        firstGot_ += n;
        if (firstGot_ == first_.size() && std::memcmp(first_.data(), kExchangeMagic, sizeof kExchangeMagic) == 0) {
            // Open already on this end, but for the peer and the user the handshake failed.
            state_ = TlsState::Handshaking;
            Fail("the peer uses a team passphrase, this end none");
            return -1;
        }
    }
    const std::size_t n = std::min(firstGot_ - firstGiven_, static_cast<std::size_t>(size));
    std::memcpy(buffer, first_.data() + firstGiven_, n);
    firstGiven_ += n;
    return static_cast<int>(n);
}

// ---------------------------------------------------------------------------------------------

int ClientPipe::Send(const void* data, int length, int& error) {
    const int n = client_.Send(data, length);
    if (n < 0) error = client_.LastError();
    return n;
}

int ClientPipe::Receive(void* buffer, int size, int& error) {
    const int n = client_.Receive(buffer, size);
    if (n < 0) error = client_.LastError();
    return n;
}

int ServerPipe::Send(const void* data, int length, int& error) {
    const int n = server_.Send(handle_, data, length);
    if (n < 0) error = server_.LastError();
    return n;
}

int ServerPipe::Receive(void* buffer, int size, int& error) {
    const int n = server_.Receive(handle_, buffer, size);
    if (n < 0) error = server_.LastError();
    return n;
}

}  // namespace zumelko::tls
