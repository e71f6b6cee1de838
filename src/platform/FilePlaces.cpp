#include "FilePlaces.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "PlatformLog.h"

namespace vantor {
namespace {

constexpr char SettingsFileName[] = "prog.ini";

}  // namespace

FilePlaces ChooseFilePlaces(const FilePlaceFacts& facts) {
  FilePlaces places;
  const QDir work(facts.WorkingDirectory);
  if (facts.SettingsFileThere || (facts.WorkingDirectoryWritable && !facts.Installed)) {
    places.SettingsFile = work.filePath(SettingsFileName);
    return places;
  }
  places.Moved = true;
  places.SettingsFile = QDir(facts.ConfigurationHome).filePath(QStringLiteral("vantor/prog.ini"));
  places.ScreenFolder = QDir(facts.Pictures).filePath(QStringLiteral("Vantor"));
  qCInfo(lcPlatform).noquote() << "not in" << facts.WorkingDirectory
                               << "(installed:" << facts.Installed << "): settings in"
                               << places.SettingsFile << "and screen captures in"
                               << places.ScreenFolder;
  return places;
}

bool IsInstalledLocation(const QString& programDirectory) {
  const QString dir = QDir::cleanPath(programDirectory);
  return dir == QLatin1String("/usr/bin") || dir == QLatin1String("/usr/local/bin") ||
         dir == QLatin1String("/bin") || dir.startsWith(QLatin1String("/opt/")) ||
         dir.startsWith(QLatin1String("/snap/"));
}

FilePlaceFacts CurrentFilePlaceFacts(const QString& programDirectory) {
  FilePlaceFacts facts;
  facts.WorkingDirectory = QDir::currentPath();
  facts.WorkingDirectoryWritable = QFileInfo(facts.WorkingDirectory).isWritable();
  facts.SettingsFileThere =
      QFileInfo::exists(QDir(facts.WorkingDirectory).filePath(SettingsFileName));
  facts.Installed = IsInstalledLocation(programDirectory);
  facts.ConfigurationHome = ConfigurationHome();
  facts.Pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (facts.Pictures.isEmpty()) {
    facts.Pictures = QDir::homePath() + QStringLiteral("/Pictures");
  }
  return facts;
}

QString ConfigurationHome() {
  const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
  return home.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : home;
}

}  // namespace vantor
