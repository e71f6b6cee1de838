#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Dictionary.h"
#include "Station.h"

using namespace vantor;

namespace {

Station Initialised() {
  Station s;
  s.InitDictionary();
  return s;
}

}  // namespace

TEST(Dictionary, EncodedSizesFollowTheTableOrderAfterInit) {
  Station s;
  for (uint8_t i = 0; i < VariableCount; ++i) {
    EXPECT_EQ(s.EncodedSize(i), 0) << "before InitDictionary, entry " << int(i);
  }
  s.InitDictionary();
  const uint16_t expected[VariableCount] = {2, 4, 67, 50, 2, 9, 50, 49, 82, 17, 1026, 22};
  for (uint8_t i = 0; i < VariableCount; ++i) {
    EXPECT_EQ(s.EncodedSize(i), expected[i]) << "entry " << int(i);
  }
}

TEST(Dictionary, EveryIdOutsideTheDictionaryNamesTheCommandByte) {
  Station before;
  EXPECT_EQ(before.LookupIndex(3), 0) << "every id names index 0 before init";
  Station s = Initialised();
  EXPECT_EQ(s.LookupIndex(IdCommandAlias), IndexCommand);
  EXPECT_EQ(s.LookupIndex(255), IndexCommand);
  EXPECT_EQ(s.LookupIndex(100), IndexCommand);
  EXPECT_EQ(s.LookupIndex(IdScreen), IndexScreen);
  EXPECT_EQ(s.LookupIndex(IdDeviceData), IndexDeviceData);
  EXPECT_EQ(s.LookupIndex(IdMeasurement), IndexMeasurement);
}

TEST(Dictionary, MemberNamesAreTheInstrumentsOwnTexts) {
  const VariableDescriptor& service = VariableDictionary[IndexService];
  EXPECT_STREQ(service.Members[0].RussianName, "Чувствительность ((мкЗв/ч)/(имп/c))");
  EXPECT_STREQ(service.Members[0].EnglishName, "Чувствительность ((Зв/ч)/(имп/c))");
  EXPECT_STREQ(service.Members[7].RussianName, "Фон, имс/c");
  EXPECT_STREQ(service.Members[13].EnglishName, "Тип прибора");
  const VariableDescriptor& settings = VariableDictionary[IndexSettings];
  EXPECT_STREQ(settings.Members[4].EnglishName, "Alarm EDR number");
  EXPECT_STREQ(settings.Members[8].EnglishName, "Archive recording period, s");
  EXPECT_EQ(settings.Members[9].RussianName, nullptr);
  EXPECT_EQ(settings.Members[12].EnglishName, nullptr);
  EXPECT_STREQ(settings.Members[11].RussianName, "Яркость дисплея");
  const VariableDescriptor& diagnostics = VariableDictionary[IndexDiagnostics];
  EXPECT_EQ(diagnostics.Members[11].RussianName, nullptr);
  EXPECT_STREQ(diagnostics.Members[13].EnglishName, "Неопределенность, %");
}

TEST(ValueCodec, CommandByteEncodesAsOneByte) {
  Station s = Initialised();
  s.Values.Command = 3;
  uint8_t payload[4] = {};
  EXPECT_EQ(s.EncodeValue(s.LookupIndex(IdCommandAlias), payload), 2);
  EXPECT_EQ(payload[1], 3);
}

TEST(ValueCodec, StationAddressTravelsWithItsBytesReversed) {
  Station s = Initialised();
  s.Values.StationAddress = {0xA1, 0xB2, 0xC3};
  uint8_t payload[8] = {};
  EXPECT_EQ(s.EncodeValue(IndexStationAddress, payload), 4);
  EXPECT_EQ(payload[1], 0xC3);
  EXPECT_EQ(payload[2], 0xB2);
  EXPECT_EQ(payload[3], 0xA1);
  const uint8_t wire[3] = {0x11, 0x22, 0x33};
  ASSERT_TRUE(s.DecodeValue(IndexStationAddress, wire, 3));
  EXPECT_EQ(s.Values.StationAddress, (std::array<uint8_t, 3>{0x33, 0x22, 0x11}));
}

TEST(ValueCodec, ArchiveRecordEncodesAsSeventeenBytes) {
  Station s = Initialised();
  s.Values.Archive.Value = 1.5f;
  s.Values.Archive.Flags = 4;
  s.Values.Archive.Date = {1, 2, 3, 4};
  uint8_t payload[32] = {};
  payload[0] = IdArchive;
  ASSERT_EQ(s.EncodeValue(IndexArchive, payload), 17);
  const uint8_t layout[7] = {IdArchive, 6, 25, 1, 1, 1, 1};
  EXPECT_EQ(std::memcmp(payload, layout, 7), 0);
  float value = 0;
  std::memcpy(&value, payload + 8, 4);
  EXPECT_EQ(value, 1.5f);
  EXPECT_EQ(payload[12], 4);
  EXPECT_EQ(payload[16], 4);
}

TEST(ValueCodec, StructureWithWrongLayoutLeavesStorageUntouched) {
  Station s = Initialised();
  Station source = Initialised();
  source.Values.Settings.ArchivePeriod = 600;
  source.Values.Settings.DoseRateAlarm[0] = 0.3f;
  uint8_t payload[64] = {};
  source.EncodeValue(IndexSettings, payload);

  std::vector<uint8_t> wrongCount(payload + 1, payload + 50);
  wrongCount[0] = 12;
  EXPECT_FALSE(s.DecodeValue(IndexSettings, wrongCount.data(), wrongCount.size()));
  std::vector<uint8_t> wrongLastType(payload + 1, payload + 50);
  wrongLastType[13] = TypeInt16;
  EXPECT_FALSE(s.DecodeValue(IndexSettings, wrongLastType.data(), wrongLastType.size()));
  EXPECT_EQ(s.Values.Settings.ArchivePeriod, 0);
  EXPECT_EQ(s.Values.Settings.DoseRateAlarm[0], 0.0f);

  EXPECT_TRUE(s.DecodeValue(IndexSettings, payload + 1, 49));
  EXPECT_EQ(s.Values.Settings.ArchivePeriod, 600);
}

TEST(ValueCodec, TextOfAnyLengthKeepsAtMostTwentyCharactersAndANul) {
  Station s = Initialised();
  const char* longText = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  ASSERT_TRUE(s.DecodeValue(IndexFirmware, reinterpret_cast<const uint8_t*>(longText), 27));
  EXPECT_STREQ(s.Values.Firmware.data(), "ABCDEFGHIJKLMNOPQRST");
  // No NUL before the payload ends: the text ends there.
  const uint8_t cut[3] = {'v', '1', '2'};
  ASSERT_TRUE(s.DecodeValue(IndexFirmware, cut, 3));
  EXPECT_STREQ(s.Values.Firmware.data(), "v12");
  const uint8_t empty[1] = {0};
  ASSERT_TRUE(s.DecodeValue(IndexFirmware, empty, 1));
  EXPECT_STREQ(s.Values.Firmware.data(), "");
}

TEST(ValueCodec, ScreenArrayIsStoredWhateverItsElementTypeByteSays) {
  Station s = Initialised();
  std::vector<uint8_t> bytes(1025);
  bytes[0] = 99;  // not the element type
  for (int i = 0; i < 1024; ++i) {
    bytes[1 + i] = static_cast<uint8_t>(i * 7);
  }
  ASSERT_TRUE(s.DecodeValue(IndexScreen, bytes.data(), bytes.size()));
  EXPECT_EQ(s.Values.Screen[0], 0);
  EXPECT_EQ(s.Values.Screen[1023], static_cast<uint8_t>(1023 * 7));
}

TEST(ValueCodec, ClockSettingSendsTheMeasurementClockAndTwoZeroBytes) {
  Station s = Initialised();
  Station device = Initialised();
  device.Values.Measurement.DeviceClock = {25, 11, 7, 9, 5, 3, 0, 0};
  uint8_t payload[64] = {};
  device.EncodeValue(IndexMeasurement, payload);
  ASSERT_TRUE(s.DecodeValue(IndexMeasurement, payload + 1, 49));

  uint8_t clock[16] = {};
  ASSERT_EQ(s.EncodeValue(IndexClock, clock), 9);
  const uint8_t expected[8] = {25, 11, 7, 9, 5, 3, 0, 0};
  EXPECT_EQ(std::memcmp(clock + 1, expected, 8), 0);
}
