#pragma once
#include <QStringList>
#include <functional>

#include "CalendarClock.h"
#include "DeviceLink.h"

namespace vantor::cli {

// What vantorctl's exit status says.
enum ExitCode : int {
  ExitDone = 0,
  ExitUsage = 1,         // the command line is wrong
  ExitNoInstrument = 2,  // no instrument answered where it was looked for
  ExitLineFailure = 3,   // the line failed during the operation
  ExitRefused = 4,       // a file or value given was refused
  ExitPermission = 5,    // the port is there, but the user may not open it
  ExitBusy = 6,          // another program holds the port
  // Done, but not all of what was read or done could be written to the
  // history (the history could not be opened, or read for an export).
  ExitHistoryNotWritten = 7,
  // The instrument answered but did not carry out the command (it refused
  // it, or did not acknowledge it).
  ExitCommandRefused = 8,
  // Readings or events wait in the spool file for a history that did not
  // answer; they go in when it does (this run's Ctrl-C or SIGTERM too).
  ExitSpooled = 9,
  ExitInterrupted = 130  // Ctrl-C stopped it; what was read is written
                         // (128 + the signal: 143 for SIGTERM)
};

// Where vantorctl's lines and times come from; empty members keep the real
// ones. A replay of a trace puts its own here.
struct Surroundings {
  DeviceLink::LineOpener OpenPort;                            // a COM number of the port map
  std::function<OpenedLine(const QString& path)> OpenDevice;  // --device PATH
  const CalendarClock* Calendar = nullptr;
  // How `live` paces its polls.
  std::function<LineTransport::Clock::time_point()> SteadyNow;
  std::function<void(LineTransport::Clock::duration)> Sleep;
};

// Runs vantorctl with its arguments (the program name first) in the current
// Qt Core application; returns the exit status.
int RunVantorctl(const QStringList& arguments, const Surroundings& surroundings = {});

}  // namespace vantor::cli
