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

bool PseudoTerminal::Open() {
  if (IsOpen()) {
    return true;
  }
  int master = -1;
  int slave = -1;
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  cfsetispeed(&raw, B115200);
  cfsetospeed(&raw, B115200);
  if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
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

void PseudoTerminal::Send(std::vector<uint8_t> bytes, Clock::time_point when) {
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    queue_.emplace(when, std::move(bytes));
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
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      if (queue_.empty() || queue_.begin()->first > Clock::now()) {
        return;
      }
      bytes = std::move(queue_.begin()->second);
      queue_.erase(queue_.begin());
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
  }
}

void PseudoTerminal::Serve() {
  uint8_t buffer[4096];
  while (!stop_) {
    milliseconds wait{200};
    if (onIdle_) {
      wait = std::min(wait, onIdle_());
    }
    {
      std::lock_guard<std::mutex> lock(queueMutex_);
      if (!queue_.empty()) {
        const auto due = queue_.begin()->first - Clock::now();
        wait =
            std::min(wait, std::chrono::ceil<milliseconds>(std::max(due, Clock::duration::zero())));
      }
    }
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(wait.count()));
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
