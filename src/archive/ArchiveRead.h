#pragma once
#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "ArchiveRecord.h"

namespace vantor {

class DeviceLink;

// How one read of the next archive record ended, as far as the instrument's
// transfer position goes.
enum class RecordAttempt : uint8_t {
  Record,    // a record arrived whole
  Damaged,   // a record's header came whole and its payload spoilt: the
             // instrument answered with a record, which the line damaged
  NoRecord,  // an answer that is no record (a refusal, an acknowledgement,
             // another variable's value, bytes that make no reply): the
             // instrument may or may not have moved on
  Nothing,   // nothing came: the instrument may or may not have moved on,
             // and the answer to that request may yet come
};

// Puts the records of an archive transfer into their slots although reads
// fail on the way, and never puts a record into a slot not its own.
//
// Position comes from the line. After an acknowledged start, while every
// answer certainly answers its own request, the k-th record is record k,
// whatever it holds: equal records are ordinary data. Only the line makes a
// position uncertain: a request with no answer, or an answer that is no
// record, may or may not have moved the instrument on by one, and an answer
// that came late may have been taken by a later request, whose own answer
// may then be lost unseen. Bytes thrown away between exchanges may have held
// that many answers.
//
// So each pass is a chain of runs of consecutive records, each run starting
// a known number of slots or one of a few after the previous one ends: the
// uncertainty is between neighbours, not of the rest of the pass. A run's
// possible starts follow from its neighbours' and from the records already
// placed: a start at which one of its records would contradict a placed one
// is no start. A run with a single start left is placed, and narrows its
// neighbours in turn; where every start left puts the same bytes into a
// slot, that slot is placed too. Nothing else is guessed: what stays
// uncertain is read again, in a pass that restarts the transfer and reads
// only as far as the last slot still unknown.
//
// The time order of records and their spacing are no evidence: a clock set
// back within a run (as the program itself corrects a drifting one) repeats
// moments and breaks both in a sound archive.
class ArchiveAssembler {
 public:
  explicit ArchiveAssembler(int count);

  int Count() const { return count_; }
  int Known() const { return known_; }
  bool Complete() const { return known_ == count_; }
  const std::vector<std::optional<ArchiveRecord>>& Slots() const { return slots_; }
  // Open slots that records which did arrive may belong to, although they
  // could not be placed.
  int Unplaced() const;

  // The transfer has been restarted. `anchored`: the restart was
  // acknowledged, so the next read brings slot 0; otherwise where the
  // instrument stands is not known.
  void BeginPass(bool anchored = true);
  // Takes the outcome of one read (`record` with Record); `strayReplies` is
  // how many answers the bytes thrown away before its request could have
  // held. False once this pass can gain nothing more: it has passed every
  // slot still unknown, or its records contradict what is known.
  bool Take(RecordAttempt attempt, const ArchiveRecord* record = nullptr, int strayReplies = 0);
  // The anchored pass has placed nothing new and lost its place where no
  // slot ahead is known: nothing it reads from here on can be placed by what
  // this read knows, so a new start is worth more than reading on.
  bool Adrift() const;
  // Places what the pass's runs allow now.
  void EndPass();

 private:
  struct Run {
    std::vector<std::optional<ArchiveRecord>> Records;  // a gap: a record spoilt
    int GapMax = 0;           // slots it may start after the previous run's end
    std::vector<int> Starts;  // where it may start, ascending; count_: past the end
    size_t Placed = 0;        // records placed, once it has one start
    size_t CheckedUpTo = 0;   // placements it has been checked against
    bool Grew = true;         // records added since it was last checked
  };
  struct Chain {
    std::vector<Run> Runs;
    bool Broken = false;  // its records contradict what is known: it tells nothing
  };

  bool Contradicts(int slot, const ArchiveRecord& record) const;
  bool Fits(const Run& run, int start) const;
  void Place(int slot, const ArchiveRecord& record);
  // Narrows one run by its neighbours and the placed records; places it
  // when one start is left. True when anything changed.
  bool Refine(Chain& chain, size_t index);
  void PlaceWhatAgrees(const Run& run);
  // Refines runs until nothing changes: every run, or only those the last
  // record and what it placed can reach.
  void Settle(bool everything);
  void Append(const std::optional<ArchiveRecord>& record);
  int NextLowest() const;

  int count_ = 0;
  int known_ = 0;
  int lastUnknown_ = -1;
  std::vector<std::optional<ArchiveRecord>> slots_;
  std::vector<int> placements_;  // slots in the order they were placed
  std::vector<Chain> chains_;    // one per pass
  // The pass in progress.
  bool anchored_ = true;
  int requests_ = 0;      // reads of this pass so far
  int knownAtStart_ = 0;  // slots known when the pass began
  int gapMax_ = 0;        // slots the next record may lie beyond the last one
  bool runOpen_ = false;  // the next record follows the last one directly
  // Every answer of this pass so far was the answer to its own request, so
  // nothing thrown away can have been a record.
  bool ownAnswers_ = true;
  // The last answer may have been the late answer to an earlier request...
  bool mayBeLate_ = false;
  // ... so the answer to its own request may have been lost without a trace.
  bool lossUnseen_ = false;
};

// What a whole archive read gave.
struct ArchiveReadResult {
  std::vector<std::optional<ArchiveRecord>> Slots;  // by position in the instrument
  int Missing = 0;                                  // slots still open
  int Unplaced = 0;      // of those, slots that records which did arrive may belong to
  int Requests = 0;      // reads of a record made
  int Retried = 0;       // reads beyond one per record placed
  int Passes = 0;        // transfers started
  bool Stalled = false;  // a pass placed nothing new, so the read ended
  bool Lost = false;     // the instrument stopped answering; what came is kept
  bool Stopped = false;  // the caller asked to stop; what came is kept
};

// Reads `count` records of the instrument's archive over `link`: starts the
// transfer (command 2; its failure does not stop the read, but then nothing
// is placed by its position), reads variable 5 once per slot, and restarts
// the transfer for what stays unknown, up to MaxArchivePasses transfers and
// only while each pass places something new. A reply that comes late is
// still its request's answer: the read waits for one as long as the line has
// shown replies to be late (from LateReplyBound up to MaxArchivePatience).
// Ends early after RetryAttempts failed reads in a row (the instrument is
// gone). `onProgress(known, count)` is
// called after every attempt, failed or not. `stopRequested`, asked after every read of a record,
// ends the read there when it is true. `onSlots` sees the slots after every attempt and every pass,
// to keep records as they arrive.
inline constexpr int MaxArchivePasses = 16;
inline constexpr std::chrono::milliseconds MaxArchivePatience{3000};
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
