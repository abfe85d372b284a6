// The Wayland clipboard beyond the seam's contract, through whichever clipboard the program takes
// in a Wayland session (wl-clipboard on sway, the X11 one through XWayland on GNOME's mutter),
// with Wayland programs on the other side: pictures both ways with every pixel kept, and texts
// that look like options, commands or markup handed on as data. Runs in a Wayland session only
// (wayland/contract.sh, wayland/mutter.sh); losing the clipboard is shown on the whole program
// (net/wayland-desktops.sh).
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "platform/qt/Charset.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {
namespace {

using platform::Hwnd;

QByteArray Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage Noise(int w, int h, quint32 seed) {
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image.setPixel(x, y, 0xff000000u | (random.generate() & 0xffffffu));
    }
    return image;
}

bool SamePixels(const QImage& a, const QImage& b) {
    return a.size() == b.size() &&
           a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

class WaylandClipboardTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) GTEST_SKIP() << "not in a Wayland session";
        if (Desk().waylandClipboard() != nullptr) {
            clip = Desk().waylandClipboard();
        } else {
            clip = Desk().x11Clipboard();
        }
        ASSERT_TRUE(Settled());
        owner = Desk().shell().ApplicationWindow();
    }
    // Our own offers are through once the Wayland clipboard is idle; XWayland's clipboard is
    // given time for the compositor's reports.
    bool Settled() {
        if (auto* own = Desk().waylandClipboard()) return PumpUntil([own] { return own->Idle(); }, 10000);
        Pump(300);
        return true;
    }
    // Another program's copy, told to the program once it has been read.
    void TheyCopy(const QString& type, const QByteArray& bytes) {
        const std::size_t before = clip->NotificationCount();
        ASSERT_EQ(RunProgram(QStringLiteral("wl-copy"), {"--type", type}, bytes.toStdString()).exitCode, 0);
        ASSERT_TRUE(PumpUntil([&] { return clip->NotificationCount() > before; }, 10000));
        ASSERT_TRUE(Settled());
        Pump(200);
        EXPECT_EQ(clip->NotificationCount(), before + 1) << type.toStdString();
    }

    platform::qt::StagedClipboard* clip = nullptr;
    Hwnd owner = 0;
};

TEST_F(WaylandClipboardTest, PicturesKeepEveryPixelBothWays) {
    const QImage picture = Noise(173, 97, 7);
    // Theirs, as PNG and as BMP.
    for (const char* format : {"PNG", "BMP"}) {
        const QString type = QStringLiteral("image/") + QString::fromLatin1(format).toLower();
        TheyCopy(type, Encoded(picture, format));
        ASSERT_TRUE(clip->OpenClipboard(owner));
        EXPECT_TRUE(clip->IsClipboardFormatAvailable(platform::CF_BITMAP_)) << format;
        EXPECT_FALSE(clip->IsClipboardFormatAvailable(platform::CF_TEXT_)) << format;
        const platform::Hbitmap got = clip->GetBitmap();
        ASSERT_NE(Desk().gdi().Bitmap(got), nullptr) << format;
        EXPECT_TRUE(SamePixels(*Desk().gdi().Bitmap(got), picture)) << format;
        clip->CloseClipboard();
    }
    // Ours, as other programs read it: PNG with the same pixels; its echo is no change.
    const std::size_t before = clip->NotificationCount();
    ASSERT_TRUE(clip->OpenClipboard(owner));
    clip->EmptyClipboard();
    ASSERT_TRUE(clip->SetBitmap(Desk().gdi().Adopt(Noise(64, 33, 9))));
    clip->CloseClipboard();
    ASSERT_TRUE(Settled());
    EXPECT_EQ(clip->NotificationCount(), before + 1);
    const Ran pasted = RunProgram(QStringLiteral("wl-paste"), {"--type", "image/png"});
    EXPECT_TRUE(SamePixels(QImage::fromData(QByteArray::fromStdString(pasted.out), "PNG"), Noise(64, 33, 9)));
}

TEST_F(WaylandClipboardTest, TextsAreHandedOnAsData) {
    for (const std::string text : {"--help", "$(touch /tmp/zumelko-ran) `id` ; rm -rf ~", "<b>bold</b>\r\n\ttab",
                                   "日本語のテキスト", "-t image/png"}) {
        const std::size_t before = clip->NotificationCount();
        ASSERT_TRUE(clip->OpenClipboard(owner));
        clip->EmptyClipboard();
        clip->SetText(text + '\0');
        clip->CloseClipboard();
        ASSERT_TRUE(Settled());
        Pump(200);
        EXPECT_EQ(clip->NotificationCount(), before + 1) << text;
        EXPECT_EQ(RunProgram(QStringLiteral("wl-paste"), {"--no-newline"}).out, text);
        TheyCopy(QStringLiteral("text/plain;charset=utf-8"), QByteArray::fromStdString(text + " again"));
        ASSERT_TRUE(clip->OpenClipboard(owner));
        EXPECT_EQ(clip->GetText(), text + " again" + '\0');
        clip->CloseClipboard();
    }
}

// A password manager copies while the program reads the clipboard: the copy it lists the types of
// is unmarked, the text it reads next is the marked one. That text is never told as unmarked.
TEST_F(WaylandClipboardTest, AMarkedCopyMidReadingIsNotTakenForUnmarked) {
    if (Desk().waylandClipboard() == nullptr) GTEST_SKIP() << "the X11 clipboard reads types and data at once";
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/zumelko-wl-offer");
    if (!QFile::exists(tool)) GTEST_SKIP() << "no zumelko-wl-offer beside the tests";
    QTemporaryDir stage;
    ASSERT_TRUE(stage.isValid());
    // wl-paste that, once, puts the marked copy there right after listing the types.
    const QByteArray path = qgetenv("PATH");
    QFile paste(stage.filePath(QStringLiteral("wl-paste")));
    ASSERT_TRUE(paste.open(QIODevice::WriteOnly));
    paste.write("#!/bin/sh\nPATH='" + path + "' wl-paste \"$@\"; rc=$?\n"
                "if [ \"$1\" = --list-types ] && mkdir \"$0.once\" 2>/dev/null; then\n"
                "  mkfifo \"$0.ready\"\n"
                "  printf 'text/plain;charset=utf-8\\n7\\nhunter2x-kde-passwordManagerHint\\n6\\nsecret' |\n"
                "    '" + tool.toUtf8() + "' >\"$0.ready\" 2>/dev/null &\n"
                "  read -r _ <\"$0.ready\"\n"
                "fi\nexit $rc\n");
    paste.close();
    ASSERT_TRUE(paste.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("PATH", stage.path().toUtf8() + ':' + path);
    const std::size_t before = clip->NotificationCount();
    const Ran copied = RunProgram(QStringLiteral("wl-copy"), {}, "ordinary");
    const bool told = PumpUntil([&] { return clip->NotificationCount() > before; }, 10000);
    qputenv("PATH", path);
    ASSERT_EQ(copied.exitCode, 0);
    ASSERT_TRUE(told);
    // As first told, before any later reading.
    ASSERT_TRUE(clip->OpenClipboard(owner));
    const std::optional<std::string> text = clip->GetText();
    const bool secret = clip->IsMarkedSecret();
    clip->CloseClipboard();
    EXPECT_EQ(text, std::string("hunter2", 8));
    EXPECT_TRUE(secret);
    ASSERT_TRUE(Settled());
}

// The program's own marked copy, served by its tool: a reader that takes nothing holds up no other.
TEST_F(WaylandClipboardTest, AMarkedCopyIsServedPastAReaderThatReadsNothing) {
    if (Desk().waylandClipboard() == nullptr) GTEST_SKIP() << "served by the program itself";
    const std::string big(1 << 20, 'x');
    ASSERT_TRUE(clip->OpenClipboard(owner));
    clip->EmptyClipboard();
    clip->SetText(big + '\0');
    clip->MarkSecret();
    clip->CloseClipboard();
    ASSERT_TRUE(Settled());
    QProcess stuck;
    QProcess sink;
    stuck.setStandardOutputProcess(&sink);
    sink.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    stuck.start(QStringLiteral("wl-paste"), {QStringLiteral("--type"), QStringLiteral("text/plain")});
    Pump(500);
    const Ran pasted = RunProgram(QStringLiteral("wl-paste"), {"--no-newline", "--type", "text/plain"}, {}, 5000);
    EXPECT_TRUE(pasted.finished);
    EXPECT_EQ(pasted.out.size(), big.size());
    EXPECT_EQ(RunProgram(QStringLiteral("wl-paste"), {"--type", "x-kde-passwordManagerHint"}).out, "secret");
}

}  // namespace
}  // namespace zumelko::qttest
