#pragma once
#include <QString>
#include <cstdint>
#include <mutex>
#include <vector>

#include "HistoryLocation.h"
#include "HistoryQueue.h"

namespace vantor {

// $XDG_DATA_HOME/vantor/spool.sqlite, beside the default history.
QString DefaultSpoolPath();

// Readings and events the history did not take in time, kept in a SQLite
// file of this computer until it does: a server that hangs, or the program
// ending while one does, loses nothing. Each row names the history it is
// owed to, so one spool serves every history the computer writes to (a
// window on the shared server, a vantorctl run with its own --history).
//
// Rows are written in batches, one transaction each, and leave only once
// the history holds them; delivering one twice adds nothing, since the
// history's keys make its inserts idempotent. Every call opens the file
// afresh, so any thread may use it; calls of one process take turns.
class HistorySpool {
 public:
  struct Row {
    int64_t Id = 0;
    HistoryItem Item;
  };

  HistorySpool(QString path, const HistoryLocation& history);

  const QString& Path() const { return path_; }

  // Appends readings and events in one transaction; `ids` gets their row
  // ids, in order. Archive batches are not spooled (the instrument still
  // holds those records).
  bool Append(const std::vector<HistoryItem>& items, std::vector<int64_t>& ids, QString* error);
  // The rows owed to this history, oldest first. A missing file holds none
  // and is not made.
  bool Load(std::vector<Row>& rows, QString* error);
  bool Remove(const std::vector<int64_t>& ids, QString* error);
  // Rows owed to this history; -1 when the file cannot be read.
  int64_t Count();

  static bool Spoolable(const HistoryItem& item);
  // The history as the spool names it: the file, or the server and database.
  static QString KeyOf(const HistoryLocation& history);

 private:
  template <class Body>
  bool WithDb(bool create, QString* error, Body body);

  QString path_;
  QString key_;
  std::mutex mutex_;
};

}  // namespace vantor
