#include "HistoryExport.h"

#include <QDateTime>
#include <QHash>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "CalendarClock.h"
#include "Csv.h"
#include "SafeFile.h"
#include "Scaling.h"

namespace vantor {
namespace {

// The file is written in pieces of about this size.
constexpr qsizetype PieceBytes = 1 << 20;

void AppendDigits(QByteArray& out, int value, int width) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 || n < width);
  while (n > 0) {
    out.append(digits[--n]);
  }
}

template <class T>
void AppendNumber(QByteArray& out, T value) {
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(value)) {
      return;  // an empty cell: a spreadsheet cannot take NaN
    }
  }
  char text[40];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end - text);
}

void AppendText(QByteArray& out, const QString& text) {
  out.append(CsvField(text).toUtf8());
}

// The two instrument cells that begin every row, made once per instrument;
// the instruments to export in `chosen`.
bool InstrumentCells(HistoryStore& store, const HistoryExportRequest& request,
                     QHash<int64_t, QByteArray>& cells, std::vector<InstrumentIdentity>& chosen,
                     QString* error) {
  const auto instruments = store.Instruments();
  if (!instruments.Outcome.Ok) {
    *error = instruments.Outcome.Error;
    return false;
  }
  for (const StoredInstrument& stored : instruments.Value) {
    QByteArray text = InstrumentKey(stored.Identity).toLatin1() + ',';
    AppendText(text, stored.Identity.Firmware);
    cells.insert(stored.Id, text);
    if (!request.Instrument || *request.Instrument == stored.Identity) {
      chosen.push_back(stored.Identity);
    }
  }
  return true;
}

// How far an export has come: instruments one after another, and within
// one the time of its last row when the range has both ends.
class Headway {
 public:
  Headway(const ExportProgress& going, const TimeRange& range, size_t instruments)
      : going_(going), range_(range), instruments_(std::max<size_t>(1, instruments)) {}

  void Next(size_t instrument) { instrument_ = instrument; }
  // After every row: false once the export is to stop.
  bool Row(std::optional<int64_t> atMs) {
    if (!going_ || ++rows_ % CheckEveryRows != 0) {
      return true;
    }
    double within = 0;
    if (atMs && range_.FromMs && range_.ToMs && *range_.ToMs > *range_.FromMs) {
      within = std::clamp(static_cast<double>(*atMs - *range_.FromMs) /
                              static_cast<double>(*range_.ToMs - *range_.FromMs),
                          0.0, 1.0);
    }
    return going_((static_cast<double>(instrument_) + within) / static_cast<double>(instruments_));
  }
  bool Stopped() const { return going_ && !going_(Share()); }
  double Share() const {
    return static_cast<double>(instrument_) / static_cast<double>(instruments_);
  }

 private:
  static constexpr int64_t CheckEveryRows = 4096;
  const ExportProgress& going_;
  TimeRange range_;
  size_t instruments_;
  size_t instrument_ = 0;
  int64_t rows_ = 0;
};

// Builds rows a cell at a time and streams them into the file in pieces.
// A row starts with its instrument; every later cell brings its comma.
class CsvOut {
 public:
  CsvOut(WholeFileWriter& file, const QTimeZone& zone) : file_(file), times_(zone) {
    buffer_.reserve(PieceBytes + 4096);
  }

  QHash<int64_t, QByteArray>& Instruments() { return instruments_; }
  void Header(const QStringList& names) { buffer_.append(CsvRecord(names).toUtf8()); }

  CsvOut& Instrument(int64_t id) {
    buffer_.append(instruments_.value(id, ","));
    return *this;
  }
  template <class T>
  CsvOut& Number(T value) {
    buffer_.append(',');
    AppendNumber(buffer_, value);
    return *this;
  }
  CsvOut& Number(const std::optional<int64_t>& value) { return value ? Number(*value) : Empty(1); }
  CsvOut& Time(int64_t ms) {
    buffer_.append(',');
    times_.Append(buffer_, ms);
    return *this;
  }
  CsvOut& Time(const std::optional<int64_t>& ms) { return ms ? Time(*ms) : Empty(1); }
  CsvOut& Text(const QString& text) {
    buffer_.append(',');
    AppendText(buffer_, text);
    return *this;
  }
  // Text that never needs quotes.
  CsvOut& Plain(const QByteArray& text) {
    buffer_.append(',');
    buffer_.append(text);
    return *this;
  }
  CsvOut& Empty(int cells) {
    buffer_.append(QByteArray(cells, ','));
    return *this;
  }
  void End() {
    buffer_.append("\r\n", 2);
    ++rows_;
    if (buffer_.size() >= PieceBytes) {
      Drain();
    }
  }
  void Drain() {
    file_.Write(buffer_);  // a failed write fails the commit
    buffer_.clear();
  }
  int64_t Rows() const { return rows_; }

 private:
  WholeFileWriter& file_;
  IsoTimeWriter times_;
  QHash<int64_t, QByteArray> instruments_;
  QByteArray buffer_;
  int64_t rows_ = 0;
};

QByteArray Hex(const ArchiveBytes& raw) {
  return QByteArray(reinterpret_cast<const char*>(raw.data()), static_cast<qsizetype>(raw.size()))
      .toHex();
}

HistoryOutcome WriteReadings(HistoryStore& store, const InstrumentIdentity& instrument,
                             const HistoryExportRequest& request, CsvOut& out, Headway& headway) {
  return store.VisitReadings(instrument, request.Range, [&](const StoredReading& stored) {
    const LiveReading& r = stored.Reading;
    out.Instrument(stored.InstrumentId)
        .Time(r.AtMs)
        .Number(r.DoseRate)
        .Plain(DoseRateUnit(r.Mode, 0, 1))
        .Number(r.Mode)
        .Number(r.Uncertainty)
        .Number(r.Dose)
        .Number(r.AccumulationSeconds)
        .End();
    return headway.Row(r.AtMs);
  });
}

HistoryOutcome WriteArchive(HistoryStore& store, const InstrumentIdentity& instrument,
                            const HistoryExportRequest& request, CsvOut& out, Headway& headway) {
  return store.VisitArchive(instrument, request.Range, [&](const StoredArchiveRecord& record) {
    out.Instrument(record.InstrumentId)
        .Number(record.Run)
        .Number(record.Position)
        .Time(record.DeviceMs)
        .Number(record.Value())
        .Number(record.Flags())
        .Plain((record.Flags() & 4) != 0 ? "true" : "false")
        .Time(record.ReadMs)
        .Plain(Hex(record.Raw))
        .End();
    return headway.Row(std::nullopt);
  });
}

HistoryOutcome WriteEvents(HistoryStore& store, const InstrumentIdentity& instrument,
                           const HistoryExportRequest& request, CsvOut& out, Headway& headway) {
  return store.VisitEvents(
      instrument, request.Range,
      [&](const StoredEvent& stored) {
        const HistoryEvent& e = stored.Event;
        const size_t rows = std::max<size_t>(1, e.Changes.size());
        for (size_t i = 0; i < rows; ++i) {
          out.Instrument(stored.InstrumentId)
              .Time(e.AtMs)
              .Plain(EventKindName(e.Kind).toLatin1())
              .Text(e.Actor)
              .Time(e.DeviceMs)
              .Number(e.DriftSeconds)
              .Number(e.RecordCount);
          if (i < e.Changes.size()) {
            const MemberChange& change = e.Changes[i];
            out.Number(change.Member).Text(change.Name).Text(change.Old).Text(change.New);
          } else {
            out.Empty(4);
          }
          out.End();
        }
        return headway.Row(e.AtMs);
      },
      request.Kinds);
}

QStringList HeaderOf(HistoryExportKind kind) {
  switch (kind) {
    case HistoryExportKind::Readings:
      return {QStringLiteral("instrument"),
              QStringLiteral("firmware"),
              QStringLiteral("time"),
              QStringLiteral("dose rate"),
              QStringLiteral("dose rate unit"),
              QStringLiteral("mode"),
              QStringLiteral("uncertainty (%)"),
              QStringLiteral("dose (uSv)"),
              QStringLiteral("accumulation time (s)")};
    case HistoryExportKind::Archive:
      return {QStringLiteral("instrument"), QStringLiteral("firmware"),
              QStringLiteral("run"),        QStringLiteral("position"),
              QStringLiteral("time"),       QStringLiteral("dose rate (uSv/h)"),
              QStringLiteral("flags"),      QStringLiteral("threshold exceeded"),
              QStringLiteral("read at"),    QStringLiteral("raw")};
    case HistoryExportKind::Events:
      break;
  }
  return {QStringLiteral("instrument"), QStringLiteral("firmware"),
          QStringLiteral("time"),       QStringLiteral("event"),
          QStringLiteral("by"),         QStringLiteral("instrument time"),
          QStringLiteral("drift (s)"),  QStringLiteral("record count"),
          QStringLiteral("member"),     QStringLiteral("name"),
          QStringLiteral("old value"),  QStringLiteral("new value")};
}

}  // namespace

int IsoTimeWriter::OffsetAt(int64_t ms) {
  if (ms >= validFrom_ && ms < validTo_) {
    return offset_;
  }
  const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms, zone_);
  offset_ = at.offsetFromUtc();
  validFrom_ = ms;
  validTo_ = std::numeric_limits<int64_t>::max();
  if (zone_.hasTransitions()) {
    const QTimeZone::OffsetData next = zone_.nextTransition(at);
    if (next.atUtc.isValid()) {
      validTo_ = next.atUtc.toMSecsSinceEpoch();
    }
  }
  return offset_;
}

void IsoTimeWriter::Append(QByteArray& out, int64_t ms) {
  const int offset = OffsetAt(ms);
  const int64_t local = ms + int64_t{offset} * 1000;
  int64_t days = local / 86400000;
  int64_t within = local % 86400000;
  if (within < 0) {
    within += 86400000;
    --days;
  }
  int year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(days, year, month, day);
  AppendDigits(out, year, 4);
  out.append('-');
  AppendDigits(out, month, 2);
  out.append('-');
  AppendDigits(out, day, 2);
  out.append('T');
  AppendDigits(out, static_cast<int>(within / 3600000), 2);
  out.append(':');
  AppendDigits(out, static_cast<int>(within / 60000 % 60), 2);
  out.append(':');
  AppendDigits(out, static_cast<int>(within / 1000 % 60), 2);
  if (within % 1000 != 0) {
    out.append('.');
    AppendDigits(out, static_cast<int>(within % 1000), 3);
  }
  if (offset == 0) {
    out.append('Z');
    return;
  }
  const int minutes = std::abs(offset) / 60;
  out.append(offset < 0 ? '-' : '+');
  AppendDigits(out, minutes / 60, 2);
  out.append(':');
  AppendDigits(out, minutes % 60, 2);
}

HistoryExportResult ExportHistoryCsv(HistoryStore& store, const HistoryExportRequest& request,
                                     const QString& path, const ExportProgress& going) {
  HistoryExportResult result;
  WholeFileWriter file(path);
  CsvOut out(file, request.Zone);
  std::vector<InstrumentIdentity> chosen;
  if (!InstrumentCells(store, request, out.Instruments(), chosen, &result.Error)) {
    return result;
  }
  if (!file.Open(&result.Error)) {
    result.FileFailed = true;
    return result;
  }
  out.Header(HeaderOf(request.What));
  Headway headway(going, request.Range, chosen.size());
  for (size_t i = 0; i < chosen.size(); ++i) {
    headway.Next(i);
    if (headway.Stopped()) {
      result.Cancelled = true;
      return result;
    }
    HistoryOutcome outcome;
    switch (request.What) {
      case HistoryExportKind::Readings:
        outcome = WriteReadings(store, chosen[i], request, out, headway);
        break;
      case HistoryExportKind::Archive:
        outcome = WriteArchive(store, chosen[i], request, out, headway);
        break;
      case HistoryExportKind::Events:
        outcome = WriteEvents(store, chosen[i], request, out, headway);
        break;
    }
    if (!outcome.Ok) {
      result.Error = outcome.Error;
      return result;
    }
  }
  headway.Next(chosen.size());
  if (headway.Stopped()) {
    result.Cancelled = true;
    return result;
  }
  out.Drain();
  if (!file.Commit(&result.Error)) {
    result.FileFailed = true;
    return result;
  }
  result.Ok = true;
  result.Rows = out.Rows();
  return result;
}

}  // namespace vantor
