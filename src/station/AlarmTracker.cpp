#include "AlarmTracker.h"

#include <QDateTime>

#include "Metrics.h"
#include "Scaling.h"

namespace vantor {

std::vector<AlarmTransition> AlarmTracker::Update(double value, const std::array<double, 3>& levels,
                                                  int64_t nowMs) {
  std::vector<AlarmTransition> transitions;
  const double keep = 1.0 - rules_.HysteresisPercent / 100.0;
  for (int k = 0; k < 3; ++k) {
    Threshold& t = state_[k];
    const double level = levels[k];
    if (level <= 0) {
      if (t.Raised) {
        transitions.push_back({k + 1, false, value, level, nowMs});
      }
      t = {};
      continue;
    }
    // Raised, it clears only under the lower level; down, it rises at the
    // threshold itself. In between the reading says nothing new.
    const bool otherwise = t.Raised ? value < level * keep : value >= level;
    if (!otherwise) {
      t.Since.reset();
      continue;
    }
    if (!t.Since) {
      t.Since = nowMs;
    }
    if (nowMs - *t.Since >= rules_.HoldMs) {
      t.Raised = !t.Raised;
      t.Since.reset();
      transitions.push_back({k + 1, t.Raised, value, level, nowMs});
    }
  }
  return transitions;
}

std::vector<AlarmTransition> AlarmTracker::Update(const MeasurementRecord& record,
                                                  const UserSettings& settings, int64_t nowMs) {
  if (IsFluxMode(record.MeasurementMode & 0xFF)) {
    Interrupt();
    return {};
  }
  return Update(ScaledDecimal(record.DoseRate, 0), DoseRateLevels(settings), nowMs);
}

void AlarmTracker::Interrupt() {
  for (Threshold& t : state_) {
    t.Since.reset();
  }
}

std::array<bool, 3> AlarmTracker::RaisedAll() const {
  return {state_[0].Raised, state_[1].Raised, state_[2].Raised};
}

std::array<double, 3> DoseRateLevels(const UserSettings& settings) {
  std::array<double, 3> levels{};
  for (size_t k = 0; k < levels.size(); ++k) {
    levels[k] = ScaledDecimal(settings.DoseRateAlarm[k], 0);
  }
  return levels;
}

QProcessEnvironment AlarmEnvironment(const QProcessEnvironment& base, const QString& instrument,
                                     const QString& port, const AlarmTransition& transition) {
  QProcessEnvironment environment = base;
  environment.insert(QStringLiteral("VANTOR_INSTRUMENT"), instrument);
  environment.insert(QStringLiteral("VANTOR_PORT"), port);
  environment.insert(QStringLiteral("VANTOR_THRESHOLD"), QString::number(transition.Threshold));
  environment.insert(QStringLiteral("VANTOR_LEVEL"), PrometheusNumber(transition.Level));
  environment.insert(QStringLiteral("VANTOR_VALUE"), PrometheusNumber(transition.Value));
  environment.insert(
      QStringLiteral("VANTOR_TIME"),
      QDateTime::fromMSecsSinceEpoch(transition.AtMs, Qt::UTC).toString(Qt::ISODate));
  environment.insert(QStringLiteral("VANTOR_STATE"),
                     transition.Raised ? QStringLiteral("raised") : QStringLiteral("cleared"));
  return environment;
}

}  // namespace vantor
