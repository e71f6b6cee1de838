#pragma once
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "Commands.h"
#include "DeviceLink.h"
#include "HistoryTypes.h"

namespace vantor::cli {

// Where --port sends a run: one port, a list of them, or every port of the
// port map where an instrument answers.
struct PortChoice {
  bool All = false;
  std::vector<int> Ports;  // ascending, each once
  bool Several() const { return All || Ports.size() > 1; }
};

// "3", "3,4,5" or "all"; nothing for anything else, and `error` says why.
std::optional<PortChoice> ParsePortChoice(const QString& text, QString* error);

// "COM3-SN004711.csv": the file of one instrument in a folder of several.
QString InstrumentFileName(int port, const QString& serial, const QString& suffix);

// One command worked on several instruments at once.
struct SeveralRun {
  PortChoice Choice;
  int (*Command)(Context& c) = nullptr;
  CommandOptions Options;
  // Where the command names the file it writes (archive read --out,
  // settings backup FILE): with several instruments that name is a folder,
  // and each instrument's file in it is named by its port and serial, with
  // the suffix.
  enum class FileName : uint8_t { None, OutOption, Argument };
  FileName File = FileName::None;
  QString FileSuffix;
  DeviceLink::LineOpener OpenPort;  // the port map unless a test gives another
  const CalendarClock* Calendar = nullptr;
  HistoryService* History = nullptr;  // shared by all; may be null
};

// Works the command on every instrument at once, each on an engine (a
// thread and a line) of its own, all keeping what they read in the one
// history. Standard output gets the rows of all: CSV and JSON rows name
// their port (a column, a field), people's come under a heading per
// instrument, in port order (live rows as they come, each led by its port).
// Standard error gets a progress line per instrument on a terminal, and at
// the end a summary line per instrument that says what happened. Returns
// the worst (highest) exit status of them.
int RunOnSeveral(const SeveralRun& run);

}  // namespace vantor::cli
