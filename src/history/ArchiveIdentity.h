#pragma once
#include <QByteArray>
#include <QHash>
#include <QTimeZone>
#include <chrono>
#include <cstdint>
#include <map>
#include <vector>

#include "HistoryTypes.h"

namespace vantor {

class HistoryConnection;

// One record of an archive read on its way into the store, with what makes
// it the same record when the archive is read again: the instrument, its
// nine bytes and the how-manieth record with those bytes it was in its read
// (`Ordinal`). Its run is settled when it is written.
struct ArchiveRow {
  int64_t Position = 0;
  int64_t LocalRun = 0;  // separators before it in this read
  int Ordinal = 0;
  ArchiveBytes Raw{};
  int64_t ReadMs = 0;
};

// Records of one read handed to the store together, in one transaction.
struct ArchiveItem {
  int Key = 0;  // the read
  std::vector<ArchiveRow> Rows;
  int64_t Positions = 0;  // records received by the end of this batch
  bool Last = false;
  bool Complete = false;
  int64_t FinishedMs = 0;
};

// What a read has settled in the store; replaced only after a commit.
struct ReadSettled {
  int64_t DbId = 0;
  int64_t LocalRun = -1;  // the read's run whose store run is known
  int64_t Run = 0;
};

// A read of an instrument's archive while its records arrive.
struct ArchiveReadState {
  InstrumentIdentity Instrument;
  int64_t DeviceCount = 0;
  int64_t StartedMs = 0;
  int64_t Positions = 0;
  int64_t LocalRun = 0;
  QHash<QByteArray, int> Seen;  // occurrences of each record's bytes
  std::vector<ArchiveRow> Buffer;
  std::chrono::steady_clock::time_point LastBatch;
  bool Ended = false;
  ReadSettled Settled;
};

// The archive reads under way: records buffered as they arrive, given their
// identity, and handed over in batches.
class ArchiveReads {
 public:
  int Begin(const InstrumentIdentity& instrument, int64_t deviceCount, int64_t nowMs);
  ArchiveReadState& At(int key) { return reads_.at(key); }
  const ArchiveReadState& At(int key) const { return reads_.at(key); }
  void Erase(int key) { reads_.erase(key); }
  std::map<int, ArchiveReadState>& All() { return reads_; }
  const std::map<int, ArchiveReadState>& All() const { return reads_; }

  // Takes the next record of a read, separators included.
  void Buffer(int key, const ArchiveBytes& record, int64_t nowMs);
  // A position of a read whose record never arrived; it may have been a
  // separator, so what follows counts as a run of its own.
  void Skip(int key);
  // Whether the buffered records of a read are due as a batch: `batchRecords`
  // of them, or `batchMs` since the last batch.
  bool BatchDue(int key, int batchRecords, int batchMs) const;
  // The buffered records of a read as one batch.
  ArchiveItem TakeBatch(int key, bool last, bool complete, int64_t nowMs);
  // Records buffered and not yet handed over, of every read or of one
  // instrument's.
  int64_t Buffered() const;
  int64_t Buffered(const InstrumentIdentity& instrument) const;

 private:
  std::map<int, ArchiveReadState> reads_;
  int nextKey_ = 1;
};

// Writes a batch into the open transaction: the read's row first, then each
// record once, its run numbered per instrument over the whole history (a
// run of a new read continues the run its first record was stored in; a
// run the history has not seen gets the next number).
bool WriteArchiveBatch(HistoryConnection& connection, const ArchiveItem& item,
                       const ArchiveReadState& read, int64_t instrumentId, ReadSettled& settled,
                       const QTimeZone& zone, QString* error);

}  // namespace vantor
