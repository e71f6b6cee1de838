#include "HistorySchema.h"

#include "HistoryConnection.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <vector>

namespace vantor {
namespace {

// One schema for both engines, with a few words that differ:
//   {id}     a generated integer key
//   {bytes}  binary data
//   {real}   a double
//   {f32}    a float of the instrument. SQLite keeps it as its 32-bit
//            pattern in an INTEGER (4 bytes, exact, NaN kept) since its REAL
//            takes 8 bytes and turns NaN into NULL; PostgreSQL has a 4-byte
//            float of its own.
//   {lean}   SQLite's WITHOUT ROWID: the primary key is the table, so a
//            reading costs no rowid and no second index.
struct Step {
  int Version;
  std::vector<const char*> Statements;
};

const std::vector<Step>& Steps() {
  static const std::vector<Step> steps = {
      {1,
       {
           "CREATE TABLE instruments ("
           " id {id},"
           " device_type INTEGER NOT NULL,"
           " device_data {bytes} NOT NULL,"
           " firmware TEXT NOT NULL,"
           " first_seen_ms BIGINT NOT NULL,"
           " UNIQUE (device_type, device_data, firmware))",

           // One row per read of an archive; `complete` once the read got
           // every record the instrument counted.
           "CREATE TABLE archive_reads ("
           " id {id},"
           " instrument_id BIGINT NOT NULL REFERENCES instruments (id),"
           " started_ms BIGINT NOT NULL,"
           " finished_ms BIGINT,"
           " device_count BIGINT NOT NULL,"
           " positions BIGINT NOT NULL,"
           " complete INTEGER NOT NULL)",
           "CREATE INDEX archive_reads_instrument ON archive_reads (instrument_id)",

           // A record is the same record when the same instrument sent the
           // same nine bytes as the same occurrence of those bytes in its
           // archive (`ordinal` counts earlier records with equal bytes in
           // the same read). The bytes carry the record's time, so a record
           // normally has ordinal 0 and keeps its identity when a record
           // before it was lost on the line; equal records (a clock that was
           // not set) stay apart.
           "CREATE TABLE archive_records ("
           " instrument_id BIGINT NOT NULL REFERENCES instruments (id),"
           " raw {bytes} NOT NULL,"
           " ordinal INTEGER NOT NULL,"
           " run BIGINT NOT NULL,"
           " position BIGINT NOT NULL,"
           " device_ms BIGINT,"
           " value {real},"
           " flags INTEGER NOT NULL,"
           " read_id BIGINT NOT NULL REFERENCES archive_reads (id),"
           " read_ms BIGINT NOT NULL,"
           " PRIMARY KEY (instrument_id, raw, ordinal))",
           "CREATE INDEX archive_records_order ON archive_records (instrument_id, run, position)",

           // Readings are unique by instrument and time, events by
           // instrument, time and kind: no instrument does the same thing
           // twice in one millisecond, so a batch written again after a lost
           // reply adds nothing. No foreign key on readings: a check per
           // reading would cost more than the reading.
           "CREATE TABLE readings ("
           " instrument_id BIGINT NOT NULL,"
           " at_ms BIGINT NOT NULL,"
           " dose_rate {f32},"
           " mode INTEGER NOT NULL,"
           " uncertainty {f32},"
           " dose {f32},"
           " accumulation_s BIGINT NOT NULL,"
           " PRIMARY KEY (instrument_id, at_ms)){lean}",

           "CREATE TABLE events ("
           " id {id},"
           " instrument_id BIGINT NOT NULL REFERENCES instruments (id),"
           " at_ms BIGINT NOT NULL,"
           " kind TEXT NOT NULL,"
           " actor TEXT NOT NULL,"
           " device_ms BIGINT,"
           " drift_s BIGINT,"
           " record_count BIGINT,"
           " UNIQUE (instrument_id, at_ms, kind))",

           "CREATE TABLE event_changes ("
           " event_id BIGINT NOT NULL REFERENCES events (id),"
           " seq INTEGER NOT NULL,"
           " member INTEGER NOT NULL,"
           " name TEXT NOT NULL,"
           " old_value TEXT NOT NULL,"
           " new_value TEXT NOT NULL,"
           " PRIMARY KEY (event_id, seq))",
       }},
      // An export reads the archive records in chunks, each taking up where
      // the last one ended in (run, position, read_ms, raw, ordinal) order:
      // with the whole order in the index every chunk is one range of it,
      // without sorting what is left of the instrument's records.
      {2,
       {
           "CREATE INDEX archive_records_keyset ON archive_records "
           "(instrument_id, run, position, read_ms, raw, ordinal)",
           "DROP INDEX archive_records_order",
       }},
  };
  return steps;
}

QString Dialect(const char* text, HistoryEngine engine) {
  const bool lite = engine == HistoryEngine::Sqlite;
  QString sql = QString::fromLatin1(text);
  sql.replace(QLatin1String("{id}"), lite ? QLatin1String("INTEGER PRIMARY KEY")
                                          : QLatin1String("BIGINT GENERATED BY DEFAULT AS "
                                                          "IDENTITY PRIMARY KEY"));
  sql.replace(QLatin1String("{bytes}"), lite ? QLatin1String("BLOB") : QLatin1String("BYTEA"));
  sql.replace(QLatin1String("{real}"),
              lite ? QLatin1String("REAL") : QLatin1String("DOUBLE PRECISION"));
  sql.replace(QLatin1String("{f32}"), lite ? QLatin1String("INTEGER") : QLatin1String("REAL"));
  sql.replace(QLatin1String("{lean}"), lite ? QLatin1String(" WITHOUT ROWID") : QLatin1String(""));
  return sql;
}

bool Run(QSqlQuery& query, const QString& sql, QString* error) {
  if (query.exec(sql)) {
    return true;
  }
  *error = OneLineError(query.lastError());
  return false;
}

}  // namespace

int LatestHistorySchema() {
  return Steps().back().Version;
}

QString BeginSql(HistoryEngine engine) {
  return engine == HistoryEngine::Sqlite ? QStringLiteral("BEGIN IMMEDIATE")
                                         : QStringLiteral("BEGIN");
}

int HistorySchemaVersion(QSqlDatabase& db) {
  if (!db.tables().contains(QStringLiteral("schema_version"))) {
    return 0;
  }
  QSqlQuery query(db);
  if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) {
    return -1;
  }
  return query.value(0).toInt();
}

bool MigrateHistory(QSqlDatabase& db, HistoryEngine engine, QString* error) {
  QSqlQuery query(db);
  for (const Step& step : Steps()) {
    if (!Run(query, BeginSql(engine), error)) {
      return false;
    }
    bool ok = true;
    if (engine == HistoryEngine::Postgres) {
      // Serialises programs migrating the same database; released at the
      // end of the transaction.
      ok = Run(query, QStringLiteral("SELECT pg_advisory_xact_lock(7305102)"), error) &&
           Run(query, QStringLiteral("SET LOCAL client_min_messages = warning"), error);
    }
    ok = ok && Run(query,
                   QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version ("
                                  " version INTEGER NOT NULL PRIMARY KEY,"
                                  " applied_ms BIGINT NOT NULL)"),
                   error);
    int current = -1;
    if (ok && query.exec(QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_version")) &&
        query.next()) {
      current = query.value(0).toInt();
    } else if (ok) {
      *error = OneLineError(query.lastError());
      ok = false;
    }
    query.finish();
    if (ok && current > LatestHistorySchema()) {
      *error = QStringLiteral("the history has schema %1, newer than this program's %2")
                   .arg(current)
                   .arg(LatestHistorySchema());
      ok = false;
    }
    if (ok && current < step.Version) {
      for (const char* statement : step.Statements) {
        if (!Run(query, Dialect(statement, engine), error)) {
          ok = false;
          break;
        }
      }
      ok = ok && query.prepare(QStringLiteral(
                     "INSERT INTO schema_version (version, applied_ms) VALUES (?, ?)"));
      if (ok) {
        query.addBindValue(step.Version);
        query.addBindValue(QDateTime::currentMSecsSinceEpoch());
        ok = query.exec();
        if (!ok) {
          *error = OneLineError(query.lastError());
        }
      }
    }
    if (!ok) {
      QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
      return false;
    }
    if (!Run(query, QStringLiteral("COMMIT"), error)) {
      QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
      return false;
    }
  }
  return true;
}

}  // namespace vantor
