#pragma once
#include <QStringList>

namespace vantor::cli {

// What vantorctl's exit status says.
enum ExitCode : int {
  ExitDone = 0,
  ExitUsage = 1,         // the command line is wrong
  ExitNoInstrument = 2,  // no instrument answered where it was looked for
  ExitLineFailure = 3,   // the line failed during the operation
  ExitRefused = 4,       // a file or value given was refused
  // Done, but not all of what was read or done could be written to the
  // history (the history could not be opened, or read for an export).
  ExitHistoryNotWritten = 5,
  ExitInterrupted = 130  // Ctrl-C stopped it; what was read is written
                         // (128 + the signal: 143 for SIGTERM)
};

// Runs vantorctl with its arguments (the program name first) in the current
// Qt Core application; returns the exit status.
int RunVantorctl(const QStringList& arguments);

}  // namespace vantor::cli
