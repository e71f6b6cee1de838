// How an instrument is named to people and in file names: by the serial its
// device data begins with, by its data in hex where that holds none.
#include <gtest/gtest.h>

#include <cstring>

#include "HistoryTypes.h"

namespace vantor {
namespace {

std::array<uint8_t, 20> Data(const char* text) {
  std::array<uint8_t, 20> data{};
  std::memcpy(data.data(), text, std::strlen(text));
  return data;
}

TEST(InstrumentNaming, TheSerialIsTheTextUpToTheFirstZeroWhateverFollowsIt) {
  std::array<uint8_t, 20> data = Data("SN004711");
  data[12] = 26;  // the date of manufacture after the serial
  data[13] = 14;
  EXPECT_EQ(SerialText(data), "SN004711");
  EXPECT_EQ(InstrumentSerial(data), "SN004711");
  EXPECT_EQ(SerialText(Data("VNT-2_7.a")), "VNT-2_7.a");
  // Twenty characters, no zero at all.
  EXPECT_EQ(SerialText(Data("ABCDEFGHIJ0123456789")), "ABCDEFGHIJ0123456789");
}

TEST(InstrumentNaming, BinaryDataIsNoSerialEvenWhenItStartsWithALetter) {
  EXPECT_EQ(SerialText({}), "");
  EXPECT_EQ(InstrumentSerial({}), "");
  const std::array<uint8_t, 20> letter = {'S', 'N', 0x8F, 0x01};
  EXPECT_EQ(SerialText(letter), "");
  EXPECT_EQ(InstrumentSerial(letter), "534e8f01");
  // A space or a slash cannot go into a file name as it is.
  EXPECT_EQ(SerialText(Data("SN 0047")), "");
  EXPECT_EQ(SerialText(Data("SN/0047")), "");
}

TEST(InstrumentNaming, TheNameIsTheSerialElseTheKeyOfTypeAndData) {
  InstrumentIdentity instrument;
  instrument.DeviceType = 2;
  instrument.DeviceData = Data("SN004719");
  EXPECT_EQ(InstrumentName(instrument), "SN004719");
  instrument.DeviceType = 7;
  instrument.DeviceData = {0x01, 0x00, 0xA5};
  EXPECT_EQ(InstrumentName(instrument), "7:0100a50000000000000000000000000000000000");
  EXPECT_EQ(InstrumentName(instrument), InstrumentKey(instrument));
}

}  // namespace
}  // namespace vantor
