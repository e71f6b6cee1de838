#include "Vantorctl.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <map>
#include <memory>
#include <set>

#include "Commands.h"
#include "ConnectionManager.h"
#include "HistoryLocation.h"
#include "LineTrace.h"
#include "PortMap.h"
#include "PortSearch.h"
#include "ReturningPort.h"
#include "Secrets.h"
#include "SeveralInstruments.h"
#include "Terminal.h"

namespace vantor::cli {
namespace {

const char* const Description =
    "Talks to a dosimeter on a serial port, as the vantor program does, and\n"
    "writes what it reads for people or, with --format, for other programs.\n"
    "\n"
    "Commands:\n"
    "  ports [--probe]            the COM numbers of the port map, their devices\n"
    "                             and the adapters' maker, product, serial number\n"
    "                             and /dev/serial/by-id/ name; --probe asks each\n"
    "                             one whether the instrument answers there\n"
    "  ports --pin N PATH         pins COM N to PATH in the port map, best a\n"
    "                             /dev/serial/by-id/ name, which stays with the\n"
    "                             adapter whichever USB socket it is in\n"
    "  ports --unpin N            takes COM N out of the port map\n"
    "  info                       firmware, device type and data, the\n"
    "                             instrument's clock and its drift, the archive\n"
    "  live [--count N] [--interval S]\n"
    "                             one line per reading, every S seconds\n"
    "                             (default 1) until N readings or Ctrl-C: time,\n"
    "                             dose rate, uncertainty, dose, accumulation\n"
    "                             time, mode\n"
    "  clock [--sync]             the instrument's clock and its drift from the\n"
    "                             computer's; --sync sets it to the computer's\n"
    "  settings show              every service parameter and user setting\n"
    "  settings backup FILE       saves them, exactly, into FILE (JSON)\n"
    "  settings restore FILE [--dry-run]\n"
    "                             shows what differs from FILE, writes only\n"
    "                             that, reads it back and checks it\n"
    "  archive read [--out FILE]  every archive record, separators marking the\n"
    "                             runs; Ctrl-C stops after the current record\n"
    "                             and still writes what was read\n"
    "  archive erase [--yes]      erases the instrument's archive, after reading\n"
    "                             into the history what it does not hold yet\n"
    "  screen FILE                the instrument's display: FILE.bmp exactly as\n"
    "                             the program's PrintScreen writes it, FILE.png\n"
    "                             four times as large, for people\n"
    "  history export --what archive|readings|events [--from T] [--to T]\n"
    "                 [--out FILE]\n"
    "                             what the history keeps, as CSV: archive\n"
    "                             records, live readings or instrument events\n"
    "                             from T to T (ISO 8601, local time unless an\n"
    "                             offset is given; open without)\n"
    "  history instruments        every instrument the history knows: device\n"
    "                             type and data, firmware, first and last seen,\n"
    "                             last reading, archive records kept and the\n"
    "                             last read\n"
    "  history events --instrument ID [--kind K,...] [--from T] [--to T]\n"
    "                             the instrument's change log: settings and\n"
    "                             service writes member by member, factory\n"
    "                             resets, clock corrections with their drift,\n"
    "                             dose resets and erases, with who did them on\n"
    "                             which computer. ID is its device data in hex,\n"
    "                             or enough of its start to tell it from the\n"
    "                             others, optionally after its device type and\n"
    "                             a colon (7:0100a5, as history instruments\n"
    "                             writes it); K is settings_write,\n"
    "                             service_write, factory_reset, clock_set,\n"
    "                             dose_reset or archive_erase\n"
    "  history backup FILE        a consistent copy of the SQLite history in\n"
    "                             FILE, one file that opens alone, taken while\n"
    "                             the program may be writing (a PostgreSQL\n"
    "                             history is backed up with pg_dump)\n"
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

struct CommandForm {
  QStringList Words;  // "archive", "read"
  int Files = 0;      // file names that follow
  std::set<QString> Options;
  int (*Run)(Context&) = nullptr;
  bool NeedsInstrument = true;
  // Works on several instruments at once (--port 3,4,5 or all); the file it
  // names is then a folder.
  bool Several = false;
  SeveralRun::FileName File = SeveralRun::FileName::None;
};

const std::vector<CommandForm>& Forms() {
  using File = SeveralRun::FileName;
  static const std::vector<CommandForm> forms = {
      {{"ports"}, 0, {"probe", "pin", "unpin"}, &PortsCommand, false},
      {{"info"}, 0, {}, &InfoCommand, true, true},
      {{"live"}, 0, {"count", "interval"}, &LiveCommand, true, true},
      {{"clock"}, 0, {"sync"}, &ClockCommand, true, true},
      {{"settings", "show"}, 0, {}, &SettingsShowCommand, true, true},
      {{"settings", "backup"}, 1, {}, &SettingsBackupCommand, true, true, File::Argument},
      {{"settings", "restore"}, 1, {"dry-run"}, &SettingsRestoreCommand},
      {{"archive", "read"}, 0, {"out"}, &ArchiveReadCommand, true, true, File::OutOption},
      {{"archive", "erase"}, 0, {"yes"}, &ArchiveEraseCommand},
      {{"screen"}, 1, {}, &ScreenCommand},
      {{"history", "export"}, 0, {"what", "from", "to", "out"}, &HistoryExportCommand, false},
      {{"history", "instruments"}, 0, {}, &HistoryInstrumentsCommand, false},
      {{"history", "backup"}, 1, {}, &HistoryBackupCommand, false},
      {{"history", "events"},
       0,
       {"instrument", "kind", "from", "to"},
       &HistoryEventsCommand,
       false},
  };
  return forms;
}

// The suffix of an instrument's file in a folder of several.
QString FileSuffix(const CommandForm& form, Format format) {
  if (form.File == SeveralRun::FileName::Argument) {
    return QStringLiteral(".json");  // a settings backup
  }
  switch (format) {
    case Format::Csv:
      return QStringLiteral(".csv");
    case Format::Json:
      return QStringLiteral(".jsonl");
    default:
      return QStringLiteral(".txt");
  }
}

// The options of one command; the global ones apply to all.
const std::set<QString> OwnOptionNames = {"probe", "count", "interval", "sync",      "dry-run",
                                          "out",   "yes",   "what",     "from",      "to",
                                          "pin",   "unpin", "kind",     "instrument"};

int Usage(const QString& message) {
  Complain(message + QStringLiteral(" (see vantorctl --help)"));
  return ExitUsage;
}

// The exit status for a search that found a port there but closed to the
// user, after saying why; 0 for any other failure.
int Refused(const InstrumentSearch& search) {
  const QString text = SearchRefusalText(search, 1);
  if (text.isEmpty()) {
    return 0;
  }
  Complain(text);
  // A stale lock the user may not remove is a matter of rights, not of
  // another program.
  return search.Refusal == OpenFailure::Busy ? ExitBusy : ExitPermission;
}

// The same for a single port that did not open.
int Refused(OpenFailure failure, int port, const QString& path) {
  InstrumentSearch search;
  search.Refusal = failure;
  search.RefusedPort = port;
  search.RefusedPath = path;
  return Refused(search);
}

}  // namespace

int FindTheInstrument(Context& c, int port, const QString& device) {
  c.Link.InitDictionary();
  c.Link.SetDeviceAddress(DefaultDeviceAddress);
  const auto answers = [&c] {
    c.Identification = ReadSettings(c.Link);
    return c.Identification.Identified();
  };
  if (!device.isEmpty()) {
    // Any number will do: the opener opens the one device named.
    if (FindInstrument(c.Link, c.Clock, ConnectChosenPort, FirstPortNumber, answers).Port == 0) {
      if (c.Link.PortOpen()) {
        Complain(QStringLiteral("no instrument answers on %1").arg(device));
      } else if (const int status = Refused(c.Link.LastOpenFailure(), 0, device)) {
        return status;
      } else {
        Complain(QStringLiteral("%1 does not open").arg(device));
      }
      return ExitNoInstrument;
    }
    c.Device = device;
    return ExitDone;
  }
  if (port != 0) {
    c.Device = PortPath(port);
    if (c.Device.isEmpty()) {
      Complain(QStringLiteral("COM%1 is not in the port map").arg(port));
      return ExitNoInstrument;
    }
    if (FindInstrument(c.Link, c.Clock, ConnectChosenPort, port, answers).Port == 0) {
      if (c.Link.PortOpen()) {
        Complain(QStringLiteral("no instrument answers on COM%1 (%2)").arg(port).arg(c.Device));
      } else if (const int status = Refused(c.Link.LastOpenFailure(), port, c.Device)) {
        return status;
      } else {
        Complain(QStringLiteral("COM%1 (%2) does not open").arg(port).arg(c.Device));
      }
      return ExitNoInstrument;
    }
    c.Port = port;
    return ExitDone;
  }
  const InstrumentSearch search = FindInstrument(c.Link, c.Clock, ConnectAutoDetect, 0, answers);
  if (search.Port == 0) {
    Complain(search.TimedOut ? QStringLiteral("no instrument found before the search timed out")
                             : QStringLiteral("no instrument found on the ports of the port map"));
    if (const int status = Refused(search)) {
      return status;
    }
    return ExitNoInstrument;
  }
  c.Port = search.Port;
  c.Device = PortPath(search.Port);
  return ExitDone;
}

namespace {

// The arguments a replay runs again: all but the program's name and the
// trace option.
QStringList ArgumentsToReplay(const QStringList& arguments) {
  QStringList kept;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == QLatin1String("--trace")) {
      ++i;
    } else if (!arguments[i].startsWith(QLatin1String("--trace="))) {
      kept << arguments[i];
    }
  }
  return kept;
}

// Lines through the port map (or what the surroundings give instead), traced
// when a trace is written.
void SetUpLines(Context& c, const QString& device, const Surroundings& surroundings,
                LineTrace* trace) {
  DeviceLink::LineOpener opener = surroundings.OpenPort;
  if (!opener) {
    opener = &DeviceLink::OpenMappedPort;
  }
  if (!device.isEmpty()) {
    opener = [device, open = surroundings.OpenDevice](int) -> OpenedLine {
      return open ? open(device) : DeviceLink::OpenDevicePath(device);
    };
  }
  if (trace != nullptr) {
    opener = TracingOpener(*trace, std::move(opener));
    c.Link.SetOutcomeHandler([trace](LinkStatus status) {
      trace->Record(OutcomeEvent(status), LineTransport::Clock::now());
    });
    c.Clock.SetTrace(trace);
  }
  if (!device.isEmpty()) {
    // A device named by its path has no number.
    opener = [numbered = std::move(opener)](int) { return numbered(0); };
  }
  // A port that comes back is asked who is on it before anything it says
  // is kept.
  c.Link.SetLineOpener(IdentifyingOnReturn(c.Link, std::move(opener)));
}

}  // namespace

int RunVantorctl(const QStringList& arguments, const Surroundings& surroundings) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(Description));
  const QCommandLineOption help({"h", "help"}, "Shows this text.");
  const QCommandLineOption version("version", "Shows the version.");
  const QCommandLineOption portOption(
      "port",
      "COM number N (1..254) of the port map, instead of looking for the instrument; a list "
      "(3,4,5) or all for several instruments at once.",
      "N");
  const QCommandLineOption deviceOption(
      "device", "The serial device at PATH, instead of looking for the instrument.", "PATH");
  const QCommandLineOption historyOption(
      "history",
      "Keeps the history in URL: a SQLite file, or postgresql://user@host/database (default: "
      "History/Url of vantor.conf, else $XDG_DATA_HOME/vantor/history.sqlite).",
      "URL");
  const QCommandLineOption traceOption(
      "trace", "Records every write, read, purge and timeout on the line into FILE, with its time.",
      "FILE");
  const QCommandLineOption formatOption(
      "format", "people (the default), csv (RFC 4180, header row) or json (an object a line).",
      "FORMAT", "people");
  const std::map<QString, QCommandLineOption> own = {
      {"probe", QCommandLineOption("probe", "ports: asks each port for the instrument.")},
      {"count", QCommandLineOption("count", "live: stops after N readings.", "N")},
      {"interval", QCommandLineOption("interval", "live: seconds between readings.", "S", "1")},
      {"sync", QCommandLineOption("sync", "clock: sets the instrument to the computer's time.")},
      {"dry-run",
       QCommandLineOption("dry-run", "settings restore: shows what differs, writes nothing.")},
      {"out", QCommandLineOption("out", "archive read, history export: writes into FILE.", "FILE")},
      {"what", QCommandLineOption("what", "history export: archive, readings or events.", "WHAT")},
      {"from", QCommandLineOption("from", "history export, events: from this time on.", "T")},
      {"to", QCommandLineOption("to", "history export, events: up to this time.", "T")},
      {"instrument",
       QCommandLineOption("instrument",
                          "history events: the instrument, by its device data in hex or the "
                          "start of it (TYPE:HEX also).",
                          "ID")},
      {"kind", QCommandLineOption("kind", "history events: only these kinds of event.", "K,...")},
      {"yes", QCommandLineOption("yes", "archive erase: erases without asking.")},
      {"pin", QCommandLineOption("pin", "ports: pins COM N to the PATH that follows.", "N")},
      {"unpin", QCommandLineOption("unpin", "ports: takes COM N out of the port map.", "N")},
  };
  parser.addOption(help);
  parser.addOption(version);
  parser.addOption(portOption);
  parser.addOption(deviceOption);
  parser.addOption(formatOption);
  parser.addOption(historyOption);
  parser.addOption(traceOption);
  for (const auto& [name, option] : own) {
    parser.addOption(option);
  }
  parser.addPositionalArgument("command", "What to do (see Commands above).",
                               "<command> [arguments]");

  if (!parser.parse(arguments)) {
    return Usage(parser.errorText());
  }
  if (parser.isSet(help)) {
    // The usage line names the program as it is called, not by the path used.
    QString text = parser.helpText();
    text.replace(0, text.indexOf(QLatin1Char(' '), 7), QStringLiteral("Usage: vantorctl"));
    WriteOut((text + QString::fromUtf8(Epilogue)).toUtf8());
    return ExitDone;
  }
  if (parser.isSet(version)) {
    WriteOut((QCoreApplication::applicationName() + QLatin1Char(' ') +
              QCoreApplication::applicationVersion() + QLatin1Char('\n'))
                 .toUtf8());
    return ExitDone;
  }

  // Before the context: the lines it opens record into it to the end.
  LineTrace trace;
  Context c;
  bool ok = true;
  const QString format = parser.value(formatOption);
  if (format == QLatin1String("people")) {
    c.Output = Format::People;
  } else if (format == QLatin1String("csv")) {
    c.Output = Format::Csv;
  } else if (format == QLatin1String("json")) {
    c.Output = Format::Json;
  } else {
    return Usage(QStringLiteral("--format is people, csv or json, not \"%1\"").arg(format));
  }

  const QStringList words = parser.positionalArguments();
  if (words.isEmpty()) {
    return Usage(QStringLiteral("no command given"));
  }
  const CommandForm* form = nullptr;
  for (const CommandForm& candidate : Forms()) {
    if (words.mid(0, candidate.Words.size()) == candidate.Words) {
      form = &candidate;
      break;
    }
  }
  if (form == nullptr) {
    return Usage(QStringLiteral("unknown command \"%1\"").arg(words.join(QLatin1Char(' '))));
  }
  const QString command = form->Words.join(QLatin1Char(' '));
  c.Words = words.mid(form->Words.size());
  for (const auto& [name, number] : {std::pair{"pin", &c.Pin}, std::pair{"unpin", &c.Unpin}}) {
    if (parser.isSet(own.at(name)) && form->Run == &PortsCommand) {
      *number = parser.value(own.at(name)).toInt(&ok);
      if (!ok || *number < FirstPortNumber || *number > LastPortNumber) {
        return Usage(QStringLiteral("--%1 needs a COM number from 1 to 254").arg(name));
      }
    }
  }
  if (c.Pin != 0 && c.Unpin != 0) {
    return Usage(QStringLiteral("--pin and --unpin: one at a time"));
  }
  if (c.Pin != 0 && c.Words.size() != 1) {
    return Usage(QStringLiteral("ports --pin N needs the PATH to pin"));
  }
  if (c.Words.size() != form->Files && c.Pin == 0) {
    return Usage(form->Files == 0 ? QStringLiteral("%1 takes no further arguments").arg(command)
                                  : QStringLiteral("%1 needs a file name").arg(command));
  }
  for (const QString& name : OwnOptionNames) {
    if (parser.isSet(own.at(name)) && form->Options.count(name) == 0) {
      return Usage(QStringLiteral("--%1 does not go with %2").arg(name, command));
    }
  }

  if (parser.isSet(own.at("count"))) {
    c.Count = parser.value(own.at("count")).toLongLong(&ok);
    if (!ok || c.Count < 1) {
      return Usage(QStringLiteral("--count needs a whole number of readings, 1 or more"));
    }
  }
  c.Interval = parser.value(own.at("interval")).toDouble(&ok);
  if (!ok || !(c.Interval >= 0.1 && c.Interval <= 86400)) {
    return Usage(QStringLiteral("--interval needs seconds from 0.1 to 86400"));
  }
  c.Probe = parser.isSet(own.at("probe"));
  c.Sync = parser.isSet(own.at("sync"));
  c.DryRun = parser.isSet(own.at("dry-run"));
  c.Yes = parser.isSet(own.at("yes"));
  c.OutFile = parser.value(own.at("out"));
  c.What = parser.value(own.at("what"));
  c.From = parser.value(own.at("from"));
  c.To = parser.value(own.at("to"));
  if (form->Run == &HistoryExportCommand && c.What != QLatin1String("archive") &&
      c.What != QLatin1String("readings") && c.What != QLatin1String("events")) {
    return Usage(QStringLiteral("history export needs --what archive, readings or events"));
  }
  if (form->Run == &HistoryEventsCommand) {
    c.Instrument = parser.value(own.at("instrument"));
    if (!InstrumentNameIsValid(c.Instrument)) {
      return Usage(
          QStringLiteral("history events needs --instrument with the device data in hex "
                         "or its start (7:0100a5 or 0100a5)"));
    }
    const QString kinds = parser.value(own.at("kind"));
    for (const QString& name : kinds.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
      const std::optional<EventKind> kind = EventKindFromName(name.trimmed());
      if (!kind) {
        return Usage(QStringLiteral("--kind: \"%1\" is none of settings_write, service_write, "
                                    "factory_reset, clock_set, dose_reset, archive_erase")
                         .arg(name));
      }
      c.Kinds.push_back(*kind);
    }
  }
  if (form->Run == &HistoryExportCommand || form->Run == &HistoryEventsCommand) {
    for (const QString* time : {&c.From, &c.To}) {
      if (!time->isEmpty() && !QDateTime::fromString(*time, Qt::ISODateWithMs).isValid()) {
        return Usage(QStringLiteral("\"%1\" is no ISO 8601 time (2026-12-09T14:00)").arg(*time));
      }
    }
  }

  int port = 0;
  PortChoice ports;
  if (parser.isSet(portOption)) {
    QString error;
    const std::optional<PortChoice> parsed = ParsePortChoice(parser.value(portOption), &error);
    if (!parsed) {
      return Usage(error);
    }
    ports = *parsed;
    port = ports.Several() ? 0 : ports.Ports.front();
  }
  const QString device = parser.value(deviceOption);
  if (parser.isSet(portOption) && !device.isEmpty()) {
    return Usage(QStringLiteral("--port and --device name two places; give one"));
  }
  if (ports.Several() && form->NeedsInstrument) {
    if (!form->Several) {
      return Usage(
          QStringLiteral("%1 works on one instrument at a time; give one --port").arg(command));
    }
    if (parser.isSet(traceOption)) {
      return Usage(QStringLiteral("--trace follows one line; give one --port"));
    }
  }
  if (form->Run == &ArchiveEraseCommand && !c.Yes && !StandardInputIsTerminal()) {
    return Usage(
        QStringLiteral("archive erase asks first; without a terminal to ask on, give --yes"));
  }
  if (form->Run == &ScreenCommand) {
    const QString suffix = c.Words.front().section(QLatin1Char('.'), -1).toLower();
    if (c.Words.front().indexOf(QLatin1Char('.')) < 0 ||
        (suffix != QLatin1String("bmp") && suffix != QLatin1String("png"))) {
      return Usage(QStringLiteral("screen writes a .bmp or a .png file"));
    }
  }
  if ((parser.isSet(portOption) || !device.isEmpty()) && !form->NeedsInstrument) {
    return Usage(QStringLiteral("%1 looks at the port map; --port and --device do not go with it")
                     .arg(command));
  }

  // The store opens on first use: commands that keep nothing never touch it.
  c.HistoryUrl = parser.value(historyOption);
  const HistoryLocation location = ConfiguredHistoryLocation(c.HistoryUrl);
  if (parser.isSet(historyOption) && !location.Valid()) {
    return Usage(QStringLiteral("--history: %1").arg(location.Error));
  }
  if (form->Run == &HistoryExportCommand && c.Output == Format::Json) {
    return Usage(QStringLiteral("history export writes CSV; --format json does not go with it"));
  }

  const QString traceFile = parser.value(traceOption);
  if (!traceFile.isEmpty()) {
    QString error;
    if (!trace.WriteTo(traceFile, &error)) {
      Complain(QStringLiteral("cannot write the trace %1: %2").arg(traceFile, error));
      return ExitRefused;
    }
    trace.Note(QStringLiteral("program vantorctl %1 (Qt %2)")
                   .arg(QCoreApplication::applicationVersion(), QString::fromLatin1(qVersion())));
    trace.Note(ClockNote(surroundings.Calendar != nullptr ? *surroundings.Calendar : c.Clock));
    trace.Note(QStringLiteral("command ") +
               QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(
                                                   MaskSecrets(ArgumentsToReplay(arguments))))
                                     .toJson(QJsonDocument::Compact)));
  }
  c.Clock.SetBase(surroundings.Calendar);
  if (surroundings.SteadyNow) {
    c.SteadyNow = surroundings.SteadyNow;
  }
  if (surroundings.Sleep) {
    c.Sleep = surroundings.Sleep;
  }
  SetUpLines(c, device, surroundings, traceFile.isEmpty() ? nullptr : &trace);

  // SIGTERM and Ctrl-C from here on stop the work after its current step,
  // and what was read still goes into the history.
  const InterruptRequest interrupt;
  int status = ExitDone;
  if (form->NeedsInstrument && ports.Several()) {
    OpenHistory(c, location);
    SeveralRun run;
    run.Choice = ports;
    run.Command = form->Run;
    run.Options = c;
    run.File = form->File;
    run.FileSuffix = FileSuffix(*form, c.Output);
    run.OpenPort = surroundings.OpenPort;
    run.Calendar = surroundings.Calendar;
    run.History = c.Service.get();
    return FinishHistory(c, RunOnSeveral(run));
  }
  if (form->NeedsInstrument) {
    OpenHistory(c, location);
    status = FindTheInstrument(c, port, device);
    if (status == ExitDone && InterruptRequest::Requested()) {
      status = InterruptRequest::ExitStatus();
    }
  }
  if (status == ExitDone) {
    status = form->Run(c);
  }
  status = FinishHistory(c, status);
  if (!traceFile.isEmpty()) {
    trace.Note(QStringLiteral("exit %1").arg(status));
    if (!trace.Flush()) {
      Complain(QStringLiteral("the trace %1 could not be written whole").arg(traceFile));
    }
  }
  return status;
}

}  // namespace vantor::cli
