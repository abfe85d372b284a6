// Another program on the X desktop that offers a text the way a password manager does: with
// "x-kde-passwordManagerHint" = "secret" beside it when asked to (--secret). It says "ready"
// once it owns the clipboard and serves it until another program takes it over (or a minute
// has passed).
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const bool secret = argc > 2 && std::strcmp(argv[1], "--secret") == 0;
    const char* text = argc > 1 ? argv[argc - 1] : "";
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), QByteArray(text));
    if (secret) data->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data);
    QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard] {
        if (!clipboard->ownsClipboard()) QCoreApplication::quit();
    });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    QTimer::singleShot(0, &app, [] {
        std::puts("ready");
        std::fflush(stdout);
    });
    return app.exec();
}
