#include "ConnectionManager.h"

#include "PortMap.h"

namespace vantor {
InstrumentSearch FindInstrument(DeviceLink& link, const CalendarClock& clock, int mode,
                                int chosenPort, const std::function<bool()>& answers,
                                const std::function<void(int port)>& onPort) {
  // Opens `port` and runs the instrument test on it; a port that did not
  // open costs no exchange.
  InstrumentSearch search;
  const auto tryPort = [&](int port, bool showProgress) {
    link.OpenPort(port);
    const OpenFailure failure = link.LastOpenFailure();
    if (failure == OpenFailure::Busy) {
      search.BusyPorts.push_back(port);
    }
    const bool worthTelling = failure == OpenFailure::PermissionDenied ||
                              failure == OpenFailure::StaleLock ||
                              (failure == OpenFailure::Busy && search.Refusal == OpenFailure::None);
    if (worthTelling && search.Refusal != OpenFailure::PermissionDenied) {
      search.Refusal = failure;
      search.RefusedPort = port;
      search.RefusedPath = link.LastOpenPath();
    }
    if (showProgress && onPort) {
      onPort(port);
    }
    return link.PortOpen() && answers && answers();
  };

  if (mode == ConnectAutoDetect) {
    const int64_t start = clock.Now();
    for (int port = FirstPortNumber; port <= LastPortNumber; ++port) {
      if (clock.Now() - start > ScanTimeLimit) {
        search.TimedOut = true;
        return search;
      }
      if (tryPort(port, true)) {
        search.Port = port;
        return search;
      }
    }
    return search;
  }
  // Anything outside 1..254 (no selection gives 0) opens nothing.
  const int port = chosenPort >= FirstPortNumber && chosenPort <= LastPortNumber ? chosenPort : 0;
  if (tryPort(port, false)) {
    search.Port = port;
  }
  return search;
}

}  // namespace vantor
