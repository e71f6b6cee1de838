#pragma once
#include <cstdint>
#include <functional>

#include "ArchiveRead.h"
#include "HistoryService.h"
#include "HistorySink.h"

namespace vantor {

// The archive's operations with the history: a read whose records go into
// it as they arrive, and an erase that first makes sure it holds every
// record the instrument has.

// Reads as ReadArchive does and keeps the records in `history`, in the
// instrument's order, in batches while they arrive (an unplug or a crash
// keeps what came before it) and the rest at the end. The read counts as
// complete for the history when every record of the instrument's reported
// count arrived.
ArchiveReadResult ReadArchive(DeviceLink& link, int count, const HistorySink& history,
                              const ArchiveProgress& onProgress,
                              const std::function<bool()>& stopRequested = {});

// The records the program reads of an archive of `reported` records: no
// more than its copy holds.
int ArchiveReadCount(uint32_t reported);

// What the erase asks of its caller while it reads first.
struct ArchiveEraseSteps {
  std::function<void(int count)> OnReadStart;  // a read of `count` records begins
  ArchiveProgress OnProgress;
  std::function<bool()> StopRequested;
  // How long to wait for the history's answer: does it hold every record?
  int HistoryWaitMs = HistoryAnswerWaitMs;
};

// What a safe erase came to.
struct ArchiveSafeErase {
  enum class Outcome : uint8_t {
    Erased,       // the instrument acknowledged; the history held every record
    CountUnread,  // the record count did not arrive: nothing done
    ReadFailed,   // the read first did not get every record: nothing erased
    NotKept,      // the history could not take the records: nothing erased
    Unanswered,   // the history did not say in time whether it holds them: nothing erased
    EraseFailed,  // the instrument did not acknowledge the erase
  };
  Outcome Result = Outcome::CountUnread;
  uint32_t RecordCount = 0;  // the instrument's, just before
  bool ReadFirst = false;    // the history lacked records, so the archive was read
  int ReadCount = 0;         // records that read asked for
  ArchiveReadResult Read;
  HistoryOutcome History;  // NotKept, Unanswered: why
};

// Erases the instrument's archive (command 1) so that nothing is lost: reads
// its record count, and unless the history's last complete read covers it,
// reads the archive into the history first. Each question to the history
// waits at most steps.HistoryWaitMs; without an answer nothing is erased.
// Without a service it erases at once. A successful erase is kept as an
// event with the record count.
ArchiveSafeErase EraseArchive(DeviceLink& link, const HistorySink& history,
                              const ArchiveEraseSteps& steps = {});

}  // namespace vantor
