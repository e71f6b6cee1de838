#include "TForm1.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <optional>

#include <cstdio>
#include "AboutWindows.h"
#include "ArchivePage.h"
#include "ConnectionManager.h"
#include "DataMenu.h"
#include "DiagnosticLog.h"
#include "DiagnosticReport.h"
#include "ErrorBox.h"
#include "HistoryService.h"
#include "IniFile.h"
#include "LinkOutcome.h"
#include "MeasurePage.h"
#include "MessageTable.h"
#include "NoticeLine.h"
#include "PortMap.h"
#include "QtTranslations.h"
#include "ReturningPort.h"
#include "ScreenCapture.h"
#include "SettingsOperations.h"
#include "SettingsPage.h"
#include "TForm2.h"
#include "WindowStyle.h"

namespace vantor {
namespace {

constexpr char SettingsSection[] = "Common";
constexpr char LanguageKey[] = "Language";

// An instrument's serial in the status bar; a dash for device data of zeros.
QString SerialShown(const InstrumentIdentity& instrument) {
  const QString serial = InstrumentSerial(instrument.DeviceData);
  return serial.isEmpty() ? QStringLiteral("\u2014") : serial;
}

}  // namespace

TForm1::TForm1(CalendarClock* clock, QWidget* parent) : QMainWindow(parent) {
  if (clock == nullptr) {
    ownClock_ = std::make_unique<SystemClock>();
    clock = ownClock_.get();
  }
  trace_ = std::make_unique<LineTrace>();
  tracedClock_ = std::make_unique<TracedClock>(clock);
  tracedClock_->SetTrace(trace_.get());
  session_ = std::make_unique<Session>(tracedClock_.get());
  // A port that comes back is asked who is on it before anything it says
  // is kept.
  session_->Link.SetLineOpener(
      IdentifyingOnReturn(session_->Link, TracingOpener(*trace_, &DeviceLink::OpenMappedPort)));
  history_ = std::make_unique<HistoryService>(ConfiguredHistoryLocation());
  session_->History = history_.get();

  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(QStringLiteral("Vantor"));
  setFont(WindowFont());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  setWindowIcon(ProgramIcon());

  // The client area holds every control at its designed pixel position; on
  // a screen too small for it, it scrolls inside a window that fits.
  client_ = new QWidget;
  client_->setFixedSize(ClientWidth, ClientHeight);
  scrollArea_ = new QScrollArea(this);
  scrollArea_->setObjectName(QStringLiteral("ClientArea"));
  scrollArea_->setFrameShape(QFrame::NoFrame);
  scrollArea_->setFocusPolicy(Qt::NoFocus);
  scrollArea_->setWidget(client_);
  setCentralWidget(scrollArea_);

  pageControl1_ = new QTabWidget(client_);
  pageControl1_->setObjectName(QStringLiteral("PageControl1"));
  pageControl1_->setGeometry(0, 0, 945, 511);
  measure_ = new MeasurePage(*session_);
  settings_ = new SettingsPage(*session_);
  archive_ = new ArchivePage(*session_);
  pageControl1_->addTab(measure_, QStringLiteral("Результат измерения"));
  pageControl1_->addTab(settings_, QStringLiteral("Настройки"));
  pageControl1_->addTab(archive_, QStringLiteral("Архив"));
  pageControl1_->setCurrentWidget(settings_);

  label14_ = new QLabel(QStringLiteral("Прошивка"), client_);
  label14_->setObjectName(QStringLiteral("Label14"));
  label14_->move(176, 517);
  label14_->adjustSize();
  label15_ = new QLabel(QStringLiteral("COM-порт"), client_);
  label15_->setObjectName(QStringLiteral("Label15"));
  label15_->move(873, 517);
  label15_->adjustSize();

  BuildStatusBar(client_);
  BuildMenu();
  // Between the captions above the status bar, over the free strip.
  notice_ = new NoticeLine(client_);
  notice_->setGeometry(250, 512, 610, 23);

  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(1000);
  connect(timer1_, &QTimer::timeout, measure_, &MeasurePage::Timer1Timer);
  timer1_->start();
  // The start-up timer: its first tick runs the connection sequence behind
  // the splash window. The program entry starts it with the message loop.
  timer2_ = new QTimer(this);
  timer2_->setObjectName(QStringLiteral("Timer2"));
  timer2_->setInterval(1);
  connect(timer2_, &QTimer::timeout, this, &TForm1::Timer2Timer);

  // What the pages and the line report goes to the status bar and the box.
  session_->SetPanel = [this](int panel, const QString& text) { SetPanelText(panel, text); };
  session_->ShowError = [](const QString& message) { ShowErrorBox(message); };
  session_->ShowNotice = [this](const Notice& notice) { notice_->Show(notice); };
  session_->ClearNotice = [this](int textRow) { notice_->Clear(textRow); };
  history_->OnOutcome = [this](const HistoryOutcome& outcome) { dataMenu_->Report(outcome); };
  // Each exchange's outcome: in the trace as it happens, on the line's
  // thread; in panel 0 in the order they happened.
  session_->Engine.SetExchangeListener([trace = trace_.get()](LinkStatus status) {
    trace->Record(OutcomeEvent(status), LineTransport::Clock::now());
  });
  connect(&session_->Engine, &InstrumentEngine::Exchanged, this, [this](LinkStatus status) {
    SetPanelText(0, MessageText(OutcomeRow(status), session_->LanguageIndex));
  });
  // An unplugged instrument: "---" while its port is gone, the port again
  // once the link has opened it by itself, and asked who is there. Told on
  // the line's thread, shown on this one, in order with the exchanges.
  session_->Link.OnPortPresence = [this](bool present) {
    const InstrumentIdentity now = IdentityOf(session_->Link.Values());
    QMetaObject::invokeMethod(
        this,
        [this, present, now] {
          if (present) {
            PortBack(now);
          } else {
            SetPanelText(3, QStringLiteral("---"));
            panels_[3]->setToolTip(QString());
          }
        },
        Qt::QueuedConnection);
  };
  session_->OnIdle = [this] {
    TellOtherInstrument();
    if (closePending_) {
      close();
    }
  };

  measure_->OnMemoryFilling = [this](uint32_t count, bool full) {
    archive_->ShowMemoryFilling(count, full);
  };
  settings_->OnReadFailed = [this] { measure_->ResetLiveDisplay(); };
  if (auto* button13 = settings_->findChild<QAbstractButton*>(QStringLiteral("Button13"))) {
    connect(button13, &QAbstractButton::clicked, this, [this] { Button13Click(); });
  }
  connect(pageControl1_, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);

  // Ctrl+Tab and Ctrl+PgDn go to the next tab, Ctrl+Shift+Tab and
  // Ctrl+PgUp to the one before, wherever the keyboard is.
  const auto nextTab = [this](int by) {
    const int count = pageControl1_->count();
    pageControl1_->setCurrentIndex((pageControl1_->currentIndex() + by + count) % count);
  };
  for (const QKeySequence& keys :
       {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [nextTab] { nextTab(1); });
  }
  for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                   QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab),
                                   QKeySequence(Qt::CTRL | Qt::Key_PageUp)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, [nextTab] { nextTab(-1); });
  }

  FitToScreen();

  places_ = ChooseFilePlaces(CurrentFilePlaceFacts(QCoreApplication::applicationDirPath()));
  FormCreate();
}

TForm1::~TForm1() {
  // Whatever still runs on the line stops between two exchanges, before the
  // pages and the history it reports to go.
  session_->Drain();
  session_->OnIdle = nullptr;
  session_->Engine.SetExchangeListener({});
  // The pages hold a reference to the session: they go first.
  session_->Link.OnPortPresence = nullptr;
  session_->SetPanel = [](int, const QString&) {};
  session_->ShowNotice = [](const Notice&) {};
  session_->ClearNotice = [](int) {};
  history_->OnOutcome = nullptr;
  delete takeCentralWidget();
  // Closing waits at most its bound; what the history has not taken by
  // then waits in the spool for the next start, and the log says where.
  history_->Close();
  if (const int64_t spooled = history_->Spooled(); spooled > 0) {
    std::fprintf(stderr,
                 "Vantor: %lld readings and events wait in the spool %s for the history (%s); "
                 "they go in when it answers again\n",
                 static_cast<long long>(spooled), qPrintable(history_->SpoolPath()),
                 qPrintable(history_->Location().Text()));
  }
}

void TForm1::FitToScreen() {
  const QSize design(ClientWidth, ClientHeight + mainMenu1_->sizeHint().height());
  const QScreen* screen =
      this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    setFixedSize(design);
    return;
  }
  const QRect area = screen->availableGeometry();
  // The window manager's frame is known once the window is shown; before,
  // room is kept for a title bar.
  QSize frame = frameGeometry().size() - geometry().size();
  if (!isVisible() || frame.isEmpty()) {
    frame = frame.expandedTo(QSize(8, 32));
  }
  const QSize size = design.boundedTo(area.size() - frame);
  setFixedSize(size);
  // Inside the available area, centred where there is room.
  const QSize outer = size + frame;
  const QRect now(frameGeometry().topLeft(), outer);
  if (!positioned_ || !area.contains(now)) {
    move(area.left() + std::max(0, (area.width() - outer.width()) / 2),
         area.top() + std::max(0, (area.height() - outer.height()) / 2));
    positioned_ = true;
  }
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FitToScreen();
}

void TForm1::BuildMenu() {
  mainMenu1_ = new QMenuBar(this);
  mainMenu1_->setObjectName(QStringLiteral("MainMenu1"));
  setMenuBar(mainMenu1_);

  n2_ = mainMenu1_->addMenu(QStringLiteral("Связь"));
  n2_->setObjectName(QStringLiteral("N2"));
  n5_ = n2_->addAction(QStringLiteral("Установить"));
  n5_->setObjectName(QStringLiteral("N5"));

  n1_ = mainMenu1_->addMenu(QStringLiteral("Вид"));
  n1_->setObjectName(QStringLiteral("N1"));
  language1_ = n1_->addMenu(QStringLiteral("Язык/Language"));
  language1_->setObjectName(QStringLiteral("Language1"));
  n4_ = language1_->addAction(MarkAccelerator(QStringLiteral("Русский"), u'Р'));
  n4_->setObjectName(QStringLiteral("N4"));
  n4_->setCheckable(true);
  english1_ = language1_->addAction(MarkAccelerator(QStringLiteral("English"), u'E'));
  english1_->setObjectName(QStringLiteral("English1"));
  english1_->setCheckable(true);

  n3_ = mainMenu1_->addMenu(QStringLiteral("Справка"));
  n3_->setObjectName(QStringLiteral("N3"));
  n8_ = n3_->addAction(QStringLiteral("О программе"));
  n8_->setObjectName(QStringLiteral("N8"));

  connect(n4_, &QAction::triggered, this, &TForm1::N4Click);
  connect(english1_, &QAction::triggered, this, &TForm1::English1Click);
  connect(n8_, &QAction::triggered, this, &TForm1::N8Click);
  connect(n5_, &QAction::triggered, this, &TForm1::N5Click);
  saveReport_ = n3_->addAction(QString());
  saveReport_->setObjectName(QStringLiteral("SaveReport"));
  connect(saveReport_, &QAction::triggered, this, &TForm1::SaveReportClick);

  dataMenu_ = new DataMenu(*session_, mainMenu1_, this);
}

void TForm1::BuildStatusBar(QWidget* client) {
  constexpr int height = 19;
  statusBar1_ = new QStatusBar(client);
  statusBar1_->setObjectName(QStringLiteral("StatusBar1"));
  statusBar1_->setSizeGripEnabled(false);
  statusBar1_->setGeometry(0, ClientHeight - height, ClientWidth, height);
  // Panels side by side at fixed widths from the left edge; the last one
  // runs past the window's edge, as designed.
  int left = 0;
  for (size_t i = 0; i < panels_.size(); ++i) {
    auto* panel = new QLabel(statusBar1_);
    panel->setObjectName(QStringLiteral("Panel%1").arg(i));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setContentsMargins(2, 0, 2, 0);
    // The firmware text and the port come from outside: never markup.
    panel->setTextFormat(Qt::PlainText);
    panel->setGeometry(left, 1, PanelWidths[i] - 2, height - 1);
    left += PanelWidths[i];
    panels_[i] = panel;
  }
}

bool TForm1::StartTraceFile(const QString& path, QString* error) {
  if (!trace_->WriteTo(path, error)) {
    return false;
  }
  trace_->Note(QStringLiteral("program vantor %1 (Qt %2)")
                   .arg(QCoreApplication::applicationVersion(), QString::fromLatin1(qVersion())));
  trace_->Note(ClockNote(*session_->Clock));
  return true;
}

void TForm1::FormCreate() {
  const int stored = ReadIniInteger(SettingsFilePath(), SettingsSection, LanguageKey, 0);
  // Only 0 and 1 name a language; anything else in a hand-edited file is
  // taken as Russian.
  session_->LanguageIndex = stored == 1 ? 1 : 0;
  ApplyLanguage(session_->LanguageIndex);
  measure_->SetLiveRefreshPending();
}

void TForm1::FormClose() {
  const QString path = SettingsFilePath();
  if (places_.Moved) {
    QDir().mkpath(QFileInfo(path).absolutePath());
  }
  const QByteArray value = QByteArray::number(session_->LanguageIndex);
  if (!WriteIniString(path, SettingsSection, LanguageKey, value)) {
    session_->ShowError(FileWriteErrorText(path));
  }
  // On the line's thread, where the port was opened; nothing else runs
  // there now, so this waits only for the close itself.
  session_->Engine.RunAndWait(QStringLiteral("close port"),
                              [](OperationControl& control) { control.Link().ClosePort(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!session_->Idle()) {
    // Closed while an operation runs (a port search, an archive read): it
    // ends as it would, and the window closes once the line is free.
    closePending_ = true;
    event->ignore();
    return;
  }
  closePending_ = false;
  FormClose();
  event->accept();
}

void TForm1::ApplyLanguage(int language) {
  if (language == 0) {
    n4_->setChecked(true);
    english1_->setChecked(false);
  } else if (language == 1) {
    n4_->setChecked(false);
    english1_->setChecked(true);
  }
  const auto lang = static_cast<uint8_t>(language == 1 ? 1 : 0);
  const auto text = [lang](MessageRow row) { return MessageText(row, lang); };
  UseQtTranslations(lang);

  pageControl1_->setTabText(pageControl1_->indexOf(measure_), text(RowMeasureTab));
  pageControl1_->setTabText(pageControl1_->indexOf(settings_), text(RowSettingsTab));
  pageControl1_->setTabText(pageControl1_->indexOf(archive_), text(RowArchiveTab));
  // Alt and a letter of each caption opens a menu or picks an item, in
  // either language.
  const bool russian = lang == 0;
  const auto menu = [&text, russian](MessageRow row, char16_t ru, char16_t en) {
    return MarkAccelerator(text(row), russian ? QChar(ru) : QChar(en));
  };
  n2_->setTitle(menu(RowConnectionMenu, u'С', u'C'));
  n5_->setText(menu(RowConnectItem, u'У', u'M'));
  n1_->setTitle(menu(RowViewMenu, u'В', u'V'));
  language1_->setTitle(menu(RowLanguage, u'Я', u'L'));
  n3_->setTitle(menu(RowHelpMenu, u'п', u'H'));
  n8_->setText(menu(RowAboutItem, u'О', u'A'));
  saveReport_->setText(menu(RowSaveReportItem, u'С', u'S'));
  dataMenu_->ApplyLanguage(lang);
  notice_->ApplyLanguage(lang);

  measure_->ApplyLanguage(lang);
  settings_->ApplyLanguage(lang);
  archive_->ApplyLanguage(lang);

  SetCaptions({{label14_, RowFirmware}, {label15_, RowComPort}}, lang);
  if (!panels_[3]->toolTip().isEmpty()) {
    ShowConnectedPort();
  }
  label14_->adjustSize();
  label15_->adjustSize();
  if (form2_ != nullptr) {
    form2_->ApplyLanguage(lang);
  }
}

void TForm1::N4Click() {
  session_->LanguageIndex = 0;
  ApplyLanguage(0);
  n4_->setChecked(true);
  english1_->setChecked(false);
}

void TForm1::English1Click() {
  session_->LanguageIndex = 1;
  ApplyLanguage(1);
  n4_->setChecked(false);
  english1_->setChecked(true);
}

void TForm1::N8Click() {
  if (session_->PortNumber == 0) {
    return;
  }
  if (session_->LanguageIndex == 0 && form3_ != nullptr) {
    form3_->exec();
  } else if (session_->LanguageIndex == 1 && form4_ != nullptr) {
    form4_->exec();
  }
}

void TForm1::PageControl1Change(int index) {
  if (pageControl1_->widget(index) != measure_) {
    return;
  }
  if (!timer1_->isActive()) {
    timer1_->start();
  }
  SetPanelText(0, QString());
  measure_->SetLiveRefreshPending();
}

void TForm1::Timer2Timer() {
  if (startupDone_) {
    show();
    if (form5_ != nullptr) {
      form5_->close();
    }
    if (form6_ != nullptr) {
      form6_->close();
    }
    return;
  }

  if (session_->Busy) {
    return;  // the search of the first tick is still under way
  }
  // Paused while the search runs, so it cannot run a second time; it
  // starts again when the search has ended.
  const bool running = timer2_->isActive();
  timer2_->stop();
  QWidget* splash = nullptr;
  if (session_->LanguageIndex == 0) {
    splash = form5_;
  } else if (session_->LanguageIndex == 1) {
    splash = form6_;
  }
  if (splash != nullptr) {
    // Painted by the event loop while the search runs on the line's thread.
    splash->show();
  }
  hide();
  timer2_->setInterval(3000);
  session_->Link.InitDictionary();
  archive_->ComputeArchiveLayout();
  ApplyLanguage(session_->LanguageIndex);
  session_->Link.SetDeviceAddress(DefaultDeviceAddress);
  const auto searched = [this, running](int) { StartupSearched(running); };
  if (chosenPort_ != 0) {
    Connect(ConnectChosenPort, chosenPort_, searched);
  } else {
    Connect(ConnectAutoDetect, form2_ != nullptr ? form2_->ChosenPort() : 0, searched);
  }
}

void TForm1::StartupSearched(bool restartTimer) {
  startupDone_ = true;
  if (form2_ != nullptr) {
    form2_->ProgressBar1->setValue(0);
  }
  if (session_->PortNumber != 0) {
    ShowConnectedPort();
    if (!timer1_->isActive()) {
      timer1_->start();
    }
  }
  archive_->ClearArchiveView();
  measure_->ClearChartSeries();
  // The main window comes back 3 s after the search has ended, however long
  // it took.
  if (restartTimer) {
    timer2_->start();
  }
}

void TForm1::N5Click() {
  if (form2_ == nullptr) {
    return;
  }
  form2_->ProgressBar1->setValue(0);
  // Closing the dialog without a button keeps the previous mode; the
  // connection follows either way.
  form2_->exec();
  // Shown again, not modally, so its progress bar is seen during the search.
  form2_->show();
  Connect(form2_->ConnectMode, form2_->ChosenPort(), [this](int found) {
    if (found != 0) {
      ShowConnectedPort();
    }
    form2_->close();
  });
}

void TForm1::Button13Click() {
  if (session_->Busy) {
    return;
  }
  auto capture = std::make_shared<ScreenCaptureResult>();
  session_->Run(
      this, QStringLiteral("screen capture"),
      [capture, folder = places_.ScreenFolder](OperationControl& control) {
        *capture = CaptureScreen(control.Link(), folder);
      },
      [this, capture](const OperationOutcome&) {
        // A failed read shows only its outcome in panel 0.
        if (!capture->FailedFile.isEmpty()) {
          session_->ShowError(FileWriteErrorText(capture->FailedFile));
        } else if (capture->Read && places_.Moved) {
          // Not where the user started the program: say where.
          SetPanelText(0, MessageText(RowScreenSavedIn, session_->LanguageIndex)
                              .arg(QDir::toNativeSeparators(places_.ScreenFolder)));
        }
      });
}

void TForm1::ConnectDevice(int mode) {
  Connect(mode, form2_ != nullptr ? form2_->ChosenPort() : 0);
}

void TForm1::Connect(int mode, int chosen, std::function<void(int found)> then) {
  if (session_->Busy) {
    return;  // a search or a read is under way already
  }
  if (mode == ConnectAutoDetect) {
    session_->PortNumber = 0;
  }
  if (form2_ != nullptr) {
    form2_->ProgressBar1->setRange(0, 255);
    form2_->ProgressBar1->setValue(0);
  }
  // The search runs on the line's thread with the settings read as the
  // test of each port; the read that found the instrument fills the tab.
  auto search = std::make_shared<InstrumentSearch>();
  auto found = std::make_shared<std::optional<SettingsRead>>();
  auto shownPort = std::make_shared<int>(0);
  CalendarClock* clock = session_->Clock;
  session_->Run(
      this, QStringLiteral("port search"),
      [search, found, clock, mode, chosen](OperationControl& control) {
        DeviceLink& link = control.Link();
        *search = FindInstrument(
            link, *clock, mode, chosen,
            [&link, found] {
              SettingsRead read = ReadSettings(link);
              if (!read.Identified()) {
                return false;
              }
              *found = read;
              return true;
            },
            [&control](int port) { control.Progress(port, 255); });
      },
      [this, search, found, shownPort, mode, chosen, then](const OperationOutcome&) {
        if (*found) {
          settings_->ShowSettingsRead(**found);
        }
        ConnectSteps steps;
        if (form2_ != nullptr) {
          steps.ShowFoundPort = [this](int port) { form2_->SelectPort(port); };
          steps.ShowBusyPorts = [this, mode, chosen](const InstrumentSearch& s) {
            form2_->MarkBusyPorts(s.BusyPorts, mode == ConnectAutoDetect ? 0 : chosen);
          };
        }
        steps.ShowRefusal = [this](const InstrumentSearch& s) { ShowPortRefusal(s); };
        const int port = ShowSearch(*session_, mode, *search, steps);
        if (port != 0) {
          instrument_ = IdentityOf(session_->Link.Values());
        } else {
          instrument_.reset();
          panels_[3]->setToolTip(QString());
        }
        // A fresh connection shows nothing of the one before anyway.
        forgetPending_ = false;
        tellPending_ = false;
        if (form2_ != nullptr) {
          form2_->ProgressBar1->setValue(*shownPort);  // where the search ended
        }
        if (then) {
          then(port);
        }
      },
      [this, shownPort](int port, int, const QString&) {
        *shownPort = port;
        if (form2_ != nullptr) {
          form2_->ProgressBar1->setValue(port);
        }
      },
      true);
}

void TForm1::ShowPortRefusal(const InstrumentSearch& search) {
  qCWarning(lcApp).noquote() << SearchRefusalText(search, 1);
  bool& told = search.Refusal == OpenFailure::Busy ? busyTold_ : permissionTold_;
  if (told) {
    return;
  }
  told = true;
  auto* notice =
      new QMessageBox(QMessageBox::Warning, windowTitle(),
                      SearchRefusalText(search, session_->LanguageIndex), QMessageBox::Ok, this);
  notice->setObjectName(QStringLiteral("PortRefusalNotice"));
  notice->setWindowModality(Qt::NonModal);
  notice->setAttribute(Qt::WA_DeleteOnClose);
  notice->show();
}

void TForm1::SaveReportClick() {
  QString start = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (start.isEmpty()) {
    start = QDir::homePath();
  }
  const QString parent = QFileDialog::getExistingDirectory(
      this, TitleOf(MessageText(RowSaveReportItem, session_->LanguageIndex)), start,
      QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (!parent.isEmpty()) {
    SaveDiagnosticReport(parent);
  }
}

void TForm1::SaveDiagnosticReport(const QString& parent) {
  DiagnosticReport report;
  report.Made = QDateTime::currentDateTime();
  report.About = DescribeRun(*session_, places_);
  report.Trace = trace_->Recent();
  report.Log = DiagnosticLog::Recent();
  auto outcome = std::make_shared<std::pair<QString, QString>>();
  QThread* writer = QThread::create([parent, report, outcome] {
    outcome->first = WriteDiagnosticReport(parent, report, &outcome->second);
  });
  connect(writer, &QThread::finished, this,
          [this, parent, outcome] { ReportWritten(parent, outcome->first, outcome->second); });
  connect(writer, &QThread::finished, writer, &QObject::deleteLater);
  writer->start();
}

void TForm1::ReportWritten(const QString& parent, const QString& folder, const QString& error) {
  const uint8_t lang = session_->LanguageIndex;
  if (folder.isEmpty()) {
    qCWarning(lcApp).noquote() << "the diagnostic report could not be written in" << parent << ":"
                               << error;
    SetPanelText(0,
                 MessageText(RowReportFailed, lang).arg(QDir::toNativeSeparators(parent), error));
  } else {
    qCInfo(lcApp).noquote() << "diagnostic report written in" << folder;
    SetPanelText(0, MessageText(RowReportSaved, lang).arg(QDir::toNativeSeparators(folder)));
  }
  if (OnReportWritten) {
    OnReportWritten(folder, error);
  }
}

void TForm1::ShowConnectedPort() {
  SetPanelText(3, chosenDevice_.isEmpty() ? QStringLiteral("COM%1").arg(session_->PortNumber)
                                          : chosenDevice_);
  if (instrument_) {
    panels_[3]->setToolTip(MessageText(RowInstrumentOnPort, session_->LanguageIndex)
                               .arg(SerialShown(*instrument_), instrument_->Firmware.trimmed()));
  }
}

void TForm1::PortBack(const InstrumentIdentity& now) {
  if (instrument_ && now != *instrument_) {
    qCInfo(lcApp).noquote() << "another instrument on the port:" << InstrumentName(now);
    instrument_ = now;
    SetPanelText(1, now.Firmware);
    forgetPending_ = true;
    tellPending_ = true;
    // What the pages show goes at once unless a long operation is under
    // way on them; panel 0 says so once the exchange has reported its own
    // outcome.
    if (!session_->Busy) {
      ForgetOtherInstrument();
    }
    // Panel 0 says so once the operation that met it has shown its own
    // outcomes (OnIdle).
  }
  ShowConnectedPort();
}

void TForm1::ForgetOtherInstrument() {
  if (!forgetPending_) {
    return;
  }
  forgetPending_ = false;
  archive_->ForgetRecords();
  settings_->ClearValues();
  measure_->ClearChartSeries();
}

void TForm1::TellOtherInstrument() {
  if (!tellPending_) {
    return;
  }
  if (session_->Busy) {
    return;  // told once the line is free (OnIdle)
  }
  ForgetOtherInstrument();
  tellPending_ = false;
  if (instrument_) {
    SetPanelText(
        0, MessageText(RowOtherInstrument, session_->LanguageIndex).arg(SerialShown(*instrument_)));
  }
}

void TForm1::ChoosePort(int port) {
  chosenPort_ = port;
  setWindowTitle(QStringLiteral("Vantor \u2014 COM%1").arg(port));
  if (form2_ != nullptr) {
    form2_->SelectPort(port);
  }
}

void TForm1::ChooseDevice(const QString& path) {
  // Every number the link asks for is this device, so a reconnection (the
  // dialog, a device that came back) finds it again; the trace names it by
  // its path, as vantorctl's does.
  DeviceLink::LineOpener traced =
      TracingOpener(*trace_, [path](int) { return DeviceLink::OpenDevicePath(path); });
  session_->Link.SetLineOpener(
      IdentifyingOnReturn(session_->Link, [traced = std::move(traced)](int) { return traced(0); }));
  chosenDevice_ = path;
  chosenPort_ = FirstPortNumber;
  setWindowTitle(QStringLiteral("Vantor \u2014 %1").arg(path));
}

QString TForm1::PanelText(int panel) const {
  if (panel < 0 || panel >= static_cast<int>(panels_.size())) {
    return QString();
  }
  return panels_[static_cast<size_t>(panel)]->text();
}

void TForm1::SetPanelText(int panel, const QString& text) {
  if (panel < 0 || panel >= static_cast<int>(panels_.size())) {
    return;
  }
  panels_[static_cast<size_t>(panel)]->setText(text);
}

void TForm1::SetSecondaryWindows(TForm2* form2, TForm3* form3, TForm4* form4, TForm5* form5,
                                 TForm6* form6) {
  form2_ = form2;
  if (form2_ != nullptr) {
    form2_->ApplyLanguage(session_->LanguageIndex);
    if (chosenPort_ != 0 && chosenDevice_.isEmpty()) {
      form2_->SelectPort(chosenPort_);
    }
  }
  form3_ = form3;
  form4_ = form4;
  form5_ = form5;
  form6_ = form6;
}

}  // namespace vantor
