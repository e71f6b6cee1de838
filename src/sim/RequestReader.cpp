#include "RequestReader.h"

namespace vantor::sim {

void RequestReader::Feed(const uint8_t* bytes, size_t count, Clock::time_point now) {
  buffer_.insert(buffer_.end(), bytes, bytes + count);
  lastByte_ = now;
}

void RequestReader::Expire(Clock::time_point now) {
  if (!buffer_.empty() && now - lastByte_ >= StaleAfter) {
    buffer_.clear();
  }
}

bool RequestReader::Next(const Address& own, std::vector<uint8_t>& frame) {
  while (buffer_.size() >= HeaderSize) {
    const uint8_t start = FindRequestStart(buffer_.data(), buffer_.size(), own);
    if (start == NoStart) {
      buffer_.erase(buffer_.begin(), buffer_.begin() + 4);
      continue;
    }
    if (start > 0) {
      buffer_.erase(buffer_.begin(), buffer_.begin() + start);
      continue;
    }
    ParseResult header;
    if (!ReadFrameHeader(buffer_.data(), buffer_.size(), header)) {
      buffer_.erase(buffer_.begin());
      continue;
    }
    // An announced payload beyond the limit is not waited for: the header
    // alone gets its "too long" answer.
    const uint16_t payload = header.PayloadLength;
    const size_t total = HeaderSize + (payload > MaxPayload ? 0 : BytesAfterHeader(payload));
    if (buffer_.size() < total) {
      return false;
    }
    frame.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
    return true;
  }
  return false;
}

}  // namespace vantor::sim
