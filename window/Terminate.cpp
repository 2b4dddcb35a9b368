// What std::terminate does in this program: an error that escaped every handler is reported
// like any other untrapped error, and the program ends. This replaces libstdc++'s own handler,
// which would print to a console this program does not have and, with its name demangler,
// makes up a fifth of the executable.

#include "window/Ending.h"

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    ReportUntrappedError(nullptr);
}
}  // namespace __gnu_cxx
