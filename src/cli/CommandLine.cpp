#include "CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>

namespace vantor::cli {
namespace {

// Before the commands.
const char* const Introduction =
    "Talks to a dosimeter on a serial port, as the vantor program does, and\n"
    "writes what it reads for people or, with --format, for other programs.\n"
    "\n";

// After them.
const char* const Closing =
    "\n"
    "Every archive read, live reading, clock setting, settings restore and\n"
    "erase is kept in the history: the SQLite file\n"
    "$XDG_DATA_HOME/vantor/history.sqlite, the History/Url of vantor.conf, or\n"
    "--history URL (a file, or postgresql://user@host/database). A history\n"
    "that cannot be written is said once; the work goes on, and never waits\n"
    "for it.\n"
    "\n"
    "Without --port or --device the instrument is looked for as the program\n"
    "does at start-up: COM1 to COM254 of the port map, in turn.\n"
    "\n"
    "--port 3,4,5, or --port all (every port of the port map where an\n"
    "instrument answers), works info, live, clock, settings show, settings\n"
    "backup and archive read on several instruments at once, each on a line of\n"
    "its own: rows name their port (a column in CSV, a field in JSON, a\n"
    "heading for people), the file named (--out, the backup's FILE) is a\n"
    "folder with a file per instrument named by its port and serial\n"
    "(COM3-SN004711.csv), a line per instrument on standard error says what\n"
    "happened, and the exit status is the worst of theirs.\n"
    "\n"
    "--trace FILE records every write, read, purge and timeout on the line,\n"
    "with its time, as text: one event a line, the bytes in hexadecimal.";

const char* const Epilogue =
    "\n"
    "Exit status: 0 done, 1 wrong command line, 2 no instrument found, 3 the\n"
    "line failed during the operation, 4 a file or value was refused, 5 the\n"
    "port may not be opened (permission denied: add yourself to the group\n"
    "dialout and log in again), 6 another program holds the port, 7 done but\n"
    "the history could not take all of it (or, for the history commands, could\n"
    "not be read), 8 the instrument did not carry out the command (it refused\n"
    "the erase or did not acknowledge it), 9 readings or events wait in the\n"
    "spool file for a history that did not answer (they go in when it does;\n"
    "also after a signal), 130 stopped by Ctrl-C, 143 by SIGTERM, 129 by SIGHUP\n"
    "(the terminal closed) and 141 by SIGPIPE (the reader of the output went\n"
    "away); what was read is written, the history is closed and the port\n"
    "released.\n"
    "\n"
    "Examples:\n"
    "  vantorctl ports --probe\n"
    "  vantorctl ports --pin 3 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K4ZQ1-if00-port0\n"
    "  vantorctl --port 3 info\n"
    "  vantorctl --port 3,4,5,6 --format csv archive read --out week-50\n"
    "  vantorctl --port all clock --sync\n"
    "  vantorctl live --count 10 --format csv > readings.csv\n"
    "  vantorctl clock --sync\n"
    "  vantorctl settings backup instrument.json\n"
    "  vantorctl settings restore instrument.json --dry-run\n"
    "  vantorctl --format json archive read --out archive.jsonl\n"
    "  vantorctl archive erase --yes\n"
    "  vantorctl --device /dev/ttyUSB0 screen display.png\n"
    "  vantorctl history export --what readings --from 2026-12-01T00:00 --out dec.csv\n"
    "  vantorctl --format csv history instruments\n"
    "  vantorctl history events --instrument 534e3030 --kind settings_write,clock_set\n"
    "  vantorctl history backup history-copy.sqlite\n"
    "  vantorctl --trace info.trace info\n";

// The options every command takes.
struct GlobalOptions {
  QCommandLineOption Help{{"h", "help"}, "Shows this text."};
  QCommandLineOption Version{"version", "Shows the version."};
  QCommandLineOption Port{
      "port",
      "COM number N (1..254) of the port map, instead of looking for the instrument; a list "
      "(3,4,5) or all for several instruments at once.",
      "N"};
  QCommandLineOption Device{
      "device", "The serial device at PATH, instead of looking for the instrument.", "PATH"};
  QCommandLineOption Format{
      "format", "people (the default), csv (RFC 4180, header row) or json (an object a line).",
      "FORMAT", "people"};
  QCommandLineOption History{
      "history",
      "Keeps the history in URL: a SQLite file, or postgresql://user@host/database (default: "
      "History/Url of vantor.conf, else $XDG_DATA_HOME/vantor/history.sqlite).",
      "URL"};
  QCommandLineOption Trace{
      "trace", "Records every write, read, purge and timeout on the line into FILE, with its time.",
      "FILE"};
};

QCommandLineOption ParserOption(const OptionForm& form) {
  return form.ValueName.isEmpty()
             ? QCommandLineOption(form.Name, form.Description)
             : QCommandLineOption(form.Name, form.Description, form.ValueName, form.Default);
}

std::vector<const CommandForm*> AllCommands() {
  std::vector<const CommandForm*> all;
  for (const CommandForm& form : CommandTable()) {
    all.push_back(&form);
  }
  return all;
}

// The commands a help asked for names: one, or all those whose words start
// with the words given (settings: show, backup, restore).
std::vector<const CommandForm*> CommandsNamed(const QStringList& words) {
  if (const CommandForm* form = FindCommand(words)) {
    return {form};
  }
  std::vector<const CommandForm*> named;
  for (const CommandForm& form : CommandTable()) {
    if (!words.isEmpty() && form.Words.mid(0, words.size()) == words) {
      named.push_back(&form);
    }
  }
  return named;
}

// The help of a few commands: their usages and their own options.
QString CommandHelp(const std::vector<const CommandForm*>& forms) {
  // The words they share: all of one command's, the group's of several.
  QStringList shared = forms.front()->Words;
  for (const CommandForm* form : forms) {
    while (form->Words.mid(0, shared.size()) != shared) {
      shared.removeLast();
    }
  }
  QString text = QStringLiteral("Usage: vantorctl [options] %1 [arguments]\n\n")
                     .arg(shared.join(QLatin1Char(' ')));
  text += CommandsHelp(forms);
  std::vector<std::pair<QString, QString>> options;
  for (const CommandForm* form : forms) {
    for (const OptionForm& option : form->Options) {
      QString name = QStringLiteral("--") + option.Name;
      if (!option.ValueName.isEmpty()) {
        name += QStringLiteral(" <%1>").arg(option.ValueName);
      }
      if (std::none_of(options.begin(), options.end(),
                       [&name](const auto& listed) { return listed.first == name; })) {
        options.emplace_back(name, option.Description);
      }
    }
  }
  if (!options.empty()) {
    qsizetype width = 0;
    for (const auto& option : options) {
      width = std::max(width, option.first.size());
    }
    text += QStringLiteral("\nOptions:\n");
    for (const auto& option : options) {
      text += QStringLiteral("  ") + option.first.leftJustified(width + 2) + option.second +
              QLatin1Char('\n');
    }
  }
  text += QStringLiteral(
      "\nvantorctl --help: the options of every command (--port, --device, --format,\n"
      "--history, --trace), the exit statuses and examples.\n");
  return text;
}

QString WholeHelp(const QCommandLineParser& parser) {
  // The usage line names the program as it is called, not by the path used.
  QString text = parser.helpText();
  text.replace(0, text.indexOf(QLatin1Char(' '), 7), QStringLiteral("Usage: vantorctl"));
  return text + QString::fromUtf8(Epilogue);
}

void SetUp(QCommandLineParser& parser, const GlobalOptions& global) {
  parser.setApplicationDescription(QString::fromUtf8(Introduction) + CommandsHelp(AllCommands()) +
                                   QString::fromUtf8(Closing));
  for (const QCommandLineOption* option :
       {&global.Help, &global.Version, &global.Port, &global.Device, &global.Format,
        &global.History, &global.Trace}) {
    parser.addOption(*option);
  }
  for (const OptionForm& form : CommandOptionForms()) {
    parser.addOption(ParserOption(form));
  }
  parser.addPositionalArgument("command", "What to do (see Commands above).",
                               "<command> [arguments]");
}

CommandLine Mistake(const QString& message) {
  CommandLine line;
  line.Mistake = message;
  return line;
}

}  // namespace

QString HelpText() {
  QCommandLineParser parser;
  const GlobalOptions global;
  SetUp(parser, global);
  return WholeHelp(parser);
}

CommandLine ReadCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  const GlobalOptions global;
  SetUp(parser, global);
  if (!parser.parse(arguments)) {
    return Mistake(parser.errorText());
  }
  CommandLine line;
  if (parser.isSet(global.Help)) {
    const std::vector<const CommandForm*> named = CommandsNamed(parser.positionalArguments());
    line.Text = named.empty() ? WholeHelp(parser) : CommandHelp(named);
    return line;
  }
  if (parser.isSet(global.Version)) {
    line.Text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                QCoreApplication::applicationVersion() + QLatin1Char('\n');
    return line;
  }

  CommandOptions& c = line.Options;
  const QString format = parser.value(global.Format);
  if (format == QLatin1String("people")) {
    c.Output = Format::People;
  } else if (format == QLatin1String("csv")) {
    c.Output = Format::Csv;
  } else if (format == QLatin1String("json")) {
    c.Output = Format::Json;
  } else {
    return Mistake(QStringLiteral("--format is people, csv or json, not \"%1\"").arg(format));
  }

  const QStringList words = parser.positionalArguments();
  if (words.isEmpty()) {
    return Mistake(QStringLiteral("no command given"));
  }
  const CommandForm* form = FindCommand(words);
  if (form == nullptr) {
    return Mistake(QStringLiteral("unknown command \"%1\"").arg(words.join(QLatin1Char(' '))));
  }
  const QString command = form->Name();
  c.Words = words.mid(form->Words.size());
  QString mistake;
  if (form->CheckArguments != nullptr) {
    mistake = form->CheckArguments(parser, c);
  } else if (c.Words.size() != form->Files) {
    mistake = form->Files == 0 ? QStringLiteral("%1 takes no further arguments").arg(command)
                               : QStringLiteral("%1 needs a file name").arg(command);
  }
  if (!mistake.isEmpty()) {
    return Mistake(mistake);
  }
  for (const OptionForm& option : CommandOptionForms()) {
    if (parser.isSet(option.Name) && !form->Accepts(option.Name)) {
      return Mistake(QStringLiteral("--%1 does not go with %2").arg(option.Name, command));
    }
  }
  if (form->ReadOptions != nullptr) {
    mistake = form->ReadOptions(parser, c);
    if (!mistake.isEmpty()) {
      return Mistake(mistake);
    }
  }

  line.PortGiven = parser.isSet(global.Port);
  if (line.PortGiven) {
    QString error;
    const std::optional<PortChoice> parsed = ParsePortChoice(parser.value(global.Port), &error);
    if (!parsed) {
      return Mistake(error);
    }
    line.Ports = *parsed;
    line.Port = line.Ports.Several() ? 0 : line.Ports.Ports.front();
  }
  line.Device = parser.value(global.Device);
  if (line.PortGiven && !line.Device.isEmpty()) {
    return Mistake(QStringLiteral("--port and --device name two places; give one"));
  }
  if (line.Ports.Several() && form->NeedsInstrument) {
    if (!form->Several) {
      return Mistake(
          QStringLiteral("%1 works on one instrument at a time; give one --port").arg(command));
    }
    if (parser.isSet(global.Trace)) {
      return Mistake(QStringLiteral("--trace follows one line; give one --port"));
    }
  }
  if (form->CheckPlace != nullptr) {
    mistake = form->CheckPlace(parser, c);
    if (!mistake.isEmpty()) {
      return Mistake(mistake);
    }
  }
  if ((line.PortGiven || !line.Device.isEmpty()) && !form->NeedsInstrument) {
    return Mistake(QStringLiteral("%1 looks at the port map; --port and --device do not go with it")
                       .arg(command));
  }

  // The store opens on first use: commands that keep nothing never touch it.
  c.HistoryUrl = parser.value(global.History);
  line.History = ConfiguredHistoryLocation(c.HistoryUrl);
  if (parser.isSet(global.History) && !line.History.Valid()) {
    return Mistake(QStringLiteral("--history: %1").arg(line.History.Error));
  }
  if (form->CheckOutput != nullptr) {
    mistake = form->CheckOutput(parser, c);
    if (!mistake.isEmpty()) {
      return Mistake(mistake);
    }
  }
  line.TraceFile = parser.value(global.Trace);
  line.Form = form;
  return line;
}

}  // namespace vantor::cli
