#include "TraceReplay.h"

#include <QDateTime>
#include <algorithm>

namespace vantor::test {
namespace {

QString Hex(const std::vector<uint8_t>& bytes) {
  return QString::fromLatin1(
      QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()))
          .toHex());
}

std::chrono::microseconds Micros(int64_t micros) {
  return std::chrono::microseconds(micros);
}

}  // namespace

// The calendar the program read, taken up request by request.
class ReplayCalendar : public CalendarClock {
 public:
  ReplayCalendar(const TraceReplay& replay, int64_t utcMinusLocal, int64_t utcMinusStandard)
      : replay_(replay), zone_(0, utcMinusLocal), standard_(utcMinusStandard) {}

  int64_t Now() const override {
    int64_t seconds = replay_.startedSeconds_;
    for (const TraceReplay::CalendarReading& reading : replay_.readings_) {
      if (reading.AfterRequests > replay_.matched_) {
        break;
      }
      seconds = reading.Seconds;
    }
    return seconds;
  }
  LocalTime ToLocal(int64_t seconds) const override { return zone_.ToLocal(seconds); }
  int64_t FromLocal(const LocalTime& local) const override { return zone_.FromLocal(local); }
  int64_t StandardOffset() const override { return standard_; }

 private:
  const TraceReplay& replay_;
  FixedClock zone_;
  int64_t standard_;
};

// One recorded open of a port, played back.
class ReplayLine : public LineTransport {
 public:
  ReplayLine(TraceReplay& replay, const TraceReplay::Script& script)
      : replay_(replay), script_(script) {
    Expect(script.AfterOpen, replay.now_);
  }

  Clock::time_point Now() const override { return replay_.now_; }

  void SleepFor(Clock::duration duration) override { replay_.Sleep(duration); }

  void Purge() override {
    if (gapAt_ >= 0) {
      // The first purge of an exchange: whatever time passed before it in
      // the recording passes now.
      replay_.CatchUp(gapAt_);
      gapAt_ = -1;
    }
    Arrive();
    buffer_.clear();
  }

  bool Write(const uint8_t* bytes, size_t count, Clock::time_point /*deadline*/) override {
    if (Lost()) {
      return false;
    }
    const std::vector<uint8_t> request(bytes, bytes + count);
    if (next_ >= script_.Requests.size()) {
      replay_.Differ(QStringLiteral("request %1 on COM%2 was not recorded: %3")
                         .arg(replay_.matched_ + 1)
                         .arg(script_.Port)
                         .arg(Hex(request)));
      diverged_ = true;
      return false;
    }
    const TraceReplay::Request& recorded = script_.Requests[next_];
    if (request != recorded.Bytes) {
      replay_.Differ(QStringLiteral("request %1 on COM%2 differs:\n  recorded %3\n  made     %4")
                         .arg(replay_.matched_ + 1)
                         .arg(script_.Port)
                         .arg(Hex(recorded.Bytes), Hex(request)));
      diverged_ = true;
      return false;
    }
    ++next_;
    ++replay_.matched_;
    replay_.Anchor(recorded.At);
    inFlight_.clear();  // what the recording saw before this request came before it
    Expect(recorded.After, replay_.now_);
    return recorded.Written;
  }

  size_t WaitForBytes(size_t want, Clock::time_point deadline) override {
    Arrive();
    if (buffer_.size() < want && !Lost()) {
      Clock::time_point until = deadline;
      const size_t missing = want - buffer_.size();
      if (inFlight_.size() >= missing) {
        until = std::min(deadline, inFlight_[missing - 1].first);
      }
      if (lostAt_ && *lostAt_ > replay_.now_) {
        until = std::min(until, *lostAt_);
      }
      replay_.now_ = std::max(replay_.now_, until);
      Arrive();
    }
    return buffer_.size();
  }

  size_t Read(uint8_t* into, size_t count) override {
    const size_t n = std::min(count, buffer_.size());
    std::copy_n(buffer_.begin(), n, into);
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }

  bool Lost() const override { return diverged_ || (lostAt_ && replay_.now_ >= *lostAt_); }

 private:
  // Schedules what the recording got after a request (or the open) that
  // went out at `from`.
  void Expect(const TraceReplay::Reply& reply, Clock::time_point from) {
    for (const TraceReplay::Arrival& arrival : reply.Arrivals) {
      for (uint8_t byte : arrival.Bytes) {
        inFlight_.push_back({from + Micros(arrival.At), byte});
      }
    }
    std::stable_sort(inFlight_.begin(), inFlight_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    gapAt_ = reply.NextGapAt;
    if (reply.LostAt >= 0) {
      lostAt_ = from + Micros(reply.LostAt);
    }
  }

  void Arrive() {
    while (!inFlight_.empty() && inFlight_.front().first <= replay_.now_) {
      buffer_.push_back(inFlight_.front().second);
      inFlight_.pop_front();
    }
  }

  TraceReplay& replay_;
  const TraceReplay::Script& script_;
  size_t next_ = 0;
  std::deque<std::pair<Clock::time_point, uint8_t>> inFlight_;
  std::deque<uint8_t> buffer_;
  int64_t gapAt_ = -1;  // recorded, absolute
  std::optional<Clock::time_point> lostAt_;
  bool diverged_ = false;
};

TraceReplay::TraceReplay(const ParsedTrace& trace) {
  startedSeconds_ = QDateTime::fromString(trace.Started, Qt::ISODateWithMs).toSecsSinceEpoch();
  calendar_ = std::make_unique<ReplayCalendar>(*this, trace.UtcMinusLocal, trace.UtcMinusStandard);

  // What the events now being read follow: always the last open or request,
  // so growing the vectors never leaves it pointing at a moved element.
  Reply* after = nullptr;
  int64_t since = 0;  // ... and when that was
  bool inGap = false;
  for (const TraceEvent& event : trace.Events) {
    switch (event.Kind) {
      case TraceKind::Open: {
        Script script;
        script.Port = event.Port;
        script.Failure = event.Failure;
        script.Path = event.Path;
        script.At = event.Micros;
        scripts_.push_back(std::move(script));
        if (event.Failure == OpenFailure::None) {
          after = &scripts_.back().AfterOpen;
          since = event.Micros;
          inGap = true;  // the line's first purge starts its first exchange
        } else {
          after = nullptr;
        }
        break;
      }
      case TraceKind::Write:
      case TraceKind::WriteFailed: {
        if (scripts_.empty() || after == nullptr) {
          break;  // on no open line: cannot be replayed
        }
        Request request;
        request.Bytes = event.Bytes;
        request.Written = event.Kind == TraceKind::Write;
        request.At = event.Micros;
        scripts_.back().Requests.push_back(std::move(request));
        after = &scripts_.back().Requests.back().After;
        since = event.Micros;
        inGap = false;
        ++recordedRequests_;
        break;
      }
      case TraceKind::Read:
        if (after != nullptr) {
          after->Arrivals.push_back({event.Micros - since, event.Bytes});
        }
        break;
      case TraceKind::Purge:
        if (after == nullptr) {
          break;
        }
        if (!inGap) {
          after->NextGapAt = event.Micros;
          inGap = true;
        }
        // What it threw away had come before it.
        if (!event.Bytes.empty()) {
          after->Arrivals.push_back({event.Micros - since - 1, event.Bytes});
        }
        break;
      case TraceKind::Lost:
        if (after != nullptr && after->LostAt < 0) {
          after->LostAt = event.Micros - since;
        }
        break;
      case TraceKind::Calendar:
        readings_.push_back({recordedRequests_, event.Value});
        break;
      case TraceKind::Close:
        after = nullptr;
        break;
      default:
        break;  // timeouts, outcomes and dropped noise are for people
    }
  }
}

TraceReplay::~TraceReplay() = default;

void TraceReplay::Sleep(Clock::duration duration) {
  if (duration > Clock::duration::zero()) {
    now_ += duration;
  }
}

void TraceReplay::CatchUp(int64_t recordedAt) {
  const Clock::time_point then = anchorNow_ + Micros(recordedAt - anchorRecorded_);
  now_ = std::max(now_, then);
}

void TraceReplay::Differ(const QString& what) {
  differences_ << what;
}

OpenedLine TraceReplay::Open(int number) {
  if (nextScript_ >= scripts_.size() || scripts_[nextScript_].Port != number) {
    return {};
  }
  const Script& script = scripts_[nextScript_++];
  CatchUp(script.At);
  Anchor(script.At);
  if (script.Failure != OpenFailure::None) {
    return {script.Failure, script.Path};
  }
  OpenedLine opened(std::make_unique<ReplayLine>(*this, script));
  opened.Path = script.Path;
  return opened;
}

QStringList TraceReplay::Differences() const {
  QStringList all = differences_;
  if (differences_.isEmpty() && matched_ < recordedRequests_) {
    all << QStringLiteral("the program made %1 of the %2 recorded requests")
               .arg(matched_)
               .arg(recordedRequests_);
  }
  if (differences_.isEmpty() && nextScript_ < scripts_.size()) {
    all << QStringLiteral("the program opened %1 of the %2 recorded ports")
               .arg(nextScript_)
               .arg(scripts_.size());
  }
  return all;
}

}  // namespace vantor::test
