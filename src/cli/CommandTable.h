#pragma once
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "Commands.h"
#include "SeveralInstruments.h"

namespace vantor::cli {

// An option of a command: --Name, with a value called ValueName in the help,
// or a switch when ValueName is empty.
struct OptionForm {
  OptionForm(QString name, QString description, QString valueName = {}, QString fallback = {})
      : Name(std::move(name)),
        Description(std::move(description)),
        ValueName(std::move(valueName)),
        Default(std::move(fallback)) {}

  QString Name;
  QString Description;  // its line under Options in --help
  QString ValueName;
  QString Default;
};

// One form of a command as --help shows it: what to type (one line or
// more, the later ones indented as they are to be shown) and what it does,
// already broken into the lines of the help.
struct UsageForm {
  QStringList Synopsis;
  QStringList Help;
};

// One step of checking a command line: the first mistake found, in one line
// (empty for none). It reads what it checked into the options.
using Check = QString (*)(const QCommandLineParser& line, CommandOptions& c);

// A command of vantorctl: the words that name it, what it takes, how it is
// checked and what runs it.
struct CommandForm {
  QStringList Words;  // "archive", "read"
  std::vector<UsageForm> Usage;
  int Files = 0;  // file names that follow the words
  std::vector<OptionForm> Options;
  int (*Run)(Context&) = nullptr;
  bool NeedsInstrument = true;
  // Works on several instruments at once (--port 3,4,5 or all); the file it
  // names is then a folder.
  bool Several = false;
  SeveralRun::FileName File = SeveralRun::FileName::None;

  // The checks of its own, each at its place among the checks every command
  // line gets, so that of two mistakes the same one is always said first.
  // Null: nothing of its own to check there.
  //
  // The words after the command's own; null counts them against Files.
  Check CheckArguments = nullptr;
  // Its options, once all given are known to be its own.
  Check ReadOptions = nullptr;
  // Where it runs, once --port and --device are known to be good.
  Check CheckPlace = nullptr;
  // Last, once the history is known to be good.
  Check CheckOutput = nullptr;

  QString Name() const { return Words.join(QLatin1Char(' ')); }
  bool Accepts(const QString& option) const;
};

// Every command, in the order --help lists them.
const std::vector<CommandForm>& CommandTable();

// The command the first words name; null for none.
const CommandForm* FindCommand(const QStringList& words);

// Every option some command takes, each once, by name.
std::vector<OptionForm> CommandOptionForms();

// The "Commands:" part of --help: every usage of the given commands.
QString CommandsHelp(const std::vector<const CommandForm*>& forms);

// The groups the table is made of, one file each.
std::vector<CommandForm> PortsCommands();
std::vector<CommandForm> MeasureCommands();
std::vector<CommandForm> ClockCommands();
std::vector<CommandForm> SettingsCommands();
std::vector<CommandForm> ArchiveCommands();
std::vector<CommandForm> CaptureCommands();
std::vector<CommandForm> HistoryCommands();

}  // namespace vantor::cli
