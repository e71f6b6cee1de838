#include "MeasureHistory.h"

#include "DeviceLink.h"
#include "HistoryStore.h"

namespace vantor {
namespace {

void KeepClockSync(const HistorySink& history, const InstrumentIdentity& instrument,
                   const ClockSync& sync) {
  if (history.Store == nullptr || !sync.Written) {
    return;
  }
  HistoryEvent event;
  event.Kind = EventKind::ClockSet;
  event.AtMs = sync.ComputerTime * 1000;
  if (sync.InstrumentTime) {
    event.DeviceMs = *sync.InstrumentTime * 1000;
    event.DriftSeconds = sync.DriftSeconds;
  }
  history.Tell(history.Store->AddEvent(instrument, event));
}

}  // namespace

MeasurementPoll PollMeasurement(DeviceLink& link, const CalendarClock& clock,
                                const HistorySink& history, bool keepClockInStep) {
  const MeasurementPoll poll = PollMeasurement(link, clock, keepClockInStep);
  if (history.Store == nullptr || !poll.Read) {
    return poll;
  }
  const InstrumentIdentity instrument = IdentityOf(link.Values());
  history.Tell(history.Store->AddReading(instrument, ReadingOf(poll.Record, poll.At * 1000)));
  if (poll.ClockSet) {
    KeepClockSync(history, instrument, *poll.ClockSet);
  }
  return poll;
}

ClockSync SyncClock(DeviceLink& link, const CalendarClock& clock, const HistorySink& history) {
  const ClockSync sync = SyncClock(link, clock);
  KeepClockSync(history, IdentityOf(link.Values()), sync);
  return sync;
}

bool ResetDose(DeviceLink& link, const HistorySink& history) {
  const bool reset = ResetDose(link);
  if (reset && history.Store != nullptr) {
    HistoryEvent event;
    event.Kind = EventKind::DoseReset;
    history.Tell(history.Store->AddEvent(IdentityOf(link.Values()), event));
  }
  return reset;
}

}  // namespace vantor
