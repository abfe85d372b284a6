#include "platform/qt/Charset.h"

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

#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char* kUtf16 = "UTF-16BE";
#else
constexpr const char* kUtf16 = "UTF-16LE";
#endif

// Runs `in` through the descriptor, handing every converted piece to `sink`; false at the
// first character that does not convert.
template <typename Sink>
bool Run(iconv_t cd, std::string_view in, Sink&& sink) {
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char buffer[16384];
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    while (left > 0) {
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        const std::size_t rc = ::iconv(cd, &src, &left, &dst, &room);
        const int error = errno;
        sink(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc == static_cast<std::size_t>(-1) && error != E2BIG) return false;
    }
    return true;
}

// Encodes in two passes, the first measuring and the second filling a block of exactly that
// size: a large text is never held in a buffer grown by doubling, half of it empty.
std::optional<std::string> Encode(const std::string& to, const char* from, std::string_view in) {
    Iconv cd(to.c_str(), from);
    if (!cd.ok()) return std::nullopt;
    std::size_t size = 0;
    if (!Run(cd.get(), in, [&](const char*, std::size_t n) { size += n; })) return std::nullopt;
    std::string out(size, '\0');
    char* at = out.data();
    char* const end = at + size;
    Run(cd.get(), in, [&](const char* p, std::size_t n) {
        n = std::min(n, static_cast<std::size_t>(end - at));
        std::memcpy(at, p, n);
        at += n;
    });
    return out;
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
        return table;
    }

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
std::optional<Out> Decode(int codePage, std::string_view in) {
    const DecodeTable* table = DecodeTable::For(codePage);
    if (table == nullptr) return std::nullopt;
    char scratch[4];
    std::size_t size = 0;
    table->Decode(in, [&](char32_t c) { size += Utf8Of(c, scratch); });
    Out out;
    out.resize(static_cast<decltype(out.size())>(size));
    char* at = out.data();
    table->Decode(in, [&](char32_t c) { at += Utf8Of(c, at); });
    return out;
}

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsAscii(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
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

bool IsValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // Runs of ASCII, the bulk of most texts, eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ULL) != 0) break;
            p += 8;
        }
        if (p == end) break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t n = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            n = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
            if (c == 0xE0) lo = 0xA0;  // no overlong forms
            if (c == 0xED) hi = 0x9F;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) < n) return false;
        if (p[1] < lo || p[1] > hi) return false;
        for (std::size_t k = 2; k < n; ++k)
            if ((p[k] & 0xC0) != 0x80) return false;
        p += n;
    }
    return true;
}

QString FromAnsi(std::string_view bytes, int codePage) {
    if (IsValidUtf8(bytes)) return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const std::string utf8 = AnsiToUtf8(bytes, codePage);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QByteArray AnsiToUtf8(const QByteArray& bytes, int codePage) {
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (IsValidUtf8(view)) return bytes;
    if (auto out = Decode<QByteArray>(codePage, view)) return *out;
    return QString::fromUtf8(bytes).toUtf8();  // a code page this system lacks: every odd byte is U+FFFD
}

std::string AnsiToUtf8(std::string_view bytes, int codePage) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    if (auto out = Decode<std::string>(codePage, bytes)) return *out;
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
}

std::string ToAnsi(const QString& text, int codePage) {
    if (!IsAscii(text)) {
        const std::string_view units(reinterpret_cast<const char*>(text.utf16()),
                                     static_cast<std::size_t>(text.size()) * sizeof(char16_t));
        if (auto out = Encode(IconvName(codePage), kUtf16, units)) return *out;
    }
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

std::string Utf8ToAnsi(std::string_view utf8, int codePage) {
    if (IsAscii(utf8) || !IsValidUtf8(utf8)) return std::string(utf8);
    if (auto out = Encode(IconvName(codePage), "UTF-8", utf8)) return *out;
    return std::string(utf8);
}

}  // namespace zumelko::platform::qt
