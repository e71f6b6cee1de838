#include "Metrics.h"

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QList>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "Scaling.h"

namespace vantor {

namespace {

QByteArray EscapeLabel(const QString& value) {
  QByteArray out;
  for (const char c : value.toUtf8()) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

using Labels = std::vector<std::pair<const char*, QString>>;

// One family: its HELP and TYPE, then its samples, however many sources
// add to it.
struct Family {
  const char* Name;
  const char* Type;
  const char* Help;
  QByteArray Samples;

  void Add(const Labels& labels, double value) {
    Samples += Name;
    if (!labels.empty()) {
      Samples += '{';
      for (size_t k = 0; k < labels.size(); ++k) {
        Samples += (k ? "," : "") + QByteArray(labels[k].first) + "=\"" +
                   EscapeLabel(labels[k].second) + '"';
      }
      Samples += '}';
    }
    Samples += ' ' + PrometheusNumber(value).toLatin1() + '\n';
  }
};

void Write(QByteArray& out, const Family& family) {
  if (family.Samples.isEmpty()) {
    return;
  }
  out += QByteArray("# HELP ") + family.Name + ' ' + family.Help + '\n';
  out += QByteArray("# TYPE ") + family.Name + ' ' + family.Type + '\n';
  out += family.Samples;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

QString PortLabel(int port) {
  return port > 0 ? QStringLiteral("COM%1").arg(port) : QStringLiteral("device");
}

QString PrometheusNumber(double value) {
  if (std::isnan(value)) {
    return QStringLiteral("NaN");
  }
  if (std::isinf(value)) {
    return value > 0 ? QStringLiteral("+Inf") : QStringLiteral("-Inf");
  }
  char buffer[64];
  // The shortest digits that read back as the same double, as d.ddde±XX.
  const auto scientific =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string text(buffer, scientific.ptr);
  const size_t e = text.find('e');
  const int exponent = std::atoi(text.c_str() + e + 1);
  if (exponent < -4 || exponent >= 6) {
    return QString::fromStdString(text);
  }
  const auto fixed = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return QString::fromLatin1(buffer, fixed.ptr - buffer);
}

double ScaledDecimal(float value, int exponent) {
  if (!std::isfinite(value)) {
    return value;
  }
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string text(buffer, result.ptr);
  const size_t e = text.find('e');
  const int shifted = std::atoi(text.c_str() + e + 1) + exponent;
  text = text.substr(0, e) + 'e' + std::to_string(shifted);
  return std::strtod(text.c_str(), nullptr);
}

std::optional<ProcessFacts> ParseProcessStat(const QByteArray& stat, double bootTimeSeconds,
                                             double ticksPerSecond, double pageBytes) {
  // The command name is in parentheses and may hold anything, ) and blanks
  // included: the fields start after the last ).
  const qsizetype close = stat.lastIndexOf(')');
  if (close < 0 || ticksPerSecond <= 0) {
    return std::nullopt;
  }
  const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
  // fields[0] is field 3 (state): field n is fields[n - 3].
  const auto field = [&fields](int n, bool* ok) {
    return n - 3 < fields.size() ? fields[n - 3].toDouble(ok) : (*ok = false, 0.0);
  };
  bool ok[5] = {};
  const double utime = field(14, &ok[0]);
  const double stime = field(15, &ok[1]);
  const double start = field(22, &ok[2]);
  const double vsize = field(23, &ok[3]);
  const double rss = field(24, &ok[4]);
  if (!(ok[0] && ok[1] && ok[2] && ok[3] && ok[4])) {
    return std::nullopt;
  }
  ProcessFacts facts;
  facts.CpuSeconds = (utime + stime) / ticksPerSecond;
  facts.StartTimeSeconds = bootTimeSeconds + start / ticksPerSecond;
  facts.VirtualBytes = vsize;
  facts.ResidentBytes = rss * pageBytes;
  return facts;
}

std::optional<double> ParseMaxOpenFiles(const QByteArray& limits) {
  for (const QByteArray& line : limits.split('\n')) {
    if (!line.startsWith("Max open files")) {
      continue;
    }
    const QList<QByteArray> words = line.mid(14).simplified().split(' ');
    bool ok = false;
    const double soft = words.value(0).toDouble(&ok);
    return ok ? std::optional<double>(soft) : std::nullopt;  // "unlimited": none
  }
  return std::nullopt;
}

std::optional<ProcessFacts> ReadProcessFacts() {
  double bootTime = 0;
  for (const QByteArray& line : ReadAll(QStringLiteral("/proc/stat")).split('\n')) {
    if (line.startsWith("btime ")) {
      bootTime = line.mid(6).trimmed().toDouble();
    }
  }
  std::optional<ProcessFacts> facts = ParseProcessStat(
      ReadAll(QStringLiteral("/proc/self/stat")), bootTime,
      static_cast<double>(sysconf(_SC_CLK_TCK)), static_cast<double>(sysconf(_SC_PAGESIZE)));
  if (!facts) {
    return std::nullopt;
  }
  const QDir fds(QStringLiteral("/proc/self/fd"));
  if (fds.exists()) {
    facts->OpenFds = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
  }
  facts->MaxFds = ParseMaxOpenFiles(ReadAll(QStringLiteral("/proc/self/limits")));
  return facts;
}

QByteArray RenderMetrics(const std::vector<InstrumentSnapshot>& instruments,
                         const StationSnapshot& station,
                         const std::optional<ProcessFacts>& process) {
  Family up{
      "vantor_up", "gauge", "Whether the instrument answered its last poll (1) or not (0).", {}};
  Family rate{"vantor_dose_rate_sieverts_per_hour",
              "gauge",
              "The dose rate the instrument measures, in Sv/h.",
              {}};
  Family uncertainty{"vantor_dose_rate_uncertainty_ratio",
                     "gauge",
                     "The statistical uncertainty of the dose rate, as a ratio.",
                     {}};
  Family dose{"vantor_dose_sieverts_total",
              "counter",
              "The dose accumulated since the instrument's last dose reset, in Sv.",
              {}};
  Family accumulation{"vantor_accumulation_seconds",
                      "gauge",
                      "How long the dose has been accumulating, in seconds.",
                      {}};
  Family timestamp{"vantor_reading_timestamp_seconds",
                   "gauge",
                   "When the reading was taken, in seconds since 1970 UTC.",
                   {}};
  Family alarm{"vantor_alarm",
               "gauge",
               "Whether the dose rate is over the instrument's alarm threshold (1) or not (0).",
               {}};
  Family records{"vantor_archive_records", "gauge", "Records in the instrument's archive.", {}};
  Family full{"vantor_archive_memory_full",
              "gauge",
              "Whether the instrument's archive memory is full (1) or not (0).",
              {}};

  for (const InstrumentSnapshot& instrument : instruments) {
    const Labels labels = {{"instrument", instrument.Instrument},
                           {"port", PortLabel(instrument.Port)}};
    up.Add(labels, instrument.Up ? 1 : 0);
    if (!instrument.Up) {
      continue;
    }
    const MeasurementRecord& reading = instrument.Reading;
    // A flux is no dose rate: in those modes the rate, its uncertainty and
    // the rate alarms say nothing.
    if (!IsFluxMode(reading.MeasurementMode & 0xFF)) {
      rate.Add(labels, ScaledDecimal(reading.DoseRate, -6));
      uncertainty.Add(labels, ScaledDecimal(reading.DoseRateError, -2));
      for (int k = 0; k < 3; ++k) {
        Labels withThreshold = labels;
        withThreshold.emplace_back("threshold", QString::number(k + 1));
        alarm.Add(withThreshold, instrument.Alarms[k] ? 1 : 0);
      }
    }
    dose.Add(labels, ScaledDecimal(reading.Dose, -6));
    accumulation.Add(labels, reading.AccumulationTime);
    timestamp.Add(labels, static_cast<double>(instrument.ReadingMs) / 1000.0);
    records.Add(labels, reading.ArchiveRecordCount);
    full.Add(labels, (reading.StatusFlags & 1) ? 1 : 0);
  }

  Family exchanges{"vantor_exchanges_total",
                   "counter",
                   "Exchanges with the instruments, by port and outcome.",
                   {}};
  for (const auto& entry : station.Exchanges) {
    exchanges.Add({{"port", entry.first.first}, {"outcome", entry.first.second}},
                  static_cast<double>(entry.second));
  }
  Family pending{"vantor_history_pending_items",
                 "gauge",
                 "Readings and events waiting to go into the history.",
                 {}};
  if (station.HistoryPending) {
    pending.Add({}, static_cast<double>(*station.HistoryPending));
  }
  Family mqtt{"vantor_mqtt_connected",
              "gauge",
              "Whether the station is connected to its MQTT broker (1) or not (0).",
              {}};
  if (station.MqttConnected) {
    mqtt.Add({}, *station.MqttConnected ? 1 : 0);
  }

  Family cpu{"process_cpu_seconds_total",
             "counter",
             "Total user and system CPU time spent in seconds.",
             {}};
  Family resident{"process_resident_memory_bytes", "gauge", "Resident memory size in bytes.", {}};
  Family virtualMemory{
      "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.", {}};
  Family start{"process_start_time_seconds",
               "gauge",
               "Start time of the process since unix epoch in seconds.",
               {}};
  Family openFds{"process_open_fds", "gauge", "Number of open file descriptors.", {}};
  Family maxFds{"process_max_fds", "gauge", "Maximum number of open file descriptors.", {}};
  if (process) {
    cpu.Add({}, process->CpuSeconds);
    resident.Add({}, process->ResidentBytes);
    virtualMemory.Add({}, process->VirtualBytes);
    start.Add({}, process->StartTimeSeconds);
    if (process->OpenFds) {
      openFds.Add({}, *process->OpenFds);
    }
    if (process->MaxFds) {
      maxFds.Add({}, *process->MaxFds);
    }
  }

  QByteArray out;
  for (const Family* family :
       {&up, &rate, &uncertainty, &dose, &accumulation, &timestamp, &alarm, &records, &full,
        &exchanges, &pending, &mqtt, &cpu, &resident, &virtualMemory, &start, &openFds, &maxFds}) {
    Write(out, *family);
  }
  return out;
}

}  // namespace vantor
