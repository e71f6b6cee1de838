#include "DeviceLink.h"

#include <QFile>
#include <QSerialPort>
#include <algorithm>
#include <chrono>
#include <thread>

#include "MessageTable.h"
#include "PortMap.h"

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace vantor {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds QuietGap{10};
constexpr milliseconds ReplyWait{100};      // the instrument answers within this
constexpr milliseconds ReadConstant{2};     // read time-out: 2 ms ...
constexpr milliseconds ReadPerByte{1};      // ... plus 1 ms per byte asked for
constexpr milliseconds WriteConstant{100};  // a write must be out within 100 ms ...
constexpr milliseconds WritePerByte{1};     // ... plus 1 ms per byte
constexpr int RetryAttempts = 21;

// Milliseconds left until `deadline`, rounded up so a wait never ends early;
// 0 once it has passed.
int RemainingMs(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) {
    return 0;
  }
  return static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
}

#ifndef Q_OS_WIN
// The flow control the port was set to before we open it, so opening changes
// only speed and framing. The descriptor stays open until the real open is
// done, so its close is never the last one (which would drop DTR).
struct PreviousLineSettings {
  int fd = -1;
  QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;

  explicit PreviousLineSettings(const QString& path) {
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
      if ((tio.c_cflag & CRTSCTS) != 0) {
        flow = QSerialPort::HardwareControl;
      } else if ((tio.c_iflag & (IXON | IXOFF)) != 0) {
        flow = QSerialPort::SoftwareControl;
      }
    }
  }
  ~PreviousLineSettings() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  PreviousLineSettings(const PreviousLineSettings&) = delete;
  PreviousLineSettings& operator=(const PreviousLineSettings&) = delete;
};
#endif

}  // namespace

struct DeviceLink::Port {
  QSerialPort Serial;
  int Number = 0;

  // The device went away (adapter unplugged, instrument's terminal closed).
  bool Lost() const {
    const QSerialPort::SerialPortError e = Serial.error();
    return e == QSerialPort::ResourceError || e == QSerialPort::DeviceNotFoundError ||
           e == QSerialPort::PermissionError || e == QSerialPort::NotOpenError || !Serial.isOpen();
  }
};

DeviceLink::DeviceLink() = default;

DeviceLink::~DeviceLink() {
  ClosePort();
}

void DeviceLink::OpenPort(int number) {
  ClosePort();
  const QString path = PortPath(number);
  if (path.isEmpty()) {
    return;
  }
  auto port = std::make_unique<Port>();
  QSerialPort& serial = port->Serial;
  serial.setPortName(path);
#ifndef Q_OS_WIN
  PreviousLineSettings previous(path);
  serial.setFlowControl(previous.flow);
#endif
  serial.setBaudRate(115200);
  serial.setDataBits(QSerialPort::Data8);
  serial.setParity(QSerialPort::NoParity);
  serial.setStopBits(QSerialPort::OneStop);
  if (!serial.open(QIODevice::ReadWrite)) {
    return;
  }
  port->Number = number;
  port_ = std::move(port);
}

void DeviceLink::ClosePort() {
  if (port_) {
    port_->Serial.close();
    port_.reset();
  }
}

bool DeviceLink::PortOpen() const {
  return port_ != nullptr;
}

int DeviceLink::OpenPortNumber() const {
  return port_ ? port_->Number : 0;
}

// One request/response on the open port. The reply lands in the frame buffer
// over the request; bytes that never arrive leave the request in place, which
// the reply search then refuses. ReceivedLength counts as the parser expects:
// 14 plus what the first read got when the header is incomplete or bad, 14
// plus what the second read got when the header announced a payload.
void DeviceLink::Exchange(size_t length) {
  ++exchanges_;
  receivedLength_ = static_cast<uint16_t>(HeaderSize);
  if (!port_) {
    return;
  }
  QSerialPort& serial = port_->Serial;
  serial.clearError();

  // Purge, keep the line quiet, and drop whatever a late reply to an earlier
  // request put on it meanwhile.
  serial.clear();
  std::this_thread::sleep_for(QuietGap);
  serial.clear();
  if (port_->Lost()) {
    ClosePort();
    return;
  }

  // A write that cannot get out (a stuck port, a full driver buffer) fails
  // the exchange instead of hanging the window.
  const auto writeDeadline =
      Clock::now() + WriteConstant + WritePerByte * static_cast<int64_t>(length);
  if (serial.write(reinterpret_cast<const char*>(frame_.data()), static_cast<qint64>(length)) !=
      static_cast<qint64>(length)) {
    serial.clear(QSerialPort::Output);
    if (port_->Lost()) {
      ClosePort();
    }
    return;
  }
  while (serial.bytesToWrite() > 0) {
    const int left = RemainingMs(writeDeadline);
    if (left == 0 || port_->Lost()) {
      break;
    }
    serial.waitForBytesWritten(left);
  }
  if (serial.bytesToWrite() > 0 || port_->Lost()) {
    serial.clear(QSerialPort::Output);
    if (port_->Lost()) {
      ClosePort();
    }
    return;
  }

  // The header: promptly, as soon as its 14 bytes are in, accepted up to the
  // instrument's reply window plus the header read time-out; or, at the fixed
  // pace, after sleeping through the whole reply window first.
  const milliseconds headerTimeout = ReadConstant + ReadPerByte * static_cast<int64_t>(HeaderSize);
  Clock::time_point deadline;
  if (pace_ == Pace::Fixed) {
    std::this_thread::sleep_for(ReplyWait);
    deadline = Clock::now() + headerTimeout;
  } else {
    deadline = Clock::now() + ReplyWait + headerTimeout;
  }
  if (!WaitForBytes(HeaderSize, deadline)) {
    return;
  }
  size_t count = std::min<size_t>(static_cast<size_t>(serial.bytesAvailable()), HeaderSize);
  count = static_cast<size_t>(serial.read(reinterpret_cast<char*>(frame_.data()), count));

  if (count == HeaderSize && Checksum32(frame_.data(), 10) == ReadLe32(frame_.data() + 10)) {
    const uint16_t payload = ReadLe16(frame_.data() + 8);
    count = payload;
    if (payload > MaxPayload) {
      count = 0;  // not read; the parser refuses it as too long
    } else if (payload > 0) {
      const size_t want = payload + 4U;
      const auto payloadDeadline =
          Clock::now() + ReadConstant + ReadPerByte * static_cast<int64_t>(want);
      if (!WaitForBytes(want, payloadDeadline)) {
        receivedLength_ = static_cast<uint16_t>(HeaderSize);
        return;
      }
      size_t got = std::min<size_t>(static_cast<size_t>(serial.bytesAvailable()), want);
      got = static_cast<size_t>(serial.read(reinterpret_cast<char*>(frame_.data() + HeaderSize),
                                            static_cast<qint64>(got)));
      count = got;
    }
  }
  receivedLength_ = static_cast<uint16_t>(count + HeaderSize);
}

// Waits until `want` bytes are buffered or the deadline passes. Returns false
// (and closes the port) when the device vanished meanwhile.
bool DeviceLink::WaitForBytes(size_t want, std::chrono::steady_clock::time_point deadline) {
  QSerialPort& serial = port_->Serial;
  while (static_cast<size_t>(serial.bytesAvailable()) < want) {
    if (port_->Lost()) {
      ClosePort();
      return false;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) {
      break;
    }
    serial.waitForReadyRead(left);
  }
  if (port_->Lost()) {
    ClosePort();
    return false;
  }
  return true;
}

int DeviceLink::Finish(uint8_t index, bool write) {
  int result = 0;
  const uint8_t offset =
      FindReplyStart(frame_.data(), receivedLength_, station_.OwnAddressOnWire());
  if (offset == 0) {
    result = station_.ParseReply(frame_, receivedLength_, index);
  }
  Report(result != 0 ? (write ? RowDone : RowReading) : RowConnectionError);
  return result;
}

void DeviceLink::Report(int row) const {
  if (outcome_) {
    outcome_(row);
  }
}

int DeviceLink::ReadVariable(uint8_t id) {
  if (!station_.Initialised()) {
    station_.InitDictionary();
  }
  const uint8_t index = station_.LookupIndex(id);
  const size_t length = station_.BuildReadRequest(frame_, index, deviceAddress_);
  Exchange(length);
  return Finish(index, false);
}

int DeviceLink::WriteVariable(uint8_t id) {
  if (!station_.Initialised()) {
    station_.InitDictionary();
  }
  const uint8_t index = station_.LookupIndex(id);
  const size_t length = station_.BuildWriteRequest(frame_, index, deviceAddress_);
  Exchange(length);
  return Finish(index, true);
}

int DeviceLink::ReadVariableWithRetry(uint8_t id) {
  for (int attempt = 0; attempt < RetryAttempts; ++attempt) {
    if (ReadVariable(id) != 0) {
      return 1;
    }
  }
  return 0;
}

int DeviceLink::WriteVariableWithRetry(uint8_t id) {
  for (int attempt = 0; attempt < RetryAttempts; ++attempt) {
    if (WriteVariable(id) != 0) {
      return 1;
    }
  }
  return 0;
}

}  // namespace vantor
