#include <gtest/gtest.h>

#include "Windows1251.h"

namespace vantor {
namespace {

TEST(Windows1251, DecodesCyrillicAndThePunctuationOfTheUpperHalf) {
  // "Версия 2.1" as the instrument stores it.
  const char version[] = "\xC2\xE5\xF0\xF1\xE8\xFF 2.1";
  EXPECT_EQ(FromWindows1251(version, sizeof version), QString::fromUtf8("Версия 2.1"));
  const char signs[] = "\xA8\xB8\xB9\x88\x96\xAB\xBB\xA5\xB4\xAF";
  EXPECT_EQ(FromWindows1251(signs, sizeof signs), QString::fromUtf8("Ёё№€–«»ҐґЇ"));
  const char undefined[] = "a\x98z";
  EXPECT_EQ(FromWindows1251(undefined, 3), QString::fromUtf8("a\uFFFDz"));
}

TEST(Windows1251, StopsAtTheNulOrAtTheLengthWhicheverComesFirst) {
  const char field[5] = {'\xCF', '\xCE', '\0', 'X', 'Y'};
  EXPECT_EQ(FromWindows1251(field, 5), QString::fromUtf8("ПО"));
  const char unterminated[3] = {'\xE0', '\xE1', '\xE2'};
  EXPECT_EQ(FromWindows1251(unterminated, 2), QString::fromUtf8("аб"));
  EXPECT_EQ(FromWindows1251(QByteArray("\xDF", 1)), QString::fromUtf8("Я"));
}

TEST(Windows1251, EveryDefinedByteComesBackThroughTheReverseConversion) {
  QByteArray all;
  for (int b = 1; b < 256; ++b) {
    if (b != 0x98) {
      all.append(static_cast<char>(b));
    }
  }
  const QString text = FromWindows1251(all);
  ASSERT_EQ(text.size(), all.size());
  EXPECT_EQ(ToWindows1251(text), all);
  EXPECT_EQ(ToWindows1251(QString::fromUtf8("Ω😀ж")), QByteArray("??\xE6"));
}

}  // namespace
}  // namespace vantor
