#include "ExitSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <array>
#include <atomic>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <cerrno>
#else
#include <csignal>
#endif

namespace vantor {
namespace {

std::atomic<int> caught{0};
std::atomic<int> writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

#ifndef Q_OS_WIN
constexpr std::array<int, 4> Handled = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void OnSignal(int signal) {
  const int savedErrno = errno;
  int none = 0;
  caught.compare_exchange_strong(none, signal);
  const int fd = writeEnd.load();
  if (fd >= 0) {
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = savedErrno;
}
#endif

}  // namespace

struct ExitSignals::Pipe {
#ifndef Q_OS_WIN
  std::array<int, 2> Fds{-1, -1};
  std::array<struct sigaction, Handled.size()> Previous{};
#endif
  std::unique_ptr<QSocketNotifier> Notifier;
};

ExitSignals::ExitSignals(std::function<void(int signal)> onSignal)
    : pipe_(std::make_unique<Pipe>()) {
  caught.store(0);
#ifndef Q_OS_WIN
  if (::pipe2(pipe_->Fds.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_->Fds = {-1, -1};
  }
  writeEnd.store(pipe_->Fds[1]);
  // The notifier needs the application's thread; elsewhere Caught() alone
  // tells.
  if (pipe_->Fds[0] >= 0 && QCoreApplication::instance() != nullptr &&
      QThread::currentThread() == QCoreApplication::instance()->thread()) {
    pipe_->Notifier = std::make_unique<QSocketNotifier>(pipe_->Fds[0], QSocketNotifier::Read);
    const int readEnd = pipe_->Fds[0];
    QObject::connect(pipe_->Notifier.get(), &QSocketNotifier::activated, pipe_->Notifier.get(),
                     [readEnd, onSignal = std::move(onSignal)] {
                       unsigned char byte = 0;
                       int signal = 0;
                       while (::read(readEnd, &byte, 1) == 1) {
                         signal = signal != 0 ? signal : byte;
                       }
                       if (signal == 0) {
                         return;
                       }
                       if (onSignal) {
                         onSignal(signal);
                       } else {
                         QCoreApplication::exit(ExitStatus(signal));
                       }
                     });
  }
  for (size_t i = 0; i < Handled.size(); ++i) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (Handled[i] == SIGINT || Handled[i] == SIGTERM) {
      action.sa_flags |= SA_RESETHAND;
    }
    ::sigaction(Handled[i], &action, &pipe_->Previous[i]);
  }
#else
  (void)onSignal;
#endif
}

ExitSignals::~ExitSignals() {
#ifndef Q_OS_WIN
  for (size_t i = 0; i < Handled.size(); ++i) {
    ::sigaction(Handled[i], &pipe_->Previous[i], nullptr);
  }
  writeEnd.store(-1);
  pipe_->Notifier.reset();
  for (const int fd : pipe_->Fds) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
#endif
}

int ExitSignals::Caught() {
  return caught.load();
}

}  // namespace vantor
