// Finding the instrument with the real windows: the start-up tick behind the
// splash window and the connection dialog from the menu, against the virtual
// instrument and silent ports on real pseudo-terminals.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "AppTestSupport.h"
#include "ArchivePage.h"
#include "CalendarClock.h"
#include "Eventually.h"
#include "LineTrace.h"
#include "MeasurePage.h"
#include "PageFixture.h"
#include "PortMap.h"
#include "ProgramWindows.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

using test::WorkDir;
using test::WriteBytes;

class ConnectionE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureVantorApplication(); }

  void Instrument(int port) {
    instrument_ = std::make_unique<sim::VirtualInstrument>();
    ASSERT_TRUE(instrument_->PinAs(port));
  }
  sim::SilentPort& Silent(int port) {
    silent_.push_back(std::make_unique<sim::SilentPort>(port));
    EXPECT_TRUE(silent_.back()->Ok());
    return *silent_.back();
  }

  void SetUp() override {
    // A pinned map, so the machine's own ports are never looked at: COM200
    // names a device that does not exist.
    bool pinned = false;
    PinPort(200, home_.Path() + "/absent", &pinned);
    ASSERT_TRUE(pinned);
  }

  // The program's windows, with the main window shown as the entry shows it.
  void Start() {
    windows_ = std::make_unique<ProgramWindows>(&clock_);
    form_ = windows_->Form1.get();
    dialog_ = windows_->Form2.get();
    form_->show();
  }

  // "Связь" -> "Установить" from the menu; `use` acts on the dialog from
  // inside its modal loop.
  void ConnectThroughDialog(const std::function<void(TForm2&)>& use) {
    bool wasModal = false;
    QTimer::singleShot(0, dialog_, [this, use, &wasModal] {
      wasModal = QApplication::activeModalWidget() == dialog_;
      use(*dialog_);
    });
    form_->findChild<QAction*>(QStringLiteral("N5"))->trigger();
    Settle();
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(dialog_->isVisible());
  }

  Session& session() { return form_->GetSession(); }
  // The search (or poll) a call gave the engine has ended and shows.
  void Settle() { EXPECT_TRUE(test::Settled(session())); }

  TempConfigHome home_;
  WorkDir dir_;
  test::ErrorBoxCatcher errors_;
  FixedClock clock_{1700000000};
  std::unique_ptr<sim::VirtualInstrument> instrument_;
  std::vector<std::unique_ptr<sim::SilentPort>> silent_;
  std::unique_ptr<ProgramWindows> windows_;  // goes first, closing its port
  TForm1* form_ = nullptr;
  TForm2* dialog_ = nullptr;
};

TEST_F(ConnectionE2e, StartupFindsTheInstrumentBehindTheSplashAndShowsTheWindowOnTheNextTick) {
  sim::SilentPort& com1 = Silent(1);
  sim::SilentPort& com2 = Silent(2);
  Instrument(3);
  instrument_->SetFirmware("<h1>BIG</h1> v1.0");  // markup from outside, shown as it is
  Start();
  dialog_->ProgressBar1->setValue(77);

  form_->Timer2Timer();
  Settle();

  EXPECT_TRUE(form_->StartupDone());
  EXPECT_TRUE(windows_->Form5->isVisible());  // Russian splash
  EXPECT_FALSE(windows_->Form6->isVisible());
  EXPECT_FALSE(form_->isVisible());
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_EQ(form_->Timer2()->interval(), 3000);
  EXPECT_EQ(session().PortNumber, 3);
  EXPECT_EQ(session().Link.OpenPortNumber(), 3);
  EXPECT_EQ(form_->PanelText(3), "COM3");
  EXPECT_EQ(form_->PanelText(1), "<h1>BIG</h1> v1.0");  // the settings were read
  // Drawn as the literal text: as wide as its characters, one line high.
  const auto* panel1 = form_->findChild<QLabel*>(QStringLiteral("Panel1"));
  ASSERT_NE(panel1, nullptr);
  const QFontMetrics metrics(panel1->font());
  EXPECT_GE(panel1->sizeHint().width(), metrics.horizontalAdvance("<h1>BIG</h1> v1.0"));
  EXPECT_LT(panel1->sizeHint().height(), 2 * metrics.height());
  EXPECT_EQ(dialog_->ProgressBar1->value(), 0);
  EXPECT_EQ(dialog_->ComboBox1->currentText(), "3");
  // Each silent port got one read of variable 3, and nothing else.
  const std::vector<uint8_t> readService = {0x02, 0x00, 0x00, 0x01, 0x01, 0x01, 0x06,
                                            0x7D, 0x01, 0x00, 0xA0, 0x4A, 0x04, 0x20,
                                            0x03, 0x03, 0x00, 0x00, 0x00};
  EXPECT_EQ(com1.Received(), readService);
  EXPECT_EQ(com2.Received(), readService);
  // The instrument was read as the settings tab reads it: 3, 4, 12, 10.
  std::vector<int> ids;
  for (const std::vector<uint8_t>& request : instrument_->RequestLog()) {
    ASSERT_EQ(request.size(), 19U);
    EXPECT_EQ(request[6], 6) << "a read";
    ids.push_back(request[14]);
  }
  EXPECT_EQ(ids, (std::vector<int>{3, 4, 12, 10}));
  EXPECT_EQ(instrument_->RequestLog().front(), readService);
  EXPECT_TRUE(form_->Timer1()->isActive());
  EXPECT_GT(form_->Archive()->ArchiveCapacity(), 0);

  form_->Timer2Timer();
  Settle();
  EXPECT_TRUE(form_->isVisible());
  EXPECT_FALSE(windows_->Form5->isVisible());
  EXPECT_FALSE(windows_->Form6->isVisible());
  EXPECT_EQ(instrument_->RequestsSeen(IdService), 1u);  // later ticks search nothing
}

TEST_F(ConnectionE2e, RunningStartupTimerSearchesOnceAndWaitsThreeSecondsFromTheEndOfTheSearch) {
  // Six silent ports make a search of about 0.8 s: a timer restarted when
  // the tick began would have at most about 2.2 s left when it ends.
  for (int port = 1; port <= 6; ++port) {
    Silent(port);
  }
  Instrument(7);
  Start();
  form_->Timer2()->start();  // as the program entry does

  ASSERT_TRUE(test::Eventually([this] { return form_->StartupDone(); }, 5000));
  EXPECT_EQ(session().PortNumber, 7);
  EXPECT_EQ(instrument_->RequestsSeen(IdService), 1u);  // the 1 ms timer did not run it again
  EXPECT_TRUE(form_->Timer2()->isActive());
  EXPECT_EQ(form_->Timer2()->interval(), 3000);
  // Slack for a loaded machine between the restart and this check.
  EXPECT_GT(form_->Timer2()->remainingTime(), 2600);
  form_->Timer2()->stop();
}

TEST_F(ConnectionE2e, StartupWithoutAnInstrumentSaysSoInTheLanguageOfTheSplash) {
  const struct {
    const char* ini;
    const char* text;
    bool english;
  } cases[] = {{"[Common]\nLanguage=0\n", "Прибор не обнаружен", false},
               {"[Common]\nLanguage=1\n", "No device", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    WriteBytes(dir_.File("prog.ini"), c.ini);
    Start();
    form_->Timer2Timer();
    Settle();
    EXPECT_EQ(windows_->Form5->isVisible(), !c.english);
    EXPECT_EQ(windows_->Form6->isVisible(), c.english);
    EXPECT_EQ(session().PortNumber, 0);
    EXPECT_EQ(form_->PanelText(3), "---");
    EXPECT_EQ(form_->PanelText(0), c.text);
    windows_.reset();
  }
}

TEST_F(ConnectionE2e, OkWithItemFiveTriesOnlyComFive) {
  sim::SilentPort& com3 = Silent(3);
  sim::SilentPort& com4 = Silent(4);
  Instrument(5);
  Start();

  ConnectThroughDialog([](TForm2& dialog) {
    dialog.ComboBox1->setCurrentIndex(4);
    dialog.Button1->click();
  });

  EXPECT_EQ(dialog_->ConnectMode, 0);
  EXPECT_EQ(session().PortNumber, 5);
  EXPECT_EQ(form_->PanelText(3), "COM5");
  EXPECT_EQ(com3.BytesReceived(), 0u);
  EXPECT_EQ(com4.BytesReceived(), 0u);
  EXPECT_EQ(instrument_->RequestsSeen(IdService), 1u);
}

TEST_F(ConnectionE2e, AutoDetectAfterTheInstrumentWasUnpluggedEndsWithoutAPort) {
  Instrument(3);
  Start();
  form_->Timer2Timer();
  Settle();
  ASSERT_EQ(session().PortNumber, 3);

  instrument_->Unplug();
  ConnectThroughDialog([](TForm2& dialog) { dialog.Button2->click(); });

  EXPECT_EQ(dialog_->ConnectMode, 1);
  EXPECT_EQ(session().PortNumber, 0);
  EXPECT_FALSE(session().Link.PortOpen());
  EXPECT_EQ(form_->PanelText(3), "---");
  EXPECT_EQ(form_->PanelText(0), "Прибор не обнаружен");
  EXPECT_EQ(dialog_->ComboBox1->currentIndex(), 0);
  EXPECT_EQ(dialog_->ProgressBar1->value(), 254);  // the whole range was tried
}

TEST_F(ConnectionE2e, ClosingTheDialogByItsWindowButtonConnectsWithThePreviousMode) {
  sim::SilentPort& com1 = Silent(1);
  Instrument(2);
  Start();

  // The first time the previous mode is the chosen port, item "1".
  ConnectThroughDialog([](TForm2& dialog) { dialog.close(); });
  EXPECT_EQ(session().PortNumber, 0);
  EXPECT_GT(com1.BytesReceived(), 0u);
  EXPECT_EQ(instrument_->RequestsSeen(IdService), 0u);

  ConnectThroughDialog([](TForm2& dialog) { dialog.Button2->click(); });
  ASSERT_EQ(session().PortNumber, 2);
  EXPECT_EQ(dialog_->ComboBox1->currentText(), "2");

  // Still searching: COM1 is tried again before the instrument on COM2,
  // which the chosen item "2" alone would not do.
  const uint64_t before = com1.BytesReceived();
  ConnectThroughDialog([](TForm2& dialog) { dialog.close(); });
  EXPECT_EQ(session().PortNumber, 2);
  EXPECT_GT(com1.BytesReceived(), before);
}

TEST_F(ConnectionE2e, NoSelectionInTheListEndsWithoutAPort) {
  Instrument(3);
  Start();
  form_->Timer2Timer();
  Settle();
  ASSERT_EQ(form_->PanelText(3), "COM3");
  const uint64_t requests = instrument_->TotalRequests();

  ConnectThroughDialog([](TForm2& dialog) {
    dialog.ComboBox1->setCurrentIndex(-1);
    dialog.Button1->click();
  });

  EXPECT_EQ(session().PortNumber, 0);
  EXPECT_FALSE(session().Link.PortOpen());
  EXPECT_EQ(form_->PanelText(3), "---");
  EXPECT_EQ(form_->PanelText(0), "Прибор не обнаружен");
  EXPECT_EQ(instrument_->TotalRequests(), requests);
}

TEST_F(ConnectionE2e, FoundPortBeyondTheListIsAddedAndSelectedAndOkUsesIt) {
  Instrument(23);
  Start();

  ConnectThroughDialog([](TForm2& dialog) { dialog.Button2->click(); });
  ASSERT_EQ(session().PortNumber, 23);
  EXPECT_EQ(dialog_->ComboBox1->currentIndex(), 22);
  EXPECT_EQ(dialog_->ComboBox1->currentText(), "23");
  EXPECT_EQ(form_->PanelText(3), "COM23");

  const uint32_t reads = instrument_->RequestsSeen(IdService);
  ConnectThroughDialog([](TForm2& dialog) {
    EXPECT_TRUE(dialog.Label3->text().contains("/dev/pts/"));
    dialog.Button1->click();
  });
  EXPECT_EQ(session().PortNumber, 23);
  EXPECT_EQ(instrument_->RequestsSeen(IdService), reads + 1);
}

TEST_F(ConnectionE2e, LiveTabPollsTheFoundInstrumentOnceItIsShown) {
  Instrument(3);
  instrument_->SetBackground(2.5);
  instrument_->SetDeviceClock(clock_.ToLocal(clock_.Now()));  // no clock write on the poll
  Start();
  form_->Timer2Timer();
  Settle();
  form_->Timer2Timer();
  Settle();
  ASSERT_EQ(session().PortNumber, 3);

  form_->Measure()->Timer1Timer();  // the settings tab is in front: no poll
  Settle();
  EXPECT_EQ(instrument_->RequestsSeen(IdMeasurement), 0u);

  form_->PageControl()->setCurrentIndex(0);
  instrument_->AdvanceSeconds(2);
  clock_.Advance(2);
  form_->Measure()->Timer1Timer();
  Settle();

  EXPECT_EQ(instrument_->RequestsSeen(IdMeasurement), 1u);
  EXPECT_EQ(form_->PanelText(0), "Чтение");
  EXPECT_NE(form_->Measure()->findChild<QLabel*>(QStringLiteral("Label2"))->text(), "- - -");
}

// A port that exists but will not open for the user is said so, instead of
// "no device": in panel 0 every time, and in a notice once a run that does
// not wait for a click (the same for a port another program holds).
TEST_F(ConnectionE2e, APortRefusedIsSaidInPanelZeroAndOnceInANoticeThatWaitsForNobody) {
  Start();
  session().Link.SetLineOpener([](int number) -> OpenedLine {
    if (number == 4) {
      return {OpenFailure::PermissionDenied, QStringLiteral("/dev/ttyUSB4")};
    }
    if (number == 5) {
      return {OpenFailure::Busy, QStringLiteral("/dev/ttyUSB5")};
    }
    return {};
  });
  const auto notices = [this] {
    QStringList texts;
    for (auto* box : form_->findChildren<QMessageBox*>(QStringLiteral("PortRefusalNotice"))) {
      EXPECT_TRUE(box->isVisible());
      EXPECT_EQ(box->windowModality(), Qt::NonModal);
      texts << box->text();
    }
    return texts;
  };
  const QString denied = QString::fromUtf8(
      "COM4 (/dev/ttyUSB4): нет доступа — добавьте себя в группу dialout и войдите в систему "
      "заново");

  form_->ConnectDevice(ConnectAutoDetect);
  Settle();
  EXPECT_EQ(session().PortNumber, 0);
  EXPECT_EQ(form_->PanelText(0), denied);
  EXPECT_EQ(form_->PanelText(3), "---");
  EXPECT_EQ(notices(), QStringList{denied});
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  form_->English1Click();
  form_->ConnectDevice(ConnectAutoDetect);
  Settle();
  EXPECT_EQ(form_->PanelText(0),
            "COM4 (/dev/ttyUSB4): permission denied \u2014 add yourself to the group dialout and "
            "log in again");
  EXPECT_EQ(notices().size(), 1);  // told once

  dialog_->SelectPort(5);
  form_->ConnectDevice(ConnectChosenPort);
  Settle();
  EXPECT_EQ(form_->PanelText(0), "COM5 (/dev/ttyUSB5): the port is held by another program");
  EXPECT_EQ(notices().size(), 2);
}

// Help -> Save diagnostic report: a folder with the trace of the line so
// far, what the program runs on and with, and the log; panel 0 says where.
TEST_F(ConnectionE2e, TheDiagnosticReportHoldsTheTraceThePortsAndTheVersions) {
  Instrument(3);
  Start();
  form_->Timer2Timer();
  Settle();
  ASSERT_EQ(session().PortNumber, 3);
  const QString pty = QString::fromStdString(instrument_->PtyPath());
  QTemporaryDir parent;

  QString written;
  bool done = false;
  form_->OnReportWritten = [&](const QString& folder, const QString&) {
    written = folder;
    done = true;
  };
  const auto* item = form_->findChild<QAction*>(QStringLiteral("SaveReport"));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text().remove(QLatin1Char('&')),
            QString::fromUtf8("Сохранить отчёт для диагностики…"));
  form_->SaveDiagnosticReport(parent.path());
  ASSERT_TRUE(test::Eventually([&done] { return done; }, 10000));
  ASSERT_TRUE(written.startsWith(parent.path() + "/vantor-report-")) << written.toStdString();
  EXPECT_EQ(form_->PanelText(0), QString::fromUtf8("Отчёт сохранён: ") + written);

  const std::optional<ParsedTrace> trace = ParseTrace(test::ReadBytes(written + "/trace.txt"));
  ASSERT_TRUE(trace.has_value());
  int requests = 0;
  bool opened = false;
  for (const TraceEvent& event : trace->Events) {
    opened = opened || (event.Kind == TraceKind::Open && event.Port == 3 && event.Path == pty);
    requests += event.Kind == TraceKind::Write ? 1 : 0;
  }
  EXPECT_TRUE(opened);
  EXPECT_EQ(requests, static_cast<int>(instrument_->RequestLog().size()));
  const QString about = QString::fromUtf8(test::ReadBytes(written + "/about.txt"));
  EXPECT_TRUE(about.contains("Qt " + QString::fromLatin1(qVersion()))) << about.toStdString();
  EXPECT_TRUE(about.contains("Port in use: COM3 (" + pty + ")")) << about.toStdString();
  EXPECT_TRUE(about.contains(QString::fromUtf8("  COM3 \u2014 ") + pty + ", pseudo-terminal"))
      << about.toStdString();
  EXPECT_TRUE(QFileInfo(written + "/log.txt").isFile());

  // A place where no folder can be made: said, nothing half written.
  done = false;
  test::WriteBytes(parent.filePath("a-file"), "x");
  form_->SaveDiagnosticReport(parent.filePath("a-file"));
  ASSERT_TRUE(test::Eventually([&done] { return done; }, 10000));
  EXPECT_TRUE(written.isEmpty());
  EXPECT_TRUE(form_->PanelText(0).startsWith(QString::fromUtf8("Не удалось сохранить отчёт в ")));
}

}  // namespace
}  // namespace vantor
