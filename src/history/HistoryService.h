#pragma once
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>

#include "HistoryQueue.h"
#include "HistoryStore.h"

namespace vantor {

// How long the work with the instrument waits for the history's answer to a
// question it cannot go on without (may the archive be erased?).
inline constexpr int HistoryAnswerWaitMs = 5000;
// How long closing the program waits for the history to write what waits.
inline constexpr int HistoryCloseWaitMs = 3000;

// Long work on the history (an export, the live chart's look back): its
// progress, and a way to stop it. Shared between the thread that asked for
// it and the store's thread.
class HistoryJob {
 public:
  void Cancel() { cancelled_.store(true); }
  bool Cancelled() const { return cancelled_.load(); }
  bool Done() const { return done_.load(); }
  // 0..1; set by the work as it goes.
  double Progress() const { return progress_.load(); }
  void SetProgress(double share);

 private:
  friend class HistoryService;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> done_{false};
  std::atomic<double> progress_{0};
  std::function<void(double)> onProgress_;  // set by the service
  int64_t lastToldMs_ = -1000000;
};

// The history store on a thread of its own, so that nothing the store does
// (connect, retry, commit, query) runs on the thread that works with the
// instrument, nor delays an exchange on the line:
//
//  - writes are handed over and the caller goes on at once; the store
//    writes them in the order they came and keeps what it cannot write in
//    memory, trying again on its own;
//  - outcomes worth telling (the first failure of an outage, its end) come
//    back to the thread that made the service, as queued calls, when that
//    thread gets to its events;
//  - questions wait for their answer with a bound, and say so when the
//    store did not answer in time;
//  - long work runs as a job with progress and cancel; writes handed over
//    meanwhile go in between its chunks;
//  - every operation of the store has a bound, watched from a thread of
//    its own: past it the history counts as not answering (told at once),
//    and the readings and events it owes go to a spool file that outlives
//    the program, delivered once it answers again, in this run or the next.
//
// The window and vantorctl each own one; the features' operations reach it
// through a HistorySink.
class HistoryService : public QObject {
  Q_OBJECT

 public:
  enum class Threading : uint8_t {
    OwnThread,
    // Every task runs at once on the calling thread, as the program did
    // before the store had a thread: the baseline of the stall benchmark.
    Inline,
  };

  explicit HistoryService(HistoryLocation location, HistoryOptions options = {},
                          Threading threading = Threading::OwnThread, QObject* parent = nullptr);
  // Closes with HistoryCloseWaitMs unless closed before.
  ~HistoryService() override;
  HistoryService(const HistoryService&) = delete;
  HistoryService& operator=(const HistoryService&) = delete;

  const HistoryLocation& Location() const { return location_; }

  // Hears the outcomes worth telling: the first failure of an outage
  // (Notify) and its end (Recovered), on the thread that made the service.
  std::function<void(const HistoryOutcome& outcome)> OnOutcome;

  // Writing, handed over.
  void AddReading(const InstrumentIdentity& instrument, const LiveReading& reading,
                  bool flaggedNew = true);
  void AddEvent(const InstrumentIdentity& instrument, HistoryEvent event);
  // A try now, even while the store waits out a failure (the user asked).
  void Flush();

  // One archive read on its way into the history: records in the order the
  // instrument sends them, separators included. Destroyed unfinished, it
  // ends as an incomplete read. It must not outlive its service.
  class ArchiveRead {
   public:
    ArchiveRead() = default;
    ArchiveRead(ArchiveRead&& other) noexcept;
    ArchiveRead& operator=(ArchiveRead&& other) noexcept;
    ArchiveRead(const ArchiveRead&) = delete;
    ArchiveRead& operator=(const ArchiveRead&) = delete;
    ~ArchiveRead();

    void Add(const ArchiveBytes& record);
    // A position whose record never arrived (see ArchiveReadLog::Skip).
    void Skip();
    void Finish(bool complete);

   private:
    friend class HistoryService;
    ArchiveRead(HistoryService* service, int key) : service_(service), key_(key) {}
    HistoryService* service_ = nullptr;
    int key_ = 0;
  };
  ArchiveRead BeginArchiveRead(const InstrumentIdentity& instrument, int64_t deviceCount);

  // A question, answered on the store's thread after everything handed over
  // before it; none when no answer came within `timeoutMs`. The question
  // must not touch anything of the asking thread: it may run after the
  // asker gave up.
  template <class T>
  std::optional<T> Ask(std::function<T(HistoryStore& store)> question, int timeoutMs);
  // The questions the work with the instrument asks. Without an answer in
  // time, Outcome.Ok is false and Outcome.Error says so.
  HistoryAnswer<ArchiveCoverage> Coverage(const InstrumentIdentity& instrument, int timeoutMs);
  HistoryAnswer<std::vector<StoredInstrument>> Instruments(int timeoutMs);

  // Long work: `work` runs on the store's thread with the job, reports its
  // progress there and looks at Cancelled() as it goes; `onProgress` and
  // `onDone` are called on the thread that started it (onDone also after a
  // cancel, with what the work returned).
  template <class R>
  std::shared_ptr<HistoryJob> Start(std::function<R(HistoryStore& store, HistoryJob& job)> work,
                                    const std::function<void(double share)>& onProgress,
                                    std::function<void(R result)> onDone);

  // Items handed over or held in memory that are not in the store yet.
  int64_t Pending() const;
  // Of those, the readings and events kept in the spool file (this run's
  // and those an earlier run left); after Close what waits there for the
  // history to answer again.
  int64_t Spooled() const;
  // The spool file; empty when this service keeps none (read only, inline).
  QString SpoolPath() const;
  // Waits until everything handed over so far has been tried; false when
  // that took longer than `timeoutMs`.
  bool WaitIdle(int timeoutMs);
  // Ends the store's thread: what was handed over is tried, and once more
  // what waits unless the store is waiting out a failure; jobs are
  // cancelled. Waits at most `timeoutMs`; false when the thread was still
  // busy then (a server that takes a connection and never answers), and it
  // is left to end on its own, touching nothing of this object.
  bool Close(int timeoutMs = HistoryCloseWaitMs);
  // Threads left to end on their own that have not ended yet; the program
  // ends without waiting for them.
  static int LeftRunning();
  static bool WaitLeftRunning(int timeoutMs);

 private:
  struct Shared;
  struct Worker;
  struct AnswerBase;
  template <class T>
  struct AnswerBox;
  using Task = std::function<HistoryOutcome(Worker& worker)>;

  static HistoryStore& StoreOf(Worker& worker);
  static void SetAnswer(Shared& shared, AnswerBase& box, const std::function<void()>& set);
  int64_t NowMs() const;
  enum class TaskKind : uint8_t { Write, Question, Job };
  void Post(Task task, int64_t rows, TaskKind kind = TaskKind::Question);
  // A reading or event: kept by the service until the store holds it, so it
  // can go to the spool when the store does not answer.
  void PostOwed(HistoryItem item, int64_t rows, Task task);
  void Tell(const HistoryOutcome& outcome);
  std::shared_ptr<HistoryJob> StartJob(
      std::function<HistoryOutcome(HistoryStore&, HistoryJob&)> work,
      const std::function<void(double)>& onProgress, std::function<void()> onDone);

  template <class T>
  static HistoryOutcome OutcomeOf(const T& answer) {
    if constexpr (std::is_same_v<T, HistoryOutcome>) {
      return answer;
    } else if constexpr (requires { answer.Outcome; }) {
      return answer.Outcome;
    } else {
      return {};
    }
  }

  bool WaitAnswer(AnswerBase& box, int timeoutMs);

  HistoryLocation location_;
  std::function<int64_t()> nowMs_;
  QString actor_;  // who is at the computer, for events
  Threading threading_;
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<Worker> inline_;  // Threading::Inline
  std::thread thread_;
  std::thread watcher_;
  std::atomic<int> nextRead_{1};
  bool closed_ = false;
};

// -- templates -------------------------------------------------------------

struct HistoryService::AnswerBase {
  virtual ~AnswerBase() = default;
  bool Answered = false;  // under Shared::mutex
};

template <class T>
struct HistoryService::AnswerBox : AnswerBase {
  std::optional<T> Value;
};

template <class T>
std::optional<T> HistoryService::Ask(std::function<T(HistoryStore& store)> question,
                                     int timeoutMs) {
  auto box = std::make_shared<AnswerBox<T>>();
  std::shared_ptr<Shared> shared = shared_;
  Post(
      [box, question = std::move(question), shared](Worker& worker) {
        T answer = question(StoreOf(worker));
        HistoryOutcome outcome = OutcomeOf(answer);
        SetAnswer(*shared, *box, [&] { box->Value = std::move(answer); });
        return outcome;
      },
      0);
  if (!WaitAnswer(*box, timeoutMs)) {
    return std::nullopt;
  }
  return std::move(box->Value);
}

template <class R>
std::shared_ptr<HistoryJob> HistoryService::Start(
    std::function<R(HistoryStore& store, HistoryJob& job)> work,
    const std::function<void(double share)>& onProgress, std::function<void(R result)> onDone) {
  auto result = std::make_shared<std::optional<R>>();
  return StartJob(
      [work = std::move(work), result](HistoryStore& store, HistoryJob& job) {
        *result = work(store, job);
        return OutcomeOf(**result);
      },
      onProgress,
      [result, onDone = std::move(onDone)] {
        if (onDone && *result) {
          onDone(std::move(**result));
        }
      });
}

}  // namespace vantor
