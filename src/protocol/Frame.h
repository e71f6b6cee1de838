#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace vantor {

inline constexpr size_t HeaderSize = 14;
inline constexpr uint16_t MaxPayload = 15999;
inline constexpr size_t FrameBufferSize = HeaderSize + MaxPayload + 4;  // 16017
inline constexpr uint8_t NoStart = 255;

using Address = std::array<uint8_t, 3>;
using FrameBuffer = std::array<uint8_t, FrameBufferSize>;

inline constexpr Address HostAddress{0x01, 0x01, 0x01};
inline constexpr Address DefaultDeviceAddress{0x02, 0x00, 0x00};
inline constexpr Address BroadcastAddress{0xFF, 0xFF, 0xFF};

enum Opcode : uint8_t {
  OpAck = 1,
  OpError = 3,
  OpPing = 4,
  OpRead = 6,
  OpReadReply = 7,
  OpWrite = 8,
};

enum ErrorCode : uint8_t { ErrLength = 3, ErrRefused = 4, ErrChecksum = 7 };

enum ParseStatus : uint8_t { StatusNone = 0, StatusOk = 1, StatusChecksum = 2, StatusTooLong = 3 };

// What the last checked frame said about itself.
struct ParseResult {
  ParseStatus Status = StatusNone;
  Address Destination{};
  Address Source{};
  uint8_t Opcode = 0;
  uint8_t TypeByte = 0;
  uint16_t PayloadLength = 0;
};

uint32_t Checksum32(const uint8_t* bytes, uint16_t length);

inline uint16_t ReadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Offset 0..3 at which a reply to `HostAddress` starts, or NoStart. A candidate
// whose source is `stationAddress` (the requester's own variable 9, on the wire)
// is refused.
uint8_t FindReplyStart(const uint8_t* buffer, size_t length, const Address& stationAddress);

// Offset 0..3 at which a request to `ownAddress` or the broadcast address
// starts, or NoStart.
uint8_t FindRequestStart(const uint8_t* buffer, size_t length, const Address& ownAddress);

// The fields of a frame's 14-byte header, read into `result` (its Status is
// left alone). False when fewer than 14 bytes are there or the header
// checksum does not match: nothing in such a header can be trusted, not even
// the length it announces.
bool ReadFrameHeader(const uint8_t* frame, size_t length, ParseResult& result);

// How many bytes follow a header that announces `payloadLength`: none for an
// empty payload, otherwise the payload and its 4-byte checksum.
constexpr size_t BytesAfterHeader(uint16_t payloadLength) {
  return payloadLength == 0 ? 0 : payloadLength + 4U;
}

// Checks the header checksum and classifies the payload of a frame of `length`
// received bytes. The payload must have fully arrived: a cut payload is a
// checksum error whatever stale bytes the buffer holds. Returns false when the
// header itself is unusable (short or wrong checksum).
bool CheckFrame(const uint8_t* frame, size_t length, ParseResult& result);

}  // namespace vantor
