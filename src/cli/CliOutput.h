#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace vantor::cli {

// How vantorctl writes what it read.
enum class Format {
  People,  // aligned text in the words of the program
  Csv,     // RFC 4180 with a header row, units in the header, dot decimals
  Json,    // one JSON object a line, one per record or reading
};

// One value of a record, as CSV and JSON show it.
struct Cell {
  enum class Kind { Text, Number, Boolean, Null };
  Kind Type = Kind::Null;
  QString Value;  // numbers already in their dot text

  static Cell Text(const QString& text) { return {Kind::Text, text}; }
  // A number given as its text; an empty text (not a number) is null.
  static Cell Number(const QString& text) {
    return text.isEmpty() ? Cell{} : Cell{Kind::Number, text};
  }
  static Cell Number(long long value) { return {Kind::Number, QString::number(value)}; }
  static Cell Boolean(bool value) {
    return {Kind::Boolean, value ? QStringLiteral("true") : QStringLiteral("false")};
  }
  static Cell Null() { return {}; }
};

// A column: its JSON key and its CSV header (with the unit, if any).
struct Column {
  QString Key;
  QString Header;
};

// Writes records in the chosen format into a byte buffer: CSV starts with
// the header row, JSON puts each record on a line of its own, people get
// the line the caller composed. `Flush` hands out what has accumulated.
class RecordWriter {
 public:
  // `port` not 0: the records of several instruments share the output, and
  // each names its instrument's port (a first column, a first field), unless
  // the columns hold the port already.
  RecordWriter(Format format, std::vector<Column> columns, int port = 0);

  void Add(const std::vector<Cell>& cells, const QString& peopleLine);
  // A line only people see (a heading, a blank line).
  void AddPeopleLine(const QString& line);
  QByteArray Take();

 private:
  Format format_;
  std::vector<Column> columns_;
  int port_ = 0;  // put in front of every record; 0 none
  QByteArray pending_;
};

// A JSON string literal.
QString JsonString(const QString& text);

// A time as people read it: 2026-12-09 18:22:06.
QString PeopleTime(const QDateTime& time);
// A time as CSV and JSON write it (ISO 8601 with its offset); null for none.
Cell TimeCell(const std::optional<QDateTime>& time);
// A text cell; null for an empty text.
Cell TextOrNull(const QString& text);
// A people's line of labelled values: "firmware      VNT-2".
QString Labelled(const QString& label, const QString& value);

}  // namespace vantor::cli
