#include "Frame.h"

namespace vantor {

uint32_t Checksum32(const uint8_t* bytes, uint16_t length) {
  uint32_t h = 0;
  uint16_t i = 0;
  if (length % 2 == 1) {
    h ^= bytes[0];
    i = 1;
  }
  while (i < length) {
    const uint32_t w = static_cast<uint32_t>(bytes[i]) * 256U + bytes[i + 1];
    h = ((h << 5) | (h >> 27)) ^ w;
    i = static_cast<uint16_t>(i + 2);
  }
  return h;
}

static bool Equal3(const uint8_t* p, const Address& a) {
  return p[0] == a[0] && p[1] == a[1] && p[2] == a[2];
}

uint8_t FindReplyStart(const uint8_t* buffer, size_t length, const Address& stationAddress) {
  if (length < HeaderSize) {
    return NoStart;
  }
  for (uint8_t i = 0; i < 4; ++i) {
    if (Equal3(buffer + i, HostAddress)) {
      if (Equal3(buffer + i + 3, stationAddress)) {
        return NoStart;
      }
      return i;
    }
  }
  return NoStart;
}

uint8_t FindRequestStart(const uint8_t* buffer, size_t length, const Address& ownAddress) {
  if (length < HeaderSize) {
    return NoStart;
  }
  for (uint8_t i = 0; i < 4; ++i) {
    if (Equal3(buffer + i, ownAddress) || Equal3(buffer + i, BroadcastAddress)) {
      return i;
    }
  }
  return NoStart;
}

bool ReadFrameHeader(const uint8_t* frame, size_t length, ParseResult& result) {
  if (length < HeaderSize || Checksum32(frame, 10) != ReadLe32(frame + 10)) {
    return false;
  }
  for (int i = 0; i < 3; ++i) {
    result.Destination[i] = frame[i];
    result.Source[i] = frame[3 + i];
  }
  result.Opcode = frame[6];
  result.TypeByte = frame[7];
  result.PayloadLength = ReadLe16(frame + 8);
  return true;
}

bool CheckFrame(const uint8_t* frame, size_t length, ParseResult& result) {
  result = ParseResult{};
  if (length > FrameBufferSize || !ReadFrameHeader(frame, length, result)) {
    return false;
  }
  const uint16_t l = result.PayloadLength;
  if (l == 0) {
    result.Status = StatusOk;
  } else if (l > MaxPayload) {
    result.Status = StatusTooLong;
  } else if (length < HeaderSize + BytesAfterHeader(l)) {
    result.Status = StatusChecksum;
  } else {
    const bool match = Checksum32(frame + HeaderSize, l) == ReadLe32(frame + HeaderSize + l);
    result.Status = match ? StatusOk : StatusChecksum;
  }
  return true;
}

}  // namespace vantor
