#include "ChartTicks.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace vantor {
namespace {

constexpr int64_t Day = 86400;
// Steps that divide a day (so every day's ticks start at midnight), then
// whole days; weeks start on a Monday.
constexpr int64_t Steps[] = {1,     2,   5,       10,      15,       30,       60,       120,
                             300,   600, 900,     1800,    3600,     7200,     10800,    21600,
                             43200, Day, 2 * Day, 7 * Day, 14 * Day, 28 * Day, 56 * Day, 112 * Day};
constexpr int64_t MondayJulianDay = 2460311;  // 1 January 2024
constexpr int LabelGap = 8;                   // pixels between two labels, at least
// A step that would put more ticks than this into the view is not tried.
constexpr double MostTicks = 2000;

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::vector<int64_t> TickTimes(double fromMs, double toMs, int64_t step, const QTimeZone& zone) {
  std::vector<int64_t> times;
  const QDate firstDay = QDateTime::fromMSecsSinceEpoch(std::llround(fromMs), zone).date();
  const QDate lastDay = QDateTime::fromMSecsSinceEpoch(std::llround(toMs), zone).date();
  const auto keep = [&](int64_t ms) {
    if (ms >= fromMs && ms <= toMs && (times.empty() || ms > times.back())) {
      times.push_back(ms);
    }
  };
  for (QDate day = firstDay; day.isValid() && day <= lastDay; day = day.addDays(1)) {
    const int64_t midnight = day.startOfDay(zone).toMSecsSinceEpoch();
    if (step >= Day) {
      if (FloorDiv(day.toJulianDay() - MondayJulianDay, step / Day) * (step / Day) ==
          day.toJulianDay() - MondayJulianDay) {
        keep(midnight);
      }
      continue;
    }
    // Only the part of the day inside the view, with an hour to spare for
    // a clock change that day.
    const double into = (fromMs - static_cast<double>(midnight)) / 1000.0 - 3600.0;
    const double until = (toMs - static_cast<double>(midnight)) / 1000.0 + 3600.0;
    const int64_t first = std::max<int64_t>(0, FloorDiv(static_cast<int64_t>(into), step) * step);
    const int64_t last = std::min<int64_t>(Day - 1, static_cast<int64_t>(until));
    for (int64_t t = first; t <= last; t += step) {
      const QDateTime at(day, QTime::fromMSecsSinceStartOfDay(static_cast<int>(t * 1000)), zone);
      keep(at.toMSecsSinceEpoch());
    }
  }
  return times;
}

}  // namespace

TimeTicks MakeTimeTicks(double fromMs, double toMs, double plotWidth,
                        const std::function<int(const QString&)>& measure, const QTimeZone& zone,
                        bool dated) {
  TimeTicks result;
  if (!(toMs > fromMs) || !std::isfinite(fromMs) || !std::isfinite(toMs) || !(plotWidth > 0)) {
    return result;
  }
  const double span = toMs - fromMs;
  const auto local = [&zone](int64_t ms) { return QDateTime::fromMSecsSinceEpoch(ms, zone); };
  const QDateTime from = local(std::llround(fromMs));
  const QDateTime to = local(std::llround(toMs));
  const bool crossesMidnight = from.date() != to.date();
  const bool allDated = dated || span > Day * 1000.0;
  const QString dayFormat =
      from.date().year() != to.date().year() ? QStringLiteral("dd.MM.yy") : QStringLiteral("dd.MM");

  for (const int64_t step : Steps) {
    const bool last = step == std::end(Steps)[-1];
    const double pitch = plotWidth * static_cast<double>(step) * 1000.0 / span;
    if ((span / (static_cast<double>(step) * 1000.0) > MostTicks || pitch < 2 * LabelGap) &&
        !last) {
      continue;
    }
    const QString timeFormat = step < 60    ? QStringLiteral("hh:mm:ss")
                               : step < Day ? QStringLiteral("hh:mm")
                                            : QString();
    TimeTicks ticks;
    ticks.StepSeconds = step;
    // The widest two neighbouring labels, side by side.
    int widest = 0;
    int before = -1;
    QDate previousDay;
    for (const int64_t ms : TickTimes(fromMs, toMs, step, zone)) {
      const QDateTime at = local(ms);
      QString label;
      if (timeFormat.isEmpty()) {
        label = at.toString(dayFormat);
      } else {
        label = at.toString(timeFormat);
        const bool newDay = !previousDay.isValid() || at.date() != previousDay;
        if (allDated || (crossesMidnight && newDay)) {
          label = at.toString(dayFormat) + QLatin1Char(' ') + label;
        }
      }
      previousDay = at.date();
      const int labelWidth = measure(label);
      if (before >= 0) {
        widest = std::max(widest, (before + labelWidth + 1) / 2);
      }
      before = labelWidth;
      ticks.Ticks.push_back({static_cast<double>(ms), label});
    }
    // Labels take up at most two thirds of the axis.
    if (pitch >= 1.5 * widest + LabelGap || last) {
      return ticks;
    }
  }
  return result;
}

double NiceStep(double span, int maxIntervals) {
  if (!(span > 0) || !std::isfinite(span) || maxIntervals < 1) {
    return 1;
  }
  const double raw = span / maxIntervals;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double mantissa : {1.0, 2.0, 5.0}) {
    if (mantissa * magnitude >= raw * (1 - 1e-9)) {
      return mantissa * magnitude;
    }
  }
  return 10 * magnitude;
}

int StepDecimals(double step) {
  if (!(step > 0) || !std::isfinite(step)) {
    return 0;
  }
  return std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 9);
}

}  // namespace vantor
