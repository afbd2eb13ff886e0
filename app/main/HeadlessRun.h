#pragma once
// Start-up and shutdown of the engine without a window: settings file from
// the document, the document, the view and its first initial update, every
// event-log line on standard output, and a clean stop on SIGINT or SIGTERM.
#include <QString>

namespace tovik {

// Runs until SIGINT or SIGTERM (or the event loop quits); returns the exit code.
int RunHeadless(const QString& documentPath);

} // namespace tovik
