#pragma once
#include <optional>

#include "HistoryService.h"
#include "HistorySink.h"
#include "MeasureOperations.h"

namespace vantor {

// The live tab's operations with the history: each keeps what it brought.
// A poll that arrived is kept as a reading, to the millisecond (one the
// instrument did not flag as new only when the history lacks it: the first
// poll of a run may repeat the last one kept); a clock it set, or a clock
// write, as a clock correction with the drift; an acknowledged dose reset
// as an event. Without a service in `history` they are the plain operations.
MeasurementPoll PollMeasurement(DeviceLink& link, const CalendarClock& clock,
                                const HistorySink& history, bool keepClockInStep = true);
ClockSync SyncClock(DeviceLink& link, const CalendarClock& clock, const HistorySink& history);
bool ResetDose(DeviceLink& link, const HistorySink& history);

// The dose rates the history holds of a past period, for the live chart's
// look back: those of `instrument` (none: the instrument the history saw
// last) from `fromMs` on, whatever has come since the question was put.
// Run as a job on the store's thread: its progress follows the time read
// so far against `toMs`, and a cancel ends it early.
struct PastReadings {
  HistoryOutcome Outcome;
  RateSeries Rates;
  bool Cancelled = false;
};
PastReadings ReadPastPeriod(HistoryStore& store,
                            const std::optional<InstrumentIdentity>& instrument, int64_t fromMs,
                            int64_t toMs, HistoryJob& job);

}  // namespace vantor
