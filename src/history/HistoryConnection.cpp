#include "HistoryConnection.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QStorageInfo>
#include <QUrl>
#include <atomic>
#include <cstring>
#include <limits>

#include "HistorySchema.h"
#include "HistoryStore.h"

namespace vantor {
namespace {

std::atomic<int> connectionCounter{0};

// SQLite's primary result codes worth saying in the user's words.
enum SqliteCode : int {
  SqlitePerm = 3,
  SqliteBusy = 5,
  SqliteReadOnly = 8,
  SqliteIoErr = 10,
  SqliteCorrupt = 11,
  SqliteFull = 13,
  SqliteCantOpen = 14,
  SqliteNotADb = 26,
};

// SQLite says which of its codes failed; PostgreSQL a five-character state.
std::optional<int> SqliteCodeOf(const QSqlError& error) {
  const QString native = error.nativeErrorCode();
  bool ok = false;
  const int code = native.toInt(&ok);
  if (!ok || native.size() >= 5 || code <= 0) {
    return std::nullopt;
  }
  return code & 0xff;  // an extended code carries the primary one in its low byte
}

// The first existing folder on the way to `path`, and whether a file stands
// where a folder should.
QString BlockingFile(const QString& path) {
  QFileInfo on(QFileInfo(path).absolutePath());
  while (!on.exists() && on.absoluteFilePath() != on.absolutePath()) {
    on.setFile(on.absolutePath());
  }
  return on.exists() && !on.isDir() ? on.absoluteFilePath() : QString();
}

}  // namespace

QString SqliteErrorText(int code) {
  switch (code & 0xff) {
    case SqliteFull:
      return QStringLiteral("the disk is full");
    case SqliteReadOnly:
      return QStringLiteral("the history file cannot be written (a read-only disk or folder)");
    case SqlitePerm:
      return QStringLiteral("no permission to write the history file");
    case SqliteCantOpen:
      return QStringLiteral("the history file cannot be opened");
    case SqliteIoErr:
      return QStringLiteral("the disk failed to read or write (full, or gone away?)");
    case SqliteBusy:
      return QStringLiteral("another program holds the history file locked");
    case SqliteCorrupt:
    case SqliteNotADb:
      return QStringLiteral("the file is no history, or it is damaged");
    default:
      return QString();
  }
}

QString OneLineError(const QSqlError& error) {
  if (const std::optional<int> code = SqliteCodeOf(error)) {
    QString text = SqliteErrorText(*code);
    if (!text.isEmpty()) {
      return text;
    }
  }
  for (const QString& text : {error.databaseText(), error.driverText()}) {
    for (const QString& line : text.split(QLatin1Char('\n'))) {
      QString simple = line.simplified();
      if (!simple.isEmpty()) {
        return simple;
      }
    }
  }
  return QStringLiteral("unknown database error");
}

QString SqliteFileCause(const QString& path, int code, bool freeSpace) {
  const QFileInfo file(path);
  const QString folder = file.absolutePath();
  switch (code & 0xff) {
    case SqliteCantOpen:
    case SqliteReadOnly:
    case SqlitePerm:
      if (file.isDir()) {
        return QStringLiteral("%1 is a folder, not a history file").arg(path);
      }
      if (const QString blocking = BlockingFile(path); !blocking.isEmpty()) {
        return QStringLiteral("%1 is a file, not a folder").arg(blocking);
      }
      if (!QFileInfo(folder).isDir()) {
        return QStringLiteral("the folder %1 is not there").arg(folder);
      }
      return QStringLiteral(
                 "%1 cannot be written: its disk or folder is read-only, or this user "
                 "may not write there")
          .arg(file.exists() ? path : folder);
    case SqliteIoErr:
    case SqliteFull:
      if (!freeSpace || (code & 0xff) == SqliteFull) {
        return QStringLiteral("the disk holding %1 is full").arg(folder);
      }
      return QStringLiteral("the disk holding %1 failed to read or write").arg(folder);
    default:
      return QString();
  }
}

QString HistoryConnection::Why(const QSqlError& error) const {
  if (Lite()) {
    if (const std::optional<int> code = SqliteCodeOf(error)) {
      const QStorageInfo disk(QFileInfo(location_.Path).absolutePath());
      const bool room = !disk.isValid() || disk.bytesAvailable() > 0;
      QString text = SqliteFileCause(location_.Path, *code, room);
      if (!text.isEmpty()) {
        return text;
      }
    }
  }
  return OneLineError(error);
}

HistoryConnection::HistoryConnection(const HistoryLocation& location, const HistoryOptions& options)
    : location_(location),
      busyTimeoutMs_(options.BusyTimeoutMs),
      connectTimeoutS_(location.ConnectTimeoutS > 0 ? location.ConnectTimeoutS
                                                    : options.ConnectTimeoutS),
      readOnly_(options.ReadOnly),
      name_(QStringLiteral("vantor-history-%1").arg(connectionCounter.fetch_add(1))) {}

HistoryConnection::~HistoryConnection() {
  Close();
}

void HistoryConnection::Close() {
  // The connection and its driver go before the prepared statements: a
  // statement that outlives its driver has nothing to free on the server,
  // while one freed over a broken connection only earns a warning each.
  // Ending the connection frees them all on the server anyway.
  if (db_.isValid()) {
    if (open_ && Lite() && !readOnly_) {
      // The write-ahead log folded back into the file and emptied, so the
      // .sqlite file alone holds everything (a copy of it, a backup) even
      // when the -wal file is left beside it.
      for (auto& [sql, statement] : statements_) {
        statement.finish();
      }
      Exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"), nullptr);
    }
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
  }
  statements_.clear();
  open_ = false;
}

bool HistoryConnection::OpenSqlite(QString* error) {
  const QString& path = location_.Path;
  if (!readOnly_) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
      const QString blocking = BlockingFile(path);
      *error = blocking.isEmpty()
                   ? QStringLiteral(
                         "cannot create the folder %1 (a read-only disk, or this user "
                         "may not write there)")
                         .arg(folder)
                   : QStringLiteral("cannot create the folder %1: %2 is a file, not a folder")
                         .arg(folder, blocking);
      return false;
    }
    db_.setDatabaseName(path);
    db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs_));
    return true;
  }
  const QFileInfo file(path);
  if (!file.isFile()) {
    *error = QStringLiteral("there is no history at %1").arg(path);
    return false;
  }
  // On a medium that takes no writes (a read-only mount, a write-protected
  // copy) SQLite could not even keep its shared-memory index of the
  // write-ahead log: nothing can change the file there, so it is read as
  // immutable, without locks or index.
  if (!file.isWritable() || !QFileInfo(file.absolutePath()).isWritable()) {
    db_.setDatabaseName(QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                        QStringLiteral("?immutable=1"));
    db_.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
  } else {
    db_.setDatabaseName(path);
    db_.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs_));
  }
  return true;
}

void HistoryConnection::SetPostgresOptions() {
  db_.setHostName(location_.Host);
  db_.setPort(location_.Port);
  db_.setUserName(location_.User);
  db_.setPassword(location_.Password);
  db_.setDatabaseName(location_.Database);
  // A server that takes the connection and never answers must not hold the
  // store for long: the connection attempt is bounded, and a connection
  // that went quiet is given up by the keepalives.
  db_.setConnectOptions(
      QStringLiteral("connect_timeout=%1;application_name=vantor;keepalives_idle=10;"
                     "keepalives_interval=5;keepalives_count=2;tcp_user_timeout=15000")
          .arg(connectTimeoutS_));
}

bool HistoryConnection::Open(QString* error) {
  if (open_) {
    return true;
  }
  if (!location_.Valid()) {
    *error = location_.Error;
    return false;
  }
  const QString driver = Lite() ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
  if (!QSqlDatabase::isDriverAvailable(driver)) {
    *error = QStringLiteral("the Qt SQL driver %1 is not installed").arg(driver);
    return false;
  }
  db_ = QSqlDatabase::addDatabase(driver, name_);
  if (Lite()) {
    if (!OpenSqlite(error)) {
      Close();
      return false;
    }
  } else {
    SetPostgresOptions();
  }
  if (!db_.open()) {
    *error = Why(db_.lastError());
    Close();
    return false;
  }
  if (readOnly_) {
    const int version = HistorySchemaVersion(db_);
    if (version <= 0) {
      *error = version == 0 ? QStringLiteral("%1 holds no history").arg(location_.Text())
                            : QStringLiteral("the history's schema cannot be read");
      Close();
      return false;
    }
    if (version > LatestHistorySchema()) {
      *error = QStringLiteral("the history has schema %1, newer than this program's %2")
                   .arg(version)
                   .arg(LatestHistorySchema());
      Close();
      return false;
    }
    open_ = true;
    return true;
  }
  if (Lite()) {
    // WAL: readers never wait for the writer, and a crash leaves whole
    // transactions. FULL: a committed read is on disk before the
    // instrument is told to erase it.
    QSqlQuery pragma(db_);
    if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !pragma.next() ||
        pragma.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0 ||
        !pragma.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
      *error = pragma.lastError().isValid()
                   ? Why(pragma.lastError())
                   : QStringLiteral("%1 cannot keep a write-ahead log").arg(location_.Path);
      pragma.finish();
      Close();
      return false;
    }
  }
  if (!MigrateHistory(db_, location_.Engine, error)) {
    Close();
    return false;
  }
  open_ = true;
  return true;
}

QSqlQuery* HistoryConnection::Prepared(const QString& sql, QString* error) {
  if (const auto found = statements_.find(sql); found != statements_.end()) {
    return &found->second;
  }
  QSqlQuery statement(db_);
  if (!statement.prepare(sql)) {
    *error = Why(statement.lastError());
    return nullptr;
  }
  return &statements_.emplace(sql, std::move(statement)).first->second;
}

bool HistoryConnection::Run(const QString& sql, const QVariantList& values, QString* error,
                            std::optional<QVariant>* first) {
  QSqlQuery* query = Prepared(sql, error);
  if (query == nullptr) {
    return false;
  }
  for (qsizetype i = 0; i < values.size(); ++i) {
    query->bindValue(static_cast<int>(i), values[i]);
  }
  if (!query->exec()) {
    *error = Why(query->lastError());
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

bool HistoryConnection::Exec(const QString& sql, QString* error) {
  QSqlQuery query(db_);
  if (query.exec(sql)) {
    return true;
  }
  if (error != nullptr) {
    *error = Why(query.lastError());
  }
  return false;
}

bool HistoryConnection::Select(QSqlQuery& query, const QString& sql, const QVariantList& values,
                               QString* error) {
  query.setForwardOnly(true);
  if (!query.prepare(sql)) {
    *error = Why(query.lastError());
    return false;
  }
  for (qsizetype i = 0; i < values.size(); ++i) {
    query.bindValue(static_cast<int>(i), values[i]);
  }
  if (!query.exec()) {
    *error = Why(query.lastError());
    return false;
  }
  return true;
}

bool HistoryConnection::Begin(QString* error) {
  return Exec(BeginSql(location_.Engine), error);
}

bool HistoryConnection::Commit(QString* error) {
  return Exec(QStringLiteral("COMMIT"), error);
}

void HistoryConnection::Rollback() {
  Exec(QStringLiteral("ROLLBACK"), nullptr);
}

QVariant HistoryConnection::F32(float value) const {
  if (Lite()) {
    int32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return static_cast<qlonglong>(bits);
  }
  return value;
}

float HistoryConnection::F32Of(const QVariant& value) const {
  if (Lite()) {
    const auto bits = static_cast<int32_t>(value.toLongLong());
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  return value.isNull() ? std::numeric_limits<float>::quiet_NaN() : value.toFloat();
}

}  // namespace vantor
