#include "MeasureOperations.h"

#include "DeviceLink.h"
#include "Dictionary.h"
#include "LiveTexts.h"
#include "SendCommand.h"

namespace vantor {

std::optional<int64_t> InstrumentClockTime(const CalendarClock& clock,
                                           const std::array<uint8_t, 8>& deviceClock) {
  const int month = deviceClock[ClockMonth];
  const int day = deviceClock[ClockDay];
  if (month < 1 || month > 12 || day < 1 || day > 31) {
    return std::nullopt;
  }
  LocalTime local;
  local.Year = 2000 + deviceClock[ClockYear];
  local.Month = month;
  local.Day = day;
  local.Hour = deviceClock[ClockHour];
  local.Minute = deviceClock[ClockMinute];
  local.Second = deviceClock[ClockSecond];
  return clock.FromLocal(local);
}

ClockSync SyncClock(DeviceLink& link, const CalendarClock& clock) {
  ClockSync sync;
  // Variable 6 shares its bytes with the clock of the measurement record:
  // what the instrument showed is taken before the new time goes in.
  std::array<uint8_t, 8>& fields = link.Values().Measurement.DeviceClock;
  sync.ComputerTime = clock.Now();
  sync.InstrumentTime = InstrumentClockTime(clock, fields);
  if (sync.InstrumentTime) {
    sync.DriftSeconds = *sync.InstrumentTime - sync.ComputerTime;
  }
  fields = ClockSettingFor(clock.ToLocal(sync.ComputerTime));
  sync.Written = link.WriteVariable(IdClock) != 0;
  return sync;
}

MeasurementPoll PollMeasurement(DeviceLink& link, const CalendarClock& clock,
                                bool keepClockInStep) {
  MeasurementPoll poll;
  if (link.ReadVariable(IdMeasurement) == 0) {
    return poll;
  }
  poll.Read = true;
  poll.AtMs = clock.NowMs();
  poll.At = poll.AtMs / 1000 - (poll.AtMs % 1000 < 0 ? 1 : 0);
  poll.Record = link.Values().Measurement;
  poll.NewMeasurement = (poll.Record.StatusFlags & NewMeasurementFlag) != 0;
  poll.MemoryFull = (poll.Record.StatusFlags & MemoryFullFlag) != 0;
  const auto& device = poll.Record.DeviceClock;
  if (keepClockInStep &&
      ClockOutOfStep(clock, poll.At, device[ClockHour], device[ClockMinute], device[ClockSecond])) {
    poll.ClockSet = SyncClock(link, clock);
  }
  return poll;
}

bool ResetDose(DeviceLink& link) {
  return SendCommand(link, CommandResetDose);
}

}  // namespace vantor
