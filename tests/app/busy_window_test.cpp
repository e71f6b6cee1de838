// The long operations (the port search, the archive read) run on the
// instrument's engine while the windows stay live, and nothing that fires
// meanwhile may exchange or take the port away. The program's windows on in-memory lines where the
// virtual instrument's model answers (or nothing does).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest/QTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "AppTestSupport.h"
#include "ArchivePage.h"
#include "ConnectionManager.h"
#include "Dictionary.h"
#include "Eventually.h"
#include "HistoryService.h"
#include "MeasurePage.h"
#include "MemoryLine.h"
#include "MessageTable.h"
#include "PageFixture.h"
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
        // A read can be held before a given archive record is asked for, for
        // the test to act while it is certainly under way.
        return std::make_unique<test::MemoryLine>([this, answer = peer.AsPeer()](
                                                      const std::vector<uint8_t>& request,
                                                      LineTransport::Clock::time_point at) {
          if (holdAt_ >= 0 && model_.RequestsSeen(IdArchive) == static_cast<uint32_t>(holdAt_)) {
            holdAt_ = -1;
            held_ = true;
            QDeadlineTimer bound(20000);
            while (!release_ && !bound.hasExpired()) {
              std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            release_ = false;
          }
          return answer(request, at);
        });
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
  // Read on the line's thread: they outlive the windows.
  std::atomic<int> holdAt_{-1};
  std::atomic_bool held_{false};
  std::atomic_bool release_{false};
  std::unique_ptr<ProgramWindows> windows_;
  TForm1* form_ = nullptr;
  int ticks_ = 0;
  bool tickDuringOperation_ = false;
  // Holds the next read before its `n`th archive request, then waits until
  // it is held, does `act` and lets the read go on.
  void HoldReadAt(int n) {
    held_ = false;
    holdAt_ = static_cast<int>(model_.RequestsSeen(IdArchive)) + n;
  }
  void WhileHeld(const std::function<void()>& act) {
    ASSERT_TRUE(test::Eventually([this] { return held_.load(); }));
    act();
    release_ = true;
  }
};

TEST_F(BusyWindow, APortSearchAnswersAfterEachPortButNoPollSlipsIn) {
  PostPollTick();
  std::vector<int> shown;
  QObject::connect(windows_->Form2->ProgressBar1, &QProgressBar::valueChanged,
                   [&shown](int value) { shown.push_back(value); });

  form_->ConnectDevice(ConnectAutoDetect);
  ASSERT_TRUE(test::Settled(form_->GetSession()));
  EXPECT_EQ(form_->GetSession().PortNumber, 4);

  EXPECT_EQ(ticks_, 1);
  EXPECT_TRUE(tickDuringOperation_);
  EXPECT_EQ(model_.RequestsSeen(IdMeasurement), 0u);
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 3, 4}));
  // The live tab polls again once the search is over.
  form_->Measure()->Timer1Timer();
  ASSERT_TRUE(test::Settled(form_->GetSession()));
  EXPECT_EQ(model_.RequestsSeen(IdMeasurement), 1u);
}

TEST_F(BusyWindow, AnArchiveReadAnswersAfterEachRecordAndClosesOnlyWhenItEnds) {
  model_.PrefillArchive(30);
  Session& session = form_->GetSession();
  test::OnLine(session, [&](DeviceLink& line) {
    line.OpenPort(4);
    return 0;
  });
  ASSERT_EQ(test::OnLine(session,
                         [&](DeviceLink& line) { return int(line.ReadVariable(IdMeasurement)); }),
            1);
  PostPollTick();
  // The window manager asks the window to close in the middle of the read.
  QTimer::singleShot(0, form_, [this] { form_->close(); });

  form_->Archive()->Button4Click();
  ASSERT_TRUE(test::Settled(session));

  EXPECT_EQ(ticks_, 1);
  EXPECT_TRUE(tickDuringOperation_);
  EXPECT_EQ(model_.RequestsSeen(IdMeasurement), 1u);
  // The port stayed: every record arrived; the close came once the read
  // was over.
  EXPECT_EQ(form_->Archive()->RecordsRead(), 30);
  EXPECT_TRUE(test::Eventually([&session] { return !session.Link.PortOpen(); }, 1000));
  EXPECT_TRUE(QFileInfo::exists(dir_.File("prog.ini")));
}

TEST_F(BusyWindow, ASilentInstrumentNeverHoldsTheWindowsThread) {
  Session& session = form_->GetSession();
  test::OnLine(session, [&](DeviceLink& line) {
    line.OpenPort(1);
    return 0;
  });
  session.Link.Values().Measurement.ArchiveRecordCount = 5;
  auto* cancel = form_->Archive()->findChild<QPushButton*>("ButtonCancel");
  ASSERT_NE(cancel, nullptr);

  // Every attempt of the start command, then of the first record, waits for
  // a late reply until the read gives the instrument up: on the line's
  // thread. The click returns at once, with the read shown as under way.
  form_->Archive()->Button4Click();
  EXPECT_TRUE(session.Busy);
  EXPECT_FALSE(cancel->isHidden());
  ASSERT_TRUE(test::Settled(session));

  EXPECT_FALSE(session.Busy);
  EXPECT_TRUE(cancel->isHidden());
  EXPECT_EQ(form_->Archive()->RecordsRead(), 0);
}

TEST_F(BusyWindow, CancelOrEscStopsAnArchiveReadKeepingWhatCameAndOtherClicksAreDropped) {
  model_.PrefillArchive(300);
  Session& session = form_->GetSession();
  test::OnLine(session, [&](DeviceLink& line) {
    line.OpenPort(4);
    return 0;
  });
  ASSERT_EQ(test::OnLine(session,
                         [&](DeviceLink& line) { return int(line.ReadVariable(IdMeasurement)); }),
            1);
  form_->show();
  ArchivePage* page = form_->Archive();
  auto* cancel = page->findChild<QPushButton*>("ButtonCancel");
  auto* erase = page->findChild<QPushButton*>("Button5");
  ASSERT_NE(cancel, nullptr);
  EXPECT_TRUE(cancel->isHidden());

  // A click on another button during the read is dropped; Cancel stops it.
  HoldReadAt(20);
  page->Button4Click();
  WhileHeld([&] {
    EXPECT_FALSE(cancel->isHidden());
    QTest::mouseClick(erase, Qt::LeftButton);
    QTest::mouseClick(cancel, Qt::LeftButton);
  });
  ASSERT_TRUE(test::Settled(session));
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
  HoldReadAt(20);
  page->Button4Click();
  WhileHeld([this] { QTest::keyClick(form_, Qt::Key_Escape); });
  ASSERT_TRUE(test::Settled(session));
  EXPECT_LT(page->RecordsRead(), 300);
  EXPECT_EQ(form_->PanelText(0),
            MessageText(RowArchiveStopped, 0).arg(page->RecordsRead()).arg(300));

  // Without either, the whole archive.
  page->Button4Click();
  ASSERT_TRUE(test::Settled(session));
  EXPECT_EQ(page->RecordsRead(), 300);
  EXPECT_TRUE(session.History->Coverage(IdentityOf(session.Link.Values()), HistoryAnswerWaitMs)
                  .Value.Covers(300));
}

}  // namespace
}  // namespace vantor
