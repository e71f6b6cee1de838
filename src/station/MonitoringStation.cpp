#include "MonitoringStation.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>

#include "AlarmCommand.h"
#include "AlarmTracker.h"
#include "HistoryLocation.h"
#include "HistoryService.h"
#include "LineTrace.h"
#include "Metrics.h"
#include "MqttClient.h"
#include "PortMap.h"
#include "ServiceNotifier.h"
#include "StationHttp.h"
#include "StationInstrument.h"
#include "StatusPage.h"

namespace vantor {
namespace {

// Everything that makes the instruments anew when it changes: their lines,
// where their readings go and the trace of them.
bool SameLines(const StationConfig& a, const StationConfig& b) {
  return a.Where.All == b.Where.All && a.Where.Ports == b.Where.Ports &&
         a.Where.Device == b.Where.Device && a.History == b.History && a.Trace == b.Trace;
}

bool SameBroker(const StationConfig& a, const StationConfig& b) {
  const auto url = [](const std::optional<MqttUrl>& u) {
    return u ? u->Redacted() + QLatin1Char('\n') + u->Password : QString();
  };
  return url(a.Mqtt) == url(b.Mqtt) && a.BaseTopic == b.BaseTopic &&
         a.DiscoveryPrefix == b.DiscoveryPrefix && a.MqttCaFile == b.MqttCaFile &&
         a.MqttClientId == b.MqttClientId;
}

AlarmRules RulesOf(const StationConfig& config) {
  return AlarmRules{config.AlarmHoldMs, config.AlarmHysteresisPercent};
}

// With several lines each writes its own trace: station.trace becomes
// station-COM3.trace, station-device.trace.
QString TraceFileFor(const QString& file, const StationLine& line, bool several) {
  if (!several) {
    return file;
  }
  const QFileInfo info(file);
  const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
  return QDir(info.path())
      .filePath(info.completeBaseName() + QLatin1Char('-') + line.Label() + suffix);
}

}  // namespace

MonitoringStation::MonitoringStation(StationConfig config, StationSurroundings surroundings,
                                     QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      surroundings_(std::move(surroundings)),
      clock_(surroundings_.Clock != nullptr ? *surroundings_.Clock : systemClock_) {}

MonitoringStation::~MonitoringStation() {
  Stop();
}

void MonitoringStation::Log(const QString& line) const {
  if (surroundings_.Log) {
    surroundings_.Log(line);
  }
}

std::optional<QString> MonitoringStation::Start() {
  startedMs_ = clock_.NowMs();
  stopped_ = false;
  if (auto error = StartHttp()) {
    return error;
  }
  StartHistory();
  StartAlarmCommand();
  if (auto error = StartBroker()) {
    return error;
  }
  StartInstruments();
  return std::nullopt;
}

void MonitoringStation::StartHistory() {
  HistoryLocation location;
  if (config_.History.isEmpty() && !surroundings_.StateDirectory.isEmpty()) {
    location = ParseHistoryLocation(
        QDir(surroundings_.StateDirectory).filePath(QStringLiteral("history.sqlite")));
  } else {
    location = ConfiguredHistoryLocation(config_.History);
  }
  history_ = std::make_unique<HistoryService>(location);
  HistoryService* service = history_.get();
  service->OnOutcome = [this, service](const HistoryOutcome& outcome) {
    if (outcome.Notify && outcome.Lasting) {
      Log(QStringLiteral("history: %1; nothing is kept in it").arg(outcome.Error));
    } else if (outcome.Notify) {
      Log(QStringLiteral("history (%1) cannot be written: %2; readings wait and go in when it "
                         "answers again")
              .arg(service->Location().Text(), outcome.Error));
    } else if (outcome.Recovered) {
      Log(QStringLiteral("history (%1) is written again").arg(service->Location().Text()));
    }
  };
  Log(QStringLiteral("history: %1").arg(location.Text()));
}

void MonitoringStation::StartAlarmCommand() {
  onAlarm_.reset();
  if (!config_.OnAlarm.isEmpty()) {
    onAlarm_ = std::make_unique<AlarmCommand>(config_.OnAlarm, config_.OnAlarmTimeoutMs,
                                              [this](const QString& line) { Log(line); });
  }
}

void MonitoringStation::StartInstruments() {
  std::vector<StationLine> lines;
  if (!config_.Where.Device.isEmpty()) {
    lines.push_back(StationLine{0, config_.Where.Device});
  } else if (config_.Where.All) {
    for (const PortEntry& entry : PortMapEntries()) {
      lines.push_back(StationLine{entry.Number, {}});
    }
  } else {
    for (const int port : config_.Where.Ports) {
      lines.push_back(StationLine{port, {}});
    }
  }
  if (lines.empty()) {
    Log(QStringLiteral("no ports to poll: the port map lists none"));
  }
  const HistorySink sink{history_.get()};
  for (const StationLine& line : lines) {
    LineTrace* trace = nullptr;
    if (!config_.Trace.isEmpty()) {
      auto file = std::make_unique<LineTrace>();
      const QString path = TraceFileFor(config_.Trace, line, lines.size() > 1);
      QString error;
      if (file->WriteTo(path, &error)) {
        file->Note(QStringLiteral("program vantor-station %1, %2")
                       .arg(surroundings_.Version, line.Name()));
        trace = file.get();
        traces_.push_back(std::move(file));
      } else {
        Log(QStringLiteral("cannot write the trace %1: %2").arg(path, error));
      }
    }
    auto instrument = std::make_unique<StationInstrument>(line, clock_, sink, RulesOf(config_),
                                                          trace, surroundings_.PollPeriod);
    Watch(*instrument);
    instruments_.push_back(std::move(instrument));
  }
  QStringList names;
  for (const StationLine& line : lines) {
    names << line.Name();
  }
  if (!names.isEmpty()) {
    Log(QStringLiteral("polling %1").arg(names.join(QStringLiteral(", "))));
  }
}

void MonitoringStation::Watch(StationInstrument& instrument) {
  StationInstrument* i = &instrument;
  connect(i, &StationInstrument::Ticked, this, [this, i](const StationTick& tick) {
    if (!tick.Problem.isEmpty()) {
      Log(tick.Problem);
    }
    if (tick.ArchiveRead && i->Identified()) {
      const auto [read, missing] = *tick.ArchiveRead;
      Log(missing > 0 ? QStringLiteral("%1: %2 archive records read, %3 could not be read")
                            .arg(i->Line().Name())
                            .arg(read)
                            .arg(missing)
                      : QStringLiteral("%1: %2 archive records read into the history")
                            .arg(i->Line().Name())
                            .arg(read));
    }
    if (tick.Poll && tick.Poll->ClockSet && tick.Poll->ClockSet->Written) {
      Log(QStringLiteral("%1: the instrument's clock was %2 s off and was set")
              .arg(i->Line().Name())
              .arg(tick.Poll->ClockSet->DriftSeconds));
    }
    if (mqtt_ && i->Identified() && tick.Poll && tick.Poll->Read) {
      const HaInstrument ha = DescribeInstrument(*i->Identity());
      const InstrumentSnapshot now = i->Snapshot();
      mqtt_->Publish(topics_.State(ha),
                     StatePayload(now.Reading, now.ReadingMs, now.Alarms, i->Line().Label()),
                     false);
    }
  });
  connect(i, &StationInstrument::IdentityChanged, this,
          [this, i](const std::optional<InstrumentIdentity>& previous) {
            const HaInstrument now = DescribeInstrument(*i->Identity());
            if (previous) {
              const HaInstrument before = DescribeInstrument(*previous);
              Log(QStringLiteral("%1: another instrument answers: %2 (was %3)")
                      .arg(i->Line().Name(), now.Name, before.Name));
              if (mqtt_) {
                mqtt_->Publish(topics_.Availability(before), OfflinePayload, true);
              }
            } else {
              Log(QStringLiteral("%1: instrument %2, firmware %3")
                      .arg(i->Line().Name(), now.Name, now.Firmware));
            }
            PublishInstrument(*i);
          });
  connect(i, &StationInstrument::AvailabilityChanged, this, [this, i](bool available) {
    if (mqtt_ && i->Identified()) {
      mqtt_->Publish(topics_.Availability(DescribeInstrument(*i->Identity())),
                     available ? OnlinePayload : OfflinePayload, true);
    }
  });
  connect(i, &StationInstrument::AlarmChanged, this,
          [this, i](const AlarmTransition& t) { OnAlarm(*i, t); });
}

void MonitoringStation::OnAlarm(const StationInstrument& instrument, const AlarmTransition& t) {
  Log(QStringLiteral("%1: %2 alarm %3 %4: %5 µSv/h (threshold %6 µSv/h)")
          .arg(instrument.Line().Name(), instrument.Name())
          .arg(t.Threshold)
          .arg(t.Raised ? QStringLiteral("raised") : QStringLiteral("cleared"))
          .arg(t.Value)
          .arg(t.Level));
  if (onAlarm_) {
    // The command is not the service: it may not speak to systemd for it.
    QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
    ServiceNotifier::RemoveFrom(base);
    onAlarm_->Run(AlarmEnvironment(base, instrument.Name(), instrument.Line().Label(), t));
  }
}

void MonitoringStation::PublishInstrument(const StationInstrument& instrument) {
  if (!mqtt_ || !instrument.Identified()) {
    return;
  }
  const HaInstrument ha = DescribeInstrument(*instrument.Identity());
  for (const MqttMessage& message : DiscoveryMessages(topics_, ha)) {
    mqtt_->Publish(message.Topic, message.Payload, message.Retained);
  }
  mqtt_->Publish(topics_.Availability(ha), instrument.Available() ? OnlinePayload : OfflinePayload,
                 true);
}

void MonitoringStation::PublishAll() {
  if (!mqtt_) {
    return;
  }
  mqtt_->Publish(topics_.StationAvailability(), OnlinePayload, true);
  for (const auto& instrument : instruments_) {
    PublishInstrument(*instrument);
  }
}

std::optional<QString> MonitoringStation::StartBroker() {
  if (!config_.Mqtt) {
    return std::nullopt;
  }
  const MqttUrl& url = *config_.Mqtt;
  MqttSettings settings;
  settings.Host = url.Host;
  settings.Port = url.Port;
  settings.User = url.User;
  settings.Password = url.Password;
  settings.Tls = url.Tls;
  settings.CaFile = config_.MqttCaFile;
  settings.ClientId = config_.MqttClientId.isEmpty() ? DefaultMqttClientId(surroundings_.HostName)
                                                     : config_.MqttClientId;
  topics_ = HaTopics{};
  topics_.Base = config_.BaseTopic;
  topics_.DiscoveryPrefix = config_.DiscoveryPrefix;
  topics_.StationId = TopicSafeId(settings.ClientId);
  topics_.StationVersion = surroundings_.Version;
  settings.WillTopic = topics_.StationAvailability();
  settings.WillPayload = OfflinePayload;
  settings.WillRetained = true;
  mqtt_ = std::make_unique<MqttClient>(settings);
  const QString statusTopic = config_.DiscoveryPrefix + QStringLiteral("/status");
  mqtt_->Subscribe(statusTopic);
  connect(mqtt_.get(), &MqttClient::Connected, this, [this, url] {
    Log(QStringLiteral("broker %1 connected").arg(url.Redacted()));
    PublishAll();
  });
  connect(mqtt_.get(), &MqttClient::Disconnected, this, [this, url](const QString& reason) {
    Log(QStringLiteral("broker %1: %2; the station tries again").arg(url.Redacted(), reason));
  });
  connect(mqtt_.get(), &MqttClient::MessageReceived, this,
          [this, statusTopic](const QString& topic, const QByteArray& payload) {
            // Home Assistant came back: it asks for discovery again.
            if (topic == statusTopic && payload.trimmed() == OnlinePayload) {
              PublishAll();
            }
          });
  if (auto error = mqtt_->Start()) {
    mqtt_.reset();
    return QStringLiteral("broker %1: %2").arg(url.Redacted(), *error);
  }
  return std::nullopt;
}

void MonitoringStation::StopBroker() {
  if (!mqtt_) {
    return;
  }
  for (const auto& instrument : instruments_) {
    if (instrument->Identified()) {
      mqtt_->Publish(topics_.Availability(DescribeInstrument(*instrument->Identity())),
                     OfflinePayload, true);
    }
  }
  mqtt_->PublishAndDisconnect(topics_.StationAvailability(), OfflinePayload, true);
  mqtt_.reset();
}

std::optional<QString> MonitoringStation::StartHttp() {
  StationHttp::Pages pages;
  pages.Metrics = [this] { return MetricsText(); };
  pages.Status = [this](const QString& lang, const QByteArray& accept) {
    return RenderStatusPage(Statuses(), Status(), ChoosePageLanguage(lang, accept));
  };
  pages.Instruments = [this] { return RenderInstrumentsJson(Statuses(), Status()); };
  http_ = std::make_unique<StationHttp>(pages);
  if (auto error = http_->Listen(config_.ListenHost, config_.ListenPort)) {
    http_.reset();
    return error;
  }
  Log(QStringLiteral("serving /metrics and the status page on %1:%2")
          .arg(config_.ListenHost)
          .arg(http_->Port()));
  return std::nullopt;
}

void MonitoringStation::StopInstruments() {
  // All are told first, so their last exchanges end side by side.
  for (const auto& instrument : instruments_) {
    instrument->RequestStop();
  }
  instruments_.clear();
  traces_.clear();
}

void MonitoringStation::Stop() {
  if (stopped_) {
    return;
  }
  stopped_ = true;
  for (const auto& instrument : instruments_) {
    instrument->RequestStop();
  }
  StopBroker();
  StopInstruments();
  http_.reset();
  onAlarm_.reset();
  if (history_) {
    history_->Close(1200);
    const int64_t spooled = history_->Spooled();
    if (spooled > 0) {
      Log(QStringLiteral("%1 readings and events wait in %2 for the history")
              .arg(spooled)
              .arg(history_->SpoolPath()));
    }
    history_.reset();
  }
}

std::optional<QString> MonitoringStation::Reload(const StationConfig& config) {
  const StationConfig before = config_;
  config_ = config;
  if (before.ListenHost != config.ListenHost || before.ListenPort != config.ListenPort) {
    http_.reset();
    if (auto error = StartHttp()) {
      Log(*error);
    }
  }
  const bool lines = !SameLines(before, config);
  const bool broker = !SameBroker(before, config);
  if (lines) {
    for (const auto& instrument : instruments_) {
      instrument->RequestStop();
      if (mqtt_ && instrument->Identified() && !broker) {
        mqtt_->Publish(topics_.Availability(DescribeInstrument(*instrument->Identity())),
                       OfflinePayload, true);
      }
    }
  }
  if (broker) {
    StopBroker();
  }
  if (lines) {
    StopInstruments();
    if (before.History != config.History && history_) {
      history_->Close(1200);
      history_.reset();
      StartHistory();
    }
  } else {
    for (const auto& instrument : instruments_) {
      instrument->SetAlarmRules(RulesOf(config));
    }
  }
  if (before.OnAlarm != config.OnAlarm || before.OnAlarmTimeoutMs != config.OnAlarmTimeoutMs) {
    StartAlarmCommand();
  }
  std::optional<QString> error;
  if (broker) {
    error = StartBroker();
  }
  if (lines) {
    StartInstruments();
  }
  return error;
}

quint16 MonitoringStation::HttpPort() const {
  return http_ ? http_->Port() : 0;
}

QByteArray MonitoringStation::MetricsText() const {
  std::vector<InstrumentSnapshot> snapshots;
  StationSnapshot station;
  for (const auto& instrument : instruments_) {
    snapshots.push_back(instrument->Snapshot());
    for (const auto& [outcome, count] : instrument->Exchanges()) {
      station.Exchanges[{instrument->Line().Label(), outcome}] += count;
    }
  }
  if (history_) {
    station.HistoryPending = history_->Pending();
  }
  if (config_.Mqtt) {
    station.MqttConnected = mqtt_ && mqtt_->IsConnected();
  }
  return RenderMetrics(snapshots, station, ReadProcessFacts());
}

std::vector<InstrumentStatus> MonitoringStation::Statuses() const {
  std::vector<InstrumentStatus> all;
  for (const auto& instrument : instruments_) {
    InstrumentStatus s;
    s.Now = instrument->Snapshot();
    if (instrument->Identified()) {
      const HaInstrument ha = DescribeInstrument(*instrument->Identity());
      s.Serial = ha.Serial;
      s.Model = ha.Model;
      s.Firmware = ha.Firmware;
      s.Levels = DoseRateLevels(instrument->Settings());
    }
    s.Link = StationLinkStateName(instrument->State());
    s.LastSeenMs = instrument->LastSeenMs();
    s.LastHour.assign(instrument->LastHour().begin(), instrument->LastHour().end());
    all.push_back(std::move(s));
  }
  return all;
}

StationStatus MonitoringStation::Status() const {
  StationStatus s;
  s.Version = surroundings_.Version;
  s.HostName = surroundings_.HostName;
  s.NowMs = clock_.NowMs();
  s.StartedMs = startedMs_;
  if (config_.Mqtt) {
    s.MqttConnected = mqtt_ && mqtt_->IsConnected();
    s.Broker = config_.Mqtt->Redacted();
  }
  if (history_) {
    s.HistoryPending = history_->Pending();
    s.History = history_->Location().Text();
  }
  return s;
}

QString MonitoringStation::StatusLine() const {
  int answering = 0;
  for (const auto& instrument : instruments_) {
    answering += instrument->Available() ? 1 : 0;
  }
  QString line =
      QStringLiteral("%1 of %2 instruments answering").arg(answering).arg(instruments_.size());
  if (config_.Mqtt) {
    line += mqtt_ && mqtt_->IsConnected() ? QStringLiteral("; broker connected")
                                          : QStringLiteral("; broker not connected");
  }
  if (history_ && history_->Pending() > 0) {
    line += QStringLiteral("; %1 items wait for the history").arg(history_->Pending());
  }
  return line;
}

}  // namespace vantor
