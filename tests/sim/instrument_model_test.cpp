// The instrument's behaviour, driven through its protocol answers in
// process: a requesting station builds the program's frames and checks the
// instrument's replies, without a terminal in between.
#include <gtest/gtest.h>

#include <algorithm>

#include "Display.h"
#include "InstrumentModel.h"
#include "RequestReader.h"

namespace vantor::sim {
namespace {

// The program's side of the exchange, in process.
struct Requester {
  Station station;
  FrameBuffer frame{};

  Requester() { station.InitDictionary(); }

  int Exchange(InstrumentModel& instrument, size_t length, uint8_t index) {
    const Reply reply = instrument.Answer(frame.data(), length);
    if (reply.Bytes.empty() || reply.Bytes.size() > frame.size()) {
      return 0;
    }
    std::copy(reply.Bytes.begin(), reply.Bytes.end(), frame.begin());
    if (FindReplyStart(frame.data(), reply.Bytes.size(), station.OwnAddressOnWire()) != 0) {
      return 0;
    }
    return station.ParseReply(frame, reply.Bytes.size(), index);
  }
  int Read(InstrumentModel& instrument, uint8_t id) {
    const uint8_t index = station.LookupIndex(id);
    return Exchange(instrument, station.BuildReadRequest(frame, index, DefaultDeviceAddress),
                    index);
  }
  int Write(InstrumentModel& instrument, uint8_t id) {
    const uint8_t index = station.LookupIndex(id);
    return Exchange(instrument, station.BuildWriteRequest(frame, index, DefaultDeviceAddress),
                    index);
  }
  int Command(InstrumentModel& instrument, uint8_t command) {
    station.Values.Command = command;
    return Write(instrument, IdCommandAlias);
  }
  const MeasurementRecord& Measurement() const { return station.Values.Measurement; }
};

LocalTime At(int year, int month, int day, int hour, int minute, int second) {
  return {year, month, day, hour, minute, second};
}

int64_t RecordSeconds(const ArchiveRecordValue& r) {
  return CivilSeconds(UnpackArchiveDate(r.Date));
}

class Instrument : public ::testing::Test {
 protected:
  void SetUp() override {
    instrument.SetSeed(7);
    instrument.SetDeviceClock(At(2026, 3, 1, 12, 0, 0));
  }
  void SetPeriod(uint16_t seconds) {
    ASSERT_EQ(program.Read(instrument, IdSettings), 1);
    program.station.Values.Settings.ArchivePeriod = seconds;
    ASSERT_EQ(program.Write(instrument, IdSettings), 1);
  }

  InstrumentModel instrument;
  Requester program;
};

TEST(ArchiveDate, PacksAsTheRecordLayoutDecodes) {
  const std::array<uint8_t, 4> packed = PackArchiveDate(At(2025, 11, 7, 9, 5, 3));
  EXPECT_EQ(packed, (std::array<uint8_t, 4>{0x19, 0xE9, 0x85, 0xC3}));
  for (const LocalTime& t :
       {At(2000, 1, 1, 0, 0, 0), At(2063, 12, 31, 23, 59, 59), At(2024, 2, 29, 12, 30, 45)}) {
    const LocalTime back = UnpackArchiveDate(PackArchiveDate(t));
    EXPECT_EQ(CivilSeconds(back), CivilSeconds(t));
  }
}

TEST_F(Instrument, ArchiveTransferReturnsRecordsInStorageOrderAndStartsOverOnCommand) {
  const std::vector<ArchiveRecordValue> records = {
      MakeArchiveRecord(0.11F, 0, At(2026, 1, 5, 8, 0, 0)),
      MakeArchiveRecord(0.52F, ArchiveEventFlag, At(2026, 1, 5, 8, 1, 0)),
      SeparatorRecord(),
      MakeArchiveRecord(0.13F, 0, At(2026, 1, 6, 9, 0, 0)),
  };
  instrument.SetArchive(records);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_EQ(program.Measurement().ArchiveRecordCount, 4U);

  ASSERT_EQ(program.Command(instrument, CommandStartArchiveTransfer), 1);
  for (const ArchiveRecordValue& expected : records) {
    ASSERT_EQ(program.Read(instrument, IdArchive), 1);
    EXPECT_TRUE(SameRecord(program.station.Values.Archive, expected));
  }
  ASSERT_EQ(program.Read(instrument, IdArchive), 1);  // past the end: nothing more
  EXPECT_TRUE(IsSeparator(program.station.Values.Archive));

  ASSERT_EQ(program.Command(instrument, CommandStartArchiveTransfer), 1);
  ASSERT_EQ(program.Read(instrument, IdArchive), 1);
  EXPECT_TRUE(SameRecord(program.station.Values.Archive, records[0]));
}

TEST_F(Instrument, ARecordSpoiltOnTheLineIsGoneButALostRequestMovesNothing) {
  // The instrument cannot know what becomes of its reply: it moves on with
  // every read it answers, as a real one does.
  instrument.PrefillArchive(4);
  const std::vector<ArchiveRecordValue> stored = instrument.Archive();
  ASSERT_EQ(program.Command(instrument, CommandStartArchiveTransfer), 1);
  instrument.InjectFault({Fault::Garble, IdArchive, 1});
  EXPECT_EQ(program.Read(instrument, IdArchive), 0);  // record 0, spoilt
  instrument.InjectFault({Fault::Silence, IdArchive, 1});
  EXPECT_EQ(program.Read(instrument, IdArchive), 0);  // the request never arrived
  instrument.InjectFault({Fault::LostReply, IdArchive, 1});
  EXPECT_EQ(program.Read(instrument, IdArchive), 0);  // record 1, lost on the way
  ASSERT_EQ(program.Read(instrument, IdArchive), 1);
  EXPECT_TRUE(SameRecord(program.station.Values.Archive, stored[2]));
}

TEST_F(Instrument, LogsEveryArchivePeriodWithItsClockAndTheEventFlag) {
  SetPeriod(10);
  instrument.SetDeviceClock(At(2026, 3, 1, 12, 0, 0));
  instrument.AdvanceSeconds(30);
  ASSERT_EQ(instrument.Archive().size(), 3U);  // an empty archive needs no separator
  EXPECT_EQ(RecordSeconds(instrument.Archive()[0]), CivilSeconds(At(2026, 3, 1, 12, 0, 10)));
  EXPECT_EQ(RecordSeconds(instrument.Archive()[2]), CivilSeconds(At(2026, 3, 1, 12, 0, 30)));
  for (const ArchiveRecordValue& r : instrument.Archive()) {
    EXPECT_EQ(r.Flags, 0);
    EXPECT_GT(r.Value, 0.05F);
    EXPECT_LT(r.Value, 0.3F);
  }

  // Above the active threshold (number 0: 0.3 uSv/h) the record is flagged.
  instrument.SetBackground(5.0);
  instrument.AdvanceSeconds(10);
  ASSERT_EQ(instrument.Archive().size(), 4U);
  EXPECT_EQ(instrument.Archive().back().Flags, ArchiveEventFlag);
  EXPECT_GT(instrument.Archive().back().Value, 3.0F);
}

TEST_F(Instrument, SettingsChangePowerCycleAndEraseShapeTheRuns) {
  SetPeriod(5);
  instrument.AdvanceSeconds(10);
  ASSERT_EQ(instrument.Archive().size(), 2U);

  SetPeriod(5);  // any settings write starts a new run
  instrument.AdvanceSeconds(5);
  instrument.PowerCycle();
  instrument.AdvanceSeconds(5);
  instrument.PowerCycle();
  instrument.PowerCycle();  // off and on with nothing logged: still one separator
  instrument.AdvanceSeconds(5);
  const std::vector<ArchiveRecordValue>& a = instrument.Archive();
  ASSERT_EQ(a.size(), 8U);
  EXPECT_TRUE(IsSeparator(a[2]));
  EXPECT_TRUE(IsSeparator(a[4]));
  EXPECT_TRUE(IsSeparator(a[6]));
  EXPECT_FALSE(IsSeparator(a[7]));

  ASSERT_EQ(program.Command(instrument, CommandEraseArchive), 1);
  EXPECT_TRUE(instrument.Archive().empty());
  instrument.AdvanceSeconds(5);
  ASSERT_EQ(instrument.Archive().size(), 1U);
  EXPECT_FALSE(IsSeparator(instrument.Archive()[0]));
}

TEST_F(Instrument, ArchiveStopsAtCapacityAndReportsFull) {
  instrument.PrefillArchive(ArchiveCapacity - 2);
  SetPeriod(1);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_EQ(program.Measurement().StatusFlags & StatusArchiveFull, 0);
  instrument.AdvanceSeconds(10);
  EXPECT_EQ(instrument.Archive().size(), static_cast<size_t>(ArchiveCapacity));
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_EQ(program.Measurement().ArchiveRecordCount, 1350U);
  EXPECT_NE(program.Measurement().StatusFlags & StatusArchiveFull, 0);

  ASSERT_EQ(program.Command(instrument, CommandEraseArchive), 1);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_EQ(program.Measurement().ArchiveRecordCount, 0U);
  EXPECT_EQ(program.Measurement().StatusFlags & StatusArchiveFull, 0);
}

TEST_F(Instrument, PrefilledArchiveHasItsRunsInTimeOrder) {
  instrument.PrefillArchive(100, 3);
  const std::vector<ArchiveRecordValue>& a = instrument.Archive();
  ASSERT_EQ(a.size(), 100U);
  EXPECT_EQ(std::count_if(a.begin(), a.end(), IsSeparator), 2);
  EXPECT_FALSE(IsSeparator(a.front()));
  EXPECT_FALSE(IsSeparator(a.back()));
  int64_t last = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (IsSeparator(a[i])) {
      EXPECT_FALSE(IsSeparator(a[i + 1]));
      continue;
    }
    EXPECT_GT(RecordSeconds(a[i]), last);
    last = RecordSeconds(a[i]);
  }
  EXPECT_LT(last, CivilSeconds(instrument.DeviceClock()));

  instrument.PrefillArchive(5000, 1);
  EXPECT_EQ(instrument.Archive().size(), static_cast<size_t>(ArchiveCapacity));
  EXPECT_TRUE(instrument.ArchiveFull());
}

TEST_F(Instrument, NewMeasurementFlagIsSetEachSecondAndClearedOnceAnswered) {
  instrument.AdvanceSeconds(1);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_NE(program.Measurement().StatusFlags & StatusNewMeasurement, 0);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_EQ(program.Measurement().StatusFlags & StatusNewMeasurement, 0);

  instrument.AdvanceSeconds(1);
  instrument.InjectFault({Fault::Silence, IdMeasurement, 1});
  EXPECT_EQ(program.Read(instrument, IdMeasurement), 0);
  instrument.InjectFault({Fault::Cut, IdMeasurement, 1});
  EXPECT_EQ(program.Read(instrument, IdMeasurement), 0);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);  // the cut reply had delivered it
  EXPECT_EQ(program.Measurement().StatusFlags & StatusNewMeasurement, 0);
}

TEST_F(Instrument, DoseAndTimeAccumulateAndCommandZeroResetsThem) {
  instrument.SetBackground(10.0);
  instrument.AdvanceSeconds(360);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_EQ(program.Measurement().AccumulationTime, 360U);
  EXPECT_NEAR(program.Measurement().Dose, 1.0, 0.1);  // 10 uSv/h for a tenth of an hour
  EXPECT_NEAR(program.Measurement().DoseRate, 10.0, 1.0);

  ASSERT_EQ(program.Command(instrument, CommandResetDose), 1);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_EQ(program.Measurement().Dose, 0.0F);
  EXPECT_EQ(program.Measurement().AccumulationTime, 0U);
  EXPECT_NEAR(program.Measurement().DoseRate, 10.0, 1.0);  // the rate is not reset
}

TEST_F(Instrument, UncertaintyShrinksAsCountsAccumulate) {
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  const float early = program.Measurement().DoseRateError;
  instrument.AdvanceSeconds(600);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  const float late = program.Measurement().DoseRateError;
  EXPECT_LT(late, early / 3);
  EXPECT_GT(late, 0.0F);
  EXPECT_NEAR(program.Measurement().DoseRate, DefaultBackground, 0.015);
}

TEST_F(Instrument, DoseRateFollowsAStepInTheFieldWithinSeconds) {
  instrument.AdvanceSeconds(300);
  // A source brought close: the long average starts over instead of taking
  // minutes to catch up.
  instrument.SetBackground(12.0, false);
  instrument.AdvanceSeconds(10);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_NEAR(program.Measurement().DoseRate, 12.0, 3.0);
}

TEST_F(Instrument, ClockWriteSetsTheClockWhichThenRuns) {
  std::array<uint8_t, 8>& clock = program.station.Values.Measurement.DeviceClock;
  clock = {26, 2, 28, 23, 59, 58, 0, 0};
  ASSERT_EQ(program.Write(instrument, IdClock), 1);
  instrument.AdvanceSeconds(3);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_EQ(program.Measurement().DeviceClock, (std::array<uint8_t, 8>{26, 3, 1, 0, 0, 1, 0, 0}));

  clock = {26, 13, 1, 0, 0, 0, 0, 0};  // no such month: the clock keeps running as it was
  ASSERT_EQ(program.Write(instrument, IdClock), 1);
  ASSERT_EQ(program.Read(instrument, IdMeasurement), 1);
  EXPECT_EQ(program.Measurement().DeviceClock[ClockMonth], 3);
}

TEST_F(Instrument, FactorySettingsCommandRestoresTheUserSettingsOnly) {
  ASSERT_EQ(program.Read(instrument, IdSettings), 1);
  program.station.Values.Settings.DoseRateAlarm = {9, 9, 9};
  program.station.Values.Settings.Brightness = 25;
  ASSERT_EQ(program.Write(instrument, IdSettings), 1);
  ASSERT_EQ(program.Read(instrument, IdService), 1);
  program.station.Values.Service.HvDac = 1999;
  ASSERT_EQ(program.Write(instrument, IdService), 1);

  ASSERT_EQ(program.Command(instrument, CommandFactorySettings), 1);
  ASSERT_EQ(program.Read(instrument, IdSettings), 1);
  const UserSettings factory = FactoryUserSettings();
  EXPECT_EQ(program.station.Values.Settings.DoseRateAlarm, factory.DoseRateAlarm);
  EXPECT_EQ(program.station.Values.Settings.Brightness, factory.Brightness);
  EXPECT_EQ(instrument.Values().Service.HvDac, 1999);  // calibration survives
}

TEST_F(Instrument, RefusedOrUnansweredRequestsAreNotActedOn) {
  instrument.SetDose(4.0);
  instrument.InjectFault({Fault::ErrorReply, IdCommand, 1});
  EXPECT_EQ(program.Command(instrument, CommandResetDose), 0);
  instrument.InjectFault({Fault::Silence, IdCommand, 1});
  EXPECT_EQ(program.Command(instrument, CommandResetDose), 0);
  EXPECT_EQ(instrument.Values().Measurement.Dose, 4.0F);
  EXPECT_EQ(instrument.WritesSeen(IdCommand), 2U);  // both arrived

  EXPECT_EQ(program.Command(instrument, CommandResetDose), 1);  // the rules ran out
  EXPECT_EQ(instrument.Values().Measurement.Dose, 0.0F);
}

TEST_F(Instrument, FirmwareTextTravelsAtItsFullLength) {
  instrument.SetFirmware("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  ASSERT_EQ(program.Read(instrument, IdFirmware), 1);
  EXPECT_STREQ(program.station.Values.Firmware.data(), "ABCDEFGHIJKLMNOPQRST");
}

TEST(Display, PixelsLieColumnByColumnFromTheRight) {
  DisplayBuffer screen{};
  SetPixel(screen, 127, 63);
  EXPECT_EQ(screen[0], 0x01);
  SetPixel(screen, 0, 0);
  EXPECT_EQ(screen[1023], 0x80);
  SetPixel(screen, 126, 62);
  EXPECT_EQ(screen[8], 0x02);
  EXPECT_TRUE(PixelAt(screen, 126, 62));
  EXPECT_FALSE(PixelAt(screen, 126, 61));
  EXPECT_EQ(std::count_if(screen.begin(), screen.end(), [](uint8_t b) { return b != 0; }), 3);
}

TEST(Display, ShowsTheReadingInLargeDigits) {
  DisplayState state;
  state.Reading = 0.1234;
  const DisplayBuffer screen = DrawDisplay(state);
  DisplayBuffer digits{};
  DrawText(digits, 0, 11, "0.12", 3);
  for (int y = 11; y < 32; ++y) {
    for (int x = 0; x < 72; ++x) {
      ASSERT_EQ(PixelAt(screen, x, y), PixelAt(digits, x, y)) << x << "," << y;
    }
  }
  std::string number;
  std::string unit;
  FormatReading(1234.5, false, number, unit);
  EXPECT_EQ(number + " " + unit, "1.23 mSv/h");
  FormatReading(15.67, false, number, unit);
  EXPECT_EQ(number + " " + unit, "15.7 uSv/h");
}

TEST(RequestReader, FindsFramesInNoiseAndAcrossReads) {
  Station program;
  program.InitDictionary();
  FrameBuffer frame{};
  const size_t n =
      program.BuildReadRequest(frame, program.LookupIndex(IdMeasurement), DefaultDeviceAddress);
  const auto now = RequestReader::Clock::now();
  RequestReader reader;
  std::vector<uint8_t> bytes = {0x55, 0x02, 0x00, 0x07};  // noise, even a false address start
  bytes.insert(bytes.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n));
  reader.Feed(bytes.data(), 10, now);
  std::vector<uint8_t> got;
  EXPECT_FALSE(reader.Next(DefaultDeviceAddress, got));
  reader.Feed(bytes.data() + 10, bytes.size() - 10, now);
  ASSERT_TRUE(reader.Next(DefaultDeviceAddress, got));
  EXPECT_EQ(got,
            std::vector<uint8_t>(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n)));
  EXPECT_FALSE(reader.Pending());

  // A frame broken off is forgotten once the line has been quiet a while, so
  // it cannot swallow the start of the next request.
  reader.Feed(frame.data(), 16, now);
  reader.Expire(now + std::chrono::milliseconds(5));
  EXPECT_TRUE(reader.Pending());
  reader.Expire(now + RequestReader::StaleAfter);
  EXPECT_FALSE(reader.Pending());

  // Addressed to another station: skipped.
  frame[0] = 0x03;
  reader.Feed(frame.data(), n, now);
  EXPECT_FALSE(reader.Next(DefaultDeviceAddress, got));
}

}  // namespace
}  // namespace vantor::sim
