#pragma once
#include <array>
#include <cstdint>
#include <optional>

#include "CalendarClock.h"
#include "ValueStorage.h"

namespace vantor {

class DeviceLink;

// The instrument's operations of the live tab, on the program's link: the
// poll of the measurement record, the clock write and the dose reset. Plain
// code; the page and vantorctl render what they return.

// Bits of the measurement record's status flags.
inline constexpr uint16_t MemoryFullFlag = 1u << 0;
inline constexpr uint16_t NewMeasurementFlag = 1u << 4;

// A clock write: what the instrument showed before and what it was set to.
struct ClockSync {
  bool Written = false;      // the instrument acknowledged the new time
  int64_t ComputerTime = 0;  // the time written, seconds since 1970
  // The instrument's clock as last read, taken as the computer's local time
  // (the zone the program sets it in); none when its fields name no date.
  std::optional<int64_t> InstrumentTime;
  // How far the instrument was ahead of the computer (negative: behind);
  // 0 without an instrument time.
  int64_t DriftSeconds = 0;
};

// Writes the computer's local date and time into the instrument's clock
// (variable 6). The instrument's time before is the clock of the last
// measurement record read.
ClockSync SyncClock(DeviceLink& link, const CalendarClock& clock);

// The instrument's clock fields (year - 2000, month, day, hour, minute,
// second) as seconds since 1970 in the computer's time zone; none when they
// name no date (month or day 0, month above 12).
std::optional<int64_t> InstrumentClockTime(const CalendarClock& clock,
                                           const std::array<uint8_t, 8>& deviceClock);

// One poll of the measurement record.
struct MeasurementPoll {
  bool Read = false;  // variable 0 arrived
  int64_t At = 0;     // the computer's time of the poll, seconds since 1970
  int64_t AtMs = 0;   // the same to the millisecond
  MeasurementRecord Record;
  bool NewMeasurement = false;  // the instrument flags a measurement not yet read
  bool MemoryFull = false;      // its archive memory is full
  // Set when the instrument's time of day was more than ClockTolerance off
  // and the clock was written: nothing is shown for this poll.
  std::optional<ClockSync> ClockSet;
};

// Reads variable 0 once (no retry). With `keepClockInStep`, an instrument
// clock more than 300 s off the computer's time of day is set at once, as the
// live tab does every second.
MeasurementPoll PollMeasurement(DeviceLink& link, const CalendarClock& clock,
                                bool keepClockInStep = true);

// Tells the instrument to restart its accumulated dose (command 0, one
// exchange). Nothing changes locally: the next measurement shows it.
bool ResetDose(DeviceLink& link);

}  // namespace vantor
