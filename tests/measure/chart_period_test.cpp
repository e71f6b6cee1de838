// The live chart's look back at a past period from the history.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <memory>
#include <mutex>

#include "HistoryService.h"
#include "MeasurePage.h"
#include "MessageTable.h"
#include "NumberText.h"
#include "PageFixture.h"
#include "Session.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

constexpr int64_t Now = 1741600800;  // 10 March 2025 10:00 UTC

InstrumentIdentity Other() {
  InstrumentIdentity other;
  other.DeviceType = 9;
  other.Firmware = QStringLiteral("other 2.0");
  return other;
}

class ChartPeriodTest : public test::PageFixture {
 protected:
  ChartPeriodTest() : clock(Now), session(&clock) {
    test::EnsureApplication();
    SetDecimalSeparator(QLatin1Char('.'));
    ValueStorage& values = session.Link.Values();
    values.Service.DeviceType = 7;
    values.DeviceData[0] = 0x42;
    session.PortNumber = 3;  // connected: the chart looks back at this one
    Wire(session);
    session.ShowNotice = [this](const Notice& notice) {
      notices << MessageText(notice.TextRow, 0).arg(notice.TextArgs.value(0));
    };
    // Readings go in through a store of their own; the page reads them
    // through the service, on its thread.
    const HistoryLocation location =
        ParseHistoryLocation(dir.filePath(QStringLiteral("history.sqlite")));
    store = std::make_unique<HistoryStore>(location);
    service = std::make_unique<HistoryService>(location);
    session.History = service.get();
    page = std::make_unique<MeasurePage>(session);
    Look(page.get());
    page->resize(934, 487);
  }
  ~ChartPeriodTest() override { SetDecimalSeparator(QChar()); }

  // Readings of the connected instrument a second apart, `first` to `last`
  // seconds before now, the value telling how long ago.
  void Store(int64_t first, int64_t last) {
    std::vector<LiveReading> readings;
    for (int64_t ago = first; ago >= last; --ago) {
      LiveReading reading;
      reading.AtMs = (Now - ago) * 1000;
      reading.DoseRate = static_cast<float>(ago);
      readings.push_back(reading);
    }
    ASSERT_TRUE(store->AddReadings(IdentityOf(session.Link.Values()), readings).Ok);
  }

  // Chooses a period and lets its look back come in.
  void Choose(int period) {
    emit page->PeriodChoice()->activated(period);
    AwaitLookBack();
  }
  void AwaitLookBack() {
    ASSERT_TRUE(test::Eventually([this] { return !page->LookingBack(); }))
        << "the look back did not come in";
    Settle();
  }

  // The seconds of the points the chart holds.
  std::vector<int64_t> ChartSeconds() {
    ChartPoints& points = page->ChartView()->Points();
    std::vector<int64_t> seconds;
    for (size_t i = 0; i < points.Size(); ++i) {
      seconds.push_back(points.Second(i));
    }
    return seconds;
  }

  QTemporaryDir dir;
  FixedClock clock;
  Session session;
  QStringList notices;
  std::unique_ptr<HistoryStore> store;
  std::unique_ptr<HistoryService> service;
  std::unique_ptr<MeasurePage> page;
};

TEST_F(ChartPeriodTest, APastPeriodShowsTheStoredReadingsWhileLiveOnesGatherForTheWayBack) {
  Store(3 * 86400, 3 * 86400);  // three days ago: beyond a day, within a week
  Store(7200, 0);               // the last two hours
  LiveReading foreign;
  foreign.AtMs = (Now - 10) * 1000;
  foreign.DoseRate = 1000;
  ASSERT_TRUE(store->AddReading(Other(), foreign).Ok);
  page->AddChartPoint(0.5f, Now - 2);
  page->AddChartPoint(0.7f, Now - 1);

  Choose(MeasurePage::PeriodHour);
  EXPECT_TRUE(page->ShowingPast());
  EXPECT_EQ(page->PeriodChoice()->currentIndex(), MeasurePage::PeriodHour);
  std::vector<int64_t> seconds = ChartSeconds();
  ASSERT_EQ(seconds.size(), 3601u) << "every second of the hour, now included, no other instrument";
  EXPECT_EQ(seconds.front(), Now - 3600);
  EXPECT_EQ(seconds.back(), Now);
  auto* statistics = page->ChartView()->StatisticsLabel();
  EXPECT_TRUE(statistics->text().startsWith("Точек: 3601")) << statistics->text().toStdString();
  EXPECT_FLOAT_EQ(page->ChartView()->Points().MaxY(), 3600.0f);
  EXPECT_GE(page->LeftAxis()->max(), 3600.0) << "the axis follows the period's readings";
  // Reduced for the plot, drawn from the history's points only.
  const QList<QPointF> drawn = page->PointSeries()->points();
  ASSERT_FALSE(drawn.isEmpty());
  EXPECT_LE(drawn.size(), 2 * 934);
  EXPECT_EQ(drawn.front().x(), (Now - 3600) * 1000.0);

  // Polls go on; the chart stays on the period, and a new reading joins it.
  clock.Set(Now + 1);
  page->AddChartPoint(0.9f, Now + 1);
  EXPECT_EQ(ChartSeconds().size(), 3602u);
  EXPECT_EQ(ChartSeconds().back(), Now + 1);
  EXPECT_GE(page->LeftAxis()->max(), 3600.0);
  clock.Set(Now);

  Choose(MeasurePage::PeriodWeek);
  seconds = ChartSeconds();
  ASSERT_EQ(seconds.size(), 7202u);
  EXPECT_EQ(seconds.front(), Now - 3 * 86400);

  // Back to live: the live points, the one read meanwhile included, and
  // nothing of the reduction made for the week.
  Choose(MeasurePage::PeriodLive);
  EXPECT_FALSE(page->ShowingPast());
  EXPECT_EQ(ChartSeconds(), (std::vector<int64_t>{Now - 2, Now - 1, Now + 1}));
  QList<QPointF> live = page->PointSeries()->points();
  ASSERT_EQ(live.size(), 3);
  EXPECT_EQ(live.back(), QPointF((Now + 1) * 1000.0, 0.9f));
  EXPECT_LT(page->LeftAxis()->max(), 10.0);
  EXPECT_TRUE(errors.isEmpty());

  // "Очистить график" over a past period brings back the live chart,
  // cleared.
  Choose(MeasurePage::PeriodDay);
  EXPECT_EQ(ChartSeconds().size(), 7201u);
  Press("Button6");
  EXPECT_FALSE(page->ShowingPast());
  EXPECT_EQ(page->PeriodChoice()->currentIndex(), MeasurePage::PeriodLive);
  EXPECT_TRUE(ChartSeconds().empty());
  EXPECT_EQ(page->PointSeries()->count(), 0);
}

// The chart takes up its last reduction where it can; one of other points
// over the same span must not be taken for it.
TEST_F(ChartPeriodTest, ALiveHourAndAStoredHourEachDrawTheirOwnPeaks) {
  std::vector<LiveReading> readings;
  for (int64_t ago = 3600; ago >= 0; --ago) {
    page->ChartState().Points().Add(Now - ago, 0.5f);
    LiveReading reading;
    reading.AtMs = (Now - ago) * 1000;
    reading.DoseRate = ago == 1800 ? 100.0f : 1.0f + static_cast<float>(ago % 3);
    readings.push_back(reading);
  }
  page->RefreshChart();
  ASSERT_TRUE(store->AddReadings(IdentityOf(session.Link.Values()), readings).Ok);
  const auto drawnRange = [this] {
    const QList<QPointF> drawn = page->PointSeries()->points();
    double low = 1e9;
    double high = -1e9;
    for (const QPointF& point : drawn) {
      low = std::min(low, point.y());
      high = std::max(high, point.y());
    }
    return std::pair{low, high};
  };
  ASSERT_EQ(drawnRange(), (std::pair{0.5, 0.5}));
  Choose(MeasurePage::PeriodHour);
  EXPECT_EQ(drawnRange(), (std::pair{1.0, 100.0}));
  Choose(MeasurePage::PeriodLive);
  EXPECT_EQ(drawnRange(), (std::pair{0.5, 0.5}));
}

TEST_F(ChartPeriodTest, NotConnectedTheChartLooksBackAtTheInstrumentTheHistorySawLast) {
  Store(100, 0);
  LiveReading later;
  later.AtMs = (Now - 5) * 1000;
  later.DoseRate = 42;
  ASSERT_TRUE(store->AddReading(Other(), later).Ok);
  session.PortNumber = 0;
  Choose(MeasurePage::PeriodHour);
  ASSERT_EQ(ChartSeconds(), std::vector<int64_t>{Now - 5});
  EXPECT_FLOAT_EQ(page->ChartView()->Points().Y(0), 42.0f);
}

TEST_F(ChartPeriodTest, WithoutAWorkingHistoryTheChartStaysLiveAndTheNoticeLineSaysWhy) {
  page->AddChartPoint(0.5f, Now);
  session.History = nullptr;  // a page without a main window
  Choose(MeasurePage::PeriodHour);
  EXPECT_FALSE(page->ShowingPast());
  EXPECT_EQ(page->PeriodChoice()->currentIndex(), MeasurePage::PeriodLive);
  EXPECT_TRUE(notices.isEmpty());

  // A history whose folder cannot be made: a file stands in its place.
  QFile blocker(dir.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  HistoryService broken(ParseHistoryLocation(dir.filePath(QStringLiteral("file/history.sqlite"))));
  session.History = &broken;
  Choose(MeasurePage::PeriodWeek);
  EXPECT_FALSE(page->ShowingPast());
  EXPECT_EQ(page->PeriodChoice()->currentIndex(), MeasurePage::PeriodLive);
  ASSERT_EQ(notices.size(), 1);
  EXPECT_TRUE(notices.front().startsWith("Не удалось прочитать историю: "))
      << notices.front().toStdString();
  EXPECT_TRUE(errors.isEmpty()) << "no box waits for a click";
  EXPECT_EQ(ChartSeconds(), std::vector<int64_t>{Now});
}

// The look back is a window on the history: what the live tab shows while
// it is read joins it, and as time goes on new points come in and the
// oldest go.
TEST_F(ChartPeriodTest, TheLookBackKeepsWhatArrivesWhileItIsReadAndMovesWithTime) {
  Store(3600, 1);
  // The store's thread is held up (a slow server) while the look back is
  // asked for and a poll shows a new point.
  std::mutex hold;
  hold.lock();
  service->Ask<int>(
      [&hold](HistoryStore&) {
        const std::lock_guard wait(hold);
        return 0;
      },
      0);
  emit page->PeriodChoice()->activated(MeasurePage::PeriodHour);
  EXPECT_TRUE(page->LookingBack());
  EXPECT_FALSE(page->LookBackProgress()->isHidden());
  page->AddChartPoint(0.25f, Now);
  hold.unlock();
  AwaitLookBack();
  ASSERT_TRUE(page->ShowingPast());
  EXPECT_TRUE(page->LookBackProgress()->isHidden());
  std::vector<int64_t> seconds = ChartSeconds();
  ASSERT_EQ(seconds.size(), 3601u) << "the stored hour and the point shown meanwhile";
  EXPECT_EQ(seconds.front(), Now - 3600);
  EXPECT_EQ(seconds.back(), Now);
  EXPECT_FLOAT_EQ(page->ChartView()->Points().Y(3600), 0.25f);

  // Two hours on, a point every ten seconds: the window keeps the last
  // hour, give or take the step in which the oldest leave.
  for (int64_t t = Now + 10; t <= Now + 7200; t += 10) {
    clock.Set(t);
    page->AddChartPoint(0.5f, t);
  }
  seconds = ChartSeconds();
  EXPECT_EQ(seconds.back(), Now + 7200);
  EXPECT_GE(seconds.front(), Now + 3600 - 3600 / 32 - 1);
  EXPECT_LE(seconds.front(), Now + 3600);
}

TEST_F(ChartPeriodTest, ThePeriodsFollowTheLanguageAndSitAboveThePlotWithTheChartsTools) {
  const auto items = [this] {
    QStringList texts;
    for (int i = 0; i < page->PeriodChoice()->count(); ++i) {
      texts << page->PeriodChoice()->itemText(i);
    }
    return texts;
  };
  EXPECT_EQ(items(),
            (QStringList{"Сейчас", "Последний час", "Последние сутки", "Последняя неделя"}));
  page->ApplyLanguage(1);
  EXPECT_EQ(items(), (QStringList{"Live", "Last hour", "Last day", "Last week"}));

  // In the strip above the plot, clear of the other tools and the
  // statistics.
  QComboBox* choice = page->PeriodChoice();
  TimeChart* chart = page->ChartView();
  EXPECT_EQ(choice->parentWidget(), chart);
  EXPECT_LT(choice->geometry().bottom(), chart->chart()->plotArea().top());
  for (QWidget* other :
       {static_cast<QWidget*>(chart->BandSwitch()), static_cast<QWidget*>(chart->FitButton()),
        static_cast<QWidget*>(chart->StatisticsLabel())}) {
    EXPECT_FALSE(choice->geometry().intersects(other->geometry()))
        << other->objectName().toStdString();
  }
  EXPECT_GE(choice->width(), choice->sizeHint().width());
}

// Ten minutes of readings in the history: the hour and the day are shown
// whole, the time without readings empty before them; back to live, the
// axis holds the live points alone.
TEST_F(ChartPeriodTest, ALookBackSpansItsWholePeriodHoweverFewReadingsItHolds) {
  Store(600, 0);
  page->show();  // the plot at its width, which the axis' margins follow
  page->AddChartPoint(0.5f, Now - 2);
  page->AddChartPoint(0.7f, Now - 1);
  QCategoryAxis* axis = page->ChartView()->BottomAxis();

  Choose(MeasurePage::PeriodHour);
  EXPECT_LE(axis->min(), (Now - 3600) * 1000.0);
  EXPECT_GE(axis->max(), Now * 1000.0);
  EXPECT_LT(axis->max() - axis->min(), 3700 * 1000.0);
  Choose(MeasurePage::PeriodDay);
  EXPECT_LE(axis->min(), (Now - 86400) * 1000.0);
  EXPECT_GE(axis->max(), Now * 1000.0);

  // The period moves with the clock, its start with it.
  clock.Set(Now + 600);
  page->AddChartPoint(0.9f, Now + 600);
  EXPECT_LE(axis->min(), (Now + 600 - 86400) * 1000.0);
  EXPECT_GT(axis->min(), (Now + 600 - 86400 - 3600) * 1000.0);
  EXPECT_GE(axis->max(), (Now + 600) * 1000.0);
  clock.Set(Now);

  Choose(MeasurePage::PeriodLive);
  EXPECT_GT(axis->min(), (Now - 60) * 1000.0);
  EXPECT_LT(axis->max(), (Now + 660) * 1000.0);
  page->hide();
}

}  // namespace
}  // namespace vantor
