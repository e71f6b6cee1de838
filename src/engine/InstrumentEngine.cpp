#include "InstrumentEngine.h"

#include <QThread>
#include <QTimer>
#include <exception>
#include <future>

namespace vantor {

void OperationControl::Progress(int done, int total, const QString& what) const {
  InstrumentEngine& engine = engine_;
  const OperationId id = id_;
  engine.Tell([&engine, id, done, total, what] { emit engine.Progressed(id, done, total, what); });
}

InstrumentEngine::InstrumentEngine(QObject* parent)
    : QObject(parent), link_(std::make_unique<DeviceLink>()) {
  link_->SetOutcomeHandler([this](ExchangeStatus status) {
    std::function<void(ExchangeStatus)> listener;
    {
      const std::lock_guard lock(mutex_);
      listener = listener_;
    }
    if (listener) {
      listener(status);
    }
    Tell([this, status] { emit Exchanged(status); });
  });
  thread_ = new QThread;
  thread_->setObjectName(QStringLiteral("instrument engine"));
  worker_ = new QObject;
  timer_ = new QTimer(worker_);
  connect(timer_, &QTimer::timeout, worker_, [this] { Tick(); });
  // The serial port wants an event loop on the thread that opens it: the
  // thread's own exec() is that loop.
  worker_->moveToThread(thread_);
  thread_->start();
}

InstrumentEngine::~InstrumentEngine() {
  std::deque<Job> dropped;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    if (runningStop_) {
      runningStop_->store(true);
    }
    dropped.swap(queue_);
  }
  for (Job& job : dropped) {
    Drop(std::move(job), OperationEnd::NotRun, false);
  }
  // Behind whatever runs now: the port was opened on that thread and closes
  // there.
  QMetaObject::invokeMethod(
      worker_, [this] { Close(); }, Qt::QueuedConnection);
  thread_->wait();
  delete worker_;
  delete thread_;
}

OperationId InstrumentEngine::Run(const QString& name, std::function<void(OperationControl&)> work,
                                  std::function<void(const OperationOutcome&)> done) {
  Job job;
  job.Name = name;
  job.Work = std::move(work);
  job.Done = std::move(done);
  return Queue(std::move(job));
}

OperationOutcome InstrumentEngine::RunAndWait(const QString& name,
                                              std::function<void(OperationControl&)> work,
                                              const std::function<void()>& between,
                                              std::chrono::milliseconds every) {
  if (QThread::currentThread() == thread_) {
    // It would wait for itself.
    return {OperationEnd::NotRun, QStringLiteral("asked for on the engine's own thread")};
  }
  auto settled = std::make_shared<std::promise<OperationOutcome>>();
  std::future<OperationOutcome> outcome = settled->get_future();
  Job job;
  job.Name = name;
  job.Work = std::move(work);
  job.Settled = [settled](const OperationOutcome& o) { settled->set_value(o); };
  Queue(std::move(job));
  if (between) {
    while (outcome.wait_for(every) != std::future_status::ready) {
      between();
    }
  }
  return outcome.get();
}

OperationId InstrumentEngine::Queue(Job job) {
  job.Stop = std::make_shared<std::atomic_bool>(false);
  if (QThread::currentThread() == thread()) {
    Begin();
  } else {
    // Told before the job can run, so before its end.
    Tell([this] { Begin(); });
  }
  OperationId id = 0;
  {
    const std::lock_guard lock(mutex_);
    id = job.Id = nextId_++;
    if (stopping_) {
      // Only from an operation the destructor interrupts.
      Drop(std::move(job), OperationEnd::NotRun, false);
      return id;
    }
    queue_.push_back(std::move(job));
  }
  QMetaObject::invokeMethod(
      worker_, [this] { RunNext(); }, Qt::QueuedConnection);
  return id;
}

void InstrumentEngine::Drop(Job job, OperationEnd end, bool tell) {
  const OperationOutcome outcome{end, {}};
  if (job.Settled) {
    job.Settled(outcome);
  }
  if (tell) {
    Tell([this, job = std::move(job), outcome] { End(job, outcome); });
  }
}

void InstrumentEngine::Cancel(OperationId id) {
  std::optional<Job> dropped;
  {
    const std::lock_guard lock(mutex_);
    if (id == runningId_ && runningStop_) {
      runningStop_->store(true);
      return;
    }
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
      if (it->Id == id) {
        dropped = std::move(*it);
        queue_.erase(it);
        break;
      }
    }
  }
  if (dropped) {
    Drop(std::move(*dropped), OperationEnd::Cancelled, true);
  }
}

void InstrumentEngine::CancelAll() {
  std::deque<Job> dropped;
  {
    const std::lock_guard lock(mutex_);
    if (runningStop_) {
      runningStop_->store(true);
    }
    dropped.swap(queue_);
  }
  for (Job& job : dropped) {
    Drop(std::move(job), OperationEnd::Cancelled, true);
  }
}

void InstrumentEngine::Close() {
  {
    const std::lock_guard lock(mutex_);
    if (runningStop_) {
      // Dispatched from inside the operation: it closes when that has ended.
      QMetaObject::invokeMethod(
          worker_, [this] { Close(); }, Qt::QueuedConnection);
      return;
    }
  }
  timer_->stop();
  link_->ClosePort();
  QThread::currentThread()->quit();
}

void InstrumentEngine::RunNext() {
  Job job;
  {
    const std::lock_guard lock(mutex_);
    // Dispatched from inside an operation (one that lets posted events in):
    // the running one asks for the next when it ends.
    if (stopping_ || queue_.empty() || runningStop_) {
      return;
    }
    job = std::move(queue_.front());
    queue_.pop_front();
    runningId_ = job.Id;
    runningStop_ = job.Stop;
  }
  Tell([this, id = job.Id, name = job.Name] { emit Started(id, name); });
  const OperationOutcome outcome = Perform(job);
  bool more = false;
  {
    const std::lock_guard lock(mutex_);
    runningId_ = 0;
    runningStop_.reset();
    more = !queue_.empty();
  }
  if (more) {
    QMetaObject::invokeMethod(
        worker_, [this] { RunNext(); }, Qt::QueuedConnection);
  }
  if (job.Settled) {
    job.Settled(outcome);
  }
  Tell([this, job = std::move(job), outcome] { End(job, outcome); });
}

OperationOutcome InstrumentEngine::Perform(Job& job) {
  OperationControl control(*this, *link_, job.Id, job.Stop);
  try {
    job.Work(control);
  } catch (const std::exception& e) {
    return {OperationEnd::Threw, QString::fromLocal8Bit(e.what())};
  } catch (...) {
    return {OperationEnd::Threw, QStringLiteral("an exception of unknown type")};
  }
  if (job.Stop->load()) {
    return {OperationEnd::Cancelled, {}};
  }
  if (link_->LostPortNumber() != 0) {
    return {OperationEnd::PortGone, QStringLiteral("COM%1 went away").arg(link_->LostPortNumber())};
  }
  if (control.failed_) {
    return {OperationEnd::Failed, control.why_};
  }
  return {OperationEnd::Done, {}};
}

void InstrumentEngine::Tell(std::function<void()> what) {
  QMetaObject::invokeMethod(this, std::move(what), Qt::QueuedConnection);
}

void InstrumentEngine::Begin() {
  if (pending_++ == 0) {
    emit BusyChanged(true);
  }
}

void InstrumentEngine::End(const Job& job, const OperationOutcome& outcome) {
  if (job.Done) {
    job.Done(outcome);
  }
  emit Ended(job.Id, outcome);
  if (--pending_ == 0) {
    emit BusyChanged(false);
  }
}

void InstrumentEngine::SetPollStep(std::chrono::milliseconds period, PollStep step) {
  {
    const std::lock_guard lock(mutex_);
    pollStep_ = std::move(step);
  }
  QMetaObject::invokeMethod(
      worker_,
      [this, period] {
        if (period.count() > 0) {
          timer_->start(period);
        } else {
          timer_->stop();
        }
      },
      Qt::QueuedConnection);
}

void InstrumentEngine::SetPollActive(bool active) {
  const std::lock_guard lock(mutex_);
  pollActive_ = active;
}

void InstrumentEngine::PollNow() {
  QMetaObject::invokeMethod(
      worker_, [this] { Tick(); }, Qt::QueuedConnection);
}

void InstrumentEngine::SetExchangeListener(std::function<void(ExchangeStatus)> listener) {
  const std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

void InstrumentEngine::Tick() {
  PollStep step;
  {
    const std::lock_guard lock(mutex_);
    // An operation waiting its turn goes first; the poll comes back after.
    if (stopping_ || !pollActive_ || !queue_.empty() || runningStop_ || !pollStep_) {
      ++pollsSkipped_;
      return;
    }
    step = pollStep_;
  }
  std::function<void()> shown;
  try {
    shown = step(*link_);
  } catch (...) {
    // A poll that throws shows nothing; the next tick tries again.
  }
  ++pollsRun_;
  if (shown) {
    Tell(std::move(shown));
  }
}

}  // namespace vantor
