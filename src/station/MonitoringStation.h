#pragma once
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "CalendarClock.h"
#include "HomeAssistant.h"
#include "StationConfig.h"

namespace vantor {

class AlarmCommand;
class HistoryService;
class LineTrace;
class MqttClient;
class StationHttp;
class StationInstrument;
struct AlarmTransition;
struct InstrumentStatus;
struct StationStatus;

// What the station takes from where it runs.
struct StationSurroundings {
  const CalendarClock* Clock = nullptr;  // none: the system's
  // One line of the log (standard error, which journald keeps).
  std::function<void(const QString&)> Log;
  QString Version;
  QString HostName;
  // The service's own directory ($STATE_DIRECTORY): the SQLite history goes
  // there unless one is configured. Empty: the history's default place.
  QString StateDirectory;
  // The line's pace; tests and benchmarks may poll faster.
  std::chrono::milliseconds PollPeriod{1000};
};

// vantor-station: every configured instrument on its own engine, what they
// read kept in the history, published to the broker (Home Assistant's
// discovery with it) and shown at /metrics, / and /api/instruments.
// Nothing beside the instruments waits for anything: the broker, the
// history and the web clients each fail on their own, are told once in the
// log and come back by themselves.
class MonitoringStation : public QObject {
  Q_OBJECT

 public:
  MonitoringStation(StationConfig config, StationSurroundings surroundings,
                    QObject* parent = nullptr);
  // Stops as Stop does, unless it was stopped.
  ~MonitoringStation() override;
  MonitoringStation(const MonitoringStation&) = delete;
  MonitoringStation& operator=(const MonitoringStation&) = delete;

  // Opens the history, the web server and the broker connection and starts
  // every instrument. The mistake when the station cannot run (the address
  // to listen on is taken, a broker setting cannot be used).
  std::optional<QString> Start();
  // A new configuration, from SIGHUP: what changed is made again, what did
  // not goes on untouched (an instrument whose line and history stay is not
  // read again).
  std::optional<QString> Reload(const StationConfig& config);
  // Stops the instruments (each between two exchanges), tells the broker
  // they and the station are offline, and closes the history: what it could
  // not take in time waits in its spool file. Bounded (about 2 s).
  void Stop();

  const StationConfig& Config() const { return config_; }
  quint16 HttpPort() const;
  QByteArray MetricsText() const;
  std::vector<InstrumentStatus> Statuses() const;
  StationStatus Status() const;
  // One line for systemd's STATUS: instruments answering, broker, history.
  QString StatusLine() const;
  const std::vector<std::unique_ptr<StationInstrument>>& Instruments() const {
    return instruments_;
  }

 private:
  void StartHistory();
  void StartInstruments();
  void StopInstruments();
  std::optional<QString> StartBroker();
  void StopBroker();
  std::optional<QString> StartHttp();
  void StartAlarmCommand();
  void Watch(StationInstrument& instrument);
  void PublishInstrument(const StationInstrument& instrument);
  void PublishAll();
  void OnAlarm(const StationInstrument& instrument, const AlarmTransition& transition);
  void Log(const QString& line) const;

  StationConfig config_;
  StationSurroundings surroundings_;
  SystemClock systemClock_;
  const CalendarClock& clock_;
  int64_t startedMs_ = 0;
  bool stopped_ = true;

  std::unique_ptr<HistoryService> history_;
  std::vector<std::unique_ptr<LineTrace>> traces_;
  std::vector<std::unique_ptr<StationInstrument>> instruments_;
  std::unique_ptr<MqttClient> mqtt_;
  HaTopics topics_;
  std::unique_ptr<StationHttp> http_;
  std::unique_ptr<AlarmCommand> onAlarm_;
};

}  // namespace vantor
