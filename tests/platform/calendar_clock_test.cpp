#include <gtest/gtest.h>

#include "CalendarClock.h"
#include "MessageTable.h"

using namespace vantor;

TEST(FixedClock, BreaksDownInItsOwnZoneAndRollsFieldsOver) {
  // 2025-01-31 12:00:00 UTC, in a zone three hours east of Greenwich.
  const int64_t t = 1738324800;
  FixedClock clock(t, -3 * 3600);
  const LocalTime local = clock.ToLocal(clock.Now());
  EXPECT_EQ(local.Year, 2025);
  EXPECT_EQ(local.Month, 1);
  EXPECT_EQ(local.Day, 31);
  EXPECT_EQ(local.Hour, 15);
  EXPECT_EQ(clock.FromLocal(local), t);
  // Day 0 is the last day of the previous month; month 13 is next January.
  EXPECT_EQ(clock.ToLocal(clock.FromLocal({2025, 3, 0, 0, 0, 0})).Day, 28);
  const LocalTime rolled = clock.ToLocal(clock.FromLocal({2024, 13, 1, 0, 0, 0}));
  EXPECT_EQ(rolled.Year, 2025);
  EXPECT_EQ(rolled.Month, 1);
}

TEST(DateTimeFromSeconds, CountsDaysFromTheEndOf1899) {
  EXPECT_DOUBLE_EQ(DateTimeFromSeconds(0), 25569.0);
  EXPECT_DOUBLE_EQ(DateTimeFromSeconds(86400 + 43200), 25570.5);
}

TEST(MessageTable, RowsKeepTheirTextsAndNumbering) {
  EXPECT_EQ(MessageText(RowConnectionError, 0), QString::fromUtf8("Ошибка связи"));
  EXPECT_EQ(MessageText(RowConnectionError, 1), "Connection error");
  EXPECT_EQ(MessageText(RowDone, 1), "Done");
  EXPECT_EQ(MessageText(RowReading, 0), QString::fromUtf8("Чтение"));
  EXPECT_EQ(MessageText(13, 0), QString::fromUtf8("день "));
  EXPECT_EQ(MessageText(43, 1), "Setings ");
  EXPECT_EQ(MessageText(20, 0), QString::fromUtf8("Аккумулятор Талир:  "));
  EXPECT_EQ(MessageText(90, 1), "");
  EXPECT_EQ(MessageText(92, 1), "COM-port");
  EXPECT_EQ(MessageText(92, 7), QString::fromUtf8("COM-порт")) << "other indexes read Russian";
  EXPECT_TRUE(MessageText(MessageRowCount, 0).isEmpty());
}

TEST(CivilDays, CountFromNineteenSeventyAndRollFieldsOver) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(2025, 1, 31), 20119);
  EXPECT_EQ(DaysFromCivil(2024, 13, 1), DaysFromCivil(2025, 1, 1));
  EXPECT_EQ(DaysFromCivil(2025, 0, 1), DaysFromCivil(2024, 12, 1));
  EXPECT_EQ(DaysFromCivil(2024, 3, 0), DaysFromCivil(2024, 2, 29)) << "leap year";
  int y = 0;
  int m = 0;
  int d = 0;
  CivilFromDays(DaysFromCivil(2000, 2, 29), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000229);
}
