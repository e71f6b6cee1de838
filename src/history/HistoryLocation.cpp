#include "HistoryLocation.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

#include "HistoryLog.h"

namespace vantor {
namespace {

// The text of a location as a message may show it: a password given in a
// URL never is.
QString Shown(QString text) {
  static const QRegularExpression inQuery(QStringLiteral("([?&]password=)[^&#]*"),
                                          QRegularExpression::CaseInsensitiveOption);
  text.replace(inQuery, QStringLiteral("\\1..."));
  const qsizetype scheme = text.indexOf(QLatin1String("://"));
  if (scheme < 0) {
    return text;
  }
  const qsizetype from = scheme + 3;
  qsizetype end = text.size();
  for (const QChar stop : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
    const qsizetype at = text.indexOf(stop, from);
    if (at >= 0 && at < end) {
      end = at;
    }
  }
  const qsizetype at = text.lastIndexOf(QLatin1Char('@'), end - 1);
  const qsizetype colon = text.indexOf(QLatin1Char(':'), from);
  if (at < from || colon < 0 || colon > at) {
    return text;
  }
  return text.left(colon) + text.mid(at);
}

HistoryLocation Invalid(const QString& text, const QString& why) {
  HistoryLocation location;
  location.Error = QStringLiteral("%1: %2").arg(Shown(text), why);
  return location;
}

HistoryLocation ParsePostgres(const QString& text) {
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid()) {
    return Invalid(text, url.errorString());
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
    const HistoryLocation location = ParseHistoryLocation(configured);
    if (!location.Valid()) {
      qCWarning(lcHistory).noquote()
          << HistoryConfigPath() << "names no history:" << location.Error;
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
