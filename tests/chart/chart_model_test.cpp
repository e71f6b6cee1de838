#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <tuple>

#include "ChartModel.h"

namespace vantor {
namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC
constexpr int64_t Utc = 0;

TEST(ChartTime, IsLocalStandardTimeInDaysSince1899) {
  EXPECT_DOUBLE_EQ(PointTimeFor(0, 0), 25569.0);
  // Three hours east of Greenwich, 1970-01-01 00:00 UTC is 03:00 local.
  EXPECT_DOUBLE_EQ(PointTimeFor(0, -3 * 3600), 25569.125);
  EXPECT_DOUBLE_EQ(PointTimeFor(86400 + 3600, 3600), 25570.0);
}

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
  EXPECT_EQ(points.FirstSecond(), Start);
  EXPECT_EQ(points.LastSecond(), Start + 2);
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

// Points as a chart of a day meets them: mostly one a second, with gaps
// longer than the integral bridges, spikes, runs of equal values, and a
// few arriving late (a clock set back).
void Fill(ChartPoints& points, int count, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> background(0.12f, 0.03f);
  int64_t second = Start;
  for (int i = 0; i < count; ++i) {
    second += (i % 997 == 0) ? 600 : (i % 13 == 0 ? 7 : 1);
    float y = (i % 4409 == 0) ? 40.0f : background(random);
    if (i % 300 < 20) {
      y = 0.25f;  // ties: the earliest must win
    }
    const int64_t at = (i % 2003 == 1000) ? second - 5000 : second;
    ASSERT_TRUE(points.Add(at, y));
  }
}

// The reduction's definition, by scanning every point.
std::vector<uint32_t> ScanReduce(const ChartPoints& p, double from, double to, int columns) {
  size_t first = p.Size();
  size_t end = 0;
  for (size_t i = 0; i < p.Size(); ++i) {
    const double s = static_cast<double>(p.Second(i));
    if (s >= std::ceil(from) && s <= std::floor(to)) {
      first = std::min(first, i);
      end = i + 1;
    }
  }
  std::vector<uint32_t> out;
  if (end == 0) {  // nothing inside: the neighbours alone
    size_t after = 0;
    while (after < p.Size() && static_cast<double>(p.Second(after)) < from) {
      ++after;
    }
    if (after > 0) {
      out.push_back(static_cast<uint32_t>(after - 1));
    }
    if (after < p.Size()) {
      out.push_back(static_cast<uint32_t>(after));
    }
    return out;
  }
  if (first > 0) {
    out.push_back(static_cast<uint32_t>(first - 1));
  }
  const size_t limit = 2 * static_cast<size_t>(columns);
  if (end - first <= limit) {
    for (size_t i = first; i < end; ++i) {
      out.push_back(static_cast<uint32_t>(i));
    }
  } else {
    int64_t width = 1;
    while (static_cast<double>(width * static_cast<int64_t>(limit)) < to - from) {
      width *= 2;
    }
    std::map<int64_t, std::pair<size_t, size_t>> buckets;
    for (size_t i = first; i < end; ++i) {
      const int64_t key = p.Second(i) / width;
      const auto [it, fresh] = buckets.try_emplace(key, i, i);
      if (!fresh) {
        if (p.Y(i) < p.Y(it->second.first)) {
          it->second.first = i;
        }
        if (p.Y(i) > p.Y(it->second.second)) {
          it->second.second = i;
        }
      }
    }
    for (const auto& [key, b] : buckets) {
      out.push_back(static_cast<uint32_t>(std::min(b.first, b.second)));
      if (b.first != b.second) {
        out.push_back(static_cast<uint32_t>(std::max(b.first, b.second)));
      }
    }
  }
  if (end < p.Size()) {
    out.push_back(static_cast<uint32_t>(end));
  }
  return out;
}

TEST(ChartPoints, ReductionAgreesWithAScanAtEveryZoomLevel) {
  ChartPoints points;
  Fill(points, 60000, 7);
  ASSERT_EQ(points.Size(), 60000u);
  for (size_t i = 1; i < points.Size(); ++i) {
    ASSERT_LE(points.Second(i - 1), points.Second(i)) << "late points go where they belong";
  }
  const double first = static_cast<double>(points.FirstSecond());
  const double last = static_cast<double>(points.LastSecond());
  const struct {
    double From, To;
    int Columns;
  } views[] = {
      {first - 10, last + 10, 900},             // the whole range
      {first, last, 37},                        // coarse
      {first + 12345.5, first + 98765.2, 900},  // a zoomed-in stretch
      {first + 5000, first + 5900, 900},        // every point, with markers
      {first + 5000, first + 5000, 900},        // a single second
      {first + 1e6, first + 2e6, 900},          // beyond the last point
      {first - 2e6, first - 1e6, 900},          // before the first
  };
  for (const auto& v : views) {
    SCOPED_TRACE(::testing::Message()
                 << v.From - first << ".." << v.To - first << " / " << v.Columns);
    const ChartPoints::Reduction r = points.Reduce(v.From, v.To, v.Columns);
    EXPECT_EQ(r.Indexes, ScanReduce(points, v.From, v.To, v.Columns));
    EXPECT_LE(r.Indexes.size(), 4u * static_cast<size_t>(v.Columns) + 6);
  }

  // A view that follows the newest point takes up its last reduction.
  ChartPoints::Reduction r = points.Reduce(first, last, 300);
  for (int i = 1; i <= 3000; ++i) {
    points.Add(points.LastSecond() + 1 + (i % 50 == 0 ? 100 : 0), static_cast<float>(i % 17));
    r = points.Reduce(first, static_cast<double>(points.LastSecond()), 300, &r);
    if (i % 250 == 0) {
      ASSERT_EQ(r.Indexes, ScanReduce(points, first, static_cast<double>(points.LastSecond()), 300))
          << i;
    }
  }
}

TEST(ChartPoints, StatisticsOfAnyIntervalMatchADirectComputation) {
  ChartPoints points;
  Fill(points, 50000, 11);
  std::mt19937 random(3);
  std::uniform_int_distribution<size_t> pick(0, points.Size());
  for (int round = 0; round < 60; ++round) {
    size_t begin = pick(random);
    size_t end = pick(random);
    if (round == 0) {
      begin = 0;
      end = points.Size();
    }
    if (begin > end) {
      std::swap(begin, end);
    }
    SCOPED_TRACE(::testing::Message() << begin << ".." << end);
    double sum = 0;
    size_t minIndex = begin;
    size_t maxIndex = begin;
    double integral = 0;
    for (size_t i = begin; i < end; ++i) {
      sum += points.Y(i);
      if (points.Y(i) < points.Y(minIndex)) {
        minIndex = i;
      }
      if (points.Y(i) > points.Y(maxIndex)) {
        maxIndex = i;
      }
      const int64_t gap = i > begin ? points.Second(i) - points.Second(i - 1) : 0;
      if (gap > 0 && gap <= ChartPoints::MaxIntegralGap) {
        integral += (double{points.Y(i - 1)} + points.Y(i)) / 2 * static_cast<double>(gap) / 3600;
      }
    }
    const size_t n = end - begin;
    const double mean = n > 0 ? sum / static_cast<double>(n) : 0;
    double squares = 0;
    for (size_t i = begin; i < end; ++i) {
      squares += (points.Y(i) - mean) * (points.Y(i) - mean);
    }
    const IntervalStatistics s = points.Statistics(begin, end);
    ASSERT_EQ(s.Count, n);
    if (n == 0) {
      continue;
    }
    EXPECT_NEAR(s.Mean, mean, 1e-9 * std::max(1.0, std::abs(mean)));
    EXPECT_NEAR(s.StdDev, n > 1 ? std::sqrt(squares / static_cast<double>(n - 1)) : 0.0, 1e-9);
    EXPECT_EQ(s.MinIndex, minIndex);
    EXPECT_EQ(s.MaxIndex, maxIndex);
    EXPECT_EQ(s.Min, points.Y(minIndex));
    EXPECT_EQ(s.Max, points.Y(maxIndex));
    EXPECT_NEAR(s.Integral, integral, 1e-9 * std::max(1.0, integral));
  }
}

// A box zoom: only the points whose value lies within the box count, with
// whole summary nodes taken, left or opened as the values ask.
TEST(ChartPoints, StatisticsWithinValuesMatchADirectComputation) {
  ChartPoints points;
  Fill(points, 50000, 11);
  std::mt19937 random(5);
  std::uniform_int_distribution<size_t> pick(0, points.Size());
  const double lowest = points.MinY();
  const double highest = points.MaxY();
  std::uniform_real_distribution<double> value(lowest, highest);
  for (int round = 0; round < 60; ++round) {
    size_t begin = pick(random);
    size_t end = pick(random);
    double low = value(random);
    double high = value(random);
    if (round == 0) {
      begin = 0;
      end = points.Size();
      low = lowest;
      high = highest;
    }
    std::tie(begin, end) = std::minmax(begin, end);
    std::tie(low, high) = std::minmax(low, high);
    SCOPED_TRACE(::testing::Message() << begin << ".." << end << " " << low << ".." << high);
    size_t n = 0;
    double sum = 0;
    float min = std::numeric_limits<float>::max();
    float max = std::numeric_limits<float>::lowest();
    for (size_t i = begin; i < end; ++i) {
      const float y = points.Y(i);
      if (y >= low && y <= high) {
        ++n;
        sum += y;
        min = std::min(min, y);
        max = std::max(max, y);
      }
    }
    const IntervalStatistics s = points.Statistics(begin, end, low, high);
    ASSERT_EQ(s.Count, n);
    if (n == 0) {
      continue;
    }
    EXPECT_NEAR(s.Mean, sum / static_cast<double>(n), 1e-9 * std::max(1.0, std::abs(s.Mean)));
    EXPECT_EQ(s.Min, min);
    EXPECT_EQ(s.Max, max);
  }
  const IntervalStatistics all = points.Statistics(0, points.Size());
  const IntervalStatistics boxed = points.Statistics(0, points.Size(), lowest, highest);
  EXPECT_EQ(boxed.Count, all.Count);
  EXPECT_NEAR(boxed.Integral, all.Integral, 1e-9 * all.Integral) << "a box around all is all";
}

TEST(ChartPoints, IntegralOfAConstantRateIsRateTimesHoursAcrossShortGapsOnly) {
  ChartPoints points;
  // Two hours at 3 uSv/h, one point a second, with a pause of ten minutes
  // (no readings) in between: 6 uSv, the pause not counted.
  for (int64_t s = 0; s <= 3600; ++s) {
    points.Add(Start + s, 3.0f);
  }
  for (int64_t s = 4200; s <= 7800; ++s) {
    points.Add(Start + s, 3.0f);
  }
  const IntervalStatistics s = points.Statistics(0, points.Size());
  EXPECT_NEAR(s.Integral, 6.0, 1e-9);
  EXPECT_DOUBLE_EQ(s.Mean, 3.0);
  EXPECT_DOUBLE_EQ(s.StdDev, 0.0);
}

TEST(ChartPoints, RefusesWhatItCannotPlotAndStartsAfreshWhenCleared) {
  ChartPoints points;
  EXPECT_FALSE(points.Add(Start, std::numeric_limits<float>::quiet_NaN()));
  EXPECT_FALSE(points.Add(Start, -std::numeric_limits<float>::infinity()));
  EXPECT_TRUE(points.Empty());
  for (int i = 0; i < 5000; ++i) {
    points.Add(Start + i, 3.0f);
  }
  EXPECT_FALSE(points.Add(Start + (int64_t{1} << 32), 1.0f)) << "beyond 68 years of the first";
  const uint64_t clears = points.Clears();
  points.Clear();
  EXPECT_TRUE(points.Empty());
  EXPECT_EQ(points.Clears(), clears + 1);
  points.Add(Start - 100, -1.0f);
  EXPECT_DOUBLE_EQ(points.Mean(), -1.0);
  EXPECT_FLOAT_EQ(points.MaxY(), -1.0f);
  EXPECT_EQ(points.Reduce(Start - 200, Start, 800).Indexes, std::vector<uint32_t>{0});
}

TEST(ChartPoints, AWeekOfPointsTakesUnderTwelveBytesEach) {
  ChartPoints points;
  constexpr int64_t Week = 604800;
  for (int64_t s = 0; s < Week; ++s) {
    points.Add(Start + s, 0.1f);
  }
  EXPECT_LE(points.BytesUsed(), 12u * Week);
}

}  // namespace
}  // namespace vantor
