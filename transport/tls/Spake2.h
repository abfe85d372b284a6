#pragma once
// One side of a password-authenticated key exchange (SPAKE2 as RFC 9382 defines it, on P-256
// with SHA-256, HKDF-SHA256 and HMAC-SHA256). Each side sends one point that hides its random
// share behind the password's scalar w; whoever holds another w computes another key, and a
// peer that does not know w learns whether one guess was right per exchange it takes part in,
// nothing more. A recording of the messages confirms no guess at all.
//
// The key itself is not used: the connection is encrypted already. What counts is the
// confirmation each side sends, a MAC over the whole transcript under a key that also covers
// the caller's associated data (here the TLS exporter, which ties the exchange to one TLS
// connection).
#include <openssl/crypto.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zumelko::tls {

inline constexpr std::size_t kSpakeShareSize = 65;  // an uncompressed SEC1 point
inline constexpr std::size_t kSpakeMacSize = 32;

enum class SpakeRole { A, B };  // A sends pA = x*P + w*M, B sends pB = y*P + w*N

// What the exchange derived, wiped when dropped. Ke is derived as the RFC says but unused here.
struct SpakeSecrets {
    std::array<std::uint8_t, kSpakeShareSize> K{};
    std::array<std::uint8_t, 16> Ke{}, Ka{}, KcA{}, KcB{};
    std::array<std::uint8_t, kSpakeMacSize> cA{}, cB{};
    SpakeSecrets() = default;
    SpakeSecrets(const SpakeSecrets&) = delete;
    SpakeSecrets& operator=(const SpakeSecrets&) = delete;
    ~SpakeSecrets() { OPENSSL_cleanse(this, sizeof *this); }
};

class Spake2 {
public:
    // w: the password's scalar, 32 bytes big-endian, below the group order. idA, idB: the
    // identities the transcript names. scalar: empty for a fresh random one (every real
    // exchange); a fixed one only to reproduce published vectors. Throws ETlsSetup.
    Spake2(SpakeRole role, std::span<const std::uint8_t, 32> w, std::string_view idA = {}, std::string_view idB = {},
           std::span<const std::uint8_t> scalar = {});
    ~Spake2();
    Spake2(const Spake2&) = delete;
    Spake2& operator=(const Spake2&) = delete;

    // This side's message, pA or pB.
    const std::array<std::uint8_t, kSpakeShareSize>& Share() const { return share_; }

    // Takes the peer's message and derives the keys, with aad in the confirmation keys. False
    // when the message is no point of the group other than the identity (or the key would be
    // the identity): the exchange is over. Throws ETlsSetup.
    bool Finish(std::span<const std::uint8_t> peerShare, std::span<const std::uint8_t> aad);

    // After Finish: this side's confirmation, and whether the peer's is right (in constant time).
    const std::array<std::uint8_t, kSpakeMacSize>& Confirmation() const;
    bool PeerConfirms(std::span<const std::uint8_t> mac) const;

    const SpakeSecrets& Secrets() const { return secrets_; }

private:
    SpakeRole role_;
    std::array<std::uint8_t, 32> w_{};
    std::array<std::uint8_t, 32> scalar_{};
    std::string idA_, idB_;
    std::array<std::uint8_t, kSpakeShareSize> share_{};
    SpakeSecrets secrets_;
    bool finished_ = false;
};

}  // namespace zumelko::tls
