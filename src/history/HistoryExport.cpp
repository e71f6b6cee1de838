#include "HistoryExport.h"

#include <QDateTime>
#include <QHash>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

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

void AppendHeader(QByteArray& out, const QStringList& names) {
  out.append(CsvRecord(names).toUtf8());
}

void EndRow(QByteArray& out) {
  out.append("\r\n", 2);
}

// The instrument columns, made once per instrument.
struct InstrumentColumns {
  QHash<int64_t, QByteArray> Text;

  void Append(QByteArray& out, int64_t id) const { out.append(Text.value(id, ",")); }
};

bool Columns(HistoryStore& store, InstrumentColumns& columns, QString* error) {
  const auto instruments = store.Instruments();
  if (!instruments.Outcome.Ok) {
    *error = instruments.Outcome.Error;
    return false;
  }
  for (const StoredInstrument& stored : instruments.Value) {
    const auto& data = stored.Identity.DeviceData;
    QByteArray text = QByteArray::number(stored.Identity.DeviceType) + ':' +
                      QByteArray(reinterpret_cast<const char*>(data.data()),
                                 static_cast<qsizetype>(data.size()))
                          .toHex() +
                      ',';
    AppendText(text, stored.Identity.Firmware);
    columns.Text.insert(stored.Id, text);
  }
  return true;
}

// Streams rows into the file in pieces.
class CsvOut {
 public:
  explicit CsvOut(WholeFileWriter& file) : file_(file) { row.reserve(PieceBytes + 4096); }
  void RowDone() {
    ++rows;
    if (row.size() >= PieceBytes) {
      Drain();
    }
  }
  bool Drain() {
    const bool ok = file_.Write(row);
    row.clear();
    return ok;
  }

  QByteArray row;  // the rows not yet handed to the file
  int64_t rows = 0;

 private:
  WholeFileWriter& file_;
};

HistoryOutcome WriteReadings(HistoryStore& store, const HistoryExportRequest& request,
                             const InstrumentColumns& columns, IsoTimeWriter& times, CsvOut& out) {
  AppendHeader(out.row, {QStringLiteral("instrument"), QStringLiteral("firmware"),
                         QStringLiteral("time"), QStringLiteral("dose rate"),
                         QStringLiteral("dose rate unit"), QStringLiteral("mode"),
                         QStringLiteral("uncertainty (%)"), QStringLiteral("dose (uSv)"),
                         QStringLiteral("accumulation time (s)")});
  return store.VisitReadings(request.Instrument, request.Range, [&](const StoredReading& stored) {
    const LiveReading& r = stored.Reading;
    QByteArray& row = out.row;
    columns.Append(row, stored.InstrumentId);
    row.append(',');
    times.Append(row, r.AtMs);
    row.append(',');
    AppendNumber(row, r.DoseRate);
    row.append(',');
    row.append(DoseRateUnit(r.Mode, 0, 1));
    row.append(',');
    AppendNumber(row, r.Mode);
    row.append(',');
    AppendNumber(row, r.Uncertainty);
    row.append(',');
    AppendNumber(row, r.Dose);
    row.append(',');
    AppendNumber(row, r.AccumulationSeconds);
    EndRow(row);
    out.RowDone();
    return true;
  });
}

HistoryOutcome WriteArchive(HistoryStore& store, const HistoryExportRequest& request,
                            const InstrumentColumns& columns, IsoTimeWriter& times, CsvOut& out) {
  AppendHeader(out.row, {QStringLiteral("instrument"), QStringLiteral("firmware"),
                         QStringLiteral("run"), QStringLiteral("position"), QStringLiteral("time"),
                         QStringLiteral("dose rate (uSv/h)"), QStringLiteral("flags"),
                         QStringLiteral("threshold exceeded"), QStringLiteral("read at"),
                         QStringLiteral("raw")});
  return store.VisitArchive(
      request.Instrument, request.Range, [&](const StoredArchiveRecord& record) {
        QByteArray& row = out.row;
        columns.Append(row, record.InstrumentId);
        row.append(',');
        AppendNumber(row, record.Run);
        row.append(',');
        AppendNumber(row, record.Position);
        row.append(',');
        if (record.DeviceMs) {
          times.Append(row, *record.DeviceMs);
        }
        row.append(',');
        AppendNumber(row, record.Value());
        row.append(',');
        AppendNumber(row, record.Flags());
        row.append((record.Flags() & 4) != 0 ? ",1," : ",0,");
        times.Append(row, record.ReadMs);
        row.append(',');
        row.append(QByteArray(reinterpret_cast<const char*>(record.Raw.data()),
                              static_cast<qsizetype>(record.Raw.size()))
                       .toHex());
        EndRow(row);
        out.RowDone();
        return true;
      });
}

HistoryOutcome WriteEvents(HistoryStore& store, const HistoryExportRequest& request,
                           const InstrumentColumns& columns, IsoTimeWriter& times, CsvOut& out) {
  AppendHeader(out.row,
               {QStringLiteral("instrument"), QStringLiteral("firmware"), QStringLiteral("time"),
                QStringLiteral("event"), QStringLiteral("by"), QStringLiteral("instrument time"),
                QStringLiteral("drift (s)"), QStringLiteral("record count"),
                QStringLiteral("member"), QStringLiteral("name"), QStringLiteral("old value"),
                QStringLiteral("new value")});
  return store.VisitEvents(request.Instrument, request.Range, [&](const StoredEvent& stored) {
    const HistoryEvent& e = stored.Event;
    const size_t rows = std::max<size_t>(1, e.Changes.size());
    for (size_t i = 0; i < rows; ++i) {
      QByteArray& row = out.row;
      columns.Append(row, stored.InstrumentId);
      row.append(',');
      times.Append(row, e.AtMs);
      row.append(',');
      row.append(EventKindName(e.Kind).toLatin1());
      row.append(',');
      AppendText(row, e.Actor);
      row.append(',');
      if (e.DeviceMs) {
        times.Append(row, *e.DeviceMs);
      }
      row.append(',');
      if (e.DriftSeconds) {
        AppendNumber(row, *e.DriftSeconds);
      }
      row.append(',');
      if (e.RecordCount) {
        AppendNumber(row, *e.RecordCount);
      }
      if (i < e.Changes.size()) {
        const MemberChange& change = e.Changes[i];
        row.append(',');
        AppendNumber(row, change.Member);
        row.append(',');
        AppendText(row, change.Name);
        row.append(',');
        AppendText(row, change.Old);
        row.append(',');
        AppendText(row, change.New);
      } else {
        row.append(",,,,", 4);
      }
      EndRow(row);
      out.RowDone();
    }
    return true;
  });
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
                                     const QString& path) {
  HistoryExportResult result;
  InstrumentColumns columns;
  if (!Columns(store, columns, &result.Error)) {
    return result;
  }
  WholeFileWriter file(path);
  if (!file.Open(&result.Error)) {
    return result;
  }
  CsvOut out(file);
  IsoTimeWriter times(request.Zone);
  HistoryOutcome outcome;
  switch (request.What) {
    case HistoryExportKind::Readings:
      outcome = WriteReadings(store, request, columns, times, out);
      break;
    case HistoryExportKind::Archive:
      outcome = WriteArchive(store, request, columns, times, out);
      break;
    case HistoryExportKind::Events:
      outcome = WriteEvents(store, request, columns, times, out);
      break;
  }
  if (!outcome.Ok) {
    result.Error = outcome.Error;
    return result;
  }
  out.Drain();
  if (!file.Commit(&result.Error)) {
    return result;
  }
  result.Ok = true;
  result.Rows = out.rows;
  return result;
}

}  // namespace vantor
