#include "StationInstrument.h"

#include <QMetaObject>

#include "ArchiveHistory.h"
#include "Csv.h"
#include "HistoryService.h"
#include "LineTrace.h"
#include "MeasureHistory.h"
#include "PortMap.h"
#include "ReturningPort.h"
#include "Scaling.h"

namespace vantor {

QString StationLinkStateName(StationLinkState state) {
  switch (state) {
    case StationLinkState::Searching:
      return QStringLiteral("searching");
    case StationLinkState::ReadingArchive:
      return QStringLiteral("reading archive");
    case StationLinkState::Polling:
      return QStringLiteral("polling");
    case StationLinkState::NotAnswering:
      return QStringLiteral("not answering");
    case StationLinkState::PortGone:
      break;
  }
  return QStringLiteral("port gone");
}

// What the line's work keeps between ticks; touched on the instrument's
// thread only, but for the flags.
struct StationInstrument::LineWork {
  StationLine Line;
  const CalendarClock& Clock;
  HistorySink History;

  enum class Phase : uint8_t { Closed, Identify, FillHistory, Poll };
  Phase Now = Phase::Closed;
  int TicksSinceOpen = 0;
  int LostInRow = 0;
  bool Down = false;  // told as not answering since the last answer
  OpenFailure LastFailure = OpenFailure::None;
  QString LastProblem;

  std::atomic_bool Returned{false};  // the port came back (the link's thread)
  std::shared_ptr<std::atomic_bool> Stop = std::make_shared<std::atomic_bool>(false);

  LineWork(StationLine line, const CalendarClock& clock, HistorySink history)
      : Line(std::move(line)), Clock(clock), History(history) {}

  // A problem goes to the log once until the line works again.
  void Tell(StationTick& tick, const QString& problem) {
    if (problem != LastProblem) {
      tick.Problem = problem;
      LastProblem = problem;
    }
  }

  StationTick Step(DeviceLink& link) {
    StationTick tick;
    if (Stop->load()) {
      tick.State = StationLinkState::Searching;
      return tick;
    }
    if (Returned.exchange(false) && Now != Phase::Closed) {
      Now = Phase::Identify;  // whoever is there now says who it is
    }
    if (Now == Phase::Closed) {
      if (TicksSinceOpen++ % OpenRetryTicks != 0) {
        return tick;
      }
      link.OpenPort(Line.Port != 0 ? Line.Port : FirstPortNumber);
      if (!link.PortOpen()) {
        LastFailure = link.LastOpenFailure();
        Tell(tick, QStringLiteral("%1 does not open (%2)").arg(Line.Name(), OpenFailureText()));
        return tick;
      }
      Now = Phase::Identify;
    }
    if (Now == Phase::Identify) {
      SettingsRead read = ReadSettings(link);
      if (!read.Identified()) {
        tick.State =
            link.LostPortNumber() != 0 ? StationLinkState::PortGone : StationLinkState::Searching;
        Tell(tick, QStringLiteral("no instrument answers on %1").arg(Line.Name()));
        return tick;
      }
      tick.Identified = std::move(read);
      tick.Identity = IdentityOf(link.Values());
      LastProblem.clear();
      LostInRow = 0;
      Down = false;
      // Told before the archive read, which may take minutes.
      Now = Phase::FillHistory;
      tick.State = StationLinkState::ReadingArchive;
      return tick;
    }
    if (Now == Phase::FillHistory) {
      tick.State = StationLinkState::ReadingArchive;
      MeasurementPoll poll = PollMeasurement(link, Clock, History, true);
      if (!poll.Read) {
        tick.State = link.LostPortNumber() != 0 ? StationLinkState::PortGone
                                                : StationLinkState::ReadingArchive;
        return tick;
      }
      const int count = ArchiveReadCount(poll.Record.ArchiveRecordCount);
      tick.Poll = poll;
      if (count > 0) {
        const std::shared_ptr<std::atomic_bool> stop = Stop;
        const ArchiveReadResult read =
            ReadArchive(link, count, History, {}, [stop] { return stop->load(); });
        int known = 0;
        for (const auto& slot : read.Slots) {
          known += slot ? 1 : 0;
        }
        tick.ArchiveRead = std::make_pair(known, read.Missing);
        if (read.Stopped) {
          return tick;
        }
      } else {
        tick.ArchiveRead = std::make_pair(0, 0);
      }
      Now = Phase::Poll;
      tick.State = StationLinkState::Polling;
      return tick;
    }
    // Every reading goes into the history; a clock more than 300 s off is
    // set at once, as the live tab does.
    MeasurementPoll poll = PollMeasurement(link, Clock, History, true);
    if (!poll.Read && link.LostPortNumber() == 0 && !Stop->load()) {
      // A reply lost to noise or a busy machine costs one exchange more, not
      // a second without a reading (the link keeps a late reply from being
      // taken for this one's).
      poll = PollMeasurement(link, Clock, History, true);
    }
    const bool gone = link.LostPortNumber() != 0;
    if (poll.Read) {
      if (Down) {
        // It answers again: it may be another instrument on the same line.
        Down = false;
        LostInRow = 0;
        Now = Phase::Identify;
        tick.State = StationLinkState::Searching;
        return Step(link);
      }
      LostInRow = 0;
      LastProblem.clear();
      tick.State = StationLinkState::Polling;
    } else {
      ++LostInRow;
      if (gone) {
        tick.State = StationLinkState::PortGone;
        Down = true;
        Tell(tick, QStringLiteral("%1 went away").arg(Line.Name()));
      } else if (LostInRow >= PollsLostBeforeDown) {
        tick.State = StationLinkState::NotAnswering;
        Down = true;
        Tell(tick, QStringLiteral("the instrument on %1 does not answer").arg(Line.Name()));
      } else {
        tick.State = StationLinkState::Polling;
      }
    }
    tick.Poll = std::move(poll);
    return tick;
  }

  QString OpenFailureText() const {
    switch (LastFailure) {
      case OpenFailure::NoSuchPort:
        return QStringLiteral("not in the port map");
      case OpenFailure::Missing:
        return QStringLiteral("no such device");
      case OpenFailure::PermissionDenied:
        return QStringLiteral("permission denied; the station's user needs the group dialout");
      case OpenFailure::Busy:
        return QStringLiteral("another program holds it");
      case OpenFailure::StaleLock:
        return QStringLiteral("a stale lock file");
      case OpenFailure::None:
      case OpenFailure::Failed:
        break;
    }
    return QStringLiteral("it failed");
  }
};

StationInstrument::StationInstrument(StationLine line, const CalendarClock& clock,
                                     HistorySink history, AlarmRules rules, LineTrace* trace,
                                     std::chrono::milliseconds period, QObject* parent)
    : QObject(parent),
      line_(std::move(line)),
      clock_(clock),
      history_(history),
      work_(std::make_shared<LineWork>(line_, clock, history)),
      rules_(rules),
      alarms_(rules) {
  DeviceLink& link = engine_.Link();
  link.InitDictionary();
  link.SetDeviceAddress(DefaultDeviceAddress);
  DeviceLink::LineOpener opener = &DeviceLink::OpenMappedPort;
  if (!line_.Device.isEmpty()) {
    opener = [device = line_.Device](int) { return DeviceLink::OpenDevicePath(device); };
  }
  if (trace != nullptr) {
    opener = TracingOpener(*trace, std::move(opener));
    engine_.SetExchangeListener([trace](LinkStatus status) {
      trace->Record(OutcomeEvent(status), LineTransport::Clock::now());
    });
  }
  // A port that comes back is asked who is on it before anything it says is
  // kept; the next tick then reads the settings of whoever it is.
  link.SetLineOpener(IdentifyingOnReturn(link, std::move(opener)));
  std::weak_ptr<LineWork> weak = work_;
  link.OnPortPresence = [weak](bool present) {
    if (const auto work = weak.lock(); work && present) {
      work->Returned.store(true);
    }
  };
  connect(&engine_, &InstrumentEngine::Exchanged, this,
          [this](ExchangeStatus status) { ++exchanges_[LinkStatusName(status)]; });
  engine_.SetPoll<StationTick>(
      period, [work = work_](DeviceLink& l) { return work->Step(l); },
      [this](StationTick tick) { Take(tick); });
}

StationInstrument::~StationInstrument() {
  RequestStop();
  engine_.Link().OnPortPresence = nullptr;
}

void StationInstrument::RequestStop() {
  work_->Stop->store(true);
  engine_.SetPollActive(false);
}

void StationInstrument::SetAlarmRules(AlarmRules rules) {
  rules_ = rules;
  alarms_.SetRules(rules);
}

InstrumentSnapshot StationInstrument::Snapshot() const {
  InstrumentSnapshot s;
  s.Instrument = Name();
  s.Port = line_.Port;
  s.Up = up_;
  if (up_) {
    s.Reading = reading_;
    s.ReadingMs = readingMs_;
    s.Alarms = alarms_.RaisedAll();
  }
  return s;
}

bool StationInstrument::AvailableIn(StationLinkState state) {
  return state == StationLinkState::Polling || state == StationLinkState::ReadingArchive;
}

void StationInstrument::Take(const StationTick& tick) {
  state_ = tick.State;
  if (tick.Identified) {
    const InstrumentIdentity& now = tick.Identity;
    settings_ = tick.Identified->User;
    if (identity_ != now) {
      const std::optional<InstrumentIdentity> previous = identity_;
      // Another instrument: nothing of the one before is its.
      identity_ = now;
      alarms_ = AlarmTracker(rules_);
      lastHour_.clear();
      up_ = false;
      available_ = AvailableIn(tick.State);
      emit IdentityChanged(previous);
    }
  }
  const bool answered = tick.Poll && tick.Poll->Read && identity_;
  if (answered) {
    const MeasurementPoll& poll = *tick.Poll;
    up_ = true;
    reading_ = poll.Record;
    readingMs_ = poll.AtMs;
    lastSeenMs_ = poll.AtMs;
    if (!IsFluxMode(poll.Record.MeasurementMode & 0xFF)) {
      lastHour_.emplace_back(poll.AtMs, static_cast<double>(poll.Record.DoseRate));
    }
    while (!lastHour_.empty() && lastHour_.front().first < poll.AtMs - LastHourMs) {
      lastHour_.pop_front();
    }
    for (const AlarmTransition& t : alarms_.Update(poll.Record, settings_, poll.AtMs)) {
      if (history_.Service != nullptr) {
        HistoryEvent event;
        event.Kind = t.Raised ? EventKind::AlarmRaised : EventKind::AlarmCleared;
        event.AtMs = t.AtMs;
        event.Changes.push_back(MemberChange{t.Threshold,
                                             QStringLiteral("threshold %1").arg(t.Threshold),
                                             DotNumber(t.Level), DotNumber(t.Value)});
        history_.Service->AddEvent(*identity_, event);
      }
      emit AlarmChanged(t);
    }
  } else {
    // A failed poll, or none: the reading is gone, and an alarm's hold
    // starts over once readings come again.
    up_ = false;
    alarms_.Interrupt();
  }
  // Available while it answers, a poll lost now and then included.
  const bool available = identity_.has_value() && AvailableIn(tick.State);
  if (available != available_) {
    available_ = available;
    emit AvailabilityChanged(available);
  }
  emit Ticked(tick);
}

}  // namespace vantor
