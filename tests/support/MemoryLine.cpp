#include "MemoryLine.h"

#include <algorithm>

#include "Frame.h"
#include "VirtualInstrument.h"

namespace vantor::test {

MemoryLine::MemoryLine(Peer peer) : peer_(std::move(peer)) {}

void MemoryLine::SleepFor(Clock::duration duration) {
  if (duration > Clock::duration::zero()) {
    now_ += duration;
  }
  Arrive();
}

void MemoryLine::Arrive() {
  while (!inFlight_.empty() && inFlight_.front().first <= now_) {
    buffer_.push_back(inFlight_.front().second);
    inFlight_.pop_front();
  }
}

void MemoryLine::Purge() {
  Arrive();
  buffer_.clear();  // what is still on its way keeps coming
  purges_.push_back(now_);
}

bool MemoryLine::Write(const uint8_t* bytes, size_t count, Clock::time_point /*deadline*/) {
  if (lost_) {
    return false;
  }
  writes_.push_back({now_, std::vector<uint8_t>(bytes, bytes + count)});
  if (peer_) {
    for (Delivery& d : peer_(writes_.back().Bytes, now_)) {
      Deliver(d);
    }
  }
  return true;
}

void MemoryLine::Deliver(const Delivery& delivery) {
  Clock::time_point at = delivery.At;
  for (uint8_t byte : delivery.Bytes) {
    at += delivery.ByteTime;  // a byte is there once its last bit is
    const auto where =
        std::upper_bound(inFlight_.begin(), inFlight_.end(), at,
                         [](Clock::time_point t, const auto& item) { return t < item.first; });
    inFlight_.insert(where, {at, byte});
  }
}

size_t MemoryLine::WaitForBytes(size_t want, Clock::time_point deadline) {
  Arrive();
  if (buffer_.size() < want && !lost_) {
    const size_t missing = want - buffer_.size();
    Clock::time_point until = deadline;
    if (inFlight_.size() >= missing) {
      until = std::min(deadline, inFlight_[missing - 1].first);
    }
    now_ = std::max(now_, until);
    Arrive();
  }
  return buffer_.size();
}

size_t MemoryLine::Read(uint8_t* into, size_t count) {
  const size_t n = std::min(count, buffer_.size());
  std::copy_n(buffer_.begin(), n, into);
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

MemoryLine::Peer InstrumentPeer::AsPeer() {
  auto reader = std::make_shared<sim::RequestReader>();
  // One transmitter: a reply cannot start before the one before it has gone
  // out, so a late reply holds up every reply after it.
  auto lineFreeAt = std::make_shared<LineTransport::Clock::time_point>();
  InstrumentPeer self = *this;
  return [self, reader, lineFreeAt](const std::vector<uint8_t>& request,
                                    LineTransport::Clock::time_point at) {
    std::vector<MemoryLine::Delivery> out;
    const LineTransport::Clock::duration byteTime =
        self.Paced ? std::chrono::duration_cast<LineTransport::Clock::duration>(sim::LineByteTime)
                   : LineTransport::Clock::duration::zero();
    reader->Feed(request.data(), request.size(), at);
    std::vector<uint8_t> frame;
    while (reader->Next(self.Model->OwnAddress(), frame)) {
      sim::Reply reply = self.Model->Answer(frame.data(), frame.size());
      if (reply.Bytes.empty()) {
        continue;
      }
      const auto start = std::max(*lineFreeAt, at + byteTime * static_cast<int64_t>(frame.size()) +
                                                   self.Latency + reply.Delay);
      *lineFreeAt = start + byteTime * static_cast<int64_t>(reply.Bytes.size());
      if (self.HeaderPause.count() > 0 && reply.Bytes.size() > HeaderSize) {
        *lineFreeAt += self.HeaderPause;
        out.push_back({start,
                       std::vector<uint8_t>(reply.Bytes.begin(), reply.Bytes.begin() + HeaderSize),
                       byteTime});
        out.push_back({start + byteTime * static_cast<int64_t>(HeaderSize) + self.HeaderPause,
                       std::vector<uint8_t>(reply.Bytes.begin() + HeaderSize, reply.Bytes.end()),
                       byteTime});
      } else {
        out.push_back({start, std::move(reply.Bytes), byteTime});
      }
    }
    return out;
  };
}

std::function<std::unique_ptr<LineTransport>(int)> OpenerFor(std::unique_ptr<MemoryLine> line,
                                                             int number) {
  auto holder = std::make_shared<std::unique_ptr<MemoryLine>>(std::move(line));
  return [holder, number](int asked) -> std::unique_ptr<LineTransport> {
    if (asked != number || !*holder) {
      return nullptr;
    }
    return std::move(*holder);
  };
}

void ConnectToModel(DeviceLink& link, sim::InstrumentModel& model) {
  InstrumentPeer peer;
  peer.Model = &model;
  link.SetLineOpener(OpenerFor(std::make_unique<MemoryLine>(peer.AsPeer()), 1));
  link.OpenPort(1);
  link.InitDictionary();
}

}  // namespace vantor::test
