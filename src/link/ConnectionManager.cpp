#include "ConnectionManager.h"

#include "PortMap.h"

namespace vantor {
namespace {

// Opens `port` and runs the instrument test on it; a port that did not open
// costs no exchange.
bool Answers(Session& session, int port, const ConnectSteps& steps, bool showProgress) {
  DeviceLink& link = session.Link;
  link.OpenPort(port);
  if (showProgress && steps.ShowProgress) {
    steps.ShowProgress(port);
  }
  return link.PortOpen() && steps.TestPort && steps.TestPort() == 1;
}

void ReportNoDevice(Session& session) {
  const QString text = NoDeviceText(session.LanguageIndex);
  if (!text.isEmpty()) {
    session.SetPanel(0, text);
  }
}

}  // namespace

QString NoDeviceText(uint8_t languageIndex) {
  switch (languageIndex) {
    case 0:
      return QStringLiteral("Прибор не обнаружен");
    case 1:
      return QStringLiteral("No device");
    default:
      return QString();
  }
}

int ConnectDevice(Session& session, int mode, int chosenPort, const ConnectSteps& steps) {
  const int64_t start = session.Clock->Now();

  if (mode == ConnectAutoDetect) {
    session.PortNumber = 0;
    bool found = false;
    for (int port = FirstPortNumber; port <= LastPortNumber; ++port) {
      if (session.Clock->Now() - start > ScanTimeLimit) {
        // Panel 3 keeps whatever it showed: the search did not finish.
        ReportNoDevice(session);
        if (steps.ShowFoundPort) {
          steps.ShowFoundPort(0);
        }
        return 0;
      }
      if (Answers(session, port, steps, true)) {
        session.PortNumber = static_cast<uint8_t>(port);
        found = true;
        break;
      }
    }
    if (steps.ShowFoundPort) {
      steps.ShowFoundPort(found ? session.PortNumber : 0);
    }
  } else {
    // Anything outside 1..254 (no selection gives 0) opens nothing.
    const int port = chosenPort >= FirstPortNumber && chosenPort <= LastPortNumber ? chosenPort : 0;
    session.PortNumber = static_cast<uint8_t>(port);
    if (!Answers(session, port, steps, false)) {
      session.PortNumber = 0;
    }
  }

  if (session.PortNumber == 0) {
    session.SetPanel(3, QStringLiteral("---"));
    ReportNoDevice(session);
  }
  return session.PortNumber;
}

}  // namespace vantor
