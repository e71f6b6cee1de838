#include "HistorySpool.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>

#include "HistoryConnection.h"

namespace vantor {
namespace {

enum RowKind : int { KindReadings = 1, KindEvent = 2 };
// The layout of a row's item; a newer one is left for the program that
// wrote it.
constexpr quint8 ItemLayout = 1;

void PutIdentity(QDataStream& out, const InstrumentIdentity& instrument) {
  out << instrument.DeviceType;
  out.writeRawData(reinterpret_cast<const char*>(instrument.DeviceData.data()),
                   static_cast<int>(instrument.DeviceData.size()));
  out << instrument.Firmware;
}

void GetIdentity(QDataStream& in, InstrumentIdentity& instrument) {
  in >> instrument.DeviceType;
  in.readRawData(reinterpret_cast<char*>(instrument.DeviceData.data()),
                 static_cast<int>(instrument.DeviceData.size()));
  in >> instrument.Firmware;
}

void PutOptional(QDataStream& out, const std::optional<int64_t>& value) {
  out << value.has_value() << static_cast<qint64>(value.value_or(0));
}

void GetOptional(QDataStream& in, std::optional<int64_t>& value) {
  bool has = false;
  qint64 v = 0;
  in >> has >> v;
  value = has ? std::optional<int64_t>(v) : std::nullopt;
}

QByteArray Encode(const HistoryItem& item, int& kind) {
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_0);
  // The instrument's floats as the 32 bits they are.
  out.setFloatingPointPrecision(QDataStream::SinglePrecision);
  out << ItemLayout;
  if (const auto* readings = std::get_if<ReadingsItem>(&item)) {
    kind = KindReadings;
    PutIdentity(out, readings->Instrument);
    out << readings->Repeat << static_cast<quint32>(readings->Readings.size());
    for (const LiveReading& r : readings->Readings) {
      out << static_cast<qint64>(r.AtMs) << r.DoseRate << r.Mode << r.Uncertainty << r.Dose
          << r.AccumulationSeconds;
    }
  } else {
    const auto& event = std::get<EventItem>(item);
    kind = KindEvent;
    PutIdentity(out, event.Instrument);
    const HistoryEvent& e = event.Event;
    out << EventKindName(e.Kind) << static_cast<qint64>(e.AtMs);
    PutOptional(out, e.DeviceMs);
    PutOptional(out, e.DriftSeconds);
    PutOptional(out, e.RecordCount);
    out << e.Actor << static_cast<quint32>(e.Changes.size());
    for (const MemberChange& change : e.Changes) {
      out << static_cast<qint32>(change.Member) << change.Name << change.Old << change.New;
    }
  }
  return bytes;
}

bool Decode(int kind, const QByteArray& bytes, HistoryItem& item) {
  QDataStream in(bytes);
  in.setVersion(QDataStream::Qt_6_0);
  in.setFloatingPointPrecision(QDataStream::SinglePrecision);
  quint8 layout = 0;
  in >> layout;
  if (layout != ItemLayout) {
    return false;
  }
  InstrumentIdentity instrument;
  GetIdentity(in, instrument);
  quint32 count = 0;
  if (kind == KindReadings) {
    ReadingsItem readings{instrument, {}};
    in >> readings.Repeat >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
      LiveReading r;
      qint64 at = 0;
      in >> at >> r.DoseRate >> r.Mode >> r.Uncertainty >> r.Dose >> r.AccumulationSeconds;
      r.AtMs = at;
      readings.Readings.push_back(r);
    }
    item = std::move(readings);
  } else if (kind == KindEvent) {
    EventItem event{instrument, {}};
    HistoryEvent& e = event.Event;
    QString kindName;
    qint64 at = 0;
    in >> kindName >> at;
    const std::optional<EventKind> eventKind = EventKindFromName(kindName);
    if (!eventKind) {
      return false;
    }
    e.Kind = *eventKind;
    e.AtMs = at;
    GetOptional(in, e.DeviceMs);
    GetOptional(in, e.DriftSeconds);
    GetOptional(in, e.RecordCount);
    in >> e.Actor >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
      MemberChange change;
      qint32 member = 0;
      in >> member >> change.Name >> change.Old >> change.New;
      change.Member = member;
      e.Changes.push_back(change);
    }
    item = std::move(event);
  } else {
    return false;
  }
  return in.status() == QDataStream::Ok;
}

}  // namespace

QString DefaultSpoolPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/vantor/spool.sqlite");
}

HistorySpool::HistorySpool(QString path, const HistoryLocation& history)
    : path_(std::move(path)), key_(KeyOf(history)) {}

bool HistorySpool::Spoolable(const HistoryItem& item) {
  return !std::holds_alternative<ArchiveItem>(item);
}

QString HistorySpool::KeyOf(const HistoryLocation& history) {
  if (history.Engine == HistoryEngine::Sqlite) {
    return QStringLiteral("sqlite:") + QFileInfo(history.Path).absoluteFilePath();
  }
  return QStringLiteral("postgresql://%1@%2:%3/%4")
      .arg(history.User, history.Host)
      .arg(history.Port)
      .arg(history.Database);
}

template <class Body>
bool HistorySpool::WithDb(bool create, QString* error, Body body) {
  const std::lock_guard lock(mutex_);
  if (!create && !QFileInfo::exists(path_)) {
    return body(nullptr);
  }
  const QString name = QStringLiteral("spool-") + QUuid::createUuid().toString(QUuid::Id128);
  bool ok = false;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (create && !QDir().mkpath(QFileInfo(path_).absolutePath())) {
      *error = QStringLiteral("cannot create the folder of %1").arg(path_);
    } else if (!db.open()) {
      *error = OneLineError(db.lastError());
    } else {
      QSqlQuery setup(db);
      // Committed rows are on disk before the program goes on: a kill
      // loses at most the batch being written.
      setup.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
      setup.exec(QStringLiteral("PRAGMA synchronous=FULL"));
      if (!setup.exec(QStringLiteral(
              "CREATE TABLE IF NOT EXISTS spool (id INTEGER PRIMARY KEY AUTOINCREMENT, "
              "history TEXT NOT NULL, kind INTEGER NOT NULL, item BLOB NOT NULL)"))) {
        *error = OneLineError(setup.lastError());
      } else {
        ok = body(&db);
        if (!ok && error->isEmpty()) {
          *error = OneLineError(db.lastError());
        }
      }
      db.close();
    }
  }
  QSqlDatabase::removeDatabase(name);
  return ok;
}

bool HistorySpool::Append(const std::vector<HistoryItem>& items, std::vector<int64_t>& ids,
                          QString* error) {
  ids.clear();
  if (items.empty()) {
    return true;
  }
  return WithDb(true, error, [&](QSqlDatabase* db) {
    if (!db->transaction()) {
      return false;
    }
    QSqlQuery insert(*db);
    insert.prepare(QStringLiteral("INSERT INTO spool (history, kind, item) VALUES (?, ?, ?)"));
    for (const HistoryItem& item : items) {
      int kind = 0;
      const QByteArray bytes = Encode(item, kind);
      insert.bindValue(0, key_);
      insert.bindValue(1, kind);
      insert.bindValue(2, bytes);
      if (!insert.exec()) {
        *error = OneLineError(insert.lastError());
        db->rollback();
        ids.clear();
        return false;
      }
      ids.push_back(insert.lastInsertId().toLongLong());
    }
    if (!db->commit()) {
      ids.clear();
      return false;
    }
    return true;
  });
}

bool HistorySpool::Load(std::vector<Row>& rows, QString* error) {
  rows.clear();
  return WithDb(false, error, [&](QSqlDatabase* db) {
    if (db == nullptr) {
      return true;
    }
    QSqlQuery query(*db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id, kind, item FROM spool WHERE history = ? ORDER BY id"));
    query.bindValue(0, key_);
    if (!query.exec()) {
      *error = OneLineError(query.lastError());
      return false;
    }
    while (query.next()) {
      Row row;
      row.Id = query.value(0).toLongLong();
      // A row this program cannot read stays for the one that wrote it.
      if (Decode(query.value(1).toInt(), query.value(2).toByteArray(), row.Item)) {
        rows.push_back(std::move(row));
      }
    }
    return true;
  });
}

bool HistorySpool::Remove(const std::vector<int64_t>& ids, QString* error) {
  if (ids.empty()) {
    return true;
  }
  return WithDb(false, error, [&](QSqlDatabase* db) {
    if (db == nullptr) {
      return true;
    }
    if (!db->transaction()) {
      return false;
    }
    QSqlQuery remove(*db);
    remove.prepare(QStringLiteral("DELETE FROM spool WHERE id = ?"));
    for (const int64_t id : ids) {
      remove.bindValue(0, static_cast<qlonglong>(id));
      if (!remove.exec()) {
        *error = OneLineError(remove.lastError());
        db->rollback();
        return false;
      }
    }
    return db->commit();
  });
}

int64_t HistorySpool::Count() {
  int64_t count = -1;
  QString error;
  WithDb(false, &error, [&](QSqlDatabase* db) {
    if (db == nullptr) {
      count = 0;
      return true;
    }
    QSqlQuery query(*db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM spool WHERE history = ?"));
    query.bindValue(0, key_);
    if (query.exec() && query.next()) {
      count = query.value(0).toLongLong();
    }
    return true;
  });
  return count;
}

}  // namespace vantor
