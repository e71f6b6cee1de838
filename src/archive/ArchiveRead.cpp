#include "ArchiveRead.h"

#include <algorithm>
#include <cmath>

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

// The moment a dated record names, in seconds on its own clock.
int64_t Seconds(const ArchiveRecord& record) {
  return std::llround(ArchivePointDate(DecodeArchiveTime(record)).value_or(0) * 86400.0);
}

// `later` follows `earlier` within one run yet names an earlier moment.
bool GoesBack(const ArchiveRecord& earlier, const ArchiveRecord& later) {
  return Dated(earlier) && Dated(later) && Seconds(later) < Seconds(earlier);
}

// Three records in a row of one run, logged a period apart, are spaced
// evenly; a record between them that never arrived shows as a step twice
// as long.
bool Uneven(const std::optional<ArchiveRecord>& a, const std::optional<ArchiveRecord>& b,
            const std::optional<ArchiveRecord>& c) {
  if (!a || !b || !c || !Dated(*a) || !Dated(*b) || !Dated(*c)) {
    return false;
  }
  return Seconds(*b) - Seconds(*a) != Seconds(*c) - Seconds(*b);
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
  if (fits == 0) {
    // Where the run really started always fits: when nothing does, the run
    // is not what it seems.
    return Fits::Nowhere;
  }
  // When one start fits, that is where it started, unless its records and
  // their known neighbours are not evenly spaced there: then a record may
  // have gone missing unseen inside the run, and it waits.
  return Even(run, start) ? Fits::One : Fits::Several;
}

bool ArchiveAssembler::Even(const LooseRun& run, int start) const {
  const int length = static_cast<int>(run.Records.size());
  std::vector<std::optional<ArchiveRecord>> row;
  for (int slot = start - 2; slot < start + length + 2; ++slot) {
    const int i = slot - start;
    if (i >= 0 && i < length && run.Records[static_cast<size_t>(i)]) {
      row.push_back(run.Records[static_cast<size_t>(i)]);
    } else if (slot >= 0 && slot < count_) {
      row.push_back(slots_[static_cast<size_t>(slot)]);
    } else {
      row.emplace_back();
    }
  }
  for (size_t i = 0; i + 2 < row.size(); ++i) {
    if (Uneven(row[i], row[i + 1], row[i + 2])) {
      return false;
    }
  }
  return true;
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
      // A chain of answers each to its own request cannot be wrong, so only
      // a contradiction with what is known stops it; after an uncertain step
      // a record older than the one before it does too.
      const auto known = [this](int i) {
        return i >= 0 ? slots_[static_cast<size_t>(i)] : std::optional<ArchiveRecord>{};
      };
      if (Contradicts(slot, record) ||
          (!ownAnswers_ && ((known(slot - 1) && GoesBack(*known(slot - 1), record)) ||
                            Uneven(known(slot - 2), known(slot - 1), record)))) {
        lostPlace_ = true;
        return;
      }
      Place(slot, record);
    }
    ++lowest_;
    ++highest_;
    return;
  }
  const size_t n = run_.Records.size();
  if ((n >= 1 && run_.Records[n - 1] && GoesBack(*run_.Records[n - 1], record)) ||
      (n >= 2 && Uneven(run_.Records[n - 2], run_.Records[n - 1], record))) {
    lostPlace_ = true;
    run_ = LooseRun{};
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
