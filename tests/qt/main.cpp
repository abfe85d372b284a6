#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QProcess>
#include <QTimer>

#include <memory>

#include "framework/Application.h"
#include "tests/qt/QtTestSupport.h"

namespace zumelko::qttest {

namespace {
int g_argc = 1;
char g_name[] = "qt_tests";
char* g_argv[] = {g_name, nullptr};
std::unique_ptr<platform::qt::ScopedQtDesktop> g_desktop;
std::unique_ptr<Application> g_application;

class DesktopEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        platform::qt::QtDesktopOptions options;
        // The tests click the icon window, unless they run beside a tray (ZUMELKO_TEST_TRAY).
        options.forceIconWindow = qEnvironmentVariableIsEmpty("ZUMELKO_TEST_TRAY");
        g_desktop = std::make_unique<platform::qt::ScopedQtDesktop>(g_argc, g_argv, options);
        g_application = std::make_unique<Application>();
        (*g_desktop)->ui().SetExceptionBoxes(false);
    }
    void TearDown() override {
        g_application.reset();
        g_desktop.reset();
    }
};
}  // namespace

platform::qt::QtDesktop& Desk() { return **g_desktop; }

Ran RunProgram(const QString& program, const QStringList& args, const std::string& input, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    Ran r;
    if (!p.waitForStarted(5000)) return r;
    if (!input.empty()) p.write(input.data(), static_cast<qint64>(input.size()));
    p.closeWriteChannel();
    r.finished = PumpUntil([&] { return p.state() == QProcess::NotRunning; }, timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    const QByteArray out = p.readAllStandardOutput();
    r.out.assign(out.constData(), static_cast<std::size_t>(out.size()));
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

void Pump(int ms) { Desk().loop().RunUntilFor([] { return false; }, ms); }

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    return Desk().loop().RunUntilFor(done, timeoutMs);
}

QString ArtifactsDir() {
    QString dir = qEnvironmentVariable("ZUMELKO_ARTIFACTS", QStringLiteral("artifacts"));
    QDir().mkpath(dir);
    return dir;
}

QString SaveShot(QWidget& window, const QString& name) {
    const QString path = ArtifactsDir() + QLatin1Char('/') + name + QStringLiteral(".png");
    window.grab().save(path);
    return path;
}

QString MissingGlyphs(const QWidget& widget, const QString& text) {
    const QFontMetrics metrics(widget.font());
    QString missing;
    for (const QChar c : text)
        if (!c.isSpace() && !metrics.inFont(c)) missing += c;
    return missing;
}

}  // namespace zumelko::qttest

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zumelko::qttest::DesktopEnvironment);
    return RUN_ALL_TESTS();
}
