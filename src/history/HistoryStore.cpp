#include "HistoryStore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QVariant>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <variant>

#include "HistorySchema.h"

namespace vantor {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Readings per multi-row INSERT: one statement instead of 64 round trips.
constexpr int BulkRows = 64;
// Rows per transaction when catching up after an outage, so one commit
// stays short.
constexpr int64_t ChunkRows = 20000;

QByteArray KeyOf(const InstrumentIdentity& instrument) {
  QByteArray key;
  key.append(static_cast<char>(instrument.DeviceType));
  key.append(reinterpret_cast<const char*>(instrument.DeviceData.data()),
             static_cast<qsizetype>(instrument.DeviceData.size()));
  key.append(instrument.Firmware.toUtf8());
  return key;
}

QByteArray BytesBlob(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)};
}

QVariant Nullable(const std::optional<int64_t>& value) {
  return value ? QVariant(static_cast<qlonglong>(*value)) : QVariant();
}

std::optional<int64_t> NullableOf(const QVariant& value) {
  if (value.isNull()) {
    return std::nullopt;
  }
  return value.toLongLong();
}

QString DefaultActor() {
  QString user = qEnvironmentVariable("USER");
  if (user.isEmpty()) {
    user = qEnvironmentVariable("USERNAME");
  }
  return user + QLatin1Char('@') + QSysInfo::machineHostName();
}

struct ArchiveRow {
  int64_t Position = 0;
  int64_t LocalRun = 0;  // separators before it in this read
  int Ordinal = 0;
  ArchiveBytes Raw{};
  int64_t ReadMs = 0;
};

struct ReadingsItem {
  InstrumentIdentity Instrument;
  std::vector<LiveReading> Readings;
};
struct EventItem {
  InstrumentIdentity Instrument;
  HistoryEvent Event;
};
struct ArchiveItem {
  int Key = 0;
  std::vector<ArchiveRow> Rows;
  int64_t Positions = 0;  // records received by the end of this batch
  bool Last = false;
  bool Complete = false;
  int64_t FinishedMs = 0;
};
using Item = std::variant<ReadingsItem, EventItem, ArchiveItem>;

int64_t ItemSize(const Item& item) {
  if (const auto* readings = std::get_if<ReadingsItem>(&item)) {
    return static_cast<int64_t>(readings->Readings.size());
  }
  if (const auto* batch = std::get_if<ArchiveItem>(&item)) {
    return std::max<int64_t>(1, static_cast<int64_t>(batch->Rows.size()));
  }
  return 1;
}

// What a read has settled in the store; replaced only after a commit.
struct ReadSettled {
  int64_t DbId = 0;
  int64_t LocalRun = -1;  // the read's run whose store run is known
  int64_t Run = 0;
};

struct ReadState {
  InstrumentIdentity Instrument;
  int64_t DeviceCount = 0;
  int64_t StartedMs = 0;
  int64_t Positions = 0;
  int64_t LocalRun = 0;
  QHash<QByteArray, int> Seen;  // occurrences of each record's bytes
  std::vector<ArchiveRow> Buffer;
  SteadyClock::time_point LastBatch;
  bool Ended = false;
  ReadSettled Settled;
};

// Changes a transaction makes to the store's memory, kept apart until the
// commit succeeds.
struct Txn {
  QHash<QByteArray, int64_t> Instruments;
  std::map<int, ReadSettled> Reads;
};

enum Statement : uint8_t {
  SelectInstrument,
  InsertInstrument,
  InsertReading,
  InsertReadings,
  InsertRead,
  FindRun,
  NextRun,
  InsertRecord,
  UpdateRead,
  InsertEvent,
  InsertChange,
  StatementCount
};

QString StatementSql(Statement statement) {
  static const QString values = [] {
    QStringList rows;
    for (int i = 0; i < BulkRows; ++i) {
      rows << QStringLiteral("(?, ?, ?, ?, ?, ?, ?)");
    }
    return rows.join(QLatin1Char(','));
  }();
  static const QString readingColumns = QStringLiteral(
      "INSERT INTO readings (instrument_id, at_ms, dose_rate, mode, uncertainty, dose, "
      "accumulation_s) VALUES ");
  switch (statement) {
    case SelectInstrument:
      return QStringLiteral(
          "SELECT id FROM instruments WHERE device_type = ? AND device_data = ? AND firmware = ?");
    case InsertInstrument:
      return QStringLiteral(
          "INSERT INTO instruments (device_type, device_data, firmware, first_seen_ms) "
          "VALUES (?, ?, ?, ?) ON CONFLICT DO NOTHING RETURNING id");
    case InsertReading:
      return readingColumns + QStringLiteral("(?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING");
    case InsertReadings:
      return readingColumns + values + QStringLiteral(" ON CONFLICT DO NOTHING");
    case InsertRead:
      return QStringLiteral(
          "INSERT INTO archive_reads (instrument_id, started_ms, device_count, positions, "
          "complete) VALUES (?, ?, ?, 0, 0) RETURNING id");
    case FindRun:
      return QStringLiteral(
          "SELECT run FROM archive_records WHERE instrument_id = ? AND raw = ? AND ordinal = ?");
    case NextRun:
      return QStringLiteral(
          "SELECT COALESCE(MAX(run), 0) + 1 FROM archive_records WHERE instrument_id = ?");
    case InsertRecord:
      return QStringLiteral(
          "INSERT INTO archive_records (instrument_id, raw, ordinal, run, position, device_ms, "
          "value, flags, read_id, read_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
          "ON CONFLICT DO NOTHING");
    case UpdateRead:
      return QStringLiteral(
          "UPDATE archive_reads SET positions = ?, finished_ms = ?, complete = ? WHERE id = ?");
    case InsertEvent:
      return QStringLiteral(
          "INSERT INTO events (instrument_id, at_ms, kind, actor, device_ms, drift_s, "
          "record_count) VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING RETURNING id");
    case InsertChange:
      return QStringLiteral(
          "INSERT INTO event_changes (event_id, seq, member, name, old_value, new_value) "
          "VALUES (?, ?, ?, ?, ?, ?)");
    case StatementCount:
      break;
  }
  return QString();
}

std::atomic<int> connectionCounter{0};

}  // namespace

struct HistoryStore::Impl {
  HistoryLocation location;
  HistoryOptions options;
  QString connection;
  QSqlDatabase db;
  bool open = false;
  std::array<std::optional<QSqlQuery>, StatementCount> statements;

  std::deque<Item> pending;
  int64_t pendingCount = 0;  // rows in `pending`
  std::map<int, ReadState> reads;
  int nextReadKey = 1;
  QHash<QByteArray, int64_t> instrumentIds;  // committed rows only

  bool failing = false;
  bool notified = false;
  QString lastError;
  SteadyClock::time_point retryAt;
  int retryDelay = 0;

  bool Lite() const { return location.Engine == HistoryEngine::Sqlite; }

  int64_t Now() const {
    return options.NowMs ? options.NowMs() : QDateTime::currentMSecsSinceEpoch();
  }

  int64_t PendingTotal() const {
    int64_t total = pendingCount;
    for (const auto& [key, read] : reads) {
      total += static_cast<int64_t>(read.Buffer.size());
    }
    return total;
  }

  // A float of the instrument as the engine keeps it (see the schema).
  QVariant F32(float value) const {
    if (Lite()) {
      int32_t bits = 0;
      std::memcpy(&bits, &value, sizeof bits);
      return static_cast<qlonglong>(bits);
    }
    return value;
  }
  float F32Of(const QVariant& value) const {
    if (Lite()) {
      const auto bits = static_cast<int32_t>(value.toLongLong());
      float f = 0;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    return value.isNull() ? std::numeric_limits<float>::quiet_NaN() : value.toFloat();
  }

  // -- Connection --------------------------------------------------------

  void Close() {
    for (auto& statement : statements) {
      statement.reset();
    }
    if (db.isValid()) {
      db.close();
    }
    open = false;
    instrumentIds.clear();
  }

  bool EnsureOpen(QString* error) {
    if (open) {
      return true;
    }
    if (!location.Valid()) {
      *error = location.Error;
      return false;
    }
    const QString driver = Lite() ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!db.isValid()) {
      if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = QStringLiteral("the Qt SQL driver %1 is not installed").arg(driver);
        return false;
      }
      db = QSqlDatabase::addDatabase(driver, connection);
    }
    if (Lite()) {
      const QString folder = QFileInfo(location.Path).absolutePath();
      if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the folder %1").arg(folder);
        return false;
      }
      db.setDatabaseName(location.Path);
      db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options.BusyTimeoutMs));
    } else {
      db.setHostName(location.Host);
      db.setPort(location.Port);
      db.setUserName(location.User);
      db.setPassword(location.Password);
      db.setDatabaseName(location.Database);
      // A server that went away must not hold the program for minutes.
      db.setConnectOptions(
          QStringLiteral("connect_timeout=5;application_name=vantor;keepalives_idle=10;"
                         "keepalives_interval=5;keepalives_count=2;tcp_user_timeout=15000"));
    }
    if (!db.open()) {
      *error = db.lastError().text();
      db.close();
      return false;
    }
    if (Lite()) {
      // WAL: readers never wait for the writer, and a crash leaves whole
      // transactions. FULL: a committed read is on disk before the
      // instrument is told to erase it.
      QSqlQuery pragma(db);
      if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !pragma.next() ||
          pragma.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0 ||
          !pragma.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
        *error = pragma.lastError().text().isEmpty()
                     ? QStringLiteral("%1 cannot keep a write-ahead log").arg(location.Path)
                     : pragma.lastError().text();
        pragma.finish();
        Close();
        return false;
      }
    }
    if (!MigrateHistory(db, location.Engine, error)) {
      Close();
      return false;
    }
    open = true;
    return true;
  }

  QSqlQuery* Prepared(Statement which, QString* error) {
    auto& slot = statements[which];
    if (!slot) {
      slot.emplace(db);
      if (!slot->prepare(StatementSql(which))) {
        *error = slot->lastError().text();
        slot.reset();
        return nullptr;
      }
    }
    return &*slot;
  }

  bool Exec(const QString& sql, QString* error) {
    QSqlQuery query(db);
    if (query.exec(sql)) {
      return true;
    }
    if (error != nullptr) {
      *error = query.lastError().text();
    }
    return false;
  }

  // Runs a prepared statement with `values`; when it returns a row, the
  // first column lands in `first`.
  bool Run(Statement which, const QVariantList& values, QString* error,
           std::optional<QVariant>* first = nullptr) {
    QSqlQuery* query = Prepared(which, error);
    if (query == nullptr) {
      return false;
    }
    for (qsizetype i = 0; i < values.size(); ++i) {
      query->bindValue(static_cast<int>(i), values[i]);
    }
    if (!query->exec()) {
      *error = query->lastError().text();
      query->finish();
      return false;
    }
    if (first != nullptr) {
      if (query->next()) {
        *first = query->value(0);
      } else {
        first->reset();
      }
    }
    query->finish();
    return true;
  }

  // -- Outcomes ----------------------------------------------------------

  HistoryOutcome Fail(const QString& error) {
    Close();
    HistoryOutcome outcome;
    outcome.Ok = false;
    outcome.Error = error;
    outcome.Notify = !notified;
    notified = true;
    failing = true;
    lastError = error;
    retryAt = SteadyClock::now() + std::chrono::milliseconds(retryDelay);
    retryDelay = std::min(retryDelay * 2, options.MaxRetryMs);
    outcome.Pending = PendingTotal();
    return outcome;
  }

  HistoryOutcome Succeed() {
    HistoryOutcome outcome;
    outcome.Recovered = failing;
    failing = false;
    notified = false;
    lastError.clear();
    retryDelay = options.RetryMs;
    outcome.Pending = PendingTotal();
    return outcome;
  }

  // The state as it stands, without trying the store.
  HistoryOutcome Current() const {
    HistoryOutcome outcome;
    outcome.Ok = !failing;
    outcome.Error = lastError;
    outcome.Pending = PendingTotal();
    return outcome;
  }

  // -- Writing -----------------------------------------------------------

  std::optional<int64_t> LookUpInstrument(const QByteArray& key,
                                          const InstrumentIdentity& instrument, QString* error,
                                          bool* failed) {
    if (const auto found = instrumentIds.constFind(key); found != instrumentIds.cend()) {
      return *found;
    }
    std::optional<QVariant> id;
    if (!Run(SelectInstrument,
             {instrument.DeviceType,
              BytesBlob(instrument.DeviceData.data(), instrument.DeviceData.size()),
              instrument.Firmware},
             error, &id)) {
      *failed = true;
      return std::nullopt;
    }
    if (!id) {
      return std::nullopt;
    }
    return id->toLongLong();
  }

  bool InstrumentId(const InstrumentIdentity& instrument, Txn& txn, int64_t& id, QString* error) {
    const QByteArray key = KeyOf(instrument);
    if (const auto found = txn.Instruments.constFind(key); found != txn.Instruments.cend()) {
      id = *found;
      return true;
    }
    bool failed = false;
    std::optional<int64_t> known = LookUpInstrument(key, instrument, error, &failed);
    if (failed) {
      return false;
    }
    if (!known) {
      std::optional<QVariant> inserted;
      if (!Run(InsertInstrument,
               {instrument.DeviceType,
                BytesBlob(instrument.DeviceData.data(), instrument.DeviceData.size()),
                instrument.Firmware, static_cast<qlonglong>(Now())},
               error, &inserted)) {
        return false;
      }
      if (inserted) {
        known = inserted->toLongLong();
      } else {
        // Another program added it in the meantime.
        known = LookUpInstrument(key, instrument, error, &failed);
        if (!known) {
          *error = QStringLiteral("the instrument could not be added");
          return false;
        }
      }
    }
    txn.Instruments.insert(key, *known);
    id = *known;
    return true;
  }

  void BindReading(QSqlQuery& query, int base, int64_t instrument, const LiveReading& r) const {
    query.bindValue(base, static_cast<qlonglong>(instrument));
    query.bindValue(base + 1, static_cast<qlonglong>(r.AtMs));
    query.bindValue(base + 2, F32(r.DoseRate));
    query.bindValue(base + 3, r.Mode);
    query.bindValue(base + 4, F32(r.Uncertainty));
    query.bindValue(base + 5, F32(r.Dose));
    query.bindValue(base + 6, static_cast<qlonglong>(r.AccumulationSeconds));
  }

  bool WriteReadings(const ReadingsItem& item, Txn& txn, QString* error) {
    int64_t instrument = 0;
    if (!InstrumentId(item.Instrument, txn, instrument, error)) {
      return false;
    }
    const auto& readings = item.Readings;
    size_t i = 0;
    while (i < readings.size()) {
      const bool bulk = readings.size() - i >= BulkRows;
      QSqlQuery* query = Prepared(bulk ? InsertReadings : InsertReading, error);
      if (query == nullptr) {
        return false;
      }
      const size_t rows = bulk ? BulkRows : 1;
      for (size_t k = 0; k < rows; ++k) {
        BindReading(*query, static_cast<int>(k) * 7, instrument, readings[i + k]);
      }
      if (!query->exec()) {
        *error = query->lastError().text();
        return false;
      }
      i += rows;
    }
    return true;
  }

  bool WriteEvent(const EventItem& item, Txn& txn, QString* error) {
    int64_t instrument = 0;
    if (!InstrumentId(item.Instrument, txn, instrument, error)) {
      return false;
    }
    const HistoryEvent& event = item.Event;
    std::optional<QVariant> id;
    if (!Run(InsertEvent,
             {static_cast<qlonglong>(instrument), static_cast<qlonglong>(event.AtMs),
              EventKindName(event.Kind), event.Actor, Nullable(event.DeviceMs),
              Nullable(event.DriftSeconds), Nullable(event.RecordCount)},
             error, &id)) {
      return false;
    }
    if (!id) {
      return true;  // written before; its changes went in with it
    }
    for (size_t i = 0; i < event.Changes.size(); ++i) {
      const MemberChange& change = event.Changes[i];
      if (!Run(InsertChange,
               {id->toLongLong(), static_cast<int>(i), change.Member, change.Name, change.Old,
                change.New},
               error)) {
        return false;
      }
    }
    return true;
  }

  bool WriteArchive(const ArchiveItem& item, Txn& txn, QString* error) {
    const ReadState& read = reads.at(item.Key);
    ReadSettled& settled = txn.Reads.try_emplace(item.Key, read.Settled).first->second;
    int64_t instrument = 0;
    if (!InstrumentId(read.Instrument, txn, instrument, error)) {
      return false;
    }
    if (settled.DbId == 0) {
      // A first batch written again after a lost reply adds a second read
      // row but no record: the records are what must not double.
      std::optional<QVariant> id;
      if (!Run(InsertRead,
               {static_cast<qlonglong>(instrument), static_cast<qlonglong>(read.StartedMs),
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
      const QByteArray raw = BytesBlob(row.Raw.data(), row.Raw.size());
      if (row.LocalRun != settled.LocalRun) {
        // A run of this read continues the run its first record was stored
        // in before; a run the history has not seen gets the next number.
        std::optional<QVariant> run;
        if (!Run(FindRun, {static_cast<qlonglong>(instrument), raw, row.Ordinal}, error, &run)) {
          return false;
        }
        if (!run && (!Run(NextRun, {static_cast<qlonglong>(instrument)}, error, &run) || !run)) {
          return false;
        }
        settled.LocalRun = row.LocalRun;
        settled.Run = run->toLongLong();
      }
      const float value = ArchiveValueOf(row.Raw);
      if (!Run(
              InsertRecord,
              {static_cast<qlonglong>(instrument), raw, row.Ordinal,
               static_cast<qlonglong>(settled.Run), static_cast<qlonglong>(row.Position),
               Nullable(ArchiveTimeOf(row.Raw, options.Zone)),
               std::isfinite(value) ? QVariant(static_cast<double>(value)) : QVariant(), row.Raw[4],
               static_cast<qlonglong>(settled.DbId), static_cast<qlonglong>(row.ReadMs)},
              error)) {
        return false;
      }
    }
    return Run(UpdateRead,
               {static_cast<qlonglong>(item.Positions),
                item.Last ? QVariant(static_cast<qlonglong>(item.FinishedMs)) : QVariant(),
                item.Last && item.Complete ? 1 : 0, static_cast<qlonglong>(settled.DbId)},
               error);
  }

  bool Write(const Item& item, Txn& txn, QString* error) {
    if (const auto* readings = std::get_if<ReadingsItem>(&item)) {
      return WriteReadings(*readings, txn, error);
    }
    if (const auto* event = std::get_if<EventItem>(&item)) {
      return WriteEvent(*event, txn, error);
    }
    return WriteArchive(std::get<ArchiveItem>(item), txn, error);
  }

  // Writes what waits, chunk by chunk, each chunk one transaction.
  bool WritePending(QString* error) {
    while (!pending.empty()) {
      size_t count = 0;
      int64_t rows = 0;
      while (count < pending.size() &&
             (count == 0 || rows + ItemSize(pending[count]) <= ChunkRows)) {
        rows += ItemSize(pending[count]);
        ++count;
      }
      Txn txn;
      if (!Exec(BeginSql(location.Engine), error)) {
        return false;
      }
      bool ok = true;
      for (size_t i = 0; i < count && ok; ++i) {
        ok = Write(pending[i], txn, error);
      }
      if (ok && options.BeforeCommit && !options.BeforeCommit()) {
        ok = false;
        *error = QStringLiteral("the commit was refused");
      }
      if (!ok || !Exec(QStringLiteral("COMMIT"), error)) {
        Exec(QStringLiteral("ROLLBACK"), nullptr);
        return false;
      }
      for (auto it = txn.Instruments.cbegin(); it != txn.Instruments.cend(); ++it) {
        instrumentIds.insert(it.key(), it.value());
      }
      for (const auto& [key, settled] : txn.Reads) {
        reads.at(key).Settled = settled;
      }
      for (size_t i = 0; i < count; ++i) {
        if (const auto* batch = std::get_if<ArchiveItem>(&pending.front()); batch && batch->Last) {
          reads.erase(batch->Key);
        }
        pendingCount -= ItemSize(pending.front());
        pending.pop_front();
      }
    }
    return true;
  }

  HistoryOutcome Flush(bool force) {
    if (failing && !force && SteadyClock::now() < retryAt) {
      return Current();
    }
    // A server may have dropped a connection that sat idle (a restart, a
    // network timeout): a fresh one is tried before the store counts as
    // broken.
    const bool reconnect = open && location.Engine == HistoryEngine::Postgres;
    QString error;
    if (EnsureOpen(&error) && WritePending(&error)) {
      return Succeed();
    }
    if (reconnect) {
      Close();
      if (EnsureOpen(&error) && WritePending(&error)) {
        return Succeed();
      }
    }
    return Fail(error);
  }

  void Queue(Item item) {
    pendingCount += ItemSize(item);
    pending.push_back(std::move(item));
  }

  void QueueReadings(const InstrumentIdentity& instrument, const LiveReading* first, size_t n) {
    if (n == 0) {
      return;
    }
    // Readings of one instrument waiting in a row share one item.
    if (!pending.empty()) {
      if (auto* last = std::get_if<ReadingsItem>(&pending.back());
          last != nullptr && last->Instrument == instrument) {
        last->Readings.insert(last->Readings.end(), first, first + n);
        pendingCount += static_cast<int64_t>(n);
        return;
      }
    }
    Queue(ReadingsItem{instrument, std::vector<LiveReading>(first, first + n)});
  }

  void Buffer(ReadState& read, const ArchiveBytes& record) {
    const int64_t position = read.Positions++;
    if (IsSeparator(record)) {
      ++read.LocalRun;
      return;
    }
    const QByteArray bytes = BytesBlob(record.data(), record.size());
    read.Buffer.push_back({position, read.LocalRun, read.Seen[bytes]++, record, Now()});
  }

  // Hands the buffered records of a read to the queue as one batch.
  void QueueBatch(int key, bool last, bool complete) {
    ReadState& read = reads.at(key);
    ArchiveItem batch;
    batch.Key = key;
    batch.Rows = std::move(read.Buffer);
    read.Buffer.clear();
    batch.Positions = read.Positions;
    batch.Last = last;
    batch.Complete = complete;
    batch.FinishedMs = Now();
    read.LastBatch = SteadyClock::now();
    Queue(std::move(batch));
  }

  // -- Questions ---------------------------------------------------------

  // Makes the store ready to answer: written up and open.
  bool Ready(HistoryOutcome& outcome) {
    outcome = Flush(false);
    return outcome.Ok;
  }

  // The instruments to visit: the one asked about (when the history knows
  // it) or all.
  bool InstrumentsFor(const std::optional<InstrumentIdentity>& instrument,
                      std::vector<int64_t>& ids, QString* error) {
    if (instrument) {
      bool failed = false;
      const auto id = LookUpInstrument(KeyOf(*instrument), *instrument, error, &failed);
      if (id) {
        ids.push_back(*id);
      }
      return !failed;
    }
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT id FROM instruments ORDER BY id"))) {
      *error = query.lastError().text();
      return false;
    }
    while (query.next()) {
      ids.push_back(query.value(0).toLongLong());
    }
    return true;
  }

  // A forward-only query over one instrument, bound in order.
  bool Select(QSqlQuery& query, const QString& sql, const QVariantList& values, QString* error) {
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
      *error = query.lastError().text();
      return false;
    }
    for (qsizetype i = 0; i < values.size(); ++i) {
      query.bindValue(static_cast<int>(i), values[i]);
    }
    if (!query.exec()) {
      *error = query.lastError().text();
      return false;
    }
    return true;
  }

  template <class Body>
  HistoryOutcome Visit(const std::optional<InstrumentIdentity>& instrument, Body body) {
    HistoryOutcome outcome;
    if (!Ready(outcome)) {
      return outcome;
    }
    QString error;
    std::vector<int64_t> ids;
    if (!InstrumentsFor(instrument, ids, &error)) {
      return Fail(error);
    }
    for (const int64_t id : ids) {
      bool more = true;
      if (!body(id, more, &error)) {
        return Fail(error);
      }
      if (!more) {
        break;
      }
    }
    return outcome;
  }
};

namespace {

QVariantList RangeValues(int64_t instrument, const TimeRange& range) {
  return {static_cast<qlonglong>(instrument),
          static_cast<qlonglong>(range.FromMs.value_or(std::numeric_limits<int64_t>::min())),
          static_cast<qlonglong>(range.ToMs.value_or(std::numeric_limits<int64_t>::max()))};
}

}  // namespace

HistoryStore::HistoryStore(HistoryLocation location, HistoryOptions options)
    : d_(std::make_unique<Impl>()) {
  d_->location = std::move(location);
  d_->options = std::move(options);
  if (d_->options.Actor.isEmpty()) {
    d_->options.Actor = DefaultActor();
  }
  d_->retryDelay = d_->options.RetryMs;
  d_->connection = QStringLiteral("vantor-history-%1").arg(connectionCounter.fetch_add(1));
}

HistoryStore::~HistoryStore() {
  // A read still open ends as incomplete; one last try for what waits.
  for (auto& [key, read] : d_->reads) {
    if (!read.Ended) {
      read.Ended = true;
      d_->QueueBatch(key, true, false);
    }
  }
  if (!d_->pending.empty()) {
    d_->Flush(true);
  }
  d_->Close();
  d_->db = QSqlDatabase();
  QSqlDatabase::removeDatabase(d_->connection);
}

const HistoryLocation& HistoryStore::Location() const {
  return d_->location;
}

HistoryOutcome HistoryStore::AddReading(const InstrumentIdentity& instrument,
                                        const LiveReading& reading) {
  d_->QueueReadings(instrument, &reading, 1);
  return d_->Flush(false);
}

HistoryOutcome HistoryStore::AddReadings(const InstrumentIdentity& instrument,
                                         const std::vector<LiveReading>& readings) {
  d_->QueueReadings(instrument, readings.data(), readings.size());
  return d_->Flush(false);
}

HistoryOutcome HistoryStore::AddEvent(const InstrumentIdentity& instrument, HistoryEvent event) {
  if (event.Actor.isEmpty()) {
    event.Actor = d_->options.Actor;
  }
  if (event.AtMs == 0) {
    event.AtMs = d_->Now();
  }
  d_->Queue(EventItem{instrument, std::move(event)});
  return d_->Flush(false);
}

ArchiveReadLog HistoryStore::BeginArchiveRead(const InstrumentIdentity& instrument,
                                              int64_t deviceCount) {
  const int key = d_->nextReadKey++;
  ReadState& read = d_->reads[key];
  read.Instrument = instrument;
  read.DeviceCount = deviceCount;
  read.StartedMs = d_->Now();
  read.LastBatch = SteadyClock::now();
  return {this, key};
}

HistoryOutcome HistoryStore::StoreArchiveRead(const InstrumentIdentity& instrument,
                                              int64_t deviceCount,
                                              const std::vector<ArchiveBytes>& records,
                                              bool complete) {
  ArchiveReadLog log = BeginArchiveRead(instrument, deviceCount);
  ReadState& read = d_->reads.at(log.key_);
  for (const ArchiveBytes& record : records) {
    d_->Buffer(read, record);
  }
  return log.Finish(complete);
}

HistoryOutcome HistoryStore::Flush() {
  return d_->Flush(true);
}

int64_t HistoryStore::Pending() const {
  return d_->PendingTotal();
}

HistoryAnswer<std::vector<StoredInstrument>> HistoryStore::Instruments() {
  HistoryAnswer<std::vector<StoredInstrument>> answer;
  if (!d_->Ready(answer.Outcome)) {
    return answer;
  }
  QSqlQuery query(d_->db);
  if (!query.exec(QStringLiteral("SELECT id, device_type, device_data, firmware, first_seen_ms "
                                 "FROM instruments ORDER BY id"))) {
    answer.Outcome = d_->Fail(query.lastError().text());
    return answer;
  }
  while (query.next()) {
    StoredInstrument stored;
    stored.Id = query.value(0).toLongLong();
    stored.Identity.DeviceType = static_cast<uint8_t>(query.value(1).toInt());
    const QByteArray data = query.value(2).toByteArray();
    std::memcpy(stored.Identity.DeviceData.data(), data.constData(),
                std::min(stored.Identity.DeviceData.size(), static_cast<size_t>(data.size())));
    stored.Identity.Firmware = query.value(3).toString();
    stored.FirstSeenMs = query.value(4).toLongLong();
    answer.Value.push_back(stored);
  }
  return answer;
}

HistoryAnswer<int64_t> HistoryStore::ArchiveRecordCount(const InstrumentIdentity& instrument) {
  HistoryAnswer<int64_t> answer;
  answer.Outcome = d_->Visit(instrument, [&](int64_t id, bool&, QString* error) {
    QSqlQuery query(d_->db);
    if (!d_->Select(query,
                    QStringLiteral("SELECT COUNT(*) FROM archive_records WHERE instrument_id = ?"),
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
  answer.Outcome = d_->Visit(instrument, [&](int64_t id, bool&, QString* error) {
    QSqlQuery read(d_->db);
    if (!d_->Select(read,
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
    QSqlQuery erase(d_->db);
    if (!d_->Select(erase,
                    QStringLiteral("SELECT MAX(at_ms) FROM events WHERE instrument_id = ? "
                                   "AND kind = ?"),
                    {static_cast<qlonglong>(id), EventKindName(EventKind::ArchiveErase)}, error) ||
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
  for (const Item& item : d_->pending) {
    if (const auto* event = std::get_if<EventItem>(&item)) {
      answer.Value.Pending += event->Instrument == instrument ? 1 : 0;
    } else if (const auto* batch = std::get_if<ArchiveItem>(&item)) {
      answer.Value.Pending +=
          d_->reads.at(batch->Key).Instrument == instrument ? ItemSize(item) : 0;
    }
  }
  for (const auto& [key, read] : d_->reads) {
    if (read.Instrument == instrument) {
      answer.Value.Pending += static_cast<int64_t>(read.Buffer.size());
    }
  }
  return answer;
}

HistoryAnswer<RateSeries> HistoryStore::Rates(const InstrumentIdentity& instrument,
                                              const TimeRange& range) {
  HistoryAnswer<RateSeries> answer;
  answer.Outcome = d_->Visit(instrument, [&](int64_t id, bool&, QString* error) {
    QSqlQuery query(d_->db);
    if (!d_->Select(query,
                    QStringLiteral("SELECT at_ms, dose_rate FROM readings WHERE instrument_id = ? "
                                   "AND at_ms >= ? AND at_ms < ? ORDER BY at_ms"),
                    RangeValues(id, range), error)) {
      return false;
    }
    while (query.next()) {
      answer.Value.AtMs.push_back(query.value(0).toLongLong());
      answer.Value.Rates.push_back(d_->F32Of(query.value(1)));
    }
    return true;
  });
  return answer;
}

HistoryOutcome HistoryStore::VisitReadings(const std::optional<InstrumentIdentity>& instrument,
                                           const TimeRange& range,
                                           const std::function<bool(const StoredReading&)>& visit) {
  return d_->Visit(instrument, [&](int64_t id, bool& more, QString* error) {
    QSqlQuery query(d_->db);
    if (!d_->Select(query,
                    QStringLiteral("SELECT at_ms, dose_rate, mode, uncertainty, dose, "
                                   "accumulation_s FROM readings WHERE instrument_id = ? "
                                   "AND at_ms >= ? AND at_ms < ? ORDER BY at_ms"),
                    RangeValues(id, range), error)) {
      return false;
    }
    StoredReading stored;
    stored.InstrumentId = id;
    while (more && query.next()) {
      LiveReading& r = stored.Reading;
      r.AtMs = query.value(0).toLongLong();
      r.DoseRate = d_->F32Of(query.value(1));
      r.Mode = static_cast<uint8_t>(query.value(2).toInt());
      r.Uncertainty = d_->F32Of(query.value(3));
      r.Dose = d_->F32Of(query.value(4));
      r.AccumulationSeconds = static_cast<uint32_t>(query.value(5).toLongLong());
      more = visit(stored);
    }
    return true;
  });
}

HistoryOutcome HistoryStore::VisitArchive(
    const std::optional<InstrumentIdentity>& instrument, const TimeRange& range,
    const std::function<bool(const StoredArchiveRecord&)>& visit) {
  const bool everything = !range.FromMs && !range.ToMs;
  return d_->Visit(instrument, [&](int64_t id, bool& more, QString* error) {
    QSqlQuery query(d_->db);
    const QString sql = QStringLiteral(
                            "SELECT run, position, raw, device_ms, read_ms FROM archive_records "
                            "WHERE instrument_id = ?") +
                        (everything ? QString()
                                    : QStringLiteral(" AND device_ms >= ? AND "
                                                     "device_ms < ?")) +
                        QStringLiteral(" ORDER BY run, position, read_ms");
    const QVariantList values =
        everything ? QVariantList{static_cast<qlonglong>(id)} : RangeValues(id, range);
    if (!d_->Select(query, sql, values, error)) {
      return false;
    }
    StoredArchiveRecord stored;
    stored.InstrumentId = id;
    while (more && query.next()) {
      stored.Run = query.value(0).toLongLong();
      stored.Position = query.value(1).toLongLong();
      const QByteArray raw = query.value(2).toByteArray();
      stored.Raw = {};
      std::memcpy(stored.Raw.data(), raw.constData(),
                  std::min(stored.Raw.size(), static_cast<size_t>(raw.size())));
      stored.DeviceMs = NullableOf(query.value(3));
      stored.ReadMs = query.value(4).toLongLong();
      more = visit(stored);
    }
    return true;
  });
}

HistoryOutcome HistoryStore::VisitEvents(const std::optional<InstrumentIdentity>& instrument,
                                         const TimeRange& range,
                                         const std::function<bool(const StoredEvent&)>& visit) {
  return d_->Visit(instrument, [&](int64_t id, bool& more, QString* error) {
    QSqlQuery query(d_->db);
    if (!d_->Select(query,
                    QStringLiteral("SELECT e.id, e.at_ms, e.kind, e.actor, e.device_ms, "
                                   "e.drift_s, e.record_count, c.member, c.name, c.old_value, "
                                   "c.new_value FROM events e "
                                   "LEFT JOIN event_changes c ON c.event_id = e.id "
                                   "WHERE e.instrument_id = ? AND e.at_ms >= ? AND e.at_ms < ? "
                                   "ORDER BY e.at_ms, e.id, c.seq"),
                    RangeValues(id, range), error)) {
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
  return HistorySchemaVersion(d_->db);
}

ArchiveReadLog::ArchiveReadLog(ArchiveReadLog&& other) noexcept
    : store_(other.store_), key_(other.key_) {
  other.store_ = nullptr;
}

ArchiveReadLog& ArchiveReadLog::operator=(ArchiveReadLog&& other) noexcept {
  if (this != &other) {
    if (store_ != nullptr) {
      Finish(false);
    }
    store_ = other.store_;
    key_ = other.key_;
    other.store_ = nullptr;
  }
  return *this;
}

ArchiveReadLog::~ArchiveReadLog() {
  if (store_ != nullptr) {
    Finish(false);
  }
}

HistoryOutcome ArchiveReadLog::Add(const ArchiveBytes& record) {
  if (store_ == nullptr) {
    return {false, QStringLiteral("the archive read has ended")};
  }
  auto& d = *store_->d_;
  ReadState& read = d.reads.at(key_);
  d.Buffer(read, record);
  const bool full = static_cast<int64_t>(read.Buffer.size()) >= d.options.BatchRecords;
  const bool due = !read.Buffer.empty() && SteadyClock::now() - read.LastBatch >=
                                               std::chrono::milliseconds(d.options.BatchMs);
  if (!full && !due) {
    return d.Current();
  }
  d.QueueBatch(key_, false, false);
  return d.Flush(false);
}

void ArchiveReadLog::Skip() {
  if (store_ != nullptr) {
    ReadState& read = store_->d_->reads.at(key_);
    ++read.Positions;
    ++read.LocalRun;
  }
}

HistoryOutcome ArchiveReadLog::Finish(bool complete) {
  if (store_ == nullptr) {
    return {false, QStringLiteral("the archive read has ended")};
  }
  auto& d = *store_->d_;
  store_ = nullptr;
  d.reads.at(key_).Ended = true;
  d.QueueBatch(key_, true, complete);
  return d.Flush(false);
}

}  // namespace vantor
