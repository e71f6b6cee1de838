#include <gtest/gtest.h>

#include <QDate>
#include <cmath>
#include <limits>

#include "ArchiveRecord.h"
#include "MemoryFilling.h"

namespace vantor {
namespace {

ArchiveRecord Dated(float value, uint8_t flags, uint8_t d1, uint8_t d2, uint8_t d3, uint8_t d4) {
  return ArchiveRecord::Make(value, flags, d1, d2, d3, d4);
}

// Packs calendar fields the way the instrument does.
ArchiveRecord At(int year, int month, int day, int hour, int minute, int second,
                 float value = 1.0f) {
  const int y = year - 2000;
  return Dated(value, 0, static_cast<uint8_t>(((day >> 3) << 6) | y),
               static_cast<uint8_t>(((day & 7) << 5) | hour),
               static_cast<uint8_t>(((month >> 2) << 6) | minute),
               static_cast<uint8_t>(((month & 3) << 6) | second));
}

double DaysSince1899(const QDate& date) {
  return static_cast<double>(QDate(1899, 12, 30).daysTo(date));
}

TEST(ArchiveTimeDecoding, PackedBytesGiveFieldsAndTableText) {
  const ArchiveTime t = DecodeArchiveTime(Dated(0, 0, 0x19, 0xE9, 0x85, 0xC3));
  EXPECT_EQ(t.YearOffset, 25);
  EXPECT_EQ(t.Month, 11);
  EXPECT_EQ(t.Day, 7);
  EXPECT_EQ(t.Hour, 9);
  EXPECT_EQ(t.Minute, 5);
  EXPECT_EQ(t.Second, 3);
  EXPECT_EQ(ArchiveTimeText(t), "09:05:03 07/11/25");

  // Every bit of the widest fields lands where it belongs.
  const ArchiveTime last = DecodeArchiveTime(At(2063, 12, 31, 23, 59, 59));
  EXPECT_EQ(ArchiveTimeText(last), "23:59:59 31/12/63");
  EXPECT_EQ(ArchiveTimeText(DecodeArchiveTime(Dated(0, 0, 0, 0, 0, 0))), "00:00:00 00/00/00");
}

TEST(ArchiveValueText, ScaledWithTheRateUnitOfEitherLanguage) {
  struct Case {
    float value;
    const char* russian;
    const char* english;
  };
  const Case cases[] = {
      {0.05f, " 0.05 мкЗв/ч", " 0.05 uSv/h"},  {1234.0f, " 1.23 мЗв/ч", " 1.23 mSv/h"},
      {150.0f, "  150 мкЗв/ч", "  150 uSv/h"}, {15.67f, " 15.7 мкЗв/ч", " 15.7 uSv/h"},
      {2.5e6f, " 2.50 Зв/ч", " 2.50 Sv/h"},    {-0.5f, "-0.50 мкЗв/ч", "-0.50 uSv/h"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(ArchiveValueText(c.value, 0), QString::fromUtf8(c.russian));
    EXPECT_EQ(ArchiveValueText(c.value, 1), QString::fromUtf8(c.english));
  }
}

TEST(ArchiveValueText, OutOfScaleValuesStayShortWithARateUnit) {
  EXPECT_EQ(ArchiveValueText(1e7f, 1), "10.00 Sv/h");
  const float wild[] = {1e12f,
                        3e38f,
                        std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity(),
                        -1e30f,
                        std::numeric_limits<float>::quiet_NaN()};
  for (float v : wild) {
    SCOPED_TRACE(v);
    const QString ru = ArchiveValueText(v, 0);
    const QString en = ArchiveValueText(v, 1);
    EXPECT_LE(ru.size(), 14);
    EXPECT_TRUE(en.startsWith("- - - ")) << en.toStdString();
    EXPECT_TRUE(en.endsWith("Sv/h")) << en.toStdString();
    EXPECT_TRUE(ru.endsWith(QString::fromUtf8("Зв/ч"))) << ru.toStdString();
  }
  EXPECT_EQ(ArchiveValueText(std::numeric_limits<float>::quiet_NaN(), 1), "- - - uSv/h");
}

TEST(ArchiveEventText, ThresholdBitOrNormalOrNothing) {
  EXPECT_EQ(ArchiveEventText(0), QString::fromUtf8("Норма"));
  EXPECT_EQ(ArchiveEventText(5), QString::fromUtf8("Превышен порог МАЭД"));
  EXPECT_EQ(ArchiveEventText(4), QString::fromUtf8("Превышен порог МАЭД"));
  EXPECT_EQ(ArchiveEventText(1), QString());
  EXPECT_EQ(ArchiveEventText(0x80), QString());
}

TEST(ArchivePointDate, NamesTheSameDayAsTheTableRow) {
  const ArchiveTime t = DecodeArchiveTime(At(2025, 1, 31, 12, 0, 0));
  ASSERT_EQ(ArchiveTimeText(t), "12:00:00 31/01/25");
  const std::optional<double> x = ArchivePointDate(t);
  ASSERT_TRUE(x.has_value());
  EXPECT_DOUBLE_EQ(*x, DaysSince1899(QDate(2025, 1, 31)) + 0.5);

  EXPECT_NEAR(*ArchivePointDate(DecodeArchiveTime(At(2025, 1, 31, 12, 0, 1))) - *x, 1.0 / 86400,
              1e-9);

  // An all-zero time is no moment; midnight of 1 January 2000 is one.
  EXPECT_FALSE(ArchivePointDate(ArchiveTime{}).has_value());
  EXPECT_DOUBLE_EQ(*ArchivePointDate(DecodeArchiveTime(At(2000, 1, 1, 0, 0, 0))), 36526.0);
}

TEST(ArchivePointDate, OutOfRangeFieldsRollOver) {
  ArchiveTime t;
  t.YearOffset = 24;
  t.Month = 3;
  t.Day = 0;  // the last day of February, a leap year
  EXPECT_DOUBLE_EQ(*ArchivePointDate(t), DaysSince1899(QDate(2024, 2, 29)));
  t.Month = 13;
  t.Day = 1;  // January of the next year
  EXPECT_DOUBLE_EQ(*ArchivePointDate(t), DaysSince1899(QDate(2025, 1, 1)));
  t.Month = 0;  // December of the year before
  EXPECT_DOUBLE_EQ(*ArchivePointDate(t), DaysSince1899(QDate(2023, 12, 1)));
  t.Month = 15;
  t.Day = 31;  // 31 March of the next year
  t.Hour = 31;
  t.Minute = 63;
  t.Second = 63;  // 08:04:03 on 1 April
  EXPECT_NEAR(*ArchivePointDate(t),
              DaysSince1899(QDate(2025, 4, 1)) + (8 * 3600 + 4 * 60 + 3) / 86400.0, 1e-9);
}

TEST(ArchivePages, OnlyNineZeroBytesSeparateAndEmptyRunsAreStillPages) {
  EXPECT_FALSE(Dated(0, 0, 0, 0, 0, 1).IsSeparator());
  EXPECT_FALSE(Dated(0, 1, 0, 0, 0, 0).IsSeparator());
  EXPECT_FALSE(Dated(-0.0f, 0, 0, 0, 0, 0).IsSeparator());

  const ArchiveRecord sep{};
  ArchiveBuffer buffer;
  int count = 0;
  for (const ArchiveRecord& r :
       {sep, At(2025, 3, 1, 10, 0, 0), sep, sep, At(2025, 3, 2, 8, 0, 0), sep}) {
    buffer.Store(count++, r);
  }
  EXPECT_EQ(CountSeparators(buffer, count), 4);
  EXPECT_TRUE(PageSlots(buffer, count, 0).empty());
  EXPECT_EQ(PageSlots(buffer, count, 1), (std::vector<int>{1}));
  EXPECT_TRUE(PageSlots(buffer, count, 2).empty());
  EXPECT_EQ(PageSlots(buffer, count, 3), (std::vector<int>{4}));
  EXPECT_TRUE(PageSlots(buffer, count, 4).empty());
  // Slots past the count are not part of the archive even when filled.
  EXPECT_EQ(CountSeparators(buffer, 2), 1);
}

TEST(MemoryFillingIndicator, TextRoundsBarTruncatesColourByShare) {
  struct Case {
    uint32_t count;
    bool full;
    const char* text;
    int position;
    QColor colour;
  };
  const Case cases[] = {
      {675, false, "50%", 50, FillGreen},   {674, false, "50%", 49, FillGreen},
      {1080, false, "80%", 80, FillGreen},  {1081, false, "80%", 80, FillYellow},
      {1282, false, "95%", 94, FillYellow}, {1283, false, "95%", 95, FillRed},
      {1296, false, "96%", 96, FillRed},    {1350, true, "100%", 100, FillRed},
      {1000, true, "100%", 74, FillRed},    {0, false, "0%", 0, FillGreen},
      {0, true, "100%", 0, FillRed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << (c.full ? " full" : ""));
    const MemoryFilling f = ComputeMemoryFilling(c.count, c.full, 1350);
    EXPECT_EQ(f.Text, c.text);
    EXPECT_EQ(f.Position, c.position);
    EXPECT_EQ(f.Colour, c.colour);
  }
}

TEST(MemoryFillingIndicator, CountsBeyondTheCapacityKeepTheBarInRange) {
  const MemoryFilling over = ComputeMemoryFilling(1353, false, 1350);
  EXPECT_EQ(over.Position, 100);
  EXPECT_EQ(over.Text, "100%");
  EXPECT_EQ(over.Colour, FillRed);
  EXPECT_EQ(ComputeMemoryFilling(0xFFFFFFFFu, false, 1350).Position, 100);
  // Before the capacity is known nothing divides by zero.
  EXPECT_EQ(ComputeMemoryFilling(500, false, 0).Position, 0);
}

}  // namespace
}  // namespace vantor
