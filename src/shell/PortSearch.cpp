#include "PortSearch.h"

#include <QStringList>

#include "MessageTable.h"
#include "PortLock.h"

namespace vantor {
namespace {

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

QString PortRefusalText(OpenFailure failure, int port, const QString& path, uint8_t languageIndex) {
  MessageRow row = RowPortPermissionDenied;
  if (failure == OpenFailure::Busy) {
    row = RowPortBusy;
  } else if (failure == OpenFailure::StaleLock) {
    row = RowPortStaleLock;
  } else if (failure != OpenFailure::PermissionDenied) {
    return QString();
  }
  QString where = path;
  if (port != 0) {
    where = path.isEmpty() ? QStringLiteral("COM%1").arg(port)
                           : QStringLiteral("COM%1 (%2)").arg(port).arg(path);
  }
  if (failure == OpenFailure::StaleLock) {
    const QString lock = PortLockFile(path);
    const QString owner = FileOwner(lock);
    return MessageText(row, languageIndex)
        .arg(where, lock, owner.isEmpty() ? QStringLiteral("?") : owner);
  }
  return MessageText(row, languageIndex).arg(where);
}

QString SearchRefusalText(const InstrumentSearch& search, uint8_t languageIndex) {
  if (search.Refusal == OpenFailure::Busy && search.BusyPorts.size() > 1) {
    QStringList ports;
    for (const int port : search.BusyPorts) {
      ports << QStringLiteral("COM%1").arg(port);
    }
    return MessageText(RowPortsBusy, languageIndex).arg(ports.join(QStringLiteral(", ")));
  }
  return PortRefusalText(search.Refusal, search.RefusedPort, search.RefusedPath, languageIndex);
}

int ConnectDevice(Session& session, int mode, int chosenPort, const ConnectSteps& steps) {
  if (mode == ConnectAutoDetect) {
    session.PortNumber = 0;
  }
  const InstrumentSearch search = FindInstrument(
      session.Link, *session.Clock, mode, chosenPort,
      [&steps] { return steps.TestPort && steps.TestPort() == 1; }, steps.ShowProgress);
  return ShowSearch(session, mode, search, steps);
}

int ShowSearch(Session& session, int mode, const InstrumentSearch& search,
               const ConnectSteps& steps) {
  session.PortNumber = static_cast<uint8_t>(search.Port);
  if (mode == ConnectAutoDetect && steps.ShowFoundPort) {
    steps.ShowFoundPort(search.Port);
  }
  if (steps.ShowBusyPorts) {
    steps.ShowBusyPorts(search);
  }
  if (search.TimedOut) {
    // Panel 3 keeps whatever it showed: the search did not finish.
    ReportNoDevice(session);
    return 0;
  }
  if (session.PortNumber == 0) {
    session.SetPanel(3, QStringLiteral("---"));
    if (search.Refusal == OpenFailure::None) {
      ReportNoDevice(session);
    } else {
      session.SetPanel(0, SearchRefusalText(search, session.LanguageIndex));
      if (steps.ShowRefusal) {
        steps.ShowRefusal(search);
      }
    }
  }
  return session.PortNumber;
}

}  // namespace vantor
