#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <map>

#include "CalendarClock.h"
#include "Dictionary.h"
#include "LiveTexts.h"
#include "MeasurePage.h"
#include "MessageTable.h"
#include "NumberText.h"
#include "PageFixture.h"
#include "SettingsOperations.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

constexpr int Port = 4;
constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC
constexpr int64_t ZoneOffset = -3 * 3600;

// The live tab polling a virtual instrument on a real pseudo-terminal. The
// instrument runs in manual time and its clock starts equal to the pinned
// computer clock; the test calls the poll handler as the timer would.
class MeasureE2e : public test::PageFixture {
 protected:
  static void SetUpTestSuite() { test::EnsureApplication(); }

  void SetUp() override {
    SetDecimalSeparator(QLatin1Char('.'));
    ASSERT_TRUE(sim.PinAs(Port));
    sim.SetDeviceClock(clock.ToLocal(clock.Now()));
    Wire(session);
    ASSERT_TRUE(Open(session, Port));
    Look(&page);
  }
  void TearDown() override { SetDecimalSeparator(QChar()); }

  QString Text(const char* label) { return Find<QLabel>(label)->text(); }
  QStringList Labels() {
    QStringList texts;
    for (const char* name :
         {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "Label7", "Label9"}) {
      texts << Text(name);
    }
    return texts;
  }
  // A poll of the live tab, as its timer makes it.
  void Poll() {
    Act([this] { page.Timer1Timer(); });
  }
  // Both clocks move on by a second, so the instrument flags a measurement.
  void NextSecond() {
    sim.AdvanceSeconds(1);
    clock.Advance(1);
  }
  // The instrument measures at about this dose rate from the next second on.
  float Measure(double background) {
    sim.SetBackground(background);
    NextSecond();
    Poll();
    return session.Link.Values().Measurement.DoseRate;
  }
  QString RateText() {
    return RateReadingText(session.Link.Values().Measurement.DoseRate, 0).Value;
  }

  TempConfigHome home;
  sim::VirtualInstrument sim;
  FixedClock clock{Start, ZoneOffset};
  Session session{&clock};
  MeasurePage page{session};
};

TEST_F(MeasureE2e, PollWithoutANewMeasurementChangesOnlyPanelZero) {
  sim.SetBackground(5.0);
  sim.AdvanceSeconds(90);
  clock.Advance(90);
  Poll();  // the instrument flags its measurement: shown
  EXPECT_NE(Text("Label2"), "- - -");
  EXPECT_EQ(Text("Label9"), " 1мин");
  EXPECT_EQ(page.PointSeries()->count(), 1);

  // The instrument's reading changes but it flags nothing new.
  sim.SetBackground(500.0);
  const QStringList before = Labels();
  panels.clear();
  panelWrites = 0;
  clock.Advance(1);
  Poll();
  EXPECT_EQ(Labels(), before);
  EXPECT_EQ(page.PointSeries()->count(), 1);
  EXPECT_EQ(panelWrites, 1);
  EXPECT_EQ(panels[0], "Чтение");
  EXPECT_EQ(sim.RequestsSeen(IdMeasurement), 2u);

  // Coming back to the tab asks for a redraw even without a new measurement.
  page.SetLiveRefreshPending();
  clock.Advance(1);
  Poll();
  EXPECT_NE(Labels(), before);
  EXPECT_EQ(Text("Label2"), RateText());
  EXPECT_GT(session.Link.Values().Measurement.DoseRate, 250.0f);
  EXPECT_FALSE(page.LiveRefreshPending());
  EXPECT_EQ(page.PointSeries()->count(), 2);
}

TEST_F(MeasureE2e, DriftedInstrumentClockIsSetAndThatStepShowsNothing) {
  const LocalTime computer = clock.ToLocal(clock.Now());
  sim.SetDeviceClock(clock.ToLocal(clock.Now() + 301));
  Poll();
  EXPECT_EQ(sim.WritesSeen(IdClock), 1u);
  EXPECT_EQ(panels[0], "Выполнено");
  EXPECT_EQ(Text("Label2"), "- - -");
  EXPECT_EQ(page.PointSeries()->count(), 0);
  const LocalTime set = sim.Snapshot().DeviceClock;
  EXPECT_EQ(set.Year, computer.Year);
  EXPECT_EQ(set.Month, computer.Month);
  EXPECT_EQ(set.Day, computer.Day);
  EXPECT_EQ(set.Hour, computer.Hour);
  EXPECT_EQ(set.Minute, computer.Minute);
  EXPECT_EQ(set.Second, computer.Second);

  // In step again, the next measurement is shown and the clock left alone.
  NextSecond();
  Poll();
  EXPECT_EQ(sim.WritesSeen(IdClock), 1u);
  EXPECT_NE(Text("Label2"), "- - -");
  EXPECT_EQ(page.PointSeries()->count(), 1);

  // Exactly five minutes off is still in step.
  sim.SetDeviceClock(clock.ToLocal(clock.Now() - 300));
  NextSecond();
  Poll();
  EXPECT_EQ(sim.WritesSeen(IdClock), 1u);
  EXPECT_EQ(page.PointSeries()->count(), 2);
}

TEST_F(MeasureE2e, DoseResetMakesTheInstrumentStartItsDoseAgain) {
  sim.SetBackground(20.0);
  sim.AdvanceSeconds(3 * 3600 + 120);
  clock.Advance(3 * 3600 + 120);
  Poll();
  EXPECT_EQ(Text("Label9"), " 3ч 2мин");
  const QString doseBefore = Text("Label6");
  EXPECT_GT(sim.Values().Measurement.Dose, 0.0f);

  Press("Button3");
  EXPECT_EQ(sim.WritesSeen(IdCommand), 1u);
  EXPECT_EQ(panels[0], "Выполнено");
  EXPECT_EQ(sim.Values().Measurement.Dose, 0.0f);
  EXPECT_EQ(sim.Values().Measurement.AccumulationTime, 0u);
  // Nothing changes on screen until the instrument reports it.
  EXPECT_EQ(Text("Label9"), " 3ч 2мин");
  EXPECT_EQ(Text("Label6"), doseBefore);

  NextSecond();
  Poll();
  EXPECT_EQ(Text("Label9"), "0мин");
}

TEST_F(MeasureE2e, SilentInstrumentLeavesLabelsAndChartAsTheyWere) {
  NextSecond();
  Poll();
  const QStringList before = Labels();
  ASSERT_EQ(page.PointSeries()->count(), 1);

  sim.InjectFault(sim::Fault::Silence);
  sim.SetBackground(300.0);
  NextSecond();
  page.SetLiveRefreshPending();
  Poll();
  EXPECT_EQ(panels[0], "Ошибка связи");
  EXPECT_EQ(Labels(), before);
  EXPECT_EQ(page.PointSeries()->count(), 1);
  EXPECT_EQ(sim.WritesSeen(IdClock), 0u);
  EXPECT_TRUE(page.LiveRefreshPending());  // still owed to the next good read

  sim.ClearFaults();
  Poll();  // nothing new flagged, but the pending redraw shows it
  EXPECT_NE(Labels(), before);
  EXPECT_EQ(page.PointSeries()->count(), 2);
}

TEST_F(MeasureE2e, ChartFollowsTheDisplayedReadings) {
  const float a = Measure(10.0);
  const float b = Measure(20.0);
  const float c = Measure(60.0);
  QLineSeries* points = page.PointSeries();
  QLineSeries* mean = page.MeanSeries();
  ASSERT_EQ(points->count(), 3);
  EXPECT_DOUBLE_EQ(points->at(2).y(), c);
  ASSERT_EQ(mean->count(), 2);
  EXPECT_NEAR(mean->at(0).y(), (double{a} + b + c) / 3, 1e-9);
  EXPECT_DOUBLE_EQ(mean->at(0).x(), points->at(0).x());
  EXPECT_DOUBLE_EQ(mean->at(1).x(), points->at(2).x());
  const float peak = std::max({a, b, c});
  EXPECT_NEAR(page.LeftAxis()->max(), peak + peak / 7.0, 1e-4);

  // Not plotted, a higher reading still lifts the peak and the axis.
  Press("CheckBox1");
  const float high = Measure(500.0);
  ASSERT_GT(high, peak);
  EXPECT_EQ(Text("Label2"), RateText());
  EXPECT_EQ(points->count(), 3);
  EXPECT_NEAR(page.LeftAxis()->max(), high + high / 7.0, 1e-3);

  // After a clear the next small reading sets the axis alone.
  Press("Button6");
  EXPECT_EQ(points->count(), 0);
  EXPECT_EQ(mean->count(), 0);
  Press("CheckBox1");
  const float low = Measure(2.0);
  ASSERT_GT(low, 0.0f);
  EXPECT_EQ(points->count(), 1);
  EXPECT_NEAR(page.LeftAxis()->max(), low + low / 7.0, 1e-5);
  EXPECT_EQ(sim.WritesSeen(IdCommand), 0u);  // clearing the chart is local
}

// The factory thresholds of the virtual instrument: 0.3, 1.2 and 10 uSv/h,
// the first in force.
TEST_F(MeasureE2e, ThresholdsAreDrawnAndReadingsAboveThemTakeTheirColourUntilTheLinkIsLost) {
  ASSERT_TRUE(
      test::OnLine(session, [](DeviceLink& line) { return int(ReadSettings(line).UserRead); }));
  page.resize(945, 490);
  page.show();
  const auto colour = [this](const char* label) {
    return Find<QLabel>(label)->palette().color(QPalette::WindowText);
  };
  const QColor normal = colour("Label2");

  Measure(0.12);
  TimeChart* chart = page.ChartView();
  ASSERT_EQ(chart->ThresholdLines().size(), 3u);
  EXPECT_EQ(chart->ThresholdLines()[0]->at(0).y(), 0.3f);
  EXPECT_EQ(chart->ThresholdLines()[1]->at(0).y(), 1.2f);
  EXPECT_EQ(chart->ThresholdLines()[2]->at(0).y(), 10.0f);
  EXPECT_EQ(chart->ThresholdLines()[0]->pen().style(), Qt::SolidLine) << "the one in force";
  EXPECT_EQ(chart->ThresholdLines()[1]->pen().style(), Qt::DashLine);
  EXPECT_EQ(colour("Label2"), normal);

  const float high = Measure(3.0);  // above 1.2, below 10
  ASSERT_GT(high, 1.2f);
  ASSERT_LT(high, 10.0f);
  EXPECT_EQ(colour("Label2"), MeasurePage::ThresholdColour(1));
  EXPECT_EQ(colour("Label3"), MeasurePage::ThresholdColour(1));
  ASSERT_EQ(chart->ThresholdPoints()[1]->count(), 1);
  EXPECT_DOUBLE_EQ(chart->ThresholdPoints()[1]->at(0).y(), high);
  EXPECT_EQ(chart->ThresholdPoints()[1]->color(), MeasurePage::ThresholdColour(1));
  EXPECT_EQ(chart->ThresholdPoints()[0]->count(), 0) << "each point once, in the highest colour";

  // The cable comes out: the figures keep their texts but go grey, and say
  // when the last reading was, once the polls have failed for 3 s.
  const QStringList shown = Labels();
  sim.Unplug();
  for (int second = 0; second < 2; ++second) {
    NextSecond();
    Poll();
  }
  EXPECT_FALSE(page.FiguresStale()) << "a failed poll or two is no lost link";
  NextSecond();
  Poll();
  ASSERT_TRUE(page.FiguresStale());
  EXPECT_EQ(Labels(), shown);
  EXPECT_EQ(colour("Label2"), QColor(150, 150, 150));
  EXPECT_EQ(colour("Label9"), QColor(150, 150, 150));
  auto* note = Find<QLabel>("LastReading");
  EXPECT_TRUE(note->isVisible());
  // 10:00:02 UTC is 13:00:02 three hours east.
  EXPECT_EQ(note->text(), QString::fromUtf8("Нет связи с прибором. Последнее измерение: 13:00:02"));
  session.LanguageIndex = 1;
  page.ApplyLanguage(1);
  EXPECT_EQ(note->text(), "No link to the instrument. Last reading: 13:00:02");

  // Back on the line, the next poll makes them current again.
  ASSERT_TRUE(sim.Plug());
  test::OnLine(session, [&](DeviceLink& line) {
    line.OpenPort(Port);
    return 0;
  });
  Measure(3.0);
  EXPECT_FALSE(page.FiguresStale());
  EXPECT_FALSE(note->isVisible());
  EXPECT_EQ(colour("Label2"), MeasurePage::ThresholdColour(1));
}

TEST_F(MeasureE2e, TheChartInItsOwnWindowFollowsTheLiveReadingsAndZoomsOnItsOwn) {
  page.resize(945, 490);
  page.show();
  Measure(0.12);
  TimeChart* chart = page.ChartView();
  const QSize designed = chart->size();
  Act([chart] { chart->WindowButton()->click(); });
  TimeChart* big = chart->WindowChart();
  ASSERT_NE(big, nullptr);
  QWidget* window = big->window();
  EXPECT_NE(window, page.window()) << "a window of its own";
  EXPECT_TRUE(window->isVisible());
  EXPECT_NE(window->minimumSize(), window->maximumSize()) << "resizable";
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Vantor — Результаты измерения"));
  EXPECT_EQ(&big->Points(), &chart->Points()) << "the same points";
  EXPECT_FALSE(big->WindowButton()->isVisible());
  window->resize(1600, 900);
  Settle();
  EXPECT_EQ(chart->size(), designed) << "the tab keeps its chart as designed";

  Measure(0.13);
  Measure(0.14);
  EXPECT_EQ(big->PointSeries()->count(), 3) << "follows the live points";
  EXPECT_EQ(big->StatisticsLabel()->text().left(20), chart->StatisticsLabel()->text().left(20));

  big->ZoomTime(1000.0 * (Start + 1), 1000.0 * (Start + 7));
  Measure(0.15);
  EXPECT_TRUE(big->Zoomed());
  EXPECT_FALSE(chart->Zoomed()) << "each view zooms on its own";

  Act([chart] { chart->WindowButton()->click(); });
  EXPECT_EQ(chart->WindowChart(), big) << "opened again, the same window";
  window->close();
  Settle();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(chart->WindowChart(), nullptr);
  Measure(0.16);  // the main chart goes on alone
  EXPECT_EQ(page.PointSeries()->count(), 5);
}

}  // namespace
}  // namespace vantor
