#pragma once
#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "ValueStorage.h"

namespace vantor {

// What the station knows of one instrument when /metrics is asked.
struct InstrumentSnapshot {
  QString Instrument;  // its name (InstrumentName); empty until it first answered
  int Port = 0;        // COM number; 0 for a device given by its path
  // Whether the last poll was answered. When it was not, the reading is
  // gone too: a dead instrument shows vantor_up 0 and nothing stale.
  bool Up = false;
  MeasurementRecord Reading;
  int64_t ReadingMs = 0;         // the computer's time of the reading, ms since 1970 UTC
  std::array<bool, 3> Alarms{};  // thresholds 1..3 raised (AlarmTracker)
};

// The station itself.
struct StationSnapshot {
  // Exchanges with the instruments so far, by port label and outcome.
  std::map<std::pair<QString, QString>, uint64_t> Exchanges;
  std::optional<int64_t> HistoryPending;  // none: no history
  std::optional<bool> MqttConnected;      // none: no broker configured
};

// The process as /proc tells it.
struct ProcessFacts {
  double CpuSeconds = 0;
  double ResidentBytes = 0;
  double VirtualBytes = 0;
  double StartTimeSeconds = 0;  // since 1970
  std::optional<double> OpenFds;
  std::optional<double> MaxFds;  // none: unlimited
};

// From the text of /proc/self/stat, the btime line of /proc/stat (seconds
// since 1970 at boot), the clock ticks a second and the page size. Nothing
// when the stat line does not parse.
std::optional<ProcessFacts> ParseProcessStat(const QByteArray& stat, double bootTimeSeconds,
                                             double ticksPerSecond, double pageBytes);
// The soft "Max open files" limit of a /proc/self/limits text.
std::optional<double> ParseMaxOpenFiles(const QByteArray& limits);
// This process, from /proc/self; nothing when /proc cannot be read.
std::optional<ProcessFacts> ReadProcessFacts();

// "COM3", or "device" for a line given by its path.
QString PortLabel(int port);

// A number as Prometheus's own clients write it: the shortest text that
// reads back as the same double, in exponent form from 1e+06 up and below
// 1e-04 ("1.2e-07"), NaN, +Inf and -Inf.
QString PrometheusNumber(double value);
// A float's shortest decimal, times 10^exponent, as the nearest double: so a
// reading of 0.12 µSv/h is 1.2e-07 Sv/h, not 1.1999999731779099e-07.
double ScaledDecimal(float value, int exponent);

// The text exposition (version 0.0.4) of every instrument, the station and
// the process. Each family has its HELP and TYPE once, its samples after.
QByteArray RenderMetrics(const std::vector<InstrumentSnapshot>& instruments,
                         const StationSnapshot& station,
                         const std::optional<ProcessFacts>& process);

inline constexpr const char* MetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace vantor
