#include <gtest/gtest.h>

#include "NumberText.h"
#include "ParameterGrid.h"
#include "SettingsText.h"
#include "TypeCodes.h"

namespace vantor {
namespace {

// Pins the decimal separator for one test and gives the locale back after.
struct PinnedSeparator {
  explicit PinnedSeparator(QChar separator) { SetDecimalSeparator(separator); }
  ~PinnedSeparator() { SetDecimalSeparator(QChar()); }
};

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ConversionError& error) {
    return error.what();
  }
  return "(no error)";
}

UserSettingsEntries ValidEntries() {
  UserSettingsEntries e;
  e.DoseRateAlarms = {"0.3", "1", "10"};
  e.DoseAlarms = {"100", "1000", "10000"};
  e.ArchivePeriod = "60";
  return e;
}

TEST(SettingsText, ShowsNumbersWithAPointWhereTheLocaleHasOne) {
  PinnedSeparator point('.');
  EXPECT_EQ(ThresholdText(12.5f), "12.50");
  EXPECT_EQ(FloatParameterText(1234.5678f), "1234.568");
  EXPECT_EQ(FloatParameterText(0.0512f), "0.0512");
  EXPECT_EQ(FloatParameterText(-2500.0f).left(4), "-2.5");
}

TEST(SettingsText, BrightnessTakesTheNearestSliderPositionWithinRange) {
  EXPECT_EQ(SliderPositionFromBrightness(250), 10);
  EXPECT_EQ(SliderPositionFromBrightness(255), 10);
  EXPECT_EQ(SliderPositionFromBrightness(12), 0);
  EXPECT_EQ(SliderPositionFromBrightness(13), 1);
  EXPECT_EQ(SliderPositionFromBrightness(112), 4);
  EXPECT_EQ(BrightnessFromSlider(4), 100);
}

TEST(SettingsText, SignedViewsOfTypesTheDictionaryDoesNotUseYet) {
  const uint8_t ff[2] = {0xFF, 0xFF};
  EXPECT_EQ(ParameterText(TypeSignedInt8, ff, 2), "-1");
  EXPECT_EQ(ParameterText(TypeSignedInt16, ff, 2), "-1");
  EXPECT_EQ(ParameterText(TypeInt16, ff, 2), "65535");
  EXPECT_FALSE(ParameterText(TypeRaw8, ff, 2).has_value());
}

TEST(CollectUserSettings, WithoutASelectionSendsWhatWasLastReadOrZero) {
  UserSettings last;
  last.Flags = 0xF0F00007;
  last.DoseAlarmNumber = 7;
  last.DisplayLanguage = 9;
  UserSettingsEntries e = ValidEntries();
  e.DoseAlarmIndex = -1;
  e.DisplayLanguageIndex = -1;
  e.SoundIndex = -1;
  UserSettings s = CollectUserSettings(e, last);
  EXPECT_EQ(s.Flags, 0xF0F00007u);
  EXPECT_EQ(s.DoseAlarmNumber, 7);
  EXPECT_EQ(s.DisplayLanguage, 9);

  s = CollectUserSettings(e, UserSettings{});
  EXPECT_EQ(s.Flags, 0u);
  EXPECT_EQ(s.DisplayLanguage, 0);
}

TEST(CollectUserSettings, StopsAtTheFirstEntryInCollectionOrder) {
  PinnedSeparator point('.');
  UserSettingsEntries e = ValidEntries();
  e.DoseRateAlarms[1] = "";
  e.DoseAlarms[0] = "x";
  e.ArchivePeriod = "sixty";
  EXPECT_EQ(MessageOf([&] { CollectUserSettings(e, {}); }),
            "'' is not a valid floating point value");
  e.DoseRateAlarms[1] = "1";
  EXPECT_EQ(MessageOf([&] { CollectUserSettings(e, {}); }),
            "'x' is not a valid floating point value");
  e.DoseAlarms[0] = "1";
  EXPECT_EQ(MessageOf([&] { CollectUserSettings(e, {}); }), "'sixty' is not a valid integer value");
}

TEST(FloatFromText, RefusesWhatA32BitFloatCannotHold) {
  PinnedSeparator comma(',');
  EXPECT_FLOAT_EQ(FloatFromText("-3,4e38"), -3.4e38f);
  EXPECT_EQ(MessageOf([] { FloatFromText("1e39"); }), "'1e39' is not a valid floating point value");
  EXPECT_EQ(MessageOf([] { FloatFromText("-5e40"); }),
            "'-5e40' is not a valid floating point value");
}

TEST(ParameterGrid, MembersWithoutASecondNameTakeNoRowAndRowsStayContiguous) {
  ASSERT_EQ(GridMembers(IdService).size(), 14u);
  EXPECT_TRUE(GridMembers(IdMeasurement).empty());
  // Members 9 and 12 of the user settings are nameless: 11 rows.
  ASSERT_EQ(GridMembers(IdSettings).size(), 11u);
  ValueStorage storage;
  storage.Settings.Unused9 = 0x77;
  storage.Settings.Flags = 0x12345678;
  ParseParameterTexts(IdSettings, {"1", "0.5", "1", "2", "2", "10", "20", "30", "600", "1", "125"},
                      storage);
  EXPECT_EQ(storage.Settings.ArchivePeriod, 600);
  EXPECT_EQ(storage.Settings.DisplayLanguage, 1);  // row 9 is member 10
  EXPECT_EQ(storage.Settings.Brightness, 125);
  EXPECT_EQ(storage.Settings.Unused9, 0x77);
  EXPECT_EQ(storage.Settings.Flags, 0x12345678u);
}

TEST(ParameterGrid, ATextThatDoesNotConvertLeavesTheVariableAsItWas) {
  PinnedSeparator point('.');
  ValueStorage storage;
  storage.Service.Floats[0] = 1.5f;
  storage.Service.HvDac = 900;
  QStringList texts(14, "7");
  texts[5] = "";
  EXPECT_EQ(MessageOf([&] { ParseParameterTexts(IdService, texts, storage); }),
            "'' is not a valid floating point value");
  EXPECT_FLOAT_EQ(storage.Service.Floats[0], 1.5f);
  EXPECT_EQ(storage.Service.HvDac, 900);

  texts[5] = "7";
  ParseParameterTexts(IdService, texts, storage);
  EXPECT_FLOAT_EQ(storage.Service.Floats[0], 7.0f);
  EXPECT_EQ(storage.Service.HvDac, 7);
}

}  // namespace
}  // namespace vantor
