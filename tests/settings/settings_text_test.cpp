#include <gtest/gtest.h>

#include <cstring>

#include "Dictionary.h"
#include "NumberText.h"
#include "ParameterGrid.h"
#include "SettingsText.h"
#include "TypeCodes.h"

namespace vantor {
namespace {

// Pins the decimal separator for one test and gives the locale back after.
class PinnedSeparator {
 public:
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
  e.DoseRateAlarmIndex = 1;
  e.DoseRateAlarms = {"0.3", "1", "10"};
  e.DoseAlarmIndex = 2;
  e.DoseAlarms = {"100", "1000", "10000"};
  e.ArchivePeriod = "60";
  e.SliderPosition = 4;
  e.DisplayLanguageIndex = 1;
  e.SoundIndex = 1;
  return e;
}

TEST(ThresholdText, ShowsTwoDecimalsWithTheLocaleSeparator) {
  {
    PinnedSeparator comma(',');
    EXPECT_EQ(ThresholdText(12.5f), "12,50");
  }
  PinnedSeparator point('.');
  EXPECT_EQ(ThresholdText(12.5f), "12.50");
  EXPECT_EQ(ThresholdText(0.0f), "0.00");
}

TEST(ThresholdText, GoesScientificFromAHundredMillionUp) {
  PinnedSeparator point('.');
  const QString text = ThresholdText(123456789.0f);
  EXPECT_TRUE(text.contains('E')) << text.toStdString();
  EXPECT_TRUE(text.startsWith("1.234567")) << text.toStdString();
}

TEST(PeriodText, ShowsTheSigned16BitViewAndReadsBackTheSameBits) {
  EXPECT_EQ(PeriodText(40000), "-25536");
  EXPECT_EQ(PeriodText(32767), "32767");
  UserSettingsEntries e = ValidEntries();
  e.ArchivePeriod = PeriodText(40000);
  EXPECT_EQ(CollectUserSettings(e, {}).ArchivePeriod, 40000);
  e.ArchivePeriod = "$10";
  EXPECT_EQ(CollectUserSettings(e, {}).ArchivePeriod, 16);
  e.ArchivePeriod = "70000";  // wider than the member: low 16 bits
  EXPECT_EQ(CollectUserSettings(e, {}).ArchivePeriod, 4464);
}

TEST(Brightness, SliderTakesTheNearestPositionWithinItsRange) {
  EXPECT_EQ(SliderPositionFromBrightness(250), 10);
  EXPECT_EQ(SliderPositionFromBrightness(255), 10);
  EXPECT_EQ(SliderPositionFromBrightness(0), 0);
  EXPECT_EQ(SliderPositionFromBrightness(12), 0);
  EXPECT_EQ(SliderPositionFromBrightness(13), 1);
  EXPECT_EQ(SliderPositionFromBrightness(112), 4);
  EXPECT_EQ(SliderPositionFromBrightness(113), 5);
  EXPECT_EQ(BrightnessFromSlider(4), 100);
  EXPECT_EQ(BrightnessFromSlider(10), 250);
}

TEST(ItemIndex, ANumberBeyondTheItemsLeavesNoSelection) {
  EXPECT_EQ(ItemIndexFromNumber(2, 3), 2);
  EXPECT_EQ(ItemIndexFromNumber(3, 3), -1);
  EXPECT_EQ(ItemIndexFromNumber(255, 3), -1);
  EXPECT_EQ(ItemIndexFromNumber(1, 2), 1);
  EXPECT_EQ(ItemIndexFromNumber(2, 2), -1);
}

TEST(CollectUserSettings, TakesEveryControlIntoItsMember) {
  PinnedSeparator point('.');
  const UserSettings s = CollectUserSettings(ValidEntries(), {});
  EXPECT_EQ(s.DoseRateAlarmNumber, 1);
  EXPECT_FLOAT_EQ(s.DoseRateAlarm[0], 0.3f);
  EXPECT_FLOAT_EQ(s.DoseRateAlarm[2], 10.0f);
  EXPECT_EQ(s.DoseAlarmNumber, 2);
  EXPECT_FLOAT_EQ(s.DoseAlarm[1], 1000.0f);
  EXPECT_EQ(s.ArchivePeriod, 60);
  EXPECT_EQ(s.Brightness, 100);
  EXPECT_EQ(s.DisplayLanguage, 1);
  EXPECT_EQ(s.Flags, 1u);
}

TEST(CollectUserSettings, KeepsWhatThePageDoesNotShowAsLastRead) {
  PinnedSeparator point('.');
  UserSettings last;
  last.Unused9 = 0x5A;
  last.Flags = 0xF0F00006;
  last.DoseRateAlarmNumber = 2;
  last.DoseAlarmNumber = 7;
  last.DisplayLanguage = 9;

  UserSettingsEntries e = ValidEntries();
  e.SoundIndex = 1;
  UserSettings s = CollectUserSettings(e, last);
  EXPECT_EQ(s.Unused9, 0x5A);
  EXPECT_EQ(s.Flags, 0xF0F00007u);  // sound on, other flags untouched

  e.SoundIndex = 0;
  last.Flags = 0xF0F00007;
  EXPECT_EQ(CollectUserSettings(e, last).Flags, 0xF0F00006u);

  // Boxes without a selection send what the instrument last had.
  e.SoundIndex = -1;
  e.DoseRateAlarmIndex = -1;
  e.DoseAlarmIndex = -1;
  e.DisplayLanguageIndex = -1;
  s = CollectUserSettings(e, last);
  EXPECT_EQ(s.Flags, 0xF0F00007u);
  EXPECT_EQ(s.DoseRateAlarmNumber, 2);
  EXPECT_EQ(s.DoseAlarmNumber, 7);
  EXPECT_EQ(s.DisplayLanguage, 9);

  // Before any read that is zero.
  s = CollectUserSettings(e, UserSettings{});
  EXPECT_EQ(s.Flags, 0u);
  EXPECT_EQ(s.DisplayLanguage, 0);
}

TEST(CollectUserSettings, StopsAtTheFirstEntryThatDoesNotConvert) {
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
  EXPECT_FLOAT_EQ(FloatFromText("3,4e38"), 3.4e38f);
  EXPECT_FLOAT_EQ(FloatFromText("-3,4e38"), -3.4e38f);
  EXPECT_EQ(MessageOf([] { FloatFromText("1e39"); }), "'1e39' is not a valid floating point value");
  EXPECT_EQ(MessageOf([] { FloatFromText("-5e40"); }),
            "'-5e40' is not a valid floating point value");
  EXPECT_EQ(MessageOf([] { FloatFromText("1.5"); }), "'1.5' is not a valid floating point value");
}

struct FloatCase {
  float value;
  const char* text;
};

class FloatParameterTextTest : public ::testing::TestWithParam<FloatCase> {};

TEST_P(FloatParameterTextTest, FollowsTheGridFormat) {
  PinnedSeparator point('.');
  EXPECT_EQ(FloatParameterText(GetParam().value).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Grid, FloatParameterTextTest,
                         ::testing::Values(FloatCase{0.0512f, "0.0512"}, FloatCase{0.1f, "0.100"},
                                           FloatCase{1234.5678f, "1234.568"},
                                           FloatCase{123456.789f, "123456.790"},
                                           FloatCase{-12.345f, "-12.3"}, FloatCase{0.0f, "0"},
                                           FloatCase{1.0f, "1.000"}));

TEST(FloatParameterText, UsesScientificForLargeNegativesAndTheLocaleSeparator) {
  PinnedSeparator comma(',');
  const QString text = FloatParameterText(-2500.0f);
  EXPECT_TRUE(text.startsWith("-2,5")) << text.toStdString();
  EXPECT_TRUE(text.contains('E')) << text.toStdString();
  EXPECT_EQ(FloatParameterText(1234.5678f), "1234,568");
  EXPECT_EQ(FloatParameterText(0.0512f), "0,0512");
}

TEST(ParameterText, ShowsIntegersByTheirTypeCode) {
  const uint8_t ff[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(ParameterText(TypeInt8, ff, 4), "255");
  EXPECT_EQ(ParameterText(TypeSignedInt8, ff, 4), "-1");
  EXPECT_EQ(ParameterText(TypeInt16, ff, 4), "65535");
  EXPECT_EQ(ParameterText(TypeSignedInt16, ff, 4), "-1");
  EXPECT_EQ(ParameterText(TypeInt32, ff, 4), "-1");
  const char text[] = "\xC4\xE0";  // "Да" in the instrument's code page
  EXPECT_EQ(ParameterText(TypeText, reinterpret_cast<const uint8_t*>(text), 3), "Да");
  EXPECT_FALSE(ParameterText(TypeRaw8, ff, 4).has_value());
}

TEST(StoreParameter, KeepsTheLowBitsOfTheMembersWidth) {
  uint8_t field[4] = {};
  ASSERT_TRUE(StoreParameter(TypeInt8, "300", field));
  EXPECT_EQ(field[0], 44);
  uint16_t dac = 0;
  ASSERT_TRUE(StoreParameter(TypeInt16, "70000", reinterpret_cast<uint8_t*>(&dac)));
  EXPECT_EQ(dac, 4464);
  int32_t time = 0;
  ASSERT_TRUE(StoreParameter(TypeInt32, " -1", reinterpret_cast<uint8_t*>(&time)));
  EXPECT_EQ(time, -1);
  ASSERT_TRUE(StoreParameter(TypeInt32, "0x7FFFFFFF", reinterpret_cast<uint8_t*>(&time)));
  EXPECT_EQ(time, 0x7FFFFFFF);
  uint8_t untouched[4] = {1, 2, 3, 4};
  EXPECT_FALSE(StoreParameter(TypeText, "abc", untouched));
  EXPECT_EQ(untouched[0], 1);
  EXPECT_EQ(MessageOf([&] { StoreParameter(TypeInt8, "12abc", field); }),
            "'12abc' is not a valid integer value");
}

TEST(GridMembers, GivesRowsOnlyToMembersWithASecondName) {
  const auto service = GridMembers(IdService);
  ASSERT_EQ(service.size(), 14u);
  EXPECT_STREQ(service.front()->RussianName, "Чувствительность ((мкЗв/ч)/(имп/c))");
  EXPECT_STREQ(service.back()->RussianName, "Тип прибора");
  // User settings: members 9 and 12 are nameless, so 11 contiguous rows.
  const auto settings = GridMembers(IdSettings);
  ASSERT_EQ(settings.size(), 11u);
  EXPECT_STREQ(settings[9]->RussianName, "Язык");
  EXPECT_STREQ(settings[10]->RussianName, "Яркость дисплея");
  EXPECT_TRUE(GridMembers(IdMeasurement).empty());
  EXPECT_TRUE(GridMembers(IdScreen).empty());
}

TEST(ParseParameterTexts, ReadsRowsBackPastNamelessMembers) {
  ValueStorage storage;
  storage.Settings.Unused9 = 0x77;
  storage.Settings.Flags = 0x12345678;
  QStringList texts = {"1", "0.5", "1", "2", "2", "10", "20", "30", "600", "1", "125"};
  ParseParameterTexts(IdSettings, texts, storage);
  EXPECT_EQ(storage.Settings.ArchivePeriod, 600);
  EXPECT_EQ(storage.Settings.DisplayLanguage, 1);  // row 9 is member 10
  EXPECT_EQ(storage.Settings.Brightness, 125);
  EXPECT_EQ(storage.Settings.Unused9, 0x77);
  EXPECT_EQ(storage.Settings.Flags, 0x12345678u);
}

TEST(ParseParameterTexts, ATextThatDoesNotConvertLeavesTheVariableAsItWas) {
  PinnedSeparator point('.');
  ValueStorage storage;
  storage.Service.Floats[0] = 1.5f;
  storage.Service.HvDac = 900;
  QStringList texts;
  for (int i = 0; i < 14; ++i) {
    texts << "7";
  }
  texts[12] = "9";
  texts[5] = "";  // the alpha calibration point
  EXPECT_EQ(MessageOf([&] { ParseParameterTexts(IdService, texts, storage); }),
            "'' is not a valid floating point value");
  EXPECT_FLOAT_EQ(storage.Service.Floats[0], 1.5f);
  EXPECT_EQ(storage.Service.HvDac, 900);

  texts[5] = "7";
  ParseParameterTexts(IdService, texts, storage);
  EXPECT_FLOAT_EQ(storage.Service.Floats[0], 7.0f);
  EXPECT_FLOAT_EQ(storage.Service.Floats[9], 7.0f);
  EXPECT_EQ(storage.Service.OperatingTime, 7);
  EXPECT_EQ(storage.Service.HvDac, 9);
  EXPECT_EQ(storage.Service.DeviceType, 7);
}

}  // namespace
}  // namespace vantor
