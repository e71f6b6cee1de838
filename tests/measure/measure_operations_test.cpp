// The live operations on an in-memory line where the virtual instrument's
// model answers, with a pinned computer clock: what a poll and a clock write
// report, and when the clock is left alone.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include "DeviceLink.h"

#include "Dictionary.h"
#include "HistoryService.h"
#include "MeasureHistory.h"
#include "MeasureOperations.h"
#include "MemoryLine.h"

namespace vantor {
namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC
constexpr int64_t ZoneOffset = -3 * 3600;

class MeasureOperations : public ::testing::Test {
 protected:
  void SetUp() override { test::ConnectToModel(link, model); }

  sim::InstrumentModel model;
  DeviceLink link;
  FixedClock clock{Start, ZoneOffset};
};

TEST_F(MeasureOperations, ADriftedClockIsSetOnlyWhenAskedAndThePollSaysByHowMuch) {
  model.SetDeviceClock(clock.ToLocal(Start + 301));
  MeasurementPoll poll = PollMeasurement(link, clock, false);
  EXPECT_TRUE(poll.Read);
  EXPECT_FALSE(poll.ClockSet.has_value());
  EXPECT_EQ(model.WritesSeen(IdClock), 0u);

  poll = PollMeasurement(link, clock);
  ASSERT_TRUE(poll.ClockSet.has_value());
  EXPECT_TRUE(poll.ClockSet->Written);
  EXPECT_EQ(poll.ClockSet->InstrumentTime, Start + 301);
  EXPECT_EQ(poll.ClockSet->DriftSeconds, 301);
  EXPECT_EQ(poll.ClockSet->ComputerTime, Start);
  const LocalTime set = model.DeviceClock();
  const LocalTime now = clock.ToLocal(Start);
  EXPECT_EQ(std::tie(set.Year, set.Month, set.Day, set.Hour, set.Minute, set.Second),
            std::tie(now.Year, now.Month, now.Day, now.Hour, now.Minute, now.Second));

  // In step now: the next poll leaves the clock alone.
  EXPECT_FALSE(PollMeasurement(link, clock).ClockSet.has_value());
  EXPECT_EQ(model.WritesSeen(IdClock), 1u);
}

TEST_F(MeasureOperations, ARefusedClockWriteAndAClockWithoutADateAreToldApart) {
  model.SetDeviceClock(clock.ToLocal(Start - 7200));
  model.InjectFault({sim::Fault::ErrorReply, IdClock, 1});
  const MeasurementPoll poll = PollMeasurement(link, clock);
  ASSERT_TRUE(poll.ClockSet.has_value());
  EXPECT_FALSE(poll.ClockSet->Written);
  EXPECT_EQ(poll.ClockSet->DriftSeconds, -7200);

  // A record whose clock names no date has no instrument time to drift from.
  std::array<uint8_t, 8> fields{};
  fields[ClockHour] = 10;
  EXPECT_FALSE(InstrumentClockTime(clock, fields).has_value());
  link.Values().Measurement.DeviceClock = fields;
  const ClockSync sync = SyncClock(link, clock);
  EXPECT_TRUE(sync.Written);
  EXPECT_FALSE(sync.InstrumentTime.has_value());
  EXPECT_EQ(sync.DriftSeconds, 0);
}

TEST_F(MeasureOperations, ASilentInstrumentGivesAnUnreadPollAndNoClockWrite) {
  model.SetDeviceClock(clock.ToLocal(Start + 3600));
  model.InjectFault({sim::Fault::Silence});
  const MeasurementPoll poll = PollMeasurement(link, clock);
  EXPECT_FALSE(poll.Read);
  EXPECT_FALSE(poll.ClockSet.has_value());
  EXPECT_EQ(link.ExchangeCount(), 1u);
}

// With a history: a poll that arrived is a reading, a clock it set a
// correction with its drift, an acknowledged reset an event; nothing of a
// poll or reset that failed.
TEST_F(MeasureOperations, TheHistoryKeepsEveryPollThatArrivedAndWhatTheOperationsChanged) {
  QTemporaryDir dir;
  const HistoryLocation location = ParseHistoryLocation(dir.filePath("history.sqlite"));
  HistoryService service(location);
  const HistorySink history{&service};
  const InstrumentIdentity instrument = IdentityOf(link.Values());
  model.SetDeviceClock(clock.ToLocal(Start + 301));
  ASSERT_TRUE(PollMeasurement(link, clock, history).ClockSet);
  model.InjectFault({sim::Fault::Silence, IdMeasurement, 1});
  EXPECT_FALSE(PollMeasurement(link, clock, history).Read);
  model.InjectFault({sim::Fault::ErrorReply, IdCommand, 1});
  EXPECT_FALSE(ResetDose(link, history));
  EXPECT_TRUE(ResetDose(link, history));

  ASSERT_TRUE(service.WaitIdle(10000));
  HistoryStore store(location);
  const auto rates = store.Rates(instrument, {});
  ASSERT_EQ(rates.Value.AtMs, std::vector<int64_t>{Start * 1000});
  EXPECT_EQ(rates.Value.Rates[0], link.Values().Measurement.DoseRate);
  std::vector<HistoryEvent> events;
  store.VisitEvents(instrument, {}, [&](const StoredEvent& stored) {
    events.push_back(stored.Event);
    return true;
  });
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].Kind, EventKind::ClockSet);
  EXPECT_EQ(events[0].AtMs, Start * 1000);
  EXPECT_EQ(events[0].DeviceMs, (Start + 301) * 1000);
  EXPECT_EQ(events[0].DriftSeconds, 301);
  EXPECT_EQ(events[1].Kind, EventKind::DoseReset);
}

// Polls faster than the instrument measures: each measurement is kept once,
// at the millisecond of its poll, however many fall in one second.
TEST_F(MeasureOperations, EveryMeasurementIsKeptOnceToTheMillisecondOfItsPoll) {
  QTemporaryDir dir;
  const HistoryLocation location = ParseHistoryLocation(dir.filePath("history.sqlite"));
  HistoryService service(location);
  const HistorySink history{&service};
  clock.SetMs(Start * 1000 + 250);
  ASSERT_TRUE(PollMeasurement(link, clock, history, false).Read);
  model.AdvanceSeconds(1);  // a new measurement, within the computer's same second
  clock.SetMs(Start * 1000 + 750);
  ASSERT_TRUE(PollMeasurement(link, clock, history, false).Read);
  clock.SetMs(Start * 1000 + 990);  // nothing new since
  ASSERT_TRUE(PollMeasurement(link, clock, history, false).Read);

  ASSERT_TRUE(service.WaitIdle(10000));
  HistoryStore store(location);
  EXPECT_EQ(store.Rates(IdentityOf(link.Values()), {}).Value.AtMs,
            (std::vector<int64_t>{Start * 1000 + 250, Start * 1000 + 750}));
}

}  // namespace
}  // namespace vantor
