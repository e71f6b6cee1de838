// archive: reading the instrument's archive, and erasing it.
#include "CommandTable.h"
#include "Terminal.h"

namespace vantor::cli {
namespace {

QString ReadOptions(const QCommandLineParser& line, CommandOptions& c) {
  c.OutFile = line.value(QStringLiteral("out"));
  return {};
}

QString EraseOptions(const QCommandLineParser& line, CommandOptions& c) {
  c.Yes = line.isSet(QStringLiteral("yes"));
  return {};
}

// An erase is asked for on the terminal; without one only --yes will do.
QString EraseAsks(const QCommandLineParser& /*line*/, CommandOptions& c) {
  if (!c.Yes && !StandardInputIsTerminal()) {
    return QStringLiteral("archive erase asks first; without a terminal to ask on, give --yes");
  }
  return {};
}

}  // namespace

std::vector<CommandForm> ArchiveCommands() {
  CommandForm read;
  read.Words = QStringList{"archive", "read"};
  read.Usage = {
      {{"archive read [--out FILE]"},
       {"every archive record, separators marking the",
        "runs; Ctrl-C stops after the current record", "and still writes what was read"}}};
  read.Options = {{"out", "archive read, history export: writes into FILE.", "FILE"}};
  read.Run = &ArchiveReadCommand;
  read.Several = true;
  read.File = SeveralRun::FileName::OutOption;
  read.ReadOptions = &ReadOptions;

  CommandForm erase;
  erase.Words = QStringList{"archive", "erase"};
  erase.Usage = {{{"archive erase [--yes]"},
                  {"erases the instrument's archive, after reading",
                   "into the history what it does not hold yet"}}};
  erase.Options = {{"yes", "archive erase: erases without asking."}};
  erase.Run = &ArchiveEraseCommand;
  erase.ReadOptions = &EraseOptions;
  erase.CheckPlace = &EraseAsks;
  return {read, erase};
}

}  // namespace vantor::cli
