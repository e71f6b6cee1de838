#pragma once
#include <chrono>
#include <cstdint>
#include <vector>

#include "Frame.h"

namespace vantor::sim {

// Cuts the byte stream from the program into request frames, as the
// instrument's receiver does: a frame starts with the station's own address
// or the broadcast address, its header checksum must match, and its length
// comes from the header. Noise before a frame is skipped; a frame left
// incomplete for longer than the gap between two requests is dropped.
class RequestReader {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds StaleAfter{20};

  void Feed(const uint8_t* bytes, size_t count, Clock::time_point now);
  // The next complete frame, if one is there; `own` is the station's address
  // on the wire.
  bool Next(const Address& own, std::vector<uint8_t>& frame);
  // Drops an incomplete frame whose last byte is older than StaleAfter.
  void Expire(Clock::time_point now);
  bool Pending() const { return !buffer_.empty(); }

 private:
  std::vector<uint8_t> buffer_;
  Clock::time_point lastByte_{};
};

}  // namespace vantor::sim
