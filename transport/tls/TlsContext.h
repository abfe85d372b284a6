#pragma once
// What every encrypted connection of this instance shares: a key and a self-signed certificate
// made fresh at every start (kept in memory only), and, for a team, the scalar derived from its
// passphrase. Certificates are not checked against any authority: a peer is known by the
// fingerprint of its certificate and by the check code both users compare once, or, with a
// passphrase, by proving in a password-authenticated exchange inside the TLS connection that
// it knows the same passphrase.
#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zumelko::tls {

// OpenSSL handles, each freed by its own function.
struct SslCtxFree { void operator()(SSL_CTX* p) const; };
struct SslFree { void operator()(SSL* p) const; };
struct PkeyFree { void operator()(EVP_PKEY* p) const; };
struct X509Free { void operator()(X509* p) const; };
struct SslSessionFree { void operator()(SSL_SESSION* p) const; };
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;
using SslSessionPtr = std::unique_ptr<SSL_SESSION, SslSessionFree>;
// The same for the curve arithmetic and key derivation of the passphrase; numbers and points
// are wiped as they are freed.
struct GroupFree { void operator()(EC_GROUP* p) const; };
struct PointFree { void operator()(EC_POINT* p) const; };
struct BnFree { void operator()(BIGNUM* p) const; };
struct BnCtxFree { void operator()(BN_CTX* p) const; };
struct KdfFree { void operator()(EVP_KDF* p) const; };
struct KdfCtxFree { void operator()(EVP_KDF_CTX* p) const; };
using GroupPtr = std::unique_ptr<EC_GROUP, GroupFree>;
using PointPtr = std::unique_ptr<EC_POINT, PointFree>;
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

// A failure of this machine's own TLS set-up (no memory, a broken library), never of the network.
class ETlsSetup : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The scalar w of a team's password-authenticated exchange (32 bytes big-endian, below the
// order of P-256), derived from its passphrase; wiped from memory when dropped.
struct PassphraseKey {
    std::array<std::uint8_t, 32> bytes{};
    PassphraseKey() = default;
    PassphraseKey(const PassphraseKey&) = default;
    PassphraseKey& operator=(const PassphraseKey&) = default;
    ~PassphraseKey() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

// The cost of the derivation: scrypt with N = 2^15, r = 8, p = 1 (32 MiB, about a tenth of a
// second on a desktop) over a fixed salt of this program's own, since nothing may be stored.
// A recorded connection confirms no guess, and a peer that takes part in one confirms one
// guess per connection; the cost is still there for whoever learns w itself (from a memory
// dump) and wants the passphrase, which may serve elsewhere. Derive once when the passphrase
// changes, never per connection. Two desktops derive the
// same key only from the same bytes: pass the passphrase as UTF-8 on every desktop. Throws
// ETlsSetup.
PassphraseKey DerivePassphraseKey(std::string_view passphrase);

// SHA-256 of a certificate's DER form, as 64 lowercase hex digits.
std::string CertificateFingerprint(X509* certificate);

// Most the peer's certificate list may hold, in bytes; its chain must be its one certificate.
constexpr long kMaxPeerCertificateList = 16 * 1024;

class TlsContext {
public:
    // Makes the identity (ECDSA P-256 key, certificate signed by itself). Throws ETlsSetup.
    TlsContext();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // The team's key; sessions started afterwards use it, sessions under way keep what they began
    // with. Without one (the default), peers authenticate by certificate fingerprint and check code.
    void SetPassphraseKey(const PassphraseKey& key) {
        if (!passphrase_ || CRYPTO_memcmp(passphrase_->bytes.data(), key.bytes.data(), key.bytes.size()) != 0) ++generation_;
        passphrase_ = key;
    }
    void ClearPassphrase() {
        if (passphrase_) ++generation_;
        passphrase_.reset();
    }
    const std::optional<PassphraseKey>& Passphrase() const { return passphrase_; }
    // Counts the changes of the passphrase, so that a session can be told from one begun under
    // another passphrase (or none) than the one set now.
    std::uint64_t PassphraseGeneration() const { return generation_; }

    // This instance's certificate fingerprint, for the user to compare.
    const std::string& Fingerprint() const { return fingerprint_; }

    SSL_CTX* Handle() const { return ctx_.get(); }
    X509* Certificate() const { return certificate_.get(); }
    EVP_PKEY* Key() const { return key_.get(); }

private:
    SslCtxPtr ctx_;
    PkeyPtr key_;
    X509Ptr certificate_;
    std::string fingerprint_;
    std::optional<PassphraseKey> passphrase_;
    std::uint64_t generation_ = 0;
};

}  // namespace zumelko::tls
