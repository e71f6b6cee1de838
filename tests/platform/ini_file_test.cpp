#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include "IniFile.h"
#include "WorkDir.h"

using namespace vantor;
using vantor::test::ReadBytes;
using vantor::test::WorkDir;
using vantor::test::WriteBytes;

TEST(SetIniValue, ReplacesOnlyTheValueAndKeepsEveryOtherByte) {
  const QByteArray before =
      "; Vantor settings\r\n"
      "[Display]\r\n"
      "Language=7\r\n"
      "\r\n"
      "[Common]\r\n"
      "  language = 1   \r\n"
      "Other=x\r\n"
      "\r\n"
      "# tail comment\r\n";
  QByteArray after = before;
  after.replace("language = 1   ", "language = 0   ");
  EXPECT_EQ(SetIniValue(before, "Common", "Language", "0"), after);
}

TEST(SetIniValue, InsertsAMissingKeyAfterTheSectionsLastKeyWithTheFilesLineEnd) {
  const QByteArray before =
      "[Common]\n"
      "Port=3\n"
      "\n"
      "; about the next section\n"
      "[Other]\n"
      "Language=1\n";
  const QByteArray after =
      "[Common]\n"
      "Port=3\n"
      "Language=0\n"
      "\n"
      "; about the next section\n"
      "[Other]\n"
      "Language=1\n";
  EXPECT_EQ(SetIniValue(before, "Common", "Language", "0"), after);
  // A section with no keys yet takes the key right under its header.
  EXPECT_EQ(SetIniValue("[Common]\n\n[B]\n", "Common", "Language", "1"),
            QByteArray("[Common]\nLanguage=1\n\n[B]\n"));
}

TEST(SetIniValue, AppendsAMissingSectionAndEndsAnUnfinishedLastLineFirst) {
  EXPECT_EQ(SetIniValue("", "Common", "Language", "1"), QByteArray("[Common]\r\nLanguage=1\r\n"));
  EXPECT_EQ(SetIniValue("[A]\nx=1", "Common", "Language", "0"),
            QByteArray("[A]\nx=1\n[Common]\nLanguage=0\n"));
  EXPECT_EQ(SetIniValue("[A]\r\nx=1\r\n", "Common", "Language", "0"),
            QByteArray("[A]\r\nx=1\r\n[Common]\r\nLanguage=0\r\n"));
  // The section's last key ends the file without a line end.
  EXPECT_EQ(SetIniValue("[Common]\r\nx=1", "Common", "Language", "0"),
            QByteArray("[Common]\r\nx=1\r\nLanguage=0"));
}

TEST(FindIniValue, MatchesNamesWithoutCaseInTheFirstMatchingSectionOnly) {
  const QByteArray text =
      "\xEF\xBB\xBF[COMMON]\r\n"
      "LANGUAGE = \"1\" \r\n"
      "[Common]\r\n"
      "Language=0\r\n"
      "[Other]\r\n"
      "Port=5\r\n";
  EXPECT_EQ(FindIniValue(text, "Common", "Language"), QByteArray("1"));
  EXPECT_EQ(FindIniValue(text, "Other", "Port"), QByteArray("5"));
  EXPECT_FALSE(FindIniValue(text, "Other", "Language"));
  EXPECT_FALSE(FindIniValue(text, "Missing", "Language"));
  EXPECT_FALSE(FindIniValue("Language=1\r\n", "Common", "Language"));  // no section
  EXPECT_FALSE(FindIniValue("[Common]\r\n;Language=1\r\n", "Common", "Language"));
  // Writing keeps the byte order mark; the new value replaces the quoted one.
  EXPECT_TRUE(SetIniValue(text, "Common", "Language", "0")
                  .startsWith("\xEF\xBB\xBF[COMMON]\r\n"
                              "LANGUAGE = 0 \r\n"));
}

TEST(ParseIniInteger, TakesWholeIntegersOnly) {
  const struct {
    const char* text;
    std::optional<int> value;
  } cases[] = {
      {"1", 1},
      {" 1 ", 1},
      {"+1", 1},
      {"-5", -5},
      {"007", 7},
      {"$10", 16},
      {"0x1F", 31},
      {"$FFFFFFFF", -1},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"", std::nullopt},
      {"abc", std::nullopt},
      {"1.0", std::nullopt},
      {"1 ; English", std::nullopt},
      {"2147483648", std::nullopt},
      {"$100000000", std::nullopt},
      {"0x", std::nullopt},
      {"-", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseIniInteger(c.text), c.value);
  }
}

TEST(IniFileOnDisk, WritingCreatesAMissingFileThatReadsBack) {
  WorkDir dir;
  const QString path = dir.File("prog.ini");
  EXPECT_EQ(ReadIniInteger(path, "Common", "Language", 0), 0);
  ASSERT_TRUE(WriteIniString(path, "Common", "Language", "1"));
  EXPECT_EQ(ReadBytes(path), QByteArray("[Common]\r\nLanguage=1\r\n"));
  EXPECT_EQ(ReadIniInteger(path, "Common", "Language", 0), 1);
  EXPECT_EQ(ReadIniInteger(path, "Common", "Missing", 42), 42);
}

TEST(IniFileOnDisk, AFileThatCannotBeReadIsNeitherReadNorOverwritten) {
  WorkDir dir;
  const QString path = dir.File("prog.ini");
  ASSERT_TRUE(QDir(dir.Path()).mkdir("prog.ini"));
  WriteBytes(path + "/keep", "x");
  EXPECT_EQ(ReadIniInteger(path, "Common", "Language", 3), 3);
  EXPECT_FALSE(WriteIniString(path, "Common", "Language", "0"));
  EXPECT_TRUE(QFileInfo(path).isDir());
  EXPECT_EQ(ReadBytes(path + "/keep"), QByteArray("x"));
}

TEST(IniFileOnDisk, AFileInAMissingDirectoryCannotBeWritten) {
  WorkDir dir;
  EXPECT_FALSE(WriteIniString(dir.File("missing/prog.ini"), "Common", "Language", "0"));
}
