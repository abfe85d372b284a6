// The platform seam's contract on the Linux desktop: the real X clipboard with xclip as the other
// program, or, run in a Wayland session, the clipboard the program takes there (the Wayland one,
// or on GNOME the X11 one through XWayland) with wl-copy as the other program; Qt's loop.
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <memory>

#include "framework/Application.h"
#include "tests/contract/ReassemblyContract.h"
#include "tests/contract/SeamContract.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::contract {
namespace {

class QtSeam {
public:
    QtSeam() { Settle(); }
    ~QtSeam() { StopOwner(); }
    QtSeam(const QtSeam&) = delete;
    QtSeam& operator=(const QtSeam&) = delete;
    platform::Desktop& Desk() { return qttest::Desk(); }
    // X and Qt report late; this is long enough for every report of a change to arrive. On
    // Wayland the program's own offers and their echoes are through once the clipboard is idle.
    void Settle() {
        qttest::Pump(300);
        if (auto* wayland = qttest::Desk().waylandClipboard()) {
            qttest::PumpUntil([wayland] { return wayland->Idle(); }, 10000);
            qttest::Pump(300);
        }
    }
    // xclip puts the text on the clipboard and its foreground process ends; nothing of this
    // program's loop runs meanwhile.
    bool RunUntil(const std::function<bool()>& done, int ms = 5000) { return qttest::PumpUntil(done, ms); }
    void OtherProgramCopies(const std::string& text, bool secret = false) {
        auto* wayland = qttest::Desk().waylandClipboard();
        if (secret) {
            // Serves its offer until this program's next copy takes it over: on Wayland the
            // program's own tool, on X (GNOME's through XWayland too) a Qt program of the tests.
            StopOwner();
            owner_ = std::make_unique<QProcess>();
            if (wayland != nullptr) {
                ASSERT_TRUE(qttest::PumpUntil([wayland] { return wayland->Idle(); }, 10000));
                owner_->start(OfferTool(), QStringList{});
                owner_->write("text/plain;charset=utf-8 text/plain\n" + QByteArray::number(text.size()) + '\n');
                owner_->write(text.data(), static_cast<qint64>(text.size()));
                owner_->write("x-kde-passwordManagerHint\n7\nsecret\n");
                owner_->closeWriteChannel();
            } else {
                owner_->start(QStringLiteral(ZUMELKO_BINARY_DIR "/tests/qt/zumelko-clip-owner"),
                              {QStringLiteral("--secret"), QString::fromStdString(text)});
            }
            ASSERT_TRUE(owner_->waitForReadyRead(10000));
            return;
        }
        QProcess other;
        if (wayland != nullptr) {
            // Our own offers are on the clipboard first, as they would be before a person copies.
            ASSERT_TRUE(qttest::PumpUntil([wayland] { return wayland->Idle(); }, 10000));
            other.start(QStringLiteral("wl-copy"), QStringList{});
        } else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            other.start(QStringLiteral("wl-copy"), QStringList{});
        } else {
            other.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"});
        }
        ASSERT_TRUE(other.waitForStarted(5000));
        other.write(text.data(), static_cast<qint64>(text.size()));
        other.closeWriteChannel();
        ASSERT_TRUE(other.waitForFinished(5000));
    }
    // What xclip finds among the clipboard's targets, or wl-paste among its types. This program
    // serves them from its loop on X, from a tool of its own on Wayland; the loop runs meanwhile.
    bool OtherProgramSeesSecret() {
        const bool wayland = qttest::Desk().waylandClipboard() != nullptr;
        auto read = [wayland](const QStringList& arguments) {
            QProcess reader;
            if (wayland) {
                reader.start(QStringLiteral("wl-paste"), arguments);
            } else {
                reader.start(QStringLiteral("xclip"), QStringList{"-selection", "clipboard", "-o", "-t"} + arguments);
            }
            qttest::PumpUntil([&reader] { return reader.state() == QProcess::NotRunning; }, 5000);
            return reader.readAllStandardOutput();
        };
        const QByteArray types = read({wayland ? "--list-types" : "TARGETS"});
        if (!types.split('\n').contains("x-kde-passwordManagerHint")) return false;
        const QString mark = QStringLiteral("x-kde-passwordManagerHint");
        return read(wayland ? QStringList{"--type", mark} : QStringList{mark}) == "secret";
    }
    void RestoreExceptionHandler() {
        qttest::Desk().loop().SetExceptionHandler([](const std::exception& e) { App().ShowException(e); });
    }

private:
    void StopOwner() {
        if (!owner_) return;
        owner_->kill();
        owner_->waitForFinished(1000);
    }
    // Beside the tests where the Wayland run copies both, else in the build tree.
    static QString OfferTool() {
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/zumelko-wl-offer");
        return QFileInfo::exists(beside) ? beside : QStringLiteral(ZUMELKO_BINARY_DIR "/zumelko-wl-offer");
    }
    std::unique_ptr<QProcess> owner_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, ClipboardContract, QtSeam);
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, LoopContract, QtSeam);
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, SocketContract, QtSeam);
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, ReassemblyContract, QtSeam);

}  // namespace
}  // namespace zumelko::contract
