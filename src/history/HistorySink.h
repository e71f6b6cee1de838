#pragma once
#include <functional>

#include "HistoryTypes.h"

namespace vantor {

class HistoryStore;

// Where the instrument operations keep what they read and did: the store
// (none: kept nowhere) and who hears of its outcomes. The store's failures
// never stop an operation; `Report` gets every outcome and says what the
// user should hear (the first failure of an outage, its end).
struct HistorySink {
  HistoryStore* Store = nullptr;
  std::function<void(const HistoryOutcome& outcome)> Report;

  void Tell(const HistoryOutcome& outcome) const {
    if (Report) {
      Report(outcome);
    }
  }
};

}  // namespace vantor
