#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "LiveTexts.h"
#include "NumberText.h"
#include "Scaling.h"

namespace vantor {
namespace {

// Every case pins the decimal separator so the texts do not depend on the
// machine's locale.
class LiveTexts : public ::testing::Test {
 protected:
  void SetUp() override { SetDecimalSeparator(QLatin1Char('.')); }
  void TearDown() override { SetDecimalSeparator(QChar()); }
};

struct RateCase {
  float Reading;
  const char* Text;
  int Prefix;
};

TEST_F(LiveTexts, DoseRateTakesThePrefixAndDecimalsOfItsMagnitude) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const RateCase cases[] = {
      {0.123f, "0.12", 0},
      {9.999f, "10.00", 0},
      {10.0f, "10.0", 0},
      {15.67f, "15.7", 0},
      {100.0f, "100", 0},
      {999.6f, "1000", 0},
      {1000.0f, "1.00", 1},
      {1234.5f, "1.23", 1},
      {999999.0f, "1000", 1},
      {2.5e6f, "2.50", 2},
      {-0.5f, "-0.50", 0},
      {-250.0f, "-250.00", 0},
      // Beyond the prefix table the text stays within it: no prefix.
      {1e7f, "10.00", 2},
      {3.4e8f, "340.00", 2},
      // Not a number in any form reads as the placeholder, micro unit.
      {nan, "- - -", 0},
      {inf, "- - -", 0},
      {-inf, "- - -", 0},
  };
  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.Reading);
    const ReadingText text = RateReadingText(c.Reading, 0);
    EXPECT_EQ(text.Value, QString::fromUtf8(c.Text));
    EXPECT_EQ(text.PrefixIndex, c.Prefix);
    EXPECT_EQ(DoseReadingText(c.Reading).Value, QString::fromUtf8(c.Text));
  }
}

TEST_F(LiveTexts, FluxModesShowTheReadingUnscaled) {
  // The flux unit has no prefix: 1500 per minute and square centimetre must
  // not read as 1.50 of the same unit.
  for (const int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(RateReadingText(1500.0f, mode).Value, "1500");
    EXPECT_EQ(RateReadingText(2.5e6f, mode).Value, "2500000");
    EXPECT_EQ(RateReadingText(15.67f, mode).Value, "15.7");
    EXPECT_EQ(RateReadingText(0.5f, mode).Value, "0.50");
    EXPECT_EQ(RateReadingText(1500.0f, mode).PrefixIndex, 0);
  }
  // The dose-rate modes, and an unknown mode read as mode 0, still scale.
  for (const int mode : {0, 3, 4, 5, 255}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(RateReadingText(1500.0f, mode).Value, "1.50");
    EXPECT_EQ(RateReadingText(1500.0f, mode).PrefixIndex, 1);
  }
}

TEST_F(LiveTexts, NumbersUseTheLocaleSeparator) {
  SetDecimalSeparator(QLatin1Char(','));
  EXPECT_EQ(RateReadingText(1234.5f, 0).Value, "1,23");
  EXPECT_EQ(DoseReadingText(15.67f).Value, "15,7");
  EXPECT_EQ(UncertaintyText(7.4f), "7%");
  EXPECT_EQ(UncertaintyText(12.6f), "13%");
  EXPECT_EQ(UncertaintyText(std::numeric_limits<float>::quiet_NaN()), "- - -");
}

struct TimeCase {
  uint32_t Seconds;
  const char* Russian;
  const char* English;
};

TEST(AccumulationTime, ReadsInDaysHoursAndMinutesInBothLanguages) {
  constexpr uint32_t Day = 86400;
  const TimeCase cases[] = {
      {0, "0мин", "0min"},
      {59, "0мин", "0min"},
      {60, " 1мин", " 1min"},
      {2700, " 45мин", " 45min"},
      {3600, " 1ч 0мин", " 1hr 0min"},
      {3 * 3600 + 12 * 60 + 59, " 3ч 12мин", " 3hr 12min"},
      {Day, " 1 день  0ч 0мин", " 1 day  0hr 0min"},
      {2 * Day + 5 * 3600 + 7 * 60, " 2 дня  5ч 7мин", " 2 days  5hr 7min"},
      {4 * Day, " 4 дня  0ч 0мин", " 4 days  0hr 0min"},
      {5 * Day, " 5 дней  0ч 0мин", " 5 days  0hr 0min"},
      {21 * Day + 59, " 21 дней  0ч 0мин", " 21 days  0hr 0min"},
      {4294967295u, " 49710 дней  6ч 28мин", " 49710 days  6hr 28min"},
  };
  for (const TimeCase& c : cases) {
    SCOPED_TRACE(c.Seconds);
    EXPECT_EQ(AccumulationTimeText(c.Seconds, 0), QString::fromUtf8(c.Russian));
    EXPECT_EQ(AccumulationTimeText(c.Seconds, 1), QString::fromUtf8(c.English));
  }
}

// 10 March 2025 in a zone three hours east of Greenwich.
constexpr int64_t MoscowOffset = -3 * 3600;
int64_t LocalSeconds(int day, int hour, int minute, int second) {
  const FixedClock zone(0, MoscowOffset);
  return zone.FromLocal({2025, 3, day, hour, minute, second});
}

TEST(ClockCheck, AcceptsFiveMinutesEitherWayAndNoMore) {
  const FixedClock clock(LocalSeconds(10, 12, 0, 0), MoscowOffset);
  const int64_t now = clock.Now();
  EXPECT_EQ(ClockDifference(clock, now, 12, 5, 0), 300);
  EXPECT_FALSE(ClockOutOfStep(clock, now, 12, 5, 0));
  EXPECT_TRUE(ClockOutOfStep(clock, now, 12, 5, 1));
  EXPECT_FALSE(ClockOutOfStep(clock, now, 11, 55, 0));
  EXPECT_TRUE(ClockOutOfStep(clock, now, 11, 54, 59));
  EXPECT_FALSE(ClockOutOfStep(clock, now, 12, 0, 0));
}

TEST(ClockCheck, ComparesTheTimeOfDayOnTheComputersDate) {
  // Two minutes apart across midnight still reads as almost a day.
  const FixedClock lateEvening(LocalSeconds(10, 23, 59, 0), MoscowOffset);
  EXPECT_EQ(ClockDifference(lateEvening, lateEvening.Now(), 0, 1, 0), -(86400 - 120));
  EXPECT_TRUE(ClockOutOfStep(lateEvening, lateEvening.Now(), 0, 1, 0));
  const FixedClock earlyMorning(LocalSeconds(11, 0, 1, 0), MoscowOffset);
  EXPECT_TRUE(ClockOutOfStep(earlyMorning, earlyMorning.Now(), 23, 59, 0));
}

TEST(ClockCheck, SettingCarriesTheLocalDateAndTime) {
  const std::array<uint8_t, 8> expected{25, 3, 10, 23, 59, 7, 0, 0};
  EXPECT_EQ(ClockSettingFor({2025, 3, 10, 23, 59, 7}), expected);
}

}  // namespace
}  // namespace vantor
