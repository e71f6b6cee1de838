#pragma once
#include <QColor>
#include <QLocale>
#include <QPointer>
#include <QtCharts/QChartView>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "ChartModel.h"

class QCheckBox;
class QLabel;
class QRubberBand;
class QToolButton;

QT_BEGIN_NAMESPACE
class QAreaSeries;
class QCategoryAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace vantor {
namespace timechart {
class LineRuns;
}

struct TimeChartOptions {
  QString PointSeriesName;  // the line through the points
  QString MeanSeriesName;   // the mean line over every point; none when empty
  int MarkerSize = 4;
  bool ShowIntegral = false;     // the dose over the visible interval
  bool NiceValueRange = false;   // round the left axis' ends to tick values
  double MinimumFitSeconds = 2;  // the span a lone point is centred in
  bool Dated = false;            // every time label with its date
  bool OwnWindow = true;         // offers to open the chart in a window of its own
  // Points further apart than this stand for a time without readings: the
  // line breaks between them. 0 bridges every gap.
  double GapSeconds = 0;
};

// A level the readings are compared with (a dose-rate alarm threshold),
// drawn across the chart in its colour; points above it take the colour.
struct ChartThreshold {
  double Value = 0;
  QColor Colour;
  bool Active = false;  // the one in force: a solid line, the others dashed
};

// The threshold a value exceeds: of those below it, the highest; -1 when it
// exceeds none. Levels of 0 or less are no thresholds.
int ExceededThreshold(const std::vector<ChartThreshold>& thresholds, double value);

// A chart of dose rate over time that a technician can work with, drawn
// from a ChartPoints model of any size. The mouse wheel zooms the time axis
// around the cursor, dragging with the left button pans, Shift with the left
// button draws a box to zoom into, and a double-click or the fit button goes
// back to the whole range. Focused, it takes the keyboard: + and - zoom,
// the arrows pan, Home or 0 fits. While it shows the whole range the view
// follows the newest point; zoomed in, it stays where the user put it. Above
// the plot: the statistics of the visible interval, the "±2σ" band switch,
// the fit button, PNG and CSV export of what is visible and a button that
// opens the chart in a window of its own; hovering shows the time and value
// of the nearest point.
class TimeChart : public QChartView {
  Q_OBJECT

 public:
  TimeChart(ChartPoints& points, const TimeChartOptions& options, int language,
            QWidget* parent = nullptr);

  ChartPoints& Points() { return *points_; }
  // Shows other points from now on (the live chart's look back at a past
  // period, and back): the whole range, drawn at the next Refresh.
  void SetPoints(ChartPoints& points);
  // Puts a control of the page's own into the strip above the plot, left
  // of the chart's tools.
  void AddTool(QWidget* tool);
  // Brings the series, axes and statistics up to date with the points.
  void Refresh();
  // The left axis while the user has not zoomed into values.
  void SetValueRange(double low, double high);
  // The time axis while there is no point.
  void SetIdleRange(double fromMs, double toMs);
  // The period the whole range spans however few points it holds (a look
  // back at the last hour, day or week); none to span just the points.
  void SetWholeSpan(std::optional<std::pair<double, double>> span);
  // The longest time between points the line bridges (see
  // TimeChartOptions::GapSeconds), from the next Refresh.
  void SetGapSeconds(double seconds);
  double GapSeconds() const { return options_.GapSeconds; }
  // The mean line over every point (drawn at the next Refresh).
  void SetMeanShown(bool shown);
  // The threshold lines (drawn at the next Refresh).
  void SetThresholds(const std::vector<ChartThreshold>& thresholds);
  const std::vector<ChartThreshold>& Thresholds() const { return thresholds_; }
  // The left axis' title.
  void SetValueTitle(const QString& title);
  // The title of the chart's own window, "Vantor — " and this.
  void SetWindowName(const QString& name);

  // The chart in a separate, resizable window: the same points and tools,
  // following the same updates; its view zooms and pans on its own. Opened
  // again, the window comes to the front. Null while closed.
  TimeChart* OpenWindow();
  TimeChart* WindowChart() const { return twin_; }
  // New texts for the language (0 Russian, 1 English) and the locale's
  // decimal separator.
  void ApplyLanguage(int language);

  // The view, times in milliseconds since 1970 as on the time axis.
  bool Zoomed() const { return !fitted_; }
  void Fit();
  void ZoomTime(double fromMs, double toMs);
  void ZoomValues(double low, double high);
  std::pair<double, double> TimeRange() const;
  std::pair<double, double> ValueRange() const;
  // The points whose time is on the axis, as [first, end).
  std::pair<size_t, size_t> VisiblePoints() const;
  IntervalStatistics VisibleStatistics() const;

  // The chart as seen, and the visible points as CSV. On failure `error`
  // says why; the buttons show it to the user.
  bool SavePng(const QString& path, QString* error = nullptr);
  bool SaveCsv(const QString& path, QString* error = nullptr) const;
  void SavePngClicked();
  void SaveCsvClicked();
  // Asks for the file to write (a save dialog unless replaced); empty to
  // cancel.
  std::function<QString(const QString& suggested, const QString& filter)> AskPath;
  // Tells the user that a file could not be written (a message box unless
  // replaced).
  std::function<void(const QString& message)> ShowError;

  // Names the instrument in an exported picture's title; empty for none.
  std::function<QString()> InstrumentName;
  // The title an exported picture carries: the instrument and the period
  // shown, in the chart's language.
  QString PictureTitle() const;

  // The points and their markers; the line through them is drawn by runs.
  QLineSeries* PointSeries() const { return pointSeries_; }
  // The line as drawn: one list of points for each stretch without a gap.
  std::vector<QList<QPointF>> LineRuns() const;
  QLineSeries* MeanSeries() const { return meanSeries_; }
  QAreaSeries* Band() const { return band_; }
  QValueAxis* LeftAxis() const { return leftAxis_; }
  // The time axis: milliseconds since 1970, a gridline and its label at
  // each round time.
  QCategoryAxis* BottomAxis() const { return bottomAxis_; }
  // A line for each threshold, and the points above each in its colour.
  const std::vector<QLineSeries*>& ThresholdLines() const { return thresholdLines_; }
  const std::vector<QScatterSeries*>& ThresholdPoints() const { return thresholdPoints_; }
  // The picture a PNG export writes: the chart without the tools above it,
  // every time label dated.
  QImage ExportPicture();
  QLabel* StatisticsLabel() const { return statistics_; }
  QLabel* ReadOut() const { return readOut_; }
  QCheckBox* BandSwitch() const { return bandSwitch_; }
  QToolButton* FitButton() const { return fitButton_; }
  QToolButton* WindowButton() const { return windowButton_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void drawForeground(QPainter* painter, const QRectF& rect) override;

 private:
  void BuildTools();
  void PlaceTools();
  void ChainFocus();
  void Retranslate();
  // From the first point to the last, widened to the whole span.
  std::pair<double, double> Covered() const;
  std::pair<double, double> WholeRange() const;
  int Columns() const;
  void UpdateTimeAxis(double fromMs, double toMs);
  void UpdateValueAxis();
  IntervalStatistics StatisticsIn(double fromMs, double toMs) const;
  void ShowStatistics(const IntervalStatistics& stats);
  void UpdateBand(double fromMs, double toMs, const IntervalStatistics& stats);
  void UpdateThresholds(double fromMs, double toMs);
  std::pair<double, double> BandRange() const;
  void PanTime(double share);
  void ZoomAboutCentre(double factor);
  void ShowReadOut(const QPoint& at);
  QPointF ValueAt(const QPoint& at) const;
  void SetTimeView(double fromMs, double toMs);
  QString SuggestedName(const char* extension) const;

  ChartPoints* points_;
  TimeChartOptions options_;
  int language_ = 0;
  uint64_t clearsSeen_ = 0;

  bool fitted_ = true;
  double viewFrom_ = 0;
  double viewTo_ = 0;
  std::optional<std::pair<double, double>> valueZoom_;
  std::pair<double, double> baseValues_{0, 1};
  IntervalStatistics shown_;  // of what the last Refresh showed
  std::pair<double, double> idleRange_{0, 60000};
  std::optional<std::pair<double, double>> wholeSpan_;
  bool meanShown_ = true;
  std::vector<ChartThreshold> thresholds_;
  bool datedLabels_ = false;  // every time label with its date (export)
  QString windowName_;
  QPointer<TimeChart> twin_;
  ChartPoints::Reduction reduction_;  // the points the line shows
  double lastPlotWidth_ = 0;

  enum class Drag { None, Pan, Box };
  Drag drag_ = Drag::None;
  QPoint pressAt_;
  std::pair<double, double> pressTime_;
  std::pair<double, double> pressValues_;
  bool moved_ = false;
  QPoint hoverAt_;

  QChart* chart_ = nullptr;
  QLineSeries* pointSeries_ = nullptr;
  timechart::LineRuns* line_ = nullptr;
  QLineSeries* meanSeries_ = nullptr;
  QLineSeries* bandUpper_ = nullptr;
  QLineSeries* bandLower_ = nullptr;
  QAreaSeries* band_ = nullptr;
  QCategoryAxis* bottomAxis_ = nullptr;
  std::vector<QLineSeries*> thresholdLines_;
  std::vector<QScatterSeries*> thresholdPoints_;
  QValueAxis* leftAxis_ = nullptr;
  QLabel* statistics_ = nullptr;
  QLabel* readOut_ = nullptr;
  QCheckBox* bandSwitch_ = nullptr;
  QToolButton* fitButton_ = nullptr;
  QToolButton* pngButton_ = nullptr;
  QToolButton* csvButton_ = nullptr;
  QToolButton* windowButton_ = nullptr;
  std::vector<QWidget*> extraTools_;
  QRubberBand* rubberBand_ = nullptr;
};

// The locale the chart numbers its axes with: the user's decimal separator
// (as everywhere on screen), no thousands separator.
QLocale ChartNumberLocale();

}  // namespace vantor
