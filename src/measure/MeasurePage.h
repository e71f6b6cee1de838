#pragma once
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "ChartModel.h"
#include "HistorySink.h"
#include "MeasureHistory.h"
#include "Session.h"
#include "TimeChart.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;
class QLineSeries;
class QValueAxis;

namespace vantor {

// The live measurement tab (TabSheet1): the poll step, the live labels, the
// dose-rate chart and the dose reset.
class MeasurePage : public QWidget {
  Q_OBJECT

 public:
  explicit MeasurePage(Session& session, QWidget* parent = nullptr);

  // One tick of the poll timer Timer1 (PollMeasurement); does nothing unless
  // this tab is on display and no long operation is under way.
  void Timer1Timer();
  // Shows what a poll read (its end on the window's thread).
  void ShowPoll(const MeasurementPoll& poll);
  // The next successful poll displays even without a new measurement.
  void SetLiveRefreshPending();

  // The live figures are stale once no poll has read the instrument for
  // this long: greyed, with the time of the last reading beside them.
  static constexpr int64_t StaleAfterSeconds = 3;
  bool FiguresStale() const { return stale_; }
  // The dose-rate thresholds of the settings the program holds, as the
  // chart draws them; each reading above one takes its colour there and in
  // the live figures.
  static std::vector<ChartThreshold> DoseRateThresholds(const UserSettings& settings);
  static QColor ThresholdColour(int index);
  // Back to "- - -", clears the mean line and the peak (after a failed
  // settings read).
  void ResetLiveDisplay();
  // Empties Series1 and Series3 (start-up).
  void ClearChartSeries();
  // Captions of the tab in `language` (0 Russian, 1 English). The time
  // value keeps right of its caption, and the buttons right of the longest
  // time the language can show.
  void ApplyLanguage(uint8_t language);

  // Called with the archive record count and the memory-full flag each time
  // the live display is refreshed; the main window connects it to the
  // archive tab's memory-filling indicator.
  std::function<void(uint32_t count, bool full)> OnMemoryFilling;

  // The current measurement record into the labels and the memory indicator.
  void ShowMeasurement();
  // One chart step for a displayed reading taken at `seconds` since 1970.
  void AddChartPoint(float doseRate, int64_t seconds);
  // "Очистить график": every point and the peak go; no exchange.
  void ClearChart();
  void Button6Click() { ClearChart(); }
  // "Сбросить дозу": tells the instrument to restart its dose.
  void ResetDose();
  void Button3Click() { ResetDose(); }

  // The tab is on display when it is the current page of the tab widget that
  // holds it; a page outside any tab widget counts as on display.
  bool IsOnDisplay() const;
  bool LiveRefreshPending() const { return liveRefreshPending_; }
  const LiveChart& ChartState() const { return chart_; }
  // Tests and benchmarks fill the chart in bulk through ChartState(), then
  // bring the series and axes up to date with RefreshChart().
  LiveChart& ChartState() { return chart_; }
  void RefreshChart();
  TimeChart* ChartView() const { return Chart1; }
  QLineSeries* PointSeries() const { return Chart1->PointSeries(); }
  QLineSeries* MeanSeries() const { return Chart1->MeanSeries(); }
  QValueAxis* LeftAxis() const { return Chart1->LeftAxis(); }

  // The chart's period: live, or the readings of the connected instrument
  // (else the one the history saw last) over the last hour, day or week,
  // read from the history as a job (its progress and Cancel over the
  // chart) while the live chart stays. Polling goes on meanwhile, and while
  // a past period is shown it is a window on the history: each new point
  // joins it and the oldest leave. Its points join the live chart too,
  // which comes back with "live" or "Очистить график".
  enum ChartPeriodIndex : uint8_t { PeriodLive, PeriodHour, PeriodDay, PeriodWeek };
  void ShowChartPeriod(int period);
  bool ShowingPast() const { return past_ != nullptr; }
  bool LookingBack() const { return lookBack_ != nullptr; }
  void CancelLookBack();
  QComboBox* PeriodChoice() const { return ChartPeriod; }
  QWidget* LookBackProgress() const { return lookBackBar_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildPanel();
  void FitLabels();
  void ShowThresholdColours();
  void SetStale(bool stale);
  void BuildChart();
  void RedrawChart(bool leftAxis);
  void UpdateLeftAxis();
  void ShowLive();
  HistorySink History() const;  // the session's, for the polls and the dose reset
  bool StartLookBack(int period);
  // A past period as the chart takes it, made on the store's thread.
  struct PastPoints {
    HistoryOutcome Outcome;
    bool Cancelled = false;
    std::shared_ptr<ChartPoints> Points;
  };
  void LookBackDone(int period, PastPoints past);
  void ShowPastWindow();

  Session& session_;
  LiveChart chart_;
  bool liveRefreshPending_ = false;
  bool stale_ = false;
  int64_t lastReadAt_ = -1;   // the last poll that read the instrument
  int64_t lastShownAt_ = -1;  // the last reading displayed
  // Width of the longest accumulation time, by language; -1 until measured.
  std::array<int, 2> widestTime_{-1, -1};

  QFrame* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* Label9 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button6 = nullptr;
  QLabel* LastReading = nullptr;  // shown while the figures are stale
  TimeChart* Chart1 = nullptr;    // Series1 the points, Series3 their mean
  QComboBox* ChartPeriod = nullptr;
  // The past period on display, from the history; null while live.
  std::shared_ptr<ChartPoints> past_;
  int64_t pastSeconds_ = 0;
  // The look back being read, and the live points that came meanwhile.
  std::shared_ptr<HistoryJob> lookBack_;
  int lookBackTicket_ = 0;
  std::vector<std::pair<int64_t, float>> arrived_;
  QFrame* lookBackBar_ = nullptr;
  QProgressBar* lookBackProgress_ = nullptr;
  QToolButton* lookBackCancel_ = nullptr;
};

}  // namespace vantor
