#pragma once
#include <memory>

#include "AboutWindows.h"
#include "CalendarClock.h"
#include "ExitSignals.h"
#include "TForm1.h"
#include "TForm2.h"

namespace vantor {

// The program's six windows, created in order at start-up and kept until the
// end: the main window first (reading prog.ini and applying the language),
// then the connection dialog, the two About and the two splash windows.
struct ProgramWindows {
  explicit ProgramWindows(CalendarClock* clock = nullptr);
  ~ProgramWindows();
  ProgramWindows(const ProgramWindows&) = delete;
  ProgramWindows& operator=(const ProgramWindows&) = delete;

  // From here on SIGINT, SIGTERM, SIGHUP and SIGPIPE close the main window
  // as its close button does (prog.ini written, the port closed) and then
  // end the event loop with 128 + the signal; the history and the trace are
  // closed as the windows go.
  void CloseOnExitSignals();

  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TForm2> Form2;
  std::unique_ptr<TForm3> Form3;
  std::unique_ptr<TForm4> Form4;
  std::unique_ptr<TForm5> Form5;
  std::unique_ptr<TForm6> Form6;

 private:
  void CloseForSignal(int signal);
  std::unique_ptr<ExitSignals> exitSignals_;
};

}  // namespace vantor
