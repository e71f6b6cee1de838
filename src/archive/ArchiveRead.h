#pragma once
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "ArchiveRecord.h"

namespace vantor {

class DeviceLink;

// How one read of the next archive record ended, as far as the instrument's
// transfer position goes.
enum class RecordAttempt : uint8_t {
  Record,   // a record arrived whole
  Refused,  // an intact refusal: that request was not acted on
  Damaged,  // a record came spoilt on the line: that request was acted on
  Unknown,  // nothing came, or an answer that is no record: that request may
            // or may not have been acted on, and its answer may yet come
};

// Puts the records of an archive transfer into their slots although reads
// fail on the way, and never puts a record into a slot not its own.
//
// The instrument answers requests in the order they come, one answer each,
// and moves its transfer on with every read it takes, whether or not the
// answer survives the line. An answer may come late, inside a later
// exchange, and be taken there for that exchange's own; so what counts is
// the order of the answers, not which request an answer seems to belong to.
// Every answer is taken by some exchange, thrown away unread between
// exchanges (the link says how many bytes), or lost whole, which leaves an
// exchange with nothing. Each outcome therefore moves the next record's
// position by a known step or by one of a few: a record or a spoilt record
// by one, a refusal by none, nothing or an answer that is no record by none
// or one, and bytes thrown away by none up to the answers they could hold.
//
// From an acknowledged start, while every step is known, the position is
// exact and records go straight into their slots. Once a step is uncertain,
// the records that follow form a loose run with the range of slots it may
// start at; a run is placed only when the records already known leave it a
// single start, which makes the position exact again. Records carry their
// times, so a dated record is never in two places: one that comes where
// another is known, or that is known elsewhere, shows that the pass is not
// where it thinks, and the pass ends. An answer that may have been late
// leaves the one after it uncertain too: the answer to its own request may
// have been lost whole. The transfer is read in passes, each restarted at
// the first record: every pass fills what the earlier ones missed and lets
// the loose runs of all passes find their place.
//
// The time order of records and their spacing are no evidence: a clock set
// within a run (as the program itself corrects a drifting one) breaks both
// in a sound archive.
class ArchiveAssembler {
 public:
  explicit ArchiveAssembler(int count);

  int Count() const { return count_; }
  int Known() const { return known_; }
  bool Complete() const { return known_ == count_; }
  const std::vector<std::optional<ArchiveRecord>>& Slots() const { return slots_; }

  // The transfer has been restarted. `anchored`: the restart was
  // acknowledged, so the next read brings slot 0; otherwise where the
  // instrument stands is not known.
  void BeginPass(bool anchored = true);
  // Takes the outcome of one read (`record` with Record); `strayReplies` is
  // how many answers the bytes thrown away before its request could have
  // held. False once this pass can gain nothing more: it has passed every
  // slot still unknown, or the records showed that it lost its place.
  bool Take(RecordAttempt attempt, const ArchiveRecord* record = nullptr, int strayReplies = 0);
  // Places the loose runs that can be placed now.
  void EndPass();

 private:
  struct LooseRun {
    int Lowest = 0;                                     // first slot it may start at
    int Highest = 0;                                    // last slot it may start at
    std::vector<std::optional<ArchiveRecord>> Records;  // a gap: a record spoilt
  };
  enum class Fits : uint8_t { Nowhere, One, Several };

  int LastUnknown() const;
  // Fills an empty slot; false when the slot or another one already holds
  // something that contradicts the record.
  bool Place(int slot, const ArchiveRecord& record);
  bool Contradicts(int slot, const ArchiveRecord& record) const;
  Fits Fit(const LooseRun& run, int& start) const;
  void PlaceRun(const LooseRun& run, int start);
  // Places every loose run that fits, again and again while that adds
  // records; drops those that fit nowhere.
  void Settle();
  // The next record's position has become less certain by up to `steps`.
  void Widen(int steps);
  void CloseRun();
  void TakeRecord(const ArchiveRecord& record);
  void Append(const std::optional<ArchiveRecord>& record);

  int count_ = 0;
  int known_ = 0;
  int lastUnknown_ = -1;
  std::vector<std::optional<ArchiveRecord>> slots_;
  // Where each dated record known so far is; -1 when the archive holds it
  // twice (a clock that stood still), so it tells nothing.
  std::map<std::array<uint8_t, ArchiveRecordBytes>, int> dated_;
  std::vector<LooseRun> loose_;
  // The slots the next record may be at, lowest_ == highest_ when exact.
  int lowest_ = 0;
  int highest_ = 0;
  // Every answer of this pass so far was the answer to its own request, so
  // nothing thrown away can have been a record.
  bool ownAnswers_ = true;
  // The last reply may have been the late answer to an earlier request...
  bool mayBeLate_ = false;
  // ... so the one that followed it may have been lost without a trace.
  bool lossUnseen_ = false;
  bool lostPlace_ = false;
  LooseRun run_;  // the records since the position became uncertain
};

// What a whole archive read gave.
struct ArchiveReadResult {
  std::vector<std::optional<ArchiveRecord>> Slots;  // by position in the instrument
  int Missing = 0;                                  // slots that never arrived
  int Retried = 0;       // reads that failed on the way and were made up for
  int Passes = 0;        // transfers started
  bool Lost = false;     // the instrument stopped answering; what came is kept
  bool Stopped = false;  // the caller asked to stop; what came is kept
};

// Reads `count` records of the instrument's archive over `link`: starts the
// transfer (command 2; its failure does not stop the read, but then nothing
// is placed by its position), reads variable 5 once per slot, and restarts
// the transfer for what was missed, up to MaxArchivePasses transfers. Ends early after
// RetryAttempts failed reads in a row (the instrument is gone). `onProgress(known, count)` is
// called after every attempt, failed or not. `stopRequested`, asked after every read of a record,
// ends the read there when it is true. `onSlots` sees the slots after every attempt and every pass,
// to keep records as they arrive.
inline constexpr int MaxArchivePasses = 16;
using ArchiveProgress = std::function<void(int known, int count)>;
using ArchiveSlots = std::vector<std::optional<ArchiveRecord>>;
ArchiveReadResult ReadArchive(DeviceLink& link, int count, const ArchiveProgress& onProgress,
                              const std::function<bool()>& stopRequested = {},
                              const std::function<void(const ArchiveSlots&)>& onSlots = {});

// What an erase came to.
struct ArchiveErase {
  bool Erased = false;       // the instrument acknowledged
  uint32_t RecordCount = 0;  // its record count as last polled, before the erase
};

// Tells the instrument to erase its archive (command 1, one exchange, no
// retry). No confirmation is asked here: that is the caller's.
ArchiveErase EraseArchive(DeviceLink& link);

}  // namespace vantor
