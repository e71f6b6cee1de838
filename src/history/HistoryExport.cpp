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

// The two instrument cells that begin every row, made once per instrument.
bool InstrumentCells(HistoryStore& store, QHash<int64_t, QByteArray>& cells, QString* error) {
  const auto instruments = store.Instruments();
  if (!instruments.Outcome.Ok) {
    *error = instruments.Outcome.Error;
    return false;
  }
  for (const StoredInstrument& stored : instruments.Value) {
    const auto& data = stored.Identity.DeviceData;
    QByteArray text =
        QByteArray::number(stored.Identity.DeviceType) + ':' +
        QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()))
            .toHex() +
        ',';
    AppendText(text, stored.Identity.Firmware);
    cells.insert(stored.Id, text);
  }
  return true;
}

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

HistoryOutcome WriteReadings(HistoryStore& store, const HistoryExportRequest& request,
                             CsvOut& out) {
  out.Header({QStringLiteral("instrument"), QStringLiteral("firmware"), QStringLiteral("time"),
              QStringLiteral("dose rate"), QStringLiteral("dose rate unit"), QStringLiteral("mode"),
              QStringLiteral("uncertainty (%)"), QStringLiteral("dose (uSv)"),
              QStringLiteral("accumulation time (s)")});
  return store.VisitReadings(request.Instrument, request.Range, [&](const StoredReading& stored) {
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
    return true;
  });
}

HistoryOutcome WriteArchive(HistoryStore& store, const HistoryExportRequest& request, CsvOut& out) {
  out.Header({QStringLiteral("instrument"), QStringLiteral("firmware"), QStringLiteral("run"),
              QStringLiteral("position"), QStringLiteral("time"),
              QStringLiteral("dose rate (uSv/h)"), QStringLiteral("flags"),
              QStringLiteral("threshold exceeded"), QStringLiteral("read at"),
              QStringLiteral("raw")});
  return store.VisitArchive(request.Instrument, request.Range,
                            [&](const StoredArchiveRecord& record) {
                              out.Instrument(record.InstrumentId)
                                  .Number(record.Run)
                                  .Number(record.Position)
                                  .Time(record.DeviceMs)
                                  .Number(record.Value())
                                  .Number(record.Flags())
                                  .Number((record.Flags() & 4) != 0 ? 1 : 0)
                                  .Time(record.ReadMs)
                                  .Plain(Hex(record.Raw))
                                  .End();
                              return true;
                            });
}

HistoryOutcome WriteEvents(HistoryStore& store, const HistoryExportRequest& request, CsvOut& out) {
  out.Header({QStringLiteral("instrument"), QStringLiteral("firmware"), QStringLiteral("time"),
              QStringLiteral("event"), QStringLiteral("by"), QStringLiteral("instrument time"),
              QStringLiteral("drift (s)"), QStringLiteral("record count"), QStringLiteral("member"),
              QStringLiteral("name"), QStringLiteral("old value"), QStringLiteral("new value")});
  return store.VisitEvents(request.Instrument, request.Range, [&](const StoredEvent& stored) {
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
  WholeFileWriter file(path);
  CsvOut out(file, request.Zone);
  if (!InstrumentCells(store, out.Instruments(), &result.Error) || !file.Open(&result.Error)) {
    return result;
  }
  HistoryOutcome outcome;
  switch (request.What) {
    case HistoryExportKind::Readings:
      outcome = WriteReadings(store, request, out);
      break;
    case HistoryExportKind::Archive:
      outcome = WriteArchive(store, request, out);
      break;
    case HistoryExportKind::Events:
      outcome = WriteEvents(store, request, out);
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
  result.Rows = out.Rows();
  return result;
}

}  // namespace vantor
