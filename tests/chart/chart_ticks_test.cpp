// Where the axes put their gridlines and what they write under them: round
// times from ten seconds to a month, the date where the view needs it, and
// value steps of 1, 2 or 5 times a power of ten.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QStringList>

#include "ChartTicks.h"

namespace vantor {
namespace {

// Moscow has no clock changes since 2014: three hours east of UTC.
const QTimeZone Zone("Europe/Moscow");
// Labels measured at 7 pixels a character, on the live chart's plot width.
constexpr double PlotWidth = 850;
int Measure(const QString& label) {
  return 7 * static_cast<int>(label.size());
}

double Ms(const char* local) {
  return static_cast<double>(
      QDateTime::fromString(QString::fromLatin1(local), Qt::ISODate).toMSecsSinceEpoch());
}
// A local time of the zone as milliseconds since 1970.
double At(const char* local) {
  QDateTime t = QDateTime::fromString(QString::fromLatin1(local), Qt::ISODate);
  return static_cast<double>(QDateTime(t.date(), t.time(), Zone).toMSecsSinceEpoch());
}

struct Span {
  const char* Name;
  const char* From;  // local times of the zone
  const char* To;
  int64_t Step;
  const char* Labels;  // every label, '|' between
};

class TimeTicksTest : public ::testing::TestWithParam<Span> {};

TEST_P(TimeTicksTest, FallOnRoundTimesWithTheDateWhereTheViewNeedsIt) {
  const Span& span = GetParam();
  const double from = At(span.From);
  const double to = At(span.To);
  const TimeTicks ticks = MakeTimeTicks(from, to, PlotWidth, Measure, Zone);
  EXPECT_EQ(ticks.StepSeconds, span.Step);
  QStringList labels;
  for (const TimeTick& tick : ticks.Ticks) {
    labels << tick.Label;
    EXPECT_GE(tick.Ms, from);
    EXPECT_LE(tick.Ms, to);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(tick.Ms), Zone);
    const int64_t secondOfDay = local.time().msecsSinceStartOfDay() / 1000;
    if (ticks.StepSeconds < 86400) {
      EXPECT_EQ(secondOfDay % ticks.StepSeconds, 0) << "round: " << tick.Label.toStdString();
    } else {
      EXPECT_EQ(secondOfDay, 0) << "midnight: " << tick.Label.toStdString();
    }
  }
  EXPECT_EQ(labels.join('|').toStdString(), span.Labels);
  // Neighbouring labels, centred on their ticks, keep well apart.
  const double pitch = PlotWidth * static_cast<double>(ticks.StepSeconds) * 1000 / (to - from);
  for (qsizetype i = 1; i < labels.size(); ++i) {
    EXPECT_LT(1.5 * (Measure(labels[i - 1]) + Measure(labels[i])) / 2, pitch)
        << labels[i].toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    SpansFromTenSecondsToAMonth, TimeTicksTest,
    ::testing::Values(
        Span{"TenSeconds", "2025-03-10T10:00:00.400", "2025-03-10T10:00:10.400", 2,
             "10:00:02|10:00:04|10:00:06|10:00:08|10:00:10"},
        Span{"AMinuteAtTheLiveChartsPace", "2025-03-10T10:00:03", "2025-03-10T10:01:05", 10,
             "10:00:10|10:00:20|10:00:30|10:00:40|10:00:50|10:01:00"},
        Span{"TenMinutes", "2025-03-10T10:03:17", "2025-03-10T10:13:17", 60,
             "10:04|10:05|10:06|10:07|10:08|10:09|10:10|10:11|10:12|10:13"},
        Span{"AnHour", "2025-03-10T09:41:00", "2025-03-10T10:41:00", 300,
             "09:45|09:50|09:55|10:00|10:05|10:10|10:15|10:20|10:25|10:30|10:35|10:40"},
        Span{"AcrossMidnight", "2025-03-10T22:10:00", "2025-03-11T01:50:00", 1800,
             "10.03 22:30|23:00|23:30|11.03 00:00|00:30|01:00|01:30"},
        Span{"ADay", "2025-03-10T07:00:00", "2025-03-11T07:00:00", 10800,
             "10.03 09:00|12:00|15:00|18:00|21:00|11.03 00:00|03:00|06:00"},
        Span{"AWeek", "2025-03-10T12:00:00", "2025-03-17T12:00:00", 86400,
             "11.03|12.03|13.03|14.03|15.03|16.03|17.03"},
        Span{"AMonthOnMondays", "2025-03-01T00:00:00", "2025-03-31T00:00:00", 7 * 86400,
             "03.03|10.03|17.03|24.03|31.03"},
        Span{"AcrossTheYear", "2024-12-29T00:00:00", "2025-01-03T00:00:00", 86400,
             "29.12.24|30.12.24|31.12.24|01.01.25|02.01.25|03.01.25"}),
    [](const ::testing::TestParamInfo<Span>& info) { return info.param.Name; });

TEST(TimeTicks, AWiderPlotTakesFinerStepsAndAnExportDatesEveryLabel) {
  const double from = At("2025-03-10T09:41:00");
  const double to = At("2025-03-10T10:41:00");
  EXPECT_LT(MakeTimeTicks(from, to, 2400, Measure, Zone).StepSeconds,
            MakeTimeTicks(from, to, PlotWidth, Measure, Zone).StepSeconds);
  const TimeTicks dated = MakeTimeTicks(from, to, 1800, Measure, Zone, true);
  ASSERT_FALSE(dated.Ticks.empty());
  for (const TimeTick& tick : dated.Ticks) {
    EXPECT_TRUE(tick.Label.startsWith("10.03 ")) << tick.Label.toStdString();
  }
}

TEST(TimeTicks, AClockChangeKeepsTheTicksOnRoundLocalTimes) {
  // Berlin goes from 02:00 to 03:00 on 30 March 2025.
  const QTimeZone berlin("Europe/Berlin");
  const auto local = [&berlin](const char* text) {
    const QDateTime t = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    return static_cast<double>(QDateTime(t.date(), t.time(), berlin).toMSecsSinceEpoch());
  };
  const TimeTicks ticks = MakeTimeTicks(local("2025-03-30T00:30:00"), local("2025-03-30T05:30:00"),
                                        PlotWidth, Measure, berlin);
  QStringList labels;
  for (const TimeTick& tick : ticks.Ticks) {
    labels << tick.Label;
  }
  EXPECT_EQ(labels.join('|').toStdString(),
            "00:30|01:00|01:30|03:00|03:30|04:00|04:30|05:00|05:30");
}

TEST(TimeTicks, AnEmptyOrReversedViewHasNone) {
  EXPECT_TRUE(
      MakeTimeTicks(Ms("2025-03-10T10:00:00"), Ms("2025-03-10T10:00:00"), PlotWidth, Measure, Zone)
          .Ticks.empty());
  EXPECT_TRUE(MakeTimeTicks(5000, 1000, PlotWidth, Measure, Zone).Ticks.empty());
}

TEST(NiceStep, IsOneTwoOrFiveTimesAPowerOfTenWithItsDecimals) {
  const struct {
    double Span;
    int Intervals;
    double Step;
    int Decimals;
  } cases[] = {
      {0.14, 8, 0.02, 2}, {0.3, 8, 0.05, 2},   {1.0, 8, 0.2, 1},  {57.14, 8, 10, 0},
      {8e-4, 4, 2e-4, 4}, {2.2857, 8, 0.5, 1}, {1000, 5, 200, 0}, {10, 10, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Span);
    EXPECT_DOUBLE_EQ(NiceStep(c.Span, c.Intervals), c.Step);
    EXPECT_EQ(StepDecimals(c.Step), c.Decimals);
  }
  EXPECT_EQ(NiceStep(0, 5), 1);
}

}  // namespace
}  // namespace vantor
