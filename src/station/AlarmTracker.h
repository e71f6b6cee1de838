#pragma once
#include <QProcessEnvironment>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "ValueStorage.h"

namespace vantor {

struct AlarmRules {
  // How long a reading must stay at or over a threshold before it counts,
  // and under the clearing level before the alarm clears.
  int64_t HoldMs = 5000;
  // The clearing level: the threshold times (1 - HysteresisPercent / 100).
  double HysteresisPercent = 10;
};

struct AlarmTransition {
  int Threshold = 0;    // 1..3
  bool Raised = false;  // false: cleared
  double Value = 0;     // the reading that settled it, µSv/h
  double Level = 0;     // the threshold, µSv/h
  int64_t AtMs = 0;     // the caller's time, ms since 1970 UTC
};

// The dose-rate alarms of one instrument, threshold by threshold, on the
// caller's clock. Readings come in order; a gap in them (a poll that failed,
// a flux mode) is told with Interrupt, so a hold never spans time nobody
// saw.
class AlarmTracker {
 public:
  explicit AlarmTracker(AlarmRules rules) : rules_(rules) {}

  // One dose-rate reading against the instrument's thresholds (µSv/h; a
  // level of 0 or less is no threshold: an alarm on it clears at once).
  // The transitions it settles, in threshold order.
  std::vector<AlarmTransition> Update(double value, const std::array<double, 3>& levels,
                                      int64_t nowMs);
  // A live record with the instrument's settings: dose-rate modes update,
  // the flux modes interrupt.
  std::vector<AlarmTransition> Update(const MeasurementRecord& record, const UserSettings& settings,
                                      int64_t nowMs);
  // New rules: holds under way go on under them.
  void SetRules(AlarmRules rules) { rules_ = rules; }
  // Readings stopped: what was under way starts over; raised alarms stay.
  void Interrupt();

  bool Raised(int threshold) const { return state_.at(threshold - 1).Raised; }
  std::array<bool, 3> RaisedAll() const;

 private:
  struct Threshold {
    bool Raised = false;
    std::optional<int64_t> Since;  // when the reading began to say otherwise
  };
  AlarmRules rules_;
  std::array<Threshold, 3> state_{};
};

// The dose-rate thresholds of the instrument's settings, as decimals.
std::array<double, 3> DoseRateLevels(const UserSettings& settings);

// What the on-alarm command is told, on top of `base` (the station's own
// environment): VANTOR_INSTRUMENT, VANTOR_PORT, VANTOR_THRESHOLD (1..3),
// VANTOR_LEVEL and VANTOR_VALUE (µSv/h), VANTOR_TIME (ISO 8601 UTC) and
// VANTOR_STATE (raised or cleared).
QProcessEnvironment AlarmEnvironment(const QProcessEnvironment& base, const QString& instrument,
                                     const QString& port, const AlarmTransition& transition);

}  // namespace vantor
