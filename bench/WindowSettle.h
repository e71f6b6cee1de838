#pragma once
#include <QCoreApplication>

#include "Session.h"

namespace vantor::bench {

// The window's operations run on the instrument's engine: waits, handling
// the window's events, until they have ended and their ends are shown.
inline void Settle(Session& session) {
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  } while (!session.Idle());
  QCoreApplication::processEvents();
}

}  // namespace vantor::bench
