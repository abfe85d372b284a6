#pragma once

namespace zumelko {

// The program's entry: application object, title, the forms in their order, the message loop.
// The desktop must be installed first. Returns the process's exit code.
int RunProgram();

}  // namespace zumelko
