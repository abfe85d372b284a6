#include "dialogs/DialogLook.h"

#include "platform/Desktop.h"

namespace zumelko {

void SimpleBeep() { platform::Current().shell().MessageBeep(0xFFFFFFFFu); }

}  // namespace zumelko
