#include "NumberText.h"

#include <QByteArray>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace vantor {
namespace {

QChar pinnedSeparator;

// The value as `significant` decimal digits and the power of ten of the first
// one: value = 0.d1d2d3... x 10^(exponent + 1).
struct Decimal {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

Decimal ToDecimal(double value, int significant) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", significant - 1, value);
  Decimal d;
  const char* p = buffer;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  for (; *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') {
      d.digits.push_back(*p);
    }
  }
  d.exponent = std::atoi(p + 1);
  return d;
}

bool AllZero(const std::string& digits) {
  return digits.find_first_not_of('0') == std::string::npos;
}

QString Special(double value) {
  if (std::isnan(value)) {
    return QStringLiteral("NAN");
  }
  return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
}

// d.ddd "E" exponent, trailing zeros of the mantissa dropped.
QString Scientific(const Decimal& d) {
  std::string mantissa = d.digits;
  while (mantissa.size() > 1 && mantissa.back() == '0') {
    mantissa.pop_back();
  }
  QString text = d.negative ? QStringLiteral("-") : QString();
  text += QChar(mantissa[0]);
  if (mantissa.size() > 1) {
    text += DecimalSeparator();
    text += QString::fromLatin1(mantissa.c_str() + 1);
  }
  text += QLatin1Char('E') + QString::number(d.exponent);
  return text;
}

[[noreturn]] void Fail(const QString& text, const char* kind) {
  throw ConversionError(
      QStringLiteral("'%1' is not a valid %2 value").arg(text, QLatin1String(kind)).toStdString());
}

}  // namespace

QChar DecimalSeparator() {
  if (!pinnedSeparator.isNull()) {
    return pinnedSeparator;
  }
  const QString point = QLocale::system().decimalPoint();
  return point.isEmpty() ? QChar('.') : point.at(0);
}

void SetDecimalSeparator(QChar separator) {
  pinnedSeparator = separator;
}

QString FormatFixed(double value, int decimals) {
  if (!std::isfinite(value)) {
    return Special(value);
  }
  constexpr int precision = 8;
  const Decimal d = ToDecimal(value, precision);
  const int integerDigits = d.exponent + 1;
  if (integerDigits > precision) {
    return Scientific(d);
  }
  // Lay the digits out around the point, then round half up to `decimals`.
  std::string digits = d.digits;
  int point = integerDigits;
  if (point <= 0) {
    digits.insert(0, static_cast<size_t>(1 - point), '0');
    point = 1;
  }
  const size_t keep = static_cast<size_t>(point) + static_cast<size_t>(decimals);
  if (digits.size() > keep) {
    const bool up = digits[keep] >= '5';
    digits.resize(keep);
    if (up) {
      int i = static_cast<int>(keep) - 1;
      for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i) {
        digits[static_cast<size_t>(i)] = '0';
      }
      if (i >= 0) {
        ++digits[static_cast<size_t>(i)];
      } else {
        digits.insert(0, 1, '1');
        ++point;
      }
    }
  }
  digits.resize(static_cast<size_t>(point) + static_cast<size_t>(decimals), '0');
  QString text = (d.negative && !AllZero(digits)) ? QStringLiteral("-") : QString();
  text += QString::fromLatin1(digits.c_str(), point);
  if (decimals > 0) {
    text += DecimalSeparator();
    text += QString::fromLatin1(digits.c_str() + point, decimals);
  }
  return text;
}

QString FormatGeneral(double value, int digits) {
  if (!std::isfinite(value)) {
    return Special(value);
  }
  if (value == 0) {
    return QStringLiteral("0");
  }
  const Decimal d = ToDecimal(value, digits);
  if (d.exponent + 1 > digits || d.exponent < -4) {
    return Scientific(d);
  }
  std::string mantissa = d.digits;
  int point = d.exponent + 1;
  if (point <= 0) {
    mantissa.insert(0, static_cast<size_t>(1 - point), '0');
    point = 1;
  }
  if (static_cast<int>(mantissa.size()) < point) {
    mantissa.resize(static_cast<size_t>(point), '0');
  }
  std::string fraction = mantissa.substr(static_cast<size_t>(point));
  while (!fraction.empty() && fraction.back() == '0') {
    fraction.pop_back();
  }
  QString text = d.negative ? QStringLiteral("-") : QString();
  text += QString::fromLatin1(mantissa.c_str(), point);
  if (!fraction.empty()) {
    text += DecimalSeparator();
    text += QString::fromLatin1(fraction.c_str());
  }
  return text;
}

QString FormatPrintf(const char* format, double value) {
  return QString::asprintf(format, value);
}

QString FormatPrintf(const char* format, long long value) {
  // The formats in use ("%i", "%d", "%hd") take an int-sized argument; "%hd"
  // shows the low 16 bits as signed, which Qt's formatter does not do itself.
  QByteArray spec(format);
  if (spec.contains("hd")) {
    spec.replace("hd", "d");
    return QString::asprintf(spec.constData(), static_cast<int>(static_cast<int16_t>(value)));
  }
  return QString::asprintf(format, static_cast<int>(value));
}

int64_t StrToInt(const QString& text) {
  int i = 0;
  const int n = static_cast<int>(text.size());
  while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t'))) {
    ++i;
  }
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  int base = 10;
  if (i < n &&
      (text[i] == QLatin1Char('$') || text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'))) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
             (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
    base = 16;
    i += 2;
  }
  if (i >= n) {
    Fail(text, "integer");
  }
  uint64_t magnitude = 0;
  for (; i < n; ++i) {
    const int digit = QChar(text[i]).digitValue();
    int value = -1;
    if (digit >= 0 && text[i].unicode() < 128) {
      value = digit;
    } else if (base == 16 && text[i].unicode() < 128) {
      const char c = static_cast<char>(text[i].toLower().unicode());
      if (c >= 'a' && c <= 'f') {
        value = 10 + (c - 'a');
      }
    }
    if (value < 0 || value >= base) {
      Fail(text, "integer");
    }
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(value);
    if (magnitude > 0xFFFFFFFFULL) {
      Fail(text, "integer");
    }
  }
  if (base == 16) {
    const auto pattern = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
    return negative ? -static_cast<int64_t>(pattern) : pattern;
  }
  const int64_t signedValue =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (signedValue < std::numeric_limits<int32_t>::min() ||
      signedValue > std::numeric_limits<int32_t>::max()) {
    Fail(text, "integer");
  }
  return signedValue;
}

double StrToFloat(const QString& text) {
  const QString separator = QRegularExpression::escape(QString(DecimalSeparator()));
  const QRegularExpression pattern(
      QStringLiteral("^\\s*([+-]?(?:\\d+(?:%1\\d*)?|%1\\d+)(?:[eE][+-]?\\d+)?)\\s*$")
          .arg(separator));
  const QRegularExpressionMatch match = pattern.match(text);
  if (!match.hasMatch()) {
    Fail(text, "floating point");
  }
  QString number = match.captured(1);
  number.replace(QString(DecimalSeparator()), QStringLiteral("."));
  bool ok = false;
  const double value = QLocale::c().toDouble(number, &ok);
  if (!ok || !std::isfinite(value)) {
    Fail(text, "floating point");
  }
  return value;
}

}  // namespace vantor
