// Export of the visible interval: the chart as a PNG picture, the points as
// CSV, each written whole or not at all.
#include <QBuffer>
#include <QDateTime>
#include <QGraphicsLayout>
#include <QImage>
#include <QPainter>
#include <QtCharts/QChart>
#include <cmath>

#include "Csv.h"
#include "SafeFile.h"
#include "TimeChart.h"
#include "TimeChartPrivate.h"

namespace vantor {

using timechart::ToolStrip;
using timechart::Tr;

QString TimeChart::SuggestedName(const char* extension) const {
  const auto [from, to] = TimeRange();
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(std::llround(std::max(from, 0.0)));
  return QStringLiteral("chart-%1.%2")
      .arg(start.toString(QStringLiteral("yyyyMMdd-hhmmss")), QLatin1String(extension));
}

QImage TimeChart::ExportPicture() {
  datedLabels_ = true;
  const auto [from, to] = TimeRange();
  UpdateTimeAxis(from, to);
  chart_->layout()->activate();
  // The tools are widgets over the chart, not part of it: the scene below
  // the strip is the chart alone.
  const QRectF source(0, ToolStrip, width(), height() - ToolStrip);
  QImage picture(source.size().toSize(), QImage::Format_RGB32);
  picture.fill(Qt::white);
  {
    QPainter painter(&picture);
    scene()->render(&painter, QRectF(QPointF(0, 0), source.size()), source);
  }
  datedLabels_ = false;
  UpdateTimeAxis(from, to);
  return picture;
}

bool TimeChart::SavePng(const QString& path, QString* error) {
  const QImage picture = ExportPicture();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!picture.save(&buffer, "PNG")) {
    if (error != nullptr) {
      *error = QStringLiteral("PNG");
    }
    return false;
  }
  return WriteFileWhole(path, bytes, error);
}

bool TimeChart::SaveCsv(const QString& path, QString* error) const {
  const auto [first, end] = VisiblePoints();
  QByteArray bytes =
      CsvRecord({QStringLiteral("time"), QStringLiteral("dose rate (uSv/h)")}).toUtf8();
  bytes.reserve(static_cast<qsizetype>((end - first) * 40 + bytes.size()));
  for (size_t i = first; i < end; ++i) {
    bytes += CsvRecord({IsoTime(QDateTime::fromSecsSinceEpoch(points_->Second(i))),
                        DotNumber(points_->Y(i))})
                 .toUtf8();
  }
  return WriteFileWhole(path, bytes, error);
}

void TimeChart::SavePngClicked() {
  const QString path = AskPath(SuggestedName("png"), QStringLiteral("PNG (*.png)"));
  QString error;
  if (!path.isEmpty() && !SavePng(path, &error)) {
    ShowError(Tr(RowChartSaveFailed, language_).arg(path, error));
  }
}

void TimeChart::SaveCsvClicked() {
  const QString path = AskPath(SuggestedName("csv"), QStringLiteral("CSV (*.csv)"));
  QString error;
  if (!path.isEmpty() && !SaveCsv(path, &error)) {
    ShowError(Tr(RowChartSaveFailed, language_).arg(path, error));
  }
}

}  // namespace vantor
