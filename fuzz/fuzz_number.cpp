// Numbers the user types: any text converts or throws the conversion error,
// a text that converts is made of the characters of a number only, and what
// the program shows reads back as the same text.
#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "NumberText.h"

using namespace vantor;

namespace {

bool AsciiOnly(const QString& text) {
  for (QChar c : text) {
    if (c.unicode() >= 0x80) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  SetDecimalSeparator(data[0] == ',' ? QChar(',') : QChar('.'));
  const QString text =
      QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

  try {
    const int64_t value = StrToInt(text);
    if (value < INT32_MIN || value > INT32_MAX || !AsciiOnly(text)) {
      __builtin_trap();
    }
    if (StrToInt(QString::number(value)) != value) {
      __builtin_trap();
    }
  } catch (const ConversionError&) {
  }

  try {
    const double value = StrToFloat(text);
    if (!std::isfinite(value)) {
      __builtin_trap();
    }
    // What the settings page shows must read back, and read back the same.
    for (int decimals : {0, 2, 3, 8}) {
      const QString shown = FormatFixed(value, decimals);
      if (FormatFixed(StrToFloat(shown), decimals) != shown) {
        __builtin_trap();
      }
    }
    for (int digits : {4, 7}) {
      const QString shown = FormatGeneral(value, digits);
      if (FormatGeneral(StrToFloat(shown), digits) != shown) {
        __builtin_trap();
      }
    }
  } catch (const ConversionError&) {
  }
  return 0;
}
