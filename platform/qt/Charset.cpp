#include "platform/qt/Charset.h"

#include <iconv.h>
#include <langinfo.h>

#include <QList>
#include <QStringDecoder>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zumelko::platform::qt {

namespace {

bool IsUtf8Name(const std::string& name) {
    std::string n;
    for (char c : name)
        if (c != '-' && c != '_') n += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    // Qt itself treats the plain C locale as UTF-8, and so do we.
    return n == "UTF8" || n == "ANSI_X3.41968" || n == "ASCII" || n.empty();
}

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

// Converts everything, replacing what does not convert with `bad` and moving on one unit.
std::string Convert(const char* to, const char* from, std::string_view in, std::string_view bad,
                    std::size_t unit) {
    Iconv cd(to, from);
    if (!cd.ok()) return std::string(in);
    std::string out;
    std::vector<char> buf(4096);
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    while (left > 0) {
        char* dst = buf.data();
        std::size_t room = buf.size();
        const std::size_t rc = ::iconv(cd.get(), &src, &left, &dst, &room);
        out.append(buf.data(), static_cast<std::size_t>(dst - buf.data()));
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL: one unusable unit.
            out.append(bad);
            const std::size_t skip = std::min(unit, left);
            src += skip;
            left -= skip;
            ::iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

}  // namespace

std::string LocaleCodeset() {
    const char* c = ::nl_langinfo(CODESET);
    return c == nullptr ? std::string() : std::string(c);
}

QString FromLocale(std::string_view bytes) {
    const std::string codeset = LocaleCodeset();
    if (IsUtf8Name(codeset)) return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const std::string utf8 = Convert("UTF-8", codeset.c_str(), bytes, "\xEF\xBF\xBD", 1);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ToLocale(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const std::string codeset = LocaleCodeset();
    if (IsUtf8Name(codeset)) return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    // UTF-32 in, so that one unusable character is skipped whole.
    const QList<uint> ucs4 = text.toUcs4();
    std::string wide(reinterpret_cast<const char*>(ucs4.constData()), static_cast<std::size_t>(ucs4.size()) * 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return Convert(codeset.c_str(), "UTF-32BE", wide, "?", 4);
#else
    return Convert(codeset.c_str(), "UTF-32LE", wide, "?", 4);
#endif
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

QByteArray ToClipboardUtf8(const QByteArray& bytes) {
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (IsUtf8Name(LocaleCodeset()) && IsValidUtf8(view)) return bytes;
    return FromLocale(view).toUtf8();
}

QString FromCaption(std::string_view bytes) {
    auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!decoder.hasError()) return s;
    return FromLocale(bytes);
}

}  // namespace zumelko::platform::qt
