#include "SerialTransport.h"

#include <QFile>
#include <QSerialPort>
#include <algorithm>
#include <thread>

#include "PortLock.h"

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace vantor {
namespace {

using std::chrono::milliseconds;

constexpr int LossCheckMs = 10;

// Milliseconds left until `deadline`, rounded up so a wait never ends early;
// 0 once it has passed.
int RemainingMs(LineTransport::Clock::time_point deadline) {
  const auto left = deadline - LineTransport::Clock::now();
  if (left <= LineTransport::Clock::duration::zero()) {
    return 0;
  }
  return static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
}

#ifndef Q_OS_WIN
// Whether the port was set to hardware flow control before we open it; that
// is the one setting of the port's own that opening keeps. The descriptor
// stays open until the real open is done, so its close is never the last one
// (which would drop DTR).
struct PreviousLineSettings {
  int fd = -1;
  int error = 0;  // errno of a failed open
  bool hardwareFlow = false;

  explicit PreviousLineSettings(const QString& path) {
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      error = errno;
    }
    termios tio{};
    if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
      hardwareFlow = (tio.c_cflag & CRTSCTS) != 0;
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

// A binary line: no byte may be taken as a control character, translated or
// echoed, whatever the terminal was set to before.
bool MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    return false;
  }
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | IGNBRK | BRKINT | PARMRK | ISTRIP |
                                        INLCR | IGNCR | ICRNL);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// What the system's refusal to open a device means for the user.
OpenFailure FailureOfErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return OpenFailure::PermissionDenied;
    case EBUSY:  // opened exclusively elsewhere
      return OpenFailure::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return OpenFailure::Missing;
    default:
      return OpenFailure::Failed;
  }
}
#endif

}  // namespace

std::unique_ptr<SerialTransport> SerialTransport::Open(const QString& path, OpenFailure* failure) {
  OpenFailure ignored = OpenFailure::None;
  OpenFailure& why = failure != nullptr ? *failure : ignored;
  why = OpenFailure::None;
  std::unique_ptr<SerialTransport> line(new SerialTransport);
  QSerialPort& serial = *line->serial_;
  serial.setPortName(path);
  serial.setFlowControl(QSerialPort::NoFlowControl);
#ifndef Q_OS_WIN
  const PreviousLineSettings previous(path);
  if (previous.hardwareFlow) {
    serial.setFlowControl(QSerialPort::HardwareControl);
  }
#endif
  serial.setBaudRate(115200);
  serial.setDataBits(QSerialPort::Data8);
  serial.setParity(QSerialPort::NoParity);
  serial.setStopBits(QSerialPort::OneStop);
  serial.setReadBufferSize(ReadBufferLimit);
#ifndef Q_OS_WIN
  if (previous.fd < 0) {
    why = FailureOfErrno(previous.error);
    return nullptr;
  }
  // A lock nobody holds any more would make the open below say "busy".
  if (TakeOverStaleLock(path).Result == PortLockLook::State::StaleKept) {
    why = OpenFailure::StaleLock;
    return nullptr;
  }
#endif
  if (!serial.open(QIODevice::ReadWrite)) {
    switch (serial.error()) {
      case QSerialPort::DeviceNotFoundError:
        why = OpenFailure::Missing;
        break;
      case QSerialPort::PermissionError:
#ifndef Q_OS_WIN
        // The device itself opened above: what refuses is the lock of
        // another program that has the port (or its exclusive use).
        why = OpenFailure::Busy;
#else
        why = OpenFailure::PermissionDenied;
#endif
        break;
      default:
        why = OpenFailure::Failed;
        break;
    }
    return nullptr;
  }
#ifndef Q_OS_WIN
  if (!MakeRaw(static_cast<int>(serial.handle()))) {
    why = OpenFailure::Failed;
    return nullptr;
  }
#endif
  SerialTransport* self = line.get();
  QObject::connect(&serial, &QSerialPort::readyRead, &serial, [self] { self->DropUnasked(); });
  return line;
}

SerialTransport::SerialTransport() : serial_(std::make_unique<QSerialPort>()) {}

SerialTransport::~SerialTransport() {
  serial_->close();
}

void SerialTransport::DropUnasked() {
  // Between exchanges nobody asked for anything: whatever comes is noise or
  // a late reply, and must not pile up while the window idles. A little is
  // left for the next exchange to see and throw away itself, so the link
  // knows that something came.
  if (waiting_ || serial_->bytesAvailable() <= UnaskedKeep) {
    return;
  }
  if (OnUnasked) {
    OnUnasked(serial_->readAll());
  } else {
    serial_->clear(QSerialPort::Input);
  }
}

LineTransport::Clock::time_point SerialTransport::Now() const {
  return Clock::now();
}

void SerialTransport::SleepFor(Clock::duration duration) {
  std::this_thread::sleep_for(duration);
}

void SerialTransport::Purge() {
  serial_->clearError();
  serial_->clear();
}

bool SerialTransport::Write(const uint8_t* bytes, size_t count, Clock::time_point deadline) {
  if (serial_->write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(count)) !=
      static_cast<qint64>(count)) {
    serial_->clear(QSerialPort::Output);
    return false;
  }
  while (serial_->bytesToWrite() > 0) {
    const int left = RemainingMs(deadline);
    if (left == 0 || Lost()) {
      break;
    }
    serial_->waitForBytesWritten(left);
  }
  if (serial_->bytesToWrite() > 0 || Lost()) {
    serial_->clear(QSerialPort::Output);
    return false;
  }
  return true;
}

size_t SerialTransport::WaitForBytes(size_t want, Clock::time_point deadline) {
  waiting_ = true;
  if (RemainingMs(deadline) == 0 &&
      (want == 0 || static_cast<size_t>(serial_->bytesAvailable()) < want)) {
    // A look without waiting still takes in what the driver holds.
    serial_->waitForReadyRead(0);
  }
  while (static_cast<size_t>(serial_->bytesAvailable()) < want && !Lost()) {
    const int left = RemainingMs(deadline);
    if (left == 0) {
      break;
    }
    // In short steps: a terminal that was hung up makes the wait spin to its
    // end instead of returning, and the loss is seen between the steps.
    serial_->waitForReadyRead(std::min(left, LossCheckMs));
  }
  waiting_ = false;
  return static_cast<size_t>(serial_->bytesAvailable());
}

size_t SerialTransport::Read(uint8_t* into, size_t count) {
  const qint64 got = serial_->read(reinterpret_cast<char*>(into), static_cast<qint64>(count));
  return got > 0 ? static_cast<size_t>(got) : 0;
}

qint64 SerialTransport::Buffered() const {
  return serial_->bytesAvailable();
}

bool SerialTransport::Lost() const {
  const QSerialPort::SerialPortError e = serial_->error();
  if (e == QSerialPort::ResourceError || e == QSerialPort::DeviceNotFoundError ||
      e == QSerialPort::PermissionError || e == QSerialPort::NotOpenError || !serial_->isOpen()) {
    return true;
  }
#ifndef Q_OS_WIN
  // A device that went away hangs its terminal up; the port itself says so
  // only at the next write, so ask the terminal.
  pollfd hangUp{static_cast<int>(serial_->handle()), 0, 0};
  if (::poll(&hangUp, 1, 0) > 0 && (hangUp.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    return true;
  }
#endif
  return false;
}

}  // namespace vantor
