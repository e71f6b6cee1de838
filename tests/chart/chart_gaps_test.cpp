// Where nothing was measured: the line breaks at a gap in the readings, in
// the model's reductions and on screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "ChartModel.h"
#include "NumberText.h"
#include "TimeChart.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC
constexpr double PollGap = 3;          // three one-second polls

// A reading a second for `seconds` from `from` on.
void Readings(ChartPoints& points, int64_t from, int64_t seconds, float value) {
  for (int64_t s = 0; s < seconds; ++s) {
    points.Add(from + s, value);
  }
}

// Ten minutes at 1.6, the cable pulled for ten minutes, then ten at 0.12.
void PulledCable(ChartPoints& points) {
  Readings(points, Start, 600, 1.6f);
  Readings(points, Start + 1200, 600, 0.12f);
}

std::vector<size_t> BreaksOver(const ChartPoints& points, double from, double to, int columns,
                               double gap = PollGap) {
  return LineBreaks(points, points.Reduce(from, to, columns), gap);
}

TEST(LineBreaks, ReadingsInStepsWithoutAPauseMakeOneLine) {
  ChartPoints points;
  Readings(points, Start, 300, 0.12f);
  Readings(points, Start + 300, 300, 1.6f);
  Readings(points, Start + 600, 300, 0.12f);
  EXPECT_TRUE(BreaksOver(points, Start, Start + 899, 800).empty());
  // Zoomed out so far that the line is reduced to buckets: still one line.
  EXPECT_TRUE(BreaksOver(points, Start, Start + 899, 100).empty());
}

TEST(LineBreaks, APulledCableBreaksTheLineAtTheFirstReadingAfterIt) {
  ChartPoints points;
  PulledCable(points);
  const ChartPoints::Reduction every = points.Reduce(Start, Start + 1799, 800);
  ASSERT_EQ(every.BucketSeconds, 0) << "every point drawn";
  const std::vector<size_t> breaks = LineBreaks(points, every, PollGap);
  ASSERT_EQ(breaks.size(), 1u);
  EXPECT_EQ(points.Second(every.Indexes[breaks[0] - 1]), Start + 599);
  EXPECT_EQ(points.Second(every.Indexes[breaks[0]]), Start + 1200);
  EXPECT_TRUE(LineBreaks(points, every, 0).empty()) << "no gap given: the line bridges all";
}

TEST(LineBreaks, OnlyAGapLongerThanThreePollsBreaks) {
  ChartPoints points;
  points.Add(Start, 1);
  points.Add(Start + 1, 1);
  points.Add(Start + 4, 1);  // two polls missed: 3 s apart
  points.Add(Start + 8, 1);  // three missed: 4 s apart
  points.Add(Start + 9, 1);
  EXPECT_EQ(BreaksOver(points, Start, Start + 9, 800), std::vector<size_t>{3});
}

TEST(LineBreaks, ALoneReadingBetweenTwoGapsIsARunOfItsOwn) {
  ChartPoints points;
  Readings(points, Start, 100, 0.2f);
  points.Add(Start + 400, 0.9f);
  Readings(points, Start + 700, 100, 0.2f);
  EXPECT_EQ(BreaksOver(points, Start, Start + 799, 800), (std::vector<size_t>{100, 101}));
}

TEST(LineBreaks, ARepeatedMomentFromAClockSetBackIsNoGap) {
  ChartPoints points;
  Readings(points, Start, 60, 0.2f);
  Readings(points, Start + 30, 30, 0.3f);  // the same half minute again
  EXPECT_EQ(points.Size(), 90u);
  EXPECT_TRUE(BreaksOver(points, Start, Start + 59, 800).empty());
}

// A day, a week: too many points to draw each, so buckets of 64 and 512 s.
TEST(LineBreaks, AReducedViewBreaksAtAGapWiderThanABucketAndOnlyThere) {
  ChartPoints points;
  const int64_t pull = Start + 40000;
  Readings(points, Start, pull - Start, 1.6f);
  Readings(points, pull + 600, 86400 - 40600, 0.12f);
  const ChartPoints::Reduction day = points.Reduce(Start, Start + 86399, 800);
  ASSERT_EQ(day.BucketSeconds, 64);
  const std::vector<size_t> breaks = LineBreaks(points, day, PollGap);
  ASSERT_EQ(breaks.size(), 1u);
  // A bucket draws its lowest and highest point: the break's ends lie in
  // the buckets either side of the gap.
  const int64_t before = points.Second(day.Indexes[breaks[0] - 1]);
  const int64_t after = points.Second(day.Indexes[breaks[0]]);
  EXPECT_LT(before, pull);
  EXPECT_GT(before, pull - 64);
  EXPECT_GE(after, pull + 600);
  EXPECT_LT(after, pull + 600 + 64);

  // Five seconds missed an hour later: narrower than a pixel of the day,
  // so the day's line goes on; an hour's view shows the break.
  ChartPoints hiccup;
  Readings(hiccup, Start, 3600, 0.2f);
  Readings(hiccup, Start + 3605, 3600, 0.2f);
  EXPECT_TRUE(BreaksOver(hiccup, Start, Start + 7204, 100).empty());
  const ChartPoints::Reduction hour = hiccup.Reduce(Start + 1800, Start + 5400, 800);
  ASSERT_GT(hour.BucketSeconds, 0);
  ASSERT_LT(hour.BucketSeconds, 5);
  const std::vector<size_t> shown = LineBreaks(hiccup, hour, PollGap);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_GE(hiccup.Second(hour.Indexes[shown[0]]), Start + 3605);
  EXPECT_LT(hiccup.Second(hour.Indexes[shown[0]]), Start + 3605 + hour.BucketSeconds);
}

TEST(LineBreaks, AWeekOfReadingsBreaksAtEachTenMinutePull) {
  ChartPoints points;
  int64_t at = Start;
  for (int day = 0; day < 7; ++day) {
    Readings(points, at, 86400 - 600, 0.15f);
    at += 86400;  // then ten minutes unplugged
  }
  const ChartPoints::Reduction week = points.Reduce(Start, at, 800);
  ASSERT_EQ(week.BucketSeconds, 512);
  const std::vector<size_t> breaks = LineBreaks(points, week, PollGap);
  ASSERT_EQ(breaks.size(), 6u);
  for (size_t k = 0; k < breaks.size(); ++k) {
    const int64_t back = Start + 86400 * static_cast<int64_t>(k + 1);
    EXPECT_GE(points.Second(week.Indexes[breaks[k]]), back);
    EXPECT_LT(points.Second(week.Indexes[breaks[k]]), back + 512);
  }
}

TEST(TypicalSpacing, IsTheRecordPeriodWhateverThePausesAndRepeats) {
  ChartPoints archive;
  for (int k = 0; k < 30; ++k) {
    archive.Add(Start + 60 * k, 0.1f);
  }
  for (int k = 0; k < 10; ++k) {
    archive.Add(Start + 7200 + 60 * k, 0.1f);  // after an hour and a half off
  }
  archive.Add(Start + 7200, 0.2f);  // a moment repeated
  EXPECT_EQ(TypicalSpacing(archive), 60);

  ChartPoints one;
  EXPECT_EQ(TypicalSpacing(one), 0);
  one.Add(Start, 1);
  one.Add(Start, 2);
  EXPECT_EQ(TypicalSpacing(one), 0) << "one moment has no period";
}

// The live chart as the measurement tab builds it, offscreen.
class GapChartTest : public ::testing::Test {
 protected:
  GapChartTest() {
    test::EnsureApplication();
    SetDecimalSeparator(QLatin1Char('.'));
    options.PointSeriesName = QStringLiteral("Series1");
    options.MeanSeriesName = QStringLiteral("Series3");
    options.GapSeconds = PollGap;
  }
  ~GapChartTest() override { SetDecimalSeparator(QChar()); }

  void Make() {
    chart = std::make_unique<TimeChart>(points, options, 1);
    chart->resize(934, 368);
    chart->SetValueRange(0, 2);
    chart->show();
    chart->Refresh();
    QApplication::processEvents();
  }

  QPoint At(double ms, double y) const {
    const QPointF p = chart->chart()->mapToPosition(QPointF(ms, y), chart->PointSeries());
    return chart->mapFromScene(chart->chart()->mapToScene(p));
  }
  QColor LineColour() const { return chart->PointSeries()->pen().color(); }
  // Whether a pixel is of the line: its hue, even where smoothing blended it
  // with the white (the grid is grey, the mean line another hue).
  bool OfTheLine(const QColor& pixel) const {
    const int apart = std::abs(pixel.hsvHue() - LineColour().hsvHue()) % 360;
    return pixel.hsvSaturation() > 30 && std::min(apart, 360 - apart) < 15;
  }
  // Pixels of the line in the picture's column x, between the rows of the
  // plot (shifted by `dy` for a picture that does not start where the view
  // does).
  int LinePixels(const QImage& image, int x, int dy = 0) const {
    const QRectF plot = chart->chart()->plotArea();
    int found = 0;
    for (int y = static_cast<int>(plot.top()) + dy; y < static_cast<int>(plot.bottom()) + dy; ++y) {
      found += OfTheLine(image.pixelColor(x, y)) ? 1 : 0;
    }
    return found;
  }

  ChartPoints points;
  TimeChartOptions options;
  std::unique_ptr<TimeChart> chart;
};

TEST_F(GapChartTest, APulledCableLeavesTheTimeWithoutReadingsEmpty) {
  PulledCable(points);
  Make();
  const std::vector<QList<QPointF>> runs = chart->LineRuns();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].last(), QPointF((Start + 599) * 1000.0, 1.6f));
  EXPECT_EQ(runs[1].first(), QPointF((Start + 1200) * 1000.0, 0.12f));
  EXPECT_EQ(runs[0].size() + runs[1].size(), chart->PointSeries()->count());

  // Before the fix a slope from 1.6 down to 0.12 crossed every column of
  // the gap.
  // (Not in its middle alone, where such a slope meets the mean line and
  // hides under it.)
  const QImage shown = chart->grab().toImage();
  std::vector<int> gap;
  for (const int64_t second : {Start + 650, Start + 800, Start + 1000, Start + 1150}) {
    gap.push_back(At(second * 1000.0, 1).x());
  }
  const int run = At((Start + 300) * 1000.0, 1).x();
  for (const int x : gap) {
    EXPECT_EQ(LinePixels(shown, x), 0) << x;
  }
  EXPECT_GT(LinePixels(shown, run), 0);
  EXPECT_GT(LinePixels(shown, At((Start + 1500) * 1000.0, 1).x()), 0);

  // The exported picture shows the same. It leaves out the tool strip and
  // puts a narrower title band in its place, so its rows sit higher by the
  // difference in height.
  const QImage picture = chart->ExportPicture();
  const int shift = picture.height() - chart->height();
  for (const int x : gap) {
    EXPECT_EQ(LinePixels(picture, x, shift), 0) << x;
  }
  EXPECT_GT(LinePixels(picture, run, shift), 0);
}

TEST_F(GapChartTest, ALoneReadingStillShowsWhenTheLineIsReducedToBuckets) {
  Readings(points, Start, 20000, 0.4f);
  points.Add(Start + 23000, 1.5f);
  Readings(points, Start + 26000, 20000, 0.4f);
  Make();
  ASSERT_FALSE(chart->PointSeries()->pointsVisible()) << "no markers on a reduced line";
  const std::vector<QList<QPointF>> runs = chart->LineRuns();
  ASSERT_EQ(runs.size(), 3u);
  ASSERT_EQ(runs[1].size(), 1);
  EXPECT_EQ(runs[1][0], QPointF((Start + 23000) * 1000.0, 1.5f));

  const QImage shown = chart->grab().toImage();
  const QPoint lone = At((Start + 23000) * 1000.0, 1.5);
  int dot = 0;
  for (int dx = -2; dx <= 2; ++dx) {
    for (int dy = -2; dy <= 2; ++dy) {
      dot += OfTheLine(shown.pixelColor(lone + QPoint(dx, dy))) ? 1 : 0;
    }
  }
  EXPECT_GT(dot, 0) << "a dot where the lone reading is";
  EXPECT_EQ(LinePixels(shown, At((Start + 21500) * 1000.0, 1).x()), 0);
}

TEST_F(GapChartTest, WithoutAGapGivenTheLineBridgesEverything) {
  options.GapSeconds = 0;
  PulledCable(points);
  Make();
  EXPECT_EQ(chart->LineRuns().size(), 1u);
  // The archive sets its gap once its records are in.
  chart->SetGapSeconds(180);
  chart->Refresh();
  EXPECT_EQ(chart->LineRuns().size(), 2u);
  EXPECT_EQ(chart->GapSeconds(), 180);
}

TEST_F(GapChartTest, ALookBackSpansItsWholePeriodAndTheLiveChartOnlyItsPoints) {
  const int64_t now = Start + 3600;
  Readings(points, now - 300, 300, 0.2f);  // the last five minutes of the hour
  Make();
  chart->SetWholeSpan(std::pair<double, double>{Start * 1000.0, now * 1000.0});
  TimeChart* big = chart->OpenWindow();
  chart->Refresh();
  for (TimeChart* view : {chart.get(), big}) {
    EXPECT_LE(view->BottomAxis()->min(), Start * 1000.0);
    EXPECT_GE(view->BottomAxis()->max(), now * 1000.0);
    EXPECT_LT(view->BottomAxis()->max() - view->BottomAxis()->min(), 3700 * 1000.0);
  }
  EXPECT_FALSE(chart->Zoomed());

  // Zooming out past the period is the whole period again.
  chart->ZoomTime((Start + 1000) * 1000.0, (Start + 2000) * 1000.0);
  ASSERT_TRUE(chart->Zoomed());
  chart->ZoomTime((Start - 100) * 1000.0, (now + 100) * 1000.0);
  EXPECT_FALSE(chart->Zoomed());

  chart->SetWholeSpan(std::nullopt);
  chart->Refresh();
  EXPECT_GE(chart->BottomAxis()->min(), (now - 310) * 1000.0);
  EXPECT_GE(big->BottomAxis()->min(), (now - 310) * 1000.0);
}

}  // namespace
}  // namespace vantor
