#include "Commands.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "ArchiveHistory.h"
#include "ArchiveRead.h"
#include "ArchiveRecord.h"
#include "ConnectionManager.h"
#include "Csv.h"
#include "Dictionary.h"
#include "LiveTexts.h"
#include "MeasureHistory.h"
#include "MeasureOperations.h"
#include "MessageTable.h"
#include "PortMap.h"
#include "PortSearch.h"
#include "SafeFile.h"
#include "Scaling.h"
#include "ScreenCapture.h"
#include "Secrets.h"
#include "SettingsBackup.h"
#include "SettingsFile.h"
#include "SettingsHistory.h"
#include "Terminal.h"
#include "Vantorctl.h"

namespace vantor::cli {
namespace {

// vantorctl speaks English; units and words come from the program's own
// English texts.
constexpr uint8_t English = 1;

// `live` gives the instrument up only when its polls have failed for this
// long and this many times in a row: a cable pulled and put back, or an
// adapter that comes back under a new terminal, is ridden over whatever the
// interval.
constexpr int LivePollsLost = 5;
constexpr std::chrono::seconds LiveSilenceLimit{10};

QDateTime LocalMoment(int64_t seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds);
}

QString DriftText(int64_t drift) {
  if (drift == 0) {
    return QStringLiteral("in step with the computer");
  }
  return QStringLiteral("%1 s %2 the computer")
      .arg(std::llabs(drift))
      .arg(drift > 0 ? QStringLiteral("ahead of") : QStringLiteral("behind"));
}

QString Hex(const uint8_t* bytes, size_t count) {
  return QString::fromLatin1(
      QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(count)).toHex());
}

// Writes what the writer holds to standard output, or keeps it for a file.
void Emit(RecordWriter& writer) {
  WriteOut(writer.Take());
}

int LineFailure(const QString& what) {
  Complain(what);
  return ExitLineFailure;
}

// The measurement record, without touching the instrument's clock.
bool ReadMeasurement(Context& c, MeasurementPoll& poll) {
  poll = PollMeasurement(c.Link, c.Clock, false);
  return poll.Read;
}

}  // namespace

void Complain(const QString& message) {
  // Whatever a message quotes (a URL, a server's words) shows no password.
  WriteNote(QStringLiteral("vantorctl: ") + MaskSecrets(message));
}

namespace {

// Why positions of a read stayed open: records that came but whose place
// the line left uncertain, and records that never came.
QString MissingRecordsText(const ArchiveReadResult& read, int count) {
  QStringList parts;
  if (read.Unplaced > 0) {
    parts << QStringLiteral("%1 of %2 records could not be placed").arg(read.Unplaced).arg(count);
  }
  if (read.Missing > read.Unplaced) {
    parts << QStringLiteral("%1 of %2 records never arrived")
                 .arg(read.Missing - read.Unplaced)
                 .arg(count);
  }
  return parts.join(QStringLiteral(", "));
}

// ports --pin N PATH: COM N names PATH from now on.
int PinCommand(Context& c) {
  const QString path = QFileInfo(c.Words.front()).absoluteFilePath();
  const bool wasPinned = PortMapPinned();
  bool ok = false;
  const QString previous = PinPort(c.Pin, path, &ok);
  if (!ok) {
    Complain(QStringLiteral("could not write COM%1 into %2").arg(c.Pin).arg(PortMapDirectory()));
    return ExitRefused;
  }
  WriteNote(previous.isEmpty() || previous == path
                ? QStringLiteral("COM%1 now names %2.").arg(c.Pin).arg(path)
                : QStringLiteral("COM%1 now names %2 (it named %3 before).")
                      .arg(c.Pin)
                      .arg(path, previous));
  const QString byIdDirectory = QString::fromLatin1(SerialByIdDirectory);
  if (!QFileInfo::exists(path)) {
    WriteNote(
        QStringLiteral("%1 is not there now; COM%2 opens it once it is.").arg(path).arg(c.Pin));
  } else if (QFileInfo(path).absolutePath() != byIdDirectory) {
    const QString byId = ByIdName(path);
    if (!byId.isEmpty()) {
      WriteNote(QStringLiteral("%1 is also %2, which stays with the adapter whichever USB socket "
                               "it is in: vantorctl ports --pin %3 %2")
                    .arg(path, byId)
                    .arg(c.Pin));
    }
  }
  if (!wasPinned) {
    WriteNote(
        QStringLiteral("The port map now holds only its pinned numbers; the system's other "
                       "ports have no COM number until they are pinned too."));
  }
  return ExitDone;
}

// ports --unpin N.
int UnpinCommand(Context& c) {
  if (!PortMapPinned() || PortPath(c.Unpin).isEmpty()) {
    WriteNote(QStringLiteral("COM%1 is not pinned; nothing to do.").arg(c.Unpin));
    return ExitDone;
  }
  UnpinPort(c.Unpin);
  WriteNote(QStringLiteral("COM%1 is no longer pinned.").arg(c.Unpin));
  if (!PortMapPinned()) {
    WriteNote(
        QStringLiteral("No pins are left: the numbers name the system's serial ports again."));
  }
  return ExitDone;
}

}  // namespace

int PortsCommand(Context& c) {
  if (c.Pin != 0 || c.Unpin != 0) {
    const int status = c.Pin != 0 ? PinCommand(c) : UnpinCommand(c);
    if (status != ExitDone) {
      return status;
    }
  }
  std::vector<Column> columns = {
      {"port", "port"}, {"device", "device"}, {"description", "description"}};
  if (c.Probe) {
    columns.push_back({"answers", "instrument answers"});
    columns.push_back({"firmware", "firmware"});
  }
  // The adapter's identity after the columns scripts already read.
  columns.insert(columns.end(), {{"maker", "maker"},
                                 {"product", "product"},
                                 {"serial_number", "serial number"},
                                 {"usb_id", "USB id"},
                                 {"by_id", "by-id path"},
                                 {"may_open", "may be opened"}});
  RecordWriter out(c.Output, columns);
  std::vector<PortEntry> entries = PortMapEntries();
  IdentifyPorts(entries);
  if (entries.empty()) {
    WriteNote(QStringLiteral("The port map lists no ports."));
  }
  int deviceWidth = 0;
  for (const PortEntry& entry : entries) {
    deviceWidth = std::max(deviceWidth, static_cast<int>(entry.DevicePath.size()));
  }
  c.Link.InitDictionary();
  QStringList refused;
  for (const PortEntry& entry : entries) {
    const QString description = PortDescription(entry, English);
    std::vector<Cell> cells = {Cell::Number(entry.Number), Cell::Text(entry.DevicePath),
                               Cell::Text(description)};
    const std::vector<Cell> identity = {
        TextOrNull(entry.Maker), TextOrNull(entry.Detail), TextOrNull(entry.SerialNumber),
        TextOrNull(entry.UsbId), TextOrNull(entry.ById),   Cell::Boolean(!entry.NoPermission)};
    const QString indent(7, QLatin1Char(' '));
    QString line = QStringLiteral("COM%1").arg(entry.Number).leftJustified(7) +
                   entry.DevicePath.leftJustified(deviceWidth + 2) + description;
    if (entry.NoPermission) {
      line += QStringLiteral("  [permission denied]");
      refused << PortRefusalText(OpenFailure::PermissionDenied, entry.Number,
                                 entry.Device.isEmpty() ? entry.DevicePath : entry.Device, English);
    }
    if (c.Probe) {
      c.Link.OpenPort(entry.Number);
      const bool opened = c.Link.PortOpen();
      const OpenFailure failure = c.Link.LastOpenFailure();
      const SettingsRead read = opened ? ReadSettings(c.Link) : SettingsRead{};
      c.Link.ClosePort();
      cells.push_back(Cell::Boolean(read.Identified()));
      cells.push_back(read.FirmwareRead ? Cell::Text(read.Firmware) : Cell::Null());
      if (opened) {
        line += read.Identified() ? QStringLiteral("  [instrument, firmware %1]").arg(read.Firmware)
                                  : QStringLiteral("  [no instrument]");
      } else if (failure == OpenFailure::Busy) {
        line += QStringLiteral("  [held by another program]");
      } else if (failure == OpenFailure::StaleLock) {
        line += QStringLiteral("  [stale lock]");
        refused << PortRefusalText(failure, entry.Number, entry.DevicePath, English);
      } else if (!entry.NoPermission) {
        line += failure == OpenFailure::PermissionDenied ? QStringLiteral("  [permission denied]")
                                                         : QStringLiteral("  [does not open]");
      }
    }
    cells.insert(cells.end(), identity.begin(), identity.end());
    // Where a name leads, and the name that stays with the adapter.
    if (!entry.Device.isEmpty()) {
      line += QLatin1Char('\n') + indent + QStringLiteral("device ") + entry.Device;
    }
    if (!entry.ById.isEmpty() && entry.ById != entry.DevicePath) {
      line += QLatin1Char('\n') + indent + QStringLiteral("by-id  ") + entry.ById;
    }
    out.Add(cells, line);
  }
  Emit(out);
  for (const QString& text : refused) {
    WriteNote(text);
  }
  return ExitDone;
}

int InfoCommand(Context& c) {
  MeasurementPoll poll;
  if (!ReadMeasurement(c, poll)) {
    return LineFailure(QStringLiteral("the instrument did not send its measurement record"));
  }
  const SettingsRead& id = c.Identification;
  const std::optional<int64_t> instrumentTime =
      InstrumentClockTime(c.Clock, poll.Record.DeviceClock);
  const std::optional<QDateTime> instrumentClock =
      instrumentTime ? std::optional(LocalMoment(*instrumentTime)) : std::nullopt;
  const int64_t drift = instrumentTime ? *instrumentTime - poll.At : 0;
  const uint16_t capacity = ComputeArchiveLayoutSizes().Capacity;

  RecordWriter out(c.Output,
                   {{"port", "port"},
                    {"device", "device"},
                    {"firmware", "firmware"},
                    {"device_type", "device type"},
                    {"device_data", "device data (hex)"},
                    {"instrument_clock", "instrument clock"},
                    {"computer_clock", "computer clock"},
                    {"drift_s", "drift (s)"},
                    {"archive_records", "archive records"},
                    {"archive_full", "archive memory full"}},
                   c.RowPort);
  const QString hex = Hex(id.DeviceData.data(), id.DeviceData.size());
  const std::vector<Cell> cells = {c.Port != 0 ? Cell::Number(c.Port) : Cell::Null(),
                                   Cell::Text(c.Device),
                                   id.FirmwareRead ? Cell::Text(id.Firmware) : Cell::Null(),
                                   Cell::Number(id.Service.DeviceType),
                                   id.DeviceDataRead ? Cell::Text(hex) : Cell::Null(),
                                   TimeCell(instrumentClock),
                                   TimeCell(LocalMoment(poll.At)),
                                   instrumentTime ? Cell::Number(drift) : Cell::Null(),
                                   Cell::Number(poll.Record.ArchiveRecordCount),
                                   Cell::Boolean(poll.MemoryFull)};
  QStringList lines;
  lines << Labelled(
      QStringLiteral("port"),
      c.Port != 0 ? QStringLiteral("COM%1 (%2)").arg(c.Port).arg(c.Device) : c.Device);
  lines << Labelled(QStringLiteral("firmware"),
                    id.FirmwareRead ? id.Firmware : QStringLiteral("-"));
  lines << Labelled(QStringLiteral("device type"), QString::number(id.Service.DeviceType));
  lines << Labelled(QStringLiteral("device data"), id.DeviceDataRead ? hex : QStringLiteral("-"));
  lines << Labelled(QStringLiteral("clock"),
                    instrumentClock
                        ? PeopleTime(*instrumentClock) + QStringLiteral(", ") + DriftText(drift)
                        : QStringLiteral("not set"));
  lines << Labelled(QStringLiteral("archive"),
                    QStringLiteral("%1 of %2 records%3")
                        .arg(poll.Record.ArchiveRecordCount)
                        .arg(capacity)
                        .arg(poll.MemoryFull ? QStringLiteral(", memory full") : QString()));
  out.Add(cells, lines.join(QLatin1Char('\n')));
  Emit(out);
  return ExitDone;
}

int LiveCommand(Context& c) {
  RecordWriter out(c.Output,
                   {{"time", "time"},
                    {"dose_rate", "dose rate"},
                    {"dose_rate_unit", "dose rate unit"},
                    {"uncertainty_percent", "uncertainty (%)"},
                    {"dose_usv", "dose (uSv)"},
                    {"accumulation_s", "accumulation time (s)"},
                    {"mode", "mode"}},
                   c.RowPort);
  Emit(out);  // the CSV header at once
  const InterruptRequest interrupt;
  using Clock = LineTransport::Clock;
  const auto period =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(c.Interval));
  auto next = c.SteadyNow();
  // The port came back with another instrument on it: its readings go
  // under it (the link asked who it is), and standard error says so.
  const auto presence = std::move(c.Link.OnPortPresence);
  c.Link.OnPortPresence = [&c](bool present) {
    const ValueStorage& values = c.Link.Values();
    if (!present || values.DeviceData == c.Identification.DeviceData) {
      return;
    }
    c.Identification.DeviceData = values.DeviceData;
    c.Identification.Firmware = IdentityOf(values).Firmware;
    Complain(QStringLiteral("%1: another instrument connected: %2")
                 .arg(c.Port != 0 ? QStringLiteral("COM%1").arg(c.Port) : c.Device,
                      InstrumentSerial(values.DeviceData)));
  };
  const struct Restore {
    Context& C;
    std::function<void(bool)> Presence;
    ~Restore() { C.Link.OnPortPresence = std::move(Presence); }
  } restore{c, presence};
  long long readings = 0;
  int failedInRow = 0;
  Clock::time_point failingSince;
  while ((c.Count < 0 || readings < c.Count) && !InterruptRequest::Requested()) {
    // Every reading goes into the history too.
    const MeasurementPoll poll = PollMeasurement(c.Link, c.Clock, c.History, false);
    if (poll.Read) {
      failedInRow = 0;
      ++readings;
      const MeasurementRecord& r = poll.Record;
      const int mode = ClampMeasurementMode(r.MeasurementMode & 0xFF);
      const ReadingText rate = RateReadingText(r.DoseRate, mode);
      const ReadingText dose = DoseReadingText(r.Dose);
      const QString line =
          PeopleTime(LocalMoment(poll.At)) + QStringLiteral("  ") +
          (rate.Value + QLatin1Char(' ') +
           QString::fromUtf8(DoseRateUnit(mode, rate.PrefixIndex, English)))
              .rightJustified(16) +
          QStringLiteral("  \u00B1") + UncertaintyText(r.DoseRateError).leftJustified(5) +
          (dose.Value + QLatin1Char(' ') + MessageText(RowDoseUnit + dose.PrefixIndex, English))
              .rightJustified(12) +
          QStringLiteral("  ") + AccumulationTimeText(r.AccumulationTime, English).trimmed() +
          QStringLiteral("  mode %1").arg(r.MeasurementMode & 0xFF);
      out.Add({TimeCell(LocalMoment(poll.At)), Cell::Number(DotNumber(r.DoseRate)),
               Cell::Text(QString::fromUtf8(DoseRateUnit(mode, 0, English))),
               Cell::Number(DotNumber(r.DoseRateError)), Cell::Number(DotNumber(r.Dose)),
               Cell::Number(r.AccumulationTime), Cell::Number(r.MeasurementMode & 0xFF)},
              line);
      Emit(out);
    } else {
      if (failedInRow++ == 0) {
        failingSince = c.SteadyNow();
      }
      if (failedInRow >= LivePollsLost && c.SteadyNow() - failingSince >= LiveSilenceLimit) {
        return LineFailure(QStringLiteral("the instrument stopped answering"));
      }
    }
    if (c.Count >= 0 && readings >= c.Count) {
      break;
    }
    // Sleep in short steps, so Ctrl-C ends the wait at once.
    next += period;
    while (c.SteadyNow() < next && !InterruptRequest::Requested()) {
      TellHistory();
      c.Sleep(std::min<Clock::duration>(next - c.SteadyNow(), std::chrono::milliseconds(50)));
    }
    if (c.SteadyNow() > next + period) {
      next = c.SteadyNow();  // a slow poll does not bring a burst after it
    }
  }
  // Ctrl-C (the way to end it without --count) says so in the status.
  return InterruptRequest::Requested() ? InterruptRequest::ExitStatus() : ExitDone;
}

int ClockCommand(Context& c) {
  MeasurementPoll poll;
  if (!ReadMeasurement(c, poll)) {
    return LineFailure(QStringLiteral("the instrument did not send its clock"));
  }
  std::vector<Column> columns = {{"instrument_clock", "instrument clock"},
                                 {"computer_clock", "computer clock"},
                                 {"drift_s", "drift (s)"}};
  const std::optional<int64_t> before = InstrumentClockTime(c.Clock, poll.Record.DeviceClock);
  std::vector<Cell> cells = {TimeCell(before ? std::optional(LocalMoment(*before)) : std::nullopt),
                             TimeCell(LocalMoment(poll.At)),
                             before ? Cell::Number(*before - poll.At) : Cell::Null()};
  QStringList lines;
  lines << Labelled(QStringLiteral("instrument"),
                    before ? PeopleTime(LocalMoment(*before)) : QStringLiteral("not set"));
  lines << Labelled(QStringLiteral("computer"), PeopleTime(LocalMoment(poll.At)));
  if (before) {
    lines << Labelled(QStringLiteral("drift"), DriftText(*before - poll.At));
  }
  if (c.Sync) {
    columns.push_back({"set_to", "set to"});
    const ClockSync sync = SyncClock(c.Link, c.Clock, c.History);
    if (!sync.Written) {
      return LineFailure(QStringLiteral("the instrument did not take the new time"));
    }
    cells.push_back(TimeCell(LocalMoment(sync.ComputerTime)));
    lines << Labelled(QStringLiteral("set to"), PeopleTime(LocalMoment(sync.ComputerTime)));
  }
  RecordWriter out(c.Output, columns, c.RowPort);
  out.Add(cells, lines.join(QLatin1Char('\n')));
  Emit(out);
  return ExitDone;
}

int SettingsShowCommand(Context& c) {
  if (!c.Identification.UserRead) {
    return LineFailure(QStringLiteral("the instrument did not send its user settings"));
  }
  RecordWriter out(
      c.Output,
      {{"variable", "variable"}, {"member", "member"}, {"name", "name"}, {"value", "value"}},
      c.RowPort);
  uint8_t heading = 0;
  for (const MemberText& m : SettingsMemberTexts(c.Link.Values())) {
    if (m.Variable != heading) {
      out.AddPeopleLine(m.Variable == IdService ? QStringLiteral("Service parameters (variable 3)")
                                                : QStringLiteral("\nUser settings (variable 4)"));
      heading = m.Variable;
    }
    // Floats that are no number travel as their bits, a text.
    const Cell value =
        m.Value.startsWith(QLatin1String("0x")) ? Cell::Text(m.Value) : Cell::Number(m.Value);
    out.Add({Cell::Number(m.Variable), Cell::Number(m.Member), Cell::Text(m.Name), value},
            QStringLiteral("%1  %2  %3").arg(m.Member, 3).arg(m.Name.leftJustified(40), m.Value));
  }
  Emit(out);
  return ExitDone;
}

int SettingsBackupCommand(Context& c) {
  if (!c.Identification.UserRead) {
    return LineFailure(QStringLiteral("the instrument did not send its user settings"));
  }
  const QString file = c.Words.front();
  QString error;
  if (!WriteFileWhole(file,
                      SettingsFileBytes(c.Link.Values(), c.Identification.Firmware,
                                        LocalMoment(QDateTime::currentSecsSinceEpoch())),
                      &error)) {
    Complain(QStringLiteral("could not write %1: %2").arg(file, error));
    return ExitRefused;
  }
  WriteNote(QStringLiteral("Saved %1 service parameters and user settings of device type %2 to %3.")
                .arg(SettingsMemberTexts(c.Link.Values()).size())
                .arg(c.Link.Values().Service.DeviceType)
                .arg(file));
  return ExitDone;
}

int SettingsRestoreCommand(Context& c) {
  const QString file = c.Words.front();
  QByteArray bytes;
  if (!ReadRegularFile(file, bytes)) {
    Complain(QStringLiteral("cannot read %1").arg(file));
    return ExitRefused;
  }
  ValueStorage wanted = c.Link.Values();
  QString error;
  if (!ReadSettingsFile(bytes, wanted, &error)) {
    Complain(QStringLiteral("%1: %2; nothing written").arg(file, error));
    return ExitRefused;
  }
  const SettingsRestore restore = RestoreSettings(c.Link, wanted, c.DryRun, c.History);
  using Outcome = SettingsRestore::Outcome;
  if (restore.Result == Outcome::OtherDevice) {
    Complain(QStringLiteral("%1 holds the settings of device type %2, the instrument is of type "
                            "%3; nothing written")
                 .arg(file)
                 .arg(wanted.Service.DeviceType)
                 .arg(restore.InstrumentType));
    return ExitRefused;
  }
  RecordWriter out(c.Output, {{"variable", "variable"},
                              {"member", "member"},
                              {"name", "name"},
                              {"instrument", "instrument"},
                              {"file", "file"}});
  for (const MemberDifference& d : restore.Differences) {
    out.Add({Cell::Number(d.Variable), Cell::Number(d.Member), Cell::Text(d.Name),
             Cell::Text(d.Instrument), Cell::Text(d.Wanted)},
            QStringLiteral("%1 %2 %3: %4 -> %5")
                .arg(d.Variable == IdService ? QStringLiteral("service parameter")
                                             : QStringLiteral("user setting"))
                .arg(d.Member)
                .arg(d.Name, d.Instrument, d.Wanted));
  }
  Emit(out);
  const auto written = [&restore] {
    QStringList names;
    if (restore.Service) {
      names << QStringLiteral("the service parameters");
    }
    if (restore.User) {
      names << QStringLiteral("the user settings");
    }
    return names.join(QStringLiteral(" and "));
  };
  switch (restore.Result) {
    case Outcome::AlreadyEqual:
      WriteNote(QStringLiteral("The instrument already holds the settings of %1.").arg(file));
      return ExitDone;
    case Outcome::DryRun:
      WriteNote(QStringLiteral("%1 %2; nothing written (--dry-run).")
                    .arg(restore.Differences.size())
                    .arg(restore.Differences.size() == 1 ? QStringLiteral("difference")
                                                         : QStringLiteral("differences")));
      return ExitDone;
    case Outcome::Restored:
      WriteNote(QStringLiteral("Wrote %1, read back and found as in %2.").arg(written(), file));
      return ExitDone;
    case Outcome::NotVerified:
      return LineFailure(QStringLiteral("wrote %1, but %2 read back otherwise")
                             .arg(written())
                             .arg(restore.Unverified.size()));
    default:
      return LineFailure(QStringLiteral("the line failed while restoring the settings"));
  }
}

int ArchiveReadCommand(Context& c) {
  MeasurementPoll poll;
  if (!ReadMeasurement(c, poll)) {
    return LineFailure(QStringLiteral("the instrument did not send its record count"));
  }
  // As the program does: no more records than its copy holds.
  const int count = ArchiveReadCount(poll.Record.ArchiveRecordCount);
  ArchiveReadResult read;
  {
    const InterruptRequest interrupt;
    ProgressBar bar(QStringLiteral("records"));
    read = ReadArchive(
        c.Link, count, c.History,
        [&bar](int known, int total) {
          TellHistory();
          bar.Show(known, total);
        },
        [] { return InterruptRequest::Requested(); });
  }

  RecordWriter out(c.Output,
                   {{"position", "position"},
                    {"run", "run"},
                    {"kind", "kind"},
                    {"time", "time"},
                    {"dose_rate_usv_h", "dose rate (uSv/h)"},
                    {"flags", "flags"},
                    {"threshold_exceeded", "threshold exceeded"},
                    {"raw", "raw"}},
                   c.RowPort);
  int run = 1;
  int known = 0;
  out.AddPeopleLine(QStringLiteral("run 1"));
  for (size_t i = 0; i < read.Slots.size(); ++i) {
    const std::optional<ArchiveRecord>& slot = read.Slots[i];
    const int position = static_cast<int>(i);
    if (!slot) {
      // Only slots a stopped read never reached stay unknown after it.
      if (read.Stopped) {
        continue;
      }
      out.Add({Cell::Number(position), Cell::Number(run), Cell::Text(QStringLiteral("missing")),
               Cell::Null(), Cell::Null(), Cell::Null(), Cell::Null(), Cell::Null()},
              QStringLiteral("%1  (not read)").arg(position, 5));
      continue;
    }
    ++known;
    const ArchiveRecord& record = *slot;
    const QString raw = Hex(record.Bytes.data(), ArchiveRecordBytes);
    if (record.IsSeparator()) {
      out.Add({Cell::Number(position), Cell::Number(run), Cell::Text(QStringLiteral("separator")),
               Cell::Null(), Cell::Null(), Cell::Null(), Cell::Null(), Cell::Text(raw)},
              QStringLiteral("run %1").arg(run + 1));
      ++run;
      continue;
    }
    const std::optional<QDateTime> time = ArchiveDateTime(DecodeArchiveTime(record));
    const bool threshold = (record.Flags() & 0x04) != 0;
    out.Add({Cell::Number(position), Cell::Number(run), Cell::Text(QStringLiteral("record")),
             TimeCell(time), Cell::Number(DotNumber(record.Value())), Cell::Number(record.Flags()),
             Cell::Boolean(threshold), Cell::Text(raw)},
            QStringLiteral("%1  %2 %3%4")
                .arg(position, 5)
                .arg(time ? PeopleTime(*time) : QStringLiteral("(no time)").leftJustified(19))
                .arg(ArchiveValueText(record.Value(), English).rightJustified(14))
                .arg(threshold ? QStringLiteral("  threshold exceeded") : QString()));
  }

  if (c.OutFile.isEmpty()) {
    Emit(out);
  } else {
    QString error;
    if (!WriteFileWhole(c.OutFile, out.Take(), &error)) {
      Complain(QStringLiteral("could not write %1: %2").arg(c.OutFile, error));
      return ExitRefused;
    }
  }
  if (read.Stopped) {
    WriteNote(QStringLiteral("Stopped: %1 of %2 records read.").arg(known).arg(count));
    return InterruptRequest::ExitStatus();
  }
  if (read.Missing > 0) {
    return LineFailure(MissingRecordsText(read, count));
  }
  WriteNote(QStringLiteral("Read %1 records%2.")
                .arg(count)
                .arg(read.Retried > 0 ? QStringLiteral(", %1 reads repeated").arg(read.Retried)
                                      : QString()));
  return ExitDone;
}

int ArchiveEraseCommand(Context& c) {
  MeasurementPoll poll;
  if (!ReadMeasurement(c, poll)) {
    return LineFailure(QStringLiteral("the instrument did not send its record count"));
  }
  if (!c.Yes) {
    WriteNote(QStringLiteral("Erase the %1 records of the instrument's archive? [y/N]")
                  .arg(poll.Record.ArchiveRecordCount));
    char answer[16] = {};
    if (std::fgets(answer, sizeof answer, stdin) == nullptr ||
        (answer[0] != 'y' && answer[0] != 'Y')) {
      WriteNote(QStringLiteral("Nothing erased."));
      return ExitDone;
    }
  }
  // Records the history lacks are read into it first, with their own
  // progress; nothing is erased unless it holds them all.
  using Outcome = ArchiveSafeErase::Outcome;
  ArchiveSafeErase erase;
  {
    const InterruptRequest interrupt;
    ProgressBar bar(QStringLiteral("records read first"));
    ArchiveEraseSteps steps;
    steps.OnProgress = [&bar](int known, int total) {
      TellHistory();
      bar.Show(known, total);
    };
    steps.StopRequested = [] { return InterruptRequest::Requested(); };
    erase = EraseArchive(c.Link, c.History, steps);
  }
  switch (erase.Result) {
    case Outcome::Erased:
      WriteNote(QStringLiteral("Erased the archive (%1 records%2).")
                    .arg(erase.RecordCount)
                    .arg(erase.ReadFirst ? QStringLiteral(", read into the history first")
                                         : QStringLiteral(", all in the history")));
      return ExitDone;
    case Outcome::CountUnread:
      return LineFailure(QStringLiteral("the instrument did not send its record count"));
    case Outcome::ReadFailed:
      if (erase.Read.Stopped) {
        WriteNote(QStringLiteral("Stopped while reading the archive first; nothing erased."));
        return InterruptRequest::ExitStatus();
      }
      return LineFailure(MissingRecordsText(erase.Read, erase.ReadCount) +
                         QStringLiteral("; nothing erased"));
    case Outcome::NotKept:
      Complain(QStringLiteral("the records could not be kept in the history (%1); nothing erased")
                   .arg(erase.History.Error));
      return ExitHistoryNotWritten;
    case Outcome::Unanswered:
      Complain(QStringLiteral("%1, whether it holds every record; nothing erased")
                   .arg(erase.History.Error));
      return ExitHistoryNotWritten;
    case Outcome::EraseFailed:
      break;
  }
  // A refusal, or no acknowledgement: the archive may still be there, and
  // whatever was read first is in the history.
  Complain(QStringLiteral(
      "the instrument did not carry out the erase (it refused it or did not acknowledge it)"));
  return ExitCommandRefused;
}

int ScreenCommand(Context& c) {
  const ScreenRead read = ReadScreen(c.Link);
  if (!read.Read) {
    return LineFailure(QStringLiteral("the instrument did not send its display"));
  }
  const QString file = c.Words.front();
  const bool png = file.endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
  QString error;
  if (!WriteFileWhole(file, png ? ScreenPngBytes(read.Screen) : ScreenBitmapBytes(read.Screen),
                      &error)) {
    Complain(QStringLiteral("could not write %1: %2").arg(file, error));
    return ExitRefused;
  }
  WriteNote(QStringLiteral("Saved the display to %1.").arg(file));
  return ExitDone;
}

void OpenHistory(Context& c, const HistoryLocation& location) {
  c.Service = std::make_unique<HistoryService>(location);
  c.History = {c.Service.get()};
  HistoryService* service = c.Service.get();
  service->OnOutcome = [service](const HistoryOutcome& outcome) {
    if (outcome.Notify && outcome.Lasting) {
      Complain(QStringLiteral("%1; nothing of this run is kept in the history").arg(outcome.Error));
    } else if (outcome.Notify) {
      Complain(QStringLiteral("the history (%1) cannot be written: %2; the work goes on, "
                              "the history is tried again")
                   .arg(service->Location().Text(), outcome.Error));
    } else if (outcome.Recovered) {
      WriteNote(QStringLiteral("The history can be written again."));
    }
  };
}

void TellHistory() {
  // The history's outcomes come as queued calls to this thread.
  QCoreApplication::sendPostedEvents();
}

int FinishHistory(Context& c, int status) {
  if (c.Service == nullptr) {
    return status;
  }
  c.Service->Close(HistoryCloseWaitMs);
  TellHistory();
  const int64_t spooled = c.Service->Spooled();
  const int64_t left = std::max<int64_t>(0, c.Service->Pending() - spooled);
  if (spooled > 0) {
    Complain(QStringLiteral("%1 readings and events wait in the spool %2 for the history (%3); "
                            "they go in when it answers again")
                 .arg(spooled)
                 .arg(c.Service->SpoolPath(), c.Service->Location().Text()));
  }
  if (left > 0) {
    Complain(QStringLiteral("%1 items could not be written to the history (%2)")
                 .arg(left)
                 .arg(c.Service->Location().Text()));
  }
  // Readings in the spool are the news, even of a run stopped by a signal.
  const bool historyOnly = status == ExitDone || status == ExitHistoryNotWritten ||
                           status == ExitInterrupted || status == InterruptRequest::ExitStatus();
  if (spooled > 0 && historyOnly) {
    return ExitSpooled;
  }
  if (left > 0 && status == ExitDone) {
    return ExitHistoryNotWritten;
  }
  return status;
}

}  // namespace vantor::cli
