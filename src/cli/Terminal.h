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

// With several instruments each is worked on a thread of its own, and what
// the commands there write is that instrument's share of the output, which
// the run puts together (rows tagged or grouped under a heading, notes
// gathered into one summary line, a progress line of its own).
class OutputShare {
 public:
  virtual ~OutputShare() = default;
  virtual void Out(const QByteArray& bytes) = 0;
  virtual void Note(const QString& line) = 0;
  virtual void Progress(int done, int total, const QString& what) = 0;
};

// While it lives, WriteOut, WriteNote and ProgressBar on the thread that
// made it go into `share` instead of the standard streams.
class ShareOutput {
 public:
  explicit ShareOutput(OutputShare* share);
  ~ShareOutput();
  ShareOutput(const ShareOutput&) = delete;
  ShareOutput& operator=(const ShareOutput&) = delete;

 private:
  OutputShare* previous_;
};

// Writes bytes to standard output as one piece, whatever this thread's share.
void WriteOutWhole(const QByteArray& bytes);
// One line on standard error, whatever this thread's share.
void WriteNoteWhole(const QString& line);

// One line per instrument on standard error, redrawn in place, when that is
// a terminal (nothing otherwise): what each is doing. Notes written
// meanwhile go above them. Taken away when it ends.
class ProgressLines {
 public:
  explicit ProgressLines(int count);
  ~ProgressLines();
  ProgressLines(const ProgressLines&) = delete;
  ProgressLines& operator=(const ProgressLines&) = delete;

  // Any thread.
  void Set(int line, const QString& text);
};

// Ctrl-C (SIGINT), SIGTERM, SIGHUP (the terminal closed) or SIGPIPE (the
// reader of standard output went away) while it lives asks the operation to
// stop after its current step instead of ending the program, so what was
// read is still written to the history and the port closes with its lock; a
// second Ctrl-C or SIGTERM ends it as usual.
class InterruptRequest {
 public:
  InterruptRequest();
  ~InterruptRequest();
  InterruptRequest(const InterruptRequest&) = delete;
  InterruptRequest& operator=(const InterruptRequest&) = delete;

  static bool Requested();
  // The exit status of a program the signal stopped: 128 + its number (130
  // for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP, 141 for SIGPIPE).
  static int ExitStatus();
};

// "[#########.....................] 450/1350 records"
QString ProgressText(int done, int total, const QString& what);

// A progress bar redrawn in place on standard error, when that is a
// terminal; nothing otherwise.
class ProgressBar {
 public:
  // On a thread with an output share, the progress goes there instead.
  explicit ProgressBar(QString what);
  ~ProgressBar();  // ends the line
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Show(int done, int total);

 private:
  QString what_;
  OutputShare* share_;
  bool shown_ = false;
  bool enabled_;
  QByteArray last_;
};

}  // namespace vantor::cli
