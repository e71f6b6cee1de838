// The long operations (the port search, the archive read) let the windows
// answer between exchanges, and nothing that fires meanwhile may exchange or
// take the port away. The program's windows on in-memory lines where the
// virtual instrument's model answers (or nothing does).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest/QTest>
#include <memory>

#include "AppTestSupport.h"
#include "ArchivePage.h"
#include "ConnectionManager.h"
#include "Dictionary.h"
#include "Eventually.h"
#include "HistoryService.h"
#include "MeasurePage.h"
#include "MemoryLine.h"
#include "MessageTable.h"
#include "ProgramWindows.h"
#include "TForm2.h"
#include "TempConfigHome.h"

namespace vantor {
namespace {

class BusyWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureVantorApplication(); }

  void SetUp() override {
    windows_ = std::make_unique<ProgramWindows>(&clock_);
    form_ = windows_->Form1.get();
    form_->Timer1()->stop();
    form_->Timer2()->stop();
    Session& session = form_->GetSession();
    session.Link.InitDictionary();
    // COM1..COM3 are ports where nothing answers, COM4 the instrument.
    session.Link.SetLineOpener([this](int number) -> std::unique_ptr<LineTransport> {
      if (number >= 1 && number <= 3) {
        return std::make_unique<test::MemoryLine>(
            [](const std::vector<uint8_t>&, LineTransport::Clock::time_point) {
              return std::vector<test::MemoryLine::Delivery>{};
            });
      }
      if (number == 4) {
        test::InstrumentPeer peer;
        peer.Model = &model_;
        return std::make_unique<test::MemoryLine>(peer.AsPeer());
      }
      return nullptr;
    });
    // The worst case: the live tab, whose poll exchanges, is on display.
    form_->PageControl()->setCurrentWidget(form_->Measure());
  }

  // A tick of the poll timer posted now: it runs at the first chance the
  // windows get to answer. Records whether a long operation was under way.
  void PostPollTick() {
    QTimer::singleShot(0, form_, [this] {
      tickDuringOperation_ = form_->GetSession().Busy;
      ++ticks_;
      form_->Measure()->Timer1Timer();
    });
  }

  test::WorkDir dir_;  // prog.ini of a closing window goes there
  TempConfigHome home_;
  FixedClock clock_{1741600800};
  sim::InstrumentModel model_;
  std::unique_ptr<ProgramWindows> windows_;
  TForm1* form_ = nullptr;
  int ticks_ = 0;
  bool tickDuringOperation_ = false;
};

TEST_F(BusyWindow, APortSearchAnswersAfterEachPortButNoPollSlipsIn) {
  PostPollTick();
  std::vector<int> shown;
  QObject::connect(windows_->Form2->ProgressBar1, &QProgressBar::valueChanged,
                   [&shown](int value) { shown.push_back(value); });

  EXPECT_EQ(form_->ConnectDevice(ConnectAutoDetect), 4);

  EXPECT_EQ(ticks_, 1);
  EXPECT_TRUE(tickDuringOperation_);
  EXPECT_EQ(model_.RequestsSeen(IdMeasurement), 0u);
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4}));
  // The live tab polls again once the search is over.
  form_->Measure()->Timer1Timer();
  EXPECT_EQ(model_.RequestsSeen(IdMeasurement), 1u);
}

TEST_F(BusyWindow, AnArchiveReadAnswersAfterEachRecordAndClosesOnlyWhenItEnds) {
  model_.PrefillArchive(30);
  Session& session = form_->GetSession();
  session.Link.OpenPort(4);
  ASSERT_EQ(session.Link.ReadVariable(IdMeasurement), 1);
  PostPollTick();
  // The window manager asks the window to close in the middle of the read.
  QTimer::singleShot(0, form_, [this] { form_->close(); });

  form_->Archive()->Button4Click();

  EXPECT_EQ(ticks_, 1);
  EXPECT_TRUE(tickDuringOperation_);
  EXPECT_EQ(model_.RequestsSeen(IdMeasurement), 1u);
  // The port stayed: every record arrived.
  EXPECT_EQ(form_->Archive()->RecordsRead(), 30);
  EXPECT_TRUE(session.Link.PortOpen());
  // The close comes once the read is over.
  EXPECT_TRUE(test::Eventually([&session] { return !session.Link.PortOpen(); }, 1000));
  EXPECT_TRUE(QFileInfo::exists(dir_.File("prog.ini")));
}

TEST_F(BusyWindow, ASilentInstrumentStillLetsTheWindowAnswerDuringEveryAttempt) {
  Session& session = form_->GetSession();
  session.Link.OpenPort(1);
  session.Link.Values().Measurement.ArchiveRecordCount = 5;
  int served = 0;
  form_->Archive()->ServeDuringRead = [&served](int) { ++served; };

  form_->Archive()->Button4Click();

  // While every attempt of the start command, then of the first record until
  // the read gives the instrument up, waits for a late reply to pass or, for
  // a record, to come after all.
  EXPECT_GE(served, 2 * DeviceLink::RetryAttempts);
  EXPECT_EQ(form_->Archive()->RecordsRead(), 0);
}

TEST_F(BusyWindow, CancelOrEscStopsAnArchiveReadKeepingWhatCameAndOtherClicksAreDropped) {
  model_.PrefillArchive(300);
  Session& session = form_->GetSession();
  session.Link.OpenPort(4);
  ASSERT_EQ(session.Link.ReadVariable(IdMeasurement), 1);
  form_->show();
  ArchivePage* page = form_->Archive();
  auto* cancel = page->findChild<QPushButton*>("ButtonCancel");
  auto* erase = page->findChild<QPushButton*>("Button5");
  ASSERT_NE(cancel, nullptr);
  EXPECT_TRUE(cancel->isHidden());

  // A click on another button during the read is dropped; Cancel stops it.
  QTimer::singleShot(0, form_, [&] {
    EXPECT_FALSE(cancel->isHidden());
    QTest::mouseClick(erase, Qt::LeftButton);
    QTest::mouseClick(cancel, Qt::LeftButton);
  });
  page->Button4Click();
  const int read = page->RecordsRead();
  EXPECT_GT(read, 0);
  EXPECT_LT(read, 300);
  EXPECT_EQ(model_.Archive().size(), 300u);  // the erase never ran
  EXPECT_EQ(form_->PanelText(0), MessageText(RowArchiveStopped, 0).arg(read).arg(300));
  EXPECT_TRUE(cancel->isHidden());
  EXPECT_FALSE(page->findChild<QPushButton*>("Button4")->isHidden());
  // What came is shown and kept, as an incomplete read.
  EXPECT_EQ(page->Buffer()[0].Bytes, ArchiveRecord::From(model_.Archive()[0]).Bytes);
  EXPECT_FALSE(session.History->Coverage(IdentityOf(session.Link.Values()), HistoryAnswerWaitMs)
                   .Value.Covers(300));

  // Esc does the same, whichever widget has the keyboard.
  QTimer::singleShot(0, form_, [this] { QTest::keyClick(form_, Qt::Key_Escape); });
  page->Button4Click();
  EXPECT_LT(page->RecordsRead(), 300);
  EXPECT_EQ(form_->PanelText(0),
            MessageText(RowArchiveStopped, 0).arg(page->RecordsRead()).arg(300));

  // Without either, the whole archive.
  page->Button4Click();
  EXPECT_EQ(page->RecordsRead(), 300);
  EXPECT_TRUE(session.History->Coverage(IdentityOf(session.Link.Values()), HistoryAnswerWaitMs)
                  .Value.Covers(300));
}

}  // namespace
}  // namespace vantor
