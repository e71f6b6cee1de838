#pragma once
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "CalendarClock.h"
#include "DeviceLink.h"
#include "InstrumentEngine.h"

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

// How a window operation tells its progress: `done` of `total`.
using ProgressShown = std::function<void(int done, int total, const QString& what)>;

// What the main window shares with its tabs: the instrument's engine (its
// line runs on a thread of its own), the language of the moment, the port
// found, the status bar, the clock and the history. Everything else lives on
// the user-interface thread.
//
// The window's operations run on the engine one at a time: one asked for
// while another is on the engine waits here for its end. So whenever the
// window's thread runs (a handler, an operation's end), nothing touches the
// link on the engine's thread, and the window may read `Link` directly.
class Session {
 public:
  explicit Session(CalendarClock* clock);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  InstrumentEngine Engine;
  // The engine's link: set up before the first operation, read between them.
  DeviceLink& Link;
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
  // on first use; the main window hears of its outages. Operations use it
  // from the engine's thread.
  HistoryService* History = nullptr;
  // The notice line: shows a notice (replacing the one shown), or takes
  // the notice of a text row away once its cause is gone.
  std::function<void(const Notice& notice)> ShowNotice = [](const Notice&) {};
  std::function<void(int textRow)> ClearNotice = [](int) {};
  // A long operation (a port search, an archive read or erase) is under way:
  // the poll waits, clicks on the other operations are dropped and the
  // window closes once it has ended.
  bool Busy = false;
  // Told each time the last of the window's operations has ended.
  std::function<void()> OnIdle;

  // Runs `work` on the engine after the window's operations asked for before
  // it; `shown` then gets its end on this thread (not if `context` is gone
  // by then), and `progress` what it reports meanwhile. `longOperation`
  // marks the session busy from now until `shown` has run.
  void Run(QObject* context, const QString& name, std::function<void(OperationControl&)> work,
           std::function<void(const OperationOutcome&)> shown, ProgressShown progress = {},
           bool longOperation = false);
  // `then` on this thread once the window's operations asked for before
  // have ended (at once when there are none): for a click that reads what
  // the last of them left in the link.
  void AfterOthers(QObject* context, const std::function<void()>& then);
  // Nothing of the window's is on the engine or waiting for it.
  bool Idle() const { return !running_ && waiting_.empty(); }
  // The running operation is asked to stop between two exchanges (its end
  // is still shown); those waiting are dropped.
  void CancelAll();
  // Blocks until the engine has ended what it runs (closing only: nothing of
  // it is shown any more).
  void Drain();

 private:
  struct Pending {
    QPointer<QObject> Context;
    QString Name;
    std::function<void(OperationControl&)> Work;
    std::function<void(const OperationOutcome&)> Shown;
    ProgressShown Progress;
    bool Long = false;
  };
  void Start(Pending next);
  void Ended(const Pending& done, const OperationOutcome& outcome);
  // Busy while a long operation runs or waits.
  void UpdateBusy();

  std::deque<Pending> waiting_;
  std::optional<OperationId> running_;
  bool runningLong_ = false;
  ProgressShown runningProgress_;
  QPointer<QObject> runningContext_;
  bool ending_ = false;  // an operation's end is being shown
  bool draining_ = false;
};

}  // namespace vantor
