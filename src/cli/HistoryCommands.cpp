// The commands that only read the history: export, the instruments it
// knows and an instrument's events. None needs an instrument on a line.
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "CommandTable.h"
#include "Commands.h"
#include "Csv.h"
#include "EventTexts.h"
#include "HistoryBackup.h"
#include "HistoryExport.h"
#include "LiveTexts.h"
#include "Scaling.h"
#include "Terminal.h"
#include "Vantorctl.h"

namespace vantor::cli {
namespace {

constexpr uint8_t English = 1;

// The history, only read, so a copy on a medium that takes no writes reads
// as well; nothing else runs meanwhile, so the store stays on this thread.
std::unique_ptr<HistoryStore> HistoryToRead(const Context& c) {
  HistoryOptions options;
  options.ReadOnly = true;
  return std::make_unique<HistoryStore>(ConfiguredHistoryLocation(c.HistoryUrl), options);
}

// " (where)" for a message about the history; nothing for a location that
// could not be used, whose error already says where it was named.
QString Named(const HistoryLocation& location) {
  return location.Valid() ? QStringLiteral(" (%1)").arg(location.Text()) : QString();
}

int HistoryUnread(const HistoryStore& store, const QString& error) {
  Complain(QStringLiteral("could not read the history%1: %2").arg(Named(store.Location()), error));
  return ExitHistoryNotWritten;
}

// Times without an offset are the computer's local time.
std::optional<int64_t> MomentOf(const QString& text) {
  if (text.isEmpty()) {
    return std::nullopt;
  }
  return QDateTime::fromString(text, Qt::ISODateWithMs).toMSecsSinceEpoch();
}

QDateTime LocalMs(int64_t ms) {
  return QDateTime::fromMSecsSinceEpoch(ms);
}

// The instruments `name` stands for (see InstrumentNameIsValid): all the
// firmware versions of one instrument. A name that fits none, or several
// instruments, is said on standard error and ends the command.
int NamedInstruments(const std::vector<StoredInstrument>& known, const QString& name,
                     std::vector<StoredInstrument>& named) {
  const QString wanted = name.trimmed().toLower();
  const bool typed = wanted.contains(QLatin1Char(':'));
  for (const StoredInstrument& stored : known) {
    if ((typed ? InstrumentKey(stored.Identity) : DeviceDataHex(stored.Identity))
            .startsWith(wanted)) {
      named.push_back(stored);
    }
  }
  if (named.empty()) {
    Complain(QStringLiteral("no instrument in the history matches \"%1\" (see vantorctl history "
                            "instruments)")
                 .arg(name));
    return ExitNoInstrument;
  }
  const auto other = [&named](const StoredInstrument& stored) {
    return stored.Identity.DeviceType != named.front().Identity.DeviceType ||
           stored.Identity.DeviceData != named.front().Identity.DeviceData;
  };
  if (std::any_of(named.begin(), named.end(), other)) {
    Complain(QStringLiteral("\"%1\" matches several instruments; give more of its device data:")
                 .arg(name));
    for (const StoredInstrument& stored : named) {
      WriteNote(QStringLiteral("  %1  %2")
                    .arg(InstrumentKey(stored.Identity), stored.Identity.Firmware.trimmed()));
    }
    return ExitUsage;
  }
  return ExitDone;
}

}  // namespace

bool InstrumentNameIsValid(const QString& name) {
  const QString text = name.trimmed();
  const qsizetype colon = text.indexOf(QLatin1Char(':'));
  const QString type = colon < 0 ? QString() : text.left(colon);
  const QString hex = text.mid(colon + 1);
  bool typeOk = true;
  if (colon >= 0) {
    const int number = type.toInt(&typeOk);
    typeOk = typeOk && number >= 0 && number <= 255;
  }
  const bool hexOk = std::all_of(hex.begin(), hex.end(), [](QChar c) {
    return c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
  });
  return typeOk && hexOk && hex.size() <= 40 && !text.isEmpty() && text != QLatin1String(":");
}

int HistoryExportCommand(Context& c) {
  HistoryExportRequest request;
  if (c.What == QLatin1String("archive")) {
    request.What = HistoryExportKind::Archive;
  } else if (c.What == QLatin1String("readings")) {
    request.What = HistoryExportKind::Readings;
  } else {
    request.What = HistoryExportKind::Events;
  }
  request.Range = {MomentOf(c.From), MomentOf(c.To)};

  const auto store = HistoryToRead(c);
  // Standard output gets the file once it is whole.
  QTemporaryDir staging;
  const QString path =
      c.OutFile.isEmpty() ? staging.filePath(QStringLiteral("export.csv")) : c.OutFile;
  const InterruptRequest interrupt;
  const HistoryExportResult result = ExportHistoryCsv(
      *store, request, path, [](double) { return !InterruptRequest::Requested(); });
  if (result.Cancelled) {
    WriteNote(QStringLiteral("Stopped; nothing written."));
    return InterruptRequest::ExitStatus();
  }
  if (!result.Ok) {
    Complain(QStringLiteral("could not export the history%1: %2")
                 .arg(Named(store->Location()), result.Error));
    return result.FileFailed ? ExitRefused : ExitHistoryNotWritten;
  }
  if (c.OutFile.isEmpty()) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      Complain(QStringLiteral("could not read the export back: %1").arg(file.errorString()));
      return ExitRefused;
    }
    while (!file.atEnd()) {
      WriteOut(file.read(1 << 20));
    }
  } else {
    WriteNote(QStringLiteral("Wrote %1 rows to %2.").arg(result.Rows).arg(c.OutFile));
  }
  return ExitDone;
}

int HistoryBackupCommand(Context& c) {
  const QString& file = c.Words.front();
  const HistoryBackupResult result = BackUpHistory(ConfiguredHistoryLocation(c.HistoryUrl), file);
  if (result.NotSqlite) {
    Complain(result.Error);
    return ExitRefused;
  }
  if (!result.Ok) {
    Complain(QStringLiteral("could not back up the history into %1: %2").arg(file, result.Error));
    return ExitHistoryNotWritten;
  }
  WriteNote(QStringLiteral("Backed up the history into %1.").arg(file));
  return ExitDone;
}

int HistoryInstrumentsCommand(Context& c) {
  const auto store = HistoryToRead(c);
  const auto summaries = store->Summaries();
  if (!summaries.Outcome.Ok) {
    return HistoryUnread(*store, summaries.Outcome.Error);
  }
  RecordWriter out(c.Output, {{"instrument", "instrument"},
                              {"firmware", "firmware"},
                              {"device_type", "device type"},
                              {"device_data", "device data (hex)"},
                              {"first_seen", "first seen"},
                              {"last_seen", "last seen"},
                              {"last_reading_time", "last reading time"},
                              {"dose_rate", "dose rate"},
                              {"dose_rate_unit", "dose rate unit"},
                              {"archive_records", "archive records kept"},
                              {"last_read", "last archive read"},
                              {"last_read_complete", "last read complete"},
                              {"last_read_records", "last read records"},
                              {"last_read_device_records", "instrument records at last read"}});
  for (size_t i = 0; i < summaries.Value.size(); ++i) {
    const InstrumentSummary& s = summaries.Value[i];
    const InstrumentIdentity& id = s.Instrument.Identity;
    const std::optional<LiveReading>& reading = s.LastReading;
    const int mode = reading ? ClampMeasurementMode(reading->Mode) : 0;
    const std::vector<Cell> cells = {
        Cell::Text(InstrumentKey(id)),
        Cell::Text(id.Firmware),
        Cell::Number(id.DeviceType),
        Cell::Text(DeviceDataHex(id)),
        TimeCell(LocalMs(s.Instrument.FirstSeenMs)),
        TimeCell(LocalMs(s.LastSeenMs)),
        reading ? TimeCell(LocalMs(reading->AtMs)) : Cell::Null(),
        reading ? Cell::Number(DotNumber(reading->DoseRate)) : Cell::Null(),
        reading ? Cell::Text(QString::fromUtf8(DoseRateUnit(mode, 0, English))) : Cell::Null(),
        Cell::Number(s.RecordsKept),
        s.LastReadMs ? TimeCell(LocalMs(*s.LastReadMs)) : Cell::Null(),
        s.LastReadMs ? Cell::Boolean(s.LastReadComplete) : Cell::Null(),
        s.LastReadMs ? Cell::Number(s.LastReadPositions) : Cell::Null(),
        s.LastReadMs ? Cell::Number(s.LastReadDeviceCount) : Cell::Null()};

    QString last = QStringLiteral("none");
    if (reading) {
      const ReadingText rate = RateReadingText(reading->DoseRate, mode);
      last = QStringLiteral("%1 %2 at %3")
                 .arg(rate.Value.trimmed(),
                      QString::fromUtf8(DoseRateUnit(mode, rate.PrefixIndex, English)),
                      PeopleTime(LocalMs(reading->AtMs)));
    }
    QString archive = QStringLiteral("%1 records kept; ").arg(s.RecordsKept);
    if (!s.LastReadMs) {
      archive += QStringLiteral("never read");
    } else {
      archive += QStringLiteral("last read %1, ").arg(PeopleTime(LocalMs(*s.LastReadMs))) +
                 (s.LastReadComplete ? QStringLiteral("complete")
                                     : QStringLiteral("incomplete: %1 of %2")
                                           .arg(s.LastReadPositions)
                                           .arg(s.LastReadDeviceCount));
    }
    const QStringList lines = {
        Labelled(QStringLiteral("instrument"), InstrumentKey(id)),
        Labelled(QStringLiteral("firmware"), id.Firmware.trimmed()),
        Labelled(QStringLiteral("first seen"), PeopleTime(LocalMs(s.Instrument.FirstSeenMs))),
        Labelled(QStringLiteral("last seen"), PeopleTime(LocalMs(s.LastSeenMs))),
        Labelled(QStringLiteral("last reading"), last),
        Labelled(QStringLiteral("archive"), archive)};
    if (i > 0) {
      out.AddPeopleLine(QString());
    }
    out.Add(cells, lines.join(QLatin1Char('\n')));
  }
  WriteOut(out.Take());
  if (summaries.Value.empty()) {
    WriteNote(QStringLiteral("The history knows no instrument yet."));
  }
  return ExitDone;
}

int HistoryEventsCommand(Context& c) {
  const auto store = HistoryToRead(c);
  const auto known = store->Instruments();
  if (!known.Outcome.Ok) {
    return HistoryUnread(*store, known.Outcome.Error);
  }
  std::vector<StoredInstrument> named;
  if (const int status = NamedInstruments(known.Value, c.Instrument, named); status != ExitDone) {
    return status;
  }
  RecordWriter out(c.Output, {{"instrument", "instrument"},
                              {"firmware", "firmware"},
                              {"time", "time"},
                              {"event", "event"},
                              {"user", "user"},
                              {"computer", "computer"},
                              {"instrument_time", "instrument time"},
                              {"drift_s", "drift (s)"},
                              {"record_count", "record count"},
                              {"member", "member"},
                              {"name", "name"},
                              {"old_value", "old value"},
                              {"new_value", "new value"}});
  const TimeRange range = {MomentOf(c.From), MomentOf(c.To)};
  const QString indent(21, QLatin1Char(' '));
  for (const StoredInstrument& instrument : named) {
    const InstrumentIdentity& id = instrument.Identity;
    if (named.size() > 1) {
      // Each firmware the instrument had is an instrument of its own in the
      // history.
      out.AddPeopleLine(QStringLiteral("%1 (%2):").arg(id.Firmware.trimmed(), InstrumentKey(id)));
    }
    const HistoryOutcome outcome = store->VisitEvents(
        id, range,
        [&](const StoredEvent& stored) {
          const HistoryEvent& e = stored.Event;
          const ActorParts actor = SplitActor(e.Actor);
          QString line = PeopleTime(LocalMs(e.AtMs)) + QStringLiteral("  ") +
                         EventKindText(e.Kind, English).leftJustified(27) + QStringLiteral(" by ") +
                         actor.User +
                         (actor.Computer.isEmpty() ? QString() : QStringLiteral(" on ")) +
                         actor.Computer;
          const QString details = EventDetailsText(e, English);
          if (!details.isEmpty()) {
            line += QStringLiteral("; ") + details;
          }
          const std::vector<Cell> common = {
              Cell::Text(InstrumentKey(id)),
              Cell::Text(id.Firmware),
              TimeCell(LocalMs(e.AtMs)),
              Cell::Text(EventKindName(e.Kind)),
              Cell::Text(actor.User),
              TextOrNull(actor.Computer),
              e.DeviceMs ? TimeCell(LocalMs(*e.DeviceMs)) : Cell::Null(),
              e.DriftSeconds ? Cell::Number(*e.DriftSeconds) : Cell::Null(),
              e.RecordCount ? Cell::Number(*e.RecordCount) : Cell::Null()};
          // A row for each changed member, one for an event without any.
          const size_t rows = std::max<size_t>(1, e.Changes.size());
          for (size_t i = 0; i < rows; ++i) {
            std::vector<Cell> cells = common;
            QStringList people;
            if (i == 0) {
              people << line;
            }
            if (i < e.Changes.size()) {
              const MemberChange& change = e.Changes[i];
              cells.insert(cells.end(), {Cell::Number(change.Member), Cell::Text(change.Name),
                                         Cell::Text(change.Old), Cell::Text(change.New)});
              people << indent + MemberChangeText(e.Kind, change, English);
            } else {
              cells.insert(cells.end(), 4, Cell::Null());
            }
            out.Add(cells, people.join(QLatin1Char('\n')));
          }
          return true;
        },
        c.Kinds);
    if (!outcome.Ok) {
      return HistoryUnread(*store, outcome.Error);
    }
  }
  WriteOut(out.Take());
  return ExitDone;
}

namespace {

// --from and --to: ISO 8601, or not given.
QString RangeOptions(const QCommandLineParser& line, CommandOptions& c) {
  c.From = line.value(QStringLiteral("from"));
  c.To = line.value(QStringLiteral("to"));
  for (const QString* time : {&c.From, &c.To}) {
    if (!time->isEmpty() && !QDateTime::fromString(*time, Qt::ISODateWithMs).isValid()) {
      return QStringLiteral("\"%1\" is no ISO 8601 time (2026-12-09T14:00)").arg(*time);
    }
  }
  return {};
}

QString ExportOptions(const QCommandLineParser& line, CommandOptions& c) {
  c.OutFile = line.value(QStringLiteral("out"));
  c.What = line.value(QStringLiteral("what"));
  if (c.What != QLatin1String("archive") && c.What != QLatin1String("readings") &&
      c.What != QLatin1String("events")) {
    return QStringLiteral("history export needs --what archive, readings or events");
  }
  return RangeOptions(line, c);
}

QString ExportFormat(const QCommandLineParser& /*line*/, CommandOptions& c) {
  if (c.Output == Format::Json) {
    return QStringLiteral("history export writes CSV; --format json does not go with it");
  }
  return {};
}

QString EventsOptions(const QCommandLineParser& line, CommandOptions& c) {
  c.Instrument = line.value(QStringLiteral("instrument"));
  if (!InstrumentNameIsValid(c.Instrument)) {
    return QStringLiteral(
        "history events needs --instrument with the device data in hex "
        "or its start (7:0100a5 or 0100a5)");
  }
  const QString kinds = line.value(QStringLiteral("kind"));
  for (const QString& name : kinds.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const std::optional<EventKind> kind = EventKindFromName(name.trimmed());
    if (!kind) {
      return QStringLiteral(
                 "--kind: \"%1\" is none of settings_write, service_write, "
                 "factory_reset, clock_set, dose_reset, archive_erase")
          .arg(name);
    }
    c.Kinds.push_back(*kind);
  }
  return RangeOptions(line, c);
}

const OptionForm FromOption{"from", "history export, events: from this time on.", "T"};
const OptionForm ToOption{"to", "history export, events: up to this time.", "T"};

}  // namespace

std::vector<CommandForm> HistoryCommands() {
  CommandForm exports;
  exports.Words = QStringList{"history", "export"};
  exports.Usage = {
      {{"history export --what archive|readings|events [--from T] [--to T]",
        "               [--out FILE]"},
       {"what the history keeps, as CSV: archive", "records, live readings or instrument events",
        "from T to T (ISO 8601, local time unless an", "offset is given; open without)"}}};
  exports.Options = {
      {"what", "history export: archive, readings or events.", "WHAT"},
      FromOption,
      ToOption,
      {"out", "archive read, history export: writes into FILE.", "FILE"},
  };
  exports.Run = &HistoryExportCommand;
  exports.NeedsInstrument = false;
  exports.ReadOptions = &ExportOptions;
  exports.CheckOutput = &ExportFormat;

  CommandForm instruments;
  instruments.Words = QStringList{"history", "instruments"};
  instruments.Usage = {{{"history instruments"},
                        {"every instrument the history knows: device",
                         "type and data, firmware, first and last seen,",
                         "last reading, archive records kept and the", "last read"}}};
  instruments.Run = &HistoryInstrumentsCommand;
  instruments.NeedsInstrument = false;

  CommandForm events;
  events.Words = QStringList{"history", "events"};
  events.Usage = {
      {{"history events --instrument ID [--kind K,...] [--from T] [--to T]"},
       {"the instrument's change log: settings and", "service writes member by member, factory",
        "resets, clock corrections with their drift,",
        "dose resets and erases, with who did them on",
        "which computer. ID is its device data in hex,",
        "or enough of its start to tell it from the",
        "others, optionally after its device type and", "a colon (7:0100a5, as history instruments",
        "writes it); K is settings_write,", "service_write, factory_reset, clock_set,",
        "dose_reset or archive_erase"}}};
  events.Options = {
      {"instrument",
       "history events: the instrument, by its device data in hex or the start of it "
       "(TYPE:HEX also).",
       "ID"},
      {"kind", "history events: only these kinds of event.", "K,..."},
      FromOption,
      ToOption,
  };
  events.Run = &HistoryEventsCommand;
  events.NeedsInstrument = false;
  events.ReadOptions = &EventsOptions;

  CommandForm backup;
  backup.Words = QStringList{"history", "backup"};
  backup.Usage = {
      {{"history backup FILE"},
       {"a consistent copy of the SQLite history in",
        "FILE, one file that opens alone, taken while", "the program may be writing (a PostgreSQL",
        "history is backed up with pg_dump)"}}};
  backup.Files = 1;
  backup.Run = &HistoryBackupCommand;
  backup.NeedsInstrument = false;
  return {exports, instruments, events, backup};
}

}  // namespace vantor::cli
