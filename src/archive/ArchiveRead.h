#pragma once
#include <functional>
#include <optional>
#include <vector>

#include "ArchiveRecord.h"

namespace vantor {

class DeviceLink;

// How one read of the next archive record ended, as far as the instrument's
// transfer position goes. The instrument moves on with every read it
// answers, whether or not its answer survives the line.
enum class RecordAttempt : uint8_t {
  Record,   // the record arrived whole
  Refused,  // an intact refusal: the instrument did not move on
  Damaged,  // an answer came but spoilt: it moved on, the record is lost
  Unheard,  // nothing came: the request or the answer was lost, so it may
            // or may not have moved on
};

// Puts the records of an archive transfer into their slots although reads
// fail on the way. A failed read cannot be asked for again (the instrument
// has moved on), so the transfer is read in passes, each restarted at the
// first record: every pass fills what the earlier ones missed. Where a pass
// cannot tell whether the instrument moved on, the records that follow are
// kept as a loose run and placed once the records known from other passes
// leave a single position for them; records carry their times, so two
// neighbours are never alike.
class ArchiveAssembler {
 public:
  explicit ArchiveAssembler(int count);

  int Count() const { return count_; }
  int Known() const { return known_; }
  bool Complete() const { return known_ == count_; }
  const std::vector<std::optional<ArchiveRecord>>& Slots() const { return slots_; }

  // The transfer has been restarted: the next read brings slot 0.
  void BeginPass();
  // Takes the outcome of one read (`record` with Record). False once this
  // pass can gain nothing more: it has passed every slot still unknown, or
  // lost its place among records known to be elsewhere.
  bool Take(RecordAttempt attempt, const ArchiveRecord* record = nullptr);
  // Places the loose runs that can be placed now.
  void EndPass();

 private:
  struct LooseRun {
    int Lowest = 0;   // first slot it may start at
    int Highest = 0;  // last slot it may start at
    std::vector<std::optional<ArchiveRecord>> Records;
  };

  int LastUnknown() const;
  void Place(int slot, const ArchiveRecord& record);
  // The one start consistent with the known slots, if there is just one.
  std::optional<int> Fit(const LooseRun& run) const;
  // Places every run that fits, again and again while that adds records.
  void Settle();
  bool PassDone() const;

  int count_ = 0;
  int known_ = 0;
  std::vector<std::optional<ArchiveRecord>> slots_;
  std::vector<LooseRun> loose_;
  // Where the current pass is: a slot when it is sure, or a loose run.
  bool sure_ = true;
  int position_ = 0;
  LooseRun run_;
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
// transfer (command 2; its failure does not stop the read), reads variable 5
// once per slot, and restarts the transfer for what was missed, up to
// MaxArchivePasses transfers. Ends early after RetryAttempts failed reads in
// a row (the instrument is gone). `onProgress(known, count)` is called after
// every attempt, failed or not. `stopRequested`, asked after every read of a
// record, ends the read there when it is true. `onSlots` sees the slots
// after every attempt and every pass, to keep records as they arrive.
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
