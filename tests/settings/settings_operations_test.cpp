// The settings operations on an in-memory line where the virtual
// instrument's model answers: what each result says, what reaches the
// instrument, and what a refusal or a silence half way leaves behind.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include <QTemporaryDir>
#include "DeviceLink.h"

#include "Dictionary.h"
#include "HistoryService.h"
#include "MemoryLine.h"
#include "SettingsBackup.h"
#include "SettingsHistory.h"
#include "SettingsOperations.h"

namespace vantor {
namespace {

using sim::Fault;

class SettingsOperations : public ::testing::Test {
 protected:
  void SetUp() override { test::ConnectToModel(link, model); }

  // Variables 3 and 4 as the instrument sends them.
  std::vector<uint8_t> Wire(uint8_t index) {
    std::vector<uint8_t> bytes(MaxPayload);
    bytes.resize(model.Protocol().EncodeValue(index, bytes.data()));
    return bytes;
  }

  sim::InstrumentModel model;
  DeviceLink link;
};

TEST_F(SettingsOperations, ReadStopsAtASilentServiceReadAndToleratesARefusedUserRead) {
  model.InjectFault({Fault::Silence, IdService, 1});
  SettingsRead read = ReadSettings(link);
  EXPECT_FALSE(read.Identified());
  EXPECT_EQ(link.ExchangeCount(), 1u);

  model.SetFirmware("VNT-2 v1.07");
  model.InjectFault({Fault::ErrorReply, IdSettings, 1});
  read = ReadSettings(link);
  EXPECT_TRUE(read.Identified());
  EXPECT_FALSE(read.UserRead);
  EXPECT_TRUE(read.DeviceDataRead);
  EXPECT_TRUE(read.FirmwareRead);
  EXPECT_EQ(read.Firmware, "VNT-2 v1.07");
  EXPECT_EQ(read.Service.HvDac, 2150);
  EXPECT_EQ(read.DeviceData, model.Values().DeviceData);
}

TEST_F(SettingsOperations, AWriteTellsWhatWasKnownBeforeAndARefusalChangesNothingThere) {
  ASSERT_TRUE(ReadSettings(link).UserRead);
  UserSettings changed = link.Values().Settings;
  changed.ArchivePeriod = 40000;
  changed.DoseRateAlarm[2] = 12.5F;

  model.InjectFault({Fault::ErrorReply, IdSettings, 1});
  UserSettingsWrite write = WriteUserSettings(link, changed);
  EXPECT_FALSE(write.Written);
  EXPECT_EQ(model.Values().Settings.ArchivePeriod, 60);
  EXPECT_EQ(write.Before.ArchivePeriod, 60);
  EXPECT_EQ(write.After.ArchivePeriod, 40000);

  write = WriteUserSettings(link, changed);
  EXPECT_TRUE(write.Written);
  EXPECT_EQ(model.Values().Settings.ArchivePeriod, 40000);
  EXPECT_EQ(model.Values().Settings.DoseRateAlarm[2], 12.5F);
}

TEST_F(SettingsOperations, RestoreWritesOnlyTheVariableThatDiffersAndReadsItBack) {
  ValueStorage wanted = model.Values();
  wanted.Settings.Brightness = 25;
  wanted.Settings.Flags = 0;
  const std::vector<uint8_t> service = Wire(IndexService);

  const SettingsRestore dry = RestoreSettings(link, wanted, true);
  EXPECT_EQ(dry.Result, SettingsRestore::Outcome::DryRun);
  ASSERT_EQ(dry.Differences.size(), 2u);
  EXPECT_EQ(dry.Differences[0].Name, "Яркость дисплея");
  EXPECT_EQ(dry.Differences[0].Instrument, "150");
  EXPECT_EQ(dry.Differences[0].Wanted, "25");
  EXPECT_EQ(dry.Differences[1].Name, "#12");
  EXPECT_EQ(model.WritesSeen(IdSettings), 0u);

  const SettingsRestore done = RestoreSettings(link, wanted, false);
  EXPECT_EQ(done.Result, SettingsRestore::Outcome::Restored);
  EXPECT_EQ(model.WritesSeen(IdService), 0u);
  EXPECT_EQ(model.WritesSeen(IdSettings), 1u);
  ASSERT_TRUE(done.User.has_value());
  EXPECT_EQ(done.User->Before.Brightness, 150);
  EXPECT_FALSE(done.Service.has_value());
  EXPECT_EQ(model.Values().Settings.Brightness, 25);
  EXPECT_EQ(Wire(IndexService), service);

  // Nothing left to do: nothing is written.
  EXPECT_EQ(RestoreSettings(link, wanted, false).Result, SettingsRestore::Outcome::AlreadyEqual);
  EXPECT_EQ(model.WritesSeen(IdSettings), 1u);
}

TEST_F(SettingsOperations, RestoreRefusesAnotherDeviceTypeAndReportsASilenceAfterTheWrite) {
  ValueStorage wanted = model.Values();
  wanted.Service.DeviceType = 7;
  wanted.Service.HvDac = 1;
  const SettingsRestore other = RestoreSettings(link, wanted, false);
  EXPECT_EQ(other.Result, SettingsRestore::Outcome::OtherDevice);
  EXPECT_EQ(other.InstrumentType, 2);
  EXPECT_EQ(model.WritesSeen(IdService), 0u);

  // The instrument takes the write, then falls silent: a write not read
  // back is no restore.
  wanted.Service.DeviceType = 2;
  int exchanges = 0;
  link.SetOutcomeHandler([&](LinkStatus) {
    if (++exchanges == 3) {  // read 3, read 4, write 3
      model.InjectFault({Fault::Silence});
    }
  });
  const SettingsRestore half = RestoreSettings(link, wanted, false);
  EXPECT_EQ(half.Result, SettingsRestore::Outcome::LineFailure);
  ASSERT_TRUE(half.Service.has_value());
  EXPECT_TRUE(half.Service->Written);
  EXPECT_EQ(model.Values().Service.HvDac, 1);
}

// Every member survives the trip through its text bit for bit, whatever the
// float; and a text that does not fit its member, a name not in the
// dictionary, a member missing or given twice are refused, changing nothing.
TEST(SettingsMemberTexts, ReadBackToTheSameBitsAndRefuseWhatDoesNotFit) {
  ValueStorage values;
  values.Service.Floats = {0.0485F,
                           -0.0F,
                           std::numeric_limits<float>::denorm_min(),
                           std::numeric_limits<float>::max(),
                           std::bit_cast<float>(0x7FC00001u),
                           -std::numeric_limits<float>::infinity(),
                           0.1F,
                           1e-30F,
                           3.4e38F,
                           16777217.0F};
  values.Service.OperatingTime = std::numeric_limits<int32_t>::min();
  values.Service.HvDac = 65535;
  values.Service.DeviceType = 2;
  values.Settings.Flags = 0xFFFFFFFFu;
  values.Settings.Unused9 = 3;
  const std::vector<MemberText> texts = SettingsMemberTexts(values);
  ASSERT_EQ(texts.size(), 27u);
  EXPECT_EQ(texts[0].Value, "0.0485");
  EXPECT_EQ(texts[1].Value, "-0");
  EXPECT_EQ(texts[4].Value, "0x7FC00001");
  EXPECT_EQ(texts[10].Value, "-2147483648");
  EXPECT_EQ(texts[14 + 9].Name, "#9");
  EXPECT_EQ(texts[14 + 12].Value, "-1");

  ValueStorage back;
  QString error;
  ASSERT_TRUE(ApplyMemberTexts(texts, back, &error)) << error.toStdString();
  EXPECT_EQ(std::memcmp(&back.Service.Floats, &values.Service.Floats, sizeof values.Service.Floats),
            0);
  EXPECT_EQ(SettingsMemberTexts(back), texts);

  const auto refused = [&](std::vector<MemberText> changed) {
    ValueStorage target = back;
    const bool applied = ApplyMemberTexts(changed, target, &error);
    return !applied && SettingsDifferences(target, back).empty() && !error.isEmpty();
  };
  std::vector<MemberText> bad = texts;
  bad[13].Value = "256";  // device type, 8 bits
  EXPECT_TRUE(refused(bad));
  bad = texts;
  bad[0].Value = "1e39";  // beyond a float
  EXPECT_TRUE(refused(bad));
  bad = texts;
  bad[12].Value = "12.0";  // HV DAC takes whole numbers
  EXPECT_TRUE(refused(bad));
  bad = texts;
  bad[3].Name = "Калибровочная точка Гамма";
  EXPECT_TRUE(refused(bad));
  bad = texts;
  bad.pop_back();
  EXPECT_TRUE(refused(bad));
  bad = texts;
  bad.push_back(texts[5]);
  EXPECT_TRUE(refused(bad));
}

// With a history: each acknowledged write is an event naming the members
// it changed, from the program's last known values to the written ones; a
// refused write is none.
TEST_F(SettingsOperations, TheHistoryKeepsWhichMemberEachWriteChangedFromWhatToWhat) {
  QTemporaryDir dir;
  const HistoryLocation location = ParseHistoryLocation(dir.filePath("history.sqlite"));
  HistoryService kept(location);
  const HistorySink history{&kept};
  ASSERT_TRUE(ReadSettings(link).Identified());
  const InstrumentIdentity instrument = IdentityOf(link.Values());

  ServiceParameters service = link.Values().Service;
  service.Floats[7] = 2.5F;
  service.HvDac = 2200;
  EXPECT_TRUE(WriteServiceParameters(link, service, history).Written);
  UserSettings user = link.Values().Settings;
  user.ArchivePeriod = 90;
  model.InjectFault({Fault::ErrorReply, IdSettings, 1});
  EXPECT_FALSE(WriteUserSettings(link, user, history).Written);
  EXPECT_TRUE(RestoreFactorySettings(link, history));

  ASSERT_TRUE(kept.WaitIdle(10000));
  HistoryStore store(location);
  std::vector<HistoryEvent> events;
  store.VisitEvents(instrument, {}, [&](const StoredEvent& stored) {
    events.push_back(stored.Event);
    return true;
  });
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Kind, EventKind::ServiceWrite);
  ASSERT_EQ(events[0].Changes.size(), 2u);
  // In member order, named as the program shows them.
  EXPECT_EQ(events[0].Changes[0].Member, 7);
  EXPECT_EQ(events[0].Changes[0].Name, "Фон, имс/c");
  EXPECT_EQ(events[0].Changes[0].Old, "2.4");
  EXPECT_EQ(events[0].Changes[0].New, "2.5");
  EXPECT_EQ(events[0].Changes[1].Old, "2150");
  EXPECT_EQ(events[0].Changes[1].New, "2200");
  EXPECT_EQ(events[1].Kind, EventKind::FactoryReset);
}

}  // namespace
}  // namespace vantor
