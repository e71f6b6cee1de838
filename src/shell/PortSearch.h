#pragma once
#include <QString>
#include <cstdint>
#include <functional>

#include "ConnectionManager.h"
#include "Session.h"

namespace vantor {

// Status panel 0 after a search that found nothing; empty for a language
// other than Russian (0) and English (1).
QString NoDeviceText(uint8_t languageIndex);

// "COM3 (/dev/ttyUSB0): permission denied — add yourself to the group
// dialout and log in again", or that another program holds it; empty for
// any other failure. `port` 0: the device was named by its path.
QString PortRefusalText(OpenFailure failure, int port, const QString& path, uint8_t languageIndex);

// Why a search that found nothing found nothing, when a port was refused:
// the permission first (nothing else helps), else the port another program
// holds, or all of them at once ("COM3, COM4: the ports are held by other
// programs"). Empty when no port was refused.
QString SearchRefusalText(const InstrumentSearch& search, uint8_t languageIndex);

// What ConnectDevice needs from the windows around it.
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
// answered) and returns it. When nothing answered, status panel 3 becomes
// "---" and panel 0 says no device was found, or, when a port was refused,
// why; a search that ran out of time only says so in panel 0.
// Runs on the calling thread: for a line no engine runs yet.
int ConnectDevice(Session& session, int mode, int chosenPort, const ConnectSteps& steps);
// The end of a search as ConnectDevice shows it, on the window's thread once
// the search has run on the line's (TestPort and ShowProgress are not used).
int ShowSearch(Session& session, int mode, const InstrumentSearch& search,
               const ConnectSteps& steps);

}  // namespace vantor
