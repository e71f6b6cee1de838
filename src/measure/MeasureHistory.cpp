#include "MeasureHistory.h"

#include <algorithm>

#include "DeviceLink.h"
#include "HistoryService.h"

namespace vantor {
namespace {

void KeepClockSync(const HistorySink& history, const InstrumentIdentity& instrument,
                   const ClockSync& sync) {
  if (history.Service == nullptr || !sync.Written) {
    return;
  }
  HistoryEvent event;
  event.Kind = EventKind::ClockSet;
  event.AtMs = sync.ComputerTime * 1000;
  if (sync.InstrumentTime) {
    event.DeviceMs = *sync.InstrumentTime * 1000;
    event.DriftSeconds = sync.DriftSeconds;
  }
  history.Service->AddEvent(instrument, event);
}

}  // namespace

MeasurementPoll PollMeasurement(DeviceLink& link, const CalendarClock& clock,
                                const HistorySink& history, bool keepClockInStep) {
  const MeasurementPoll poll = PollMeasurement(link, clock, keepClockInStep);
  if (history.Service == nullptr || !poll.Read) {
    return poll;
  }
  const InstrumentIdentity instrument = IdentityOf(link.Values());
  history.Service->AddReading(instrument, ReadingOf(poll.Record, poll.AtMs), poll.NewMeasurement);
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
  if (reset && history.Service != nullptr) {
    HistoryEvent event;
    event.Kind = EventKind::DoseReset;
    history.Service->AddEvent(IdentityOf(link.Values()), event);
  }
  return reset;
}

PastReadings ReadPastPeriod(HistoryStore& store,
                            const std::optional<InstrumentIdentity>& instrument, int64_t fromMs,
                            int64_t toMs, HistoryJob& job) {
  constexpr int CheckEvery = 4096;
  PastReadings past;
  std::optional<InstrumentIdentity> which = instrument;
  if (!which) {
    const auto known = store.Instruments();
    if (!known.Outcome.Ok) {
      past.Outcome = known.Outcome;
      return past;
    }
    if (known.Value.empty()) {
      return past;
    }
    which = known.Value.back().Identity;
  }
  const double span = static_cast<double>(std::max<int64_t>(1, toMs - fromMs));
  size_t rows = 0;
  past.Outcome = store.VisitReadings(*which, {fromMs, std::nullopt}, [&](const StoredReading& r) {
    past.Rates.AtMs.push_back(r.Reading.AtMs);
    past.Rates.Rates.push_back(r.Reading.DoseRate);
    if (++rows % CheckEvery != 0) {
      return true;
    }
    job.SetProgress(std::clamp(static_cast<double>(r.Reading.AtMs - fromMs) / span, 0.0, 1.0));
    return !job.Cancelled();
  });
  past.Cancelled = job.Cancelled();
  return past;
}

}  // namespace vantor
