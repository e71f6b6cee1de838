#pragma once
#include <QTimeZone>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "HistoryLocation.h"
#include "HistoryTypes.h"

namespace vantor {

struct HistoryOptions {
  // The zone the instruments' clocks are set in (the computer's).
  QTimeZone Zone = QTimeZone::systemTimeZone();
  // The computer's time in ms since 1970 UTC; empty for the real clock.
  std::function<int64_t()> NowMs;
  // An archive read is written in batches: every BatchRecords records or
  // BatchMs after the last batch, whichever comes first, and at its end.
  int BatchRecords = 256;
  int BatchMs = 500;
  // After a failure the store waits this long before trying again on its
  // own (doubling up to MaxRetryMs); Flush() tries at once.
  int RetryMs = 5000;
  int MaxRetryMs = 60000;
  // How long SQLite waits for another program's write to end.
  int BusyTimeoutMs = 1000;
  // How long a connection to a PostgreSQL server may take, in seconds
  // (the client library takes nothing below 2).
  int ConnectTimeoutS = 2;
  // Only reads: nothing is made, migrated or written. A SQLite file on a
  // medium that takes no writes is read as immutable.
  bool ReadOnly = false;
  // Who is at the computer, for events; empty for user@host.
  QString Actor;
  // Called before every commit of history data; returning false fails the
  // commit as a broken disk or server would (fault tests).
  std::function<bool()> BeforeCommit;
  // Called between the chunks of a long question (an export, a look back):
  // other work on the store may go ahead there.
  std::function<void()> Pause;
  // Called after every commit of a chunk, so a long catch-up after an
  // outage shows it still goes on.
  std::function<void()> Heartbeat;
  // How long one operation of the store may take before the service counts
  // the history as not answering; measured by the service from outside the
  // store's thread, which may be stuck inside the client library.
  int AnswerBoundMs = 5000;
  // The steady clock for that bound, in ms; empty for the real one.
  std::function<int64_t()> WatchMs;
  // Where the service keeps what the history did not take in time; empty
  // for DefaultSpoolPath().
  QString SpoolPath;
};

// user@host of the one running the program, for events.
QString DefaultHistoryActor();

class ArchiveReadLog;

// The history: every live reading, archive record and instrument event,
// kept in a database (SQLite by default, PostgreSQL when shared).
//
// Nothing here throws. Every operation returns an outcome; what could not be
// written stays in memory, in order, and goes in when the store works again
// (the next operation after a growing wait, or Flush()). Each batch is one
// transaction: a crash leaves whole batches, never part of one, and writing
// a batch again adds nothing.
//
// Every call may wait for the database (a lock, a server that is slow to
// answer), so the program keeps its store on a thread of its own behind a
// HistoryService; the store itself is used on one thread only, where its
// connection was made.
class HistoryStore {
 public:
  explicit HistoryStore(HistoryLocation location, HistoryOptions options = {});
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  const HistoryLocation& Location() const;

  // Writing. Ok in the outcome means nothing has failed: the data is in the
  // store, or (archive records between batches) waits for the next batch.
  // A reading the instrument did not flag as a new measurement is a repeat
  // of the one before it, and kept only when the history lacks that one.
  HistoryOutcome AddReading(const InstrumentIdentity& instrument, const LiveReading& reading,
                            bool flaggedNew = true);
  HistoryOutcome AddReadings(const InstrumentIdentity& instrument,
                             const std::vector<LiveReading>& readings);
  HistoryOutcome AddEvent(const InstrumentIdentity& instrument, HistoryEvent event);
  // A read of the instrument's archive, record by record as it arrives.
  // `deviceCount` is the record count the instrument reported. Times here
  // and in the log are ms since 1970 UTC, 0 for now.
  ArchiveReadLog BeginArchiveRead(const InstrumentIdentity& instrument, int64_t deviceCount,
                                  int64_t startedMs = 0);
  // A whole read at once, in one transaction.
  HistoryOutcome StoreArchiveRead(const InstrumentIdentity& instrument, int64_t deviceCount,
                                  const std::vector<ArchiveBytes>& records, bool complete);
  // Writes what waits, now (reopening the store if needed).
  HistoryOutcome Flush();
  // Writes what waits unless the store is waiting out a failure.
  HistoryOutcome Retry();
  // Items held in memory that are not yet in the store.
  int64_t Pending() const;
  // Whether the last try failed and the store waits out the outage.
  bool Failing() const;
  // Rows handed to the store and not yet committed, without the archive
  // records that wait for their batch.
  int64_t Uncommitted() const;
  // While items wait after a failure: how long until the store tries again
  // on its own.
  std::optional<int64_t> RetryInMs() const;
  void SetPause(std::function<void()> pause);
  // While deferred, a write only joins the queue; the next write that is
  // not deferred (or a question, or Flush) writes them all in one go. The
  // service defers a write when more are already waiting behind it.
  void SetDeferred(bool deferred);

  // Questions. They answer from the store after writing what waits; long
  // answers are read in chunks with the pause between them.
  HistoryAnswer<std::vector<StoredInstrument>> Instruments();
  // Every instrument with what the history knows of it, in the order it
  // was first seen.
  HistoryAnswer<std::vector<InstrumentSummary>> Summaries();
  HistoryAnswer<int64_t> ArchiveRecordCount(const InstrumentIdentity& instrument);
  HistoryAnswer<ArchiveCoverage> Coverage(const InstrumentIdentity& instrument);
  HistoryAnswer<RateSeries> Rates(const InstrumentIdentity& instrument, const TimeRange& range);
  // Everything in a range, in order: readings and events by time, archive
  // records by run and position (a record counts by its own time). No
  // instrument means every instrument, one after another. `visit` returns
  // false to stop.
  HistoryOutcome VisitReadings(const std::optional<InstrumentIdentity>& instrument,
                               const TimeRange& range,
                               const std::function<bool(const StoredReading&)>& visit);
  HistoryOutcome VisitArchive(const std::optional<InstrumentIdentity>& instrument,
                              const TimeRange& range,
                              const std::function<bool(const StoredArchiveRecord&)>& visit);
  // Events only of `kinds`, unless that is empty.
  HistoryOutcome VisitEvents(const std::optional<InstrumentIdentity>& instrument,
                             const TimeRange& range,
                             const std::function<bool(const StoredEvent&)>& visit,
                             const std::vector<EventKind>& kinds = {});
  // The schema version of the open store; -1 when it cannot be opened.
  int SchemaVersion();

 private:
  friend class ArchiveReadLog;
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// One archive read on its way into the history. Add the records in the
// order the instrument sends them, separators included; Finish tells
// whether the read got every record. A log destroyed unfinished ends as an
// incomplete read. It must not outlive its store.
class ArchiveReadLog {
 public:
  ArchiveReadLog() = default;
  ArchiveReadLog(ArchiveReadLog&& other) noexcept;
  ArchiveReadLog& operator=(ArchiveReadLog&& other) noexcept;
  ArchiveReadLog(const ArchiveReadLog&) = delete;
  ArchiveReadLog& operator=(const ArchiveReadLog&) = delete;
  ~ArchiveReadLog();

  HistoryOutcome Add(const ArchiveBytes& record, int64_t readMs = 0);
  // A position whose record never arrived: the records after it keep their
  // own positions, and, since it may have been a separator, start a run of
  // their own unless the history already knows them.
  void Skip();
  HistoryOutcome Finish(bool complete, int64_t finishedMs = 0);

 private:
  friend class HistoryStore;
  ArchiveReadLog(HistoryStore* store, int key) : store_(store), key_(key) {}
  void EndUnfinished() noexcept;
  HistoryStore* store_ = nullptr;
  int key_ = 0;
};

}  // namespace vantor
