// The platform seam's contract on the Linux desktop: the real X clipboard, xclip as the other
// program, Qt's loop.
#include <QProcess>

#include "framework/Application.h"
#include "tests/contract/SeamContract.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::contract {
namespace {

class QtSeam {
public:
    QtSeam() { Settle(); }
    platform::Desktop& Desk() { return qttest::Desk(); }
    // X and Qt report late; this is long enough for every report of a change to arrive.
    void Settle() { qttest::Pump(300); }
    // xclip puts the text on the clipboard and its foreground process ends; nothing of this
    // program's loop runs meanwhile.
    bool RunUntil(const std::function<bool()>& done, int ms = 5000) { return qttest::PumpUntil(done, ms); }
    void OtherProgramCopies(const std::string& text) {
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"});
        ASSERT_TRUE(xclip.waitForStarted(5000));
        xclip.write(text.data(), static_cast<qint64>(text.size()));
        xclip.closeWriteChannel();
        ASSERT_TRUE(xclip.waitForFinished(5000));
    }
    void RestoreExceptionHandler() {
        qttest::Desk().loop().SetExceptionHandler([](const std::exception& e) { App().ShowException(e); });
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, ClipboardContract, QtSeam);
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, LoopContract, QtSeam);
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, SocketContract, QtSeam);

}  // namespace
}  // namespace zumelko::contract
