// The X clipboard through the Qt desktop beyond what every desktop's contract checks: the very
// bytes in and out (xclip playing the other programs), pictures with their pixels.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>
#include <utility>

#include "desktop/BitmapImage.h"
#include "framework/Stream.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

using namespace zumelko::platform;

class Clipboard : public ::testing::Test {
protected:
    void SetUp() override {
        auto& loop = Desk().loop();
        viewer_ = loop.CreateHiddenWindow([this](std::uint32_t m, WParam, LParam) {
            if (m == WM_DRAWCLIPBOARD_) ++changes_;
            return LResult{0};
        });
        next_ = clip().SetClipboardViewer(viewer_);
        EXPECT_EQ(changes_, 1) << "joining the chain tells the new viewer at once";
        Settle();
        changes_ = 0;
    }
    void TearDown() override {
        clip().ChangeClipboardChain(viewer_, next_);
        Desk().loop().DestroyWindow(viewer_);
    }
    platform::qt::QtClipboard& clip() { return *Desk().x11Clipboard(); }
    // Lets every late report of X and Qt arrive.
    void Settle() { Pump(300); }
    void Put(const std::string& text) {
        ASSERT_TRUE(clip().OpenClipboard(viewer_));
        clip().EmptyClipboard();
        clip().SetText(std::string(text) + '\0');
        clip().CloseClipboard();
    }
    std::optional<std::string> Text() {
        clip().OpenClipboard(viewer_);
        auto t = clip().GetText();
        clip().CloseClipboard();
        return t;
    }
    Ran Xclip(const QStringList& args, const std::string& input = {}) {
        return RunProgram(QStringLiteral("xclip"), QStringList{"-selection", "clipboard"} + args, input);
    }

    Hwnd viewer_ = 0;
    Hwnd next_ = 0;
    int changes_ = 0;
};

TEST_F(Clipboard, TextTravelsAsTheSameBytesBothWays) {
    const std::string japanese = "クリップボード 転送\r\nline two ;$(x) \"q\"";
    Put(japanese);
    Settle();
    const Ran out = Xclip({"-o"});
    ASSERT_TRUE(out.finished);
    EXPECT_EQ(out.out, japanese);

    // Another program copies: one notice, and the text reads back as its whole block, an
    // embedded NUL and all, with one more NUL after it.
    changes_ = 0;
    ASSERT_TRUE(Xclip({"-i"}, std::string("from outside\0hidden", 19)).finished);
    ASSERT_TRUE(PumpUntil([&] { return changes_ >= 1; }));
    Settle();
    EXPECT_EQ(changes_, 1);
    EXPECT_TRUE(clip().IsClipboardFormatAvailable(CF_TEXT_));
    EXPECT_FALSE(clip().IsClipboardFormatAvailable(CF_BITMAP_));
    EXPECT_EQ(Text(), std::string("from outside\0hidden\0", 20));

    // An empty text is a text; other programs see our text up to its first NUL.
    Put("");
    EXPECT_TRUE(clip().IsClipboardFormatAvailable(CF_TEXT_));
    EXPECT_EQ(Text(), std::string(1, '\0'));
    Put(std::string("shown\0kept", 11));
    Settle();
    EXPECT_EQ(Xclip({"-o"}).out, "shown");
    EXPECT_EQ(Text(), std::string("shown\0kept\0", 12));

    // Texts on the Linux desktop are UTF-8 both ways, whatever code page would hold them:
    // putting one there is one change, and a copy elsewhere reads back as it was copied.
    const std::string halfWidth = "日本語 ｱｲ ①髙 ﾊｲ";
    changes_ = 0;
    Put(halfWidth);
    Settle();
    EXPECT_EQ(changes_, 1);
    EXPECT_EQ(Xclip({"-o"}).out, halfWidth);
    EXPECT_EQ(Text(), halfWidth + '\0');
    for (const std::string copied : {"日本語 ｱｲ ①髙", "¥1,000 日本 한국 😀"}) {
        changes_ = 0;
        ASSERT_TRUE(Xclip({"-i"}, copied).finished);
        ASSERT_TRUE(PumpUntil([&] { return changes_ >= 1; }));
        EXPECT_EQ(Text(), copied + '\0') << copied;
    }
}

QImage Pattern(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb((x * 7) & 255, (y * 13) & 255, (x ^ y) & 255));
    return image;
}

TEST_F(Clipboard, PicturesKeepTheirPixelsBothWays) {
    auto& gdi = Desk().gdi();
    // Ours to theirs.
    const QImage pattern = Pattern(61, 37);
    const Hbitmap bitmap = gdi.Adopt(pattern);
    ASSERT_NE(bitmap, 0u);
    clip().OpenClipboard(viewer_);
    clip().EmptyClipboard();
    EXPECT_TRUE(clip().SetBitmap(bitmap));
    clip().CloseClipboard();
    EXPECT_EQ(gdi.Bitmap(bitmap), nullptr) << "the clipboard took the handle over";
    Settle();
    EXPECT_EQ(changes_, 1);
    EXPECT_TRUE(clip().IsClipboardFormatAvailable(CF_BITMAP_));
    EXPECT_FALSE(clip().IsClipboardFormatAvailable(CF_TEXT_));
    const Ran png = Xclip({"-o", "-t", "image/png"});
    ASSERT_TRUE(png.finished);
    QImage back;
    ASSERT_TRUE(back.loadFromData(reinterpret_cast<const uchar*>(png.out.data()), static_cast<int>(png.out.size()), "PNG"));
    // A device bitmap holds what the display can show (all of it at 24 bits and more).
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32),
              pattern.convertToFormat(gdi.DisplayFormat()).convertToFormat(QImage::Format_RGB32));

    // Theirs to ours.
    changes_ = 0;
    const QImage other = Pattern(40, 90).mirrored();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    other.save(&buffer, "PNG");
    ASSERT_TRUE(Xclip({"-i", "-t", "image/png"}, bytes.toStdString()).finished);
    ASSERT_TRUE(PumpUntil([&] { return changes_ >= 1; }));
    Settle();
    EXPECT_EQ(changes_, 1);
    EXPECT_TRUE(clip().IsClipboardFormatAvailable(CF_BITMAP_));
    clip().OpenClipboard(viewer_);
    const Hbitmap got = clip().GetBitmap();
    ASSERT_NE(got, 0u);
    EXPECT_EQ(clip().GetBitmap(), got) << "the same handle while the content stays";
    BitmapInfo info;
    ASSERT_TRUE(gdi.GetObject(got, info));
    EXPECT_EQ(info.width, 40);
    EXPECT_EQ(info.height, 90);
    EXPECT_EQ(info.bitsPerPixel, gdi.DisplayBitsPerPixel());
    EXPECT_EQ(gdi.Bitmap(got)->convertToFormat(QImage::Format_RGB32),
              other.convertToFormat(gdi.DisplayFormat()).convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(clip().GetPalette(), 0u);
    clip().CloseClipboard();
}

QByteArray Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Another program's picture is read ahead of the first send: whatever the program offers it
// as, the picture read is the one on the clipboard now, never one it replaced, with the pixels
// Qt itself would have made of it; also when it was there before the clipboard was watched,
// when two come one right after the other, and when it is larger than one property (sent in
// pieces). What cannot be read gives no bitmap. An owner that stops answering holds neither
// the loop nor the picture copied after it.
TEST_F(Clipboard, PicturesOfOtherProgramsAreReadAsTheyAreNow) {
    auto& gdi = Desk().gdi();
    // ImageMagick at its defaults: 16 bits a channel, 1.6 MB, more than xclip puts in one piece.
    const Ran magick = RunProgram(QStringLiteral("convert"), {"-size", "640x480", "-seed", "5", "plasma:fractal", "png:-"});
    ASSERT_TRUE(magick.finished);
    const QByteArray large(magick.out.data(), static_cast<qsizetype>(magick.out.size()));
    ASSERT_GT(large.size(), 1 << 20);
    QImage alpha = Pattern(33, 17).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < alpha.height(); ++y) alpha.setPixel(y % alpha.width(), y, qRgba(200, 100, 50, 90));
    const struct {
        const char* what;
        QString type;
        QByteArray bytes;
        QImage expected;  // null: nothing to read
        bool rightAfterAnother;
    } cases[] = {
        {"png", QStringLiteral("image/png"), Encoded(Pattern(61, 7), "PNG"), Pattern(61, 7), false},
        {"png with alpha", QStringLiteral("image/png"), Encoded(alpha, "PNG"), alpha, false},
        {"bmp only", QStringLiteral("image/bmp"), Encoded(Pattern(9, 40).mirrored(), "BMP"), Pattern(9, 40).mirrored(), false},
        {"a second right after", QStringLiteral("image/png"), Encoded(Pattern(5, 5), "PNG"), Pattern(5, 5), true},
        {"not a picture", QStringLiteral("image/png"), QByteArray("\x89PNG\r\n\x1a\n not really", 20), {}, false},
        {"larger than one property", QStringLiteral("image/png"), large, QImage::fromData(large), false},
    };
    auto expectOn = [&](platform::qt::QtClipboard& clipboard, const QImage& expected) {
        clipboard.OpenClipboard(viewer_);
        const Hbitmap got = clipboard.GetBitmap();
        if (expected.isNull()) {
            EXPECT_EQ(got, 0u);
        } else {
            ASSERT_NE(got, 0u);
            EXPECT_EQ(gdi.Bitmap(got)->convertToFormat(QImage::Format_RGB32),
                      expected.convertToFormat(gdi.DisplayFormat()).convertToFormat(QImage::Format_RGB32));
        }
        clipboard.CloseClipboard();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        changes_ = 0;
        if (c.rightAfterAnother) {
            ASSERT_TRUE(Xclip({"-i", "-t", "image/png"}, Encoded(Pattern(70, 70), "PNG").toStdString()).finished);
        }
        ASSERT_TRUE(Xclip({"-i", "-t", c.type}, c.bytes.toStdString()).finished);
        ASSERT_TRUE(PumpUntil([&] { return changes_ >= 1; }));
        Settle();
        expectOn(clip(), c.expected);
    }
    // There before the clipboard is watched, as when the program starts.
    const QImage before = Pattern(12, 34);
    ASSERT_TRUE(Xclip({"-i", "-t", "image/png"}, Encoded(before, "PNG").toStdString()).finished);
    Settle();
    {
        platform::qt::QtClipboard started(Desk().loop(), gdi);
        Settle();
        expectOn(started, before);
    }

    // The owner stops while its picture is read: the loop goes on turning (a transfer on the
    // loop's thread would hold it until it gives up, seconds later), and a picture copied
    // meanwhile is the one read.
    QProcess owner;
    owner.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-quiet", "-t", "image/png", "-i"});
    ASSERT_TRUE(owner.waitForStarted(5000));
    owner.write(Encoded(Pattern(50, 50), "PNG"));
    owner.closeWriteChannel();
    changes_ = 0;
    ASSERT_TRUE(PumpUntil([&] { return changes_ >= 1; }));
    Settle();
    // Signals go to the owner alone, never to a pid of 0 (the whole process group).
    auto signal = [](QProcess& p, int number) {
        const auto pid = static_cast<pid_t>(p.processId());
        if (p.state() == QProcess::Running && pid > 0) ::kill(pid, number);
    };
    ASSERT_EQ(owner.state(), QProcess::Running);
    signal(owner, SIGSTOP);
    platform::qt::QtClipboard started(Desk().loop(), gdi);  // reads ahead on the next turn
    struct End {
        QProcess& p;
        std::function<void(QProcess&, int)> signal;
        ~End() {
            signal(p, SIGKILL);
            p.waitForFinished(5000);
        }
    } end{owner, signal};  // before `started` goes, which waits for what the owner still owes it
    bool turned = false;
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(0, [&] { turned = true; });
    ASSERT_TRUE(PumpUntil([&] { return turned; }, 20000));
    EXPECT_LT(clock.elapsed(), 2000) << "the loop waited for a stopped owner";
    const QImage after = Pattern(30, 20);
    changes_ = 0;
    ASSERT_TRUE(Xclip({"-i", "-t", "image/png"}, Encoded(after, "PNG").toStdString()).finished);
    ASSERT_TRUE(PumpUntil([&] { return changes_ >= 1; }));
    expectOn(started, after);

    // A read given up while the owner still owes its answer leaves the owner as it was: the
    // answer is waited for, where a window gone from under it would end xclip, and what it
    // holds on the clipboard with it.
    QProcess keeper;
    keeper.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-quiet", "-t", "image/png", "-i"});
    ASSERT_TRUE(keeper.waitForStarted(5000));
    const QImage kept = Pattern(40, 40);
    keeper.write(Encoded(kept, "PNG"));
    keeper.closeWriteChannel();
    changes_ = 0;
    ASSERT_TRUE(PumpUntil([&] { return changes_ >= 1; }));
    Settle();
    End endKeeper{keeper, signal};
    ASSERT_EQ(keeper.state(), QProcess::Running);
    const auto keeperPid = static_cast<pid_t>(keeper.processId());
    ASSERT_GT(keeperPid, 0);
    signal(keeper, SIGSTOP);
    std::thread resume;
    {
        platform::qt::QtClipboard leaving(Desk().loop(), gdi);
        Pump(300);  // its read-ahead has asked the stopped owner
        resume = std::thread([keeperPid] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::kill(keeperPid, SIGCONT);
        });
    }
    resume.join();
    Settle();
    EXPECT_EQ(keeper.state(), QProcess::Running);
    const Ran back = Xclip({"-o", "-t", "image/png"});
    ASSERT_TRUE(back.finished);
    EXPECT_EQ(QImage::fromData(QByteArray(back.out.data(), static_cast<qsizetype>(back.out.size())))
                  .convertToFormat(QImage::Format_RGB32),
              kept);
}

// A large picture of another program's has its 24-bit rows made while it is read ahead, and the
// first send takes them over as its packet: the same bytes its pixels give when converted then.
// Rows are never taken for an image drawn on since, nor once the clipboard holds something else.
TEST_F(Clipboard, ALargePicturesRowsMadeAheadAreItsOwn) {
    auto& gdi = Desk().gdi();
    if (gdi.DisplayFormat() != QImage::Format_RGB32) GTEST_SKIP() << "rows are made ahead of 32-bit images only";
    auto copyPicture = [&](const QImage& picture) {
        changes_ = 0;
        ASSERT_TRUE(Xclip({"-i", "-t", "image/png"}, Encoded(picture, "PNG").toStdString()).finished);
        ASSERT_TRUE(PumpUntil([&] { return changes_ >= 1; }));
        Settle();
    };
    auto readBitmap = [&] {
        clip().OpenClipboard(viewer_);
        const Hbitmap read = clip().GetBitmap();
        clip().CloseClipboard();
        return read;
    };
    // The BMP file a send makes of a bitmap, and the one its image gives when converted anew (a
    // deep copy has a key of its own).
    auto sent = [&](Hbitmap bitmap) {
        BitmapImage picture;
        picture.LoadFromClipboardFormat(bitmap, 0);
        MemoryStream packet;
        picture.WriteToStream(packet);
        return std::string(packet.View());
    };
    auto converted = [&](Hbitmap bitmap) {
        const Hbitmap copy = gdi.Adopt(gdi.Bitmap(bitmap)->copy());
        EXPECT_FALSE(gdi.HasRowsAheadFor(copy));
        auto file = sent(copy);
        gdi.DeleteObject(copy);
        return file;
    };

    copyPicture(Pattern(1027, 1031));  // a million pixels and more; rows need padding
    const Hbitmap read = readBitmap();
    ASSERT_NE(read, 0u);
    ASSERT_TRUE(gdi.HasRowsAheadFor(read));
    const Hbitmap twin = gdi.Adopt(*gdi.Bitmap(read));  // the same image, shared
    EXPECT_TRUE(gdi.HasRowsAheadFor(twin));
    EXPECT_FALSE(gdi.TakeRowsAhead(twin, 40)) << "rows with other headroom";

    // Drawn on: its own pixels, not the rows made before, which stay for the image not drawn on.
    const Hbitmap dot = gdi.Adopt(Pattern(3, 2));
    ASSERT_TRUE(gdi.CopyBitmap(read, dot, 0));
    EXPECT_FALSE(gdi.HasRowsAheadFor(read));
    const std::string drawn = sent(read);
    EXPECT_EQ(drawn, converted(read));
    ASSERT_TRUE(gdi.HasRowsAheadFor(twin));

    // Sent: the rows go with the packet, once; a second send converts them again.
    const std::string first = sent(twin);
    EXPECT_FALSE(gdi.HasRowsAheadFor(twin));
    EXPECT_EQ(first.size(), 14 + 40 + std::size_t{(1027 * 3 + 3) / 4 * 4} * 1031);
    EXPECT_EQ(first, converted(twin));
    EXPECT_EQ(sent(twin), first);
    EXPECT_NE(first, drawn);

    // The clipboard changes: rows made for a picture go with it.
    copyPicture(Pattern(1025, 1024));
    const Hbitmap next = readBitmap();
    ASSERT_TRUE(gdi.HasRowsAheadFor(next));
    changes_ = 0;
    ASSERT_TRUE(Xclip({"-i"}, "text now").finished);
    ASSERT_TRUE(PumpUntil([&] { return changes_ >= 1; }));
    Settle();
    EXPECT_FALSE(gdi.HasRowsAheadFor(next));
    for (const Hbitmap b : {read, twin, dot, next}) gdi.DeleteObject(b);
}

TEST_F(Clipboard, PaletteAndTextBesideAPictureStayWithIt) {
    auto& gdi = Desk().gdi();
    const Hbitmap bitmap = gdi.Adopt(Pattern(8, 8));
    const Hpalette palette = gdi.CreatePalette({{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}});
    clip().OpenClipboard(viewer_);
    clip().EmptyClipboard();
    clip().SetBitmap(bitmap);
    clip().SetPalette(palette);
    clip().SetText(std::string("both\0", 5));
    clip().CloseClipboard();
    Settle();
    EXPECT_EQ(changes_, 1);
    clip().OpenClipboard(viewer_);
    EXPECT_EQ(clip().GetText(), std::string("both\0", 5));
    const Hpalette got = clip().GetPalette();
    ASSERT_NE(got, 0u);
    EXPECT_EQ(gdi.GetPaletteEntries(got).size(), 3u);
    clip().CloseClipboard();
    EXPECT_EQ(Xclip({"-o"}).out, "both");
}

}  // namespace
}  // namespace zumelko::qttest
