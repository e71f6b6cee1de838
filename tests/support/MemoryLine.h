#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "DeviceLink.h"
#include "InstrumentModel.h"
#include "LineTransport.h"
#include "RequestReader.h"

namespace vantor::test {

// A serial line in memory with a manual clock: no time passes unless the
// link waits, and a wait ends the moment the bytes it waits for arrive. What
// the link writes goes to a peer; the peer's answer arrives byte by byte at
// the times the peer gives. Timing rules are checked to the microsecond
// without any real waiting.
class MemoryLine : public LineTransport {
 public:
  struct Delivery {
    Clock::time_point At;        // the first byte starts on the line
    std::vector<uint8_t> Bytes;  // each is there ByteTime after the one before
    Clock::duration ByteTime{};
  };
  // Called with every request frame as it is written and the moment its last
  // byte went out; returns what comes back.
  using Peer = std::function<std::vector<Delivery>(const std::vector<uint8_t>& request,
                                                   Clock::time_point at)>;

  explicit MemoryLine(Peer peer);

  Clock::time_point Now() const override { return now_; }
  void SleepFor(Clock::duration duration) override;
  void Purge() override;
  bool Write(const uint8_t* bytes, size_t count, Clock::time_point deadline) override;
  size_t WaitForBytes(size_t want, Clock::time_point deadline) override;
  size_t Read(uint8_t* into, size_t count) override;
  bool Lost() const override { return lost_; }

  // Puts bytes on the line from `at` on, as noise or a late reply would.
  void Deliver(const Delivery& delivery);
  void Unplug() { lost_ = true; }
  // Every write, with when it was made.
  struct Written {
    Clock::time_point At;
    std::vector<uint8_t> Bytes;
  };
  const std::vector<Written>& Writes() const { return writes_; }
  std::vector<Clock::time_point> Purges() const { return purges_; }
  size_t Buffered() const { return buffer_.size(); }

 private:
  void Arrive();  // moves what has arrived by now into the buffer

  Peer peer_;
  Clock::time_point now_{};
  bool lost_ = false;
  std::deque<std::pair<Clock::time_point, uint8_t>> inFlight_;  // by arrival time
  std::deque<uint8_t> buffer_;
  std::vector<Written> writes_;
  std::vector<Clock::time_point> purges_;
};

// The virtual instrument's model answering on a MemoryLine: requests are
// cut into frames as the instrument's receiver does, answered after
// `Latency`, paced at the line rate unless `Paced` is false, with an
// optional pause between a reply's header and the rest.
struct InstrumentPeer {
  sim::InstrumentModel* Model = nullptr;
  std::chrono::microseconds Latency{0};  // on top of the model's own
  bool Paced = true;
  std::chrono::milliseconds HeaderPause{0};

  MemoryLine::Peer AsPeer();
};

// A DeviceLink line opener that gives `line` (once) as COM`number`.
std::function<std::unique_ptr<LineTransport>(int)> OpenerFor(std::unique_ptr<MemoryLine> line,
                                                             int number);

// Opens `link` on an in-memory line to `model` (paced, no extra latency) as
// COM1 and sets up its dictionary: where the operations' tests start.
void ConnectToModel(DeviceLink& link, sim::InstrumentModel& model);

}  // namespace vantor::test
