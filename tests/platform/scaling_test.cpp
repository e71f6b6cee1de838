#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Scaling.h"

using namespace vantor;

namespace {

struct ScaleCase {
  float reading;
  int prefix;
  int decimals;
  float value;
};

class ScaleReadingTest : public testing::TestWithParam<ScaleCase> {};

}  // namespace

TEST_P(ScaleReadingTest, PicksPrefixAndDecimalsByMagnitude) {
  const ScaledValue s = ScaleReading(GetParam().reading);
  EXPECT_EQ(s.PrefixIndex, GetParam().prefix);
  EXPECT_EQ(s.Decimals, GetParam().decimals);
  EXPECT_FLOAT_EQ(s.Value, GetParam().value);
  EXPECT_TRUE(s.Finite);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ScaleReadingTest,
    testing::Values(ScaleCase{-5.0f, 0, 2, -5.0f}, ScaleCase{0.123f, 0, 2, 0.123f},
                    ScaleCase{9.999f, 0, 2, 9.999f}, ScaleCase{10.0f, 0, 1, 10.0f},
                    ScaleCase{99.9f, 0, 1, 99.9f}, ScaleCase{100.0f, 0, 0, 100.0f},
                    ScaleCase{999.6f, 0, 0, 999.6f}, ScaleCase{1000.0f, 1, 2, 1.0f},
                    ScaleCase{1234.5f, 1, 2, 1.2345f}, ScaleCase{10000.0f, 1, 1, 10.0f},
                    ScaleCase{100000.0f, 1, 0, 100.0f}, ScaleCase{999999.0f, 1, 0, 999.999f},
                    ScaleCase{1000000.0f, 2, 2, 1.0f}, ScaleCase{2.5e6f, 2, 2, 2.5f},
                    ScaleCase{1.0e7f, 2, 2, 10.0f}, ScaleCase{3.0e9f, 2, 2, 3000.0f}));

TEST(ScaleReading, NotANumberAndInfinityAreMarkedForAPlaceholder) {
  EXPECT_FALSE(ScaleReading(std::nanf("")).Finite);
  const ScaledValue inf = ScaleReading(std::numeric_limits<float>::infinity());
  EXPECT_FALSE(inf.Finite);
  EXPECT_EQ(inf.PrefixIndex, 2);
  EXPECT_FALSE(ScaleReading(-std::numeric_limits<float>::infinity()).Finite);
}

TEST(DoseRateUnit, StaysWithinTheTableForAnyModeOrPrefix) {
  EXPECT_STREQ(DoseRateUnit(0, 0, 0), "мкЗв/ч");
  EXPECT_STREQ(DoseRateUnit(0, 1, 1), "mSv/h");
  EXPECT_STREQ(DoseRateUnit(4, 2, 0), "Зв/ч");
  EXPECT_STREQ(DoseRateUnit(1, 2, 0), "1/(мин*см2)");
  EXPECT_STREQ(DoseRateUnit(2, 0, 1), "1/(min*cm2)");
  EXPECT_STREQ(DoseRateUnit(9, 0, 1), "uSv/h") << "unknown modes read as mode 0";
  EXPECT_STREQ(DoseRateUnit(0, 7, 5), "мкЗв/ч");
  EXPECT_TRUE(IsFluxMode(1));
  EXPECT_FALSE(IsFluxMode(3));
  EXPECT_FALSE(IsFluxMode(258)) << "only the low modes 0..4 exist";
}
