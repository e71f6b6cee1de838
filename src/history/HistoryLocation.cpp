#include "HistoryLocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

#include "HistoryLog.h"
#include "Secrets.h"

namespace vantor {
namespace {

HistoryLocation Invalid(const QString& text, const QString& why) {
  HistoryLocation location;
  location.Source = MaskSecrets(text);
  location.Why = why;
  location.Error = QStringLiteral("cannot parse the history URL %1: %2").arg(location.Source, why);
  return location;
}

// Qt's own reason for a URL it refused, without the URL it quotes (the
// password in it), in the lower case of the rest of a message.
QString UrlReason(const QUrl& url) {
  QString why = url.errorString().section(QLatin1String("; source was"), 0, 0).trimmed();
  if (why.isEmpty()) {
    return QStringLiteral("not a valid URL");
  }
  why[0] = why[0].toLower();
  return MaskSecrets(why);
}

// The line of `file` that holds key `key` of section `section` (1 for the
// first), or 0.
int LineOfKey(const QString& file, const QString& section, const QString& key) {
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
    return 0;
  }
  QString current;
  int number = 0;
  while (!in.atEnd()) {
    ++number;
    const QString line = QString::fromUtf8(in.readLine()).trimmed();
    if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
      current = line.mid(1, line.size() - 2).trimmed();
    } else if (current == section && line.section(QLatin1Char('='), 0, 0).trimmed() == key &&
               line.contains(QLatin1Char('='))) {
      return number;
    }
  }
  return 0;
}

HistoryLocation ParsePostgres(const QString& text) {
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid()) {
    return Invalid(text, UrlReason(url));
  }
  HistoryLocation location;
  location.Engine = HistoryEngine::Postgres;
  location.User = url.userName(QUrl::FullyDecoded);
  location.Password = url.password(QUrl::FullyDecoded);
  location.Host = url.host(QUrl::FullyDecoded);
  location.Port = url.port(-1);
  location.Database = url.path(QUrl::FullyDecoded).mid(1);
  const QUrlQuery query(url);
  for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
    if (key == QLatin1String("host")) {
      location.Host = value;
    } else if (key == QLatin1String("port")) {
      bool ok = false;
      location.Port = value.toInt(&ok);
      if (!ok) {
        return Invalid(text, QStringLiteral("bad port"));
      }
    } else if (key == QLatin1String("user")) {
      location.User = value;
    } else if (key == QLatin1String("connect_timeout")) {
      bool ok = false;
      location.ConnectTimeoutS = value.toInt(&ok);
      if (!ok || location.ConnectTimeoutS < 1) {
        return Invalid(text, QStringLiteral("bad connect_timeout"));
      }
    } else {
      return Invalid(text, QStringLiteral("unknown parameter %1").arg(key));
    }
  }
  if (location.Database.isEmpty() || location.Database.contains(QLatin1Char('/'))) {
    return Invalid(text, QStringLiteral("no database name"));
  }
  return location;
}

}  // namespace

QString HistoryLocation::Text() const {
  if (!Valid()) {
    if (ConfigFile.isEmpty()) {
      return Source;
    }
    return ConfigLine > 0 ? QStringLiteral("line %1 of %2").arg(ConfigLine).arg(ConfigFile)
                          : ConfigFile;
  }
  if (Engine == HistoryEngine::Sqlite) {
    return Path;
  }
  QUrl url;
  url.setScheme(QStringLiteral("postgresql"));
  url.setUserName(User);
  const bool socket = Host.startsWith(QLatin1Char('/'));
  if (!socket) {
    url.setHost(Host);
  }
  url.setPort(Port);
  url.setPath(QLatin1Char('/') + Database);
  if (socket) {
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("host"), Host);
    url.setQuery(query);
  }
  return url.toString();
}

HistoryLocation ParseHistoryLocation(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed.startsWith(QLatin1String("postgresql://")) ||
      trimmed.startsWith(QLatin1String("postgres://"))) {
    return ParsePostgres(trimmed);
  }
  QString path = trimmed;
  if (path.startsWith(QLatin1String("sqlite:")) || path.startsWith(QLatin1String("file:"))) {
    path = QUrl(path).path(QUrl::FullyDecoded);
  }
  if (path.isEmpty() || path.contains(QLatin1String("://"))) {
    return Invalid(text, QStringLiteral("neither a file nor a postgresql:// URL"));
  }
  HistoryLocation location;
  location.Path = QFileInfo(path).absoluteFilePath();
  return location;
}

QString DefaultHistoryPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/vantor/history.sqlite");
}

QString HistoryConfigPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/vantor/vantor.conf");
}

HistoryLocation ConfiguredHistoryLocation(const QString& explicitUrl) {
  if (!explicitUrl.isEmpty()) {
    return ParseHistoryLocation(explicitUrl);
  }
  const QSettings settings(HistoryConfigPath(), QSettings::IniFormat);
  const QString configured = settings.value(QLatin1String(HistoryUrlKey)).toString();
  if (!configured.trimmed().isEmpty()) {
    HistoryLocation location = ParseHistoryLocation(configured);
    if (!location.Valid()) {
      // Said where the file names it, not with the URL: the user edits that
      // line, and the password in it stays out of every message.
      location.ConfigFile = HistoryConfigPath();
      location.ConfigLine =
          LineOfKey(location.ConfigFile, QStringLiteral("History"), QStringLiteral("Url"));
      const QString& why = location.Why;
      location.Error = location.ConfigLine > 0
                           ? QStringLiteral("cannot parse the history URL at line %1 of %2: %3")
                                 .arg(location.ConfigLine)
                                 .arg(location.ConfigFile, why)
                           : QStringLiteral("cannot parse the history URL in %1: %2")
                                 .arg(location.ConfigFile, why);
      // The owner tells the user once; the log keeps it too.
      qCInfo(lcHistory).noquote() << location.Error;
    } else {
      qCInfo(lcHistory).noquote() << "history from" << HistoryConfigPath() << ":"
                                  << location.Text();
    }
    return location;
  }
  HistoryLocation location;
  location.Path = DefaultHistoryPath();
  qCInfo(lcHistory).noquote() << "history in" << location.Path;
  return location;
}

QString HistoryFolder(const HistoryLocation& location) {
  if (location.Engine != HistoryEngine::Sqlite || !location.Valid()) {
    return QString();
  }
  return QFileInfo(location.Path).absolutePath();
}

}  // namespace vantor
