// vantor-station: the instruments polled once a second, unattended, for
// MQTT / Home Assistant, Prometheus and the history.
#include <signal.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDateTime>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "ExitSignals.h"
#include "MonitoringStation.h"
#include "ServiceNotifier.h"
#include "StationConfig.h"

namespace {

// One line on standard error. journald stamps what it keeps; a terminal
// gets the time here.
void LogLine(const QString& line) {
  static const bool journal = qEnvironmentVariableIsSet("JOURNAL_STREAM");
  QByteArray text = line.toUtf8();
  if (!journal) {
    text = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + ' ' + text;
  }
  text += '\n';
  std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
  std::fflush(stderr);
}

void Complain(const QString& message) {
  const QByteArray text = "vantor-station: " + message.toUtf8() + '\n';
  std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
}

struct Loaded {
  std::optional<vantor::StationConfig> Config;
  QString Error;
};

bool SystemService(const vantor::StationArguments& arguments) {
  return vantor::RunsAsSystemService(arguments.System, qEnvironmentVariableIsSet("INVOCATION_ID"),
                                     ::geteuid() == 0);
}

Loaded Load(const vantor::StationArguments& arguments) {
  const bool system = SystemService(arguments);
  const QString path = vantor::DefaultStationConfigPath(
      system, QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
  Loaded loaded;
  loaded.Config = vantor::LoadStationConfig(arguments, path, &loaded.Error);
  return loaded;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("vantor-station"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VANTOR_VERSION));

  QString error;
  const std::optional<vantor::StationArguments> arguments =
      vantor::ParseStationArguments(QCoreApplication::arguments().mid(1), &error);
  if (!arguments) {
    Complain(error + QStringLiteral(" (see vantor-station --help)"));
    return 2;
  }
  if (arguments->Help) {
    std::fputs(vantor::StationHelpText().toUtf8().constData(), stdout);
    return 0;
  }
  if (arguments->Version) {
    std::printf("vantor-station %s\n", VANTOR_VERSION);
    return 0;
  }
  if (SystemService(*arguments)) {
    // The system's station keeps its port map (and the history's address,
    // if shared) beside station.conf, in /etc/vantor, and what it writes in
    // its state directory, unless told otherwise.
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME")) {
      qputenv("XDG_CONFIG_HOME", "/etc");
    }
    const QByteArray state = qgetenv("STATE_DIRECTORY").split(':').front();
    if (qEnvironmentVariableIsEmpty("XDG_DATA_HOME") && !state.isEmpty()) {
      qputenv("XDG_DATA_HOME", state);
    }
  }
  Loaded loaded = Load(*arguments);
  if (!loaded.Config) {
    Complain(loaded.Error);
    return 2;
  }

  vantor::ServiceNotifier notifier;
  vantor::StationSurroundings surroundings;
  surroundings.Log = &LogLine;
  surroundings.Version = QStringLiteral(VANTOR_VERSION);
  surroundings.HostName = QSysInfo::machineHostName();
  surroundings.StateDirectory =
      qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
  if (const QByteArray ms = qgetenv("VANTOR_STATION_POLL_MS"); !ms.isEmpty()) {
    // Tests and benchmarks only: a faster pace than the instrument's second.
    surroundings.PollPeriod = std::chrono::milliseconds(std::max(50, ms.toInt()));
  }
  vantor::MonitoringStation station(*loaded.Config, surroundings);
  for (const QString& line : vantor::StationConfigSummary(*loaded.Config)) {
    LogLine(QStringLiteral("config: ") + line);
  }
  if (const auto failure = station.Start()) {
    Complain(*failure);
    return 1;
  }

  // Ctrl-C and SIGTERM end it with everything written; SIGHUP reads the
  // configuration again and keeps the old one when the new one is wrong.
  const vantor::ExitSignals exitSignals([&](int signal) {
    if (signal == SIGHUP) {
      notifier.Reloading();
      Loaded next = Load(*arguments);
      if (!next.Config) {
        LogLine(QStringLiteral("the configuration was not reloaded: ") + next.Error);
      } else {
        LogLine(QStringLiteral("configuration reloaded"));
        if (const auto failure = station.Reload(*next.Config)) {
          LogLine(*failure);
        }
      }
      notifier.Ready();
      notifier.Status(station.StatusLine());
      return;
    }
    if (signal == SIGPIPE) {
      return;
    }
    notifier.Stopping();
    LogLine(QStringLiteral("stopping"));
    station.Stop();
    QCoreApplication::exit(0);
  });

  QTimer status;
  QObject::connect(&status, &QTimer::timeout, &status,
                   [&] { notifier.Status(station.StatusLine()); });
  status.start(10000);
  QTimer watchdog;
  if (const auto interval = notifier.WatchdogInterval()) {
    // Half the interval, as systemd advises; the ping says that the loop
    // that serves everything beside the instruments still turns.
    QObject::connect(&watchdog, &QTimer::timeout, &watchdog, [&] { notifier.Watchdog(); });
    watchdog.start(static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(*interval).count() / 2));
  }
  notifier.Ready();
  notifier.Status(station.StatusLine());
  LogLine(QStringLiteral("vantor-station %1 started").arg(QStringLiteral(VANTOR_VERSION)));
  return QCoreApplication::exec();
}
