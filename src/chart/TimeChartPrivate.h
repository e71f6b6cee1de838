#pragma once
// What the time chart's own sources share (view, tools, export); nothing
// outside src/chart includes it.
#include <QGraphicsItem>
#include <QList>
#include <QPen>
#include <QPointF>
#include <QString>
#include <vector>

#include "MessageTable.h"
#include "NumberText.h"
#include "Scaling.h"

QT_BEGIN_NAMESPACE
class QAbstractSeries;
class QChart;
QT_END_NAMESPACE

namespace vantor::timechart {

inline constexpr int ToolStrip = 24;  // height of the strip above the plot
inline constexpr int ThresholdCount = 3;

inline QString Tr(int row, int language) {
  return MessageText(row, static_cast<uint8_t>(language == 1 ? 1 : 0));
}

inline QString Number(double value) {
  return FormatGeneral(value, 4);
}

// The dose-rate unit as plotted (micro, unscaled).
inline QString RateUnit(int language) {
  return QString::fromUtf8(DoseRateUnit(0, 0, language));
}

// The line through the drawn points, broken where nothing was measured:
// a polyline a run, a lone point as a dot. It sits in the chart's scene, so
// a PNG holds it, and maps its values when it paints, so it always agrees
// with the axes. (The point series under it keeps the points and their
// markers; its own line, which cannot break, is not drawn.)
class LineRuns : public QGraphicsItem {
 public:
  LineRuns(QChart* chart, QAbstractSeries* series, double dotRadius);

  // The points to draw and where each run after the first begins.
  void SetRuns(QList<QPointF> points, std::vector<size_t> starts);
  std::vector<QList<QPointF>> Runs() const;
  void SetPen(const QPen& pen);
  // The plot moved or changed size.
  void PlotChanged();

  QRectF boundingRect() const override;
  void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

 private:
  QChart* chart_;
  QAbstractSeries* series_;
  double dotRadius_;
  QPen pen_;
  QList<QPointF> points_;
  std::vector<size_t> starts_;  // 0 first, then every break
};

}  // namespace vantor::timechart
