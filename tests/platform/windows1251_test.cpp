#include <gtest/gtest.h>

#include "Windows1251.h"

namespace vantor {
namespace {

TEST(Windows1251, DecodesUpToTheNulOrTheLength) {
  const char version[] = "\xC2\xE5\xF0\xF1\xE8\xFF 2.1\0XY";  // "Версия 2.1"
  EXPECT_EQ(FromWindows1251(version, sizeof version), QString::fromUtf8("Версия 2.1"));
  EXPECT_EQ(FromWindows1251(version, 2), QString::fromUtf8("Ве"));
  const char signs[] = "\xA8\xB8\xB9\x88\x96\xAB\xBB\xA5\xB4\xAF\x98";
  EXPECT_EQ(FromWindows1251(signs, sizeof signs), QString::fromUtf8("Ёё№€–«»ҐґЇ\uFFFD"));
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
