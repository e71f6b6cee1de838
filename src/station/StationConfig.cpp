#include "StationConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "HistoryLocation.h"
#include "PortMap.h"
#include "Secrets.h"

namespace vantor {

namespace {

const QString PortKey = QStringLiteral("port");
const QString DeviceKey = QStringLiteral("device");

bool Fail(QString* error, const QString& why) {
  if (error) {
    *error = why;
  }
  return false;
}

// A key as messages may quote it: only when it looks like one, since a
// mistyped line may hold anything.
QString QuotedKey(const QString& key) {
  const bool word =
      !key.isEmpty() && key.size() <= 40 && std::all_of(key.begin(), key.end(), [](QChar c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
      });
  return word ? QStringLiteral("\"%1\"").arg(key) : QString();
}

std::optional<double> Number(const QString& text) {
  bool ok = false;
  const double value = text.toDouble(&ok);
  if (!ok || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

bool IsDigits(const QString& text) {
  return !text.isEmpty() &&
         std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

std::optional<int> TcpPort(const QString& text) {
  bool ok = false;
  const int port = text.toInt(&ok);
  if (!IsDigits(text) || !ok || port < 1 || port > 65535) {
    return std::nullopt;
  }
  return port;
}

// A topic the station's own topics begin with: levels without MQTT's
// wildcards, no empty level, no leading or trailing /.
bool TopicPrefixOk(const QString& text) {
  if (text.isEmpty() || text.startsWith('/') || text.endsWith('/') ||
      text.contains(QLatin1String("//"))) {
    return false;
  }
  return std::none_of(text.begin(), text.end(), [](QChar c) {
    return c == '+' || c == '#' || c.isSpace() || c.category() == QChar::Other_Control;
  });
}

std::optional<StationPorts> ParsePorts(const QString& text, QString* why) {
  StationPorts where;
  if (text == QLatin1String("all")) {
    return where;
  }
  where.All = false;
  std::set<int> seen;
  for (const QString& part : text.split(',')) {
    bool ok = false;
    const int port = part.trimmed().toInt(&ok);
    if (!ok || port < FirstPortNumber || port > LastPortNumber) {
      *why = QStringLiteral("needs COM numbers from 1 to 254 (3 or 3,4,5) or all");
      return std::nullopt;
    }
    if (!seen.insert(port).second) {
      *why = QStringLiteral("names COM%1 twice").arg(port);
      return std::nullopt;
    }
  }
  where.Ports.assign(seen.begin(), seen.end());
  return where;
}

bool ParseListen(const QString& text, QString& host, int& port, QString* why) {
  const qsizetype colon = text.lastIndexOf(':');
  const std::optional<int> number = colon < 0 ? std::nullopt : TcpPort(text.mid(colon + 1));
  QString h = colon < 0 ? QString() : text.left(colon);
  if (h.startsWith('[') && h.endsWith(']')) {
    h = h.mid(1, h.size() - 2);
    if (!h.contains(':')) {
      h.clear();
    }
  } else if (h.contains(':')) {
    h.clear();  // an IPv6 address without its brackets
  }
  const bool hostOk = !h.isEmpty() && std::all_of(h.begin(), h.end(), [](QChar c) {
    return c.isLetterOrNumber() || c == '.' || c == '-' || c == ':' || c == '_';
  });
  if (!number || !hostOk) {
    *why = QStringLiteral("needs HOST:PORT, e.g. 127.0.0.1:9464, 0.0.0.0:9464 or [::1]:9464");
    return false;
  }
  host = h;
  port = *number;
  return true;
}

std::optional<int64_t> Seconds(const QString& text, double low, bool lowIncluded, double high) {
  const std::optional<double> value = Number(text);
  if (!value || *value > high || *value < low || (!lowIncluded && *value == low)) {
    return std::nullopt;
  }
  return static_cast<int64_t>(std::llround(*value * 1000));
}

// Checks one value and puts it in place; `why` says what is wrong.
bool ApplyOne(const ConfigSetting& setting, StationConfig& config, QString* why) {
  const QString& key = setting.Key;
  const QString& value = setting.Value;
  if (value.isEmpty()) {
    *why = QStringLiteral("has no value");
    return false;
  }
  const auto bad = [&](const QString& what) {
    *why = QStringLiteral("%1, not \"%2\"").arg(what, value);
    return false;
  };
  if (key == PortKey) {
    std::optional<StationPorts> where = ParsePorts(value, why);
    if (!where) {
      return false;
    }
    config.Where = *where;
  } else if (key == DeviceKey) {
    config.Where = StationPorts{false, {}, value};
  } else if (key == QLatin1String("listen")) {
    return ParseListen(value, config.ListenHost, config.ListenPort, why) || bad(*why);
  } else if (key == QLatin1String("mqtt")) {
    // The URL may hold a password: the reason only, never the text.
    QString reason;
    std::optional<MqttUrl> url = ParseMqttUrl(value, &reason);
    if (!url) {
      *why = QStringLiteral("is no usable URL: ") + reason;
      return false;
    }
    config.Mqtt = *url;
  } else if (key == QLatin1String("history")) {
    const HistoryLocation location = ParseHistoryLocation(value);
    if (!location.Valid()) {
      *why = QStringLiteral("is no usable URL: ") +
             (location.Why.isEmpty() ? QStringLiteral("not a history") : location.Why);
      return false;
    }
    config.History = value;
  } else if (key == QLatin1String("trace")) {
    config.Trace = value;
  } else if (key == QLatin1String("mqtt-base-topic") || key == QLatin1String("discovery-prefix")) {
    if (!TopicPrefixOk(value)) {
      return bad(QStringLiteral("needs topic levels without + # blanks or empty levels"));
    }
    (key == QLatin1String("mqtt-base-topic") ? config.BaseTopic : config.DiscoveryPrefix) = value;
  } else if (key == QLatin1String("mqtt-ca-file")) {
    config.MqttCaFile = value;
  } else if (key == QLatin1String("mqtt-client-id")) {
    const bool ok = value.size() <= 128 && std::none_of(value.begin(), value.end(), [](QChar c) {
                      return c.isSpace() || c.category() == QChar::Other_Control;
                    });
    if (!ok) {
      return bad(QStringLiteral("needs up to 128 characters without blanks"));
    }
    config.MqttClientId = value;
  } else if (key == QLatin1String("alarm-hold")) {
    const std::optional<int64_t> ms = Seconds(value, 0, true, 3600);
    if (!ms) {
      return bad(QStringLiteral("needs seconds from 0 to 3600"));
    }
    config.AlarmHoldMs = *ms;
  } else if (key == QLatin1String("alarm-hysteresis")) {
    QString number = value;
    if (number.endsWith('%')) {
      number.chop(1);
    }
    const std::optional<double> percent = Number(number.trimmed());
    if (!percent || *percent < 0 || *percent >= 100) {
      return bad(QStringLiteral("needs a percentage from 0 to below 100"));
    }
    config.AlarmHysteresisPercent = *percent;
  } else if (key == QLatin1String("on-alarm")) {
    config.OnAlarm = value;
  } else if (key == QLatin1String("on-alarm-timeout")) {
    const std::optional<int64_t> ms = Seconds(value, 0, false, 3600);
    if (!ms || *ms == 0) {
      return bad(QStringLiteral("needs seconds above 0, up to 3600"));
    }
    config.OnAlarmTimeoutMs = *ms;
  } else {
    *why = QStringLiteral("is no key");
    return false;
  }
  return true;
}

bool ApplySource(const std::vector<ConfigSetting>& settings, StationConfig& config,
                 std::map<QString, QString>& where, QString* error) {
  const ConfigSetting* placeChoice = nullptr;
  for (const ConfigSetting& setting : settings) {
    if (setting.Key == PortKey || setting.Key == DeviceKey) {
      if (placeChoice && placeChoice->Key != setting.Key) {
        return Fail(error,
                    QStringLiteral("%1: %2 and %3 (%4) exclude each other")
                        .arg(setting.Where, setting.Key, placeChoice->Key, placeChoice->Where));
      }
      placeChoice = &setting;
    }
    QString why;
    if (!ApplyOne(setting, config, &why)) {
      return Fail(error, QStringLiteral("%1: %2 %3").arg(setting.Where, setting.Key, why));
    }
    where[setting.Key] = setting.Where;
  }
  return true;
}

}  // namespace

const QStringList& StationConfigKeys() {
  static const QStringList keys = {
      PortKey,
      DeviceKey,
      QStringLiteral("listen"),
      QStringLiteral("mqtt"),
      QStringLiteral("mqtt-base-topic"),
      QStringLiteral("discovery-prefix"),
      QStringLiteral("mqtt-ca-file"),
      QStringLiteral("mqtt-client-id"),
      QStringLiteral("history"),
      QStringLiteral("trace"),
      QStringLiteral("alarm-hold"),
      QStringLiteral("alarm-hysteresis"),
      QStringLiteral("on-alarm"),
      QStringLiteral("on-alarm-timeout"),
  };
  return keys;
}

std::optional<StationArguments> ParseStationArguments(const QStringList& arguments,
                                                      QString* error) {
  StationArguments parsed;
  QSet<QString> given;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& word = arguments[i];
    if (!word.startsWith(QLatin1String("--")) || word.size() == 2) {
      Fail(error, QStringLiteral("unexpected argument \"%1\"").arg(word));
      return std::nullopt;
    }
    const qsizetype equals = word.indexOf('=');
    const QString name = word.mid(2, equals < 0 ? -1 : equals - 2);
    if (name == QLatin1String("help") || name == QLatin1String("version") ||
        name == QLatin1String("system")) {
      if (equals >= 0) {
        Fail(error, QStringLiteral("--%1 takes no value").arg(name));
        return std::nullopt;
      }
      (name == QLatin1String("help")      ? parsed.Help
       : name == QLatin1String("version") ? parsed.Version
                                          : parsed.System) = true;
      continue;
    }
    const bool isConfig = name == QLatin1String("config");
    if (!isConfig && !StationConfigKeys().contains(name)) {
      Fail(error, QStringLiteral("unknown option --%1")
                      .arg(QuotedKey(name).isEmpty() ? QStringLiteral("...") : name));
      return std::nullopt;
    }
    QString value;
    if (equals >= 0) {
      value = word.mid(equals + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      Fail(error, QStringLiteral("--%1 needs a value").arg(name));
      return std::nullopt;
    }
    if (given.contains(name)) {
      Fail(error, QStringLiteral("--%1 is given twice").arg(name));
      return std::nullopt;
    }
    given.insert(name);
    if (isConfig) {
      if (value.isEmpty()) {
        Fail(error, QStringLiteral("--config needs a file"));
        return std::nullopt;
      }
      parsed.ConfigFile = value;
    } else {
      parsed.Settings.push_back({name, value, QStringLiteral("--") + name});
    }
  }
  return parsed;
}

std::optional<std::vector<ConfigSetting>> ParseStationConfigText(const QString& text,
                                                                 const QString& fileName,
                                                                 QString* error) {
  std::vector<ConfigSetting> settings;
  std::map<QString, int> lineOf;
  const QStringList lines = text.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    const QString where = QStringLiteral("%1:%2").arg(fileName).arg(number);
    QString line = lines[i];
    if (i == 0 && line.startsWith(QChar(0xFEFF))) {
      line.remove(0, 1);
    }
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith('#')) {
      continue;
    }
    const qsizetype equals = trimmed.indexOf('=');
    if (equals < 0) {
      Fail(error, QStringLiteral("%1: not a key = value line").arg(where));
      return std::nullopt;
    }
    const QString key = trimmed.left(equals).trimmed();
    const QString value = trimmed.mid(equals + 1).trimmed();
    if (!StationConfigKeys().contains(key)) {
      const QString quoted = QuotedKey(key);
      Fail(error, quoted.isEmpty() ? QStringLiteral("%1: unknown key").arg(where)
                                   : QStringLiteral("%1: unknown key %2").arg(where, quoted));
      return std::nullopt;
    }
    const auto [seen, fresh] = lineOf.emplace(key, number);
    if (!fresh) {
      Fail(error, QStringLiteral("%1: %2 is set twice (first on line %3)")
                      .arg(where, key)
                      .arg(seen->second));
      return std::nullopt;
    }
    settings.push_back({key, value, where});
  }
  return settings;
}

bool ApplyStationSettings(const std::vector<ConfigSetting>& fileSettings,
                          const std::vector<ConfigSetting>& commandLine, StationConfig& config,
                          QString* error) {
  std::map<QString, QString> where;
  if (!ApplySource(fileSettings, config, where, error) ||
      !ApplySource(commandLine, config, where, error)) {
    return false;
  }
  if (!config.MqttCaFile.isEmpty() && !(config.Mqtt && config.Mqtt->Tls)) {
    return Fail(error, QStringLiteral("%1: mqtt-ca-file needs an mqtts:// broker")
                           .arg(where[QStringLiteral("mqtt-ca-file")]));
  }
  return true;
}

bool RunsAsSystemService(bool systemFlag, bool invocationIdSet, bool root) {
  return systemFlag || (invocationIdSet && root);
}

QString DefaultStationConfigPath(bool system, const QString& configurationHome) {
  return system ? QStringLiteral("/etc/vantor/station.conf")
                : QDir(configurationHome).filePath(QStringLiteral("vantor/station.conf"));
}

std::optional<StationConfig> LoadStationConfig(const StationArguments& arguments,
                                               const QString& defaultPath, QString* error) {
  const bool given = !arguments.ConfigFile.isEmpty();
  const QString path = given ? arguments.ConfigFile : defaultPath;
  std::vector<ConfigSetting> fileSettings;
  QFile file(path);
  if (given || file.exists()) {
    if (!file.open(QIODevice::ReadOnly)) {
      Fail(error,
           QStringLiteral("cannot read %1: %2")
               .arg(path, file.exists() ? file.errorString() : QStringLiteral("no such file")));
      return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(file.readAll());
    if (decoder.hasError()) {
      Fail(error, QStringLiteral("%1: is not UTF-8 text").arg(path));
      return std::nullopt;
    }
    std::optional<std::vector<ConfigSetting>> parsed = ParseStationConfigText(text, path, error);
    if (!parsed) {
      return std::nullopt;
    }
    fileSettings = std::move(*parsed);
  }
  StationConfig config;
  if (!ApplyStationSettings(fileSettings, arguments.Settings, config, error)) {
    return std::nullopt;
  }
  return config;
}

QStringList StationConfigSummary(const StationConfig& config) {
  const auto seconds = [](int64_t ms) { return QString::number(static_cast<double>(ms) / 1000.0); };
  QStringList lines;
  const auto add = [&lines](const char* key, const QString& value) {
    if (!value.isEmpty()) {
      lines << QStringLiteral("%1 = %2").arg(QLatin1String(key), value);
    }
  };
  if (!config.Where.Device.isEmpty()) {
    add("device", config.Where.Device);
  } else if (config.Where.All) {
    add("port", QStringLiteral("all"));
  } else {
    QStringList ports;
    for (const int port : config.Where.Ports) {
      ports << QString::number(port);
    }
    add("port", ports.join(','));
  }
  const QString host =
      config.ListenHost.contains(':') ? '[' + config.ListenHost + ']' : config.ListenHost;
  add("listen", host + ':' + QString::number(config.ListenPort));
  if (config.Mqtt) {
    add("mqtt", config.Mqtt->Redacted());
  }
  add("mqtt-base-topic", config.BaseTopic);
  add("discovery-prefix", config.DiscoveryPrefix);
  add("mqtt-ca-file", config.MqttCaFile);
  add("mqtt-client-id", config.MqttClientId);
  add("history", MaskSecrets(config.History));
  add("trace", config.Trace);
  add("alarm-hold", seconds(config.AlarmHoldMs));
  add("alarm-hysteresis", QString::number(config.AlarmHysteresisPercent));
  add("on-alarm", config.OnAlarm);
  add("on-alarm-timeout", seconds(config.OnAlarmTimeoutMs));
  return lines;
}

QString StationHelpText() {
  return QStringLiteral(
      "Usage: vantor-station [--config FILE] [--system] [--KEY VALUE]...\n"
      "\n"
      "Polls the dosimeters once a second and publishes their readings to an\n"
      "MQTT broker (with Home Assistant discovery) and on /metrics.\n"
      "\n"
      "  --port N,M,...|all     COM numbers of the port map (default: all)\n"
      "  --device PATH          one serial device instead\n"
      "  --listen HOST:PORT     /metrics and the status page (127.0.0.1:9464)\n"
      "  --mqtt URL             mqtt://[user[:password]@]host[:port], or mqtts://\n"
      "  --mqtt-base-topic T    the topics' first levels (vantor)\n"
      "  --discovery-prefix T   Home Assistant's discovery prefix (homeassistant)\n"
      "  --mqtt-ca-file FILE    CA certificates for mqtts:// (the system's)\n"
      "  --mqtt-client-id ID    (vantor-station-<host name>)\n"
      "  --history URL          a SQLite file or postgresql://user@host/database\n"
      "  --trace FILE           records every exchange on the lines\n"
      "  --alarm-hold S         seconds over a threshold before an alarm (5)\n"
      "  --alarm-hysteresis P   percent under it to clear the alarm (10)\n"
      "  --on-alarm COMMAND     run on every alarm raised or cleared, told by\n"
      "                         VANTOR_INSTRUMENT, VANTOR_PORT, VANTOR_THRESHOLD,\n"
      "                         VANTOR_LEVEL, VANTOR_VALUE, VANTOR_TIME, VANTOR_STATE\n"
      "  --on-alarm-timeout S   seconds the command may take (30)\n"
      "  --config FILE          the configuration file, which must exist\n"
      "  --system               runs as the system's service\n"
      "\n"
      "The file holds the same keys as `key = value` lines (# starts a comment\n"
      "line); the command line overrides it. Without --config it is\n"
      "/etc/vantor/station.conf for the system's service (--system, or started\n"
      "by systemd as root), else $XDG_CONFIG_HOME/vantor/station.conf, and may\n"
      "be missing.\n");
}

QString DefaultMqttClientId(const QString& hostName) {
  QString id = QStringLiteral("vantor-station");
  if (!hostName.isEmpty()) {
    id += '-' + hostName.section('.', 0, 0);
  }
  return id;
}

}  // namespace vantor
