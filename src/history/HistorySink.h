#pragma once

namespace vantor {

class HistoryService;

// Where the instrument operations keep what they read and did: the history
// service, or none (kept nowhere). What they hand it goes in on the store's
// own thread; the outcomes worth telling reach whoever owns the service.
struct HistorySink {
  HistoryService* Service = nullptr;
};

}  // namespace vantor
