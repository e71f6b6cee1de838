#pragma once
#include <QByteArray>
#include <QString>
#include <cstddef>

namespace vantor {

// The instrument keeps its 8-bit texts (the firmware text) in Windows-1251:
// ASCII below 0x80, Cyrillic and punctuation above.

// Decodes at most `length` bytes, stopping at the first NUL. The one byte
// the code page leaves undefined (0x98) becomes U+FFFD.
QString FromWindows1251(const char* bytes, size_t length);
inline QString FromWindows1251(const QByteArray& bytes) {
  return FromWindows1251(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Encodes a text for the instrument; a character the code page lacks
// becomes '?'.
QByteArray ToWindows1251(const QString& text);

}  // namespace vantor
