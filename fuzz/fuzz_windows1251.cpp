// The instrument's 8-bit texts: decoding stops at the first NUL, and every
// byte but the one the code page leaves undefined comes back when the text
// is encoded again.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "Windows1251.h"

using namespace vantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto* bytes = reinterpret_cast<const char*>(data);
  const QString text = FromWindows1251(bytes, size);
  QByteArray expected(bytes, static_cast<qsizetype>(size));
  const qsizetype nul = expected.indexOf('\0');
  if (nul >= 0) {
    expected.truncate(nul);
  }
  expected.replace('\x98', '?');
  if (text.size() != expected.size() || ToWindows1251(text) != expected) {
    __builtin_trap();
  }

  // Any text the user types encodes to at most one byte per character.
  const QString typed = QString::fromUtf8(bytes, static_cast<qsizetype>(size));
  const QByteArray encoded = ToWindows1251(typed);
  if (encoded.size() > typed.size() || FromWindows1251(encoded).size() > typed.size()) {
    __builtin_trap();
  }
  return 0;
}
