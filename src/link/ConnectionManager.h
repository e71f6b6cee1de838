#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "CalendarClock.h"
#include "Session.h"

namespace vantor {

// How ConnectDevice finds the instrument.
enum ConnectModeValue : uint8_t {
  ConnectChosenPort = 0,  // only the port the user picked
  ConnectAutoDetect = 1,  // every port from 1 to 254 until one answers
};

// A search that has run this long on the calendar clock gives up.
inline constexpr int64_t ScanTimeLimit = 5000;  // seconds

// Status panel 0 after a search that found nothing; empty for a language
// other than Russian (0) and English (1).
QString NoDeviceText(uint8_t languageIndex);

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

// "COM3 (/dev/ttyUSB0): permission denied — add yourself to the group
// dialout and log in again", or that another program holds it; empty for
// any other failure. `port` 0: the device was named by its path.
QString PortRefusalText(OpenFailure failure, int port, const QString& path, uint8_t languageIndex);

// Why a search that found nothing found nothing, when a port was refused:
// the permission first (nothing else helps), else the port another program
// holds, or all of them at once ("COM3, COM4: the ports are held by other
// programs"). Empty when no port was refused.
QString SearchRefusalText(const InstrumentSearch& search, uint8_t languageIndex);

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

// What ConnectDevice needs from the windows around it, so the link knows no
// widget and no tab.
struct ConnectSteps {
  // Exchanges with whatever answers on the port just opened and returns 1
  // exactly when it is the instrument (the settings read), 0 otherwise.
  std::function<int()> TestPort;
  // The search has opened (or failed to open) `port`: show it as progress.
  std::function<void(int port)> ShowProgress;
  // Auto-detection ended: the port found, or 0 when none answered.
  std::function<void(int port)> ShowFoundPort;
  // Nothing answered and a port was refused (panel 0 already says so).
  std::function<void(const InstrumentSearch& search)> ShowRefusal;
  // Every search ends here: the ports it found held by other programs.
  std::function<void(const InstrumentSearch& search)> ShowBusyPorts;
};

// The search as the windows run it: FindInstrument with the steps above on
// the session's link and clock. Sets session.PortNumber (0 when nothing
// answered) and returns it. When nothing answered, status panel 3 becomes "---" and panel 0 says no
// device was found, or, when a port was refused, why; a search that ran out
// of time only says so in panel 0.
int ConnectDevice(Session& session, int mode, int chosenPort, const ConnectSteps& steps);

}  // namespace vantor
