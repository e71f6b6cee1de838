#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "CalendarClock.h"
#include "DeviceLink.h"
#include "LineTransport.h"

class QFile;

namespace vantor {

// What happened on the line. A trace is text, one event a line:
//
//   <seconds since the trace began, to the microsecond> <kind> [fields]
//
//   0.000000 open COM3 ok /dev/ttyUSB0     port ("-": a path was named),
//                                          outcome, device path ("-": none)
//   0.000085 purge                         buffers dropped ...
//   0.010190 purge 0d0a                    ... with the input they held
//   0.010402 write 02000001010100...       a request, as it went out
//   0.010410 write-failed 0200...          a request that did not get out
//   0.022917 read 01010102000000...        bytes the program took
//   0.126031 timeout 3/14                  a wait ended with 3 of 14 bytes
//   0.410000 drop 55                       bytes between exchanges, unasked
//   2.000113 lost                          the device went away
//   2.000200 close COM3
//   0.022990 outcome timeout               how the operation ended (LinkStatus);
//                                          a trace of version 1 has the message
//                                          row panel 0 showed (41, 40, 39)
//   0.000012 calendar 1796840526           the computer's time, as the program
//                                          read it, when it changed
//
// Lines starting with "#" are notes: "# started <UTC time>", "# clock <UTC
// minus local time> <UTC minus local standard time>" (seconds), "# command
// <JSON array of vantorctl's arguments>", "# exit <status>", and free text.
enum class TraceKind : uint8_t {
  Open,
  Write,
  WriteFailed,
  Read,
  Purge,
  Timeout,
  Drop,
  Lost,
  Close,
  Outcome,
  Calendar,
};

struct TraceEvent {
  int64_t Micros = 0;  // since the trace began, on a monotonic clock
  TraceKind Kind = TraceKind::Purge;
  std::vector<uint8_t> Bytes;               // write, read, purge, drop
  int Port = 0;                             // open, close: the COM number, 0 when a path was named
  OpenFailure Failure = OpenFailure::None;  // open
  QString Path;                             // open
  size_t Want = 0;                          // timeout
  size_t Got = 0;                           // timeout
  LinkStatus Status = LinkStatus::Read;     // outcome
  int64_t Value = 0;  // calendar: seconds; outcome of version 1: the message row, Status unknown
};

// An outcome event for `status`.
TraceEvent OutcomeEvent(LinkStatus status);

// "ok", "permission-denied", ...: how an open ended, in a trace.
QString OpenFailureName(OpenFailure failure);

QString FormatTraceEvent(const TraceEvent& event);
// One event line; nothing (and `error` says why) for a line that is none.
std::optional<TraceEvent> ParseTraceEvent(const QString& line, QString* error = nullptr);

// A whole trace as read from its file.
struct ParsedTrace {
  std::vector<TraceEvent> Events;
  QString Started;            // UTC, ISO 8601, when the trace began
  int64_t UtcMinusLocal = 0;  // the computer's zone then
  int64_t UtcMinusStandard = 0;
  std::optional<QStringList> Command;  // vantorctl's arguments
  std::optional<int> Exit;             // vantorctl's exit status
};
std::optional<ParsedTrace> ParseTrace(const QByteArray& text, QString* error = nullptr);

// Records the events of every line the program opens: always into a ring in
// memory (the last RingAge, at most RingBytes of text) for a diagnostic
// report, and, once WriteTo has named one, into a file, written and flushed
// from a thread of its own so the line never waits for the disk.
class LineTrace {
 public:
  using Clock = LineTransport::Clock;
  static constexpr std::chrono::minutes RingAge{10};
  static constexpr size_t RingBytes = 4 * 1024 * 1024;

  LineTrace();
  ~LineTrace();  // writes what is queued, then stops the writer
  LineTrace(const LineTrace&) = delete;
  LineTrace& operator=(const LineTrace&) = delete;

  // From now on also into `path`, replaced, starting with the notes so far.
  // False, with the reason in `error`, when it cannot be created.
  bool WriteTo(const QString& path, QString* error = nullptr);
  bool Writing() const;
  // Whether everything queued reached the file (false once a write failed).
  bool Flush();

  // A "# " line.
  void Note(const QString& text);
  // Stamps `event` with `at` and keeps it.
  void Record(TraceEvent event, Clock::time_point at);
  Clock::time_point Start() const { return start_; }

  // The ring: the notes, then the events still in it, oldest first.
  QByteArray Recent() const;

 private:
  struct Kept {
    int64_t Micros;
    QByteArray Line;
  };
  void Keep(int64_t micros, QByteArray line);
  void WriterLoop();

  const Clock::time_point start_;
  mutable std::mutex mutex_;
  std::vector<QByteArray> notes_;
  std::deque<Kept> ring_;
  size_t ringBytes_ = 0;

  std::condition_variable wake_;
  std::condition_variable drained_;
  std::vector<QByteArray> queue_;
  bool writing_ = false;
  bool busy_ = false;
  bool stop_ = false;
  bool failed_ = false;
  std::unique_ptr<QFile> file_;  // used by the writer thread only, once it runs
  std::thread writer_;
};

// A line that records what passes through it into a trace.
class TracingTransport : public LineTransport {
 public:
  TracingTransport(std::unique_ptr<LineTransport> inner, LineTrace& trace, int port);
  ~TracingTransport() override;  // records the close

  Clock::time_point Now() const override { return inner_->Now(); }
  void SleepFor(Clock::duration duration) override { inner_->SleepFor(duration); }
  void Purge() override;
  bool Write(const uint8_t* bytes, size_t count, Clock::time_point deadline) override;
  size_t WaitForBytes(size_t want, Clock::time_point deadline) override;
  size_t Read(uint8_t* into, size_t count) override;
  bool Lost() const override;

  LineTransport& Inner() { return *inner_; }

 private:
  void Record(TraceEvent event) const;

  std::unique_ptr<LineTransport> inner_;
  LineTrace& trace_;
  int port_;
  // The inner line's clock mapped onto the trace's, so a manual clock traces
  // as well as the real one.
  Clock::duration offset_;
  mutable bool lostRecorded_ = false;
};

// The calendar the program reads, noted in the trace whenever the second
// it reads changes, so a replay gives the program the same times.
class TracedClock : public CalendarClock {
 public:
  // `base` null: the system's clock.
  explicit TracedClock(const CalendarClock* base = nullptr) : base_(base) {}
  void SetBase(const CalendarClock* base) { base_ = base; }
  void SetTrace(LineTrace* trace) { trace_ = trace; }

  int64_t Now() const override;
  int64_t NowMs() const override;
  LocalTime ToLocal(int64_t seconds) const override { return Base().ToLocal(seconds); }
  int64_t FromLocal(const LocalTime& local) const override { return Base().FromLocal(local); }
  int64_t StandardOffset() const override { return Base().StandardOffset(); }

 private:
  const CalendarClock& Base() const { return base_ != nullptr ? *base_ : system_; }

  const CalendarClock* base_;
  SystemClock system_;
  LineTrace* trace_ = nullptr;
  mutable int64_t last_ = -1;
};

// "# clock ..." for `clock`: the zone a replay must read times in.
QString ClockNote(const CalendarClock& clock);

// Wraps `base` so that every port it opens is traced, and every attempt on a
// port that exists is noted, opened or not. `trace` outlives the lines.
DeviceLink::LineOpener TracingOpener(LineTrace& trace, DeviceLink::LineOpener base);

}  // namespace vantor
