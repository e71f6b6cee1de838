#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtTest/QTest>
#include <map>

#include "ArchivePage.h"
#include "LinkOutcome.h"
#include "MessageTable.h"
#include "PageFixture.h"
#include "StringGrid.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

constexpr int Port = 4;

ArchiveRecordValue Record(float value, int day, int hour, int minute) {
  return sim::MakeArchiveRecord(value, 0, LocalTime{2025, 3, day, hour, minute, 0});
}

// The archive tab against a virtual instrument on a real pseudo-terminal,
// pressing the real buttons.
class ArchiveE2e : public test::PageFixture {
 protected:
  static void SetUpTestSuite() { test::EnsureApplication(); }

  void SetUp() override {
    ASSERT_TRUE(sim.PinAs(Port));
    Wire(session);
    ASSERT_TRUE(Open(session, Port));
    Look(&page);
    page.ComputeArchiveLayout();
  }

  QString PageText() { return Find<QLineEdit>("Edit6")->text(); }
  QString Cell(int column, int row) { return page.Grid()->Cell(column, row); }

  // The instrument holds `records`; the program learns the count from a
  // poll of variable 0, as the live tab would.
  void Load(std::vector<ArchiveRecordValue> records) {
    sim.SetArchive(std::move(records));
    ASSERT_EQ(test::OnLine(session,
                           [&](DeviceLink& line) { return int(line.ReadVariable(IdMeasurement)); }),
              1);
  }

  TempConfigHome home;
  sim::VirtualInstrument sim;
  FixedClock clock{1'741'600'800};
  Session session{&clock};
  ArchivePage page{session};
  const ArchiveRecordValue r1 = Record(0.11f, 1, 10, 0);
  const ArchiveRecordValue r2 = Record(0.12f, 1, 10, 15);
  const ArchiveRecordValue r3 = Record(1234.0f, 2, 8, 30);
  const ArchiveRecordValue separator = sim::SeparatorRecord();
};

TEST_F(ArchiveE2e, ReadShowsPageOneAndPagingWrapsBothWays) {
  Load({r1, r2, separator, r3});
  ASSERT_EQ(session.Link.Values().Measurement.ArchiveRecordCount, 4u);
  Press("Button4");

  EXPECT_EQ(sim.WritesSeen(IdCommand), 1u);
  EXPECT_EQ(sim.RequestsSeen(IdArchive), 4u);
  EXPECT_EQ(PageText(), QString::fromUtf8("1 из 2"));
  EXPECT_EQ(page.Grid()->RowCount(), 5);
  EXPECT_EQ(Cell(0, 1), "0");
  EXPECT_EQ(Cell(1, 1), QString::fromUtf8(" 0.11 мкЗв/ч"));
  EXPECT_EQ(Cell(2, 1), "10:00:00 01/03/25");
  EXPECT_EQ(Cell(3, 1), QString::fromUtf8("Норма"));
  EXPECT_EQ(Cell(0, 2), "1");
  EXPECT_EQ(Cell(2, 2), "10:15:00 01/03/25");
  EXPECT_EQ(Cell(0, 3), "");
  EXPECT_EQ(page.Series()->count(), 2);
  EXPECT_FALSE(page.Grid()->isHidden());
  EXPECT_TRUE(Find<QProgressBar>("ProgressBar2")->isHidden());
  EXPECT_EQ(panels[0], QString::fromUtf8("Чтение"));
  // Shown again in the other language: texts follow, points are not doubled.
  session.LanguageIndex = 1;
  page.ShowArchivePage();
  EXPECT_EQ(Cell(1, 1), " 0.11 uSv/h");
  EXPECT_EQ(page.Series()->count(), 2);
  session.LanguageIndex = 0;

  Press("BitBtn2");
  EXPECT_EQ(PageText(), QString::fromUtf8("2 из 2"));
  EXPECT_EQ(Cell(0, 1), "0");
  EXPECT_EQ(Cell(1, 1), QString::fromUtf8(" 1.23 мЗв/ч"));
  EXPECT_EQ(Cell(2, 1), "08:30:00 02/03/25");
  EXPECT_EQ(Cell(1, 2), "");
  ASSERT_EQ(page.Series()->count(), 1);
  EXPECT_EQ(page.Series()->at(0).y(), 1234.0);

  Press("BitBtn2");
  EXPECT_EQ(PageText(), QString::fromUtf8("1 из 2"));
  EXPECT_EQ(Cell(2, 2), "10:15:00 01/03/25");
  Press("BitBtn1");
  EXPECT_EQ(PageText(), QString::fromUtf8("2 из 2"));

  // The chart shows the same page, and the table comes back on request.
  Find<QComboBox>("ComboBox5")->setCurrentIndex(1);
  EXPECT_TRUE(page.Grid()->isHidden());
  EXPECT_FALSE(Find<QChartView>("Chart4")->isHidden());
  Press("BitBtn1");
  EXPECT_FALSE(Find<QChartView>("Chart4")->isHidden());
  EXPECT_EQ(page.Series()->count(), 2);
  Find<QComboBox>("ComboBox5")->setCurrentIndex(0);
  EXPECT_FALSE(page.Grid()->isHidden());
}

TEST_F(ArchiveE2e, ArchiveBeginningWithASeparatorHasAnEmptyFirstPage) {
  Load({separator, r1, r2});
  Press("Button4");
  EXPECT_EQ(PageText(), QString::fromUtf8("1 из 2"));
  EXPECT_EQ(Cell(0, 1), "");
  EXPECT_EQ(page.Series()->count(), 0);
  Press("BitBtn2");
  EXPECT_EQ(Cell(0, 1), "0");
  EXPECT_EQ(Cell(0, 2), "1");
}

TEST_F(ArchiveE2e, EmptyArchiveSendsOnlyTheStartCommand) {
  Load({});
  Press("Button4");
  EXPECT_EQ(sim.WritesSeen(IdCommand), 1u);
  EXPECT_EQ(sim.Snapshot().LastRequest.size(), 20u);  // the command write was the last
  EXPECT_EQ(sim.RequestsSeen(IdArchive), 0u);
  EXPECT_EQ(page.Grid()->RowCount(), 1);
  EXPECT_EQ(PageText(), QString::fromUtf8("1 из 1"));
}

TEST_F(ArchiveE2e, ReadingAgainAfterPagingStartsAtPageOne) {
  Load({r1, separator, r2, separator, r3, separator, r1});
  Press("Button4");
  Press("BitBtn2");
  Press("BitBtn2");
  EXPECT_EQ(PageText(), QString::fromUtf8("3 из 4"));
  Press("Button4");
  EXPECT_EQ(PageText(), QString::fromUtf8("1 из 4"));
  EXPECT_EQ(Cell(2, 1), "10:00:00 01/03/25");
  Press("BitBtn2");
  EXPECT_EQ(PageText(), QString::fromUtf8("2 из 4"));
  EXPECT_EQ(Cell(2, 1), "10:15:00 01/03/25");
}

TEST_F(ArchiveE2e, EraseEmptiesTheInstrumentTheCopyAndTheIndicator) {
  Load({r1, r2, separator, r3});
  Press("Button4");
  page.ShowMemoryFilling(4, false);
  Press("Button5");

  EXPECT_TRUE(sim.Snapshot().Archive.empty());
  EXPECT_EQ(panels[0], QString::fromUtf8("Записано "));
  EXPECT_EQ(PageText(), "");
  EXPECT_EQ(Find<QLabel>("Label41")->text(), " ");
  EXPECT_EQ(Find<QProgressBar>("ProgressBar1")->value(), 0);
  EXPECT_EQ(page.ArchivePageCount(), 0);
  EXPECT_EQ(Cell(0, 1), "");
  EXPECT_EQ(page.Series()->count(), 0);
  // Paging afterwards cannot bring the erased records back.
  Press("BitBtn2");
  EXPECT_EQ(PageText(), QString::fromUtf8("1 из 1"));
  EXPECT_EQ(Cell(0, 1), "");
  EXPECT_EQ(page.Series()->count(), 0);
}

TEST_F(ArchiveE2e, RefusedEraseChangesOnlyTheStatusText) {
  Load({r1, r2, separator, r3});
  Press("Button4");
  page.ShowMemoryFilling(4, false);
  sim.InjectFault(sim::Fault::ErrorReply, IdCommand);
  Press("Button5");

  EXPECT_EQ(sim.Snapshot().Archive.size(), 4u);
  EXPECT_EQ(panels[0], QString::fromUtf8("Ошибка связи "));
  EXPECT_EQ(PageText(), QString::fromUtf8("1 из 2"));
  EXPECT_EQ(page.ArchivePageCount(), 1);
  EXPECT_EQ(Find<QLabel>("Label41")->text(), "0%");
  // The copy is still there to page through.
  Press("BitBtn2");
  EXPECT_EQ(Cell(2, 1), "08:30:00 02/03/25");
}

// Space on the read button starts a read; the focus then is on the read's
// Cancel, never on the erase button beside it, so a second Space stops the
// read, and once the read is over the focus is back on the read button: no
// Space during or after a read erases the archive.
TEST_F(ArchiveE2e, SpaceDuringAndAfterAReadNeverErases) {
  Load({r1, r2, separator, r3, r1, r2});
  page.show();
  Press("Button4");
  const int whole = page.RecordsRead();
  auto* read = Find<QPushButton>("Button4");
  auto* cancel = Find<QPushButton>("ButtonCancel");
  const auto focused = [this] { return page.window()->focusWidget(); };
  read->setFocus();
  ASSERT_EQ(focused(), read);

  const auto serve = page.ServeDuringRead;
  int served = 0;
  QWidget* focusDuring = nullptr;
  page.ServeDuringRead = [&](int budgetMs) {
    serve(budgetMs);
    if (++served == 2) {
      focusDuring = focused();
      QTest::keyClick(focused(), Qt::Key_Space);  // meant to stop the read
    }
  };
  QTest::keyClick(focused(), Qt::Key_Space);
  Settle();
  EXPECT_EQ(focusDuring, cancel);
  EXPECT_LT(page.RecordsRead(), whole) << "Space on Cancel stopped the read";
  EXPECT_EQ(focused(), read);
  EXPECT_TRUE(cancel->isHidden());
  EXPECT_EQ(sim.Snapshot().Archive.size(), 6u);

  // Space again, after the read: a read again, the whole archive this time.
  page.ServeDuringRead = serve;
  QTest::keyClick(focused(), Qt::Key_Space);
  Settle();
  EXPECT_EQ(page.RecordsRead(), whole);
  EXPECT_EQ(focused(), read);
  QTest::keyClick(focused(), Qt::Key_Space);
  Settle();
  EXPECT_EQ(focused(), read);
  EXPECT_EQ(sim.Snapshot().Archive.size(), 6u) << "nothing erased";

  // A read begun from elsewhere gives the focus back there.
  auto* view = Find<QComboBox>("ComboBox5");
  view->setFocus();
  Press("Button4");
  EXPECT_EQ(focused(), view);
  EXPECT_EQ(sim.Snapshot().Archive.size(), 6u);
}

TEST_F(ArchiveE2e, InstrumentGoingSilentMidReadEndsInOrder) {
  Load({r1, r2, r3, r1, r2, r3});
  int records = 0;
  session.Link.SetOutcomeHandler([&](LinkStatus status) {
    const int row = OutcomeRow(status);
    panels[0] = MessageText(row, session.LanguageIndex);
    // After the third record the instrument stops answering.
    if (row == RowReading && ++records == 3) {
      sim.InjectFault(sim::Fault::Silence, IdArchive);
    }
  });
  session.LanguageIndex = 1;
  Press("Button4");

  EXPECT_EQ(page.RecordsRead(), 3);
  EXPECT_EQ(sim.RequestsSeen(IdArchive), 3u + 21u);
  EXPECT_EQ(panels[0], "Connection error — 3 of 6 records not received");
  EXPECT_TRUE(Find<QProgressBar>("ProgressBar2")->isHidden());
  EXPECT_EQ(page.Grid()->RowCount(), 4);
  EXPECT_EQ(Cell(0, 3), "2");
  EXPECT_EQ(Cell(1, 3), " 1.23 mSv/h");
  EXPECT_EQ(PageText(), QString::fromUtf8("1 из 1"));
}

TEST_F(ArchiveE2e, RecordCountAboveTheBufferIsBounded) {
  sim.SetPaced(false);  // 1353 exchanges: the line's pace is not the point here
  sim.PrefillArchive(1350, 3);
  ASSERT_EQ(test::OnLine(session,
                         [&](DeviceLink& line) { return int(line.ReadVariable(IdMeasurement)); }),
            1);
  // A count no buffer slot exists for; the instrument answers separators past
  // its end.
  session.Link.Values().Measurement.ArchiveRecordCount = 5000;
  QProgressBar* bar = Find<QProgressBar>("ProgressBar2");
  int records = 0;
  session.Link.SetOutcomeHandler([&](LinkStatus status) {
    const int row = OutcomeRow(status);
    panels[0] = MessageText(row, session.LanguageIndex);
    records += row == RowReading ? 1 : 0;
  });
  // Whenever the window is served, the bar shows the share of the
  // instrument's memory read so far, within its range past the capacity.
  int served = 0;
  const auto serve = page.ServeDuringRead;
  page.ServeDuringRead = [&](int budgetMs) {
    serve(budgetMs);
    ++served;
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->value(), std::min(std::max(0, records - 1) * 1353 / 1350, 1353))
        << records << " records";
  };
  Press("Button4");
  EXPECT_GT(served, 10);
  EXPECT_EQ(bar->maximum(), ArchiveBuffer::Slots);

  EXPECT_EQ(page.RecordsRead(), ArchiveBuffer::Slots);
  EXPECT_EQ(sim.RequestsSeen(IdArchive), static_cast<uint32_t>(ArchiveBuffer::Slots));
  EXPECT_EQ(page.Grid()->RowCount(), ArchiveBuffer::Slots + 1);
  EXPECT_EQ(panels[0], QString::fromUtf8("Прочитано 1353 из 5000"));
  // Three runs, then the three separators the instrument sent past its end.
  EXPECT_EQ(PageText(), QString::fromUtf8("1 из 6"));
  const std::vector<ArchiveRecordValue> archive = sim.Snapshot().Archive;
  // Every record arrived in its slot, in storage order.
  for (int i = 0; i < 1350; ++i) {
    ASSERT_EQ(ArchiveRecord::From(archive[static_cast<size_t>(i)]).Bytes, page.Buffer()[i].Bytes)
        << "slot " << i;
  }
}

}  // namespace
}  // namespace vantor
