#include "Csv.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace vantor {
namespace {

template <class T>
QString ShortestText(T value) {
  if (!std::isfinite(value)) {
    return QString();
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (result.ec != std::errc()) {
    return QString();
  }
  return QString::fromLatin1(buffer, static_cast<qsizetype>(result.ptr - buffer));
}

}  // namespace

QString CsvField(const QString& text) {
  const bool quote = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                     text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
  if (!quote) {
    return text;
  }
  QString quoted = text;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CsvRecord(const QStringList& fields) {
  QString line;
  for (qsizetype i = 0; i < fields.size(); ++i) {
    if (i > 0) {
      line += QLatin1Char(',');
    }
    line += CsvField(fields[i]);
  }
  line += QStringLiteral("\r\n");
  return line;
}

QString IsoTime(const QDateTime& time) {
  const bool millis = time.time().msec() != 0;
  return time.toOffsetFromUtc(time.offsetFromUtc())
      .toString(millis ? Qt::ISODateWithMs : Qt::ISODate);
}

QString DotNumber(double value) {
  return ShortestText(value);
}

QString DotNumber(float value) {
  return ShortestText(value);
}

QList<QStringList> ParseCsv(const QString& text) {
  QList<QStringList> records;
  QStringList fields;
  QString field;
  bool quoted = false;
  bool any = false;  // the current record has begun
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == QLatin1Char('"')) {
        if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
          field += c;
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field += c;
      }
      continue;
    }
    if (c == QLatin1Char('"')) {
      quoted = true;
      any = true;
    } else if (c == QLatin1Char(',')) {
      fields << field;
      field.clear();
      any = true;
    } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
      if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n')) {
        ++i;
      }
      if (any || !field.isEmpty()) {
        fields << field;
        records << fields;
      }
      fields.clear();
      field.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  if (any || !field.isEmpty()) {
    fields << field;
    records << fields;
  }
  return records;
}

}  // namespace vantor
