#pragma once
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "CalendarClock.h"
#include "LineTrace.h"
#include "LineTransport.h"

namespace vantor::test {

// Plays a recorded trace back to the program on a manual clock. Each port
// the trace opened opens again (or fails as it failed) when the program
// opens that number; every other number names no port. On each line the
// program's requests must be the recorded ones, byte for byte and in order:
// each is answered with the bytes recorded after it, at their recorded
// times after it. Time that passed between exchanges in the recording
// (the program idling, a poll timer) passes again when the program starts
// its next exchange, so late replies and noise arrive where they did. A
// request that differs ends the replay: the line goes away.
class TraceReplay {
 public:
  using Clock = LineTransport::Clock;

  explicit TraceReplay(const ParsedTrace& trace);
  ~TraceReplay();
  TraceReplay(const TraceReplay&) = delete;
  TraceReplay& operator=(const TraceReplay&) = delete;

  // The opener of the port `number` (0: a device named by its path).
  OpenedLine Open(int number);

  // The computer's calendar as the program read it during the recording,
  // in step with its requests.
  const CalendarClock& Calendar() const { return *calendar_; }
  Clock::time_point Now() const { return now_; }
  void Sleep(Clock::duration duration);

  // Where the program did otherwise than recorded: requests that differ,
  // requests beyond the recording, and (once it has ended) recorded
  // requests and opens it never made. Empty when it followed the trace.
  QStringList Differences() const;
  // Requests answered so far, and recorded opens made so far.
  size_t RequestsMatched() const { return matched_; }
  size_t OpensMade() const { return nextScript_; }

 private:
  friend class ReplayLine;
  friend class ReplayCalendar;

  struct Arrival {
    int64_t At;  // microseconds after the request (or the open) it follows
    std::vector<uint8_t> Bytes;
  };
  // What follows a request, or an open, until the next request.
  struct Reply {
    std::vector<Arrival> Arrivals;
    int64_t NextGapAt = -1;  // the first purge of the following exchange
    int64_t LostAt = -1;     // the device went away
  };
  struct Request {
    std::vector<uint8_t> Bytes;
    bool Written = true;
    int64_t At = 0;
    Reply After;
  };
  struct Script {
    int Port = 0;
    OpenFailure Failure = OpenFailure::None;
    QString Path;
    int64_t At = 0;
    Reply AfterOpen;
    std::vector<Request> Requests;
  };
  struct CalendarReading {
    size_t AfterRequests;  // recorded requests made before the program read it
    int64_t Seconds;
  };

  // Moves the clock forward to what `recordedAt` was in the recording,
  // counted from the last anchor (an open or a request).
  void CatchUp(int64_t recordedAt);
  void Anchor(int64_t recordedAt) {
    anchorNow_ = now_;
    anchorRecorded_ = recordedAt;
  }
  void Differ(const QString& what);

  std::vector<Script> scripts_;
  std::vector<CalendarReading> readings_;
  int64_t startedSeconds_ = 0;
  std::unique_ptr<CalendarClock> calendar_;
  size_t nextScript_ = 0;
  size_t matched_ = 0;
  size_t recordedRequests_ = 0;
  Clock::time_point now_{};
  Clock::time_point anchorNow_{};
  int64_t anchorRecorded_ = 0;
  QStringList differences_;
};

}  // namespace vantor::test
