#pragma once
#include <QByteArray>
#include <QString>
#include <QTimeZone>
#include <functional>
#include <optional>
#include <vector>

#include "HistoryStore.h"

namespace vantor {

enum class HistoryExportKind : uint8_t { Archive, Readings, Events };

struct HistoryExportRequest {
  HistoryExportKind What = HistoryExportKind::Readings;
  std::optional<InstrumentIdentity> Instrument;  // none: every instrument
  TimeRange Range;                               // archive records by their own time
  std::vector<EventKind> Kinds;                  // events only of these; empty: every kind
  // Times are written in this zone with their offset.
  QTimeZone Zone = QTimeZone::systemTimeZone();
};

struct HistoryExportResult {
  bool Ok = false;
  bool Cancelled = false;   // stopped on request: nothing written
  bool FileFailed = false;  // the error is the file's, not the history's
  QString Error;
  int64_t Rows = 0;  // data rows written, the header not counted
};

// Told how far an export has come (0..1) every few thousand rows; returns
// false to stop it.
using ExportProgress = std::function<bool(double share)>;

// Writes what the history holds as CSV (RFC 4180, UTF-8 without a byte
// order mark, a header row naming each column and its unit, ISO 8601 times
// with their offset, dot decimals): one row per archive record (a run column
// where the archive had separators), per reading, or per changed member of
// an event (one row for an event without members). The file appears whole
// or not at all; an old file at `path` survives a failed or stopped export.
HistoryExportResult ExportHistoryCsv(HistoryStore& store, const HistoryExportRequest& request,
                                     const QString& path, const ExportProgress& going = {});

// Appends ms since 1970 UTC as ISO 8601 in `zone`: 2026-12-09T14:03:07+03:00,
// with .250 when there are milliseconds, Z when the offset is 0. Fast for
// times in order: the zone is asked again only past its next transition.
class IsoTimeWriter {
 public:
  explicit IsoTimeWriter(const QTimeZone& zone) : zone_(zone) {}
  void Append(QByteArray& out, int64_t ms);

 private:
  int OffsetAt(int64_t ms);

  QTimeZone zone_;
  int64_t validFrom_ = 1;  // offset_ holds for [validFrom_, validTo_)
  int64_t validTo_ = 0;
  int offset_ = 0;
};

}  // namespace vantor
