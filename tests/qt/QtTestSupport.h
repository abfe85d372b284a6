#pragma once
// What the Linux desktop's tests share: the desktop installed for the whole run (on the display
// the wrapper started), running programs as the user would while the loop keeps serving the
// clipboard, and keeping screenshots as artifacts of the run.
#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <string>

#include "platform/qt/QtDesktop.h"

namespace zumelko::qttest {

platform::qt::QtDesktop& Desk();

struct Ran {
    int exitCode = -1;
    std::string out;
    bool finished = false;
};
// Runs a program to its end while the loop goes on (the program may ask us for the clipboard).
Ran RunProgram(const QString& program, const QStringList& args, const std::string& input = {},
               int timeoutMs = 10000);
// Lets the loop run for a while.
void Pump(int ms);
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Keeps a picture of a window under the run's artifacts; returns the file's path.
QString SaveShot(QWidget& window, const QString& name);
QString ArtifactsDir();
// The characters of a text that the widget's font cannot show.
QString MissingGlyphs(const QWidget& widget, const QString& text);

}  // namespace zumelko::qttest
