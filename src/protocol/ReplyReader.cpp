#include "ReplyReader.h"

namespace vantor {

ReplyReader::Step ReplyReader::CheckHeader(const uint8_t* frame, size_t count) {
  header_ = ParseResult{};
  payloadBytes_ = 0;
  // The reply must start with its first byte, from someone other than the
  // requester itself.
  if (FindReplyStart(frame, count, expect_.StationAddress) != 0 ||
      !ReadFrameHeader(frame, count, header_)) {
    return Step::Refused;
  }
  const uint16_t l = header_.PayloadLength;
  bool fits = false;
  switch (header_.Opcode) {
    case OpAck:
      fits = l == 0;
      break;
    case OpError:
      fits = l == 1;
      break;
    case OpReadReply:
      fits = expect_.RequestOpcode == OpRead &&
             (expect_.AnyValueLength ? l >= 1 && l <= MaxPayload : l == expect_.ValueLength);
      break;
    default:
      break;
  }
  if (!fits) {
    return Step::Refused;
  }
  payloadBytes_ = BytesAfterHeader(l);
  return payloadBytes_ == 0 ? Step::Complete : Step::ReadPayload;
}

}  // namespace vantor
