// Export of the visible interval: the chart as a PNG picture, the points as
// CSV, each written whole or not at all.
#include <QBuffer>
#include <QDateTime>
#include <QFontMetrics>
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

namespace {

// The band above the chart that names what the picture shows; narrower
// than the tool strip it replaces, so a picture stays smaller than the view.
constexpr int TitleBand = 20;

QString PictureTime(double ms) {
  return QDateTime::fromMSecsSinceEpoch(std::llround(ms))
      .toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

}  // namespace

QString TimeChart::SuggestedName(const char* extension) const {
  const auto [from, to] = TimeRange();
  const QDateTime start = QDateTime::fromMSecsSinceEpoch(std::llround(std::max(from, 0.0)));
  return QStringLiteral("chart-%1.%2")
      .arg(start.toString(QStringLiteral("yyyyMMdd-hhmmss")), QLatin1String(extension));
}

QString TimeChart::PictureTitle() const {
  // Showing everything, the period is that of the readings (or the span
  // looked back at), not the margins around them; zoomed, the view's.
  const auto [from, to] = fitted_ && !points_->Empty() ? Covered() : TimeRange();
  // Whole seconds within it.
  const QString start = PictureTime(std::ceil(from / 1000.0) * 1000.0);
  const QString end = PictureTime(std::floor(to / 1000.0) * 1000.0);
  const QString instrument = InstrumentName ? InstrumentName().trimmed() : QString();
  if (instrument.isEmpty()) {
    return Tr(RowChartPicturePeriod, language_).arg(start, end);
  }
  return Tr(RowChartPictureTitle, language_).arg(instrument, start, end);
}

QImage TimeChart::ExportPicture() {
  datedLabels_ = true;
  const auto [from, to] = TimeRange();
  UpdateTimeAxis(from, to);
  chart_->layout()->activate();
  // The tools are widgets over the chart, not part of it: the scene below
  // the strip is the chart alone, under a title of its own.
  const QRectF source(0, ToolStrip, width(), height() - ToolStrip);
  QImage picture(source.size().toSize() + QSize(0, TitleBand), QImage::Format_RGB32);
  picture.fill(Qt::white);
  {
    QPainter painter(&picture);
    scene()->render(&painter, QRectF(QPointF(0, TitleBand), source.size()), source);
    QFont font = this->font();
    font.setPixelSize(13);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QRect band(8, 0, picture.width() - 16, TitleBand);
    const QString title =
        QFontMetrics(font).elidedText(PictureTitle(), Qt::ElideMiddle, band.width());
    painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, title);
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
