#pragma once
#include <QByteArray>
#include <QString>
#include <cstdio>

namespace vantor::cli {

bool StandardInputIsTerminal();
bool StandardErrorIsTerminal();

// Writes bytes to standard output and flushes them.
void WriteOut(const QByteArray& bytes);
// One line on standard error.
void WriteNote(const QString& line);

// Ctrl-C (SIGINT) or SIGTERM while it lives asks the operation to stop
// after its current step instead of ending the program, so what was read is
// still written; a second one ends it as usual.
class InterruptRequest {
 public:
  InterruptRequest();
  ~InterruptRequest();
  InterruptRequest(const InterruptRequest&) = delete;
  InterruptRequest& operator=(const InterruptRequest&) = delete;

  static bool Requested();
  // The exit status of a program the signal stopped: 128 + its number (130
  // for Ctrl-C, 143 for SIGTERM).
  static int ExitStatus();
};

// A progress bar redrawn in place on standard error, when that is a
// terminal; nothing otherwise.
class ProgressBar {
 public:
  explicit ProgressBar(QString what);
  ~ProgressBar();  // ends the line
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Show(int done, int total);

 private:
  QString what_;
  bool shown_ = false;
  bool enabled_;
  QByteArray last_;
};

}  // namespace vantor::cli
