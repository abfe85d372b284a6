#include "transport/tls/Spake2.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <memory>
#include <vector>

#include "transport/tls/TlsContext.h"

namespace zumelko::tls {

namespace {

// M and N of the P-256 suite, compressed: points nobody knows the discrete logarithm of (the
// RFC derives them from a hash of a fixed seed).
constexpr std::uint8_t kM[33] = {0x02, 0x88, 0x6e, 0x2f, 0x97, 0xac, 0xe4, 0x6e, 0x55, 0xba, 0x9d,
                                 0xd7, 0x24, 0x25, 0x79, 0xf2, 0x99, 0x3b, 0x64, 0xe1, 0x6e, 0xf3,
                                 0xdc, 0xab, 0x95, 0xaf, 0xd4, 0x97, 0x33, 0x3d, 0x8f, 0xa1, 0x2f};
constexpr std::uint8_t kN[33] = {0x03, 0xd8, 0xbb, 0xd6, 0xc6, 0x39, 0xc6, 0x29, 0x37, 0xb0, 0x4d,
                                 0x99, 0x7f, 0x38, 0xc3, 0x77, 0x07, 0x19, 0xc6, 0x29, 0xd7, 0x01,
                                 0x4d, 0x49, 0xa2, 0x4b, 0x4f, 0x98, 0xba, 0xa1, 0x29, 0x2b, 0x49};
constexpr char kConfirmationInfo[] = "ConfirmationKeys";

[[noreturn]] void Broken(const char* step) { throw ETlsSetup(std::string("SPAKE2 failed: ") + step); }

// The group and the scratch every computation needs.
struct Curve {
    GroupPtr group{EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1)};
    std::unique_ptr<BN_CTX, BnCtxFree> bn{BN_CTX_secure_new()};
    Curve() {
        if (!group || !bn) Broken("curve");
    }
    PointPtr NewPoint() const {
        PointPtr p(EC_POINT_new(group.get()));
        if (!p) Broken("point");
        return p;
    }
    // A point from its encoding, only if it lies on the curve and is not the identity.
    PointPtr Decode(std::span<const std::uint8_t> bytes) const {
        PointPtr p = NewPoint();
        if (EC_POINT_oct2point(group.get(), p.get(), bytes.data(), bytes.size(), bn.get()) != 1 ||
            EC_POINT_is_on_curve(group.get(), p.get(), bn.get()) != 1 || EC_POINT_is_at_infinity(group.get(), p.get()) == 1)
            return nullptr;
        return p;
    }
    void Encode(const EC_POINT* p, std::array<std::uint8_t, kSpakeShareSize>& out) const {
        if (EC_POINT_point2oct(group.get(), p, POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(), bn.get()) !=
            out.size())
            Broken("encoding");
    }
    BnPtr Scalar(std::span<const std::uint8_t> bytes) const {
        BnPtr n(BN_secure_new());
        if (!n || BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), n.get()) == nullptr) Broken("scalar");
        return n;
    }
};

void AppendWithLength(std::vector<std::uint8_t>& tt, std::span<const std::uint8_t> bytes) {
    std::uint64_t length = bytes.size();
    for (int i = 0; i < 8; ++i, length >>= 8) tt.push_back(static_cast<std::uint8_t>(length & 0xFF));
    tt.insert(tt.end(), bytes.begin(), bytes.end());
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void Mac(std::span<const std::uint8_t> key, const std::vector<std::uint8_t>& data,
         std::array<std::uint8_t, kSpakeMacSize>& out) {
    std::size_t length = 0;
    if (EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.data(), key.size(), data.data(), data.size(),
                  out.data(), out.size(), &length) == nullptr ||
        length != out.size())
        Broken("HMAC");
}

}  // namespace

Spake2::Spake2(SpakeRole role, std::span<const std::uint8_t, 32> w, std::string_view idA, std::string_view idB,
               std::span<const std::uint8_t> scalar)
    : role_(role), idA_(idA), idB_(idB) {
    std::copy(w.begin(), w.end(), w_.begin());
    const Curve curve;
    const BIGNUM* order = EC_GROUP_get0_order(curve.group.get());
    if (scalar.empty()) {
        // 48 random bytes reduced modulo the order: a bias below 2^-128.
        std::array<std::uint8_t, 48> wide{};
        BnPtr x;
        do {
            if (RAND_priv_bytes(wide.data(), static_cast<int>(wide.size())) != 1) Broken("random");
            x = curve.Scalar(wide);
            if (BN_nnmod(x.get(), x.get(), order, curve.bn.get()) != 1) Broken("scalar");
        } while (BN_is_zero(x.get()));
        OPENSSL_cleanse(wide.data(), wide.size());
        if (BN_bn2binpad(x.get(), scalar_.data(), static_cast<int>(scalar_.size())) != 32) Broken("scalar");
    } else {
        if (scalar.size() != scalar_.size()) Broken("scalar");
        std::copy(scalar.begin(), scalar.end(), scalar_.begin());
    }
    const PointPtr blind = curve.Decode(role == SpakeRole::A ? std::span(kM) : std::span(kN));
    if (!blind) Broken("constant");
    const BnPtr x = curve.Scalar(scalar_);
    const BnPtr wn = curve.Scalar(w_);
    PointPtr share = curve.NewPoint();
    // x*P + w*M (or y*P + w*N) in one call.
    if (EC_POINT_mul(curve.group.get(), share.get(), x.get(), blind.get(), wn.get(), curve.bn.get()) != 1)
        Broken("share");
    curve.Encode(share.get(), share_);
}

Spake2::~Spake2() {
    OPENSSL_cleanse(w_.data(), w_.size());
    OPENSSL_cleanse(scalar_.data(), scalar_.size());
}

bool Spake2::Finish(std::span<const std::uint8_t> peerShare, std::span<const std::uint8_t> aad) {
    if (finished_ || peerShare.size() != kSpakeShareSize) return false;
    const Curve curve;
    const PointPtr peer = curve.Decode(peerShare);
    if (!peer) return false;
    // K = h*x*(pB - w*N) for A, h*y*(pA - w*M) for B; the cofactor h of P-256 is 1.
    const PointPtr blind = curve.Decode(role_ == SpakeRole::A ? std::span(kN) : std::span(kM));
    if (!blind) Broken("constant");
    const BnPtr x = curve.Scalar(scalar_);
    const BnPtr w = curve.Scalar(w_);
    PointPtr k = curve.NewPoint();
    EC_GROUP* g = curve.group.get();
    BN_CTX* bn = curve.bn.get();
    if (EC_POINT_mul(g, k.get(), nullptr, blind.get(), w.get(), bn) != 1 || EC_POINT_invert(g, k.get(), bn) != 1 ||
        EC_POINT_add(g, k.get(), peer.get(), k.get(), bn) != 1 || EC_POINT_mul(g, k.get(), nullptr, k.get(), x.get(), bn) != 1)
        Broken("key");
    if (EC_POINT_is_at_infinity(g, k.get()) == 1) return false;
    curve.Encode(k.get(), secrets_.K);

    // TT = len(A) || A || len(B) || B || len(pA) || pA || len(pB) || pB || len(K) || K || len(w) || w
    const std::span<const std::uint8_t> pA = role_ == SpakeRole::A ? std::span<const std::uint8_t>(share_) : peerShare;
    const std::span<const std::uint8_t> pB = role_ == SpakeRole::A ? peerShare : std::span<const std::uint8_t>(share_);
    std::vector<std::uint8_t> tt;
    tt.reserve(6 * 8 + idA_.size() + idB_.size() + 3 * kSpakeShareSize + w_.size());
    AppendWithLength(tt, Bytes(idA_));
    AppendWithLength(tt, Bytes(idB_));
    AppendWithLength(tt, pA);
    AppendWithLength(tt, pB);
    AppendWithLength(tt, secrets_.K);
    AppendWithLength(tt, w_);

    // Ke || Ka = Hash(TT)
    std::array<std::uint8_t, 32> hash{};
    unsigned int hashLength = 0;
    if (EVP_Digest(tt.data(), tt.size(), hash.data(), &hashLength, EVP_sha256(), nullptr) != 1 || hashLength != 32)
        Broken("hash");
    std::copy(hash.begin(), hash.begin() + 16, secrets_.Ke.begin());
    std::copy(hash.begin() + 16, hash.end(), secrets_.Ka.begin());
    OPENSSL_cleanse(hash.data(), hash.size());

    // KcA || KcB = KDF(Ka, nil, "ConfirmationKeys" || AAD)
    std::vector<std::uint8_t> info(kConfirmationInfo, kConfirmationInfo + sizeof kConfirmationInfo - 1);
    info.insert(info.end(), aad.begin(), aad.end());
    std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    std::unique_ptr<EVP_KDF_CTX, KdfCtxFree> kctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
    if (!kctx) Broken("HKDF");
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, secrets_.Ka.data(), secrets_.Ka.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
        OSSL_PARAM_construct_end(),
    };
    std::array<std::uint8_t, 32> confirmation{};
    if (EVP_KDF_derive(kctx.get(), confirmation.data(), confirmation.size(), params) != 1) Broken("HKDF");
    std::copy(confirmation.begin(), confirmation.begin() + 16, secrets_.KcA.begin());
    std::copy(confirmation.begin() + 16, confirmation.end(), secrets_.KcB.begin());
    OPENSSL_cleanse(confirmation.data(), confirmation.size());

    // cA = MAC(KcA, TT), cB = MAC(KcB, TT)
    Mac(secrets_.KcA, tt, secrets_.cA);
    Mac(secrets_.KcB, tt, secrets_.cB);
    OPENSSL_cleanse(tt.data(), tt.size());
    finished_ = true;
    return true;
}

const std::array<std::uint8_t, kSpakeMacSize>& Spake2::Confirmation() const {
    return role_ == SpakeRole::A ? secrets_.cA : secrets_.cB;
}

bool Spake2::PeerConfirms(std::span<const std::uint8_t> mac) const {
    const auto& expected = role_ == SpakeRole::A ? secrets_.cB : secrets_.cA;
    return finished_ && mac.size() == expected.size() && CRYPTO_memcmp(mac.data(), expected.data(), expected.size()) == 0;
}

}  // namespace zumelko::tls
