#pragma once
#include "HistorySink.h"
#include "MeasureOperations.h"

namespace vantor {

// The live tab's operations with the history: each keeps what it brought.
// A poll that arrived is kept as a reading; a clock it set, or a clock
// write, as a clock correction with the drift; an acknowledged dose reset
// as an event. Without a store in `history` they are the plain operations.
MeasurementPoll PollMeasurement(DeviceLink& link, const CalendarClock& clock,
                                const HistorySink& history, bool keepClockInStep = true);
ClockSync SyncClock(DeviceLink& link, const CalendarClock& clock, const HistorySink& history);
bool ResetDose(DeviceLink& link, const HistorySink& history);

}  // namespace vantor
