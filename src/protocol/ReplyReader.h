#pragma once
#include <cstddef>
#include <cstdint>

#include "Frame.h"

namespace vantor {

// What the requester knows of the reply it waits for, from the request it
// has just sent.
struct ReplyExpectation {
  uint8_t RequestOpcode = OpRead;  // OpRead or OpWrite
  uint16_t ValueLength = 0;        // payload of a read reply: the id and the value
  bool AnyValueLength = false;     // a text travels at whatever length it has
  Address StationAddress{};        // the requester's own variable 9, on the wire
};

// Takes a reply off the line in two steps, the 14-byte header and then what
// the header announces, and decides from the header alone whether the frame
// can be the reply to the request. A header that cannot be (stray bytes in
// front, a wrong checksum, an opcode or a length the request cannot get
// back) fails at once instead of being waited for: a garbled length must not
// make the requester wait for up to 16 kB that will never come.
class ReplyReader {
 public:
  enum class Step : uint8_t {
    Refused,      // not the reply: the exchange has failed
    Complete,     // the header is the whole frame (an acknowledgement)
    ReadPayload,  // read PayloadBytes() more, then check the whole frame
  };

  explicit ReplyReader(const ReplyExpectation& expectation) : expect_(expectation) {}

  // `frame` holds the `count` bytes that arrived for the header.
  Step CheckHeader(const uint8_t* frame, size_t count);
  // The payload and its checksum, once CheckHeader said ReadPayload.
  size_t PayloadBytes() const { return payloadBytes_; }
  const ParseResult& Header() const { return header_; }

 private:
  ReplyExpectation expect_;
  ParseResult header_;
  size_t payloadBytes_ = 0;
};

}  // namespace vantor
