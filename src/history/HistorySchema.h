#pragma once
#include <QSqlDatabase>
#include <QString>

#include "HistoryLocation.h"

namespace vantor {

// The newest schema this program writes.
int LatestHistorySchema();

// Brings an open database up to the newest schema, each step in its own
// transaction, with the version kept in the table schema_version. A
// database made by a newer program is left alone and refused. Two programs
// opening the same new database at once take turns.
bool MigrateHistory(QSqlDatabase& db, HistoryEngine engine, QString* error);

// The schema version of an open database; 0 for an empty one, -1 when it
// cannot be read.
int HistorySchemaVersion(QSqlDatabase& db);

// Transaction statements by engine: SQLite takes the write lock at BEGIN, so
// a busy database fails there, not halfway through.
QString BeginSql(HistoryEngine engine);

}  // namespace vantor
