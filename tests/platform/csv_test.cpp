#include <gtest/gtest.h>

#include <QTimeZone>
#include <cstring>

#include "Csv.h"

using namespace vantor;

TEST(Csv, QuotesOnlyWhatMustBeQuotedAndReadsItBack) {
  const QStringList fields = {"plain", "a,b", "say \"hi\"", "two\r\nlines", "", "мкЗв/ч"};
  const QString line = CsvRecord(fields);
  EXPECT_EQ(line.toStdString(), "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",,мкЗв/ч\r\n");
  const QList<QStringList> back = ParseCsv(line + CsvRecord({"x"}));
  ASSERT_EQ(back.size(), 2);
  EXPECT_EQ(back[0], fields);
  EXPECT_EQ(back[1], QStringList{"x"});
}

TEST(Csv, NumbersAreShortestDotTextsThatReadBackToTheSameBits) {
  for (const double v : {0.1, 1e-300, 123456.789, -2.5e17, 0.05123456}) {
    const QString text = DotNumber(v);
    EXPECT_FALSE(text.contains(QLatin1Char(','))) << text.toStdString();
    const double back = std::strtod(text.toLatin1().constData(), nullptr);
    EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text.toStdString();
  }
  EXPECT_EQ(DotNumber(0.001f).toStdString(), "0.001");
  for (const float v : {1234.5678f, 0.05123456f, 6.5432f, 3.4e38f}) {
    const float back = std::strtof(DotNumber(v).toLatin1().constData(), nullptr);
    EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0) << DotNumber(v).toStdString();
  }
  EXPECT_TRUE(DotNumber(std::numeric_limits<double>::quiet_NaN()).isEmpty());
}

TEST(Csv, TimesCarryTheirOffset) {
  const QDateTime moscow(QDate(2026, 12, 9), QTime(14, 3, 7), QTimeZone(3 * 3600));
  EXPECT_EQ(IsoTime(moscow).toStdString(), "2026-12-09T14:03:07+03:00");
  const QDateTime utc(QDate(2026, 1, 2), QTime(0, 0, 0, 250), Qt::UTC);
  EXPECT_EQ(IsoTime(utc).toStdString(), "2026-01-02T00:00:00.250Z");
}
