#pragma once
#include <QMainWindow>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "CalendarClock.h"
#include "ConnectionManager.h"
#include "FilePlaces.h"
#include "HistoryTypes.h"
#include "LineTrace.h"
#include "PortSearch.h"
#include "Session.h"

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QScrollArea;
class QStatusBar;
class QTabWidget;
class QTimer;

namespace vantor {

class ArchivePage;
class DataMenu;
class HistoryService;
class MeasurePage;
class NoticeLine;
class SettingsPage;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;

// The main window: a thin shell of tabs, menu, status bar and timers around
// the three tab pages, and the keeper of prog.ini's language. It owns the
// Session that the pages share.
class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // `clock` is the calendar the program runs on (tests pin one); the
  // system's clock when null.
  explicit TForm1(CalendarClock* clock = nullptr, QWidget* parent = nullptr);
  ~TForm1() override;

  static constexpr int ClientWidth = 953;
  static constexpr int ClientHeight = 555;
  static constexpr std::array<int, 4> PanelWidths{160, 350, 350, 120};

  Session& GetSession() { return *session_; }
  LineTrace& Trace() { return *trace_; }
  // Writes the line's trace into `path` from now on (vantor --trace FILE).
  bool StartTraceFile(const QString& path, QString* error = nullptr);

  // The windows created after this one; the menu opens them.
  void SetSecondaryWindows(TForm2* form2, TForm3* form3, TForm4* form4, TForm5* form5,
                           TForm6* form6);

  // Where prog.ini and the screen captures are: the working directory as it
  // was at creation, unless the program runs installed or may not write
  // there (FilePlaces).
  QString SettingsFilePath() const { return places_.SettingsFile; }
  const FilePlaces& Places() const { return places_; }
  void SetFilePlaces(const FilePlaces& places) { places_ = places; }

  // Check marks of the language menu and every caption that follows the
  // language, in `language` (0 Russian, 1 English).
  void ApplyLanguage(int language);
  void N4Click();        // Русский
  void English1Click();  // English
  void N8Click();        // About, only with an instrument connected
  void PageControl1Change(int index);

  // A window on a chosen instrument (vantor --port N / --device PATH), set
  // before the start-up tick: that tick tries this port alone instead of
  // searching, and the title names it. With a device the window works with
  // that device only: the connection dialog connects to it again.
  void ChoosePort(int port);
  void ChooseDevice(const QString& path);
  int ChosenPort() const { return chosenPort_; }

  // The start-up timer: the first tick shows the splash window, hides this
  // one, prepares the dictionary, the archive layout and the language and
  // searches every port for the instrument (or tries the chosen one); every
  // later tick (3 s apart) shows this window again and closes the splash
  // windows.
  void Timer2Timer();
  bool StartupDone() const { return startupDone_; }
  // PrintScreen (Button13 on the settings tab): screen.bmp and screen.txt.
  void Button13Click();
  // "Связь" -> "Установить": the connection dialog, then the connection.
  void N5Click();
  // Looks for the instrument (1 every port, otherwise the port chosen in the
  // dialog) with the settings read as the test, on the instrument's engine,
  // showing progress in the dialog; the windows stay live meanwhile. Its end
  // sets the session's port (0 when none answered).
  void ConnectDevice(int mode);

  // "Справка" -> "Save diagnostic report…": asks for a folder, then
  // SaveDiagnosticReport.
  void SaveReportClick();
  // Writes the report into a new folder in `parent` from a thread of its own
  // and says in panel 0 where it went (or why it did not).
  void SaveDiagnosticReport(const QString& parent);
  // Hears where a report went: the folder, or an empty one and why.
  std::function<void(const QString& folder, const QString& error)> OnReportWritten;

  QString PanelText(int panel) const;
  void SetPanelText(int panel, const QString& text);

  MeasurePage* Measure() const { return measure_; }
  SettingsPage* Settings() const { return settings_; }
  ArchivePage* Archive() const { return archive_; }
  DataMenu* Data() const { return dataMenu_; }
  NoticeLine* Notices() const { return notice_; }
  QTabWidget* PageControl() const { return pageControl1_; }
  QTimer* Timer1() const { return timer1_; }
  QTimer* Timer2() const { return timer2_; }
  TForm2* Form2() const { return form2_; }
  TForm3* Form3() const { return form3_; }
  TForm4* Form4() const { return form4_; }
  TForm5* Form5() const { return form5_; }
  TForm6* Form6() const { return form6_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildMenu();
  void BuildStatusBar(QWidget* client);
  // The designed size, or the available area of the screen when that is
  // smaller (the client area scrolls then), placed inside that area.
  void FitToScreen();
  void FormCreate();
  void FormClose();
  // Panel 3: the port, its tooltip naming the instrument on it.
  void ShowConnectedPort();
  // The port came back: with another instrument on it (another serial),
  // what the window showed of the one before goes and panel 0 says so.
  void PortBack(const InstrumentIdentity& now);
  void ForgetOtherInstrument();
  void TellOtherInstrument();
  // ConnectDevice on `chosen` when the mode is the chosen port; `then` gets
  // the port found once the search has been shown.
  void Connect(int mode, int chosen, std::function<void(int found)> then = {});
  // Tick of the start-up timer that runs the search, once it has ended.
  void StartupSearched(bool restartTimer);
  // The first port refused for lack of permission, and the first one held by
  // another program, are told once a run in a notice that waits for nobody.
  void ShowPortRefusal(const InstrumentSearch& search);
  void ReportWritten(const QString& parent, const QString& folder, const QString& error);

  std::unique_ptr<SystemClock> ownClock_;
  // What happens on the line, kept for a diagnostic report and, with
  // --trace, written to a file; the lines the session opens record into it,
  // so it goes after them.
  std::unique_ptr<LineTrace> trace_;
  std::unique_ptr<TracedClock> tracedClock_;
  std::unique_ptr<Session> session_;
  // The history of the run, from vantor.conf, on a thread of its own; it
  // opens on first use, so a slow or missing database never holds up the
  // start, and nothing it does holds up the window or the line.
  std::unique_ptr<HistoryService> history_;

  QScrollArea* scrollArea_ = nullptr;
  QWidget* client_ = nullptr;
  bool positioned_ = false;
  // Closed while an operation ran: it closes once the line is free.
  bool closePending_ = false;
  QTabWidget* pageControl1_ = nullptr;
  MeasurePage* measure_ = nullptr;
  SettingsPage* settings_ = nullptr;
  ArchivePage* archive_ = nullptr;
  QLabel* label14_ = nullptr;
  QLabel* label15_ = nullptr;
  QStatusBar* statusBar1_ = nullptr;
  std::array<QLabel*, 4> panels_{};
  NoticeLine* notice_ = nullptr;

  QMenuBar* mainMenu1_ = nullptr;
  QMenu* n2_ = nullptr;
  QAction* n5_ = nullptr;
  QMenu* n1_ = nullptr;
  QMenu* language1_ = nullptr;
  QAction* n4_ = nullptr;
  QAction* english1_ = nullptr;
  QMenu* n3_ = nullptr;
  QAction* n8_ = nullptr;
  QAction* saveReport_ = nullptr;
  DataMenu* dataMenu_ = nullptr;

  QTimer* timer1_ = nullptr;
  QTimer* timer2_ = nullptr;
  bool startupDone_ = false;
  FilePlaces places_;
  int chosenPort_ = 0;    // vantor --port N (any number with --device)
  QString chosenDevice_;  // vantor --device PATH
  // The instrument the window works with since it connected; another one on
  // the same port after it came back takes its place.
  std::optional<InstrumentIdentity> instrument_;
  bool forgetPending_ = false;  // the pages still show the one before
  bool tellPending_ = false;    // panel 0 is yet to say so
  bool permissionTold_ = false;
  bool busyTold_ = false;

  TForm2* form2_ = nullptr;
  TForm3* form3_ = nullptr;
  TForm4* form4_ = nullptr;
  TForm5* form5_ = nullptr;
  TForm6* form6_ = nullptr;
};

}  // namespace vantor
