#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "DeviceLink.h"

class QThread;
class QTimer;

namespace vantor {

// What the link reports a single exchange as (what panel 0 shows).
using ExchangeStatus = LinkStatus;

// How an operation ended.
enum class OperationEnd : uint8_t {
  Done,       // it ran to its end
  Failed,     // it said it failed (OperationControl::Fail)
  Cancelled,  // it was asked to stop, or dropped from the queue before it ran
  PortGone,   // the port it worked on went away meanwhile
  Threw,      // it threw; Detail holds what
  NotRun,     // the engine stopped before its turn
};

struct OperationOutcome {
  OperationEnd End = OperationEnd::NotRun;
  QString Detail;
  bool Ok() const { return End == OperationEnd::Done; }
};

// An operation's end with what it returned (nothing unless it returned).
template <class R>
struct Finished {
  OperationOutcome Outcome;
  std::optional<R> Value;
};

using OperationId = uint64_t;
class InstrumentEngine;

// What an operation works with on the engine's thread.
class OperationControl {
 public:
  DeviceLink& Link() const { return link_; }
  OperationId Id() const { return id_; }
  // Someone cancelled it, or the engine is going away: it should end soon,
  // between two exchanges.
  bool StopRequested() const { return stop_->load(); }
  // The same question, for the feature operations that take it as a function.
  std::function<bool()> StopCheck() const {
    return [stop = stop_] { return stop->load(); };
  }
  // Shown to whoever watches the engine, in order with the exchanges.
  void Progress(int done, int total, const QString& what = {}) const;
  // Ends it as Failed (unless it was cancelled, threw or lost its port).
  void Fail(QString why) {
    failed_ = true;
    why_ = std::move(why);
  }

 private:
  friend class InstrumentEngine;
  OperationControl(InstrumentEngine& engine, DeviceLink& link, OperationId id,
                   std::shared_ptr<std::atomic_bool> stop)
      : engine_(engine), link_(link), id_(id), stop_(std::move(stop)) {}

  InstrumentEngine& engine_;
  DeviceLink& link_;
  OperationId id_;
  std::shared_ptr<std::atomic_bool> stop_;
  bool failed_ = false;
  QString why_;
};

// One instrument's line, worked on a thread of its own: the engine owns the
// thread, the DeviceLink (and with it the ValueStorage and the port) and the
// poll timer. Operations run one at a time in the order they were asked for,
// and a poll tick never comes between two exchanges of an operation, nor
// while one waits its turn. Everything the engine tells (each exchange's
// status, progress, an operation's end, the poll's result) reaches the
// thread that made the engine, queued, in the order it happened there; that
// thread never waits for the line.
//
// The link belongs to the engine's thread: touch it from operations and the
// poll step only (or before the first operation is asked for).
class InstrumentEngine : public QObject {
  Q_OBJECT

 public:
  explicit InstrumentEngine(QObject* parent = nullptr);
  // Asks a running operation to stop, drops the queued ones (their ends are
  // never told), waits for the thread, and closes the port on it.
  ~InstrumentEngine() override;
  InstrumentEngine(const InstrumentEngine&) = delete;
  InstrumentEngine& operator=(const InstrumentEngine&) = delete;

  DeviceLink& Link() { return *link_; }

  // Queues `work`. `done` (may be empty) gets its end on the engine's owner
  // thread, after every exchange and progress it reported. Any thread may ask.
  OperationId Run(const QString& name, std::function<void(OperationControl&)> work,
                  std::function<void(const OperationOutcome&)> done = {});
  // The same for work that returns a result.
  template <class R>
  OperationId RunFor(const QString& name, std::function<R(OperationControl&)> work,
                     std::function<void(Finished<R>)> done) {
    auto value = std::make_shared<std::optional<R>>();
    return Run(
        name, [work = std::move(work), value](OperationControl& c) { value->emplace(work(c)); },
        [done = std::move(done), value](const OperationOutcome& outcome) {
          if (done) {
            done(Finished<R>{outcome, std::move(*value)});
          }
        });
  }
  // Queues `work` and blocks the calling thread (never the engine's) until it
  // has ended, running `between` on it every `every` meanwhile. The owner
  // thread's deliveries wait for its event loop as ever.
  OperationOutcome RunAndWait(const QString& name, std::function<void(OperationControl&)> work,
                              const std::function<void()>& between = {},
                              std::chrono::milliseconds every = std::chrono::milliseconds(50));

  // A queued operation is dropped (ends Cancelled without running); a
  // running one is asked to stop. An operation long over is left alone.
  void Cancel(OperationId id);
  void CancelAll();
  // An operation is queued or running, as the owner thread last heard.
  bool Busy() const { return pending_ > 0; }

  // Every `period` the engine runs `step` on its thread, unless it is paused
  // or an operation runs or waits; `shown` gets the step's result on the
  // owner thread. A period of zero keeps only PollNow.
  template <class R>
  void SetPoll(std::chrono::milliseconds period, std::function<R(DeviceLink&)> step,
               std::function<void(R)> shown) {
    if (!step) {
      SetPollStep(period, {});
      return;
    }
    SetPollStep(period,
                [step = std::move(step),
                 shown = std::move(shown)](DeviceLink& link) -> std::function<void()> {
                  auto value = std::make_shared<R>(step(link));
                  return [shown, value] {
                    if (shown) {
                      shown(std::move(*value));
                    }
                  };
                });
  }
  // Paused, a tick does nothing (the tab that polls is not on display).
  void SetPollActive(bool active);
  // One tick now, as the timer would give it.
  void PollNow();
  // Ticks that ran the step, and ticks that found the engine busy or paused.
  uint64_t PollsRun() const { return pollsRun_; }
  uint64_t PollsSkipped() const { return pollsSkipped_; }

  // Also told of every exchange, on the engine's thread as it happens (the
  // line's trace notes it there).
  void SetExchangeListener(std::function<void(ExchangeStatus)> listener);

 signals:
  void Exchanged(vantor::ExchangeStatus status);
  void BusyChanged(bool busy);
  void Started(vantor::OperationId id, const QString& name);
  void Progressed(vantor::OperationId id, int done, int total, const QString& what);
  void Ended(vantor::OperationId id, const vantor::OperationOutcome& outcome);

 private:
  friend class OperationControl;
  struct Job {
    OperationId Id = 0;
    QString Name;
    std::function<void(OperationControl&)> Work;
    std::function<void(const OperationOutcome&)> Done;
    std::shared_ptr<std::atomic_bool> Stop;
    // Told on whichever thread settles it (RunAndWait waits for it).
    std::function<void(const OperationOutcome&)> Settled;
  };
  using PollStep = std::function<std::function<void()>(DeviceLink&)>;

  void SetPollStep(std::chrono::milliseconds period, PollStep step);
  OperationId Queue(Job job);
  // A job that will not run: settled and told as `end`.
  void Drop(Job job, OperationEnd end, bool tell);
  // On the engine's thread.
  void RunNext();
  void Close();  // the port and the thread's loop, behind what runs
  void Tick();
  OperationOutcome Perform(Job& job);
  // Runs `what` on the owner thread, after everything told before it.
  void Tell(std::function<void()> what);
  void Begin();
  void End(const Job& job, const OperationOutcome& outcome);

  std::unique_ptr<DeviceLink> link_;
  QThread* thread_ = nullptr;
  QObject* worker_ = nullptr;  // lives on the engine's thread
  QTimer* timer_ = nullptr;    // the worker's, so on that thread too

  mutable std::mutex mutex_;
  std::deque<Job> queue_;
  std::shared_ptr<std::atomic_bool> runningStop_;  // the running operation's
  OperationId runningId_ = 0;
  OperationId nextId_ = 1;
  PollStep pollStep_;
  std::function<void(ExchangeStatus)> listener_;
  bool pollActive_ = true;
  bool stopping_ = false;

  int pending_ = 0;  // owner thread only
  std::atomic<uint64_t> pollsRun_{0};
  std::atomic<uint64_t> pollsSkipped_{0};
};

}  // namespace vantor
