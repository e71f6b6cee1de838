#include "ArchiveRead.h"

#include <algorithm>
#include <deque>

#include "DeviceLink.h"
#include "Dictionary.h"
#include "SendCommand.h"

namespace vantor {
namespace {

bool SameRecord(const ArchiveRecord& a, const ArchiveRecord& b) {
  return std::equal(a.Bytes.begin(), a.Bytes.begin() + ArchiveRecordBytes, b.Bytes.begin());
}

// Slots as a union of closed intervals, built in ascending order.
class SlotRanges {
 public:
  void Add(int low, int high) {
    if (low > high) {
      return;
    }
    if (!ranges_.empty() && low <= ranges_.back().second + 1) {
      ranges_.back().second = std::max(ranges_.back().second, high);
      return;
    }
    ranges_.emplace_back(low, high);
  }
  // Keeps the values of `sorted` that lie in a range; true when any went.
  bool Keep(std::vector<int>& sorted) const {
    const size_t before = sorted.size();
    size_t r = 0;
    std::vector<int> kept;
    kept.reserve(sorted.size());
    for (const int v : sorted) {
      while (r < ranges_.size() && ranges_[r].second < v) {
        ++r;
      }
      if (r < ranges_.size() && ranges_[r].first <= v) {
        kept.push_back(v);
      }
    }
    sorted.swap(kept);
    return sorted.size() != before;
  }

 private:
  std::vector<std::pair<int, int>> ranges_;
};

}  // namespace

ArchiveAssembler::ArchiveAssembler(int count)
    : count_(std::max(0, count)), lastUnknown_(count_ - 1), slots_(static_cast<size_t>(count_)) {}

bool ArchiveAssembler::Contradicts(int slot, const ArchiveRecord& record) const {
  const auto& known = slots_[static_cast<size_t>(slot)];
  return known && !SameRecord(*known, record);
}

bool ArchiveAssembler::Fits(const Run& run, int start) const {
  // Past its end the instrument may answer anything: those records say
  // nothing either way.
  for (size_t i = 0; i < run.Records.size() && start + static_cast<int>(i) < count_; ++i) {
    if (run.Records[i] && Contradicts(start + static_cast<int>(i), *run.Records[i])) {
      return false;
    }
  }
  return true;
}

void ArchiveAssembler::Place(int slot, const ArchiveRecord& record) {
  auto& s = slots_[static_cast<size_t>(slot)];
  if (s) {
    return;
  }
  s = record;
  ++known_;
  placements_.push_back(slot);
  while (lastUnknown_ >= 0 && slots_[static_cast<size_t>(lastUnknown_)]) {
    --lastUnknown_;
  }
}

int ArchiveAssembler::Unplaced() const {
  std::vector<bool> covered(static_cast<size_t>(count_), false);
  for (const Chain& chain : chains_) {
    if (chain.Broken) {
      continue;
    }
    for (const Run& run : chain.Runs) {
      if (run.Starts.size() == 1 || run.Starts.empty() || run.Records.empty()) {
        continue;
      }
      const int end = std::min(count_, run.Starts.back() + static_cast<int>(run.Records.size()));
      for (int t = run.Starts.front(); t < end; ++t) {
        covered[static_cast<size_t>(t)] = true;
      }
    }
  }
  int open = 0;
  for (int t = 0; t < count_; ++t) {
    if (covered[static_cast<size_t>(t)] && !slots_[static_cast<size_t>(t)]) {
      ++open;
    }
  }
  return open;
}

void ArchiveAssembler::BeginPass(bool anchored) {
  chains_.emplace_back();
  anchored_ = anchored;
  requests_ = 0;
  knownAtStart_ = known_;
  gapMax_ = 0;
  runOpen_ = false;
  ownAnswers_ = anchored;
  mayBeLate_ = !anchored;
  lossUnseen_ = false;
}

void ArchiveAssembler::PlaceWhatAgrees(const Run& run) {
  // A slot into which every start left would put the same bytes holds them,
  // whichever start is right. Past a handful of starts that is rare, and
  // not worth the looking.
  constexpr size_t FewStarts = 8;
  if (run.Starts.size() < 2 || run.Starts.size() > FewStarts || run.Starts.back() >= count_) {
    return;
  }
  const int first = run.Starts.back();
  const int last = std::min(count_, run.Starts.front() + static_cast<int>(run.Records.size()));
  for (int t = first; t < last; ++t) {
    if (slots_[static_cast<size_t>(t)]) {
      continue;
    }
    const std::optional<ArchiveRecord>& candidate =
        run.Records[static_cast<size_t>(t - run.Starts.front())];
    const bool agree = candidate && std::all_of(run.Starts.begin(), run.Starts.end(), [&](int s) {
                         const auto& r = run.Records[static_cast<size_t>(t - s)];
                         return r && SameRecord(*r, *candidate);
                       });
    if (agree) {
      Place(t, *candidate);
    }
  }
}

bool ArchiveAssembler::Refine(Chain& chain, size_t index) {
  Run& run = chain.Runs[index];
  if (run.Starts.empty()) {
    chain.Broken = true;
    return true;
  }
  const size_t before = run.Starts.size();
  const size_t placedBefore = placements_.size();
  const int length = static_cast<int>(run.Records.size());
  if (run.Starts.size() > 1) {
    if (index > 0) {
      // It starts where the previous run ends, or up to its gap beyond.
      const Run& previous = chain.Runs[index - 1];
      const int previousLength = static_cast<int>(previous.Records.size());
      SlotRanges from;
      for (const int s : previous.Starts) {
        from.Add(std::min(count_, s + previousLength),
                 std::min(count_, s + previousLength + run.GapMax));
      }
      from.Keep(run.Starts);
    }
    if (index + 1 < chain.Runs.size()) {
      // ... and ends where the next one may start.
      const Run& next = chain.Runs[index + 1];
      SlotRanges to;
      for (const int s : next.Starts) {
        to.Add(std::max(0, s - length - next.GapMax), s == count_ ? count_ : s - length);
      }
      to.Keep(run.Starts);
    }
    // Against what has been placed since it was last looked at, or all of
    // it when it grew.
    bool look = run.Grew || run.Starts.size() != before;
    for (size_t p = run.CheckedUpTo; !look && p < placements_.size(); ++p) {
      const int t = placements_[p];
      look = t >= run.Starts.front() && t < run.Starts.back() + length;
    }
    if (look) {
      run.Starts.erase(std::remove_if(run.Starts.begin(), run.Starts.end(),
                                      [&](int s) { return !Fits(run, s); }),
                       run.Starts.end());
    }
    run.CheckedUpTo = placements_.size();
    run.Grew = false;
    if (run.Starts.empty()) {
      // Where the run really started always fits, unless the archive changed
      // under the read: its chain cannot be trusted.
      chain.Broken = true;
      return true;
    }
    PlaceWhatAgrees(run);
  }
  if (run.Starts.size() == 1) {
    const int start = run.Starts.front();
    for (; run.Placed < run.Records.size(); ++run.Placed) {
      const int slot = start + static_cast<int>(run.Placed);
      if (slot < count_ && run.Records[run.Placed]) {
        Place(slot, *run.Records[run.Placed]);
      }
    }
    run.Grew = false;
  }
  return run.Starts.size() != before || placements_.size() != placedBefore;
}

void ArchiveAssembler::Settle(bool everything) {
  // Only what a change can reach is looked at again: a run whose starts
  // narrowed narrows its neighbours, and a slot placed narrows the runs that
  // may cover it.
  std::deque<std::pair<size_t, size_t>> due;
  std::vector<std::vector<bool>> queued(chains_.size());
  const auto enqueue = [&](size_t c, size_t r) {
    if (!chains_[c].Broken && !queued[c][r]) {
      queued[c][r] = true;
      due.emplace_back(c, r);
    }
  };
  for (size_t c = 0; c < chains_.size(); ++c) {
    queued[c].assign(chains_[c].Runs.size(), false);
  }
  if (everything) {
    for (size_t c = 0; c < chains_.size(); ++c) {
      for (size_t r = 0; r < chains_[c].Runs.size(); ++r) {
        enqueue(c, r);
      }
    }
  } else if (!chains_.empty() && !chains_.back().Runs.empty()) {
    enqueue(chains_.size() - 1, chains_.back().Runs.size() - 1);
  }
  size_t seen = placements_.size();
  while (!due.empty()) {
    const auto [c, r] = due.front();
    due.pop_front();
    queued[c][r] = false;
    Chain& chain = chains_[c];
    if (chain.Broken) {
      continue;
    }
    const size_t before = chain.Runs[r].Starts.size();
    Refine(chain, r);
    if (chain.Broken) {
      continue;
    }
    if (chain.Runs[r].Starts.size() != before) {
      if (r > 0) {
        enqueue(c, r - 1);
      }
      if (r + 1 < chain.Runs.size()) {
        enqueue(c, r + 1);
      }
    }
    for (; seen < placements_.size(); ++seen) {
      const int t = placements_[seen];
      for (size_t oc = 0; oc < chains_.size(); ++oc) {
        const Chain& other = chains_[oc];
        for (size_t orun = 0; !other.Broken && orun < other.Runs.size(); ++orun) {
          const Run& run = other.Runs[orun];
          if (run.Starts.size() > 1 && t >= run.Starts.front() &&
              t < run.Starts.back() + static_cast<int>(run.Records.size())) {
            enqueue(oc, orun);
          }
        }
      }
    }
  }
}

void ArchiveAssembler::Append(const std::optional<ArchiveRecord>& record) {
  Chain& chain = chains_.back();
  if (!runOpen_ || chain.Runs.empty()) {
    Run run;
    run.GapMax = gapMax_;
    // No record can come from further on than the reads made before it.
    const int latest = anchored_ ? std::min(count_, requests_ - 1) : count_;
    if (chain.Runs.empty()) {
      for (int s = 0; s <= (anchored_ ? std::min(gapMax_, latest) : count_); ++s) {
        run.Starts.push_back(s);
      }
    } else {
      const Run& previous = chain.Runs.back();
      const int length = static_cast<int>(previous.Records.size());
      const int low = std::min(count_, previous.Starts.front() + length);
      const int high =
          std::min(latest, std::min(count_, previous.Starts.back() + length + gapMax_));
      for (int s = low; s <= high; ++s) {
        run.Starts.push_back(s);
      }
    }
    chain.Runs.push_back(std::move(run));
    gapMax_ = 0;
    runOpen_ = true;
  }
  Run& run = chain.Runs.back();
  run.Records.push_back(record);
  run.Grew = true;
  Settle(false);
}

bool ArchiveAssembler::Adrift() const {
  if (!anchored_ || known_ != knownAtStart_ || chains_.empty() || chains_.back().Broken ||
      chains_.back().Runs.empty()) {
    return false;
  }
  const Run& run = chains_.back().Runs.back();
  if (run.Starts.size() < 2) {
    return false;
  }
  return std::none_of(slots_.begin() + std::min(count_, run.Starts.front()), slots_.end(),
                      [](const auto& slot) { return slot.has_value(); });
}

int ArchiveAssembler::NextLowest() const {
  const Chain& chain = chains_.back();
  if (chain.Runs.empty()) {
    return 0;
  }
  const Run& run = chain.Runs.back();
  return run.Starts.empty() ? count_ : run.Starts.front() + static_cast<int>(run.Records.size());
}

bool ArchiveAssembler::Take(RecordAttempt attempt, const ArchiveRecord* record, int strayReplies) {
  ++requests_;
  // After an answer that may have been a late one, the answer to its own
  // request may still be out: thrown away (the bytes tell), taken later, or
  // lost whole, which nothing tells. The next answer may then be one further
  // on.
  if (lossUnseen_ && strayReplies == 0) {
    runOpen_ = false;
    gapMax_ += 1;
  }
  lossUnseen_ = false;
  const bool answer = attempt == RecordAttempt::Record || attempt == RecordAttempt::Damaged;
  if (answer && mayBeLate_) {
    lossUnseen_ = true;
    mayBeLate_ = false;
  }
  // While every answer was its own request's, bytes thrown away were noise
  // or the rest of a spoilt answer; otherwise they may have held records.
  if (strayReplies > 0 && !ownAnswers_) {
    runOpen_ = false;
    gapMax_ += strayReplies;
  }
  switch (attempt) {
    case RecordAttempt::Record:
      if (record != nullptr) {
        Append(*record);
      }
      break;
    case RecordAttempt::Damaged:
      Append(std::nullopt);
      break;
    case RecordAttempt::NoRecord:
      // An answer all the same: unless an earlier one was still out, it was
      // this request's, and nothing of it is still to come.
      runOpen_ = false;
      gapMax_ += 1;
      break;
    case RecordAttempt::Nothing:
      ownAnswers_ = false;
      mayBeLate_ = true;
      runOpen_ = false;
      gapMax_ += 1;
      break;
  }
  return !chains_.back().Broken && NextLowest() <= lastUnknown_;
}

void ArchiveAssembler::EndPass() {
  runOpen_ = false;
  Settle(true);
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

  // How long a read waits for a late reply: the link's own bound at first,
  // longer once the line has shown replies later than that.
  std::chrono::milliseconds patience =
      std::chrono::duration_cast<std::chrono::milliseconds>(DeviceLink::LateReplyBound);
  int failedInRow = 0;
  constexpr int MaxIdlePasses = 3;
  int idlePasses = 0;
  // Passes that lost their place before they placed anything, one after
  // another: each is cut short and started again, not counted as a pass.
  int adriftInRow = 0;
  for (int pass = 0; pass<MaxArchivePasses; pass += adriftInRow> 0 ? 0 : 1) {
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
    const int knownBefore = assembler.Known();
    assembler.BeginPass(started);
    bool more = assembler.Count() > 0 && !assembler.Complete();
    // The last exchange left nothing of its own to throw away: it took a
    // whole reply, or heard nothing at all.
    bool nothingLeft = true;
    bool adrift = false;
    while (more) {
      link.Values().Archive = ArchiveRecordValue{};
      RecordAttempt attempt = RecordAttempt::Record;
      ArchiveRecord record;
      const bool read = link.ReadVariableAwaitingLate(IdArchive, patience) != 0;
      ++result.Requests;
      const size_t dropped = link.DroppedBeforeRequest();
      if (dropped > 0 && nothingLeft) {
        // Bytes no exchange was waiting for: replies come later than the
        // read waits.
        patience = std::min(MaxArchivePatience, patience * 2);
      }
      if (read) {
        record = ArchiveRecord::From(link.Values().Archive);
        failedInRow = 0;
        if (link.LastReplyLate()) {
          const auto delay =
              std::chrono::duration_cast<std::chrono::milliseconds>(link.LastReplyDelay());
          patience = std::clamp(delay * 3 / 2, patience, MaxArchivePatience);
        }
      } else {
        attempt = link.LastPayloadSpoilt()                             ? RecordAttempt::Damaged
                  : link.LastReply() == DeviceLink::ReplyKind::Nothing ? RecordAttempt::Nothing
                                                                       : RecordAttempt::NoRecord;
        ++failedInRow;
      }
      nothingLeft = read || link.LastReply() == DeviceLink::ReplyKind::Nothing;
      // Whole answers the thrown-away bytes could have held, a header's
      // worth each.
      const int strays = static_cast<int>((dropped + HeaderSize - 1) / HeaderSize);
      more = assembler.Take(attempt, &record, strays);
      if (more && started && assembler.Adrift()) {
        adrift = true;
        more = false;
      }
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
    // Where the line keeps a pass from its place every time, reading gives
    // up as it would on an instrument gone silent.
    adriftInRow = adrift ? adriftInRow + 1 : 0;
    if (adriftInRow >= DeviceLink::RetryAttempts) {
      result.Stalled = true;
      break;
    }
    if (adrift) {
      continue;
    }
    // Never endless: passes that place nothing new would be followed by
    // more just like them. One whose records could not be placed yet may
    // still help the next with them, so it takes a few in a row.
    idlePasses = assembler.Known() == knownBefore ? idlePasses + 1 : 0;
    if (idlePasses >= MaxIdlePasses && !assembler.Complete()) {
      result.Stalled = true;
      break;
    }
  }
  link.OnAttemptFailed = previousHook;
  result.Slots = assembler.Slots();
  result.Missing = assembler.Count() - assembler.Known();
  result.Unplaced = std::min(result.Missing, assembler.Unplaced());
  result.Retried = std::max(0, result.Requests - assembler.Known());
  return result;
}

ArchiveErase EraseArchive(DeviceLink& link) {
  ArchiveErase erase;
  erase.RecordCount = link.Values().Measurement.ArchiveRecordCount;
  erase.Erased = SendCommand(link, CommandEraseArchive);
  return erase;
}

}  // namespace vantor
