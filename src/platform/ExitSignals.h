#pragma once
#include <functional>
#include <memory>

namespace vantor {

// SIGINT, SIGTERM, SIGHUP and SIGPIPE turned into an orderly end instead of
// the sudden one, so every way out closes what was opened: the port (and its
// lock file), the history (flushed and checkpointed), the trace.
//
// While one lives, the handler only records the signal and writes it into a
// pipe; `onSignal` then runs on the thread that made this object, from its
// event loop (a QSocketNotifier on the pipe), and code without an event loop
// asks Caught(). A second SIGINT or SIGTERM ends the program as usual, for
// one that does not stop; SIGHUP and SIGPIPE stay caught, since the closing
// steps may still write to the hung-up terminal or the closed pipe.
class ExitSignals {
 public:
  // Without `onSignal`, the event loop is asked to quit.
  explicit ExitSignals(std::function<void(int signal)> onSignal = {});
  ~ExitSignals();  // the previous handlers back
  ExitSignals(const ExitSignals&) = delete;
  ExitSignals& operator=(const ExitSignals&) = delete;

  // The first signal caught since the handlers went in, or 0.
  static int Caught();
  // 128 + the signal, as a shell gives it: 130 Ctrl-C, 143 SIGTERM, 129
  // SIGHUP, 141 SIGPIPE.
  static int ExitStatus(int signal) { return 128 + signal; }

 private:
  struct Pipe;
  std::unique_ptr<Pipe> pipe_;
};

}  // namespace vantor
