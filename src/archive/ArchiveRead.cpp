#include "ArchiveRead.h"

#include <algorithm>

#include "DeviceLink.h"
#include "Dictionary.h"
#include "SendCommand.h"

namespace vantor {
namespace {

bool SameRecord(const ArchiveRecord& a, const ArchiveRecord& b) {
  return std::equal(a.Bytes.begin(), a.Bytes.begin() + ArchiveRecordBytes, b.Bytes.begin());
}

}  // namespace

ArchiveAssembler::ArchiveAssembler(int count)
    : count_(std::max(0, count)), slots_(static_cast<size_t>(count_)) {}

int ArchiveAssembler::LastUnknown() const {
  for (int i = count_ - 1; i >= 0; --i) {
    if (!slots_[static_cast<size_t>(i)]) {
      return i;
    }
  }
  return -1;
}

void ArchiveAssembler::Place(int slot, const ArchiveRecord& record) {
  auto& s = slots_[static_cast<size_t>(slot)];
  if (!s) {
    s = record;
    ++known_;
  }
}

void ArchiveAssembler::BeginPass() {
  sure_ = true;
  position_ = 0;
  run_ = LooseRun{};
}

bool ArchiveAssembler::PassDone() const {
  const int end = LastUnknown() + 1;  // reading past this gains nothing
  if (sure_) {
    return position_ >= end;
  }
  return run_.Lowest + static_cast<int>(run_.Records.size()) >= end;
}

std::optional<int> ArchiveAssembler::Fit(const LooseRun& run) const {
  std::optional<int> found;
  int fits = 0;
  for (int start = std::max(0, run.Lowest); start <= run.Highest; ++start) {
    bool consistent = true;
    // Records that would lie past the archive's end say nothing either way:
    // past its end the instrument may answer anything, so a start past it
    // always fits (and places nothing).
    for (size_t i = 0; i < run.Records.size() && start + static_cast<int>(i) < count_; ++i) {
      const auto& known = slots_[static_cast<size_t>(start) + i];
      if (run.Records[i] && known && !SameRecord(*run.Records[i], *known)) {
        consistent = false;
        break;
      }
    }
    if (consistent) {
      ++fits;
      found = start;
    }
  }
  // Where the run really started always fits; when nothing else does, that
  // is where it started.
  return fits == 1 ? found : std::nullopt;
}

void ArchiveAssembler::Settle() {
  bool changed = true;
  while (changed) {
    changed = false;
    for (auto it = loose_.begin(); it != loose_.end();) {
      const std::optional<int> start = Fit(*it);
      if (!start) {
        ++it;
        continue;
      }
      for (size_t i = 0; i < it->Records.size() && *start + static_cast<int>(i) < count_; ++i) {
        if (it->Records[i]) {
          Place(*start + static_cast<int>(i), *it->Records[i]);
        }
      }
      it = loose_.erase(it);
      changed = true;
    }
  }
}

bool ArchiveAssembler::Take(RecordAttempt attempt, const ArchiveRecord* record) {
  switch (attempt) {
    case RecordAttempt::Record:
      if (record == nullptr) {
        return !PassDone();
      }
      if (sure_) {
        if (position_ < count_) {
          const auto& known = slots_[static_cast<size_t>(position_)];
          if (known && !SameRecord(*known, *record)) {
            // Not where this pass thought it was: it cannot be trusted any
            // further, the next pass starts over.
            return false;
          }
          Place(position_, *record);
        }
        ++position_;
      } else {
        run_.Records.emplace_back(*record);
        if (const std::optional<int> start = Fit(run_)) {
          // The run has found its place: the pass is sure again.
          loose_.push_back(run_);
          Settle();
          sure_ = true;
          position_ = *start + static_cast<int>(run_.Records.size());
          run_ = LooseRun{};
        }
      }
      break;
    case RecordAttempt::Refused:
      break;
    case RecordAttempt::Damaged:
      if (sure_) {
        ++position_;
      } else {
        run_.Records.emplace_back(std::nullopt);
      }
      break;
    case RecordAttempt::Unheard:
      if (sure_) {
        sure_ = false;
        run_ = LooseRun{position_, position_ + 1, {}};
      } else if (run_.Records.empty()) {
        ++run_.Highest;
      } else {
        const int length = static_cast<int>(run_.Records.size());
        loose_.push_back(run_);
        run_ = LooseRun{run_.Lowest + length, run_.Highest + length + 1, {}};
      }
      break;
  }
  return !PassDone();
}

void ArchiveAssembler::EndPass() {
  if (!sure_ && !run_.Records.empty()) {
    loose_.push_back(run_);
  }
  run_ = LooseRun{};
  sure_ = true;
  Settle();
}

ArchiveReadResult ReadArchive(DeviceLink& link, int count, const ArchiveProgress& onProgress,
                              const std::function<bool()>& stopRequested,
                              const std::function<void(const ArchiveSlots&)>& onSlots) {
  ArchiveAssembler assembler(count);
  ArchiveReadResult result;
  const auto progress = [&] {
    if (onProgress) {
      onProgress(assembler.Known(), assembler.Count());
    }
  };
  const auto showSlots = [&] {
    if (onSlots) {
      onSlots(assembler.Slots());
    }
  };
  const std::function<void()> previousHook = link.OnAttemptFailed;
  link.OnAttemptFailed = progress;

  int failedInRow = 0;
  for (int pass = 0; pass < MaxArchivePasses; ++pass) {
    if (pass > 0 && assembler.Complete()) {
      break;
    }
    // The first start command's outcome does not matter: reading goes on
    // regardless. A restart that does not get through would leave the
    // instrument's position unknown.
    const bool started = SendCommand(link, CommandStartArchiveTransfer, true);
    ++result.Passes;
    if (!started && pass > 0) {
      result.Lost = true;
      break;
    }
    assembler.BeginPass();
    bool more = assembler.Count() > 0 && !assembler.Complete();
    while (more) {
      link.Values().Archive = ArchiveRecordValue{};
      RecordAttempt attempt = RecordAttempt::Record;
      ArchiveRecord record;
      if (link.ReadVariable(IdArchive) != 0) {
        record = ArchiveRecord::From(link.Values().Archive);
        failedInRow = 0;
      } else {
        switch (link.LastReply()) {
          case DeviceLink::ReplyKind::Refusal:
            attempt = RecordAttempt::Refused;
            break;
          case DeviceLink::ReplyKind::Nothing:
            attempt = RecordAttempt::Unheard;
            break;
          default:
            attempt = RecordAttempt::Damaged;
            break;
        }
        ++result.Retried;
        ++failedInRow;
      }
      more = assembler.Take(attempt, &record);
      if (attempt == RecordAttempt::Record) {
        showSlots();
      }
      progress();
      if (failedInRow >= DeviceLink::RetryAttempts) {
        result.Lost = true;
        break;
      }
      if (stopRequested && stopRequested()) {
        result.Stopped = true;
        break;
      }
    }
    assembler.EndPass();
    showSlots();
    if (result.Lost || result.Stopped) {
      break;
    }
  }
  link.OnAttemptFailed = previousHook;
  result.Slots = assembler.Slots();
  result.Missing = assembler.Count() - assembler.Known();
  return result;
}

ArchiveErase EraseArchive(DeviceLink& link) {
  ArchiveErase erase;
  erase.RecordCount = link.Values().Measurement.ArchiveRecordCount;
  erase.Erased = SendCommand(link, CommandEraseArchive);
  return erase;
}

}  // namespace vantor
