#pragma once
#include <QString>
#include <cstdint>
#include <functional>

#include "CalendarClock.h"
#include "DeviceLink.h"

namespace vantor {

class HistoryStore;
struct HistoryOutcome;

// What the main window shares with its tabs: the line to the instrument, the
// language of the moment, the port found, the status bar, the clock and the
// history. All of it lives on the user-interface thread.
struct Session {
  DeviceLink Link;
  uint8_t LanguageIndex = 0;  // 0 Russian, 1 English
  uint8_t PortNumber = 0;     // COM port the instrument answered on, 0 none
  // Writes a text into status bar panel 0..3.
  std::function<void(int panel, const QString& text)> SetPanel = [](int, const QString&) {};
  CalendarClock* Clock = nullptr;  // never null once the main window exists
  // Shows an error in the application's standard message box (a conversion
  // error on the settings tab, a failed write of prog.ini). Tests replace it.
  std::function<void(const QString& message)> ShowError = [](const QString&) {};
  // The history of the run, owned by the main window; null without one
  // (a page on its own). It opens on first use.
  HistoryStore* History = nullptr;
  // Tells the user of an outcome of the history that they should hear of:
  // the first failure of an outage (once), and its end.
  std::function<void(const HistoryOutcome& outcome)> ReportHistory = [](const HistoryOutcome&) {};
  // A long operation (a port search, an archive read) is under way. It lets
  // the window answer the window manager between its exchanges; meanwhile no
  // timer may start an exchange of its own, and the window does not close.
  bool Busy = false;

  explicit Session(CalendarClock* clock) : Clock(clock) {}
};

// Marks the session busy for its lifetime; nests.
class BusyScope {
 public:
  explicit BusyScope(Session& session) : session_(session), was_(session.Busy) {
    session_.Busy = true;
  }
  ~BusyScope() { session_.Busy = was_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  Session& session_;
  bool was_;
};

}  // namespace vantor
