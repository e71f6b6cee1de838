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
  ExitInterrupted = 130  // Ctrl-C stopped it; what was read is written
};

// Runs vantorctl with its arguments (the program name first) in the current
// Qt Core application; returns the exit status.
int RunVantorctl(const QStringList& arguments);

}  // namespace vantor::cli
