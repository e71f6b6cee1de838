#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace vantor {

// CSV as people and tools read it everywhere the program exports: RFC 4180
// (comma separated, CRLF line ends, fields quoted when they hold a comma, a
// quote or a line break, quotes doubled), UTF-8, times in ISO 8601 with
// their offset, numbers with a dot whatever the locale.

// One field, quoted only when it must be.
QString CsvField(const QString& text);
// One record: the fields joined by commas, ended by CRLF.
QString CsvRecord(const QStringList& fields);
// 2026-12-09T14:03:07+03:00 (local time with its offset; whole seconds, or
// milliseconds when there are any).
QString IsoTime(const QDateTime& time);
// The shortest decimal text that reads back to the same double, with a dot;
// empty for not-a-number and infinities, which a spreadsheet cannot take.
QString DotNumber(double value);
// The same for a float: the shortest text that reads back to the same float.
QString DotNumber(float value);

// Splits CSV text into records of fields (RFC 4180, quotes undone). For
// reading back what the program wrote and files the user hands in.
QList<QStringList> ParseCsv(const QString& text);

}  // namespace vantor
