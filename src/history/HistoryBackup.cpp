#include "HistoryBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <filesystem>
#include <system_error>

#include "HistoryConnection.h"

namespace vantor {
namespace {

std::atomic<int> backupCounter{0};

constexpr int BackupBusyTimeoutMs = 10000;

QString CopyInto(const QString& source, const QString& part) {
  const QString name = QStringLiteral("vantor-backup-%1").arg(backupCounter.fetch_add(1));
  QString error;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(source);
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(BackupBusyTimeoutMs));
    if (!db.open()) {
      error = OneLineError(db.lastError());
    } else {
      QSqlQuery query(db);
      if (!query.prepare(QStringLiteral("VACUUM INTO ?"))) {
        error = OneLineError(query.lastError());
      } else {
        query.bindValue(0, part);
        if (!query.exec()) {
          error = OneLineError(query.lastError());
        }
      }
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return error;
}

}  // namespace

HistoryBackupResult BackUpHistory(const HistoryLocation& location, const QString& file) {
  HistoryBackupResult result;
  if (!location.Valid()) {
    result.Error = location.Error;
    return result;
  }
  if (location.Engine != HistoryEngine::Sqlite) {
    result.NotSqlite = true;
    result.Error = QStringLiteral("the history is kept in PostgreSQL (%1); back it up with pg_dump")
                       .arg(location.Text());
    return result;
  }
  if (!QFileInfo(location.Path).isFile()) {
    result.Error = QStringLiteral("there is no history at %1").arg(location.Path);
    return result;
  }
  if (QFileInfo(file).absoluteFilePath() == QFileInfo(location.Path).absoluteFilePath()) {
    result.Error = QStringLiteral("%1 is the history itself").arg(file);
    return result;
  }
  if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
    result.Error = QStringLiteral("the Qt SQL driver QSQLITE is not installed");
    return result;
  }
  const QString part = file + QStringLiteral(".part");
  QFile::remove(part);
  result.Error = CopyInto(location.Path, part);
  if (result.Error.isEmpty()) {
    std::error_code renamed;
    std::filesystem::rename(QFile::encodeName(part).toStdString(),
                            QFile::encodeName(file).toStdString(), renamed);
    if (renamed) {
      result.Error = QStringLiteral("cannot name the copy %1: %2")
                         .arg(file, QString::fromLocal8Bit(renamed.message()));
    }
  }
  if (!result.Error.isEmpty()) {
    QFile::remove(part);
    return result;
  }
  result.Ok = true;
  return result;
}

}  // namespace vantor
