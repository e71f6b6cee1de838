#include "MeasurePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "HistoryService.h"
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
// Timer1's interval: a reading a second while the tab is on display.
constexpr double PollPeriodSeconds = 1;
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
  lookBackProgress_->setFormat(MessageText(RowHistoryReading, language));
  lookBackCancel_->setText(MessageText(RowCancel, language));
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
  // Three polls missed in a row: the line stops where the readings did.
  options.GapSeconds = 3 * PollPeriodSeconds;
  Chart1 = new TimeChart(chart_.Points(), options, session_.LanguageIndex, this);
  Chart1->setObjectName("Chart1");
  Chart1->setGeometry(0, 119, 934, 368);
  Chart1->SetValueTitle(QStringLiteral("МЭД, мкЗв/ч"));
  Chart1->SetWindowName(MessageText(RowMeasureTab, session_.LanguageIndex).trimmed());
  const double now = 1000.0 * static_cast<double>(session_.Clock ? session_.Clock->Now() : 0);
  Chart1->SetIdleRange(now, now + 60000.0);
  Chart1->InstrumentName = [this] {
    return session_.PortNumber != 0 ? InstrumentName(IdentityOf(session_.Link.Values()))
                                    : QString();
  };

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

  // While a look back is read: its progress and Cancel over the plot.
  lookBackBar_ = new QFrame(Chart1);
  lookBackBar_->setObjectName("LookBackProgress");
  lookBackBar_->setFrameShape(QFrame::StyledPanel);
  lookBackBar_->setAutoFillBackground(true);
  lookBackBar_->setGeometry(70, 36, 260, 26);
  lookBackProgress_ = new QProgressBar(lookBackBar_);
  lookBackProgress_->setRange(0, 100);
  lookBackProgress_->setGeometry(4, 4, 170, 18);
  lookBackCancel_ = new QToolButton(lookBackBar_);
  lookBackCancel_->setObjectName("LookBackCancel");
  lookBackCancel_->setGeometry(178, 2, 78, 22);
  connect(lookBackCancel_, &QToolButton::clicked, this, [this] { ShowChartPeriod(PeriodLive); });
  lookBackBar_->hide();
}

void MeasurePage::ShowChartPeriod(int period) {
  CancelLookBack();
  if (period > PeriodLive && period <= PeriodWeek && StartLookBack(period)) {
    ChartPeriod->setCurrentIndex(period);
    return;
  }
  ShowLive();
  ChartPeriod->setCurrentIndex(PeriodLive);
}

void MeasurePage::CancelLookBack() {
  ++lookBackTicket_;
  if (lookBack_) {
    lookBack_->Cancel();
    lookBack_.reset();
  }
  arrived_.clear();
  lookBackBar_->hide();
}

void MeasurePage::ShowLive() {
  if (!past_) {
    return;
  }
  Chart1->SetPoints(chart_.Points());
  Chart1->SetWholeSpan(std::nullopt);
  past_.reset();
  const double now = 1000.0 * static_cast<double>(session_.Clock->Now());
  Chart1->SetIdleRange(now, now + 60000.0);
  RedrawChart(true);
}

bool MeasurePage::StartLookBack(int period) {
  HistoryService* history = session_.History;
  if (history == nullptr) {
    return false;
  }
  // The user asked: the store is tried now, even while it waits to retry
  // after a failure.
  history->Flush();
  std::optional<InstrumentIdentity> instrument;
  if (session_.PortNumber != 0) {
    instrument = IdentityOf(session_.Link.Values());
  }
  const int64_t nowMs = session_.Clock->NowMs();
  const int64_t fromMs = nowMs - PeriodSeconds[static_cast<size_t>(period)] * 1000;
  const int ticket = lookBackTicket_;
  const QPointer<MeasurePage> page(this);
  lookBackProgress_->setValue(0);
  lookBackBar_->show();
  lookBackBar_->raise();
  lookBack_ = history->Start<PastPoints>(
      [instrument, fromMs, nowMs](HistoryStore& store, HistoryJob& job) {
        const PastReadings read = ReadPastPeriod(store, instrument, fromMs, nowMs, job);
        // The chart's points are made here too, off the interface thread.
        PastPoints past{read.Outcome, read.Cancelled, std::make_shared<ChartPoints>()};
        for (size_t i = 0; i < read.Rates.AtMs.size() && !job.Cancelled(); ++i) {
          const int64_t ms = read.Rates.AtMs[i];
          past.Points->Add(ms / 1000 - (ms % 1000 < 0 ? 1 : 0), read.Rates.Rates[i]);
        }
        return past;
      },
      [page, ticket](double share) {
        if (page && page->lookBackTicket_ == ticket) {
          page->lookBackProgress_->setValue(static_cast<int>(share * 100));
        }
      },
      [page, ticket, period](PastPoints past) {
        if (page && page->lookBackTicket_ == ticket) {
          page->LookBackDone(period, std::move(past));
        }
      });
  return true;
}

void MeasurePage::LookBackDone(int period, PastPoints past) {
  lookBack_.reset();
  lookBackBar_->hide();
  if (past.Cancelled) {
    return;
  }
  if (!past.Outcome.Ok) {
    arrived_.clear();
    session_.ShowNotice({RowHistoryReadFailed, {past.Outcome.Error}, -1, {}});
    ShowLive();
    ChartPeriod->setCurrentIndex(PeriodLive);
    return;
  }
  // Points shown while the history was read that it did not have yet.
  const int64_t last =
      past.Points->Empty() ? std::numeric_limits<int64_t>::min() : past.Points->LastSecond();
  for (const auto& [second, rate] : arrived_) {
    if (second > last) {
      past.Points->Add(second, rate);
    }
  }
  arrived_.clear();
  pastSeconds_ = PeriodSeconds[static_cast<size_t>(period)];
  Chart1->SetPoints(*past.Points);
  past_ = std::move(past.Points);
  ShowPastWindow();
}

void MeasurePage::ShowPastWindow() {
  const int64_t now = session_.Clock->Now();
  const int64_t start = now - pastSeconds_;
  // The oldest points leave the window in steps, not one a second: each
  // step copies what stays.
  if (!past_->Empty() && past_->FirstSecond() < start - std::max<int64_t>(1, pastSeconds_ / 32)) {
    auto kept = std::make_shared<ChartPoints>();
    for (size_t i = past_->LowerBound(start); i < past_->Size(); ++i) {
      kept->Add(past_->Second(i), past_->Y(i));
    }
    Chart1->SetPoints(*kept);
    past_ = std::move(kept);
  }
  Chart1->SetIdleRange(static_cast<double>(start) * 1000.0, static_cast<double>(now) * 1000.0);
  // The whole period, however few readings it holds.
  Chart1->SetWholeSpan(std::pair<double, double>{static_cast<double>(start) * 1000.0,
                                                 static_cast<double>(now) * 1000.0});
  Chart1->SetMeanShown(!past_->Empty());
  Chart1->SetValueRange(0, AutomaticAxisMaximum(*past_));
  Chart1->Refresh();
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
  return {session_.History};
}

void MeasurePage::Timer1Timer() {
  // Only while the tab is on display, and never behind another of the
  // window's operations: a tick that finds the line taken is skipped.
  if (!IsOnDisplay() || session_.Busy || !session_.Idle()) {
    return;
  }
  auto poll = std::make_shared<MeasurementPoll>();
  CalendarClock* clock = session_.Clock;
  HistorySink history = History();
  session_.Run(
      this, QStringLiteral("poll"),
      [poll, clock, history](OperationControl& control) {
        *poll = PollMeasurement(control.Link(), *clock, history);
      },
      [this, poll](const OperationOutcome&) { ShowPoll(*poll); });
}

void MeasurePage::ShowPoll(const MeasurementPoll& poll) {
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
  // Violet, magenta and red: hues of their own, apart from the mean line's
  // orange and the points' blue.
  static const QColor colours[] = {QColor(110, 40, 210), QColor(210, 0, 160), QColor(220, 0, 30)};
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
  if (added && lookBack_) {
    arrived_.emplace_back(seconds, doseRate);
  }
  if (added && past_) {
    past_->Add(seconds, doseRate);
    ShowPastWindow();
  }
  if (added) {
    RedrawChart(true);
  } else {
    UpdateLeftAxis();
  }
}

void MeasurePage::ClearChart() {
  chart_.ClearChart();
  if (past_ || lookBack_) {
    ShowChartPeriod(PeriodLive);  // the cleared live chart comes back
  } else {
    RedrawChart(false);
  }
}

void MeasurePage::ResetDose() {
  if (session_.Busy) {
    return;
  }
  // The outcome is the write's own text in panel 0.
  session_.Run(this, QStringLiteral("dose reset"),
               [history = History()](OperationControl& control) {
                 vantor::ResetDose(control.Link(), history);
               },
               {});
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
