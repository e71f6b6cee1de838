#include "BrokerUrl.h"

#include <QByteArray>
#include <QStringDecoder>
#include <QUrl>
#include <algorithm>

namespace vantor {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool IsHostNameChar(QChar c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool IsIpv6Char(QChar c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
         c == '.';
}

// The user part written back: what would end it or break it is encoded.
QString EncodeUser(const QString& user) {
  return QString::fromLatin1(QUrl::toPercentEncoding(user));
}

bool Fail(QString* error, const QString& why) {
  if (error) {
    *error = why;
  }
  return false;
}

}  // namespace

std::optional<QString> PercentDecode(const QString& text) {
  const QByteArray in = text.toUtf8();
  QByteArray out;
  out.reserve(in.size());
  for (qsizetype i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out.append(in[i]);
      continue;
    }
    if (i + 2 >= in.size()) {
      return std::nullopt;
    }
    const int high = HexDigit(in[i + 1]);
    const int low = HexDigit(in[i + 2]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    out.append(static_cast<char>(high * 16 + low));
    i += 2;
  }
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = decoder.decode(out);
  if (decoder.hasError()) {
    return std::nullopt;
  }
  return decoded;
}

QString MqttUrl::Address() const {
  const QString host = Host.contains(QLatin1Char(':')) ? '[' + Host + ']' : Host;
  return host + ':' + QString::number(Port);
}

QString MqttUrl::Redacted() const {
  QString text = Tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://");
  if (!User.isEmpty()) {
    text += EncodeUser(User);
    if (HasPassword) {
      text += QStringLiteral(":***");
    }
    text += '@';
  }
  return text + Address();
}

std::optional<MqttUrl> ParseMqttUrl(const QString& text, QString* error) {
  MqttUrl url;
  QString rest;
  if (text.startsWith(QLatin1String("mqtt://"), Qt::CaseInsensitive)) {
    rest = text.mid(7);
  } else if (text.startsWith(QLatin1String("mqtts://"), Qt::CaseInsensitive)) {
    url.Tls = true;
    url.Port = MqttUrl::TlsPort;
    rest = text.mid(8);
  } else {
    Fail(error, QStringLiteral("needs mqtt://host[:port] or mqtts://host[:port]"));
    return std::nullopt;
  }

  // The last @ ends the user part, so an @ or / in an unencoded password
  // stays in the password.
  const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
  if (at >= 0) {
    const QString userInfo = rest.left(at);
    rest = rest.mid(at + 1);
    const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
    const std::optional<QString> user = PercentDecode(colon < 0 ? userInfo : userInfo.left(colon));
    if (!user) {
      Fail(error, QStringLiteral("the user name has a bad %-escape"));
      return std::nullopt;
    }
    if (user->isEmpty()) {
      Fail(error, QStringLiteral("the part before @ needs a user name"));
      return std::nullopt;
    }
    url.User = *user;
    if (colon >= 0) {
      const std::optional<QString> password = PercentDecode(userInfo.mid(colon + 1));
      if (!password) {
        Fail(error, QStringLiteral("the password has a bad %-escape"));
        return std::nullopt;
      }
      url.Password = *password;
      url.HasPassword = true;
    }
  }

  if (rest.endsWith(QLatin1Char('/'))) {
    rest.chop(1);
  }
  if (rest.contains(QLatin1Char('/')) || rest.contains(QLatin1Char('?')) ||
      rest.contains(QLatin1Char('#'))) {
    Fail(error, QStringLiteral("a broker URL takes no path or query"));
    return std::nullopt;
  }

  QString portText;
  if (rest.startsWith(QLatin1Char('['))) {
    const qsizetype close = rest.indexOf(QLatin1Char(']'));
    if (close < 0) {
      Fail(error, QStringLiteral("the IPv6 address has no closing ]"));
      return std::nullopt;
    }
    url.Host = rest.mid(1, close - 1);
    const QString after = rest.mid(close + 1);
    if (!after.isEmpty() && !after.startsWith(QLatin1Char(':'))) {
      Fail(error, QStringLiteral("only :port may follow the IPv6 address"));
      return std::nullopt;
    }
    portText = after.mid(1);
    if (url.Host.count(QLatin1Char(':')) < 2 ||
        !std::all_of(url.Host.begin(), url.Host.end(), IsIpv6Char)) {
      Fail(error, QStringLiteral("the part in brackets is no IPv6 address"));
      return std::nullopt;
    }
    if (after == QLatin1String(":")) {
      Fail(error, QStringLiteral("the port is empty"));
      return std::nullopt;
    }
  } else {
    const qsizetype colon = rest.indexOf(QLatin1Char(':'));
    if (colon >= 0 && rest.indexOf(QLatin1Char(':'), colon + 1) >= 0) {
      Fail(error, QStringLiteral("an IPv6 address goes in brackets: [::1]"));
      return std::nullopt;
    }
    url.Host = colon < 0 ? rest : rest.left(colon);
    if (colon >= 0) {
      portText = rest.mid(colon + 1);
      if (portText.isEmpty()) {
        Fail(error, QStringLiteral("the port is empty"));
        return std::nullopt;
      }
    }
    if (url.Host.isEmpty()) {
      Fail(error, QStringLiteral("the broker's host is missing"));
      return std::nullopt;
    }
    if (!std::all_of(url.Host.begin(), url.Host.end(), IsHostNameChar)) {
      Fail(error, QStringLiteral("the host name holds characters no host name has"));
      return std::nullopt;
    }
  }

  if (!portText.isEmpty()) {
    bool ok = false;
    const int port = portText.toInt(&ok);
    const bool digits =
        std::all_of(portText.begin(), portText.end(), [](QChar c) { return c >= '0' && c <= '9'; });
    if (!ok || !digits || port < 1 || port > 65535) {
      Fail(error, QStringLiteral("the port must be a number from 1 to 65535"));
      return std::nullopt;
    }
    url.Port = port;
  }
  return url;
}

}  // namespace vantor
