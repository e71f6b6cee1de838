#include "Terminal.h"

#include "ExitSignals.h"

#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <memory>
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

// The handlers of the run's outermost request; nested ones share them.
std::unique_ptr<ExitSignals> exitSignals;
std::atomic<int> depth{0};

// Once standard output is a closed pipe (`vantorctl live | head -2`),
// nothing more is written there: the run ends as SIGPIPE asks.
std::atomic<bool> outputClosed{false};

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
  if (outputClosed.load()) {
    return;
  }
  errno = 0;
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  if (std::fflush(stdout) != 0 && errno == EPIPE) {
    outputClosed.store(true);
    std::clearerr(stdout);
  }
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
  // The commands look at Requested() between their steps; nothing to do on
  // the event loop.
  exitSignals = std::make_unique<ExitSignals>([](int) {});
}

InterruptRequest::~InterruptRequest() {
  if (--depth > 0) {
    return;
  }
  exitSignals.reset();
}

bool InterruptRequest::Requested() {
  return ExitSignals::Caught() != 0 || outputClosed.load();
}

int InterruptRequest::ExitStatus() {
  const int signal = ExitSignals::Caught();
  if (signal == 0 && outputClosed.load()) {
    return ExitSignals::ExitStatus(SIGPIPE);
  }
  return ExitSignals::ExitStatus(signal != 0 ? signal : SIGINT);
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
