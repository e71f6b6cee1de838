#include "GreyPng.h"

#include <array>
#include <cstdint>

namespace vantor {
namespace {

std::array<uint32_t, 256> CrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) {
      c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    table[n] = c;
  }
  return table;
}

uint32_t Crc32(const QByteArray& bytes) {
  static const std::array<uint32_t, 256> table = CrcTable();
  uint32_t c = 0xFFFFFFFFu;
  for (const char byte : bytes) {
    c = table[(c ^ static_cast<uint8_t>(byte)) & 0xFF] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFu;
}

void PutBe32(QByteArray& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    out.append(static_cast<char>((v >> shift) & 0xFF));
  }
}

// Length, type, data, and the CRC of type and data.
void PutChunk(QByteArray& out, const char* type, const QByteArray& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  const QByteArray typed = QByteArray(type, 4) + data;
  out.append(typed);
  PutBe32(out, Crc32(typed));
}

}  // namespace

QByteArray GreyPng(int width, int height, const QByteArray& pixels) {
  QByteArray out("\x89PNG\r\n\x1a\n", 8);
  QByteArray header;
  PutBe32(header, static_cast<uint32_t>(width));
  PutBe32(header, static_cast<uint32_t>(height));
  header.append('\x08');  // bit depth
  header.append('\x00');  // grey
  header.append('\x00');  // deflate
  header.append('\x00');  // adaptive filtering
  header.append('\x00');  // no interlace
  PutChunk(out, "IHDR", header);

  // Each row starts with its filter type, 0 (none).
  QByteArray raw;
  raw.reserve(static_cast<qsizetype>(height) * (width + 1));
  for (int y = 0; y < height; ++y) {
    raw.append('\x00');
    raw.append(pixels.mid(static_cast<qsizetype>(y) * width, width));
  }
  // qCompress gives a zlib stream behind a 4-byte length of its own.
  PutChunk(out, "IDAT", qCompress(raw, 9).mid(4));
  PutChunk(out, "IEND", QByteArray());
  return out;
}

}  // namespace vantor
