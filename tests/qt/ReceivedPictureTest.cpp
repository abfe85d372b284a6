// Pictures of every kind another program writes, received over TCP and taken into the real X
// clipboard as the receiving side takes them: what another program then pastes has the very
// pixels of the file, as ImageMagick itself counts them.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include "desktop/BitmapImage.h"
#include "desktop/ClipboardAccess.h"
#include "framework/Component.h"
#include "framework/Stream.h"
#include "tests/qt/QtTestSupport.h"
#include "tests/support/RawPeer.h"
#include "transport/SimpleTcp.h"

namespace zumelko::qttest {
namespace {

constexpr int kPort = 28631;

std::string ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray b = f.readAll();
    return {b.constData(), static_cast<std::size_t>(b.size())};
}

bool WriteAll(const QString& path, const std::string& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) &&
           f.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

std::uint32_t Le32(const std::string& b, std::size_t at) {
    return static_cast<std::uint8_t>(b.at(at)) | (std::uint32_t{static_cast<std::uint8_t>(b.at(at + 1))} << 8) |
           (std::uint32_t{static_cast<std::uint8_t>(b.at(at + 2))} << 16) |
           (std::uint32_t{static_cast<std::uint8_t>(b.at(at + 3))} << 24);
}
void SetLe32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<char>(v >> (8 * i));
}

// A 124-byte header made the 40-byte one, with the masks right after it (or, when they are
// the plain ones, none and BI_RGB).
std::string WithInfoHeader(const std::string& v5, bool masks) {
    std::string b = v5.substr(0, 14 + 40);
    SetLe32(b, 14, 40);
    if (masks) {
        b += v5.substr(14 + 40, 12);
    } else {
        SetLe32(b, 30, 0);
    }
    b += v5.substr(14 + 124);
    SetLe32(b, 2, static_cast<std::uint32_t>(b.size()));
    SetLe32(b, 10, Le32(v5, 10) - 124 + 40 + (masks ? 12 : 0));
    return b;
}

struct Kind {
    const char* name;
    QStringList options;  // after the source picture; the last one names the output's format
    int bits;
    std::uint32_t compression;
    int masks;  // -1: as written; 0 or 1: the 124-byte header made 40 bytes, masks kept or not
};

TEST(ReceivedPicture, EveryKindAnotherProgramWritesIsPastedWithItsOwnPixels) {
    if (Desk().gdi().DisplayBitsPerPixel() < 24) GTEST_SKIP() << "a display of fewer bits shows fewer colours";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("source.png"));
    // A photograph-like source with more colours than any palette holds, and an odd width so
    // that every row is padded.
    ASSERT_EQ(RunProgram(QStringLiteral("convert"),
                         {"-size", "61x35", "-seed", "7", "plasma:fractal", "-depth", "8", source})
                  .exitCode,
              0);
    const std::vector<Kind> kinds = {
        {"1 bit", {"-type", "Palette", "-colors", "2", "BMP3:"}, 1, 0, -1},
        {"4 bits", {"-type", "Palette", "-colors", "12", "BMP3:"}, 4, 0, -1},
        {"8 bits", {"-type", "Palette", "-colors", "200", "-compress", "None", "BMP3:"}, 8, 0, -1},
        {"8 bits, run lengths", {"-type", "Palette", "-colors", "200", "BMP3:"}, 8, 1, -1},
        {"16 bits", {"-define", "bmp:subtype=RGB555", "BMP:"}, 16, 0, 0},
        {"16 bits, masks 5-6-5", {"-define", "bmp:subtype=RGB565", "BMP:"}, 16, 3, 1},
        {"24 bits", {"-type", "TrueColor", "BMP3:"}, 24, 0, -1},
        {"32 bits", {"-alpha", "on", "BMP:"}, 32, 0, 0},
        {"32 bits, masks", {"-alpha", "on", "BMP:"}, 32, 3, 1},
    };

    Component root(nullptr);
    auto& channel = root.Create<TSimpleTcp>();
    channel.SetPort(kPort);
    std::string failure;
    int imported = 0;
    // What the receiving side does with a picture the user takes.
    channel.OnReceived = [&](Component*) {
        try {
            BitmapImage picture;
            channel.GetGraphic(picture);
            (void)picture.Handle();
            ClipboardAccess clip;
            clip.Clear();
            clip.Open();
            clip.PutBitmap(picture);
            clip.Close();
            ++imported;
        } catch (const std::exception& e) {
            failure = e.what();
        }
    };
    channel.OnError = [&](Component*, const std::string& message) { failure = message; };
    channel.Listen();

    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        failure.clear();
        const QString written = dir.filePath(QStringLiteral("written.bmp"));
        QStringList args = QStringList{source} + k.options.mid(0, k.options.size() - 1);
        args << k.options.last() + written;
        ASSERT_EQ(RunProgram(QStringLiteral("convert"), args).exitCode, 0);
        std::string bmp = ReadAll(written);
        ASSERT_GT(bmp.size(), 54u);
        if (k.masks >= 0) bmp = WithInfoHeader(bmp, k.masks == 1);
        ASSERT_EQ(Le32(bmp, 14), 40u);
        ASSERT_EQ(static_cast<int>(Le32(bmp, 28) & 0xFFFF), k.bits);
        ASSERT_EQ(Le32(bmp, 30), k.compression);
        const QString sent = dir.filePath(QStringLiteral("sent.bmp"));
        ASSERT_TRUE(WriteAll(sent, bmp));

        const int before = imported;
        std::atomic<bool> closed{false}, done{false};
        std::thread peer([&] {
            closed = testing::RawSendPacket("127.0.0.1", kPort, bmp, 10000);
            done = true;
        });
        const bool finished = PumpUntil([&] { return done.load(); }, 15000);
        peer.join();
        ASSERT_TRUE(finished && closed);
        ASSERT_EQ(failure, "");
        ASSERT_EQ(imported, before + 1);

        const Ran pasted = RunProgram(QStringLiteral("xclip"), {"-selection", "clipboard", "-o", "-t", "image/png"});
        ASSERT_TRUE(pasted.finished);
        const QString back = dir.filePath(QStringLiteral("pasted.png"));
        ASSERT_TRUE(WriteAll(back, pasted.out));
        const Ran compared = RunProgram(QStringLiteral("sh"),
                                        {"-c", "compare -metric AE \"$1\" \"$2\" null: 2>&1", "sh", sent, back});
        EXPECT_EQ(compared.out, "0") << "pixels differing";
    }
}

}  // namespace
}  // namespace zumelko::qttest
