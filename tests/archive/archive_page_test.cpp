#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <map>

#include "ArchivePage.h"
#include "MemoryFilling.h"
#include "MessageTable.h"
#include "PageFixture.h"
#include "StringGrid.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

// Widgets need the application object before the page is built.
int App() {
  test::EnsureApplication();
  return 0;
}

ArchiveRecord At(int year, int month, int day, int hour, int minute, int second, float value,
                 uint8_t flags = 0) {
  const int y = year - 2000;
  return ArchiveRecord::Make(value, flags, static_cast<uint8_t>(((day >> 3) << 6) | y),
                             static_cast<uint8_t>(((day & 7) << 5) | hour),
                             static_cast<uint8_t>(((month >> 2) << 6) | minute),
                             static_cast<uint8_t>(((month & 3) << 6) | second));
}

// The page with no instrument attached: every exchange fails at once.
class ArchivePageTest : public test::PageFixture {
 protected:
  ArchivePageTest() : session(&clock), page((App(), session)) {
    Wire(session);
    Look(&page);
    page.ComputeArchiveLayout();
    page.resize(945, 490);
  }
  QString Edit6() { return Find<QLineEdit>("Edit6")->text(); }

  FixedClock clock{1735689600};
  Session session;
  ArchivePage page;
};

TEST_F(ArchivePageTest, TableAndChartStayHiddenUntilFirstShown) {
  EXPECT_TRUE(Find<QProgressBar>("ProgressBar2")->isHidden());
  EXPECT_TRUE(page.Grid()->isHidden());
  EXPECT_TRUE(Find<QChartView>("Chart4")->isHidden());
  EXPECT_EQ(page.Grid()->columnWidth(2), 137);  // grid column 3
  EXPECT_EQ(Find<QComboBox>("ComboBox5")->currentText(), QString::fromUtf8("Таблица"));
}

TEST_F(ArchivePageTest, RecordRendersIntoItsRowAndItsPoint) {
  page.Grid()->SetRowCount(4);
  page.ShowArchiveRecord(ArchiveRecord::Make(0.05f, 5, 0x19, 0xE9, 0x85, 0xC3), 0);
  session.LanguageIndex = 1;
  page.ShowArchiveRecord(At(2025, 1, 31, 12, 0, 0, 1234.0f, 1), 1);
  page.ShowArchiveRecord(ArchiveRecord::Make(150.0f, 0, 0, 0, 0, 0), 2);

  StringGrid* grid = page.Grid();
  EXPECT_EQ(grid->Cell(0, 1), "0");
  EXPECT_EQ(grid->Cell(2, 1), "09:05:03 07/11/25");
  EXPECT_EQ(grid->Cell(0, 2), "1");
  EXPECT_EQ(grid->Cell(1, 2), " 1.23 mSv/h");  // the language at the time of rendering
  // An all-zero date still fills its row but is no moment to plot.
  EXPECT_EQ(grid->Cell(2, 3), "00:00:00 00/00/00");
  EXPECT_EQ(grid->Cell(3, 3), QString::fromUtf8("Норма"));
  // The header row is never written.
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(grid->Cell(c, 0), "");
  }

  const QList<QPointF> points = page.Series()->points();
  ASSERT_EQ(points.size(), 2);
  // Plotted in time order whatever the record order: 31 January 2025 first.
  EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(points[0].x())),
            QDateTime(QDate(2025, 1, 31), QTime(12, 0)));
  EXPECT_EQ(points[0].y(), 1234.0);
  EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(points[1].x())),
            QDateTime(QDate(2025, 11, 7), QTime(9, 5, 3)));

  page.ClearArchiveView();
  EXPECT_EQ(grid->RowCount(), 4);
  EXPECT_EQ(grid->Cell(1, 1), "");
  EXPECT_EQ(grid->Cell(2, 3), "");
  EXPECT_TRUE(page.Series()->points().isEmpty());
}

TEST_F(ArchivePageTest, MemoryFillingShowsTextBarAndAVisibleColour) {
  page.show();
  QLabel* label = Find<QLabel>("Label41");
  QProgressBar* bar = Find<QProgressBar>("ProgressBar1");
  const auto chunkColour = [&] {
    // A pixel well inside the filled part of the bar, as drawn by the style.
    return bar->grab().toImage().pixelColor(4, bar->height() / 2);
  };
  page.ShowMemoryFilling(675, false);
  EXPECT_EQ(label->text(), "50%");
  EXPECT_EQ(bar->value(), 50);
  EXPECT_EQ(chunkColour(), FillGreen);
  page.ShowMemoryFilling(1081, false);
  EXPECT_EQ(chunkColour(), FillYellow);
  page.ShowMemoryFilling(1000, true);
  EXPECT_EQ(label->text(), "100%");
  EXPECT_EQ(bar->value(), 74);
  EXPECT_EQ(chunkColour(), FillRed);
}

TEST_F(ArchivePageTest, PagingBeforeAnyReadShowsOneEmptyPage) {
  Press("BitBtn2");
  EXPECT_EQ(Edit6(), QString::fromUtf8("1 из 1"));
  Press("BitBtn1");
  EXPECT_EQ(Edit6(), QString::fromUtf8("1 из 1"));
  EXPECT_FALSE(page.Grid()->isHidden());
  EXPECT_TRUE(page.Series()->points().isEmpty());

  Find<QComboBox>("ComboBox5")->setCurrentIndex(1);
  EXPECT_TRUE(page.Grid()->isHidden());
  EXPECT_FALSE(Find<QChartView>("Chart4")->isHidden());
}

TEST_F(ArchivePageTest, ReadWithoutAnInstrumentEndsInOrder) {
  session.Link.Values().Measurement.ArchiveRecordCount = 3;
  const uint64_t before = session.Link.ExchangeCount();
  Press("Button4");
  // 21 attempts at the start command, then 21 failed reads in a row.
  EXPECT_EQ(session.Link.ExchangeCount() - before, 21u + 21u);
  EXPECT_EQ(page.RecordsRead(), 0);
  EXPECT_TRUE(Find<QProgressBar>("ProgressBar2")->isHidden());
  EXPECT_EQ(panels[0], QString::fromUtf8("Ошибка связи — не получено записей: 3 из 3"));
  EXPECT_EQ(Edit6(), QString::fromUtf8("1 из 1"));
  EXPECT_EQ(page.Grid()->RowCount(), 1);
}

TEST_F(ArchivePageTest, FailedEraseLeavesEverythingButTheStatusText) {
  page.ShowMemoryFilling(675, false);
  Press("BitBtn2");
  Press("Button5");
  EXPECT_EQ(panels[0], QString::fromUtf8("Ошибка связи "));
  EXPECT_EQ(Find<QLabel>("Label41")->text(), "50%");
  EXPECT_EQ(Find<QProgressBar>("ProgressBar1")->value(), 50);
  EXPECT_EQ(Edit6(), QString::fromUtf8("1 из 1"));
}

}  // namespace
}  // namespace vantor
