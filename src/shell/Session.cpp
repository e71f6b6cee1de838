#include "Session.h"

#include <utility>

namespace vantor {

Session::Session(CalendarClock* clock) : Link(Engine.Link()), Clock(clock) {
  QObject::connect(&Engine, &InstrumentEngine::Progressed, &Engine,
                   [this](OperationId id, int done, int total, const QString& what) {
                     if (running_ && *running_ == id && runningProgress_ && runningContext_) {
                       runningProgress_(done, total, what);
                     }
                   });
}

Session::~Session() {
  draining_ = true;
  waiting_.clear();
}

void Session::Run(QObject* context, const QString& name,
                  std::function<void(OperationControl&)> work,
                  std::function<void(const OperationOutcome&)> shown, ProgressShown progress,
                  bool longOperation) {
  if (draining_) {
    return;
  }
  Pending next{context,      name, std::move(work), std::move(shown), std::move(progress),
               longOperation};
  if (longOperation) {
    Busy = true;
  }
  if (running_ || ending_) {
    waiting_.push_back(std::move(next));
    return;
  }
  Start(std::move(next));
}

void Session::Start(Pending next) {
  runningLong_ = next.Long;
  runningProgress_ = next.Progress;
  runningContext_ = next.Context;
  auto work = std::move(next.Work);
  next.Work = nullptr;
  const QString name = next.Name;
  // Set before the engine can tell the end: Run never calls back at once.
  running_ = Engine.Run(
      name, std::move(work),
      [this, done = std::move(next)](const OperationOutcome& outcome) { Ended(done, outcome); });
}

void Session::Ended(const Pending& done, const OperationOutcome& outcome) {
  running_.reset();
  runningLong_ = false;
  runningProgress_ = nullptr;
  runningContext_ = nullptr;
  if (draining_) {
    return;
  }
  UpdateBusy();
  if (done.Context && done.Shown) {
    // What it asks for meanwhile waits behind what was asked for before.
    ending_ = true;
    done.Shown(outcome);
    ending_ = false;
  }
  while (!waiting_.empty()) {
    Pending next = std::move(waiting_.front());
    waiting_.pop_front();
    if (next.Context) {
      Start(std::move(next));
      return;
    }
    UpdateBusy();  // one whose page is gone never runs
  }
  if (OnIdle) {
    OnIdle();
  }
}

void Session::AfterOthers(QObject* context, const std::function<void()>& then) {
  if (Idle() && !ending_) {
    then();
    return;
  }
  Run(
      context, QStringLiteral("after the others"), [](OperationControl&) {},
      [then](const OperationOutcome&) { then(); });
}

void Session::CancelAll() {
  // The ones waiting here never reached the engine: they just go.
  waiting_.clear();
  UpdateBusy();
  if (running_) {
    Engine.Cancel(*running_);
  }
}

void Session::UpdateBusy() {
  Busy = runningLong_;
  for (const Pending& p : waiting_) {
    Busy = Busy || p.Long;
  }
}

void Session::Drain() {
  draining_ = true;
  waiting_.clear();
  Engine.CancelAll();
  Engine.RunAndWait(QStringLiteral("closing"), [](OperationControl&) {});
}

}  // namespace vantor
