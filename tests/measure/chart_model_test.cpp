#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "ChartModel.h"
#include "LiveTexts.h"

namespace vantor {
namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC
constexpr int64_t Utc = 0;

TEST(LiveChart, MeanLineSpansAllPointsAtTheirAverage) {
  LiveChart chart;
  EXPECT_FALSE(chart.MeanShown());
  chart.AddChartPoint(1, Start, Utc, true);
  EXPECT_TRUE(chart.MeanShown());  // one point: a line of zero length
  chart.AddChartPoint(2, Start + 1, Utc, true);
  chart.AddChartPoint(6, Start + 2, Utc, true);
  const ChartPoints& points = chart.Points();
  ASSERT_EQ(points.Size(), 3u);
  EXPECT_DOUBLE_EQ(points.Mean(), 3.0);
  EXPECT_DOUBLE_EQ(points.FirstX(), PointTimeFor(Start, Utc));
  EXPECT_DOUBLE_EQ(points.LastX(), PointTimeFor(Start + 2, Utc));
}

TEST(LiveChart, SecondStepInTheSameSecondAddsNoPointButRaisesThePeak) {
  LiveChart chart;
  EXPECT_TRUE(chart.AddChartPoint(1, Start, Utc, true));
  EXPECT_FALSE(chart.AddChartPoint(9, Start, Utc, true));
  EXPECT_EQ(chart.Points().Size(), 1u);
  EXPECT_FLOAT_EQ(chart.PeakDoseRate(), 9.0f);
  EXPECT_NEAR(*chart.AxisMaximum(), 9.0 + 9.0 / 7.0, 1e-9);
  EXPECT_DOUBLE_EQ(chart.LastPointTime(), chart.PointTime());
}

TEST(LiveChart, UnplottedReadingStillRaisesThePeakAndTheAxis) {
  LiveChart chart;
  EXPECT_FALSE(chart.AddChartPoint(50, Start, Utc, false));
  EXPECT_TRUE(chart.Points().Empty());
  EXPECT_FLOAT_EQ(chart.PeakDoseRate(), 50.0f);
  EXPECT_NEAR(*chart.AxisMaximum(), 57.142857, 1e-6);
  // The step time moves on even though nothing was drawn.
  EXPECT_DOUBLE_EQ(chart.PointTime(), PointTimeFor(Start, Utc));
}

TEST(LiveChart, ClearForgetsThePeakAndTheNextReadingSetsTheAxis) {
  LiveChart chart;
  chart.AddChartPoint(400, Start, Utc, true);
  chart.ClearChart();
  EXPECT_TRUE(chart.Points().Empty());
  EXPECT_FALSE(chart.MeanShown());
  EXPECT_FLOAT_EQ(chart.PeakDoseRate(), 0.0f);
  // The axis waits for the next step.
  EXPECT_NEAR(*chart.AxisMaximum(), 400 + 400 / 7.0, 1e-6);
  chart.AddChartPoint(2, Start + 1, Utc, true);
  EXPECT_NEAR(*chart.AxisMaximum(), 2.2857142857, 1e-6);
}

TEST(LiveChart, AxisIsAutomaticWhileNothingPositiveWasShown) {
  LiveChart chart;
  chart.AddChartPoint(0, Start, Utc, true);
  chart.AddChartPoint(-3, Start + 1, Utc, true);
  EXPECT_FALSE(chart.AxisMaximum().has_value());
  EXPECT_GT(AutomaticAxisMaximum(chart.Points()), 0.0);
}

TEST(LiveChart, ReadingsThatAreNotNumbersLeaveMeanPeakAndAxisAlone) {
  LiveChart chart;
  chart.AddChartPoint(4, Start, Utc, true);
  chart.AddChartPoint(std::numeric_limits<float>::quiet_NaN(), Start + 1, Utc, true);
  chart.AddChartPoint(std::numeric_limits<float>::infinity(), Start + 2, Utc, true);
  EXPECT_EQ(chart.Points().Size(), 1u);
  EXPECT_DOUBLE_EQ(chart.Points().Mean(), 4.0);
  EXPECT_FLOAT_EQ(chart.PeakDoseRate(), 4.0f);
  EXPECT_NEAR(*chart.AxisMaximum(), 4 + 4 / 7.0, 1e-9);
}

TEST(LiveChart, MeanLineHiddenByResetComesBackOverAllPoints) {
  LiveChart chart;
  chart.AddChartPoint(2, Start, Utc, true);
  chart.AddChartPoint(4, Start + 1, Utc, true);
  chart.ResetMeanAndPeak();
  EXPECT_FALSE(chart.MeanShown());
  EXPECT_EQ(chart.Points().Size(), 2u);
  EXPECT_FLOAT_EQ(chart.PeakDoseRate(), 0.0f);
  // An unplotted step does not bring the line back.
  chart.AddChartPoint(9, Start + 2, Utc, false);
  EXPECT_FALSE(chart.MeanShown());
  chart.AddChartPoint(6, Start + 3, Utc, true);
  EXPECT_TRUE(chart.MeanShown());
  EXPECT_DOUBLE_EQ(chart.Points().Mean(), 4.0);
}

// The lowest and highest point of every bucket of 2^level seconds, found by
// scanning every point: what the incremental summary must agree with.
std::vector<uint32_t> ScanForDrawing(const ChartPoints& points, int level) {
  std::map<int64_t, std::pair<uint32_t, uint32_t>> buckets;
  for (uint32_t i = 0; i < points.Size(); ++i) {
    const int64_t second = std::llround((points.X(i) - 25569.0) * 86400.0);
    const auto [it, fresh] = buckets.try_emplace(second >> level, i, i);
    if (!fresh) {
      if (points.Y(i) < points.Y(it->second.first)) {
        it->second.first = i;
      }
      if (points.Y(i) > points.Y(it->second.second)) {
        it->second.second = i;
      }
    }
  }
  std::vector<uint32_t> indexes;
  for (const auto& [key, b] : buckets) {
    indexes.push_back(std::min(b.first, b.second));
    if (b.first != b.second) {
      indexes.push_back(std::max(b.first, b.second));
    }
  }
  return indexes;
}

TEST(ChartPoints, ShortSpanDrawsEveryPoint) {
  ChartPoints points;
  points.SetColumns(800);
  for (int i = 0; i < 100; ++i) {
    points.Add(PointTimeFor(Start + i, Utc), static_cast<float>(i % 7));
  }
  const std::vector<uint32_t> drawn = points.DrawIndexes();
  ASSERT_EQ(drawn.size(), 100u);
  for (uint32_t i = 0; i < 100; ++i) {
    EXPECT_EQ(drawn[i], i);
  }
}

TEST(ChartPoints, GrowingSpanKeepsEveryColumnsLowestAndHighestPoint) {
  ChartPoints points;
  points.SetColumns(300);
  std::mt19937 random(7);
  std::normal_distribution<float> background(0.12f, 0.03f);
  int64_t second = Start;
  for (int i = 0; i < 20000; ++i) {
    // Mostly one a second, with gaps and an occasional spike.
    second += (i % 997 == 0) ? 600 : 1;
    const float y = (i % 4409 == 0) ? 40.0f : background(random);
    points.Add(PointTimeFor(second, Utc), y);
  }
  const std::vector<uint32_t> drawn = points.DrawIndexes();
  EXPECT_EQ(drawn, ScanForDrawing(points, points.Level()));
  EXPECT_LE(points.BucketCount(), 2u * 300u);
  EXPECT_GT(points.BucketCount(), 300u / 2);  // still about a point per column
  EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end()));

  // A new plot width rescans and again matches.
  points.SetColumns(97);
  const std::vector<uint32_t> narrower = points.DrawIndexes();
  EXPECT_EQ(narrower, ScanForDrawing(points, points.Level()));
  EXPECT_LE(points.BucketCount(), 2u * 97u);
}

TEST(ChartPoints, PointFromAClockSetBackIsInsertedInTimeOrder) {
  ChartPoints points;
  points.SetColumns(2);  // four buckets at most, so the summary is coarse
  for (const int64_t s : {0, 10, 20, 30}) {
    points.Add(PointTimeFor(Start + s, Utc), 1.0f);
  }
  points.Add(PointTimeFor(Start + 15, Utc), 50.0f);
  ASSERT_EQ(points.Size(), 5u);
  EXPECT_DOUBLE_EQ(points.X(2), PointTimeFor(Start + 15, Utc));
  EXPECT_FLOAT_EQ(points.Y(2), 50.0f);
  for (size_t i = 1; i < points.Size(); ++i) {
    EXPECT_LE(points.X(i - 1), points.X(i));
  }
  EXPECT_DOUBLE_EQ(points.Mean(), 54.0 / 5.0);
  EXPECT_FLOAT_EQ(points.MaxY(), 50.0f);
  const std::vector<uint32_t> drawn = points.DrawIndexes();
  EXPECT_EQ(drawn, ScanForDrawing(points, points.Level()));
  EXPECT_NE(std::find(drawn.begin(), drawn.end(), 2u), drawn.end());
}

TEST(ChartPoints, ClearStartsAfresh) {
  ChartPoints points;
  points.SetColumns(10);
  for (int i = 0; i < 5000; ++i) {
    points.Add(PointTimeFor(Start + i, Utc), 3.0f);
  }
  points.Clear();
  EXPECT_TRUE(points.Empty());
  EXPECT_EQ(points.Level(), 0);
  points.Add(PointTimeFor(Start, Utc), -1.0f);
  EXPECT_DOUBLE_EQ(points.Mean(), -1.0);
  EXPECT_FLOAT_EQ(points.MaxY(), -1.0f);
  EXPECT_EQ(points.DrawIndexes(), std::vector<uint32_t>{0});
}

}  // namespace
}  // namespace vantor
