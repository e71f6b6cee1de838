#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "CalendarClock.h"
#include "CliOutput.h"
#include "DeviceLink.h"
#include "HistoryService.h"
#include "HistorySink.h"
#include "InstrumentEngine.h"
#include "LineTrace.h"
#include "SettingsOperations.h"

namespace vantor::cli {

// What the command line chose: the output format and the command's own
// options, the same for every instrument a run works on.
struct CommandOptions {
  Format Output = Format::People;
  QStringList Words;  // what follows the command's own words (a file name)
  // The command's options, already checked to belong to it.
  bool Probe = false;
  bool Sync = false;
  bool DryRun = false;
  bool Yes = false;
  QString OutFile;
  // history export and events: the range as given (ISO 8601) and what to
  // export; history events: the instrument as named and the kinds.
  QString From;
  QString To;
  QString What;
  QString Instrument;
  std::vector<EventKind> Kinds;
  long long Count = -1;   // live: readings, -1 until Ctrl-C
  double Interval = 1.0;  // live: seconds between polls
  // ports --pin N PATH / --unpin N.
  int Pin = 0;
  int Unpin = 0;
  // How live waits between polls.
  std::function<LineTransport::Clock::time_point()> SteadyNow = [] {
    return LineTransport::Clock::now();
  };
  std::function<void(LineTransport::Clock::duration)> Sleep = [](LineTransport::Clock::duration d) {
    std::this_thread::sleep_for(d);
  };
  QString HistoryUrl;  // --history, as given
  // With several instruments on one standard output: the port its rows
  // name (a column in CSV, a field in JSON); 0 for one instrument.
  int RowPort = 0;
};

// What every command works with: the options, the line and what finding the
// instrument on it brought.
struct Context : CommandOptions {
  // The instrument's engine; the commands run as its operations and work on
  // its link, on its thread.
  InstrumentEngine Engine;
  DeviceLink& Link = Engine.Link();
  TracedClock Clock;  // the system's, unless a replay gives its own
  int Port = 0;       // COM number the instrument answers on; 0 with --device
  QString Device;     // the device path
  // The settings read that identified the instrument.
  SettingsRead Identification;
  // Where what the commands read and do is kept, on a thread of its own so
  // the line never waits for it; an outage is said once on standard error.
  // `history export` reads the history itself and has none.
  std::unique_ptr<HistoryService> Service;
  HistorySink History;
};

// The commands; each returns vantorctl's exit status. Ports works without an
// instrument; the others run on the instrument already found.
int PortsCommand(Context& c);
int InfoCommand(Context& c);
int LiveCommand(Context& c);
int ClockCommand(Context& c);
int SettingsShowCommand(Context& c);
int SettingsBackupCommand(Context& c);
int SettingsRestoreCommand(Context& c);
int ArchiveReadCommand(Context& c);
int ArchiveEraseCommand(Context& c);
int ScreenCommand(Context& c);
int HistoryExportCommand(Context& c);
int HistoryInstrumentsCommand(Context& c);
int HistoryEventsCommand(Context& c);
int HistoryBackupCommand(Context& c);

// Whether `name` can name an instrument of the history: its device data in
// hex, or the start of it, optionally after its device type and a colon
// (7:0100a5…), as history instruments writes it.
bool InstrumentNameIsValid(const QString& name);

// Finds the instrument where the user said (`port`, or `device` by its
// path), or where the program would look, with the settings read as the
// test; says why on standard error when it is not there. Never opens a port
// the user did not name or the port map does not list.
int FindTheInstrument(Context& c, int port, const QString& device);

// Makes the history the commands keep what they read in: notes on standard
// error for the first failure of an outage and its end.
void OpenHistory(Context& c, const HistoryLocation& location);
// Hands what the history has told so far to standard error.
void TellHistory();
// Ends the history: what waits is written if the store can take it in
// time; says how much could not be written. Returns `status`, or
// ExitHistoryNotWritten when the command was done but not all of what it
// read or did is in the history.
int FinishHistory(Context& c, int status);

// One error line on standard error: "vantorctl: <message>".
void Complain(const QString& message);

}  // namespace vantor::cli
