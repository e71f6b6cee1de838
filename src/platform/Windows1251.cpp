#include "Windows1251.h"

#include <array>
#include <cstdint>

namespace vantor {
namespace {

constexpr char16_t Undefined = 0xFFFD;

// Bytes 0x80..0xBF; 0xC0..0xFF are А..я in order (U+0410..U+044F).
constexpr std::array<char16_t, 64> UpperHalf = {
    0x0402,    0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x20AC,    0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  //
    0x0452,    0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    Undefined, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  //
    0x00A0,    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  //
    0x0401,    0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  //
    0x00B0,    0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  //
    0x0451,    0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char16_t Decode(uint8_t byte) {
  if (byte < 0x80) {
    return byte;
  }
  if (byte >= 0xC0) {
    return static_cast<char16_t>(0x0410 + (byte - 0xC0));
  }
  return UpperHalf[byte - 0x80];
}

char Encode(char16_t unit) {
  if (unit < 0x80) {
    return static_cast<char>(unit);
  }
  if (unit >= 0x0410 && unit <= 0x044F) {
    return static_cast<char>(0xC0 + (unit - 0x0410));
  }
  for (size_t i = 0; i < UpperHalf.size(); ++i) {
    if (UpperHalf[i] == unit && unit != Undefined) {
      return static_cast<char>(0x80 + i);
    }
  }
  return '?';
}

}  // namespace

QString FromWindows1251(const char* bytes, size_t length) {
  QString text;
  text.reserve(static_cast<qsizetype>(length));
  for (size_t i = 0; i < length && bytes[i] != '\0'; ++i) {
    text.append(QChar(Decode(static_cast<uint8_t>(bytes[i]))));
  }
  return text;
}

QByteArray ToWindows1251(const QString& text) {
  QByteArray bytes;
  bytes.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      ++i;  // one character outside the code page, not two
      bytes.append('?');
      continue;
    }
    bytes.append(Encode(c.unicode()));
  }
  return bytes;
}

}  // namespace vantor
