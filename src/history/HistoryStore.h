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
  // Who is at the computer, for events; empty for user@host.
  QString Actor;
  // Called before every commit of history data; returning false fails the
  // commit as a broken disk or server would (fault tests).
  std::function<bool()> BeforeCommit;
};

class ArchiveReadLog;

// The history: every live reading, archive record and instrument event,
// kept in a database (SQLite by default, PostgreSQL when shared).
//
// Nothing here throws or blocks on a broken store for long. Every operation
// returns an outcome; what could not be written stays in memory, in order,
// and goes in when the store works again (the next operation after a
// growing wait, or Flush()). Each batch is one transaction: a crash leaves
// whole batches, never part of one, and writing a batch again adds nothing.
//
// One object per thread; the connection is its own.
class HistoryStore {
 public:
  explicit HistoryStore(HistoryLocation location, HistoryOptions options = {});
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  const HistoryLocation& Location() const;

  // Writing. Ok in the outcome means nothing has failed: the data is in the
  // store, or (archive records between batches) waits for the next batch.
  HistoryOutcome AddReading(const InstrumentIdentity& instrument, const LiveReading& reading);
  HistoryOutcome AddReadings(const InstrumentIdentity& instrument,
                             const std::vector<LiveReading>& readings);
  HistoryOutcome AddEvent(const InstrumentIdentity& instrument, HistoryEvent event);
  // A read of the instrument's archive, record by record as it arrives.
  // `deviceCount` is the record count the instrument reported.
  ArchiveReadLog BeginArchiveRead(const InstrumentIdentity& instrument, int64_t deviceCount);
  // A whole read at once, in one transaction.
  HistoryOutcome StoreArchiveRead(const InstrumentIdentity& instrument, int64_t deviceCount,
                                  const std::vector<ArchiveBytes>& records, bool complete);
  // Writes what waits, now (reopening the store if needed).
  HistoryOutcome Flush();
  // Items held in memory that are not yet in the store.
  int64_t Pending() const;

  // Questions. They answer from the store after writing what waits.
  HistoryAnswer<std::vector<StoredInstrument>> Instruments();
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
  HistoryOutcome VisitEvents(const std::optional<InstrumentIdentity>& instrument,
                             const TimeRange& range,
                             const std::function<bool(const StoredEvent&)>& visit);
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

  HistoryOutcome Add(const ArchiveBytes& record);
  // A position whose record never arrived: the records after it keep their
  // own positions, and, since it may have been a separator, start a run of
  // their own unless the history already knows them.
  void Skip();
  HistoryOutcome Finish(bool complete);

 private:
  friend class HistoryStore;
  ArchiveReadLog(HistoryStore* store, int key) : store_(store), key_(key) {}
  HistoryStore* store_ = nullptr;
  int key_ = 0;
};

}  // namespace vantor
