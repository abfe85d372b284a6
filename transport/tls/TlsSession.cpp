#include "transport/tls/TlsSession.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/tls1.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "transport/SocketComponents.h"

namespace zumelko::tls {

namespace {

// The identity under which the team's key is offered; the same for every team, since the key
// itself is what tells teams apart.
constexpr unsigned char kPskIdentity[] = "zumelko team";
// Both suites hash with SHA-256, the hash the team's key is bound to.
constexpr char kPskSuites[] = "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256";

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

    // The team's key as the resumable session TLS 1.3 offers external keys through.
    static SSL_SESSION* PskSession(SSL* ssl, const PassphraseKey& key) {
        static constexpr unsigned char kAes128GcmSha256[2] = {0x13, 0x01};
        const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, kAes128GcmSha256);
        SslSessionPtr session(SSL_SESSION_new());
        if (cipher == nullptr || !session || SSL_SESSION_set1_master_key(session.get(), key.bytes.data(), key.bytes.size()) != 1 ||
            SSL_SESSION_set_cipher(session.get(), cipher) != 1 ||
            SSL_SESSION_set_protocol_version(session.get(), TLS1_3_VERSION) != 1)
            return nullptr;
        return session.release();
    }

    // Client: offers the team's key, when there is one.
    static int UsePsk(SSL* ssl, const EVP_MD* md, const unsigned char** id, size_t* idLength, SSL_SESSION** out) {
        *out = nullptr;
        TlsSession* s = SessionOf(ssl);
        if (s == nullptr || !s->passphrase_) return 1;
        // After a retry request the suite is chosen: the key fits SHA-256 suites only, and the
        // suites offered are only those.
        if (md != nullptr && md != EVP_sha256()) return 1;
        *out = PskSession(ssl, *s->passphrase_);
        if (*out == nullptr) return 0;
        *id = kPskIdentity;
        *idLength = sizeof kPskIdentity - 1;
        return 1;
    }

    // Server: takes the team's key for its identity; anything else ends the handshake.
    static int FindPsk(SSL* ssl, const unsigned char* id, size_t idLength, SSL_SESSION** out) {
        *out = nullptr;
        TlsSession* s = SessionOf(ssl);
        if (s == nullptr || !s->passphrase_) return 0;
        if (idLength != sizeof kPskIdentity - 1 || std::memcmp(id, kPskIdentity, idLength) != 0) {
            s->refusal_ = "the peer offers an unknown key";
            return 0;
        }
        *out = PskSession(ssl, *s->passphrase_);
        return *out == nullptr ? 0 : 1;
    }

    // Server: a team's key is offered exactly when both ends have a passphrase. A server with
    // one never goes on without it (it has no certificate to go on with either); a server
    // without one refuses a client that has one rather than leave it to refuse the certificate.
    static int CheckClientHello(SSL* ssl, int* alert, void*) {
        TlsSession* s = SessionOf(ssl);
        if (s == nullptr) return SSL_CLIENT_HELLO_SUCCESS;
        const unsigned char* ext = nullptr;
        std::size_t extLength = 0;
        const bool offersKey = SSL_client_hello_get0_ext(ssl, TLSEXT_TYPE_psk, &ext, &extLength) == 1;
        if (s->passphrase_ && !offersKey) {
            s->refusal_ = "the peer has no team passphrase";
        } else if (!s->passphrase_ && offersKey) {
            s->refusal_ = "the peer uses a team passphrase, this end none";
        } else {
            return SSL_CLIENT_HELLO_SUCCESS;
        }
        *alert = SSL_AD_HANDSHAKE_FAILURE;
        return SSL_CLIENT_HELLO_ERROR;
    }

    // Our own check of the peer's certificate, in place of chain verification: any key will do
    // (the users compare the check code), but exactly one certificate, and none at all where
    // a team's key should have been used.
    static int VerifyPeer(X509_STORE_CTX* store, void*) {
        auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        TlsSession* s = SessionOf(ssl);
        if (s == nullptr) return 0;
        std::string refusal;
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_untrusted(store);
        X509* leaf = X509_STORE_CTX_get0_cert(store);
        if (s->passphrase_) {
            refusal = "the peer has no team passphrase";
        } else if (leaf == nullptr || (chain != nullptr && sk_X509_num(chain) > 1)) {
            refusal = "the peer's certificate comes with a chain";
        } else {
            s->peerFingerprint_ = CertificateFingerprint(leaf);
            return 1;
        }
        s->refusal_ = refusal;
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
    bool ok = true;
    if (passphrase_) {
        // No certificates: the team's key authenticates both ends, and a TLS 1.3 server sends no
        // certificate request in a handshake with a key.
        ok = SSL_set_ciphersuites(ssl, kPskSuites) == 1;
        if (role == TlsRole::Client) {
            SSL_set_psk_use_session_callback(ssl, SessionCallbacks::UsePsk);
            SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
        } else {
            SSL_set_psk_find_session_callback(ssl, SessionCallbacks::FindPsk);
            SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
        }
    } else {
        ok = SSL_use_certificate(ssl, context.Certificate()) == 1 && SSL_use_PrivateKey(ssl, context.Key()) == 1;
        SSL_set_verify(ssl, role == TlsRole::Server ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT : SSL_VERIFY_PEER,
                       nullptr);
    }
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
    if (state_ == TlsState::Handshaking) {
        ERR_clear_error();
        const int r = SSL_do_handshake(ssl_.get());
        if (r == 1) {
            FinishHandshake();
        } else {
            Settle(r, true);
        }
    }
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
        } else if (r == SSL_R_BINDER_DOES_NOT_VERIFY) {
            reason = "the team passphrases differ";
        } else if (const char* text = ERR_reason_error_string(e)) {
            reason = text;
        } else {
            reason = "error " + std::to_string(r);
        }
        // An alert from the peer: it refused. A server refuses a team key made from another
        // passphrase for its binder, with illegal_parameter.
        if (r > SSL_AD_REASON_OFFSET) {
            const int alert = r - SSL_AD_REASON_OFFSET;
            const bool otherKey = passphrase_ && role_ == TlsRole::Client &&
                                  (alert == SSL_AD_ILLEGAL_PARAMETER || alert == SSL_AD_DECRYPT_ERROR);
            reason = (otherKey ? "the team passphrases differ (" : "the peer refused it (") + reason + ")";
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
}

void TlsSession::FinishHandshake() {
    SSL* ssl = ssl_.get();
    if (passphrase_ && SSL_session_reused(ssl) != 1) {
        Fail("the peer did not prove the team passphrase");
        return;
    }
    if (!passphrase_ && SSL_get0_peer_certificate(ssl) == nullptr) {
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
    passphraseAuthenticated_ = passphrase_.has_value();
    state_ = TlsState::Open;
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
