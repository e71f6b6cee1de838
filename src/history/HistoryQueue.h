#pragma once
#include <QString>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <variant>
#include <vector>

#include "ArchiveIdentity.h"
#include "HistoryTypes.h"

namespace vantor {

// What waits to be written, in the order it came.
struct ReadingsItem {
  InstrumentIdentity Instrument;
  std::vector<LiveReading> Readings;
  // One reading the instrument did not flag as new (a poll that repeats
  // its last measurement): kept only when the history lacks that one.
  bool Repeat = false;
};
struct EventItem {
  InstrumentIdentity Instrument;
  HistoryEvent Event;
};
using HistoryItem = std::variant<ReadingsItem, EventItem, ArchiveItem>;

// Rows an item adds: its readings or records; at least 1.
int64_t ItemSize(const HistoryItem& item);

// The items not yet in the store, oldest first. They leave only once their
// transaction has committed, so a failure loses nothing and a retry writes
// them in the same order.
class HistoryQueue {
 public:
  // Rows per transaction when catching up after an outage, so one commit
  // stays short.
  static constexpr int64_t ChunkRows = 20000;

  void Push(HistoryItem item);
  // Readings of one instrument waiting in a row share one item.
  void PushReadings(const InstrumentIdentity& instrument, const LiveReading* first, size_t n);

  bool Empty() const { return items_.empty(); }
  size_t Size() const { return items_.size(); }
  int64_t Rows() const { return rows_; }
  const HistoryItem& operator[](size_t i) const { return items_[i]; }
  const HistoryItem& Front() const { return items_.front(); }
  std::deque<HistoryItem>::const_iterator begin() const { return items_.begin(); }
  std::deque<HistoryItem>::const_iterator end() const { return items_.end(); }

  // How many items from the front make the next transaction: one at least,
  // more while they stay within ChunkRows.
  size_t NextChunk() const;
  void PopFront();

 private:
  std::deque<HistoryItem> items_;
  int64_t rows_ = 0;
};

// When the store is tried again after a failure, and what the user hears:
// the first failure of an outage is told (Notify), the rest stay quiet until
// it works again (Recovered). After a failure the store waits before it
// tries on its own, longer each time up to a limit; a try the user asks for
// goes ahead at once.
class OutagePolicy {
 public:
  OutagePolicy(int retryMs, int maxRetryMs);

  bool Failing() const { return failing_; }
  // Whether a try that nobody asked for may go ahead now.
  bool MayTry() const;
  // How long until that; none while the store works.
  std::optional<int64_t> RetryInMs() const;

  // `lasting`: trying again cannot help (the location itself is wrong), so
  // the store is never tried on its own again.
  HistoryOutcome Fail(const QString& error, int64_t pending, bool lasting = false);
  HistoryOutcome Succeed(int64_t pending);
  // The state as it stands, without trying the store.
  HistoryOutcome Current(int64_t pending) const;

 private:
  using SteadyClock = std::chrono::steady_clock;

  int retryMs_;
  int maxRetryMs_;
  int retryDelay_;
  bool failing_ = false;
  bool notified_ = false;
  bool lasting_ = false;
  QString lastError_;
  SteadyClock::time_point retryAt_;
};

}  // namespace vantor
