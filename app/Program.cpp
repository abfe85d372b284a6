#include "app/Program.h"

#include "core/MainForm.h"
#include "desktop/DdeClientConv.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/BrowserDialog.h"
#include "dialogs/CustomDialog.h"
#include "dialogs/OKDialog.h"
#include "dialogs/PreviewDialog.h"
#include "dialogs/ReceiveDialog.h"
#include "dialogs/SendDialog.h"
#include "dialogs/YesNoDialog.h"
#include "framework/Application.h"
#include "framework/Wipe.h"
#include "platform/Desktop.h"

namespace zumelko {

void CreateForms(Application& application) {
    application.CreateForm(Form1);
    application.CreateForm(Form2);
    application.CreateForm(Form3);
    application.CreateForm(Form4);
    application.CreateForm(Form6);
    application.CreateForm(AboutBox);
    application.CreateForm(Form5);
    application.CreateForm(Form8);
    application.CreateForm(Form7);
}

void ForgetForms() {
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
    Form5 = nullptr;
    Form6 = nullptr;
    Form7 = nullptr;
    Form8 = nullptr;
    AboutBox = nullptr;
}

int RunProgram() {
    StartOptions none;
    return RunProgram(none);
}

int RunProgram(StartOptions& options) {
    try {
        Application application;
        application.SetTitle("Zumelko_beta3");
        // Without its browser conversations the program does not start.
        DdeInstance dde;
        try {
            CreateForms(application);
            ApplyStartOptions(*Form1, options);
            if (options.security.passphrase) WipeString(*options.security.passphrase);
            Form1->ReportStartupErrors();
            application.Run();
        } catch (const std::exception& e) {
            application.ShowException(e);
        }
        application.DestroyForms();
        ForgetForms();
    } catch (const std::exception& e) {
        ForgetForms();
        platform::Current().ui().ShowException("Zumelko_beta3", e.what());
    }
    return 0;
}

}  // namespace zumelko
