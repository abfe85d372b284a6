#pragma once

#include "app/CommandLine.h"

namespace zumelko {

class Application;

// Creates the nine forms in their order; the first, Form1, is the main window.
void CreateForms(Application& application);
// Forgets the form globals once the application has destroyed the forms.
void ForgetForms();

// The program's entry: application object, title, the forms, the message loop; an exception
// that escapes is shown in the standard error box. The desktop must be installed first.
// The start options are set on the main window once the forms exist. Returns the process's
// exit code.
// The passphrase among the options is wiped once its key is made.
int RunProgram(StartOptions& options);
int RunProgram();

}  // namespace zumelko
