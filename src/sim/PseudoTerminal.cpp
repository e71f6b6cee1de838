#include "PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vantor::sim {

using std::chrono::milliseconds;

PseudoTerminal::PseudoTerminal(BytesHandler onBytes, IdleHandler onIdle)
    : onBytes_(std::move(onBytes)), onIdle_(std::move(onIdle)) {}

PseudoTerminal::~PseudoTerminal() {
  Close();
}

bool PseudoTerminal::Open(bool raw) {
  if (IsOpen()) {
    return true;
  }
  int master = -1;
  int slave = -1;
  char name[256] = {};
  termios settings{};
  cfmakeraw(&settings);
  cfsetispeed(&settings, B115200);
  cfsetospeed(&settings, B115200);
  if (::openpty(&master, &slave, name, raw ? &settings : nullptr, nullptr) != 0) {
    return false;
  }
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    ::close(master);
    ::close(slave);
    return false;
  }
  master_ = master;
  slave_ = slave;
  slavePath_ = name;
  stop_ = false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void PseudoTerminal::Close() {
  if (!IsOpen()) {
    return;
  }
  stop_ = true;
  Wake();
  if (thread_.joinable()) {
    thread_.join();
  }
  ::close(master_);
  ::close(slave_);
  ::close(wake_);
  master_ = slave_ = wake_ = -1;
  DropPending();
}

void PseudoTerminal::Send(std::vector<uint8_t> bytes, Clock::time_point when,
                          Clock::duration byteTime) {
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    Pending pending;
    pending.Bytes = std::move(bytes);
    pending.Earliest = when;
    pending.ByteTime = byteTime;
    queue_.push_back(std::move(pending));
  }
  Wake();
}

void PseudoTerminal::DropPending() {
  std::lock_guard<std::mutex> lock(queueMutex_);
  queue_.clear();
}

void PseudoTerminal::Wake() {
  if (wake_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
  }
}

void PseudoTerminal::FlushDue() {
  for (;;) {
    std::vector<uint8_t> bytes;
    bool finished = false;
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      if (queue_.empty()) {
        return;
      }
      Pending& p = queue_.front();
      const Clock::time_point now = Clock::now();
      if (!p.Started) {
        if (now < p.Earliest) {
          return;
        }
        // One transmitter: a reply starts once the one before has gone out.
        p.Start = std::max(p.Earliest, lineFreeAt_);
        p.Started = true;
      }
      // A byte is there once its last bit is.
      size_t due = p.Bytes.size();
      if (p.ByteTime > Clock::duration::zero()) {
        const auto elapsed = now - p.Start;
        due = elapsed < Clock::duration::zero()
                  ? 0
                  : std::min(p.Bytes.size(), static_cast<size_t>(elapsed / p.ByteTime));
      }
      if (due <= p.Sent) {
        return;
      }
      bytes.assign(p.Bytes.begin() + static_cast<std::ptrdiff_t>(p.Sent),
                   p.Bytes.begin() + static_cast<std::ptrdiff_t>(due));
      p.Sent = due;
      if (p.Sent == p.Bytes.size()) {
        lineFreeAt_ = p.Start + p.ByteTime * static_cast<int64_t>(p.Bytes.size());
        queue_.pop_front();
        finished = true;
      }
    }
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;  // nobody takes it: lost, as on a real line
      }
    }
    if (!finished) {
      return;
    }
  }
}

PseudoTerminal::Clock::duration PseudoTerminal::UntilDue() {
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (queue_.empty()) {
    return milliseconds(200);
  }
  const Pending& p = queue_.front();
  Clock::time_point due;
  if (!p.Started) {
    due = std::max(p.Earliest, lineFreeAt_);
  } else {
    due = p.Start + p.ByteTime * static_cast<int64_t>(p.Sent + 1);
  }
  return std::max(due - Clock::now(), Clock::duration::zero());
}

void PseudoTerminal::Serve() {
  uint8_t buffer[4096];
  while (!stop_) {
    Clock::duration wait = milliseconds(200);
    if (onIdle_) {
      wait = std::min<Clock::duration>(wait, onIdle_());
    }
    // To the microsecond: a paced byte is due every 86.8 us.
    wait = std::min(wait, UntilDue());
    const auto micros = std::chrono::ceil<std::chrono::microseconds>(wait).count();
    const timespec timeout{static_cast<time_t>(micros / 1000000),
                           static_cast<long>(micros % 1000000) * 1000};
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
    const int ready = ::ppoll(fds, 2, &timeout, nullptr);
    if (stop_) {
      break;
    }
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
      uint64_t value = 0;
      [[maybe_unused]] const ssize_t n = ::read(wake_, &value, sizeof value);
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0 && onBytes_) {
        onBytes_(buffer, static_cast<size_t>(n));
      }
    } else if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR)) != 0) {
      // Should not happen while the slave is held open; never spin on it.
      std::this_thread::sleep_for(milliseconds(5));
    }
    FlushDue();
  }
}

}  // namespace vantor::sim
