#pragma once
#include <QString>

#include "HistoryLocation.h"

namespace vantor {

struct HistoryBackupResult {
  bool Ok = false;
  bool NotSqlite = false;  // a PostgreSQL history: its server's own tools back it up
  QString Error;
};

// A consistent copy of a SQLite history in `file`, taken through a
// connection of its own while the program may be writing: one read
// transaction (VACUUM INTO), so the copy holds every committed write up to
// its start, folded into one file that opens alone. The copy is made beside
// `file` and takes its name only when whole.
HistoryBackupResult BackUpHistory(const HistoryLocation& location, const QString& file);

}  // namespace vantor
