#include "Terminal.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace vantor::cli {
namespace {

std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void OnInterrupt(int signal) {
  interrupted.store(signal);
}

struct sigaction previousInterrupt {};
struct sigaction previousTerminate {};
// Requests in force: an inner one (a command's) keeps a signal that came
// before it (during the search for the instrument).
int depth = 0;

}  // namespace

bool StandardInputIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

void WriteOut(const QByteArray& bytes) {
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  std::fflush(stdout);
}

void WriteNote(const QString& line) {
  const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
  std::fflush(stderr);
}

InterruptRequest::InterruptRequest() {
  if (depth++ > 0) {
    return;
  }
  interrupted.store(0);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // The second signal finds the default action back: it ends the program.
  action.sa_flags = SA_RESETHAND;
  ::sigaction(SIGINT, &action, &previousInterrupt);
  ::sigaction(SIGTERM, &action, &previousTerminate);
}

InterruptRequest::~InterruptRequest() {
  if (--depth > 0) {
    return;
  }
  ::sigaction(SIGINT, &previousInterrupt, nullptr);
  ::sigaction(SIGTERM, &previousTerminate, nullptr);
}

bool InterruptRequest::Requested() {
  return interrupted.load() != 0;
}

int InterruptRequest::ExitStatus() {
  const int signal = interrupted.load();
  return 128 + (signal != 0 ? signal : SIGINT);
}

ProgressBar::ProgressBar(QString what)
    : what_(std::move(what)), enabled_(StandardErrorIsTerminal()) {}

ProgressBar::~ProgressBar() {
  if (shown_) {
    std::fputs("\n", stderr);
    std::fflush(stderr);
  }
}

void ProgressBar::Show(int done, int total) {
  if (!enabled_) {
    return;
  }
  constexpr int Width = 30;
  const int filled = total > 0 ? done * Width / total : Width;
  const QByteArray line =
      ("\r[" + QString(filled, QLatin1Char('#')) + QString(Width - filled, QLatin1Char('.')) +
       QStringLiteral("] %1/%2 %3").arg(done).arg(total).arg(what_))
          .toUtf8();
  if (line == last_) {
    return;
  }
  last_ = line;
  shown_ = true;
  std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
  std::fflush(stderr);
}

}  // namespace vantor::cli
