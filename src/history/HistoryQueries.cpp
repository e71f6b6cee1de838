// The store's questions: what it holds of an instrument, read in chunks of
// whole queries so that no statement stays open across the pauses between
// them (where the store may write) and no engine holds a year of rows in
// memory at once.
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cstring>
#include <limits>

#include "HistorySchema.h"
#include "HistoryStoreImpl.h"

namespace vantor {
namespace {

// Rows per query of a long answer.
constexpr int ChunkRows = 20000;

QVariantList RangeValues(int64_t instrument, const TimeRange& range) {
  return {static_cast<qlonglong>(instrument),
          static_cast<qlonglong>(range.FromMs.value_or(std::numeric_limits<int64_t>::min())),
          static_cast<qlonglong>(range.ToMs.value_or(std::numeric_limits<int64_t>::max()))};
}

std::optional<int64_t> NullableOf(const QVariant& value) {
  if (value.isNull()) {
    return std::nullopt;
  }
  return value.toLongLong();
}

ArchiveBytes RawOf(const QVariant& value) {
  const QByteArray raw = value.toByteArray();
  ArchiveBytes bytes{};
  std::memcpy(bytes.data(), raw.constData(),
              std::min(bytes.size(), static_cast<size_t>(raw.size())));
  return bytes;
}

StoredInstrument InstrumentRow(const QSqlQuery& query) {
  StoredInstrument stored;
  stored.Id = query.value(0).toLongLong();
  stored.Identity.DeviceType = static_cast<uint8_t>(query.value(1).toInt());
  const QByteArray data = query.value(2).toByteArray();
  std::memcpy(stored.Identity.DeviceData.data(), data.constData(),
              std::min(stored.Identity.DeviceData.size(), static_cast<size_t>(data.size())));
  stored.Identity.Firmware = query.value(3).toString();
  stored.FirstSeenMs = query.value(4).toLongLong();
  return stored;
}

const QString InstrumentsSql = QStringLiteral(
    "SELECT id, device_type, device_data, firmware, first_seen_ms FROM instruments ORDER BY id");

// Each instrument with its latest event and the archive records kept: both
// answered from the indexes that begin with the instrument.
const QString SummariesSql = QStringLiteral(
    "SELECT i.id, i.device_type, i.device_data, i.firmware, i.first_seen_ms, "
    "(SELECT MAX(e.at_ms) FROM events e WHERE e.instrument_id = i.id), "
    "(SELECT COUNT(*) FROM archive_records a WHERE a.instrument_id = i.id) "
    "FROM instruments i ORDER BY i.id");

// The latest read; a first batch written again after a lost reply left an
// empty row of the same start before it.
const QString LastReadSql = QStringLiteral(
    "SELECT started_ms, finished_ms, complete, positions, device_count FROM archive_reads "
    "WHERE instrument_id = ? ORDER BY started_ms DESC, id DESC LIMIT 1");

const QString ReadingsSql =
    QStringLiteral(
        "SELECT at_ms, dose_rate, mode, uncertainty, dose, accumulation_s FROM readings "
        "WHERE instrument_id = ? AND at_ms >= ? AND at_ms < ? ORDER BY at_ms LIMIT %1")
        .arg(ChunkRows);

}  // namespace

bool HistoryStore::Impl::InstrumentsFor(const std::optional<InstrumentIdentity>& instrument,
                                        std::vector<int64_t>& ids, QString* error) {
  if (instrument) {
    bool failed = false;
    const auto id = LookUpInstrument(*instrument, error, &failed);
    if (id) {
      ids.push_back(*id);
    }
    return !failed;
  }
  QSqlQuery query(connection.Db());
  if (!connection.Select(query, QStringLiteral("SELECT id FROM instruments ORDER BY id"), {},
                         error)) {
    return false;
  }
  while (query.next()) {
    ids.push_back(query.value(0).toLongLong());
  }
  return true;
}

HistoryAnswer<std::vector<StoredInstrument>> HistoryStore::Instruments() {
  HistoryAnswer<std::vector<StoredInstrument>> answer;
  if (!d_->Ready(answer.Outcome)) {
    return answer;
  }
  QSqlQuery query(d_->connection.Db());
  QString error;
  if (!d_->connection.Select(query, InstrumentsSql, {}, &error)) {
    answer.Outcome = d_->Fail(error);
    return answer;
  }
  while (query.next()) {
    answer.Value.push_back(InstrumentRow(query));
  }
  return answer;
}

HistoryAnswer<std::vector<InstrumentSummary>> HistoryStore::Summaries() {
  HistoryAnswer<std::vector<InstrumentSummary>> answer;
  if (!d_->Ready(answer.Outcome)) {
    return answer;
  }
  QString error;
  {
    QSqlQuery query(d_->connection.Db());
    if (!d_->connection.Select(query, SummariesSql, {}, &error)) {
      answer.Outcome = d_->Fail(error);
      return answer;
    }
    while (query.next()) {
      InstrumentSummary summary;
      summary.Instrument = InstrumentRow(query);
      summary.LastSeenMs =
          std::max(summary.Instrument.FirstSeenMs, NullableOf(query.value(5)).value_or(0));
      summary.RecordsKept = query.value(6).toLongLong();
      answer.Value.push_back(summary);
    }
  }
  for (InstrumentSummary& summary : answer.Value) {
    const auto id = static_cast<qlonglong>(summary.Instrument.Id);
    if (!d_->LastReading(id, summary.LastReading, &error)) {
      answer.Outcome = d_->Fail(error);
      return answer;
    }
    QSqlQuery read(d_->connection.Db());
    if (!d_->connection.Select(read, LastReadSql, {id}, &error)) {
      answer.Outcome = d_->Fail(error);
      return answer;
    }
    if (read.next()) {
      summary.LastReadMs = NullableOf(read.value(1)).value_or(read.value(0).toLongLong());
      summary.LastReadComplete = read.value(2).toInt() != 0;
      summary.LastReadPositions = read.value(3).toLongLong();
      summary.LastReadDeviceCount = read.value(4).toLongLong();
      summary.LastSeenMs = std::max(summary.LastSeenMs, *summary.LastReadMs);
    }
    if (summary.LastReading) {
      summary.LastSeenMs = std::max(summary.LastSeenMs, summary.LastReading->AtMs);
    }
  }
  return answer;
}

HistoryAnswer<int64_t> HistoryStore::ArchiveRecordCount(const InstrumentIdentity& instrument) {
  HistoryAnswer<int64_t> answer;
  answer.Outcome = d_->Visit(instrument, [&](int64_t id, size_t, size_t, bool&, QString* error) {
    QSqlQuery query(d_->connection.Db());
    if (!d_->connection.Select(
            query, QStringLiteral("SELECT COUNT(*) FROM archive_records WHERE instrument_id = ?"),
            {static_cast<qlonglong>(id)}, error) ||
        !query.next()) {
      return false;
    }
    answer.Value = query.value(0).toLongLong();
    return true;
  });
  return answer;
}

HistoryAnswer<ArchiveCoverage> HistoryStore::Coverage(const InstrumentIdentity& instrument) {
  HistoryAnswer<ArchiveCoverage> answer;
  answer.Outcome = d_->Visit(instrument, [&](int64_t id, size_t, size_t, bool&, QString* error) {
    QSqlQuery read(d_->connection.Db());
    if (!d_->connection.Select(read,
                               QStringLiteral("SELECT positions, finished_ms FROM archive_reads "
                                              "WHERE instrument_id = ? AND complete = 1 "
                                              "ORDER BY finished_ms DESC, id DESC LIMIT 1"),
                               {static_cast<qlonglong>(id)}, error)) {
      return false;
    }
    if (read.next()) {
      answer.Value.Records = read.value(0).toLongLong();
      answer.Value.AtMs = read.value(1).toLongLong();
    }
    QSqlQuery erase(d_->connection.Db());
    if (!d_->connection.Select(erase,
                               QStringLiteral("SELECT MAX(at_ms) FROM events WHERE "
                                              "instrument_id = ? AND kind = ?"),
                               {static_cast<qlonglong>(id), EventKindName(EventKind::ArchiveErase)},
                               error) ||
        !erase.next()) {
      return false;
    }
    // An erase after the last complete read leaves an empty archive, all of
    // whose records the history has.
    if (!erase.value(0).isNull() &&
        (!answer.Value.Records || erase.value(0).toLongLong() >= answer.Value.AtMs)) {
      answer.Value.Records = 0;
      answer.Value.AtMs = erase.value(0).toLongLong();
    }
    return true;
  });
  // Records or an erase of this instrument still in memory make the
  // store's answer stale.
  for (const HistoryItem& item : d_->queue) {
    if (const auto* event = std::get_if<EventItem>(&item)) {
      answer.Value.Pending += event->Instrument == instrument ? 1 : 0;
    } else if (const auto* batch = std::get_if<ArchiveItem>(&item)) {
      answer.Value.Pending +=
          d_->reads.At(batch->Key).Instrument == instrument ? ItemSize(item) : 0;
    }
  }
  answer.Value.Pending += d_->reads.Buffered(instrument);
  return answer;
}

HistoryAnswer<RateSeries> HistoryStore::Rates(const InstrumentIdentity& instrument,
                                              const TimeRange& range) {
  HistoryAnswer<RateSeries> answer;
  answer.Outcome = VisitReadings(instrument, range, [&answer](const StoredReading& stored) {
    answer.Value.AtMs.push_back(stored.Reading.AtMs);
    answer.Value.Rates.push_back(stored.Reading.DoseRate);
    return true;
  });
  return answer;
}

HistoryOutcome HistoryStore::VisitReadings(const std::optional<InstrumentIdentity>& instrument,
                                           const TimeRange& range,
                                           const std::function<bool(const StoredReading&)>& visit) {
  return d_->Visit(instrument, [&](int64_t id, size_t, size_t, bool& more, QString* error) {
    TimeRange rest = range;
    StoredReading stored;
    stored.InstrumentId = id;
    for (;;) {
      QSqlQuery query(d_->connection.Db());
      if (!d_->connection.Select(query, ReadingsSql, RangeValues(id, rest), error)) {
        return false;
      }
      int rows = 0;
      while (more && query.next()) {
        ++rows;
        stored.Reading = d_->ReadingRow(query);
        more = visit(stored);
      }
      if (!more || rows < ChunkRows) {
        return true;
      }
      query.finish();
      rest.FromMs = stored.Reading.AtMs + 1;
      if (d_->options.Pause) {
        d_->options.Pause();
      }
    }
  });
}

HistoryOutcome HistoryStore::VisitArchive(
    const std::optional<InstrumentIdentity>& instrument, const TimeRange& range,
    const std::function<bool(const StoredArchiveRecord&)>& visit) {
  const bool everything = !range.FromMs && !range.ToMs;
  // Records in the order of the archive they came from; equal places (a
  // read that lost a reply) by when they were read, then by what identifies
  // a record, so each chunk takes up exactly where the last one ended.
  const QString sql =
      QStringLiteral(
          "SELECT run, position, raw, device_ms, read_ms, ordinal FROM archive_records "
          "WHERE instrument_id = ?") +
      (everything ? QString() : QStringLiteral(" AND device_ms >= ? AND device_ms < ?")) +
      QStringLiteral(
          " AND (run, position, read_ms, raw, ordinal) > (?, ?, ?, ?, ?) "
          "ORDER BY run, position, read_ms, raw, ordinal LIMIT %1")
          .arg(ChunkRows);
  return d_->Visit(instrument, [&](int64_t id, size_t, size_t, bool& more, QString* error) {
    StoredArchiveRecord stored;
    stored.InstrumentId = id;
    QVariantList after = {std::numeric_limits<qlonglong>::min(), 0, 0, QByteArray(""), 0};
    for (;;) {
      QSqlQuery query(d_->connection.Db());
      QVariantList values =
          everything ? QVariantList{static_cast<qlonglong>(id)} : RangeValues(id, range);
      values += after;
      if (!d_->connection.Select(query, sql, values, error)) {
        return false;
      }
      int rows = 0;
      while (more && query.next()) {
        ++rows;
        stored.Run = query.value(0).toLongLong();
        stored.Position = query.value(1).toLongLong();
        stored.Raw = RawOf(query.value(2));
        stored.DeviceMs = NullableOf(query.value(3));
        stored.ReadMs = query.value(4).toLongLong();
        after = {static_cast<qlonglong>(stored.Run), static_cast<qlonglong>(stored.Position),
                 static_cast<qlonglong>(stored.ReadMs), query.value(2).toByteArray(),
                 query.value(5).toInt()};
        more = visit(stored);
      }
      if (!more || rows < ChunkRows) {
        return true;
      }
      query.finish();
      if (d_->options.Pause) {
        d_->options.Pause();
      }
    }
  });
}

HistoryOutcome HistoryStore::VisitEvents(const std::optional<InstrumentIdentity>& instrument,
                                         const TimeRange& range,
                                         const std::function<bool(const StoredEvent&)>& visit,
                                         const std::vector<EventKind>& kinds) {
  QString sql = QStringLiteral(
      "SELECT e.id, e.at_ms, e.kind, e.actor, e.device_ms, e.drift_s, "
      "e.record_count, c.member, c.name, c.old_value, c.new_value "
      "FROM events e LEFT JOIN event_changes c ON c.event_id = e.id "
      "WHERE e.instrument_id = ? AND e.at_ms >= ? AND e.at_ms < ?");
  QVariantList kindNames;
  for (const EventKind kind : kinds) {
    kindNames << EventKindName(kind);
  }
  if (!kinds.empty()) {
    QStringList marks(kindNames.size(), QStringLiteral("?"));
    sql += QStringLiteral(" AND e.kind IN (%1)").arg(marks.join(QLatin1Char(',')));
  }
  sql += QStringLiteral(" ORDER BY e.at_ms, e.id, c.seq");
  return d_->Visit(instrument, [&](int64_t id, size_t, size_t, bool& more, QString* error) {
    QSqlQuery query(d_->connection.Db());
    if (!d_->connection.Select(query, sql, RangeValues(id, range) + kindNames, error)) {
      return false;
    }
    std::optional<StoredEvent> current;
    while (more && query.next()) {
      const int64_t eventId = query.value(0).toLongLong();
      if (!current || current->Id != eventId) {
        if (current) {
          more = visit(*current);
          if (!more) {
            break;
          }
        }
        current.emplace();
        current->Id = eventId;
        current->InstrumentId = id;
        HistoryEvent& e = current->Event;
        e.AtMs = query.value(1).toLongLong();
        e.Kind = EventKindFromName(query.value(2).toString()).value_or(EventKind::DoseReset);
        e.Actor = query.value(3).toString();
        e.DeviceMs = NullableOf(query.value(4));
        e.DriftSeconds = NullableOf(query.value(5));
        e.RecordCount = NullableOf(query.value(6));
      }
      if (!query.value(7).isNull()) {
        current->Event.Changes.push_back({query.value(7).toInt(), query.value(8).toString(),
                                          query.value(9).toString(), query.value(10).toString()});
      }
    }
    if (more && current) {
      more = visit(*current);
    }
    return true;
  });
}

int HistoryStore::SchemaVersion() {
  HistoryOutcome outcome;
  if (!d_->Ready(outcome)) {
    return -1;
  }
  return HistorySchemaVersion(d_->connection.Db());
}

}  // namespace vantor
