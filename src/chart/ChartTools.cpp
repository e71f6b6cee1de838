// The chart's tools: the statistics of the visible interval, the ±2σ band
// and the threshold lines.
#include <QCheckBox>
#include <QLabel>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <algorithm>
#include <cmath>

#include "TimeChart.h"
#include "TimeChartPrivate.h"

namespace vantor {

using timechart::Number;
using timechart::RateUnit;
using timechart::Tr;

int ExceededThreshold(const std::vector<ChartThreshold>& thresholds, double value) {
  int found = -1;
  for (size_t k = 0; k < thresholds.size(); ++k) {
    const double level = thresholds[k].Value;
    if (level > 0 && value > level &&
        (found < 0 || level > thresholds[static_cast<size_t>(found)].Value)) {
      found = static_cast<int>(k);
    }
  }
  return found;
}

std::pair<size_t, size_t> TimeChart::VisiblePoints() const {
  const auto [from, to] = TimeRange();
  return points_->Within(from / 1000.0, to / 1000.0);
}

IntervalStatistics TimeChart::VisibleStatistics() const {
  const auto [from, to] = TimeRange();
  return StatisticsIn(from, to);
}

// The points in view: within the time shown and, zoomed into a box, within
// its values.
IntervalStatistics TimeChart::StatisticsIn(double fromMs, double toMs) const {
  const auto [first, end] = points_->Within(fromMs / 1000.0, toMs / 1000.0);
  if (valueZoom_) {
    return points_->Statistics(first, end, valueZoom_->first, valueZoom_->second);
  }
  return points_->Statistics(first, end);
}

// With the ±2σ band on, the values fit what is in view and the band;
// otherwise the page's range.
std::pair<double, double> TimeChart::BandRange() const {
  const double low = std::min(shown_.Min, shown_.Mean - 2 * shown_.StdDev);
  const double high = std::max(shown_.Max, shown_.Mean + 2 * shown_.StdDev);
  const double pad = high > low ? (high - low) / 8 : std::max(std::abs(high) / 10, 1e-3);
  // Readings that cannot be negative keep the axis at 0 or above.
  return {shown_.Min >= 0 ? std::max(0.0, low - pad) : low - pad, high + pad};
}

void TimeChart::ShowStatistics(const IntervalStatistics& stats) {
  QString text = Tr(RowChartCount, language_).arg(stats.Count);
  if (stats.Count > 0) {
    text +=
        QStringLiteral("   ") + Tr(RowChartSpread, language_)
                                    .arg(Number(stats.Mean), Number(stats.StdDev),
                                         Number(stats.Min), Number(stats.Max), RateUnit(language_));
    if (options_.ShowIntegral) {
      text += QStringLiteral("   ") +
              Tr(RowChartDose, language_)
                  .arg(Number(stats.Integral), MessageText(10, static_cast<uint8_t>(language_)));
    }
  }
  statistics_->setText(text);
}

void TimeChart::UpdateBand(double fromMs, double toMs, const IntervalStatistics& stats) {
  const bool shown = bandSwitch_->isChecked() && stats.Count >= 2;
  band_->setVisible(shown);
  if (!shown) {
    return;
  }
  const double high = stats.Mean + 2 * stats.StdDev;
  const double low = stats.Mean - 2 * stats.StdDev;
  bandUpper_->replace(QList<QPointF>{QPointF(fromMs, high), QPointF(toMs, high)});
  bandLower_->replace(QList<QPointF>{QPointF(fromMs, low), QPointF(toMs, low)});
}

void TimeChart::UpdateThresholds(double fromMs, double toMs) {
  for (size_t k = 0; k < thresholdLines_.size(); ++k) {
    QLineSeries* line = thresholdLines_[k];
    QScatterSeries* over = thresholdPoints_[k];
    if (k >= thresholds_.size() || !(thresholds_[k].Value > 0)) {
      line->clear();
      over->clear();
      continue;
    }
    const ChartThreshold& threshold = thresholds_[k];
    QPen pen(threshold.Colour);
    pen.setWidth(threshold.Active ? 2 : 1);
    pen.setStyle(threshold.Active ? Qt::SolidLine : Qt::DashLine);
    line->setPen(pen);
    line->replace(QList<QPointF>{QPointF(fromMs, threshold.Value), QPointF(toMs, threshold.Value)});
    over->setColor(threshold.Colour);
  }
}

}  // namespace vantor
