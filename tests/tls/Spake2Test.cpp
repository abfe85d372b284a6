// The exchange against RFC 9382's published P-256 vectors (the first with the identities
// "server" and "client", the last with empty identities, as this program uses), and what it
// makes of a peer's message that is no point of the group.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/tls/Spake2.h"

namespace zumelko {
namespace {

std::vector<std::uint8_t> Unhex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& bytes, std::string hex = {}) {
    for (std::uint8_t b : bytes) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
    return hex;
}

TEST(Spake2, PublishedVectorsAndPointsOffTheGroup) {
    struct Vector {
        const char *idA, *idB, *w, *x, *y, *hashTT, *pA, *pB, *K, *KcA, *KcB, *cA, *cB;
    };
    const Vector vectors[] = {
        {"server", "client", "2ee57912099d31560b3a44b1184b9b4866e904c49d12ac5042c97dca461b1a5f", "43dd0fd7215bdcb482879fca3220c6a968e66d70b1356cac18bb26c84a78d729",
         "dcb60106f276b02606d8ef0a328c02e4b629f84f89786af5befb0bc75b6e66be", "0e0672dc86f8e45565d338b0540abe6915bdf72e2b35b5c9e5663168e960a91b",
         "04a56fa807caaa53a4d28dbb9853b9815c61a411118a6fe516a8798434751470f9010153ac33d0d5f2047ffdb1a3e42c9b4e6be662766e1eeb4116988ede5f912c",
         "0406557e482bd03097ad0cbaa5df82115460d951e3451962f1eaf4367a420676d09857ccbc522686c83d1852abfa8ed6e4a1155cf8f1543ceca528afb591a1e0b7",
         "0412af7e89717850671913e6b469ace67bd90a4df8ce45c2af19010175e37eed69f75897996d539356e2fa6a406d528501f907e04d97515fbe83db277b715d3325",
         "00c12546835755c86d8c0db7851ae86f", "a9fa3406c3b781b93d804485430ca27a", "58ad4aa88e0b60d5061eb6b5dd93e80d9c4f00d127c65b3b35b1b5281fee38f0",
         "d3e2e547f1ae04f2dbdbf0fc4b79f8ecff2dff314b5d32fe9fcef2fb26dc459b"},
        {"", "", "7bf46c454b4c1b25799527d896508afd5fc62ef4ec59db1efb49113063d70cca", "8cef65df64bb2d0f83540c53632de911b5b24b3eab6cc74a97609fd659e95473",
         "d7a66f64074a84652d8d623a92e20c9675c61cb5b4f6a0063e4648a2fdc02d53", "fc6374762ba5cf11f4b2caa08b2cd1b9907ae0e26e8d6234318d91583cd74c86",
         "04a65b367a3f613cf9f0654b1b28a1e3a8a40387956c8ba6063e8658563890f46ca1ef6a676598889fc28de2950ab8120b79a5ef1ea4c9f44bc98f585634b46d66",
         "04589f13218822710d98d8b2123a079041052d9941b9cf88c6617ddb2fcc0494662eea8ba6b64692dc318250030c6af045cb738bc81ba35b043c3dcb46adf6f58d",
         "041a3c03d51b452537ca2a1fea6110353c6d5ed483c4f0f86f4492ca3f378d40a994b4477f93c64d928edbbcd3e85a7c709b7ea73ee97986ce3d1438e135543772",
         nullptr, nullptr, "dfb4db8d48ae5a675963ea5e6c19d98d4ea028d8e898dad96ea19a80ade95dca",
         "d0f0609d1613138d354f7e95f19fb556bf52d751947241e8c7118df5ef0ae175"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(std::string("A='") + v.idA + "', B='" + v.idB + "'");
        const std::vector<std::uint8_t> w = Unhex(v.w);
        tls::Spake2 a(tls::SpakeRole::A, std::span<const std::uint8_t, 32>(w.data(), 32), v.idA, v.idB, Unhex(v.x));
        tls::Spake2 b(tls::SpakeRole::B, std::span<const std::uint8_t, 32>(w.data(), 32), v.idA, v.idB, Unhex(v.y));
        EXPECT_EQ(Hex(a.Share()), v.pA);
        EXPECT_EQ(Hex(b.Share()), v.pB);
        ASSERT_TRUE(a.Finish(b.Share(), {}));
        ASSERT_TRUE(b.Finish(a.Share(), {}));
        for (const tls::Spake2* side : {&a, &b}) {
            const tls::SpakeSecrets& s = side->Secrets();
            EXPECT_EQ(Hex(s.K), v.K);
            EXPECT_EQ(Hex(s.Ke) + Hex(s.Ka), v.hashTT);  // Hash(TT): the transcript as the RFC builds it
            EXPECT_EQ(v.KcA ? Hex(s.KcA) + Hex(s.KcB) : "", v.KcA ? std::string(v.KcA) + v.KcB : "");
            EXPECT_EQ(Hex(s.cA) + Hex(s.cB), std::string(v.cA) + v.cB);
        }
        EXPECT_TRUE(a.PeerConfirms(b.Confirmation()) && b.PeerConfirms(a.Confirmation()));

        // A peer's message off the curve, the identity, a compressed or short one: refused.
        std::vector<std::uint8_t> offCurve(b.Share().begin(), b.Share().end()), compressed = offCurve;
        offCurve.back() ^= 1;
        compressed[0] = 0x02;
        const std::vector<std::uint8_t> identity(tls::kSpakeShareSize), shortened(offCurve.begin(), offCurve.begin() + 33);
        for (const std::vector<std::uint8_t>& bad : {offCurve, identity, compressed, shortened}) {
            tls::Spake2 fresh(tls::SpakeRole::A, std::span<const std::uint8_t, 32>(w.data(), 32), v.idA, v.idB);
            EXPECT_FALSE(fresh.Finish(bad, {}));
            EXPECT_FALSE(fresh.PeerConfirms(b.Confirmation()));
        }
    }
}

}  // namespace
}  // namespace zumelko
