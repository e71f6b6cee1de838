#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "NumberText.h"

using namespace vantor;

namespace {

// Pins the locale's decimal separator for one test.
class Separator {
 public:
  explicit Separator(QChar c) { SetDecimalSeparator(c); }
  ~Separator() { SetDecimalSeparator(QChar()); }
};

struct FixedCase {
  double value;
  int decimals;
  const char* text;
};

class FormatFixedTest : public testing::TestWithParam<FixedCase> {};

}  // namespace

TEST_P(FormatFixedTest, RoundsToEightSignificantDigitsThenToTheDecimals) {
  Separator point('.');
  EXPECT_EQ(FormatFixed(GetParam().value, GetParam().decimals).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatFixedTest,
    testing::Values(FixedCase{12.5, 2, "12.50"}, FixedCase{0.123, 2, "0.12"},
                    FixedCase{15.67, 1, "15.7"}, FixedCase{999.6, 0, "1000"},
                    FixedCase{9.999, 2, "10.00"}, FixedCase{1234.5678, 3, "1234.568"},
                    FixedCase{123456.789, 3, "123456.790"}, FixedCase{0.1, 3, "0.100"},
                    FixedCase{7.4, 0, "7"}, FixedCase{0, 2, "0.00"}, FixedCase{-0.001, 2, "0.00"},
                    FixedCase{-3.456, 1, "-3.5"}, FixedCase{99999999, 0, "99999999"},
                    FixedCase{123456789, 2, "1.2345679E8"}, FixedCase{0.5, 0, "1"},
                    FixedCase{2.5, 2, "2.50"}, FixedCase{0.004, 2, "0.00"},
                    FixedCase{0.005, 2, "0.01"}));

TEST(FormatFixed, UsesTheLocalesSeparatorAndShowsSpecialValues) {
  Separator comma(',');
  EXPECT_EQ(FormatFixed(12.5, 2), "12,50");
  EXPECT_EQ(FormatFixed(123456789, 2), "1,2345679E8");
  EXPECT_EQ(FormatFixed(std::nan(""), 2), "NAN");
  EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::infinity(), 2), "-INF");
}

TEST(FormatGeneral, ThreeSignificantDigitsPlainOnlyInTheMiddleRange) {
  Separator point('.');
  EXPECT_EQ(FormatGeneral(0.0512, 3), "0.0512");
  EXPECT_EQ(FormatGeneral(0.051234, 3), "0.0512");
  EXPECT_EQ(FormatGeneral(-12.345, 3), "-12.3");
  EXPECT_EQ(FormatGeneral(-2500, 3), "-2.5E3");
  EXPECT_EQ(FormatGeneral(999, 3), "999");
  EXPECT_EQ(FormatGeneral(0.0001, 3), "0.0001");
  EXPECT_EQ(FormatGeneral(0.00005, 3), "5E-5");
  EXPECT_EQ(FormatGeneral(0, 3), "0");
  EXPECT_EQ(FormatGeneral(-0.1, 3), "-0.1");
  Separator comma(',');
  EXPECT_EQ(FormatGeneral(0.0512, 3), "0,0512");
}

TEST(FormatPrintf, AlwaysWritesAPoint) {
  Separator comma(',');
  EXPECT_EQ(FormatPrintf("%5.2f", 0.05), " 0.05");
  EXPECT_EQ(FormatPrintf("%5.0f", 150.0), "  150");
  EXPECT_EQ(FormatPrintf("%i", 42LL), "42");
  EXPECT_EQ(FormatPrintf("%hd", 40000LL), "-25536");
}

TEST(StrToInt, AcceptsBlanksSignsAndThreeHexadecimalPrefixes) {
  EXPECT_EQ(StrToInt("300"), 300);
  EXPECT_EQ(StrToInt("  -25536"), -25536);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt("x1f"), 31);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483648LL);
}

TEST(StrToInt, RefusesEverythingElseWithTheRuntimesMessage) {
  for (const char* bad :
       {"", " ", "12 ", "1.5", "abc", "0x", "$", "--1", "2147483648", "1e3", "$123456789",
        "$\u0161", "x1\u0162", "\u0661"}) {  // letters whose low byte is a hex digit
    try {
      StrToInt(QString::fromUtf8(bad));
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const ConversionError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
    }
  }
}

TEST(StrToFloat, ReadsTheLocalesSeparatorOnly) {
  {
    Separator point('.');
    EXPECT_DOUBLE_EQ(StrToFloat("12.5"), 12.5);
    EXPECT_DOUBLE_EQ(StrToFloat(" -1.5e3 "), -1500);
    EXPECT_DOUBLE_EQ(StrToFloat(".5"), 0.5);
    EXPECT_DOUBLE_EQ(StrToFloat("7."), 7);
    EXPECT_THROW(StrToFloat("12,5"), ConversionError);
  }
  Separator comma(',');
  EXPECT_DOUBLE_EQ(StrToFloat("12,5"), 12.5);
  EXPECT_DOUBLE_EQ(StrToFloat("1,2345679E8"), 123456790);
  EXPECT_THROW(StrToFloat("12.5"), ConversionError);
}

TEST(StrToFloat, RefusesEmptyGarbageAndOverflowWithTheRuntimesMessage) {
  Separator point('.');
  for (const char* bad : {"", "abc", "1.2.3", "e5", "1e", "1e999", "--1", "1 2"}) {
    try {
      StrToFloat(QString::fromUtf8(bad));
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const ConversionError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("'") + bad + "' is not a valid floating point value");
    }
  }
}
