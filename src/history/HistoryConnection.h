#pragma once
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <map>
#include <optional>

#include "HistoryLocation.h"

class QSqlError;

namespace vantor {

struct HistoryOptions;

// The store's one connection to its database: opened on first use (the
// SQLite file and its folder made, the schema brought up to date), closed
// on any failure and opened afresh by the next try. Statements the store
// runs often are prepared once per connection.
//
// Owned by one thread: a Qt SQL connection must be used where it was made.
class HistoryConnection {
 public:
  HistoryConnection(const HistoryLocation& location, const HistoryOptions& options);
  ~HistoryConnection();
  HistoryConnection(const HistoryConnection&) = delete;
  HistoryConnection& operator=(const HistoryConnection&) = delete;

  bool Lite() const { return location_.Engine == HistoryEngine::Sqlite; }
  bool IsOpen() const { return open_; }
  // Opens the database unless it is open. Read-only: nothing is made or
  // migrated, and a database of an older or newer schema is read as it is
  // when its tables are there.
  bool Open(QString* error);
  void Close();
  QSqlDatabase& Db() { return db_; }

  // The statement `sql`, prepared on its first use on this connection.
  QSqlQuery* Prepared(const QString& sql, QString* error);
  // Runs a prepared statement with `values`; when it returns a row, the
  // first column lands in `first`.
  bool Run(const QString& sql, const QVariantList& values, QString* error,
           std::optional<QVariant>* first = nullptr);
  // A statement without values; `error` may be null.
  bool Exec(const QString& sql, QString* error);
  // A forward-only query, bound in order.
  bool Select(QSqlQuery& query, const QString& sql, const QVariantList& values, QString* error);

  bool Begin(QString* error);
  bool Commit(QString* error);
  void Rollback();

  // A float of the instrument as the engine keeps it (see the schema):
  // SQLite its 32-bit pattern in an INTEGER, PostgreSQL a real.
  QVariant F32(float value) const;

  // An error of this connection in words the user can act on: for a SQLite
  // file what its code and the file system say (a folder, a read-only disk,
  // a full disk), else OneLineError.
  QString Why(const QSqlError& error) const;
  float F32Of(const QVariant& value) const;

 private:
  bool OpenSqlite(QString* error);
  void SetPostgresOptions();

  HistoryLocation location_;
  int busyTimeoutMs_;
  int connectTimeoutS_;
  bool readOnly_;
  QString name_;
  QSqlDatabase db_;
  bool open_ = false;
  std::map<QString, QSqlQuery> statements_;
};

// A database error as one line: the server's or library's own first line,
// else the driver's. Drivers add hints and their own name on further lines.
// SQLite's errors (a full disk, a read-only file) are said in plain words.
QString OneLineError(const QSqlError& error);
// Those words for a SQLite result code; empty for codes said as they are.
QString SqliteErrorText(int code);
// The cause of SQLite code `code` for the file `path`, from what the file
// system shows: a folder where the file should be, a file where a folder
// should be, a folder that takes no writes, a full disk (`freeSpace` false,
// or SQLITE_FULL). Empty for other codes.
QString SqliteFileCause(const QString& path, int code, bool freeSpace);

}  // namespace vantor
