#include "HistoryQueue.h"

#include <algorithm>

namespace vantor {

int64_t ItemSize(const HistoryItem& item) {
  if (const auto* readings = std::get_if<ReadingsItem>(&item)) {
    return static_cast<int64_t>(readings->Readings.size());
  }
  if (const auto* batch = std::get_if<ArchiveItem>(&item)) {
    return std::max<int64_t>(1, static_cast<int64_t>(batch->Rows.size()));
  }
  return 1;
}

void HistoryQueue::Push(HistoryItem item) {
  rows_ += ItemSize(item);
  items_.push_back(std::move(item));
}

void HistoryQueue::PushReadings(const InstrumentIdentity& instrument, const LiveReading* first,
                                size_t n) {
  if (n == 0) {
    return;
  }
  if (!items_.empty()) {
    if (auto* last = std::get_if<ReadingsItem>(&items_.back());
        last != nullptr && last->Instrument == instrument) {
      last->Readings.insert(last->Readings.end(), first, first + n);
      rows_ += static_cast<int64_t>(n);
      return;
    }
  }
  Push(ReadingsItem{instrument, std::vector<LiveReading>(first, first + n)});
}

size_t HistoryQueue::NextChunk() const {
  size_t count = 0;
  int64_t rows = 0;
  while (count < items_.size() && (count == 0 || rows + ItemSize(items_[count]) <= ChunkRows)) {
    rows += ItemSize(items_[count]);
    ++count;
  }
  return count;
}

void HistoryQueue::PopFront() {
  rows_ -= ItemSize(items_.front());
  items_.pop_front();
}

OutagePolicy::OutagePolicy(int retryMs, int maxRetryMs)
    : retryMs_(retryMs), maxRetryMs_(maxRetryMs), retryDelay_(retryMs) {}

bool OutagePolicy::MayTry() const {
  return !failing_ || (!lasting_ && SteadyClock::now() >= retryAt_);
}

std::optional<int64_t> OutagePolicy::RetryInMs() const {
  if (!failing_ || lasting_) {
    return std::nullopt;
  }
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(retryAt_ - SteadyClock::now()).count();
  return std::max<int64_t>(0, left);
}

HistoryOutcome OutagePolicy::Fail(const QString& error, int64_t pending, bool lasting) {
  HistoryOutcome outcome;
  outcome.Ok = false;
  outcome.Error = error;
  outcome.Notify = !notified_;
  notified_ = true;
  failing_ = true;
  lastError_ = error;
  lasting_ = lasting;
  outcome.Lasting = lasting;
  retryAt_ = SteadyClock::now() + std::chrono::milliseconds(retryDelay_);
  retryDelay_ = std::min(retryDelay_ * 2, maxRetryMs_);
  outcome.Pending = pending;
  return outcome;
}

HistoryOutcome OutagePolicy::Succeed(int64_t pending) {
  HistoryOutcome outcome;
  outcome.Recovered = failing_;
  failing_ = false;
  notified_ = false;
  lasting_ = false;
  lastError_.clear();
  retryDelay_ = retryMs_;
  outcome.Pending = pending;
  return outcome;
}

HistoryOutcome OutagePolicy::Current(int64_t pending) const {
  HistoryOutcome outcome;
  outcome.Ok = !failing_;
  outcome.Error = lastError_;
  outcome.Lasting = lasting_;
  outcome.Pending = pending;
  return outcome;
}

}  // namespace vantor
