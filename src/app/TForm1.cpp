#include "TForm1.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <thread>

#include "AboutWindows.h"
#include "ArchivePage.h"
#include "ConnectionManager.h"
#include "DataMenu.h"
#include "ErrorBox.h"
#include "HistoryStore.h"
#include "IdleTimeLender.h"
#include "IniFile.h"
#include "MeasurePage.h"
#include "MessageTable.h"
#include "ScreenCapture.h"
#include "SettingsPage.h"
#include "TForm2.h"
#include "WindowStyle.h"

namespace vantor {
namespace {

constexpr char SettingsSection[] = "Common";
constexpr char LanguageKey[] = "Language";

// Shows a window and has it on screen before a long blocking step (the port
// search): a window just shown is painted only once the window system has
// mapped it, which it reports through the event loop, so wait for that
// briefly, then paint.
void ShowAndPaintNow(QWidget* window) {
  window->show();
  QElapsedTimer waited;
  waited.start();
  while (window->windowHandle() != nullptr && !window->windowHandle()->isExposed() &&
         waited.elapsed() < 250) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  window->repaint();
}

}  // namespace

TForm1::TForm1(CalendarClock* clock, QWidget* parent) : QMainWindow(parent) {
  if (clock == nullptr) {
    ownClock_ = std::make_unique<SystemClock>();
    clock = ownClock_.get();
  }
  session_ = std::make_unique<Session>(clock);
  history_ = std::make_unique<HistoryStore>(ConfiguredHistoryLocation());
  session_->History = history_.get();

  setObjectName(QStringLiteral("TForm1"));
  setWindowTitle(QStringLiteral("Vantor"));
  setFont(WindowFont());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  // The client area holds every control at its designed pixel position.
  client_ = new QWidget(this);
  client_->setFixedSize(ClientWidth, ClientHeight);
  setCentralWidget(client_);

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
  session_->ReportHistory = [this](const HistoryOutcome& outcome) { dataMenu_->Report(outcome); };
  session_->Link.SetOutcomeHandler(
      [this](int row) { SetPanelText(0, MessageText(row, session_->LanguageIndex)); });
  // An unplugged instrument: "---" while its port is gone, the port again
  // once the link has opened it by itself.
  session_->Link.OnPortPresence = [this](bool present) {
    if (present) {
      ShowConnectedPort();
    } else {
      SetPanelText(3, QStringLiteral("---"));
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

  setFixedSize(ClientWidth, ClientHeight + mainMenu1_->sizeHint().height());
  CenterOnScreen(this);

  FormCreate();
}

TForm1::~TForm1() {
  // The pages hold a reference to the session: they go first.
  session_->Link.SetOutcomeHandler([](int) {});
  session_->Link.OnPortPresence = nullptr;
  session_->SetPanel = [](int, const QString&) {};
  session_->ReportHistory = [](const HistoryOutcome&) {};
  delete takeCentralWidget();
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
  n4_ = language1_->addAction(QStringLiteral("Русский"));
  n4_->setObjectName(QStringLiteral("N4"));
  n4_->setCheckable(true);
  english1_ = language1_->addAction(QStringLiteral("English"));
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

QString TForm1::SettingsFilePath() {
  return QDir::current().filePath(QStringLiteral("prog.ini"));
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
  const QByteArray value = QByteArray::number(session_->LanguageIndex);
  if (!WriteIniString(path, SettingsSection, LanguageKey, value)) {
    session_->ShowError(FileWriteErrorText(path));
  }
  session_->Link.ClosePort();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (session_->Busy) {
    // Closed during a port search or an archive read, while the window
    // answers between exchanges: it closes once that has ended.
    event->ignore();
    QTimer::singleShot(100, this, &QWidget::close);
    return;
  }
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

  pageControl1_->setTabText(pageControl1_->indexOf(measure_), text(RowMeasureTab));
  pageControl1_->setTabText(pageControl1_->indexOf(settings_), text(RowSettingsTab));
  pageControl1_->setTabText(pageControl1_->indexOf(archive_), text(RowArchiveTab));
  n2_->setTitle(text(RowConnectionMenu));
  n5_->setText(text(RowConnectItem));
  n1_->setTitle(text(RowViewMenu));
  language1_->setTitle(text(RowLanguage));
  n3_->setTitle(text(RowHelpMenu));
  n8_->setText(text(RowAboutItem));
  dataMenu_->ApplyLanguage(lang);

  measure_->ApplyLanguage(lang);
  settings_->ApplyLanguage(lang);
  archive_->ApplyLanguage(lang);

  SetCaptions({{label14_, RowFirmware}, {label15_, RowComPort}}, lang);
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

  // Paused while the splash window comes up, so that wait cannot run this
  // tick a second time; it starts again when the tick ends.
  const bool running = timer2_->isActive();
  timer2_->stop();
  QWidget* splash = nullptr;
  if (session_->LanguageIndex == 0) {
    splash = form5_;
  } else if (session_->LanguageIndex == 1) {
    splash = form6_;
  }
  if (splash != nullptr) {
    ShowAndPaintNow(splash);
  }
  hide();
  timer2_->setInterval(3000);
  startupDone_ = true;
  session_->Link.InitDictionary();
  archive_->ComputeArchiveLayout();
  ApplyLanguage(session_->LanguageIndex);
  session_->Link.SetDeviceAddress(DefaultDeviceAddress);
  ConnectDevice(ConnectAutoDetect);
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
  if (running) {
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
  ShowAndPaintNow(form2_);
  ConnectDevice(form2_->ConnectMode);
  if (session_->PortNumber != 0) {
    ShowConnectedPort();
  }
  form2_->close();
}

void TForm1::Button13Click() {
  // A failed read shows only its outcome in panel 0.
  const ScreenCaptureResult capture = CaptureScreen(session_->Link);
  if (!capture.FailedFile.isEmpty()) {
    session_->ShowError(FileWriteErrorText(capture.FailedFile));
  }
}

int TForm1::ConnectDevice(int mode) {
  // Timers that fire while the window answers must not exchange.
  const BusyScope busy(*session_);
  ConnectSteps steps;
  steps.TestPort = [this] { return settings_->ReadSettingsPage(); };
  // The port being tried is drawn when the windows are served, in the time
  // the line waits anyway.
  int shownPort = 0;
  IdleTimeLender lender(session_->Link, [this, &shownPort](DeviceLink::Clock::duration budget) {
    if (form2_ != nullptr) {
      form2_->ProgressBar1->setValue(shownPort);
    }
    // The windows keep answering the window manager during the search;
    // clicks and keys wait until it ends.
    QCoreApplication::processEvents(
        QEventLoop::ExcludeUserInputEvents,
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(budget).count()));
  });
  steps.ShowProgress = [&shownPort, &lender](int port) {
    shownPort = port;
    lender.Due();
  };
  int chosen = 0;
  if (form2_ != nullptr) {
    form2_->ProgressBar1->setRange(0, 255);
    form2_->ProgressBar1->setValue(0);
    chosen = form2_->ChosenPort();
    steps.ShowFoundPort = [this](int port) { form2_->SelectPort(port); };
  }
  const int found = vantor::ConnectDevice(*session_, mode, chosen, steps);
  if (form2_ != nullptr) {
    form2_->ProgressBar1->setValue(shownPort);  // where the search ended
  }
  return found;
}

void TForm1::ShowConnectedPort() {
  SetPanelText(3, QStringLiteral("COM%1").arg(session_->PortNumber));
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
  }
  form3_ = form3;
  form4_ = form4;
  form5_ = form5;
  form6_ = form6;
}

}  // namespace vantor
