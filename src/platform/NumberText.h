#pragma once
#include <QChar>
#include <QString>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vantor {

// A text that does not convert to a number. what() is the message shown to
// the user, UTF-8: "'%s' is not a valid integer value" or
// "'%s' is not a valid floating point value".
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The decimal separator of the user's locale (Qt's system locale), unless a
// test has pinned one.
QChar DecimalSeparator();
void SetDecimalSeparator(QChar separator);  // tests; QChar() returns to the locale

// Fixed notation: the value rounded to at most 8 significant digits, then
// shown with `decimals` decimals and the locale's separator, no thousands
// separator. When the integer part needs more than 8 digits the result is in
// scientific notation instead (for example "1.2345679E8").
QString FormatFixed(double value, int decimals);

// General format with `digits` significant digits: trailing zeros dropped,
// plain notation for magnitudes from 0.0001 up to the digit count, scientific
// otherwise (for example "0.0512", "-12.3", "-2.5E3", "5E-5").
QString FormatGeneral(double value, int digits);

// printf-style conversions, always with a point: "%i", "%hd" and the like.
QString FormatPrintf(const char* format, double value);
QString FormatPrintf(const char* format, long long value);

// Text to a 32-bit integer: leading blanks, an optional sign, then decimal
// digits, or hexadecimal after $, x or 0x (up to 8 digits, taken as a 32-bit
// pattern). Trailing characters, an empty text and a decimal value outside
// the 32-bit range throw.
int64_t StrToInt(const QString& text);

// Text to a float with the locale's separator and an optional exponent; blanks
// around it are allowed. Anything else throws.
double StrToFloat(const QString& text);

}  // namespace vantor
