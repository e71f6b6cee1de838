#include "MeasurePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

#include "HistoryStore.h"
#include "LiveTexts.h"
#include "MeasureHistory.h"
#include "MeasureOperations.h"
#include "MessageTable.h"
#include "Scaling.h"

namespace vantor {
namespace {

constexpr int Gap = 6;        // between a caption and its value
constexpr int ColumnGap = 4;  // between the time and the buttons right of it
// Design places of the right-hand column: the chart switch and two buttons.
constexpr int CheckBox1X = 376;
constexpr int ButtonsX = 360;
// The chart's periods by ChartPeriodIndex: their length and caption.
constexpr std::array<int64_t, 4> PeriodSeconds{0, 3600, 86400, 7 * 86400};
constexpr std::array<MessageRow, 4> PeriodRows{RowChartLive, RowChartLastHour, RowChartLastDay,
                                               RowChartLastWeek};
// Figures gone stale.
const QColor StaleGrey(150, 150, 150);
// The longest accumulation time the column keeps clear of: 9999 days.
constexpr uint32_t LongestTime = 9999u * 86400u + 23u * 3600u + 59u * 60u;

QFont PanelFont(int pixels) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(pixels);
  font.setBold(true);
  return font;
}

QLabel* MakeLabel(QWidget* parent, const char* name, int x, int y, int pixels,
                  const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setFont(PanelFont(pixels));
  label->move(x, y);
  label->adjustSize();
  return label;
}

// Labels grow with their text, as the values change width.
void SetLabelText(QLabel* label, const QString& text) {
  label->setText(text);
  label->adjustSize();
}

// Puts `label` at its design left edge, or just right of `before` when the
// text there has grown into it (another language, a wider font than the
// design's).
void KeepRightOf(QLabel* label, const QWidget* before, int designX) {
  label->move(std::max(designX, before->geometry().right() + 1 + Gap), label->y());
}

// Width of `label` showing the widest accumulation time up to 9999 days:
// the longest text with every digit as wide as the widest digit.
int WidestTimeWidth(const QLabel& label, uint8_t language) {
  const QFontMetrics metrics(label.font());
  QChar widest = QLatin1Char('0');
  for (char digit = '1'; digit <= '9'; ++digit) {
    if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest)) {
      widest = QLatin1Char(digit);
    }
  }
  QString text = AccumulationTimeText(LongestTime, language);
  for (QChar& c : text) {
    if (c.isDigit()) {
      c = widest;
    }
  }
  // Measured as the label itself measures its text.
  QLabel probe(text);
  probe.setFont(label.font());
  return probe.sizeHint().width();
}

// A black plus-minus sign, 9 x 12 pixels, on a transparent 16 x 13 picture.
QPixmap PlusMinusPicture() {
  QPixmap picture(16, 13);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::black);
  painter.drawRect(4, 0, 1, 9);   // upright of the plus
  painter.drawRect(0, 4, 9, 1);   // bar of the plus
  painter.drawRect(0, 10, 9, 2);  // the minus
  return picture;
}

}  // namespace

MeasurePage::MeasurePage(Session& session, QWidget* parent) : QWidget(parent), session_(session) {
  setObjectName("TabSheet1");
  BuildPanel();
  BuildChart();
}

void MeasurePage::BuildPanel() {
  Panel1 = new QFrame(this);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setGeometry(0, 3, 934, 110);

  Label1 = MakeLabel(Panel1, "Label1", 19, 8, 16, QStringLiteral("МАЭД:"));
  Label2 = MakeLabel(Panel1, "Label2", 79, 5, 19, NoValueText);
  Label3 = MakeLabel(Panel1, "Label3", 137, 8, 16, QString());
  Image1 = new QLabel(Panel1);
  Image1->setObjectName("Image1");
  Image1->setGeometry(249, 15, 16, 13);
  Image1->setPixmap(PlusMinusPicture());
  Image1->hide();
  Label4 = MakeLabel(Panel1, "Label4", 263, 8, 16, QString());
  Label5 = MakeLabel(Panel1, "Label5", 19, 41, 16, QStringLiteral("АЭД:"));
  Label6 = MakeLabel(Panel1, "Label6", 79, 37, 19, NoValueText);
  Label7 = MakeLabel(Panel1, "Label7", 137, 41, 16, QString());
  Label8 = MakeLabel(Panel1, "Label8", 19, 74, 16, QStringLiteral("Время набора:"));
  Label9 = MakeLabel(Panel1, "Label9", 156, 71, 19, NoValueText);

  CheckBox1 = new QCheckBox(QStringLiteral("На график"), Panel1);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setGeometry(CheckBox1X, 12, 97, 17);
  CheckBox1->setChecked(true);

  Button3 = new QPushButton(QStringLiteral("Сбросить дозу"), Panel1);
  Button3->setObjectName("Button3");
  Button3->setGeometry(ButtonsX, 40, 121, 25);
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });

  Button6 = new QPushButton(QStringLiteral("Очистить график"), Panel1);
  Button6->setObjectName("Button6");
  Button6->setGeometry(ButtonsX, 71, 121, 25);
  connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(); });

  LastReading = new QLabel(Panel1);
  LastReading->setObjectName("LastReading");
  QFont note = PanelFont(13);
  LastReading->setFont(note);
  LastReading->setWordWrap(true);
  LastReading->hide();

  // The panel places its labels again whenever one of them asks for a new
  // size (a wider font than the design's, a new caption).
  Panel1->installEventFilter(this);
  FitLabels();
}

bool MeasurePage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Panel1 &&
      (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show)) {
    FitLabels();
  }
  return QWidget::eventFilter(watched, event);
}

void MeasurePage::FitLabels() {
  for (QLabel* label : {Label1, Label2, Label3, Label4, Label5, Label6, Label7, Label8, Label9}) {
    label->adjustSize();
  }
  KeepRightOf(Label2, Label1, 79);
  KeepRightOf(Label3, Label2, 137);
  Image1->move(std::max(249, Label3->geometry().right() + 7), Image1->y());
  Label4->move(Image1->x() + 14, Label4->y());
  KeepRightOf(Label6, Label5, 79);
  KeepRightOf(Label7, Label6, 137);
  KeepRightOf(Label9, Label8, 156);
  // The column right of the time keeps clear of the longest time the
  // language can show, so a growing time never runs under "Очистить график"
  // and the buttons do not move as it grows; only the language moves them.
  const uint8_t language = session_.LanguageIndex == 1 ? 1 : 0;
  if (widestTime_[language] < 0) {
    widestTime_[language] = WidestTimeWidth(*Label9, language);
  }
  const int timeWidth = std::max(widestTime_[language], Label9->width());
  const int shift = std::max(0, Label9->x() + timeWidth + ColumnGap - ButtonsX);
  CheckBox1->move(CheckBox1X + shift, CheckBox1->y());
  Button3->move(ButtonsX + shift, Button3->y());
  Button6->move(ButtonsX + shift, Button6->y());
  const int left = Button3->geometry().right() + 20;
  LastReading->setGeometry(left, 8, std::max(80, Panel1->width() - left - 10), 90);
}

void MeasurePage::ApplyLanguage(uint8_t language) {
  SetCaptions({{Label1, RowLiveRateCaption},
               {Label5, RowLiveDoseCaption},
               {Label8, RowAccumulationCaption},
               {CheckBox1, RowToTheChart},
               {Button3, RowResetDose},
               {Button6, RowClearChart}},
              language);
  for (size_t i = 0; i < PeriodRows.size(); ++i) {
    ChartPeriod->setItemText(static_cast<int>(i), MessageText(PeriodRows[i], language));
  }
  ChartPeriod->setToolTip(MessageText(RowChartPeriodHelp, language));
  Chart1->SetValueTitle(MessageText(RowLiveAxisTitle, language));
  Chart1->SetWindowName(MessageText(RowMeasureTab, language).trimmed());
  Chart1->ApplyLanguage(language);
  FitLabels();
  if (stale_) {
    SetStale(true);  // the note in the new language
  }
}

void MeasurePage::BuildChart() {
  TimeChartOptions options;
  options.PointSeriesName = QStringLiteral("Series1");
  options.MeanSeriesName = QStringLiteral("Series3");
  options.ShowIntegral = true;
  Chart1 = new TimeChart(chart_.Points(), options, session_.LanguageIndex, this);
  Chart1->setObjectName("Chart1");
  Chart1->setGeometry(0, 119, 934, 368);
  Chart1->SetValueTitle(QStringLiteral("МЭД, мкЗв/ч"));
  Chart1->SetWindowName(MessageText(RowMeasureTab, session_.LanguageIndex).trimmed());
  const double now = 1000.0 * static_cast<double>(session_.Clock ? session_.Clock->Now() : 0);
  Chart1->SetIdleRange(now, now + 60000.0);

  // The look back sits with the chart's own tools, above the plot.
  ChartPeriod = new QComboBox(this);
  ChartPeriod->setObjectName("ChartPeriod");
  ChartPeriod->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  for (const MessageRow row : PeriodRows) {
    ChartPeriod->addItem(MessageText(row, session_.LanguageIndex));
  }
  ChartPeriod->setToolTip(MessageText(RowChartPeriodHelp, session_.LanguageIndex));
  Chart1->AddTool(ChartPeriod);
  // Activated, not changed: choosing the same period again fetches it anew.
  connect(ChartPeriod, &QComboBox::activated, this, [this](int index) { ShowChartPeriod(index); });
}

void MeasurePage::ShowChartPeriod(int period) {
  if (period > PeriodLive && period <= PeriodWeek &&
      ShowPast(PeriodSeconds[static_cast<size_t>(period)])) {
    ChartPeriod->setCurrentIndex(period);
    return;
  }
  ShowLive();
  ChartPeriod->setCurrentIndex(PeriodLive);
}

void MeasurePage::ShowLive() {
  if (!past_) {
    return;
  }
  Chart1->SetPoints(chart_.Points());
  past_.reset();
  const double now = 1000.0 * static_cast<double>(session_.Clock->Now());
  Chart1->SetIdleRange(now, now + 60000.0);
  RedrawChart(true);
}

bool MeasurePage::ShowPast(int64_t seconds) {
  HistoryStore* store = session_.History;
  if (store == nullptr) {
    return false;
  }
  const auto failed = [this](const HistoryOutcome& outcome) {
    session_.ShowError(
        MessageText(RowHistoryReadFailed, session_.LanguageIndex).arg(outcome.Error));
    return false;
  };
  // The user asked: the store is tried now, even while it waits to retry
  // after a failure.
  if (const HistoryOutcome flushed = store->Flush(); !flushed.Ok) {
    return failed(flushed);
  }
  std::optional<InstrumentIdentity> instrument;
  if (session_.PortNumber != 0) {
    instrument = IdentityOf(session_.Link.Values());
  } else {
    const auto known = store->Instruments();
    if (!known.Outcome.Ok) {
      return failed(known.Outcome);
    }
    if (!known.Value.empty()) {
      instrument = known.Value.back().Identity;
    }
  }
  const int64_t nowMs = session_.Clock->Now() * 1000;
  const int64_t fromMs = nowMs - seconds * 1000;
  auto points = std::make_unique<ChartPoints>();
  if (instrument) {
    // Up to the end of the current second, which the live chart shows too.
    const auto rates = store->Rates(*instrument, {fromMs, nowMs + 1000});
    if (!rates.Outcome.Ok) {
      return failed(rates.Outcome);
    }
    for (size_t i = 0; i < rates.Value.AtMs.size(); ++i) {
      points->Add(rates.Value.AtMs[i] / 1000, rates.Value.Rates[i]);
    }
  }
  Chart1->SetPoints(*points);
  past_ = std::move(points);
  Chart1->SetIdleRange(static_cast<double>(fromMs), static_cast<double>(nowMs));
  Chart1->SetMeanShown(!past_->Empty());
  Chart1->SetValueRange(0, AutomaticAxisMaximum(*past_));
  Chart1->Refresh();
  return true;
}

bool MeasurePage::IsOnDisplay() const {
  for (const QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
    if (const auto* tabs = qobject_cast<const QTabWidget*>(w)) {
      return tabs->currentWidget() == this;
    }
  }
  return true;
}

HistorySink MeasurePage::History() const {
  return {session_.History, session_.ReportHistory};
}

void MeasurePage::Timer1Timer() {
  // A long operation elsewhere lets the window answer between its exchanges;
  // the poll must not slip in between them.
  if (!IsOnDisplay() || session_.Busy) {
    return;
  }
  const MeasurementPoll poll = PollMeasurement(session_.Link, *session_.Clock, History());
  if (poll.Read) {
    lastReadAt_ = poll.At;
    SetStale(false);
  } else if (lastShownAt_ >= 0 &&
             session_.Clock->Now() - std::max(lastReadAt_, lastShownAt_) >= StaleAfterSeconds) {
    // The link is lost: what is on display no longer looks current.
    SetStale(true);
  }
  // A step that set the instrument's clock shows nothing.
  if (!poll.Read || poll.ClockSet) {
    return;
  }
  if (poll.NewMeasurement || liveRefreshPending_) {
    liveRefreshPending_ = false;
    ShowMeasurement();
    lastShownAt_ = poll.At;
    AddChartPoint(poll.Record.DoseRate, poll.At);
  }
}

QColor MeasurePage::ThresholdColour(int index) {
  static const QColor colours[] = {QColor(200, 140, 0), QColor(230, 90, 0), QColor(210, 0, 0)};
  return colours[std::clamp(index, 0, 2)];
}

std::vector<ChartThreshold> MeasurePage::DoseRateThresholds(const UserSettings& settings) {
  std::vector<ChartThreshold> thresholds;
  for (size_t k = 0; k < settings.DoseRateAlarm.size(); ++k) {
    thresholds.push_back({settings.DoseRateAlarm[k], ThresholdColour(static_cast<int>(k)),
                          k == settings.DoseRateAlarmNumber});
  }
  return thresholds;
}

// The rate and the dose with their units in the colour of the threshold
// they exceed (rates in the dose-rate modes only: a flux is no dose rate).
void MeasurePage::ShowThresholdColours() {
  const ValueStorage& values = session_.Link.Values();
  const MeasurementRecord& record = values.Measurement;
  const int mode = ClampMeasurementMode(record.MeasurementMode & 0xFF);
  std::vector<ChartThreshold> doses;
  for (size_t k = 0; k < values.Settings.DoseAlarm.size(); ++k) {
    doses.push_back({values.Settings.DoseAlarm[k], ThresholdColour(static_cast<int>(k)), false});
  }
  const int rateOver =
      mode == 1 || mode == 2
          ? -1
          : ExceededThreshold(DoseRateThresholds(values.Settings), record.DoseRate);
  const int doseOver = ExceededThreshold(doses, record.Dose);
  const auto paint = [this](std::initializer_list<QLabel*> labels, int over) {
    for (QLabel* label : labels) {
      QPalette palette = Panel1->palette();
      if (stale_) {
        palette.setColor(QPalette::WindowText, StaleGrey);
      } else if (over >= 0) {
        palette.setColor(QPalette::WindowText, ThresholdColour(over));
      }
      label->setPalette(palette);
    }
  };
  paint({Label2, Label3}, rateOver);
  paint({Label6, Label7}, doseOver);
  paint({Label4, Label9}, -1);
}

void MeasurePage::SetStale(bool stale) {
  if (stale == stale_ && !stale) {
    return;
  }
  stale_ = stale;
  if (stale_) {
    const LocalTime now = session_.Clock->ToLocal(session_.Clock->Now());
    const LocalTime at = session_.Clock->ToLocal(lastShownAt_);
    QString when = QStringLiteral("%1:%2:%3")
                       .arg(at.Hour, 2, 10, QLatin1Char('0'))
                       .arg(at.Minute, 2, 10, QLatin1Char('0'))
                       .arg(at.Second, 2, 10, QLatin1Char('0'));
    if (at.Year != now.Year || at.Month != now.Month || at.Day != now.Day) {
      when = QStringLiteral("%1.%2.%3 ")
                 .arg(at.Day, 2, 10, QLatin1Char('0'))
                 .arg(at.Month, 2, 10, QLatin1Char('0'))
                 .arg(at.Year) +
             when;
    }
    LastReading->setText(MessageText(RowLastReading, session_.LanguageIndex).arg(when));
  }
  LastReading->setVisible(stale_);
  ShowThresholdColours();
}

void MeasurePage::SetLiveRefreshPending() {
  liveRefreshPending_ = true;
}

void MeasurePage::ShowMeasurement() {
  const MeasurementRecord& record = session_.Link.Values().Measurement;
  const uint8_t language = session_.LanguageIndex;

  SetLabelText(Label4, UncertaintyText(record.DoseRateError));
  Image1->show();

  const int mode = ClampMeasurementMode(record.MeasurementMode & 0xFF);
  const ReadingText rate = RateReadingText(record.DoseRate, mode);
  SetLabelText(Label1, MessageText(RowRateCaption + mode, language));
  SetLabelText(Label5, MessageText(RowDoseCaption + mode, language));
  SetLabelText(Label3, QString::fromUtf8(DoseRateUnit(mode, rate.PrefixIndex, language)));
  SetLabelText(Label2, rate.Value);

  const ReadingText dose = DoseReadingText(record.Dose);
  SetLabelText(Label7, MessageText(RowDoseUnit + dose.PrefixIndex, language));
  SetLabelText(Label6, dose.Value);

  SetLabelText(Label9, AccumulationTimeText(record.AccumulationTime, language));
  FitLabels();
  Chart1->SetThresholds(DoseRateThresholds(session_.Link.Values().Settings));
  ShowThresholdColours();

  if (OnMemoryFilling) {
    OnMemoryFilling(record.ArchiveRecordCount, (record.StatusFlags & MemoryFullFlag) != 0);
  }
}

void MeasurePage::AddChartPoint(float doseRate, int64_t seconds) {
  const bool added = chart_.AddChartPoint(doseRate, seconds, session_.Clock->StandardOffset(),
                                          CheckBox1->isChecked());
  if (added) {
    RedrawChart(true);
  } else {
    UpdateLeftAxis();
  }
}

void MeasurePage::ClearChart() {
  chart_.ClearChart();
  if (past_) {
    ShowChartPeriod(PeriodLive);  // the cleared live chart comes back
  } else {
    RedrawChart(false);
  }
}

void MeasurePage::ResetDose() {
  // The outcome is the write's own text in panel 0.
  vantor::ResetDose(session_.Link, History());
}

void MeasurePage::ResetLiveDisplay() {
  SetLabelText(Label2, NoValueText);
  SetLabelText(Label6, NoValueText);
  SetLabelText(Label9, NoValueText);
  FitLabels();
  session_.SetPanel(1, NoValueText);
  session_.SetPanel(2, NoValueText);
  chart_.ResetMeanAndPeak();
  RedrawChart(false);
}

void MeasurePage::ClearChartSeries() {
  chart_.ClearSeries();
  RedrawChart(false);
}

void MeasurePage::RedrawChart(bool leftAxis) {
  if (past_) {
    return;  // the live points wait for the way back
  }
  if (leftAxis) {
    UpdateLeftAxis();
  }
  Chart1->SetMeanShown(chart_.MeanShown());
  Chart1->Refresh();
}

void MeasurePage::RefreshChart() {
  RedrawChart(true);
}

void MeasurePage::UpdateLeftAxis() {
  if (past_) {
    return;
  }
  const std::optional<double> fixed = chart_.AxisMaximum();
  Chart1->SetValueRange(0, fixed ? *fixed : AutomaticAxisMaximum(chart_.Points()));
}

}  // namespace vantor
