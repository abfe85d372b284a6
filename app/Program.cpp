#include "app/Program.h"

#include "framework/Application.h"

namespace zumelko {

int RunProgram() {
    Application application;
    application.SetTitle("Zumelko_beta3");
    return 0;
}

}  // namespace zumelko
