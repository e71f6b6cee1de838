// The store's writing: items queued in order, written chunk by chunk, each
// chunk one transaction, and the outcome of every operation.
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QVariant>
#include <bit>
#include <cstring>
#include <limits>

#include "HistoryStoreImpl.h"

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace vantor {
namespace {

// Readings per multi-row INSERT: one statement instead of 64 round trips.
constexpr int BulkRows = 64;
constexpr int ReadingColumns = 7;

const QString SelectInstrumentSql = QStringLiteral(
    "SELECT id FROM instruments WHERE device_type = ? AND device_data = ? AND firmware = ?");
const QString InsertInstrumentSql = QStringLiteral(
    "INSERT INTO instruments (device_type, device_data, firmware, first_seen_ms) "
    "VALUES (?, ?, ?, ?) ON CONFLICT DO NOTHING RETURNING id");
const QString InsertEventSql = QStringLiteral(
    "INSERT INTO events (instrument_id, at_ms, kind, actor, device_ms, drift_s, "
    "record_count) VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING RETURNING id");
const QString InsertChangeSql = QStringLiteral(
    "INSERT INTO event_changes (event_id, seq, member, name, old_value, new_value) "
    "VALUES (?, ?, ?, ?, ?, ?)");
const QString LastReadingSql = QStringLiteral(
    "SELECT at_ms, dose_rate, mode, uncertainty, dose, accumulation_s FROM readings "
    "WHERE instrument_id = ? ORDER BY at_ms DESC LIMIT 1");

QString InsertReadingsSql(int rows) {
  QStringList values;
  for (int i = 0; i < rows; ++i) {
    values << QStringLiteral("(?, ?, ?, ?, ?, ?, ?)");
  }
  return QStringLiteral(
             "INSERT INTO readings (instrument_id, at_ms, dose_rate, mode, uncertainty, dose, "
             "accumulation_s) VALUES ") +
         values.join(QLatin1Char(',')) + QStringLiteral(" ON CONFLICT DO NOTHING");
}

const QString InsertOneReadingSql = InsertReadingsSql(1);
const QString InsertBulkReadingsSql = InsertReadingsSql(BulkRows);

QVariant Nullable(const std::optional<int64_t>& value) {
  return value ? QVariant(static_cast<qlonglong>(*value)) : QVariant();
}

// The account name of the user running the program: $USER, else the
// account database (a service started without a login shell has no $USER).
QString UserName() {
  for (const char* variable : {"USER", "LOGNAME", "USERNAME"}) {
    QString name = qEnvironmentVariable(variable);
    if (!name.isEmpty()) {
      return name;
    }
  }
#ifdef Q_OS_UNIX
  if (const passwd* account = ::getpwuid(::geteuid()); account != nullptr) {
    return QString::fromLocal8Bit(account->pw_name);
  }
#endif
  return QStringLiteral("unknown");
}

// Two polls that brought the same measurement: the instrument had not made
// a new one in between.
bool SameMeasurement(const LiveReading& a, const LiveReading& b) {
  return std::bit_cast<uint32_t>(a.DoseRate) == std::bit_cast<uint32_t>(b.DoseRate) &&
         std::bit_cast<uint32_t>(a.Uncertainty) == std::bit_cast<uint32_t>(b.Uncertainty) &&
         std::bit_cast<uint32_t>(a.Dose) == std::bit_cast<uint32_t>(b.Dose) && a.Mode == b.Mode &&
         a.AccumulationSeconds == b.AccumulationSeconds;
}

}  // namespace

QByteArray DeviceDataBlob(const InstrumentIdentity& instrument) {
  return {reinterpret_cast<const char*>(instrument.DeviceData.data()),
          static_cast<qsizetype>(instrument.DeviceData.size())};
}

QByteArray KeyOf(const InstrumentIdentity& instrument) {
  QByteArray key;
  key.append(static_cast<char>(instrument.DeviceType));
  key.append(DeviceDataBlob(instrument));
  key.append(instrument.Firmware.toUtf8());
  return key;
}

QString DefaultHistoryActor() {
  return UserName() + QLatin1Char('@') + QSysInfo::machineHostName();
}

HistoryStore::Impl::Impl(HistoryLocation where, HistoryOptions how)
    : location(std::move(where)),
      options(std::move(how)),
      connection(location, options),
      outage(options.RetryMs, options.MaxRetryMs) {}

HistoryOutcome HistoryStore::Impl::Fail(const QString& error) {
  connection.Close();
  instrumentIds.clear();
  // A location that can never work (a URL that does not parse) is told
  // once and not tried again.
  return outage.Fail(error, PendingTotal(), !location.Valid());
}

std::optional<int64_t> HistoryStore::Impl::LookUpInstrument(const InstrumentIdentity& instrument,
                                                            QString* error, bool* failed) {
  if (const auto found = instrumentIds.constFind(KeyOf(instrument));
      found != instrumentIds.cend()) {
    return *found;
  }
  std::optional<QVariant> id;
  if (!connection.Run(SelectInstrumentSql,
                      {instrument.DeviceType, DeviceDataBlob(instrument), instrument.Firmware},
                      error, &id)) {
    *failed = true;
    return std::nullopt;
  }
  if (!id) {
    return std::nullopt;
  }
  return id->toLongLong();
}

bool HistoryStore::Impl::InstrumentId(const InstrumentIdentity& instrument, Txn& txn, int64_t& id,
                                      QString* error) {
  const QByteArray key = KeyOf(instrument);
  if (const auto found = txn.Instruments.constFind(key); found != txn.Instruments.cend()) {
    id = *found;
    return true;
  }
  bool failed = false;
  std::optional<int64_t> known = LookUpInstrument(instrument, error, &failed);
  if (failed) {
    return false;
  }
  if (!known) {
    std::optional<QVariant> inserted;
    if (!connection.Run(InsertInstrumentSql,
                        {instrument.DeviceType, DeviceDataBlob(instrument), instrument.Firmware,
                         static_cast<qlonglong>(Now())},
                        error, &inserted)) {
      return false;
    }
    if (inserted) {
      known = inserted->toLongLong();
    } else {
      // Another program added it in the meantime.
      known = LookUpInstrument(instrument, error, &failed);
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

bool HistoryStore::Impl::WriteReadings(const ReadingsItem& item, Txn& txn, QString* error) {
  int64_t instrument = 0;
  if (!InstrumentId(item.Instrument, txn, instrument, error)) {
    return false;
  }
  const auto& readings = item.Readings;
  size_t i = 0;
  while (i < readings.size()) {
    const bool bulk = readings.size() - i >= BulkRows;
    QSqlQuery* query =
        connection.Prepared(bulk ? InsertBulkReadingsSql : InsertOneReadingSql, error);
    if (query == nullptr) {
      return false;
    }
    const size_t rows = bulk ? BulkRows : 1;
    for (size_t k = 0; k < rows; ++k) {
      const LiveReading& r = readings[i + k];
      const int base = static_cast<int>(k) * ReadingColumns;
      query->bindValue(base, static_cast<qlonglong>(instrument));
      query->bindValue(base + 1, static_cast<qlonglong>(r.AtMs));
      query->bindValue(base + 2, connection.F32(r.DoseRate));
      query->bindValue(base + 3, r.Mode);
      query->bindValue(base + 4, connection.F32(r.Uncertainty));
      query->bindValue(base + 5, connection.F32(r.Dose));
      query->bindValue(base + 6, static_cast<qlonglong>(r.AccumulationSeconds));
    }
    if (!query->exec()) {
      *error = connection.Why(query->lastError());
      return false;
    }
    i += rows;
  }
  return true;
}

bool HistoryStore::Impl::WriteEvent(const EventItem& item, Txn& txn, QString* error) {
  int64_t instrument = 0;
  if (!InstrumentId(item.Instrument, txn, instrument, error)) {
    return false;
  }
  const HistoryEvent& event = item.Event;
  std::optional<QVariant> id;
  if (!connection.Run(InsertEventSql,
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
    if (!connection.Run(InsertChangeSql,
                        {id->toLongLong(), static_cast<int>(i), change.Member, change.Name,
                         change.Old, change.New},
                        error)) {
      return false;
    }
  }
  return true;
}

bool HistoryStore::Impl::Write(const HistoryItem& item, Txn& txn, QString* error) {
  if (const auto* readings = std::get_if<ReadingsItem>(&item)) {
    return WriteReadings(*readings, txn, error);
  }
  if (const auto* event = std::get_if<EventItem>(&item)) {
    return WriteEvent(*event, txn, error);
  }
  const auto& batch = std::get<ArchiveItem>(item);
  const ArchiveReadState& read = reads.At(batch.Key);
  ReadSettled& settled = txn.Reads.try_emplace(batch.Key, read.Settled).first->second;
  int64_t instrument = 0;
  return InstrumentId(read.Instrument, txn, instrument, error) &&
         WriteArchiveBatch(connection, batch, read, instrument, settled, options.Zone, error);
}

bool HistoryStore::Impl::WritePending(QString* error) {
  if (options.ReadOnly && !queue.Empty()) {
    *error = QStringLiteral("the history is open for reading only");
    return false;
  }
  while (!queue.Empty()) {
    const size_t count = queue.NextChunk();
    Txn txn;
    if (!connection.Begin(error)) {
      return false;
    }
    bool ok = true;
    for (size_t i = 0; i < count && ok; ++i) {
      ok = Write(queue[i], txn, error);
    }
    if (ok && options.BeforeCommit && !options.BeforeCommit()) {
      ok = false;
      *error = QStringLiteral("the commit was refused");
    }
    if (!ok || !connection.Commit(error)) {
      connection.Rollback();
      return false;
    }
    for (auto it = txn.Instruments.cbegin(); it != txn.Instruments.cend(); ++it) {
      instrumentIds.insert(it.key(), it.value());
    }
    for (const auto& [key, settled] : txn.Reads) {
      reads.At(key).Settled = settled;
    }
    for (size_t i = 0; i < count; ++i) {
      if (const auto* batch = std::get_if<ArchiveItem>(&queue.Front()); batch && batch->Last) {
        reads.Erase(batch->Key);
      }
      queue.PopFront();
    }
    if (options.Heartbeat) {
      options.Heartbeat();
    }
  }
  return true;
}

HistoryOutcome HistoryStore::Impl::Flush(bool force) {
  if (!force && !outage.MayTry()) {
    return Current();
  }
  // A server may have dropped a connection that sat idle (a restart, a
  // network timeout): a fresh one is tried before the store counts as
  // broken.
  const bool reconnect = connection.IsOpen() && !connection.Lite();
  QString error;
  if (connection.Open(&error) && WritePending(&error)) {
    return Succeed();
  }
  if (reconnect) {
    connection.Close();
    if (connection.Open(&error) && WritePending(&error)) {
      return Succeed();
    }
  }
  return Fail(error);
}

void HistoryStore::Impl::QueueBatch(int key, bool last, bool complete) {
  queue.Push(reads.TakeBatch(key, last, complete, Now()));
}

std::optional<LiveReading> HistoryStore::Impl::LastStoredReading(
    const InstrumentIdentity& instrument) {
  QString error;
  bool failed = false;
  if (!outage.MayTry() || !connection.Open(&error)) {
    return std::nullopt;
  }
  const std::optional<int64_t> id = LookUpInstrument(instrument, &error, &failed);
  std::optional<LiveReading> last;
  if (!id || !LastReading(*id, last, &error)) {
    return std::nullopt;
  }
  return last;
}

bool HistoryStore::Impl::LastReading(int64_t instrumentId, std::optional<LiveReading>& last,
                                     QString* error) {
  QSqlQuery query(connection.Db());
  if (!connection.Select(query, LastReadingSql, {static_cast<qlonglong>(instrumentId)}, error)) {
    return false;
  }
  if (query.next()) {
    last = ReadingRow(query);
  }
  return true;
}

LiveReading HistoryStore::Impl::ReadingRow(const QSqlQuery& query) const {
  LiveReading r;
  r.AtMs = query.value(0).toLongLong();
  r.DoseRate = connection.F32Of(query.value(1));
  r.Mode = static_cast<uint8_t>(query.value(2).toInt());
  r.Uncertainty = connection.F32Of(query.value(3));
  r.Dose = connection.F32Of(query.value(4));
  r.AccumulationSeconds = static_cast<uint32_t>(query.value(5).toLongLong());
  return r;
}

bool HistoryStore::Impl::KeepsReading(const InstrumentIdentity& instrument,
                                      const LiveReading& reading, bool flaggedNew) {
  const QByteArray key = KeyOf(instrument);
  if (!flaggedNew) {
    // A poll the instrument did not flag as new brought its last
    // measurement again; it is kept only when the history does not hold
    // that measurement yet (the first poll of a run after a read that kept
    // nothing).
    auto last = lastReadings.constFind(key);
    if (last == lastReadings.cend()) {
      if (const std::optional<LiveReading> stored = LastStoredReading(instrument)) {
        last = lastReadings.insert(key, *stored);
      }
    }
    if (last != lastReadings.cend() && SameMeasurement(*last, reading)) {
      return false;
    }
  }
  lastReadings.insert(key, reading);
  return true;
}

HistoryStore::HistoryStore(HistoryLocation location, HistoryOptions options) {
  if (options.Actor.isEmpty()) {
    options.Actor = DefaultHistoryActor();
  }
  d_ = std::make_unique<Impl>(std::move(location), std::move(options));
}

HistoryStore::~HistoryStore() {
  // A read still open ends as incomplete; one last try for what waits,
  // unless the store is waiting out a failure. Running out of memory on
  // the way loses only what was not written yet.
  try {
    for (auto& [key, read] : d_->reads.All()) {
      if (!read.Ended) {
        read.Ended = true;
        d_->QueueBatch(key, true, false);
      }
    }
    if (!d_->queue.Empty()) {
      d_->Flush(false);
    }
  } catch (...) {
  }
}

const HistoryLocation& HistoryStore::Location() const {
  return d_->location;
}

HistoryOutcome HistoryStore::AddReading(const InstrumentIdentity& instrument,
                                        const LiveReading& reading, bool flaggedNew) {
  if (d_->KeepsReading(instrument, reading, flaggedNew)) {
    d_->queue.PushReadings(instrument, &reading, 1);
  }
  return d_->Written();
}

HistoryOutcome HistoryStore::AddReadings(const InstrumentIdentity& instrument,
                                         const std::vector<LiveReading>& readings) {
  d_->queue.PushReadings(instrument, readings.data(), readings.size());
  if (!readings.empty()) {
    d_->lastReadings.insert(KeyOf(instrument), readings.back());
  }
  return d_->Written();
}

HistoryOutcome HistoryStore::AddEvent(const InstrumentIdentity& instrument, HistoryEvent event) {
  if (event.Actor.isEmpty()) {
    event.Actor = d_->options.Actor;
  }
  if (event.AtMs == 0) {
    event.AtMs = d_->Now();
  }
  d_->queue.Push(EventItem{instrument, std::move(event)});
  return d_->Written();
}

ArchiveReadLog HistoryStore::BeginArchiveRead(const InstrumentIdentity& instrument,
                                              int64_t deviceCount, int64_t startedMs) {
  return {this, d_->reads.Begin(instrument, deviceCount, startedMs != 0 ? startedMs : d_->Now())};
}

HistoryOutcome HistoryStore::StoreArchiveRead(const InstrumentIdentity& instrument,
                                              int64_t deviceCount,
                                              const std::vector<ArchiveBytes>& records,
                                              bool complete) {
  ArchiveReadLog log = BeginArchiveRead(instrument, deviceCount);
  for (const ArchiveBytes& record : records) {
    d_->reads.Buffer(log.key_, record, d_->Now());
  }
  return log.Finish(complete);
}

HistoryOutcome HistoryStore::Flush() {
  return d_->Flush(true);
}

HistoryOutcome HistoryStore::Retry() {
  return d_->Flush(false);
}

int64_t HistoryStore::Pending() const {
  return d_->PendingTotal();
}

bool HistoryStore::Failing() const {
  return d_->outage.Failing();
}

int64_t HistoryStore::Uncommitted() const {
  return d_->queue.Rows();
}

std::optional<int64_t> HistoryStore::RetryInMs() const {
  if (d_->queue.Empty() && d_->reads.Buffered() == 0) {
    return std::nullopt;
  }
  return d_->outage.RetryInMs();
}

void HistoryStore::SetDeferred(bool deferred) {
  d_->deferred = deferred;
}

void HistoryStore::SetPause(std::function<void()> pause) {
  d_->options.Pause = std::move(pause);
}

ArchiveReadLog::ArchiveReadLog(ArchiveReadLog&& other) noexcept
    : store_(other.store_), key_(other.key_) {
  other.store_ = nullptr;
}

ArchiveReadLog& ArchiveReadLog::operator=(ArchiveReadLog&& other) noexcept {
  if (this != &other) {
    EndUnfinished();
    store_ = other.store_;
    key_ = other.key_;
    other.store_ = nullptr;
  }
  return *this;
}

ArchiveReadLog::~ArchiveReadLog() {
  EndUnfinished();
}

void ArchiveReadLog::EndUnfinished() noexcept {
  try {
    if (store_ != nullptr) {
      Finish(false);
    }
  } catch (...) {
    store_ = nullptr;
  }
}

HistoryOutcome ArchiveReadLog::Add(const ArchiveBytes& record, int64_t readMs) {
  if (store_ == nullptr) {
    return {false, QStringLiteral("the archive read has ended")};
  }
  auto& d = *store_->d_;
  d.reads.Buffer(key_, record, readMs != 0 ? readMs : d.Now());
  if (!d.reads.BatchDue(key_, d.options.BatchRecords, d.options.BatchMs)) {
    return d.Current();
  }
  d.QueueBatch(key_, false, false);
  return d.Written();
}

void ArchiveReadLog::Skip() {
  if (store_ != nullptr) {
    store_->d_->reads.Skip(key_);
  }
}

HistoryOutcome ArchiveReadLog::Finish(bool complete, int64_t finishedMs) {
  if (store_ == nullptr) {
    return {false, QStringLiteral("the archive read has ended")};
  }
  auto& d = *store_->d_;
  store_ = nullptr;
  d.reads.At(key_).Ended = true;
  d.queue.Push(d.reads.TakeBatch(key_, true, complete, finishedMs != 0 ? finishedMs : d.Now()));
  return d.Written();
}

}  // namespace vantor
