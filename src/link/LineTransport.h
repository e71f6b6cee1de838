#pragma once
#include <QString>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

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

// Why a port did not open.
enum class OpenFailure : uint8_t {
  None,
  NoSuchPort,        // the port map has no such number
  Missing,           // the device is not there (an unplugged adapter)
  PermissionDenied,  // the user may not open it (not in the group dialout)
  Busy,              // another program holds it
  StaleLock,         // a lock file nobody holds, that the user may not remove
  Failed,            // anything else
};

// What opening a port gave: the line, or why there is none, and the device
// path that was opened (empty when the number names none).
struct OpenedLine {
  std::unique_ptr<LineTransport> Line;
  OpenFailure Failure = OpenFailure::NoSuchPort;
  QString Path;

  OpenedLine() = default;
  OpenedLine(std::nullptr_t) {}  // NOLINT(google-explicit-constructor)
  template <class T>
  OpenedLine(std::unique_ptr<T> line)  // NOLINT(google-explicit-constructor)
      : Line(std::move(line)), Failure(Line ? OpenFailure::None : OpenFailure::NoSuchPort) {}
  OpenedLine(OpenFailure failure, QString path) : Failure(failure), Path(std::move(path)) {}
};

}  // namespace vantor
