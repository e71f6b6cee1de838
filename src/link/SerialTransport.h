#pragma once
#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

#include "LineTransport.h"

class QSerialPort;

namespace vantor {

// A serial port (or pseudo-terminal) opened for the instrument's line:
// 115200 baud, 8N1, raw, never software flow control (XON/XOFF would swallow
// the 0x11 and 0x13 bytes of a binary protocol); hardware flow control as the
// port had it. Used synchronously on the calling thread.
class SerialTransport : public LineTransport {
 public:
  // Opens `path`; nothing when it does not exist or will not open, and then
  // `failure` (when given) says why.
  static std::unique_ptr<SerialTransport> Open(const QString& path, OpenFailure* failure = nullptr);
  ~SerialTransport() override;

  Clock::time_point Now() const override;
  void SleepFor(Clock::duration duration) override;
  void Purge() override;
  bool Write(const uint8_t* bytes, size_t count, Clock::time_point deadline) override;
  size_t WaitForBytes(size_t want, Clock::time_point deadline) override;
  size_t Read(uint8_t* into, size_t count) override;
  bool Lost() const override;

  // Bytes received and held by the port, not yet taken.
  qint64 Buffered() const;

  // Hears the bytes that come between exchanges, which nobody asked for and
  // which are thrown away.
  std::function<void(const QByteArray& bytes)> OnUnasked;

  // What the port holds at most between exchanges; the rest waits in the
  // driver or is dropped, so a babbling device cannot fill the memory.
  static constexpr qint64 ReadBufferLimit = 64 * 1024;
  // What may wait unasked between exchanges before it is dropped there.
  static constexpr qint64 UnaskedKeep = 16 * 1024;

 private:
  SerialTransport();
  void DropUnasked();

  std::unique_ptr<QSerialPort> serial_;
  bool waiting_ = false;  // inside an exchange's own wait: keep what arrives
};

}  // namespace vantor
