#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vantor {

// The byte line under DeviceLink, and the clock its timing rules are counted
// on. The real one is a serial port (SerialTransport); tests put an
// in-memory line with a manual clock in its place, so the quiet gap, the
// reply window and the retries can be checked to the millisecond without
// waiting for them.
class LineTransport {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~LineTransport() = default;

  virtual Clock::time_point Now() const = 0;
  virtual void SleepFor(Clock::duration duration) = 0;
  // Drops whatever is buffered in either direction.
  virtual void Purge() = 0;
  // Puts `count` bytes on the line; false when they are not all out by
  // `deadline` (what is left is dropped) or the device went away.
  virtual bool Write(const uint8_t* bytes, size_t count, Clock::time_point deadline) = 0;
  // Waits until at least `want` bytes have arrived or `deadline` passes;
  // returns how many are there. Returns early when the device went away.
  virtual size_t WaitForBytes(size_t want, Clock::time_point deadline) = 0;
  // Takes up to `count` arrived bytes.
  virtual size_t Read(uint8_t* into, size_t count) = 0;
  // The device is gone (unplugged adapter, closed terminal).
  virtual bool Lost() const = 0;
};

}  // namespace vantor
