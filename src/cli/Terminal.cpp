#include "Terminal.h"

#include <signal.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace vantor::cli {
namespace {

thread_local OutputShare* threadShare = nullptr;

// With several instruments several threads write at once: each write is
// whole, and the progress lines are redrawn under the same lock.
std::mutex streamsMutex;

struct LinesOnScreen {
  std::vector<QString> Texts;
  int Drawn = 0;  // lines on the screen now, the cursor below them
  QElapsedTimer SinceDrawn;
};
LinesOnScreen* progressLines = nullptr;  // under streamsMutex

void WriteError(const QByteArray& bytes) {
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
  std::fflush(stderr);
}

void EraseLines(LinesOnScreen& lines) {
  if (lines.Drawn > 0) {
    WriteError(QByteArray("\x1b[") + QByteArray::number(lines.Drawn) + "A\r\x1b[J");
    lines.Drawn = 0;
  }
}

void DrawLines(LinesOnScreen& lines) {
  EraseLines(lines);
  QByteArray bytes;
  for (const QString& text : lines.Texts) {
    bytes += text.toUtf8() + '\n';
  }
  WriteError(bytes);
  lines.Drawn = static_cast<int>(lines.Texts.size());
  lines.SinceDrawn.start();
}

std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

void OnInterrupt(int signal) {
  interrupted.store(signal);
}

struct sigaction previousInterrupt {};
struct sigaction previousTerminate {};
// Requests in force: an inner one (a command's) keeps a signal that came
// before it (during the search for the instrument). The instruments of one
// run each make theirs on their own thread, inside the run's own.
std::atomic<int> depth{0};

}  // namespace

bool StandardInputIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

bool StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

void WriteOut(const QByteArray& bytes) {
  if (threadShare != nullptr) {
    threadShare->Out(bytes);
  } else {
    WriteOutWhole(bytes);
  }
}

void WriteNote(const QString& line) {
  if (threadShare != nullptr) {
    threadShare->Note(line);
  } else {
    WriteNoteWhole(line);
  }
}

void WriteOutWhole(const QByteArray& bytes) {
  const std::lock_guard lock(streamsMutex);
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  std::fflush(stdout);
}

void WriteNoteWhole(const QString& line) {
  const std::lock_guard lock(streamsMutex);
  if (progressLines != nullptr) {
    EraseLines(*progressLines);
  }
  WriteError((line + QLatin1Char('\n')).toUtf8());
  if (progressLines != nullptr) {
    DrawLines(*progressLines);
  }
}

ShareOutput::ShareOutput(OutputShare* share) : previous_(threadShare) {
  threadShare = share;
}

ShareOutput::~ShareOutput() {
  threadShare = previous_;
}

ProgressLines::ProgressLines(int count) {
  if (!StandardErrorIsTerminal()) {
    return;
  }
  const std::lock_guard lock(streamsMutex);
  progressLines = new LinesOnScreen;
  progressLines->Texts.resize(static_cast<size_t>(std::max(count, 0)));
}

ProgressLines::~ProgressLines() {
  const std::lock_guard lock(streamsMutex);
  if (progressLines != nullptr) {
    EraseLines(*progressLines);
    delete progressLines;
    progressLines = nullptr;
  }
}

void ProgressLines::Set(int line, const QString& text) {
  const std::lock_guard lock(streamsMutex);
  if (progressLines == nullptr || line < 0 ||
      line >= static_cast<int>(progressLines->Texts.size())) {
    return;
  }
  QString& shown = progressLines->Texts[static_cast<size_t>(line)];
  if (shown == text) {
    return;
  }
  shown = text;
  // A record a few milliseconds on each of several lines: redrawn at most
  // ten times a second.
  if (progressLines->Drawn == 0 || progressLines->SinceDrawn.elapsed() >= 100) {
    DrawLines(*progressLines);
  }
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

QString ProgressText(int done, int total, const QString& what) {
  constexpr int Width = 30;
  const int filled = total > 0 ? std::clamp(done * Width / total, 0, Width) : Width;
  return QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
         QString(Width - filled, QLatin1Char('.')) +
         QStringLiteral("] %1/%2 %3").arg(done).arg(total).arg(what);
}

ProgressBar::ProgressBar(QString what)
    : what_(std::move(what)),
      share_(threadShare),
      enabled_(share_ != nullptr || StandardErrorIsTerminal()) {}

ProgressBar::~ProgressBar() {
  if (shown_ && share_ == nullptr) {
    std::fputs("\n", stderr);
    std::fflush(stderr);
  }
}

void ProgressBar::Show(int done, int total) {
  if (share_ != nullptr) {
    share_->Progress(done, total, what_);
    return;
  }
  if (!enabled_) {
    return;
  }
  const QByteArray line = ('\r' + ProgressText(done, total, what_)).toUtf8();
  if (line == last_) {
    return;
  }
  last_ = line;
  shown_ = true;
  std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
  std::fflush(stderr);
}

}  // namespace vantor::cli
