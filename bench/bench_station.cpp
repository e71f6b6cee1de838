// The monitoring station under a long watch: eight virtual instruments
// (vantor-sim, each on its own pseudo-terminal at the line rate) polled by
// one vantor-station for --minutes (10 by default), publishing to a
// mosquitto broker of the bench's own, /metrics scraped every second.
// Beside it, first, the same eight instruments polled by eight
// `vantorctl live` processes for --baseline-minutes (1), the tool one would
// otherwise leave running, without a broker or a web server.
//
// Printed: CPU share of one core (goal under 5%), resident memory at minute
// 1 and at the end (goal flat within 2 MB), the longest gap between two
// readings of one instrument (goal under 1.5 s), /metrics latency p99 (goal
// under 10 ms) and the MQTT delay p99 from the reading's time to the
// broker's delivery to a subscriber (goal under 50 ms).
//
//   bench_station [--minutes N] [--baseline-minutes N]
#include <mosquitto.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "MqttBroker.h"

namespace {

constexpr int FirstPort = 3;
constexpr int Instruments = 8;

struct ProcessUse {
  double CpuSeconds = 0;
  double ResidentBytes = 0;
};

ProcessUse UseOf(qint64 pid) {
  ProcessUse use;
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) {
    return use;
  }
  const QByteArray text = stat.readAll();
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  // Fields after the name: state is 0, utime 11, stime 12, rss 21.
  use.CpuSeconds = (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
  use.ResidentBytes = fields.value(21).toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE));
  return use;
}

double Percentile(std::vector<double> samples, double share) {
  if (samples.empty()) {
    return 0;
  }
  std::sort(samples.begin(), samples.end());
  return samples[std::min(samples.size() - 1, static_cast<size_t>(share * samples.size()))];
}

// The state messages as a subscriber gets them, with the time they came.
class StateWatch {
 public:
  explicit StateWatch(int port) {
    mosquitto_lib_init();
    mosq_ = mosquitto_new("bench-watch", true, this);
    mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
      static_cast<StateWatch*>(self)->Take(m);
    });
    mosquitto_connect(mosq_, "127.0.0.1", port, 30);
    mosquitto_subscribe(mosq_, nullptr, "vantor/+/state", 1);
    mosquitto_loop_start(mosq_);
  }
  ~StateWatch() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
  }
  StateWatch(const StateWatch&) = delete;
  StateWatch& operator=(const StateWatch&) = delete;

  void Take(const mosquitto_message* m) {
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const QJsonObject state =
        QJsonDocument::fromJson(QByteArray(static_cast<const char*>(m->payload), m->payloadlen))
            .object();
    const int64_t at =
        QDateTime::fromString(state[QStringLiteral("time")].toString(), Qt::ISODateWithMs)
            .toMSecsSinceEpoch();
    const std::lock_guard lock(mutex_);
    if (counting_) {
      delays_.push_back(static_cast<double>(now - at));
      times_[m->topic].push_back(at);
    }
  }
  void Count(bool on) {
    const std::lock_guard lock(mutex_);
    counting_ = on;
  }
  std::vector<double> Delays() const {
    const std::lock_guard lock(mutex_);
    return delays_;
  }
  std::map<std::string, std::vector<int64_t>> Times() const {
    const std::lock_guard lock(mutex_);
    return times_;
  }

 private:
  mosquitto* mosq_ = nullptr;
  mutable std::mutex mutex_;
  bool counting_ = false;
  std::vector<double> delays_;
  std::map<std::string, std::vector<int64_t>> times_;
};

double LongestGapSeconds(const std::map<std::string, std::vector<int64_t>>& times) {
  int64_t longest = 0;
  for (const auto& [topic, at] : times) {
    for (size_t i = 1; i < at.size(); ++i) {
      longest = std::max(longest, at[i] - at[i - 1]);
    }
  }
  return static_cast<double>(longest) / 1000.0;
}

double MetricsLatencyMs(int port, bool* ok) {
  QElapsedTimer timer;
  timer.start();
  QTcpSocket socket;
  socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
  *ok = socket.waitForConnected(2000);
  socket.write("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  // Until the whole body is in (the server may keep the connection open).
  QByteArray reply;
  while (socket.waitForReadyRead(2000)) {
    reply += socket.readAll();
    const qsizetype end = reply.indexOf("\r\n\r\n");
    const qsizetype field = reply.toLower().indexOf("content-length:");
    if (end > 0 && field > 0 && field < end &&
        reply.size() - end - 4 >=
            reply.mid(field + 15, reply.indexOf('\r', field) - field - 15).trimmed().toLongLong()) {
      break;
    }
  }
  *ok = *ok && reply.startsWith("HTTP/1.1 200") && reply.contains("vantor_up");
  return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// Runs `seconds`, calling `tick` once a second.
void Every(double seconds, const std::function<void(int second)>& tick) {
  QElapsedTimer timer;
  timer.start();
  for (int second = 1; timer.elapsed() < static_cast<qint64>(seconds * 1000); ++second) {
    const qint64 next = static_cast<qint64>(second) * 1000;
    if (next > timer.elapsed()) {
      QThread::msleep(static_cast<unsigned long>(next - timer.elapsed()));
    }
    QCoreApplication::processEvents();
    tick(second);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  double minutes = 10;
  double baselineMinutes = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--minutes") == 0) {
      minutes = std::atof(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--baseline-minutes") == 0) {
      baselineMinutes = std::atof(argv[i + 1]);
    }
  }
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());

  std::vector<std::unique_ptr<QProcess>> sims;
  QStringList ports;
  for (int n = 0; n < Instruments; ++n) {
    const int port = FirstPort + n;
    auto sim = std::make_unique<QProcess>();
    sim->start(
        QStringLiteral(VANTOR_SIM_EXECUTABLE),
        {QStringLiteral("--com"), QString::number(port), QStringLiteral("--serial"),
         QStringLiteral("SN-ST-%1").arg(port), QStringLiteral("--archive"), QStringLiteral("200")});
    if (!sim->waitForReadyRead(10000)) {
      std::fprintf(stderr, "vantor-sim --com %d did not start\n", port);
      return 1;
    }
    sims.push_back(std::move(sim));
    ports << QString::number(port);
  }

  // The baseline: eight vantorctl live, one an instrument.
  double baselineCpu = 0;
  double baselineResident = 0;
  {
    std::vector<std::unique_ptr<QProcess>> live;
    for (const QString& port : ports) {
      auto p = std::make_unique<QProcess>();
      p->start(QStringLiteral(VANTORCTL_EXECUTABLE),
               {QStringLiteral("--port"), port, QStringLiteral("--history"),
                home.filePath(QStringLiteral("baseline.sqlite")), QStringLiteral("--format"),
                QStringLiteral("csv"), QStringLiteral("live")});
      live.push_back(std::move(p));
    }
    QThread::sleep(5);  // past finding the instrument
    std::vector<ProcessUse> start;
    for (const auto& p : live) {
      start.push_back(UseOf(p->processId()));
    }
    Every(baselineMinutes * 60, [&](int) {
      for (const auto& p : live) {
        p->readAllStandardOutput();
      }
    });
    for (size_t i = 0; i < live.size(); ++i) {
      const ProcessUse end = UseOf(live[i]->processId());
      baselineCpu += end.CpuSeconds - start[i].CpuSeconds;
      baselineResident += end.ResidentBytes;
      live[i]->terminate();
      live[i]->waitForFinished(5000);
    }
    baselineCpu /= baselineMinutes * 60;
  }

  vantor::test::MqttBroker broker;
  if (const std::string problem = broker.Start(); !problem.empty()) {
    std::fprintf(stderr, "mosquitto: %s\n", problem.c_str());
    return 1;
  }
  const int httpPort = vantor::test::FreePort();
  QProcess station;
  station.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  station.start(QStringLiteral(VANTOR_STATION_EXECUTABLE),
                {QStringLiteral("--port"), ports.join(','), QStringLiteral("--listen"),
                 QStringLiteral("127.0.0.1:%1").arg(httpPort), QStringLiteral("--mqtt"),
                 QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.Port()),
                 QStringLiteral("--history"), home.filePath(QStringLiteral("station.sqlite"))});
  if (!station.waitForStarted(10000)) {
    std::fprintf(stderr, "vantor-station did not start\n");
    return 1;
  }
  StateWatch watch(broker.Port());
  // Past the archive reads: every instrument publishes.
  QThread::sleep(15);
  watch.Count(true);

  std::vector<double> latencies;
  int failedScrapes = 0;
  ProcessUse atMinute1;
  ProcessUse atStart = UseOf(station.processId());
  QElapsedTimer wall;
  wall.start();
  Every(minutes * 60, [&](int second) {
    bool ok = false;
    latencies.push_back(MetricsLatencyMs(httpPort, &ok));
    failedScrapes += ok ? 0 : 1;
    if (second == 60) {
      atMinute1 = UseOf(station.processId());
    }
  });
  const ProcessUse atEnd = UseOf(station.processId());
  // Exchanges that brought nothing, as the station counts them.
  bool scraped = false;
  double failedExchanges = 0;
  double exchanges = 0;
  {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(httpPort));
    socket.waitForConnected(2000);
    socket.write("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray text;
    while (socket.waitForReadyRead(500)) {
      text += socket.readAll();
    }
    for (const QByteArray& line : text.split('\n')) {
      if (line.startsWith("vantor_exchanges_total{")) {
        const double n = line.mid(line.lastIndexOf(' ') + 1).toDouble();
        exchanges += n;
        scraped = true;
        if (!line.contains("outcome=\"read\"") && !line.contains("outcome=\"written\"")) {
          failedExchanges += n;
        }
      }
    }
  }
  const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
  watch.Count(false);
  const auto times = watch.Times();
  size_t readings = 0;
  for (const auto& [topic, at] : times) {
    readings += at.size();
  }

  const double cpuShare = (atEnd.CpuSeconds - atStart.CpuSeconds) / seconds;
  const double growth = (atEnd.ResidentBytes - atMinute1.ResidentBytes) / 1e6;
  const double gap = LongestGapSeconds(times);
  const double metricsP99 = Percentile(latencies, 0.99);
  const double mqttP99 = Percentile(watch.Delays(), 0.99);
  std::printf("bench_station: %d instruments, %.1f min (baseline %.1f min)\n", Instruments,
              seconds / 60, baselineMinutes);
  std::printf("  instruments publishing:      %zu of %d, %zu readings\n", times.size(), Instruments,
              readings);
  std::printf(
      "  CPU share of one core:       %.2f%%   (goal < 5%%; 8 x vantorctl live: %.2f%%, "
      "ratio %.2f)\n",
      cpuShare * 100, baselineCpu * 100, baselineCpu > 0 ? cpuShare / baselineCpu : 0.0);
  std::printf("  resident memory minute 1:    %.1f MB\n", atMinute1.ResidentBytes / 1e6);
  std::printf(
      "  resident memory at the end:  %.1f MB   (growth %.2f MB, goal within 2 MB; "
      "8 x vantorctl live: %.1f MB)\n",
      atEnd.ResidentBytes / 1e6, growth, baselineResident / 1e6);
  std::printf(
      "  longest poll gap:            %.2f s   (goal < 1.5 s; exchanges failed: %.0f of "
      "%.0f%s)\n",
      gap, failedExchanges, exchanges, scraped ? "" : ", not scraped");
  std::printf("  /metrics latency p99:        %.2f ms  (median %.2f, goal < 10 ms; %d failed)\n",
              metricsP99, Percentile(latencies, 0.5), failedScrapes);
  std::printf("  MQTT delay p99:              %.1f ms  (median %.1f, goal < 50 ms)\n", mqttP99,
              Percentile(watch.Delays(), 0.5));
  station.terminate();
  station.waitForFinished(10000);
  for (const auto& sim : sims) {
    sim->terminate();
    sim->waitForFinished(5000);
  }
  return 0;
}
