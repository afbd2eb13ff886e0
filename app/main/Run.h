#pragma once
// One run of the program, windowed or headless, until the window closes or
// SIGINT/SIGTERM arrives.
#include "CHAppInstance.h"

namespace tovik {

// Returns the exit code. Needs the application object made by main(): a
// QApplication for a window, a QCoreApplication is enough headless.
int Run(const CHStartOptions& options);

} // namespace tovik
