#include "HistoryService.h"

#include <QDateTime>
#include <numeric>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>
#include "HistoryLog.h"
#include "HistorySpool.h"

namespace vantor {
namespace {

// Progress reaches the asking thread at most this often.
constexpr int64_t ProgressEveryMs = 100;

// Threads Close() left to end on their own.
struct LeftBehind {
  std::mutex Mutex;
  std::condition_variable Ended;
  int Count = 0;
};

LeftBehind& Left() {
  static LeftBehind left;
  return left;
}

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool Worth(const HistoryOutcome& outcome) {
  return outcome.Notify || outcome.Recovered;
}

}  // namespace

void HistoryJob::SetProgress(double share) {
  progress_.store(share);
  const int64_t now = SteadyMs();
  if (onProgress_ && (now - lastToldMs_ >= ProgressEveryMs || share >= 1.0)) {
    lastToldMs_ = now;
    onProgress_(share);
  }
}

// What the store's thread owns: the store, made and used there only, and
// the archive reads under way.
struct HistoryService::Worker {
  Worker(const HistoryLocation& location, const HistoryOptions& options)
      : Store(location, options) {}
  HistoryStore Store;
  std::map<int, ArchiveReadLog> Reads;  // destroyed before the store
};

struct HistoryService::Shared {
  struct QueuedTask {
    Task Run;
    int64_t Rows = 0;
    bool Job = false;
    bool Write = false;
    int64_t Seq = 0;  // the reading or event it writes, 0 for other tasks
  };
  // A reading or event handed over and not yet held by the store.
  struct Owed {
    int64_t Seq = 0;
    HistoryItem Item;
    int64_t Rows = 1;
    int64_t HandedMs = 0;  // watch clock
    int64_t SpoolId = 0;   // its row in the spool, once there
    bool Queued = false;   // handed to the store (a task, or the store's queue)
  };
  // Writes deferred in a row: at most this many wait for one commit.
  static constexpr int DeferLimit = 256;
  // The spool id of an entry on its way there.
  static constexpr int64_t SpoolingId = -1;
  // How often the watch looks at the store's thread.
  static constexpr int WatchEveryMs = 100;
  int deferredInRow = 0;

  std::mutex Mutex;
  std::condition_variable Wake;     // to the store's thread: a task, or stop
  std::condition_variable Settled;  // to waiters: idle, an answer, the end
  std::condition_variable WatchWake;
  std::deque<QueuedTask> Tasks;
  bool Busy = false;
  bool Stopping = false;
  bool Finished = false;
  bool LeftToEnd = false;
  bool WatchStop = false;
  int64_t HandedRows = 0;    // rows in Tasks
  int64_t StorePending = 0;  // the store's own, after its last task
  HistoryService* Mailbox = nullptr;
  std::vector<std::weak_ptr<HistoryJob>> Jobs;

  // The bound on one store operation, and what is owed meanwhile. The
  // ledger is ordered: the entries handed to the store come first, those
  // that wait for delivery after them.
  int AnswerBoundMs = 5000;
  std::function<int64_t()> WatchNow;
  std::unique_ptr<HistorySpool> Spool;
  std::deque<Owed> Ledger;
  int64_t NextSeq = 1;
  int64_t LastQueuedSeq = 0;
  int64_t UnqueuedRows = 0;
  int64_t BusySinceMs = 0;
  bool Hung = false;         // the store's thread is past the bound
  bool DeliveryDue = false;  // ledger entries wait to be handed to the store
  bool OutageTold = false;   // the owner heard of an outage, not yet of its end
  bool SpoolFailureLogged = false;

  // Runs `fn` on the mailbox's thread, as a queued call; nothing once the
  // service is gone.
  void Deliver(std::function<void()> fn) {
    const std::lock_guard lock(Mutex);
    if (Mailbox != nullptr) {
      QMetaObject::invokeMethod(Mailbox, std::move(fn), Qt::QueuedConnection);
    }
  }

  // One outage is told once, whether the store failed or stopped
  // answering, and its end once; `Mutex` is held.
  void TellLocked(const HistoryOutcome& outcome) {
    if (outcome.Notify) {
      if (OutageTold) {
        return;
      }
      OutageTold = true;
    } else if (outcome.Recovered) {
      if (!OutageTold) {
        return;
      }
      OutageTold = false;
    } else {
      return;
    }
    if (Mailbox != nullptr) {
      HistoryService* service = Mailbox;
      QMetaObject::invokeMethod(
          Mailbox,
          [service, outcome] {
            if (service->OnOutcome) {
              service->OnOutcome(outcome);
            }
          },
          Qt::QueuedConnection);
    }
  }

  int64_t TotalPending() const { return HandedRows + StorePending + UnqueuedRows; }

  void StartBusy() {
    Busy = true;
    BusySinceMs = WatchNow();
  }

  // After a step of the store's thread, with `lock` held: it answered, so
  // it is not hung; what the store now holds leaves the ledger and the
  // spool; an outage that has ended is told.
  void AfterStep(const HistoryOutcome& outcome, Worker& worker,
                 std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    const int64_t pending = worker.Store.Pending();
    const int64_t uncommitted = worker.Store.Uncommitted();
    const bool failing = worker.Store.Failing();
    lock.lock();
    StorePending = pending;
    if (Hung) {
      Hung = false;
      DeliveryDue = DeliveryDue || UnqueuedRows > 0;
    }
    // The end of an outage is told below, once what was owed is in and out
    // of the spool.
    if (!outcome.Recovered) {
      TellLocked(outcome);
    }
    // Readings and events once committed; an archive read that buffers its
    // next batch holds none of them back.
    std::vector<int64_t> held;
    if (uncommitted == 0) {
      while (!Ledger.empty() && Ledger.front().Queued && Ledger.front().Seq <= LastQueuedSeq) {
        if (Ledger.front().SpoolId > 0) {
          held.push_back(Ledger.front().SpoolId);
        }
        Ledger.pop_front();
      }
    }
    if (!held.empty() && Spool) {
      lock.unlock();
      QString error;
      Spool->Remove(held, &error);
      lock.lock();
    }
    // Told once the spool holds nothing of it any more.
    if (OutageTold && !failing && uncommitted == 0 && !DeliveryDue) {
      HistoryOutcome recovered;
      recovered.Recovered = true;
      recovered.Pending = TotalPending();
      TellLocked(recovered);
    }
  }

  // Runs one task with the lock released; `lock` is held again after. A
  // write with more writes already waiting behind it only joins the
  // store's queue: the last of them commits them together.
  void RunTask(const QueuedTask& task, Worker& worker, std::unique_lock<std::mutex>& lock) {
    const bool defer =
        task.Write && deferredInRow < DeferLimit &&
        std::any_of(Tasks.begin(), Tasks.end(), [](const QueuedTask& next) { return next.Write; });
    deferredInRow = defer ? deferredInRow + 1 : 0;
    LastQueuedSeq = std::max(LastQueuedSeq, task.Seq);
    BusySinceMs = WatchNow();
    lock.unlock();
    worker.Store.SetDeferred(defer);
    const HistoryOutcome outcome = task.Run(worker);
    worker.Store.SetDeferred(false);
    lock.lock();
    HandedRows -= task.Rows;
    AfterStep(outcome, worker, lock);
  }

  // Hands what waits in the ledger (the spool of an earlier run, what came
  // while the store did not answer) to the store, in order.
  void DeliverOwed(Worker& worker, std::unique_lock<std::mutex>& lock) {
    std::vector<HistoryItem> items;
    for (Owed& owed : Ledger) {
      if (!owed.Queued) {
        owed.Queued = true;
        items.push_back(owed.Item);
        UnqueuedRows -= owed.Rows;
        LastQueuedSeq = std::max(LastQueuedSeq, owed.Seq);
      }
    }
    DeliveryDue = false;
    if (items.empty()) {
      return;
    }
    StorePending += static_cast<int64_t>(
        std::accumulate(items.begin(), items.end(), int64_t{0},
                        [](int64_t sum, const HistoryItem& item) { return sum + ItemSize(item); }));
    StartBusy();
    lock.unlock();
    HistoryOutcome outcome;
    for (size_t i = 0; i < items.size(); ++i) {
      worker.Store.SetDeferred(i + 1 < items.size());
      if (const auto* readings = std::get_if<ReadingsItem>(&items[i]);
          readings != nullptr && readings->Repeat && readings->Readings.size() == 1) {
        outcome = worker.Store.AddReading(readings->Instrument, readings->Readings[0], false);
      } else if (readings != nullptr) {
        outcome = worker.Store.AddReadings(readings->Instrument, readings->Readings);
      } else if (const auto* event = std::get_if<EventItem>(&items[i])) {
        outcome = worker.Store.AddEvent(event->Instrument, event->Event);
      }
    }
    worker.Store.SetDeferred(false);
    lock.lock();
    Busy = false;
    AfterStep(outcome, worker, lock);
  }

  // Puts ledger entries into the spool, one transaction: all of them, or
  // (`all` false) those the store did not take within the bound, or every
  // one while it does not answer. `lock` is held, and released meanwhile.
  void SpoolOwed(std::unique_lock<std::mutex>& lock, bool all) {
    if (!Spool) {
      return;
    }
    const int64_t now = WatchNow();
    std::vector<HistoryItem> items;
    std::vector<int64_t> seqs;
    for (Owed& owed : Ledger) {
      if (owed.SpoolId == 0 && (all || Hung || now - owed.HandedMs >= AnswerBoundMs)) {
        owed.SpoolId = SpoolingId;  // the watch and Close spool apart, never twice
        items.push_back(owed.Item);
        seqs.push_back(owed.Seq);
      }
    }
    if (items.empty()) {
      return;
    }
    lock.unlock();
    std::vector<int64_t> ids;
    QString error;
    const bool ok = Spool->Append(items, ids, &error);
    lock.lock();
    if (!ok) {
      for (Owed& owed : Ledger) {
        if (owed.SpoolId == SpoolingId) {
          owed.SpoolId = 0;
        }
      }
      if (!SpoolFailureLogged) {
        SpoolFailureLogged = true;
        qCWarning(lcHistory).noquote()
            << "the spool" << Spool->Path() << "cannot be written:" << error;
      }
      return;
    }
    // Entries the store took meanwhile have left the ledger: their rows go
    // again.
    std::vector<int64_t> gone;
    auto owed = Ledger.begin();
    for (size_t i = 0; i < seqs.size(); ++i) {
      while (owed != Ledger.end() && owed->Seq < seqs[i]) {
        ++owed;
      }
      if (owed != Ledger.end() && owed->Seq == seqs[i]) {
        owed->SpoolId = ids[i];
      } else {
        gone.push_back(ids[i]);
      }
    }
    if (!gone.empty()) {
      lock.unlock();
      Spool->Remove(gone, &error);
      lock.lock();
    }
  }

  // The watch, with `lock` held: a store operation past its bound makes
  // the history one that does not answer; what is handed over from then
  // on waits in the ledger and the spool, not behind the stuck one.
  void Watch(std::unique_lock<std::mutex>& lock) {
    if (Busy && !Hung && WatchNow() - BusySinceMs >= AnswerBoundMs) {
      Hung = true;
      for (auto task = Tasks.begin(); task != Tasks.end();) {
        if (task->Seq != 0) {
          HandedRows -= task->Rows;
          task = Tasks.erase(task);
        } else {
          ++task;
        }
      }
      for (Owed& owed : Ledger) {
        if (owed.Queued && owed.Seq > LastQueuedSeq) {
          owed.Queued = false;
          UnqueuedRows += owed.Rows;
        }
      }
      HistoryOutcome outcome;
      outcome.Ok = false;
      outcome.Notify = true;
      outcome.Error = QStringLiteral("it has not answered for %1 s")
                          .arg(static_cast<double>(AnswerBoundMs) / 1000.0);
      if (Spool) {
        outcome.Error += QStringLiteral("; what it owes waits in %1").arg(Spool->Path());
      }
      outcome.Pending = TotalPending();
      TellLocked(outcome);
      Settled.notify_all();
    }
    SpoolOwed(lock, false);
  }

  void WatchLoop() {
    std::unique_lock lock(Mutex);
    while (!WatchStop) {
      WatchWake.wait_for(lock, std::chrono::milliseconds(WatchEveryMs),
                         [this] { return WatchStop; });
      if (!WatchStop) {
        Watch(lock);
      }
    }
  }

  // Between the chunks of a job: what was handed over meanwhile goes in
  // (writes and questions, in order; other jobs wait their turn).
  void RunBetween(Worker& worker) {
    std::unique_lock lock(Mutex);
    BusySinceMs = WatchNow();  // a chunk is one operation, the job many
    for (;;) {
      const auto next = std::find_if(Tasks.begin(), Tasks.end(),
                                     [](const QueuedTask& task) { return !task.Job; });
      if (next == Tasks.end()) {
        BusySinceMs = WatchNow();
        return;
      }
      QueuedTask task = std::move(*next);
      Tasks.erase(next);
      RunTask(task, worker, lock);
    }
  }

  void Loop(Worker& worker) {
    std::unique_lock lock(Mutex);
    for (;;) {
      // Delivered even when closing: a store that answers takes it within
      // the bound, and one that does not is left to the spool.
      if (DeliveryDue && !Hung) {
        DeliverOwed(worker, lock);
        continue;
      }
      if (!Tasks.empty()) {
        QueuedTask task = std::move(Tasks.front());
        Tasks.pop_front();
        Busy = true;
        RunTask(task, worker, lock);
        Busy = false;
        if (Tasks.empty()) {
          Settled.notify_all();
        }
        continue;
      }
      if (Stopping) {
        return;
      }
      Settled.notify_all();
      const std::optional<int64_t> retry = worker.Store.RetryInMs();
      const auto ready = [this] { return !Tasks.empty() || Stopping || (DeliveryDue && !Hung); };
      if (!retry) {
        Wake.wait(lock, ready);
        continue;
      }
      if (Wake.wait_for(lock, std::chrono::milliseconds(*retry + 1), ready)) {
        continue;
      }
      // Nothing new came while the store waited out a failure: it tries
      // again on its own, so what waits goes in once the store is back.
      StartBusy();
      lock.unlock();
      const HistoryOutcome outcome = worker.Store.Retry();
      lock.lock();
      Busy = false;
      AfterStep(outcome, worker, lock);
    }
  }
};

HistoryService::HistoryService(HistoryLocation location, HistoryOptions options,
                               Threading threading, QObject* parent)
    : QObject(parent),
      location_(location),
      nowMs_(options.NowMs),
      threading_(threading),
      shared_(std::make_shared<Shared>()) {
  shared_->Mailbox = this;
  shared_->AnswerBoundMs = options.AnswerBoundMs;
  shared_->WatchNow = options.WatchMs ? options.WatchMs : std::function<int64_t()>(SteadyMs);
  if (threading_ == Threading::Inline) {
    inline_ = std::make_unique<Worker>(location_, options);
    return;
  }
  // A location that can never be opened (a URL that does not parse) has
  // nothing a spool could ever deliver to.
  if (!options.ReadOnly && location_.Valid()) {
    shared_->Spool = std::make_unique<HistorySpool>(
        options.SpoolPath.isEmpty() ? DefaultSpoolPath() : options.SpoolPath, location_);
    // What an earlier run left in the spool goes in first.
    std::vector<HistorySpool::Row> rows;
    QString error;
    if (!shared_->Spool->Load(rows, &error)) {
      qCWarning(lcHistory).noquote()
          << "the spool" << shared_->Spool->Path() << "cannot be read:" << error;
    }
    for (HistorySpool::Row& row : rows) {
      Shared::Owed owed;
      owed.Seq = shared_->NextSeq++;
      owed.Rows = ItemSize(row.Item);
      owed.Item = std::move(row.Item);
      owed.HandedMs = shared_->WatchNow();
      owed.SpoolId = row.Id;
      shared_->UnqueuedRows += owed.Rows;
      shared_->Ledger.push_back(std::move(owed));
    }
    shared_->DeliveryDue = !rows.empty();
  }
  if (options.Actor.isEmpty()) {
    options.Actor = DefaultHistoryActor();
  }
  actor_ = options.Actor;
  std::shared_ptr<Shared> watched = shared_;
  options.Heartbeat = [watched] {
    const std::lock_guard lock(watched->Mutex);
    watched->BusySinceMs = watched->WatchNow();
  };
  thread_ = std::thread(
      [shared = shared_, location = std::move(location), options = std::move(options)]() mutable {
        {
          Worker worker(location, options);
          worker.Store.SetPause([&shared, &worker] { shared->RunBetween(worker); });
          shared->Loop(worker);
          // Reads still open end as incomplete; what waits is tried once more
          // unless the store is waiting out a failure.
          worker.Reads.clear();
          std::unique_lock lock(shared->Mutex);
          shared->StartBusy();
          lock.unlock();
          HistoryOutcome outcome;
          if (worker.Store.Pending() > 0) {
            outcome = worker.Store.Retry();
          }
          lock.lock();
          shared->Busy = false;
          shared->AfterStep(outcome, worker, lock);
        }
        std::unique_lock lock(shared->Mutex);
        shared->Finished = true;
        if (shared->LeftToEnd) {
          LeftBehind& left = Left();
          const std::lock_guard count(left.Mutex);
          --left.Count;
          left.Ended.notify_all();
        }
        lock.unlock();
        shared->Settled.notify_all();
      });
  watcher_ = std::thread([shared = shared_] { shared->WatchLoop(); });
}

HistoryService::~HistoryService() {
  Close();
}

HistoryStore& HistoryService::StoreOf(Worker& worker) {
  return worker.Store;
}

void HistoryService::SetAnswer(Shared& shared, AnswerBase& box, const std::function<void()>& set) {
  {
    const std::lock_guard lock(shared.Mutex);
    set();
    box.Answered = true;
  }
  shared.Settled.notify_all();
}

bool HistoryService::WaitAnswer(AnswerBase& box, int timeoutMs) {
  std::unique_lock lock(shared_->Mutex);
  return shared_->Settled.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&box] { return box.Answered; });
}

int64_t HistoryService::NowMs() const {
  return nowMs_ ? nowMs_() : QDateTime::currentMSecsSinceEpoch();
}

void HistoryService::Post(Task task, int64_t rows, TaskKind kind) {
  if (inline_) {
    Tell(task(*inline_));
    return;
  }
  {
    const std::lock_guard lock(shared_->Mutex);
    if (shared_->Finished || closed_) {
      return;
    }
    shared_->Tasks.push_back(
        {std::move(task), rows, kind == TaskKind::Job, kind == TaskKind::Write});
    shared_->HandedRows += rows;
  }
  shared_->Wake.notify_one();
}

void HistoryService::Tell(const HistoryOutcome& outcome) {
  if (Worth(outcome) && OnOutcome) {
    OnOutcome(outcome);
  }
}

void HistoryService::PostOwed(HistoryItem item, int64_t rows, Task task) {
  if (inline_) {
    Tell(task(*inline_));
    return;
  }
  {
    const std::lock_guard lock(shared_->Mutex);
    if (shared_->Finished || closed_) {
      return;
    }
    Shared::Owed owed;
    owed.Seq = shared_->NextSeq++;
    owed.Item = std::move(item);
    owed.Rows = rows;
    owed.HandedMs = shared_->WatchNow();
    // While the store does not answer, or older items wait for delivery,
    // it waits in the ledger: behind them, never behind the stuck task.
    owed.Queued = !shared_->Hung && !shared_->DeliveryDue;
    if (owed.Queued) {
      shared_->Tasks.push_back({std::move(task), rows, false, true, owed.Seq});
      shared_->HandedRows += rows;
    } else {
      shared_->UnqueuedRows += rows;
    }
    shared_->Ledger.push_back(std::move(owed));
  }
  shared_->Wake.notify_one();
}

void HistoryService::AddReading(const InstrumentIdentity& instrument, const LiveReading& reading,
                                bool flaggedNew) {
  ReadingsItem item{instrument, {reading}};
  item.Repeat = !flaggedNew;
  PostOwed(std::move(item), 1, [instrument, reading, flaggedNew](Worker& worker) {
    return worker.Store.AddReading(instrument, reading, flaggedNew);
  });
}

void HistoryService::AddEvent(const InstrumentIdentity& instrument, HistoryEvent event) {
  // Stamped when and by whom it happened, not when the store gets to it
  // (maybe in a later run, from the spool).
  if (event.AtMs == 0) {
    event.AtMs = NowMs();
  }
  if (event.Actor.isEmpty()) {
    event.Actor = actor_;
  }
  EventItem owed{instrument, event};
  PostOwed(std::move(owed), 1, [instrument, event = std::move(event)](Worker& worker) {
    return worker.Store.AddEvent(instrument, event);
  });
}

void HistoryService::Flush() {
  Post([](Worker& worker) { return worker.Store.Flush(); }, 0);
}

HistoryService::ArchiveRead HistoryService::BeginArchiveRead(const InstrumentIdentity& instrument,
                                                             int64_t deviceCount) {
  const int key = nextRead_++;
  Post(
      [key, instrument, deviceCount, startedMs = NowMs()](Worker& worker) {
        worker.Reads.emplace(key,
                             worker.Store.BeginArchiveRead(instrument, deviceCount, startedMs));
        return HistoryOutcome{};
      },
      0, TaskKind::Write);
  return {this, key};
}

HistoryService::ArchiveRead::ArchiveRead(ArchiveRead&& other) noexcept
    : service_(other.service_), key_(other.key_) {
  other.service_ = nullptr;
}

HistoryService::ArchiveRead& HistoryService::ArchiveRead::operator=(ArchiveRead&& other) noexcept {
  if (this != &other) {
    if (service_ != nullptr) {
      Finish(false);
    }
    service_ = other.service_;
    key_ = other.key_;
    other.service_ = nullptr;
  }
  return *this;
}

HistoryService::ArchiveRead::~ArchiveRead() {
  if (service_ != nullptr) {
    Finish(false);
  }
}

void HistoryService::ArchiveRead::Add(const ArchiveBytes& record) {
  if (service_ == nullptr) {
    return;
  }
  service_->Post(
      [key = key_, record, readMs = service_->NowMs()](Worker& worker) {
        const auto read = worker.Reads.find(key);
        return read == worker.Reads.end() ? HistoryOutcome{} : read->second.Add(record, readMs);
      },
      IsSeparator(record) ? 0 : 1, TaskKind::Write);
}

void HistoryService::ArchiveRead::Skip() {
  if (service_ == nullptr) {
    return;
  }
  service_->Post(
      [key = key_](Worker& worker) {
        const auto read = worker.Reads.find(key);
        if (read != worker.Reads.end()) {
          read->second.Skip();
        }
        return HistoryOutcome{};
      },
      0, TaskKind::Write);
}

void HistoryService::ArchiveRead::Finish(bool complete) {
  if (service_ == nullptr) {
    return;
  }
  service_->Post(
      [key = key_, complete, finishedMs = service_->NowMs()](Worker& worker) {
        auto read = worker.Reads.extract(key);
        return read.empty() ? HistoryOutcome{} : read.mapped().Finish(complete, finishedMs);
      },
      0, TaskKind::Write);
  service_ = nullptr;
}

HistoryAnswer<ArchiveCoverage> HistoryService::Coverage(const InstrumentIdentity& instrument,
                                                        int timeoutMs) {
  std::optional<HistoryAnswer<ArchiveCoverage>> answer = Ask<HistoryAnswer<ArchiveCoverage>>(
      [instrument](HistoryStore& store) { return store.Coverage(instrument); }, timeoutMs);
  if (answer) {
    return *answer;
  }
  HistoryAnswer<ArchiveCoverage> late;
  late.Outcome.Ok = false;
  late.Outcome.Unanswered = true;
  late.Outcome.Error = QStringLiteral("the history did not answer within %1 s")
                           .arg(static_cast<double>(timeoutMs) / 1000.0);
  return late;
}

HistoryAnswer<std::vector<StoredInstrument>> HistoryService::Instruments(int timeoutMs) {
  auto answer = Ask<HistoryAnswer<std::vector<StoredInstrument>>>(
      [](HistoryStore& store) { return store.Instruments(); }, timeoutMs);
  if (answer) {
    return *answer;
  }
  HistoryAnswer<std::vector<StoredInstrument>> late;
  late.Outcome.Ok = false;
  late.Outcome.Unanswered = true;
  late.Outcome.Error = QStringLiteral("the history did not answer within %1 s")
                           .arg(static_cast<double>(timeoutMs) / 1000.0);
  return late;
}

std::shared_ptr<HistoryJob> HistoryService::StartJob(
    std::function<HistoryOutcome(HistoryStore&, HistoryJob&)> work,
    const std::function<void(double)>& onProgress, std::function<void()> onDone) {
  auto job = std::make_shared<HistoryJob>();
  const std::weak_ptr<HistoryJob> weak = job;
  // The store's thread reaches the asking thread through what they share,
  // never through this object, which may be gone when a job ends. Inline
  // too, progress and the end come as queued calls, after Start returned.
  const std::shared_ptr<Shared> shared = shared_;
  const auto deliver = [shared](std::function<void()> fn) { shared->Deliver(std::move(fn)); };
  if (onProgress) {
    job->onProgress_ = [deliver, weak, onProgress](double share) {
      deliver([weak, onProgress, share] {
        if (const auto alive = weak.lock(); alive && !alive->Cancelled()) {
          onProgress(share);
        }
      });
    };
  }
  {
    const std::lock_guard lock(shared_->Mutex);
    std::erase_if(shared_->Jobs,
                  [](const std::weak_ptr<HistoryJob>& done) { return done.expired(); });
    shared_->Jobs.push_back(weak);
  }
  Post(
      [deliver, job, work = std::move(work), onDone = std::move(onDone)](Worker& worker) {
        HistoryOutcome outcome = work(worker.Store, *job);
        job->done_.store(true);
        job->onProgress_ = nullptr;
        deliver(onDone);
        return outcome;
      },
      0, TaskKind::Job);
  return job;
}

int64_t HistoryService::Pending() const {
  if (inline_) {
    return inline_->Store.Pending();
  }
  const std::lock_guard lock(shared_->Mutex);
  return shared_->TotalPending();
}

int64_t HistoryService::Spooled() const {
  const std::lock_guard lock(shared_->Mutex);
  int64_t rows = 0;
  for (const Shared::Owed& owed : shared_->Ledger) {
    rows += owed.SpoolId > 0 ? owed.Rows : 0;
  }
  return rows;
}

QString HistoryService::SpoolPath() const {
  return shared_->Spool ? shared_->Spool->Path() : QString();
}

bool HistoryService::WaitIdle(int timeoutMs) {
  if (inline_) {
    return true;
  }
  std::unique_lock lock(shared_->Mutex);
  return shared_->Settled.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return (shared_->Tasks.empty() && !shared_->Busy) || shared_->Finished;
  });
}

bool HistoryService::Close(int timeoutMs) {
  if (closed_) {
    const std::lock_guard lock(shared_->Mutex);
    return inline_ != nullptr || shared_->Finished;
  }
  closed_ = true;
  if (inline_) {
    inline_.reset();
    const std::lock_guard lock(shared_->Mutex);
    shared_->Mailbox = nullptr;
    return true;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // The end of the bound is kept for the spool: what the store has not
  // taken by then is written there.
  const auto spoolBy = deadline - std::chrono::milliseconds(shared_->Spool ? timeoutMs / 3 : 0);
  std::unique_lock lock(shared_->Mutex);
  shared_->Stopping = true;
  for (const auto& weak : shared_->Jobs) {
    if (const auto job = weak.lock()) {
      job->Cancel();
    }
  }
  shared_->Wake.notify_all();
  // A store that does not answer is not waited for.
  shared_->Settled.wait_until(lock, spoolBy, [this] { return shared_->Finished || shared_->Hung; });
  shared_->SpoolOwed(lock, true);
  const bool ended = shared_->Finished ||
                     (!shared_->Hung && shared_->Settled.wait_until(
                                            lock, deadline, [this] { return shared_->Finished; }));
  if (!ended) {
    shared_->LeftToEnd = true;
    LeftBehind& left = Left();
    const std::lock_guard count(left.Mutex);
    ++left.Count;
  }
  shared_->Mailbox = nullptr;
  shared_->WatchStop = true;
  lock.unlock();
  shared_->WatchWake.notify_all();
  watcher_.join();
  if (ended) {
    thread_.join();
  } else {
    thread_.detach();
  }
  return ended;
}

int HistoryService::LeftRunning() {
  LeftBehind& left = Left();
  const std::lock_guard lock(left.Mutex);
  return left.Count;
}

bool HistoryService::WaitLeftRunning(int timeoutMs) {
  LeftBehind& left = Left();
  std::unique_lock lock(left.Mutex);
  return left.Ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&left] { return left.Count == 0; });
}

}  // namespace vantor
