#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "BrokerUrl.h"

namespace vantor {

// Which instruments the station polls: the ports of the port map (a list,
// or every port it lists), or one serial device by its path.
struct StationPorts {
  bool All = true;
  std::vector<int> Ports;  // ascending, each once; empty with All or Device
  QString Device;
};

// Everything vantor-station is told, from its configuration file and its
// command line. Defaults are what a station without either gets.
struct StationConfig {
  StationPorts Where;
  QString ListenHost = QStringLiteral("127.0.0.1");  // /metrics and the status page
  int ListenPort = 9464;
  std::optional<MqttUrl> Mqtt;  // none: no MQTT at all
  QString History;              // as vantorctl --history takes it; empty: the default
  QString Trace;                // empty: no trace
  QString BaseTopic = QStringLiteral("vantor");
  QString DiscoveryPrefix = QStringLiteral("homeassistant");
  QString MqttCaFile;    // empty: the system's certificates
  QString MqttClientId;  // empty: vantor-station-<host name>
  int64_t AlarmHoldMs = 5000;
  double AlarmHysteresisPercent = 10;
  QString OnAlarm;  // a command run through /bin/sh; empty: none
  int64_t OnAlarmTimeoutMs = 30000;
};

// One key = value of the file, or one --key value of the command line, with
// where it was said for messages ("station.conf:12", "--port").
struct ConfigSetting {
  QString Key;
  QString Value;
  QString Where;
};

// The command line, read without looking at any file.
struct StationArguments {
  QString ConfigFile;   // --config FILE; empty: the default place
  bool System = false;  // --system: run as the system's service
  bool Help = false;
  bool Version = false;
  std::vector<ConfigSetting> Settings;
};

// The keys a file and the command line take, in the order --help lists them.
const QStringList& StationConfigKeys();

// --key value or --key=value for every key, plus --config FILE, --system,
// --help and --version. Nothing on an unknown option, a missing value or a
// key given twice; `error` says which.
std::optional<StationArguments> ParseStationArguments(const QStringList& arguments, QString* error);

// A file of `key = value` lines; blank lines and lines whose first
// non-blank character is # are skipped (# inside a value is the value's).
// Nothing on the first bad line; `error` names the file, the line and why.
std::optional<std::vector<ConfigSetting>> ParseStationConfigText(const QString& text,
                                                                 const QString& fileName,
                                                                 QString* error);

// Applies the settings in order onto `config`, checking each value. A
// command-line port or device replaces both of the file's. `error` names
// where the bad one was said; a value that can hold a password (mqtt,
// history) is never quoted.
bool ApplyStationSettings(const std::vector<ConfigSetting>& fileSettings,
                          const std::vector<ConfigSetting>& commandLine, StationConfig& config,
                          QString* error);

// Whether the station runs as the system's service: --system, or started by
// systemd (INVOCATION_ID set) as root, which a system unit is and a user's
// unit is not.
bool RunsAsSystemService(bool systemFlag, bool invocationIdSet, bool root);

// Where the file is looked for when --config names none:
// /etc/vantor/station.conf for the system's service, else
// <configuration home>/vantor/station.conf.
QString DefaultStationConfigPath(bool system, const QString& configurationHome);

// The whole configuration: the file (--config, which must exist, or the
// default place, which may be missing) under the command line.
std::optional<StationConfig> LoadStationConfig(const StationArguments& arguments,
                                               const QString& defaultPath, QString* error);

// The configuration as `key = value` lines a file could hold, for the log
// and the status page: every key with a value, the broker's and the
// history's passwords as ***.
QStringList StationConfigSummary(const StationConfig& config);

// What --help prints: the options, the file and its default places.
QString StationHelpText();

// The broker's client id when none is configured.
QString DefaultMqttClientId(const QString& hostName);

}  // namespace vantor
