#include "TimeChart.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QGraphicsLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QRubberBand>
#include <QScreen>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

#include "ChartTicks.h"
#include "TimeChartPrivate.h"

namespace vantor {
namespace {

using timechart::RateUnit;
using timechart::ThresholdCount;
using timechart::ToolStrip;
using timechart::Tr;

constexpr double MinimumSpanMs = 5000;  // the closest a user can zoom in
constexpr double WheelStep = 0.8;       // span kept per wheel notch
constexpr double KeyPan = 0.1;          // share of the view an arrow key moves it
constexpr int ValueLabelPitch = 36;     // pixels between value ticks, at least

}  // namespace

namespace timechart {

LineRuns::LineRuns(QChart* chart, QAbstractSeries* series, double dotRadius)
    : QGraphicsItem(chart), chart_(chart), series_(series), dotRadius_(dotRadius) {
  setAcceptedMouseButtons(Qt::NoButton);
  // Among the series, under the threshold markers.
  setZValue(5);
}

void LineRuns::SetRuns(QList<QPointF> points, std::vector<size_t> starts) {
  points_ = std::move(points);
  starts_ = std::move(starts);
  starts_.insert(starts_.begin(), 0);
  update();
}

std::vector<QList<QPointF>> LineRuns::Runs() const {
  std::vector<QList<QPointF>> runs;
  if (points_.isEmpty()) {
    return runs;
  }
  for (size_t k = 0; k < starts_.size(); ++k) {
    const qsizetype from = static_cast<qsizetype>(starts_[k]);
    const qsizetype to =
        k + 1 < starts_.size() ? static_cast<qsizetype>(starts_[k + 1]) : points_.size();
    runs.push_back(points_.mid(from, to - from));
  }
  return runs;
}

void LineRuns::SetPen(const QPen& pen) {
  pen_ = pen;
  update();
}

void LineRuns::PlotChanged() {
  prepareGeometryChange();
}

QRectF LineRuns::boundingRect() const {
  return chart_->plotArea();
}

void LineRuns::paint(QPainter* painter, const QStyleOptionGraphicsItem* /*option*/,
                     QWidget* /*widget*/) {
  if (points_.isEmpty()) {
    return;
  }
  QPolygonF mapped;
  mapped.reserve(points_.size());
  for (const QPointF& point : points_) {
    mapped.append(chart_->mapToPosition(point, series_));
  }
  painter->save();
  painter->setClipRect(chart_->plotArea());
  for (size_t k = 0; k < starts_.size(); ++k) {
    const qsizetype from = static_cast<qsizetype>(starts_[k]);
    const qsizetype to =
        k + 1 < starts_.size() ? static_cast<qsizetype>(starts_[k + 1]) : mapped.size();
    if (to - from == 1) {
      // A lone reading between two gaps: a dot, so it does not vanish
      // where the markers are off.
      const double radius = dotRadius_;
      painter->setPen(Qt::NoPen);
      painter->setBrush(pen_.color());
      painter->drawEllipse(mapped[from], radius, radius);
    } else if (to - from > 1) {
      painter->setPen(pen_);
      painter->setBrush(Qt::NoBrush);
      painter->drawPolyline(mapped.constData() + from, static_cast<int>(to - from));
    }
  }
  painter->restore();
}

}  // namespace timechart

QLocale ChartNumberLocale() {
  const QChar separator = DecimalSeparator();
  QLocale locale = QLocale::system();
  if (locale.decimalPoint() != QString(separator)) {
    locale = separator == QLatin1Char(',') ? QLocale(QLocale::German) : QLocale::c();
  }
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return locale;
}

TimeChart::TimeChart(ChartPoints& points, const TimeChartOptions& options, int language,
                     QWidget* parent)
    : QChartView(parent), points_(&points), options_(options), language_(language) {
  setFrameShape(QFrame::NoFrame);
  // A marker at the plot's edge reaches past the series' own area; a partial
  // repaint would leave bits of it behind when the axes move.
  setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
  setRenderHint(QPainter::Antialiasing, false);
  viewport()->setMouseTracking(true);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);

  chart_ = new QChart();
  chart_->legend()->hide();
  chart_->setBackgroundRoundness(0);
  chart_->setMargins(QMargins(4, ToolStrip, 12, 4));
  chart_->setLocalizeNumbers(true);
  chart_->setLocale(ChartNumberLocale());

  bandUpper_ = new QLineSeries(this);
  bandLower_ = new QLineSeries(this);
  band_ = new QAreaSeries(bandUpper_, bandLower_);
  band_->setObjectName(QStringLiteral("Band"));
  band_->setColor(QColor(70, 130, 200, 45));
  band_->setBorderColor(QColor(70, 130, 200, 110));
  band_->setVisible(false);
  chart_->addSeries(band_);

  pointSeries_ = new QLineSeries();
  pointSeries_->setObjectName(options_.PointSeriesName);
  pointSeries_->setPointsVisible(true);
  pointSeries_->setMarkerSize(options_.MarkerSize);
  chart_->addSeries(pointSeries_);
  // The theme's colour in a one-pixel line, which also draws far faster
  // than the theme's wider pen.
  QPen linePen = pointSeries_->pen();
  linePen.setWidth(1);
  // A lone reading's dot a little larger than a marker: it stands alone.
  line_ = new timechart::LineRuns(chart_, pointSeries_, options_.MarkerSize / 2.0 + 0.5);
  line_->SetPen(linePen);
  // The series draws its markers only (in the pen's colour); the line,
  // which must break at gaps, is the runs'.
  linePen.setStyle(Qt::NoPen);
  pointSeries_->setPen(linePen);
  if (!options_.MeanSeriesName.isEmpty()) {
    meanSeries_ = new QLineSeries();
    meanSeries_->setObjectName(options_.MeanSeriesName);
    chart_->addSeries(meanSeries_);
    QPen meanPen(QColor(243, 156, 53));
    meanPen.setWidth(2);
    meanSeries_->setPen(meanPen);
  }
  for (int k = 0; k < ThresholdCount; ++k) {
    auto* line = new QLineSeries();
    line->setObjectName(QStringLiteral("Threshold%1").arg(k + 1));
    chart_->addSeries(line);
    thresholdLines_.push_back(line);
    auto* over = new QScatterSeries();
    over->setObjectName(QStringLiteral("OverThreshold%1").arg(k + 1));
    over->setMarkerSize(options_.MarkerSize + 4);
    over->setBorderColor(Qt::transparent);
    chart_->addSeries(over);
    thresholdPoints_.push_back(over);
  }

  bottomAxis_ = new QCategoryAxis(chart_);
  bottomAxis_->setObjectName(QStringLiteral("BottomAxis"));
  bottomAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  leftAxis_ = new QValueAxis(chart_);
  leftAxis_->setObjectName(QStringLiteral("LeftAxis"));
  leftAxis_->setTickType(QValueAxis::TicksDynamic);
  leftAxis_->setTickAnchor(0);
  leftAxis_->setRange(0, 1);
  chart_->addAxis(bottomAxis_, Qt::AlignBottom);
  chart_->addAxis(leftAxis_, Qt::AlignLeft);
  for (QAbstractSeries* series : chart_->series()) {
    series->attachAxis(bottomAxis_);
    series->attachAxis(leftAxis_);
  }
  // The view made a chart of its own, which it lets go of without freeing.
  QChart* const initial = chart();
  setChart(chart_);
  delete initial;

  BuildTools();
  Retranslate();
  connect(chart_, &QChart::plotAreaChanged, this, [this](const QRectF& area) {
    // The reduction depends on the plot's width; a new height only moves
    // pixels.
    line_->PlotChanged();
    if (static_cast<int>(area.width()) != static_cast<int>(lastPlotWidth_)) {
      lastPlotWidth_ = area.width();
      Refresh();
    }
  });
  AskPath = [this](const QString& suggested, const QString& filter) {
    // Qt's own dialog, which speaks the program's language.
    return QFileDialog::getSaveFileName(this, QString(), suggested, filter, nullptr,
                                        QFileDialog::DontUseNativeDialog);
  };
  ShowError = [this](const QString& message) { QMessageBox::warning(this, QString(), message); };
}

void TimeChart::BuildTools() {
  QFont small = font();
  small.setPixelSize(11);

  statistics_ = new QLabel(this);
  statistics_->setObjectName(QStringLiteral("ChartStatistics"));
  statistics_->setFont(small);
  statistics_->setAttribute(Qt::WA_TransparentForMouseEvents);

  bandSwitch_ = new QCheckBox(QStringLiteral("±2σ"), this);
  bandSwitch_->setObjectName(QStringLiteral("ChartBand"));
  bandSwitch_->setFont(small);
  connect(bandSwitch_, &QCheckBox::toggled, this, [this] { Refresh(); });

  const auto tool = [this, &small](const char* name, const QString& text) {
    auto* button = new QToolButton(this);
    button->setObjectName(QLatin1String(name));
    button->setText(text);
    button->setFont(small);
    return button;
  };
  fitButton_ = tool("ChartFit", QString());
  pngButton_ = tool("ChartPng", QStringLiteral("PNG…"));
  csvButton_ = tool("ChartCsv", QStringLiteral("CSV…"));
  connect(fitButton_, &QToolButton::clicked, this, [this] { Fit(); });
  connect(pngButton_, &QToolButton::clicked, this, [this] { SavePngClicked(); });
  connect(csvButton_, &QToolButton::clicked, this, [this] { SaveCsvClicked(); });
  windowButton_ = tool("ChartWindow", QString());
  windowButton_->setVisible(options_.OwnWindow);
  connect(windowButton_, &QToolButton::clicked, this, [this] { OpenWindow(); });

  readOut_ = new QLabel(this);
  readOut_->setObjectName(QStringLiteral("ChartReadOut"));
  readOut_->setFont(small);
  readOut_->setStyleSheet(
      QStringLiteral("QLabel { background: #ffffe1; border: 1px solid #767676; padding: 2px; }"));
  readOut_->setAttribute(Qt::WA_TransparentForMouseEvents);
  readOut_->hide();

  rubberBand_ = new QRubberBand(QRubberBand::Rectangle, viewport());
  rubberBand_->hide();
  ChainFocus();
}

// Tab goes from the chart to its tools as they stand left to right.
void TimeChart::ChainFocus() {
  std::vector<QWidget*> chain{this};
  chain.insert(chain.end(), extraTools_.begin(), extraTools_.end());
  chain.insert(chain.end(), {bandSwitch_, fitButton_, pngButton_, csvButton_, windowButton_});
  for (size_t i = 1; i < chain.size(); ++i) {
    setTabOrder(chain[i - 1], chain[i]);
  }
}

void TimeChart::PlaceTools() {
  const int height = ToolStrip - 4;
  int right = width() - 12;
  std::vector<QWidget*> tools{windowButton_, csvButton_, pngButton_, fitButton_, bandSwitch_};
  tools.insert(tools.end(), extraTools_.rbegin(), extraTools_.rend());
  for (QWidget* tool : tools) {
    if (tool->isHidden()) {
      continue;
    }
    const int w = tool->sizeHint().width();
    right -= w;
    tool->setGeometry(right, 2, w, height);
    right -= 4;
  }
  statistics_->setGeometry(8, 2, std::max(0, right - 12), height);
}

void TimeChart::AddTool(QWidget* tool) {
  QFont small = tool->font();
  small.setPixelSize(11);
  tool->setFont(small);
  tool->setParent(this);
  tool->show();
  extraTools_.push_back(tool);
  ChainFocus();
  PlaceTools();
}

void TimeChart::SetPoints(ChartPoints& points) {
  points_ = &points;
  // A reduction of other points cannot be taken up again, even where their
  // counters happen to agree.
  reduction_ = {};
  clearsSeen_ = points.Clears();
  fitted_ = true;
  valueZoom_.reset();
  readOut_->hide();
  if (twin_) {
    twin_->SetPoints(points);
  }
}

void TimeChart::Retranslate() {
  fitButton_->setText(Tr(RowChartFit, language_));
  fitButton_->setToolTip(Tr(RowChartHelp, language_) + QLatin1Char('\n') +
                         Tr(RowChartKeys, language_));
  bandSwitch_->setToolTip(Tr(RowChartBand, language_));
  pngButton_->setToolTip(Tr(RowChartSavePng, language_));
  csvButton_->setToolTip(Tr(RowChartSaveCsv, language_));
  windowButton_->setText(Tr(RowChartWindow, language_));
  windowButton_->setToolTip(Tr(RowChartWindowHelp, language_));
  readOut_->hide();
  PlaceTools();
  if (options_.OwnWindow || windowName_.isEmpty()) {
    return;
  }
  window()->setWindowTitle(QStringLiteral("Vantor — ") + windowName_);
}

void TimeChart::ApplyLanguage(int language) {
  language_ = language;
  chart_->setLocale(ChartNumberLocale());
  Retranslate();
  Refresh();
  if (twin_) {
    twin_->ApplyLanguage(language);
  }
}

void TimeChart::SetMeanShown(bool shown) {
  meanShown_ = shown;
  if (twin_) {
    twin_->SetMeanShown(shown);
  }
}

void TimeChart::SetThresholds(const std::vector<ChartThreshold>& thresholds) {
  thresholds_ = thresholds;
  thresholds_.resize(std::min<size_t>(thresholds_.size(), ThresholdCount));
  if (twin_) {
    twin_->SetThresholds(thresholds);
  }
}

void TimeChart::SetValueTitle(const QString& title) {
  leftAxis_->setTitleText(title);
  if (twin_) {
    twin_->SetValueTitle(title);
  }
}

void TimeChart::SetWindowName(const QString& name) {
  windowName_ = name;
  if (twin_) {
    twin_->SetWindowName(name);
    twin_->Retranslate();
  }
}

TimeChart* TimeChart::OpenWindow() {
  if (!twin_) {
    // A window of its own, owned by this chart so it goes with it.
    auto* holder = new QWidget(this, Qt::Window);
    holder->setObjectName(QStringLiteral("ChartWindow"));
    holder->setAttribute(Qt::WA_DeleteOnClose);
    holder->setWindowIcon(window()->windowIcon());
    // Closed from the keyboard as the program's other secondary windows are.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
      connect(new QShortcut(keys, holder), &QShortcut::activated, holder, &QWidget::close);
    }
    TimeChartOptions options = options_;
    options.OwnWindow = false;
    twin_ = new TimeChart(*points_, options, language_, holder);
    twin_->setObjectName(objectName() + QStringLiteral("Window"));
    twin_->setFont(font());
    twin_->baseValues_ = baseValues_;
    twin_->idleRange_ = idleRange_;
    twin_->wholeSpan_ = wholeSpan_;
    twin_->meanShown_ = meanShown_;
    twin_->thresholds_ = thresholds_;
    twin_->leftAxis_->setTitleText(leftAxis_->titleText());
    twin_->windowName_ = windowName_;
    twin_->AskPath = AskPath;
    twin_->ShowError = ShowError;
    twin_->InstrumentName = InstrumentName;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(twin_);
    // Large, but within the screen the main window is on.
    QSize size(1200, 700);
    if (const QScreen* screen = this->screen()) {
      size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
      holder->resize(size);
      holder->move(screen->availableGeometry().center() - holder->rect().center());
    } else {
      holder->resize(size);
    }
    twin_->Retranslate();
    twin_->Refresh();
  }
  QWidget* holder = twin_->window();
  holder->show();
  holder->raise();
  holder->activateWindow();
  return twin_;
}

void TimeChart::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  PlaceTools();
}

int TimeChart::Columns() const {
  const int width = static_cast<int>(chart_->plotArea().width());
  return width > 0 ? width : 800;
}

// Every point from the first to the last, a lone point in the middle of a
// short span, with room for the markers at both ends.
std::pair<double, double> TimeChart::Covered() const {
  double first = static_cast<double>(points_->FirstSecond()) * 1000.0;
  double last = static_cast<double>(points_->LastSecond()) * 1000.0;
  if (wholeSpan_) {
    first = std::min(first, wholeSpan_->first);
    last = std::max(last, wholeSpan_->second);
  }
  return {first, last};
}

std::pair<double, double> TimeChart::WholeRange() const {
  if (points_->Empty()) {
    return wholeSpan_ ? *wholeSpan_ : idleRange_;
  }
  auto [first, last] = Covered();
  const double minimum = options_.MinimumFitSeconds * 1000.0;
  if (last - first < minimum) {
    const double middle = (first + last) / 2;
    first = middle - minimum / 2;
    last = middle + minimum / 2;
  }
  const double margin = options_.MarkerSize / 2.0 + 2.0;
  double pad = (last - first) * margin / std::max(1.0, Columns() - 2 * margin);
  // Short spans keep their ends on whole seconds, so the time labels at
  // evenly spaced ticks read true.
  if (last - first < 60000.0) {
    pad = std::ceil(pad / 1000.0) * 1000.0;
  }
  return {first - pad, last + pad};
}

std::pair<double, double> TimeChart::TimeRange() const {
  return fitted_ ? WholeRange() : std::pair<double, double>{viewFrom_, viewTo_};
}

std::pair<double, double> TimeChart::ValueRange() const {
  return valueZoom_ ? *valueZoom_ : std::pair<double, double>{leftAxis_->min(), leftAxis_->max()};
}

void TimeChart::SetValueRange(double low, double high) {
  baseValues_ = {low, high};
  UpdateValueAxis();
  if (twin_) {
    twin_->SetValueRange(low, high);
  }
}

void TimeChart::SetIdleRange(double fromMs, double toMs) {
  idleRange_ = {fromMs, toMs};
  if (points_->Empty()) {
    UpdateTimeAxis(fromMs, toMs);
  }
  if (twin_) {
    twin_->SetIdleRange(fromMs, toMs);
  }
}

void TimeChart::SetWholeSpan(std::optional<std::pair<double, double>> span) {
  wholeSpan_ = span;
  if (twin_) {
    twin_->SetWholeSpan(span);
  }
}

void TimeChart::SetGapSeconds(double seconds) {
  options_.GapSeconds = seconds;
  if (twin_) {
    twin_->SetGapSeconds(seconds);
  }
}

std::vector<QList<QPointF>> TimeChart::LineRuns() const {
  return line_->Runs();
}

void TimeChart::Fit() {
  fitted_ = true;
  valueZoom_.reset();
  Refresh();
}

void TimeChart::SetTimeView(double fromMs, double toMs) {
  if (!(toMs > fromMs)) {
    return;
  }
  if (toMs - fromMs < MinimumSpanMs) {
    const double middle = (fromMs + toMs) / 2;
    fromMs = middle - MinimumSpanMs / 2;
    toMs = middle + MinimumSpanMs / 2;
  }
  const auto [first, last] = WholeRange();
  // Zoomed out past every point: the whole range, following new ones.
  if (fromMs <= first && toMs >= last && !valueZoom_) {
    fitted_ = true;
    return;
  }
  fitted_ = false;
  viewFrom_ = fromMs;
  viewTo_ = toMs;
}

void TimeChart::ZoomTime(double fromMs, double toMs) {
  SetTimeView(fromMs, toMs);
  Refresh();
}

void TimeChart::ZoomValues(double low, double high) {
  if (high > low) {
    valueZoom_ = std::pair<double, double>{low, high};
    if (fitted_) {
      std::tie(viewFrom_, viewTo_) = WholeRange();
      fitted_ = false;
    }
  }
  Refresh();
}

void TimeChart::Refresh() {
  if (points_->Clears() != clearsSeen_ || points_->Empty()) {
    // New points altogether (a clear, another archive page): the view
    // starts from the whole range again.
    clearsSeen_ = points_->Clears();
    fitted_ = true;
    valueZoom_.reset();
  }
  const auto [from, to] = TimeRange();
  reduction_ = points_->Reduce(from / 1000.0, to / 1000.0, Columns(), &reduction_);
  const std::vector<uint32_t>& drawn = reduction_.Indexes;
  QList<QPointF> shown;
  shown.reserve(static_cast<qsizetype>(drawn.size()));
  for (const uint32_t i : drawn) {
    shown.append(QPointF(static_cast<double>(points_->Second(i)) * 1000.0, points_->Y(i)));
  }
  // Every axis change redoes the geometry of every series, so the axes move
  // while the point series is empty and its points go in last, in one piece.
  pointSeries_->clear();
  // Markers stand for single measurements; once a bucket summarises
  // several, the line alone is drawn.
  pointSeries_->setPointsVisible(reduction_.BucketSeconds == 0);
  if (meanSeries_ != nullptr) {
    if (meanShown_ && !points_->Empty()) {
      const double mean = points_->Mean();
      meanSeries_->replace(
          QList<QPointF>{QPointF(static_cast<double>(points_->FirstSecond()) * 1000.0, mean),
                         QPointF(static_cast<double>(points_->LastSecond()) * 1000.0, mean)});
    } else {
      meanSeries_->clear();
    }
  }
  shown_ = StatisticsIn(from, to);
  UpdateTimeAxis(from, to);
  UpdateValueAxis();
  ShowStatistics(shown_);
  UpdateBand(from, to, shown_);
  UpdateThresholds(from, to);
  // The points above a threshold, each in the colour of the highest one it
  // exceeds.
  std::vector<QList<QPointF>> over(thresholdPoints_.size());
  if (!thresholds_.empty()) {
    for (const QPointF& point : shown) {
      const int k = ExceededThreshold(thresholds_, point.y());
      if (k >= 0) {
        over[static_cast<size_t>(k)].append(point);
      }
    }
  }
  for (size_t k = 0; k < thresholdPoints_.size(); ++k) {
    thresholdPoints_[k]->replace(over[k]);
  }
  line_->SetRuns(shown, LineBreaks(*points_, reduction_, options_.GapSeconds));
  pointSeries_->replace(shown);
  // A read-out on display names the point now nearest the cursor.
  if (readOut_->isVisible()) {
    ShowReadOut(hoverAt_);
  }
  if (twin_) {
    twin_->Refresh();
  }
}

void TimeChart::UpdateTimeAxis(double fromMs, double toMs) {
  const QFontMetrics metrics(bottomAxis_->labelsFont());
  const auto measure = [&metrics](const QString& label) {
    return metrics.horizontalAdvance(label);
  };
  const double plotWidth =
      chart_->plotArea().width() > 0 ? chart_->plotArea().width() : width() - 80;
  const TimeTicks ticks =
      MakeTimeTicks(fromMs, toMs, plotWidth, measure, QTimeZone::systemTimeZone(),
                    datedLabels_ || options_.Dated);
  for (const QString& label : bottomAxis_->categoriesLabels()) {
    bottomAxis_->remove(label);
  }
  bottomAxis_->setStartValue(fromMs);
  for (const TimeTick& tick : ticks.Ticks) {
    // A label that would reach past the plot's ends is left out: it would
    // make the chart narrow the plot, and the plot's width would then
    // change with every view.
    const double x = (tick.Ms - fromMs) / (toMs - fromMs) * plotWidth;
    const double half = measure(tick.Label) / 2.0;
    if (x >= half && x <= plotWidth - half) {
      bottomAxis_->append(tick.Label, tick.Ms);
    }
  }
  // Last: adding a category stretches the range over it.
  bottomAxis_->setRange(fromMs, toMs);
}

void TimeChart::UpdateValueAxis() {
  double low = baseValues_.first;
  double high = baseValues_.second;
  bool nice = options_.NiceValueRange;
  if (valueZoom_) {
    std::tie(low, high) = *valueZoom_;
    nice = false;
  } else if (bandSwitch_->isChecked() && shown_.Count >= 2) {
    std::tie(low, high) = BandRange();
    nice = true;
  }
  if (!(high > low)) {
    high = low + 1;
  }
  const double plotHeight = chart_->plotArea().height() > 0 ? chart_->plotArea().height() : 200;
  const int intervals = std::max(2, static_cast<int>(plotHeight / ValueLabelPitch));
  double step = NiceStep(high - low, intervals);
  if (nice) {
    // Ends on whole steps, which may take one step more.
    low = std::floor(low / step + 1e-9) * step;
    high = std::ceil(high / step - 1e-9) * step;
    step = NiceStep(high - low, intervals);
  }
  leftAxis_->setTickInterval(step);
  leftAxis_->setLabelFormat(QStringLiteral("%.%1f").arg(StepDecimals(step)));
  leftAxis_->setRange(low, high);
}

QPointF TimeChart::ValueAt(const QPoint& at) const {
  return chart_->mapToValue(chart_->mapFromScene(mapToScene(at)), pointSeries_);
}

void TimeChart::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QChartView::mousePressEvent(event);
    return;
  }
  pressAt_ = event->position().toPoint();
  pressTime_ = TimeRange();
  pressValues_ = ValueRange();
  moved_ = false;
  readOut_->hide();
  if ((event->modifiers() & Qt::ShiftModifier) != 0) {
    drag_ = Drag::Box;
    rubberBand_->setGeometry(QRect(pressAt_, QSize()));
    rubberBand_->show();
  } else {
    drag_ = Drag::Pan;
  }
  event->accept();
}

void TimeChart::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (drag_ == Drag::None) {
    hoverAt_ = at;
    ShowReadOut(at);
    return;
  }
  moved_ = moved_ || at != pressAt_;
  if (drag_ == Drag::Box) {
    rubberBand_->setGeometry(QRect(pressAt_, at).normalized());
  } else if (moved_) {
    const QRectF area = chart_->plotArea();
    const double msPerPixel = (pressTime_.second - pressTime_.first) / std::max(1.0, area.width());
    const double shift = -(at.x() - pressAt_.x()) * msPerPixel;
    if (valueZoom_) {
      const double perPixel =
          (pressValues_.second - pressValues_.first) / std::max(1.0, area.height());
      const double rise = (at.y() - pressAt_.y()) * perPixel;
      valueZoom_ = std::pair<double, double>{pressValues_.first + rise, pressValues_.second + rise};
    }
    // Panning keeps the span, so it never turns back into "whole range".
    fitted_ = false;
    viewFrom_ = pressTime_.first + shift;
    viewTo_ = pressTime_.second + shift;
    Refresh();
  }
  event->accept();
}

void TimeChart::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || drag_ == Drag::None) {
    QChartView::mouseReleaseEvent(event);
    return;
  }
  if (drag_ == Drag::Box) {
    rubberBand_->hide();
    const QRect box = QRect(pressAt_, event->position().toPoint()).normalized();
    if (box.width() >= 3 && box.height() >= 3) {
      const QPointF a = ValueAt(box.topLeft());
      const QPointF b = ValueAt(box.bottomRight());
      SetTimeView(std::min(a.x(), b.x()), std::max(a.x(), b.x()));
      ZoomValues(std::min(a.y(), b.y()), std::max(a.y(), b.y()));
    }
  }
  drag_ = Drag::None;
  event->accept();
}

void TimeChart::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    drag_ = Drag::None;
    Fit();
    event->accept();
    return;
  }
  QChartView::mouseDoubleClickEvent(event);
}

void TimeChart::wheelEvent(QWheelEvent* event) {
  const int notches = event->angleDelta().y();
  if (notches == 0 || points_->Empty()) {
    event->ignore();
    return;
  }
  const QRectF area = chart_->plotArea();
  const QPointF scene = mapToScene(event->position().toPoint());
  const QPointF inChart = chart_->mapFromScene(scene);
  const double x = std::clamp(inChart.x(), area.left(), area.right());
  const auto [from, to] = TimeRange();
  // The moment under the cursor stays under it.
  const double share = (x - area.left()) / std::max(1.0, area.width());
  const double pivot = from + share * (to - from);
  const double factor = std::pow(WheelStep, notches / 120.0);
  SetTimeView(pivot - (pivot - from) * factor, pivot + (to - pivot) * factor);
  Refresh();
  event->accept();
}

void TimeChart::PanTime(double share) {
  const auto [from, to] = TimeRange();
  const double shift = (to - from) * share;
  fitted_ = false;
  viewFrom_ = from + shift;
  viewTo_ = to + shift;
  Refresh();
}

void TimeChart::ZoomAboutCentre(double factor) {
  const auto [from, to] = TimeRange();
  const double middle = (from + to) / 2;
  SetTimeView(middle - (middle - from) * factor, middle + (to - middle) * factor);
  Refresh();
}

void TimeChart::keyPressEvent(QKeyEvent* event) {
  if ((event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0) {
    QChartView::keyPressEvent(event);
    return;
  }
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      ZoomAboutCentre(WheelStep);
      break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
      ZoomAboutCentre(1 / WheelStep);
      break;
    case Qt::Key_Left:
      PanTime(-KeyPan);
      break;
    case Qt::Key_Right:
      PanTime(KeyPan);
      break;
    case Qt::Key_Up:
    case Qt::Key_Down:
      // Values move only once zoomed into them, as a drag moves them.
      if (valueZoom_) {
        const double rise = (valueZoom_->second - valueZoom_->first) * KeyPan *
                            (event->key() == Qt::Key_Up ? 1 : -1);
        valueZoom_ = std::pair<double, double>{valueZoom_->first + rise, valueZoom_->second + rise};
        Refresh();
      }
      break;
    case Qt::Key_Home:
    case Qt::Key_0:
      Fit();
      break;
    default:
      QChartView::keyPressEvent(event);
      return;
  }
  event->accept();
}

void TimeChart::focusInEvent(QFocusEvent* event) {
  QChartView::focusInEvent(event);
  viewport()->update();
}

void TimeChart::focusOutEvent(QFocusEvent* event) {
  QChartView::focusOutEvent(event);
  viewport()->update();
}

// The focus mark: a dotted frame around the plot while the chart has the
// keyboard.
void TimeChart::drawForeground(QPainter* painter, const QRectF& rect) {
  QChartView::drawForeground(painter, rect);
  if (!hasFocus()) {
    return;
  }
  const QRectF plot = chart_->mapRectToScene(chart_->plotArea()).adjusted(-3, -3, 3, 3);
  painter->save();
  QPen pen(palette().color(QPalette::Highlight));
  pen.setStyle(Qt::DotLine);
  pen.setWidth(2);
  painter->setPen(pen);
  painter->setBrush(Qt::NoBrush);
  painter->drawRect(plot);
  painter->restore();
}

void TimeChart::leaveEvent(QEvent* event) {
  readOut_->hide();
  QChartView::leaveEvent(event);
}

// The drawn point nearest the cursor on screen, with its time and value.
void TimeChart::ShowReadOut(const QPoint& at) {
  const std::vector<uint32_t>& drawn = reduction_.Indexes;
  const QRectF area = chart_->plotArea();
  const QPointF inChart = chart_->mapFromScene(mapToScene(at));
  if (drawn.empty() || !area.contains(inChart)) {
    readOut_->hide();
    return;
  }
  const auto [from, to] = TimeRange();
  const auto [low, high] = ValueRange();
  const double xScale = area.width() / std::max(1e-9, to - from);
  const double yScale = area.height() / std::max(1e-12, high - low);
  const double cursorMs = from + (inChart.x() - area.left()) / xScale;
  const double cursorY = high - (inChart.y() - area.top()) / yScale;
  const auto distance = [&](uint32_t i) {
    const double dx = (static_cast<double>(points_->Second(i)) * 1000.0 - cursorMs) * xScale;
    const double dy = (static_cast<double>(points_->Y(i)) - cursorY) * yScale;
    return std::hypot(dx, dy);
  };
  // Outward from the nearest time; beyond the best distance on the time
  // axis alone no point can be nearer.
  const auto split = std::lower_bound(
      drawn.begin(), drawn.end(), cursorMs,
      [&](uint32_t i, double ms) { return static_cast<double>(points_->Second(i)) * 1000.0 < ms; });
  size_t best = drawn.size();
  double bestDistance = 1e300;
  const auto consider = [&](size_t k) {
    const double dx =
        std::abs((static_cast<double>(points_->Second(drawn[k])) * 1000.0 - cursorMs) * xScale);
    if (dx > bestDistance) {
      return false;
    }
    const double d = distance(drawn[k]);
    if (d < bestDistance) {
      bestDistance = d;
      best = k;
    }
    return true;
  };
  const size_t mid = static_cast<size_t>(split - drawn.begin());
  for (size_t k = mid; k < drawn.size() && consider(k); ++k) {
  }
  for (size_t k = mid; k > 0 && consider(k - 1); --k) {
  }
  if (best == drawn.size()) {
    readOut_->hide();
    return;
  }
  const uint32_t i = drawn[best];
  const QDateTime time = QDateTime::fromSecsSinceEpoch(points_->Second(i));
  readOut_->setText(time.toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) + QLatin1Char('\n') +
                    FormatGeneral(points_->Y(i), 6) + QLatin1Char(' ') + RateUnit(language_));
  readOut_->adjustSize();
  QPoint place = at + QPoint(14, 14);
  place.setX(std::min(place.x(), width() - readOut_->width() - 2));
  place.setY(std::min(place.y(), height() - readOut_->height() - 2));
  readOut_->move(place);
  readOut_->show();
  readOut_->raise();
}

void TimeChart::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(Tr(RowChartFit, language_), this, [this] { Fit(); });
  menu.addAction(Tr(RowChartSavePng, language_), this, [this] { SavePngClicked(); });
  menu.addAction(Tr(RowChartSaveCsv, language_), this, [this] { SaveCsvClicked(); });
  if (options_.OwnWindow) {
    menu.addAction(Tr(RowChartWindowHelp, language_), this, [this] { OpenWindow(); });
  }
  menu.exec(event->globalPos());
}

}  // namespace vantor
