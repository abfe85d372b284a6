#include "transport/tls/TlsContext.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>

#include "transport/tls/TlsSession.h"

namespace zumelko::tls {

void SslCtxFree::operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
void SslFree::operator()(SSL* p) const { SSL_free(p); }
void PkeyFree::operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
void X509Free::operator()(X509* p) const { X509_free(p); }
void SslSessionFree::operator()(SSL_SESSION* p) const { SSL_SESSION_free(p); }
void GroupFree::operator()(EC_GROUP* p) const { EC_GROUP_free(p); }
void PointFree::operator()(EC_POINT* p) const { EC_POINT_clear_free(p); }
void BnFree::operator()(BIGNUM* p) const { BN_clear_free(p); }
void BnCtxFree::operator()(BN_CTX* p) const { BN_CTX_free(p); }
void KdfFree::operator()(EVP_KDF* p) const { EVP_KDF_free(p); }
void KdfCtxFree::operator()(EVP_KDF_CTX* p) const { EVP_KDF_CTX_free(p); }

namespace {

struct X509NameFree { void operator()(X509_NAME* p) const { X509_NAME_free(p); } };

[[noreturn]] void SetupFailed(const char* step) {
    std::string text = std::string("TLS set-up failed: ") + step;
    if (const unsigned long e = ERR_get_error(); e != 0) {
        if (const char* reason = ERR_reason_error_string(e)) text += std::string(": ") + reason;
    }
    ERR_clear_error();
    throw ETlsSetup(text);
}

// The salt is fixed and the program's own: nothing may be stored, and two instances must derive
// the same key from the same passphrase without talking first. It is not the salt of the
// earlier pre-shared key, whose recorded handshakes can be attacked offline: a table of
// guesses made against those gives nothing here.
constexpr char kPassphraseSalt[] = "zumelko team passphrase 2";
constexpr std::uint64_t kScryptN = 1u << 15;
constexpr std::uint32_t kScryptR = 8;
constexpr std::uint32_t kScryptP = 1;

// The application protocol both ends name, as a length-prefixed list of one.
constexpr unsigned char kAlpn[] = "\x09" "zumelko/1";

// Server: takes zumelko/1 when offered and refuses a client that names only other protocols
// (no_application_protocol). A client that names none is taken: instances of the previous
// version offer no ALPN at all.
int SelectAlpn(SSL*, const unsigned char** out, unsigned char* outLength, const unsigned char* offered,
               unsigned int offeredLength, void*) {
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, outLength, kAlpn, sizeof kAlpn - 1, offered, offeredLength) !=
        OPENSSL_NPN_NEGOTIATED)
        return SSL_TLSEXT_ERR_ALERT_FATAL;
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

X509Ptr SelfSignedCertificate(EVP_PKEY* key) {
    X509Ptr cert(X509_new());
    if (!cert) SetupFailed("certificate");
    std::uint8_t serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) SetupFailed("random serial number");
    serial[0] &= 0x7F;  // a positive number
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = bn != nullptr && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
    BN_free(bn);
    if (!serialSet) SetupFailed("serial number");
    std::unique_ptr<X509_NAME, X509NameFree> name(X509_NAME_new());
    static constexpr unsigned char kCommonName[] = "zumelko";
    if (!name || X509_set_version(cert.get(), 2) != 1 ||
        X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_ASC, kCommonName, -1, -1, 0) != 1 ||
        X509_set_subject_name(cert.get(), name.get()) != 1 || X509_set_issuer_name(cert.get(), name.get()) != 1 ||
        // Clocks of desktops disagree; the certificate is never checked for dates anyway.
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600) == nullptr ||
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600) == nullptr ||
        X509_set_pubkey(cert.get(), key) != 1 || X509_sign(cert.get(), key, EVP_sha256()) <= 0)
        SetupFailed("certificate");
    return cert;
}

}  // namespace

PassphraseKey DerivePassphraseKey(std::string_view passphrase) {
    std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "SCRYPT", nullptr));
    if (!kdf) SetupFailed("scrypt");
    std::unique_ptr<EVP_KDF_CTX, KdfCtxFree> ctx(EVP_KDF_CTX_new(kdf.get()));
    if (!ctx) SetupFailed("scrypt");
    // HMAC pads its key with zeros, so "x" and "x\0" would give the same key: a byte of 1
    // after every passphrase keeps distinct passphrases distinct.
    std::string password(passphrase);
    password += '\x01';
    std::uint64_t n = kScryptN;
    std::uint32_t r = kScryptR;
    std::uint32_t p = kScryptP;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, password.data(), password.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char*>(kPassphraseSalt),
                                          sizeof kPassphraseSalt - 1),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_end(),
    };
    // 48 bytes reduced modulo the group order: 64 bits more than the order has, so the bias of
    // the reduction is below 2^-64.
    std::array<std::uint8_t, 48> wide{};
    const bool derived = EVP_KDF_derive(ctx.get(), wide.data(), wide.size(), params) == 1;
    OPENSSL_cleanse(password.data(), password.size());
    std::unique_ptr<EC_GROUP, GroupFree> group(EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1));
    std::unique_ptr<BN_CTX, BnCtxFree> bn(BN_CTX_secure_new());
    std::unique_ptr<BIGNUM, BnFree> w(BN_secure_new());
    PassphraseKey key;
    const bool reduced = derived && group && bn && w &&
                         BN_bin2bn(wide.data(), static_cast<int>(wide.size()), w.get()) != nullptr &&
                         BN_nnmod(w.get(), w.get(), EC_GROUP_get0_order(group.get()), bn.get()) == 1 &&
                         BN_bn2binpad(w.get(), key.bytes.data(), static_cast<int>(key.bytes.size())) == 32;
    OPENSSL_cleanse(wide.data(), wide.size());
    if (!reduced) SetupFailed("scrypt");
    return key;
}

std::string CertificateFingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

TlsContext::TlsContext() {
    key_.reset(EVP_EC_gen("P-256"));
    if (!key_) SetupFailed("key");
    certificate_ = SelfSignedCertificate(key_.get());
    fingerprint_ = CertificateFingerprint(certificate_.get());

    ctx_.reset(SSL_CTX_new(TLS_method()));
    if (!ctx_) SetupFailed("context");
    SSL_CTX* c = ctx_.get();
    // TLS 1.3 and nothing older: an older peer is refused with "unsupported protocol".
    // No tickets, no resumption, no compression (there is no renegotiation in 1.3, and older
    // versions never get that far).
    if (SSL_CTX_set_min_proto_version(c, TLS1_3_VERSION) != 1 || SSL_CTX_set_max_proto_version(c, TLS1_3_VERSION) != 1)
        SetupFailed("protocol version");
    SSL_CTX_set_options(c, SSL_OP_NO_TICKET | SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_clear_options(c, SSL_OP_ALLOW_NO_DHE_KEX);
    SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_OFF);
    if (SSL_CTX_set_num_tickets(c, 0) != 1) SetupFailed("tickets");
    SSL_CTX_set_max_cert_list(c, kMaxPeerCertificateList);
    // Writes may take part of a buffer and be retried from another address.
    SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_clear_mode(c, SSL_MODE_AUTO_RETRY);
    // Only key exchanges and signatures that cost a peer as much as they cost this end: a hello
    // offering 8192-bit finite-field groups, or a certificate with an RSA key and a huge exponent,
    // would buy milliseconds of this program's one loop for one replayed packet. The identities
    // are ECDSA P-256 keys; both lists hold for what is offered and for what is accepted.
    if (SSL_CTX_set1_groups_list(c, "X25519:P-256") != 1 ||
        SSL_CTX_set1_sigalgs_list(c, "ecdsa_secp256r1_sha256:ed25519") != 1 ||
        SSL_CTX_set1_client_sigalgs_list(c, "ecdsa_secp256r1_sha256:ed25519") != 1)
        SetupFailed("groups and signature algorithms");
    if (SSL_CTX_set_alpn_protos(c, kAlpn, sizeof kAlpn - 1) != 0) SetupFailed("application protocol");
    SSL_CTX_set_alpn_select_cb(c, SelectAlpn, nullptr);
    InstallSessionChecks(c);
}

TlsContext::~TlsContext() = default;

}  // namespace zumelko::tls
