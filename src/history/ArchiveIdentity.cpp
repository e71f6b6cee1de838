#include "ArchiveIdentity.h"

#include <QVariant>
#include <cmath>

#include "HistoryConnection.h"

namespace vantor {
namespace {

QByteArray RawBlob(const ArchiveBytes& raw) {
  return {reinterpret_cast<const char*>(raw.data()), static_cast<qsizetype>(raw.size())};
}

QVariant Nullable(const std::optional<int64_t>& value) {
  return value ? QVariant(static_cast<qlonglong>(*value)) : QVariant();
}

const QString InsertReadSql = QStringLiteral(
    "INSERT INTO archive_reads (instrument_id, started_ms, device_count, positions, "
    "complete) VALUES (?, ?, ?, 0, 0) RETURNING id");
const QString FindRunSql = QStringLiteral(
    "SELECT run FROM archive_records WHERE instrument_id = ? AND raw = ? AND ordinal = ?");
const QString NextRunSql =
    QStringLiteral("SELECT COALESCE(MAX(run), 0) + 1 FROM archive_records WHERE instrument_id = ?");
const QString InsertRecordSql = QStringLiteral(
    "INSERT INTO archive_records (instrument_id, raw, ordinal, run, position, device_ms, "
    "value, flags, read_id, read_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
    "ON CONFLICT DO NOTHING");
const QString UpdateReadSql = QStringLiteral(
    "UPDATE archive_reads SET positions = ?, finished_ms = ?, complete = ? WHERE id = ?");

}  // namespace

int ArchiveReads::Begin(const InstrumentIdentity& instrument, int64_t deviceCount, int64_t nowMs) {
  const int key = nextKey_++;
  ArchiveReadState& read = reads_[key];
  read.Instrument = instrument;
  read.DeviceCount = deviceCount;
  read.StartedMs = nowMs;
  read.LastBatch = std::chrono::steady_clock::now();
  return key;
}

void ArchiveReads::Buffer(int key, const ArchiveBytes& record, int64_t nowMs) {
  ArchiveReadState& read = reads_.at(key);
  const int64_t position = read.Positions++;
  if (IsSeparator(record)) {
    ++read.LocalRun;
    return;
  }
  read.Buffer.push_back({position, read.LocalRun, read.Seen[RawBlob(record)]++, record, nowMs});
}

void ArchiveReads::Skip(int key) {
  ArchiveReadState& read = reads_.at(key);
  ++read.Positions;
  ++read.LocalRun;
}

bool ArchiveReads::BatchDue(int key, int batchRecords, int batchMs) const {
  const ArchiveReadState& read = reads_.at(key);
  if (read.Buffer.empty()) {
    return false;
  }
  return static_cast<int64_t>(read.Buffer.size()) >= batchRecords ||
         std::chrono::steady_clock::now() - read.LastBatch >= std::chrono::milliseconds(batchMs);
}

ArchiveItem ArchiveReads::TakeBatch(int key, bool last, bool complete, int64_t nowMs) {
  ArchiveReadState& read = reads_.at(key);
  ArchiveItem batch;
  batch.Key = key;
  batch.Rows = std::move(read.Buffer);
  read.Buffer.clear();
  batch.Positions = read.Positions;
  batch.Last = last;
  batch.Complete = complete;
  batch.FinishedMs = nowMs;
  read.LastBatch = std::chrono::steady_clock::now();
  return batch;
}

int64_t ArchiveReads::Buffered() const {
  int64_t total = 0;
  for (const auto& [key, read] : reads_) {
    total += static_cast<int64_t>(read.Buffer.size());
  }
  return total;
}

int64_t ArchiveReads::Buffered(const InstrumentIdentity& instrument) const {
  int64_t total = 0;
  for (const auto& [key, read] : reads_) {
    if (read.Instrument == instrument) {
      total += static_cast<int64_t>(read.Buffer.size());
    }
  }
  return total;
}

bool WriteArchiveBatch(HistoryConnection& connection, const ArchiveItem& item,
                       const ArchiveReadState& read, int64_t instrumentId, ReadSettled& settled,
                       const QTimeZone& zone, QString* error) {
  const auto instrument = static_cast<qlonglong>(instrumentId);
  if (settled.DbId == 0) {
    // A first batch written again after a lost reply adds a second read
    // row but no record: the records are what must not double.
    std::optional<QVariant> id;
    if (!connection.Run(InsertReadSql,
                        {instrument, static_cast<qlonglong>(read.StartedMs),
                         static_cast<qlonglong>(read.DeviceCount)},
                        error, &id)) {
      return false;
    }
    if (!id) {
      *error = QStringLiteral("the archive read could not be added");
      return false;
    }
    settled.DbId = id->toLongLong();
  }
  for (const ArchiveRow& row : item.Rows) {
    const QByteArray raw = RawBlob(row.Raw);
    if (row.LocalRun != settled.LocalRun) {
      std::optional<QVariant> run;
      if (!connection.Run(FindRunSql, {instrument, raw, row.Ordinal}, error, &run)) {
        return false;
      }
      if (!run && (!connection.Run(NextRunSql, {instrument}, error, &run) || !run)) {
        return false;
      }
      settled.LocalRun = row.LocalRun;
      settled.Run = run->toLongLong();
    }
    const float value = ArchiveValueOf(row.Raw);
    if (!connection.Run(
            InsertRecordSql,
            {instrument, raw, row.Ordinal, static_cast<qlonglong>(settled.Run),
             static_cast<qlonglong>(row.Position), Nullable(ArchiveTimeOf(row.Raw, zone)),
             std::isfinite(value) ? QVariant(static_cast<double>(value)) : QVariant(), row.Raw[4],
             static_cast<qlonglong>(settled.DbId), static_cast<qlonglong>(row.ReadMs)},
            error)) {
      return false;
    }
  }
  return connection.Run(UpdateReadSql,
                        {static_cast<qlonglong>(item.Positions),
                         item.Last ? QVariant(static_cast<qlonglong>(item.FinishedMs)) : QVariant(),
                         item.Last && item.Complete ? 1 : 0, static_cast<qlonglong>(settled.DbId)},
                        error);
}

}  // namespace vantor
