#include "HistoryService.h"

#include <QDateTime>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

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
  };
  // Writes deferred in a row: at most this many wait for one commit.
  static constexpr int DeferLimit = 256;
  int deferredInRow = 0;

  std::mutex Mutex;
  std::condition_variable Wake;     // to the store's thread: a task, or stop
  std::condition_variable Settled;  // to waiters: idle, an answer, the end
  std::deque<QueuedTask> Tasks;
  bool Busy = false;
  bool Stopping = false;
  bool Finished = false;
  bool LeftToEnd = false;
  int64_t HandedRows = 0;    // rows in Tasks
  int64_t StorePending = 0;  // the store's own, after its last task
  HistoryService* Mailbox = nullptr;
  std::vector<std::weak_ptr<HistoryJob>> Jobs;

  // Runs `fn` on the mailbox's thread, as a queued call; nothing once the
  // service is gone.
  void Deliver(std::function<void()> fn) {
    const std::lock_guard lock(Mutex);
    if (Mailbox != nullptr) {
      QMetaObject::invokeMethod(Mailbox, std::move(fn), Qt::QueuedConnection);
    }
  }

  void Tell(const HistoryOutcome& outcome) {
    if (!Worth(outcome)) {
      return;
    }
    const std::lock_guard lock(Mutex);
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

  // Runs one task with the lock released; `lock` is held again after. A
  // write with more writes already waiting behind it only joins the
  // store's queue: the last of them commits them together.
  void RunTask(const QueuedTask& task, Worker& worker, std::unique_lock<std::mutex>& lock) {
    const bool defer =
        task.Write && deferredInRow < DeferLimit &&
        std::any_of(Tasks.begin(), Tasks.end(), [](const QueuedTask& next) { return next.Write; });
    deferredInRow = defer ? deferredInRow + 1 : 0;
    lock.unlock();
    worker.Store.SetDeferred(defer);
    const HistoryOutcome outcome = task.Run(worker);
    worker.Store.SetDeferred(false);
    Tell(outcome);
    const int64_t pending = worker.Store.Pending();
    lock.lock();
    HandedRows -= task.Rows;
    StorePending = pending;
  }

  // Between the chunks of a job: what was handed over meanwhile goes in
  // (writes and questions, in order; other jobs wait their turn).
  void RunBetween(Worker& worker) {
    std::unique_lock lock(Mutex);
    for (;;) {
      const auto next = std::find_if(Tasks.begin(), Tasks.end(),
                                     [](const QueuedTask& task) { return !task.Job; });
      if (next == Tasks.end()) {
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
      const auto ready = [this] { return !Tasks.empty() || Stopping; };
      if (!retry) {
        Wake.wait(lock, ready);
        continue;
      }
      if (Wake.wait_for(lock, std::chrono::milliseconds(*retry + 1), ready)) {
        continue;
      }
      // Nothing new came while the store waited out a failure: it tries
      // again on its own, so what waits goes in once the store is back.
      Busy = true;
      lock.unlock();
      const HistoryOutcome outcome = worker.Store.Retry();
      Tell(outcome);
      const int64_t pending = worker.Store.Pending();
      lock.lock();
      Busy = false;
      StorePending = pending;
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
  if (threading_ == Threading::Inline) {
    inline_ = std::make_unique<Worker>(location_, options);
    return;
  }
  thread_ = std::thread(
      [shared = shared_, location = std::move(location), options = std::move(options)]() mutable {
        {
          Worker worker(location, options);
          worker.Store.SetPause([&shared, &worker] { shared->RunBetween(worker); });
          shared->Loop(worker);
          // Reads still open end as incomplete; what waits is tried once more
          // unless the store is waiting out a failure.
          worker.Reads.clear();
          if (worker.Store.Pending() > 0) {
            shared->Tell(worker.Store.Retry());
          }
          const std::lock_guard lock(shared->Mutex);
          shared->StorePending = worker.Store.Pending();
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

void HistoryService::AddReading(const InstrumentIdentity& instrument, const LiveReading& reading,
                                bool flaggedNew) {
  Post([instrument, reading, flaggedNew](
           Worker& worker) { return worker.Store.AddReading(instrument, reading, flaggedNew); },
       1, TaskKind::Write);
}

void HistoryService::AddEvent(const InstrumentIdentity& instrument, HistoryEvent event) {
  // Stamped when it happened, not when the store gets to it.
  if (event.AtMs == 0) {
    event.AtMs = NowMs();
  }
  Post([instrument, event = std::move(event)](
           Worker& worker) { return worker.Store.AddEvent(instrument, event); },
       1, TaskKind::Write);
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
  return shared_->HandedRows + shared_->StorePending;
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
  std::unique_lock lock(shared_->Mutex);
  shared_->Stopping = true;
  for (const auto& weak : shared_->Jobs) {
    if (const auto job = weak.lock()) {
      job->Cancel();
    }
  }
  shared_->Wake.notify_all();
  const bool ended = shared_->Settled.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                               [this] { return shared_->Finished; });
  if (!ended) {
    shared_->LeftToEnd = true;
    LeftBehind& left = Left();
    const std::lock_guard count(left.Mutex);
    ++left.Count;
  }
  shared_->Mailbox = nullptr;
  lock.unlock();
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
