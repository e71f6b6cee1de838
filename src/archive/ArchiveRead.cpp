#include "ArchiveRead.h"

#include <algorithm>

#include "DeviceLink.h"
#include "Dictionary.h"
#include "SendCommand.h"

namespace vantor {
namespace {

using RecordKey = std::array<uint8_t, ArchiveRecordBytes>;

RecordKey KeyOf(const ArchiveRecord& record) {
  RecordKey key{};
  std::copy_n(record.Bytes.begin(), key.size(), key.begin());
  return key;
}

bool SameRecord(const ArchiveRecord& a, const ArchiveRecord& b) {
  return KeyOf(a) == KeyOf(b);
}

// A record that names a moment; a clock that works never names one twice.
bool Dated(const ArchiveRecord& record) {
  return !record.IsSeparator() && !DecodeArchiveTime(record).IsZero();
}

}  // namespace

ArchiveAssembler::ArchiveAssembler(int count)
    : count_(std::max(0, count)), lastUnknown_(count_ - 1), slots_(static_cast<size_t>(count_)) {}

int ArchiveAssembler::LastUnknown() const {
  return lastUnknown_;
}

bool ArchiveAssembler::Contradicts(int slot, const ArchiveRecord& record) const {
  const auto& known = slots_[static_cast<size_t>(slot)];
  if (known) {
    return !SameRecord(*known, record);
  }
  if (Dated(record)) {
    const auto it = dated_.find(KeyOf(record));
    return it != dated_.end() && it->second >= 0 && it->second != slot;
  }
  return false;
}

bool ArchiveAssembler::Place(int slot, const ArchiveRecord& record) {
  if (Contradicts(slot, record)) {
    return false;
  }
  auto& s = slots_[static_cast<size_t>(slot)];
  if (s) {
    return true;
  }
  s = record;
  ++known_;
  while (lastUnknown_ >= 0 && slots_[static_cast<size_t>(lastUnknown_)]) {
    --lastUnknown_;
  }
  if (Dated(record)) {
    const auto [it, added] = dated_.emplace(KeyOf(record), slot);
    if (!added && it->second != slot) {
      it->second = -1;
    }
  }
  return true;
}

void ArchiveAssembler::BeginPass(bool anchored) {
  lowest_ = 0;
  highest_ = anchored ? 0 : count_;
  ownAnswers_ = anchored;
  mayBeLate_ = !anchored;
  lossUnseen_ = false;
  lostPlace_ = false;
  run_ = LooseRun{};
}

ArchiveAssembler::Fits ArchiveAssembler::Fit(const LooseRun& run, int& start) const {
  int fits = 0;
  for (int s = std::max(0, run.Lowest); s <= run.Highest; ++s) {
    bool consistent = true;
    // Records that would lie past the archive's end say nothing either way:
    // past its end the instrument may answer anything.
    for (size_t i = 0; i < run.Records.size() && s + static_cast<int>(i) < count_; ++i) {
      if (run.Records[i] && Contradicts(s + static_cast<int>(i), *run.Records[i])) {
        consistent = false;
        break;
      }
    }
    if (consistent) {
      if (++fits > 1) {
        return Fits::Several;
      }
      start = s;
    }
  }
  // Where the run really started always fits: when nothing else does, that
  // is where it started; when nothing does, the run is not what it seems.
  return fits == 0 ? Fits::Nowhere : Fits::One;
}

void ArchiveAssembler::PlaceRun(const LooseRun& run, int start) {
  for (size_t i = 0; i < run.Records.size() && start + static_cast<int>(i) < count_; ++i) {
    if (run.Records[i]) {
      Place(start + static_cast<int>(i), *run.Records[i]);
    }
  }
}

void ArchiveAssembler::Settle() {
  bool changed = true;
  while (changed) {
    changed = false;
    for (auto it = loose_.begin(); it != loose_.end();) {
      int start = 0;
      switch (Fit(*it, start)) {
        case Fits::One:
          PlaceRun(*it, start);
          it = loose_.erase(it);
          changed = true;
          break;
        case Fits::Nowhere:
          it = loose_.erase(it);
          break;
        case Fits::Several:
          ++it;
          break;
      }
    }
  }
}

void ArchiveAssembler::CloseRun() {
  const bool anyRecord = std::any_of(run_.Records.begin(), run_.Records.end(),
                                     [](const auto& r) { return r.has_value(); });
  if (anyRecord) {
    loose_.push_back(run_);
  }
  run_ = LooseRun{};
}

void ArchiveAssembler::Widen(int steps) {
  CloseRun();
  // Past the archive's end every start fits, so a wider range says nothing.
  highest_ = std::min(highest_ + steps, std::max(count_, lowest_));
}

void ArchiveAssembler::Append(const std::optional<ArchiveRecord>& record) {
  if (run_.Records.empty()) {
    run_.Lowest = lowest_;
    run_.Highest = highest_;
  }
  run_.Records.push_back(record);
  ++lowest_;
  ++highest_;
}

void ArchiveAssembler::TakeRecord(const ArchiveRecord& record) {
  if (lowest_ == highest_) {
    const int slot = lowest_;
    if (slot < count_) {
      // The slot known to hold another record, or this one known to be
      // elsewhere: the pass is not where it thinks.
      if (!Place(slot, record)) {
        lostPlace_ = true;
        return;
      }
    }
    ++lowest_;
    ++highest_;
    return;
  }
  Append(record);
  int start = 0;
  switch (Fit(run_, start)) {
    case Fits::One:
      // The run has found its place: the position is exact again.
      PlaceRun(run_, start);
      lowest_ = start + static_cast<int>(run_.Records.size());
      highest_ = lowest_;
      run_ = LooseRun{};
      break;
    case Fits::Nowhere:
      lostPlace_ = true;
      run_ = LooseRun{};
      break;
    case Fits::Several:
      break;
  }
}

bool ArchiveAssembler::Take(RecordAttempt attempt, const ArchiveRecord* record, int strayReplies) {
  // After an answer that may have been a late one, the answer to its own
  // request may still be out: thrown away (the bytes tell), taken later, or
  // lost whole, which nothing tells. The next answer may then be one further
  // on.
  if (lossUnseen_ && strayReplies == 0) {
    Widen(1);
  }
  lossUnseen_ = false;
  if (attempt != RecordAttempt::Unknown && mayBeLate_) {
    lossUnseen_ = true;
    mayBeLate_ = false;
  }
  // While every answer was its own request's, bytes thrown away were noise
  // or the rest of a spoilt answer; otherwise they may have held records.
  if (strayReplies > 0 && !ownAnswers_) {
    Widen(strayReplies);
  }
  switch (attempt) {
    case RecordAttempt::Record:
      if (record != nullptr) {
        TakeRecord(*record);
      }
      break;
    case RecordAttempt::Refused:
      break;
    case RecordAttempt::Damaged:
      if (lowest_ == highest_) {
        ++lowest_;
        ++highest_;
      } else {
        Append(std::nullopt);
      }
      break;
    case RecordAttempt::Unknown:
      ownAnswers_ = false;
      mayBeLate_ = true;
      Widen(1);
      break;
  }
  return !lostPlace_ && lowest_ <= LastUnknown();
}

void ArchiveAssembler::EndPass() {
  CloseRun();
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
    // The first start command's outcome does not stop the read, but without
    // it where the instrument stands is unknown. A restart that does not get
    // through ends the read.
    const bool started = SendCommand(link, CommandStartArchiveTransfer, true);
    ++result.Passes;
    if (!started && pass > 0) {
      result.Lost = true;
      break;
    }
    assembler.BeginPass(started);
    bool more = assembler.Count() > 0 && !assembler.Complete();
    while (more) {
      link.Values().Archive = ArchiveRecordValue{};
      RecordAttempt attempt = RecordAttempt::Record;
      ArchiveRecord record;
      if (link.ReadVariable(IdArchive) != 0) {
        record = ArchiveRecord::From(link.Values().Archive);
        failedInRow = 0;
      } else {
        if (link.LastReply() == DeviceLink::ReplyKind::Refusal) {
          attempt = RecordAttempt::Refused;
        } else if (link.LastPayloadSpoilt()) {
          attempt = RecordAttempt::Damaged;
        } else {
          attempt = RecordAttempt::Unknown;
        }
        ++result.Retried;
        ++failedInRow;
      }
      // Whole answers the thrown-away bytes could have held, a header's
      // worth each.
      const size_t dropped = link.DroppedBeforeRequest();
      const int strays = static_cast<int>((dropped + HeaderSize - 1) / HeaderSize);
      more = assembler.Take(attempt, &record, strays);
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
