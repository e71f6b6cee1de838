#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "FilePlaces.h"

namespace vantor {

class Session;

// What "Save diagnostic report…" writes: the program and its surroundings,
// the last minutes of the line's trace, and the log.
struct DiagnosticReport {
  QDateTime Made;
  QByteArray About;
  QByteArray Trace;
  QByteArray Log;
};

// The program's and Qt's versions, the system, where the files are, the port
// in use and every port of the map with its adapter.
QByteArray DescribeRun(const Session& session, const FilePlaces& places);

// Writes `report` into a new folder vantor-report-<date>-<time> in `parent`
// (about.txt, trace.txt, log.txt). Returns the folder, or an empty text and
// why in `error`. Touches the disk: not for the thread that polls.
QString WriteDiagnosticReport(const QString& parent, const DiagnosticReport& report,
                              QString* error);

}  // namespace vantor
