#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>

namespace vantor::test {

// Lets queued calls in (the history's outcomes, a job's end) until `done`
// holds; false when it still does not after `timeoutMs`.
template <class Done>
bool Eventually(Done done, int timeoutMs = 20000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace vantor::test
