// A port that went away and came back, with the same instrument on it or
// another one (the cable moved to another serial under the same COM number).
#include <gtest/gtest.h>

#include <memory>

#include "CoreApplication.h"
#include "DeviceLink.h"
#include "Dictionary.h"
#include "ReturningPort.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

std::array<uint8_t, 20> DeviceDataOf(sim::VirtualInstrument& instrument) {
  return instrument.Values().DeviceData;
}

class ReturningPort : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureCoreApplication();
    link.InitDictionary();
    link.SetLineOpener(IdentifyingOnReturn(link, &DeviceLink::OpenMappedPort));
    link.OnPortPresence = [this](bool present) { presence.push_back(present); };
    ASSERT_TRUE(first.PinAs(3));
    first.SetFirmware("VNT-2 v1.07");
    link.OpenPort(3);
    ASSERT_TRUE(link.PortOpen());
    // As the connection leaves them: the first instrument's identity.
    ASSERT_EQ(link.ReadVariable(IdDeviceData), 1);
    ASSERT_EQ(link.ReadVariable(IdFirmware), 1);
    ASSERT_EQ(link.ReadVariable(IdMeasurement), 1);
  }

  // Another instrument on COM3 in place of the first one.
  sim::VirtualInstrument& Second(const char* serial, const char* firmware = "VNT-2 v1.07") {
    second = std::make_unique<sim::VirtualInstrument>();
    second->WithLock([serial](sim::InstrumentModel& m) {
      m.SetSerial(serial);
      return 0;
    });
    second->SetFirmware(firmware);
    EXPECT_TRUE(second->PinAs(3));
    return *second;
  }

  TempConfigHome home;
  sim::VirtualInstrument first;
  std::unique_ptr<sim::VirtualInstrument> second;  // goes before the first
  DeviceLink link;
  std::vector<bool> presence;
};

TEST_F(ReturningPort, OpeningAPortAfreshAsksNothingMore) {
  EXPECT_EQ(first.RequestsSeen(IdDeviceData), 1u);
  link.OpenPort(3);
  ASSERT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(first.RequestsSeen(IdDeviceData), 1u);
  EXPECT_EQ(first.RequestsSeen(IdFirmware), 1u);
  EXPECT_TRUE(presence.empty());
}

TEST_F(ReturningPort, TheSameInstrumentBackIsAskedWhoItIsAndThenAnswersAtOnce) {
  const ValueStorage before = link.Values();
  first.Unplug();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  ASSERT_TRUE(first.Plug());
  first.ResetCounters();

  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(presence, (std::vector<bool>{false, true}));
  // Who it is, before the request that reopened the port.
  EXPECT_EQ(first.RequestsSeen(IdDeviceData), 1u);
  EXPECT_EQ(first.RequestsSeen(IdFirmware), 1u);
  EXPECT_EQ(first.RequestsSeen(IdMeasurement), 1u);
  EXPECT_EQ(link.Values().DeviceData, before.DeviceData);
  EXPECT_EQ(link.Values().Firmware, before.Firmware);
}

TEST_F(ReturningPort, AnotherInstrumentIsNeverSentWhatWasMadeForTheOneBefore) {
  first.Unplug();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  sim::VirtualInstrument& other = Second("SN004719", "VNT-2 v1.09");

  // A write of the first instrument's settings finds the other one: it is
  // asked who it is, and the write does not go out.
  EXPECT_EQ(link.WriteVariable(IdSettings), 0);
  EXPECT_EQ(other.WritesSeen(IdSettings), 0u);
  EXPECT_EQ(other.RequestsSeen(IdDeviceData), 1u);
  EXPECT_EQ(link.Values().DeviceData, DeviceDataOf(other));
  EXPECT_STREQ(link.Values().Firmware.data(), "VNT-2 v1.09");
  EXPECT_EQ(link.LostPortNumber(), 3);
  EXPECT_EQ(presence, std::vector<bool>{false});

  // The next exchange reaches it, as the instrument the link now knows.
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(presence, (std::vector<bool>{false, true}));
  EXPECT_EQ(other.RequestsSeen(IdMeasurement), 1u);
  EXPECT_EQ(link.OpenPortNumber(), 3);
  EXPECT_NE(DeviceDataOf(other), DeviceDataOf(first));
}

TEST_F(ReturningPort, AFirmwareOtherThanBeforeMakesAnotherInstrumentToo) {
  first.Unplug();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  first.SetFirmware("VNT-2 v1.08");
  ASSERT_TRUE(first.Plug());
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_STREQ(link.Values().Firmware.data(), "VNT-2 v1.08");
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
}

TEST_F(ReturningPort, APortBackWhereNothingSaysWhoItIsIsNotBackYet) {
  first.Unplug();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  ASSERT_TRUE(first.Plug());
  first.InjectFault(sim::Fault::Silence, IdFirmware);
  first.ResetCounters();

  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_EQ(first.RequestsSeen(IdMeasurement), 0u) << "nothing goes out before it is known";
  EXPECT_EQ(link.LostPortNumber(), 3);
  EXPECT_EQ(presence, std::vector<bool>{false});

  first.ClearFaults();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(presence, (std::vector<bool>{false, true}));
}

TEST_F(ReturningPort, AnInstrumentWithoutTheVariableSaysSoAndCountsAsKnown) {
  first.Unplug();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  sim::VirtualInstrument& other = Second("SN005102");
  other.InjectFault(sim::Fault::ErrorReply, IdFirmware);

  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);  // another one: the first request stays
  EXPECT_EQ(link.Values().Firmware[0], '\0');
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(link.Values().DeviceData, DeviceDataOf(other));
}

}  // namespace
}  // namespace vantor
