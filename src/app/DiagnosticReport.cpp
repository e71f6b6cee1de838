#include "DiagnosticReport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include "HistoryService.h"
#include "PortMap.h"
#include "SafeFile.h"
#include "Secrets.h"
#include "Session.h"

namespace vantor {

QByteArray DescribeRun(const Session& session, const FilePlaces& places) {
  QStringList lines;
  lines << QStringLiteral("%1 %2, Qt %3 (built with Qt %4)")
               .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion(),
                    QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR));
  lines << QStringLiteral("System: %1, %2 %3")
               .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(),
                    QSysInfo::kernelVersion());
  lines << QStringLiteral("Program: %1").arg(QCoreApplication::applicationFilePath());
  lines << QStringLiteral("Settings: %1").arg(places.SettingsFile);
  lines << QStringLiteral("Screen captures: %1")
               .arg(places.ScreenFolder.isEmpty() ? QDir::currentPath() : places.ScreenFolder);
  if (session.History != nullptr) {
    // The location as messages show it: a shared database without its
    // password, a URL that did not parse by the line that names it.
    const HistoryLocation& history = session.History->Location();
    lines << QStringLiteral("History: %1%2")
                 .arg(MaskSecrets(history.Text()),
                      history.Valid() ? QString() : QStringLiteral(" (%1)").arg(history.Error));
  }
  lines << QStringLiteral("Language: %1").arg(session.LanguageIndex == 1 ? "English" : "Russian");
  const DeviceLink& link = session.Link;
  if (link.PortOpen()) {
    lines << QStringLiteral("Port in use: COM%1 (%2)")
                 .arg(link.OpenPortNumber())
                 .arg(PortPath(link.OpenPortNumber()));
  } else if (link.LostPortNumber() != 0) {
    lines << QStringLiteral("Port in use: COM%1, gone away").arg(link.LostPortNumber());
  } else {
    lines << QStringLiteral("Port in use: none");
  }
  std::vector<PortEntry> entries = PortMapEntries();
  IdentifyPorts(entries);
  lines << QStringLiteral("Port map: %1 (%2)")
               .arg(PortMapDirectory(), PortMapPinned() ? QStringLiteral("pinned numbers")
                                                        : QStringLiteral("the system's ports"));
  for (const PortEntry& entry : entries) {
    QString line = QStringLiteral("  ") + PortEntryText(entry, 1);
    if (!entry.UsbId.isEmpty()) {
      line += QStringLiteral(", USB ") + entry.UsbId;
    }
    if (entry.NoPermission) {
      line += QStringLiteral(", permission denied");
    }
    lines << line;
  }
  return MaskSecrets(lines.join(QLatin1Char('\n'))).toUtf8() + '\n';
}

QString WriteDiagnosticReport(const QString& parent, const DiagnosticReport& report,
                              QString* error) {
  const QString name =
      QStringLiteral("vantor-report-") + report.Made.toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString folder = QDir(parent).filePath(name);
  // Two reports in one second stay apart.
  for (int n = 2; QFileInfo::exists(folder); ++n) {
    folder = QDir(parent).filePath(name + QStringLiteral("-%1").arg(n));
  }
  if (!QDir().mkpath(folder)) {
    if (error != nullptr) {
      *error = QStringLiteral("cannot make the folder");
    }
    return QString();
  }
  const std::pair<const char*, const QByteArray*> files[] = {
      {"about.txt", &report.About}, {"trace.txt", &report.Trace}, {"log.txt", &report.Log}};
  for (const auto& [file, bytes] : files) {
    if (!WriteFileWhole(QDir(folder).filePath(QString::fromLatin1(file)), *bytes, error)) {
      return QString();
    }
  }
  return folder;
}

}  // namespace vantor
