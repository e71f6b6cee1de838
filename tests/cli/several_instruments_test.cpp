// What names the instruments of a run on several ports: the ports chosen,
// and the serial their files are named by.
#include <gtest/gtest.h>

#include "SeveralInstruments.h"

namespace vantor::cli {
namespace {

TEST(SeveralInstruments, PortListsAreNumbersOfTheMapEachOnceOrAll) {
  QString error;
  EXPECT_TRUE(ParsePortChoice("all", &error)->All);
  const std::optional<PortChoice> listed = ParsePortChoice(" 5, 3 ,4", &error);
  ASSERT_TRUE(listed.has_value());
  EXPECT_EQ(listed->Ports, (std::vector<int>{3, 4, 5}));
  EXPECT_TRUE(listed->Several());
  EXPECT_FALSE(ParsePortChoice("7", &error)->Several()) << "one port works as ever";
  for (const char* wrong : {"3,,4", "0", "255", "3,x", "", "All"}) {
    EXPECT_FALSE(ParsePortChoice(wrong, &error).has_value()) << wrong;
  }
  EXPECT_FALSE(ParsePortChoice("3,4,3", &error).has_value());
  EXPECT_EQ(error, "--port names COM3 twice");
}

TEST(SeveralInstruments, TheSerialIsTheTextTheDeviceDataBeginsWithElseItsBytes) {
  std::array<uint8_t, 20> data{};
  EXPECT_EQ(InstrumentSerial(data), "");
  EXPECT_EQ(InstrumentFileName(3, "", ".csv"), "COM3.csv");
  const char text[] = "SN004711";
  std::copy(text, text + 8, data.begin());
  data[12] = 26;
  EXPECT_EQ(InstrumentSerial(data), "SN004711");
  EXPECT_EQ(InstrumentFileName(12, "SN004711", ".jsonl"), "COM12-SN004711.jsonl");
  // No text a file name could carry: the bytes, without the zeros after them.
  data = {0x01, '/', 0xFF, 0x00, 0x07};
  EXPECT_EQ(InstrumentSerial(data), "012fff0007");
}

}  // namespace
}  // namespace vantor::cli
