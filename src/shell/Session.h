#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "CalendarClock.h"
#include "DeviceLink.h"

namespace vantor {

class HistoryService;

// A notice of something that went wrong beside the instrument (the history):
// shown in a line of the main window that never waits for a click, its
// detail a click away. Rows of the message table, so it follows the
// language; each %n filled from its arguments.
struct Notice {
  int TextRow = -1;
  QStringList TextArgs;
  int DetailRow = -1;  // none: no detail
  QStringList DetailArgs;
};

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
  // (a page on its own). Its store works on a thread of its own and opens
  // on first use; the main window hears of its outages.
  HistoryService* History = nullptr;
  // The notice line: shows a notice (replacing the one shown), or takes
  // the notice of a text row away once its cause is gone.
  std::function<void(const Notice& notice)> ShowNotice = [](const Notice&) {};
  std::function<void(int textRow)> ClearNotice = [](int) {};
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
