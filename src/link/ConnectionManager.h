#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "CalendarClock.h"
#include "DeviceLink.h"

namespace vantor {

// How a search finds the instrument.
enum ConnectModeValue : uint8_t {
  ConnectChosenPort = 0,  // only the port the user picked
  ConnectAutoDetect = 1,  // every port from 1 to 254 until one answers
};

// A search that has run this long on the calendar clock gives up.
inline constexpr int64_t ScanTimeLimit = 5000;  // seconds

// What a search for the instrument came to.
struct InstrumentSearch {
  int Port = 0;           // the port the instrument answered on, 0 when none
  bool TimedOut = false;  // the search ran out of time before the last port
  // A port that exists but would not open for the user, which is worth
  // telling: the first one refused for lack of permission, else the first
  // one another program held.
  OpenFailure Refusal = OpenFailure::None;
  int RefusedPort = 0;
  QString RefusedPath;
  // Every port tried that another program held (a window on another
  // instrument, a terminal program), in the order tried; none was asked.
  std::vector<int> BusyPorts;
};

// Looks for the instrument over `link` and leaves open the port it answered
// on. `mode` ConnectAutoDetect tries ports 1..254 in ascending order and
// stops at the first where `answers` (an exchange with whatever is on the
// port just opened) is true; a search that has run longer than ScanTimeLimit
// on `clock` gives up. Any other mode tries `chosenPort` alone (0 or a number
// the port map does not know simply fails). Ports open through the link's
// opener, the port map unless a caller set another; one that does not exist
// or will not open is skipped without an exchange. `onPort(port)` is called after each port of an
// auto-detection has been opened (or failed to open), before its test.
InstrumentSearch FindInstrument(DeviceLink& link, const CalendarClock& clock, int mode,
                                int chosenPort, const std::function<bool()>& answers,
                                const std::function<void(int port)>& onPort = {});

}  // namespace vantor
