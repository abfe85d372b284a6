#include "platform/qt/Charset.h"

#include "framework/Utf8.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zumelko::platform::qt {

namespace {

constexpr int kDefaultCodePage = 932;

// Owns an iconv descriptor.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) ::iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

std::string IconvName(int codePage) { return "CP" + std::to_string(codePage); }

// The length of the UTF-8 character that begins with this (well-formed) lead byte.
std::size_t Utf8Length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

// Runs well-formed UTF-8 through the descriptor into a code page, handing every converted piece
// to `sink`; a character with no place there is '?', as Windows writes one. False when one was
// met.
template <typename Sink>
bool EncodeRun(iconv_t cd, std::string_view in, Sink&& sink) {
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buffer[16384];
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    bool whole = true;
    while (left > 0) {
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        const std::size_t rc = ::iconv(cd, &src, &left, &dst, &room);
        const int error = errno;
        sink(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc != static_cast<std::size_t>(-1) || error == E2BIG) continue;
        whole = false;
        sink("?", 1);
        const std::size_t skip = std::min(left, Utf8Length(static_cast<unsigned char>(*src)));
        src += skip;
        left -= skip;
    }
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    ::iconv(cd, nullptr, nullptr, &dst, &room);
    sink(buffer, static_cast<std::size_t>(dst - buffer));
    return whole;
}

// How a code page of one- and two-byte characters reads, learnt from iconv once: what each
// byte is on its own, and for a lead byte what it makes with each following byte. Decoding
// with it costs the same for any bytes; iconv, stopped and restarted at every byte that does
// not decode, would take minutes over a large hostile text.
class DecodeTable {
public:
    static constexpr char32_t kInvalid = 0xFFFFFFFF;
    static constexpr char32_t kLead = 0xFFFFFFFE;

    // Nothing when iconv does not know the code page.
    // Whether ASCII is itself in the code page, byte for byte.
    bool AsciiSame() const { return asciiSame_; }

    static const DecodeTable* For(int codePage) {
        static std::mutex mutex;
        static std::map<int, std::unique_ptr<DecodeTable>> tables;
        const std::lock_guard<std::mutex> lock(mutex);
        auto it = tables.find(codePage);
        if (it == tables.end()) it = tables.emplace(codePage, Learn(codePage)).first;
        return it->second.get();
    }

    // Decodes the bytes, handing each character to `put`; a byte that starts no character,
    // or a lead byte that the next byte does not complete, is U+FFFD, and decoding goes on
    // with the byte after it.
    template <typename Emit>
    void Decode(std::string_view in, Emit&& put) const {
        const auto* p = reinterpret_cast<const unsigned char*>(in.data());
        const std::size_t n = in.size();
        for (std::size_t i = 0; i < n; ++i) {
            const char32_t c = single_[p[i]];
            if (c != kLead) {
                put(c == kInvalid ? char32_t{0xFFFD} : c);
                continue;
            }
            const char32_t pair = i + 1 < n ? pairs_[lead_[p[i]]][p[i + 1]] : kInvalid;
            if (pair == kInvalid) {
                put(char32_t{0xFFFD});
            } else {
                put(pair);
                ++i;
            }
        }
    }

private:
    static std::unique_ptr<DecodeTable> Learn(int codePage) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        Iconv cd("UTF-32BE", IconvName(codePage).c_str());
#else
        Iconv cd("UTF-32LE", IconvName(codePage).c_str());
#endif
        if (!cd.ok()) return nullptr;
        // One character from the bytes, kLead when they are the start of one, else kInvalid.
        auto one = [&](const unsigned char* bytes, std::size_t size) -> char32_t {
            ::iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
            char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
            std::size_t left = size;
            char32_t out[2] = {};
            char* dst = reinterpret_cast<char*>(out);
            std::size_t room = sizeof out;
            const std::size_t rc = ::iconv(cd.get(), &src, &left, &dst, &room);
            if (rc == static_cast<std::size_t>(-1)) return errno == EINVAL ? kLead : kInvalid;
            // Code pages with combining marks (1255, 1258) hold a base letter back, waiting for
            // a mark to join it; the end of the input lets it go.
            ::iconv(cd.get(), nullptr, nullptr, &dst, &room);
            return room == sizeof out - sizeof(char32_t) ? out[0] : kInvalid;
        };
        auto table = std::make_unique<DecodeTable>();
        for (unsigned b = 0; b < 256; ++b) {
            const unsigned char byte = static_cast<unsigned char>(b);
            table->single_[b] = one(&byte, 1);
            if (table->single_[b] != kLead) continue;
            table->lead_[b] = static_cast<std::uint8_t>(table->pairs_.size());
            auto& row = table->pairs_.emplace_back();
            for (unsigned t = 0; t < 256; ++t) {
                const unsigned char pair[2] = {byte, static_cast<unsigned char>(t)};
                const char32_t c = one(pair, 2);
                row[t] = c == kLead ? kInvalid : c;  // longer characters are not read
            }
        }
        table->asciiSame_ = true;
        for (unsigned b = 0; b < 0x80; ++b) table->asciiSame_ = table->asciiSame_ && table->single_[b] == b;
        return table;
    }

    bool asciiSame_ = false;
    std::array<char32_t, 256> single_{};
    std::array<std::uint8_t, 256> lead_{};
    std::vector<std::array<char32_t, 256>> pairs_;
};

// UTF-8 of one character; its length.
std::size_t Utf8Of(char32_t c, char* out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        if (c >= 0xD800 && c < 0xE000) return Utf8Of(0xFFFD, out);
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    if (c > 0x10FFFF) return Utf8Of(0xFFFD, out);
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// Code page bytes to UTF-8, measured first and then written into a block of exactly that size.
template <typename Out>
std::optional<Out> Decode(int codePage, std::string_view in, std::size_t limit) {
    const DecodeTable* table = DecodeTable::For(codePage);
    if (table == nullptr) return std::nullopt;
    char scratch[4];
    std::size_t size = 0;
    table->Decode(in, [&](char32_t c) { size += Utf8Of(c, scratch); });
    if (size > limit) return std::nullopt;
    Out out;
    out.resize(static_cast<decltype(out.size())>(size));
    char* at = out.data();
    table->Decode(in, [&](char32_t c) { at += Utf8Of(c, at); });
    return out;
}

}  // namespace

int PeerCodePage() {
    static const int page = [] {
        const char* value = std::getenv("ZUMELKO_PEER_CODEPAGE");
        if (value == nullptr || *value == '\0') return kDefaultCodePage;
        char* end = nullptr;
        const long n = std::strtol(value, &end, 10);
        if (*end == '\0' && n > 0 && n < 65536 && DecodeTable::For(static_cast<int>(n)) != nullptr)
            return static_cast<int>(n);
        std::fprintf(stderr, "zumelko: ZUMELKO_PEER_CODEPAGE is no code page this system converts; using %d\n",
                     kDefaultCodePage);
        return kDefaultCodePage;
    }();
    return page;
}

std::optional<std::string> DecodeCodePage(std::string_view bytes, int codePage, std::size_t limit) {
    return Decode<std::string>(codePage, bytes, limit);
}

std::string EncodeCodePage(std::string_view utf8, int codePage, bool& exact) {
    exact = false;
    const DecodeTable* table = DecodeTable::For(codePage);
    Iconv cd(IconvName(codePage).c_str(), "UTF-8");
    if (table == nullptr || !cd.ok()) return std::string(utf8);
    // Most texts are ASCII, which most code pages hold as it is.
    if (table->AsciiSame() &&
        std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        exact = true;
        return std::string(utf8);
    }
    // A code page of one- and two-byte characters takes no more bytes than UTF-8 does (every
    // character beyond ASCII is two bytes or more there): written once into a block of the
    // text's size. A code page that needs more is measured first and written again.
    std::string out(utf8.size(), '\0');
    std::size_t size = 0;
    bool fits = true;
    bool whole = EncodeRun(cd.get(), utf8, [&](const char* p, std::size_t n) {
        if (!fits || n > out.size() - size) {
            fits = false;
            return;
        }
        std::memcpy(out.data() + size, p, n);
        size += n;
    });
    if (!fits) {
        size = 0;
        whole = EncodeRun(cd.get(), utf8, [&](const char*, std::size_t n) { size += n; });
        out.assign(size, '\0');
        char* at = out.data();
        char* const end = at + size;
        EncodeRun(cd.get(), utf8, [&](const char* p, std::size_t n) {
            n = std::min(n, static_cast<std::size_t>(end - at));
            std::memcpy(at, p, n);
            at += n;
        });
    }
    out.resize(size);
    if (!whole) return out;
    // The converter maps some characters to others (U+00A5 to a backslash, U+301C to U+FF5E...)
    // and calls it a success: only reading the bytes back tells whether they are the text.
    std::size_t read = 0;
    bool same = true;
    char scratch[4];
    table->Decode(out, [&](char32_t c) {
        if (!same) return;
        const std::size_t n = Utf8Of(c, scratch);
        same = read + n <= utf8.size() && std::memcmp(utf8.data() + read, scratch, n) == 0;
        read += n;
    });
    exact = same && read == utf8.size();
    return out;
}

QString FromCaption(std::string_view bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

int QtTextCodec::PeerCodePage() const { return qt::PeerCodePage(); }

bool QtTextCodec::Knows(int codePage) const {
    return codePage == kUtf8CodePage || DecodeTable::For(codePage) != nullptr;
}

std::string QtTextCodec::FromUtf8(std::string_view utf8, int codePage, bool& exact) const {
    if (codePage == kUtf8CodePage) return TextCodec::FromUtf8(utf8, codePage, exact);
    return EncodeCodePage(utf8, codePage, exact);
}

std::optional<std::string> QtTextCodec::ToUtf8(std::string_view bytes, int codePage, std::size_t limit) const {
    if (codePage == kUtf8CodePage) return TextCodec::ToUtf8(bytes, codePage, limit);
    return DecodeCodePage(bytes, codePage, limit);
}

const QtTextCodec& QtTexts() {
    static const QtTextCodec codec;
    return codec;
}

}  // namespace zumelko::platform::qt
