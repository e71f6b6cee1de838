#include "CliOutput.h"

#include <algorithm>

#include "Csv.h"

namespace vantor::cli {

QString PeopleTime(const QDateTime& time) {
  return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

Cell TimeCell(const std::optional<QDateTime>& time) {
  return time ? Cell::Text(IsoTime(*time)) : Cell::Null();
}

Cell TextOrNull(const QString& text) {
  return text.isEmpty() ? Cell::Null() : Cell::Text(text);
}

QString Labelled(const QString& label, const QString& value) {
  return label.leftJustified(14) + value;
}

QString JsonString(const QString& text) {
  QString out = QStringLiteral("\"");
  for (const QChar c : text) {
    switch (c.unicode()) {
      case '"':
        out += QStringLiteral("\\\"");
        break;
      case '\\':
        out += QStringLiteral("\\\\");
        break;
      case '\n':
        out += QStringLiteral("\\n");
        break;
      case '\r':
        out += QStringLiteral("\\r");
        break;
      case '\t':
        out += QStringLiteral("\\t");
        break;
      default:
        if (c.unicode() < 0x20) {
          out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        } else {
          out += c;
        }
    }
  }
  return out + QLatin1Char('"');
}

RecordWriter::RecordWriter(Format format, std::vector<Column> columns, int port)
    : format_(format), columns_(std::move(columns)) {
  const bool named = std::any_of(columns_.begin(), columns_.end(),
                                 [](const Column& column) { return column.Key == "port"; });
  if (port != 0 && !named) {
    columns_.insert(columns_.begin(), {QStringLiteral("port"), QStringLiteral("port")});
    port_ = port;
  }
  // A CSV file has its header even when no record follows.
  if (format_ == Format::Csv) {
    QStringList headers;
    for (const Column& column : columns_) {
      headers << column.Header;
    }
    pending_ += CsvRecord(headers).toUtf8();
  }
}

void RecordWriter::Add(const std::vector<Cell>& given, const QString& peopleLine) {
  std::vector<Cell> cells;
  if (port_ != 0) {
    cells.push_back(Cell::Number(port_));
  }
  cells.insert(cells.end(), given.begin(), given.end());
  switch (format_) {
    case Format::People:
      pending_ += (peopleLine + QLatin1Char('\n')).toUtf8();
      break;
    case Format::Csv: {
      QStringList fields;
      for (const Cell& cell : cells) {
        fields << cell.Value;
      }
      pending_ += CsvRecord(fields).toUtf8();
      break;
    }
    case Format::Json: {
      QString line = QStringLiteral("{");
      for (size_t i = 0; i < columns_.size() && i < cells.size(); ++i) {
        if (i > 0) {
          line += QLatin1Char(',');
        }
        line += JsonString(columns_[i].Key) + QLatin1Char(':');
        const Cell& cell = cells[i];
        switch (cell.Type) {
          case Cell::Kind::Text:
            line += JsonString(cell.Value);
            break;
          case Cell::Kind::Number:
          case Cell::Kind::Boolean:
            line += cell.Value;
            break;
          case Cell::Kind::Null:
            line += QStringLiteral("null");
            break;
        }
      }
      pending_ += (line + QStringLiteral("}\n")).toUtf8();
      break;
    }
  }
}

void RecordWriter::AddPeopleLine(const QString& line) {
  if (format_ == Format::People) {
    pending_ += (line + QLatin1Char('\n')).toUtf8();
  }
}

QByteArray RecordWriter::Take() {
  QByteArray out;
  out.swap(pending_);
  return out;
}

}  // namespace vantor::cli
