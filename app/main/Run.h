#pragma once
// One run of the program, windowed or headless, until the window closes or
// SIGINT/SIGTERM arrives.
#include "CHAppInstance.h"

namespace tovik {

// Returns the exit code. Needs the QApplication made by main().
int Run(const CHStartOptions& options);

} // namespace tovik
