#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QWheelEvent>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

#include "Dictionary.h"
#include "LiveTexts.h"
#include "MeasurePage.h"
#include "MessageTable.h"
#include "NumberText.h"
#include "PageFixture.h"
#include "Session.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC

// The page on its own (counts as on display), with the status panels and
// every outcome the link reports recorded. No port is open, so every
// exchange fails at once.
class PageTest : public test::PageFixture {
 protected:
  PageTest() : clock(Start, -3 * 3600), session(&clock) {
    test::EnsureApplication();
    SetDecimalSeparator(QLatin1Char('.'));
    Wire(session);
    page = std::make_unique<MeasurePage>(session);
    Look(page.get());
  }
  ~PageTest() override { SetDecimalSeparator(QChar()); }

  QLabel* Label(const char* name) { return Find<QLabel>(name); }
  QString Text(const char* name) { return Label(name)->text(); }
  MeasurementRecord& Record() { return session.Link.Values().Measurement; }

  FixedClock clock;
  Session session;
  std::unique_ptr<MeasurePage> page;
};

TEST_F(PageTest, ControlsAreBuiltAsDesigned) {
  EXPECT_EQ(page->objectName(), "TabSheet1");
  auto* panel = Find<QWidget>("Panel1");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->geometry(), QRect(0, 3, 934, 110));
  struct Expected {
    const char* Name;
    int X, Y, Pixels;
    const char* Text;
  };
  const Expected labels[] = {
      {"Label1", 19, 8, 16, "МАЭД:"},   {"Label2", 79, 5, 19, "- - -"},
      {"Label3", 137, 8, 16, ""},       {"Label4", 263, 8, 16, ""},
      {"Label5", 19, 41, 16, "АЭД:"},   {"Label6", 79, 37, 19, "- - -"},
      {"Label7", 137, 41, 16, ""},      {"Label8", 19, 74, 16, "Время набора:"},
      {"Label9", 156, 71, 19, "- - -"},
  };
  for (const Expected& e : labels) {
    SCOPED_TRACE(e.Name);
    QLabel* label = Label(e.Name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget(), panel);
    // Design places, or further right where a wider font than the design's
    // would make a value run into its caption.
    EXPECT_EQ(label->y(), e.Y);
    EXPECT_GE(label->x(), e.X);
    EXPECT_EQ(label->font().pixelSize(), e.Pixels);
    EXPECT_TRUE(label->font().bold());
    EXPECT_EQ(label->text(), QString::fromUtf8(e.Text));
  }
  EXPECT_EQ(Label("Label1")->x(), 19);
  EXPECT_LT(Label("Label1")->geometry().right(), Label("Label2")->x());
  EXPECT_LT(Label("Label5")->geometry().right(), Label("Label6")->x());
  EXPECT_LT(Label("Label8")->geometry().right(), Label("Label9")->x());
  QLabel* image = Label("Image1");
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->geometry(), QRect(249, 15, 16, 13));
  EXPECT_TRUE(image->isHidden());
  EXPECT_FALSE(image->pixmap().isNull());

  auto* check = Find<QCheckBox>("CheckBox1");
  ASSERT_NE(check, nullptr);
  EXPECT_TRUE(check->isChecked());
  EXPECT_EQ(check->text(), "На график");
  EXPECT_EQ(Find<QPushButton>("Button3")->text(), "Сбросить дозу");
  const QRect button6 = Find<QPushButton>("Button6")->geometry();
  EXPECT_GE(button6.x(), 360);  // right of the longest time (Tahoma: at 360)
  EXPECT_EQ(button6.y(), 71);
  EXPECT_EQ(button6.size(), QSize(121, 25));

  auto* view = Find<QChartView>("Chart1");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->geometry(), QRect(0, 119, 934, 368));
  const QList<QAbstractAxis*> vertical = view->chart()->axes(Qt::Vertical);
  ASSERT_EQ(vertical.size(), 1);
  EXPECT_EQ(vertical.first()->titleText(), "МЭД, мкЗв/ч");
  EXPECT_EQ(page->MeanSeries()->pen().color(), QColor(243, 156, 53));
  EXPECT_TRUE(page->PointSeries()->pointsVisible());
}

TEST_F(PageTest, DisplayShowsTheRecordWithPrefixesAndModeCaptions) {
  Record().DoseRate = 1234.5f;
  Record().DoseRateError = 7.4f;
  Record().Dose = 15.67f;
  Record().AccumulationTime = 2 * 86400 + 5 * 3600 + 7 * 60;
  Record().ArchiveRecordCount = 1080;
  Record().StatusFlags = 0x0011;
  Record().MeasurementMode = 0x0300;  // only the low byte counts
  uint32_t filledCount = 0;
  bool filledFull = false;
  page->OnMemoryFilling = [&](uint32_t count, bool full) {
    filledCount = count;
    filledFull = full;
  };
  page->ShowMeasurement();
  EXPECT_EQ(Text("Label1"), "МАЭД");
  EXPECT_EQ(Text("Label2"), "1.23");
  EXPECT_EQ(Text("Label3"), "мЗв/ч");
  EXPECT_EQ(Text("Label4"), "7%");
  EXPECT_FALSE(Label("Image1")->isHidden());
  EXPECT_EQ(Text("Label5"), "АЭД");
  EXPECT_EQ(Text("Label6"), "15.7");
  EXPECT_EQ(Text("Label7"), "мкЗв");
  EXPECT_EQ(Text("Label9"), " 2 дня  5ч 7мин");
  EXPECT_EQ(filledCount, 1080u);
  EXPECT_TRUE(filledFull);

  // A beta flux in English: unscaled, with the flux unit and the mode's
  // captions; the dose still scales.
  session.LanguageIndex = 1;
  Record().MeasurementMode = 1;
  Record().DoseRate = 1500.0f;
  Record().Dose = 2.5e6f;
  page->ShowMeasurement();
  EXPECT_EQ(Text("Label1"), "Beta");
  EXPECT_EQ(Text("Label2"), "1500");
  EXPECT_EQ(Text("Label3"), "1/(min*cm2)");
  EXPECT_EQ(Text("Label5"), " ");
  EXPECT_EQ(Text("Label6"), "2.50");
  EXPECT_EQ(Text("Label7"), "Sv");

  // An unknown mode reads as mode 0; a reading that is not a number stays
  // inside the tables.
  Record().MeasurementMode = 9;
  Record().DoseRate = std::numeric_limits<float>::quiet_NaN();
  page->ShowMeasurement();
  EXPECT_EQ(Text("Label1"), "EDR");
  EXPECT_EQ(Text("Label2"), "- - -");
  EXPECT_EQ(Text("Label3"), "uSv/h");
}

TEST_F(PageTest, EveryTimeUpTo9999DaysStaysWholeAndClearOfItsCaptionAndTheButtons) {
  page->resize(945, 490);
  page->show();
  Settle();
  const QWidget* check = Find<QCheckBox>("CheckBox1");
  const QWidget* button3 = Find<QPushButton>("Button3");
  const QWidget* button6 = Find<QPushButton>("Button6");
  const uint32_t day = 86400;
  const uint32_t lastMinute = 23 * 3600 + 59 * 60;
  const uint32_t times[] = {0,
                            59,
                            lastMinute,
                            4 * day + lastMinute,
                            21 * day,
                            999 * day + lastMinute,
                            1000 * day,
                            8888 * day + 22 * 3600 + 58 * 60,
                            9999 * day + lastMinute};
  for (const uint8_t language : {uint8_t{0}, uint8_t{1}}) {
    session.LanguageIndex = language;
    page->ApplyLanguage(language);
    int buttonsX = -1;  // where the first time of the language puts them
    for (const uint32_t t : times) {
      SCOPED_TRACE(testing::Message() << "language " << int(language) << ", " << t << " s");
      Record().AccumulationTime = t;
      page->ShowMeasurement();
      Settle();
      const QLabel* time = Label("Label9");
      EXPECT_GE(time->width(), time->sizeHint().width());  // not cut
      EXPECT_LT(Label("Label8")->geometry().right(), time->x());
      for (const QWidget* control : {check, button3, button6}) {
        EXPECT_LT(time->geometry().right(), control->x()) << control->objectName().toStdString();
      }
      // The buttons stay put however long the time grows.
      buttonsX = buttonsX < 0 ? button6->x() : buttonsX;
      EXPECT_EQ(button6->x(), buttonsX);
      EXPECT_EQ(button3->x(), buttonsX);
    }
  }
  EXPECT_EQ(Label("Label2")->x(), 79);  // "EDR" leaves the design place
  page->hide();
}

TEST_F(PageTest, ResetLiveDisplayBlanksValuesAndMeanButKeepsPoints) {
  Record().DoseRate = 3;
  Record().Dose = 4;
  Record().AccumulationTime = 120;
  page->ShowMeasurement();
  page->AddChartPoint(3, Start);
  page->AddChartPoint(5, Start + 1);
  page->ResetLiveDisplay();
  EXPECT_EQ(Text("Label2"), "- - -");
  EXPECT_EQ(Text("Label6"), "- - -");
  EXPECT_EQ(Text("Label9"), "- - -");
  EXPECT_EQ(panels[1], "- - -");
  EXPECT_EQ(panels[2], "- - -");
  EXPECT_EQ(page->MeanSeries()->count(), 0);
  EXPECT_EQ(page->PointSeries()->count(), 2);
  EXPECT_FLOAT_EQ(page->ChartState().PeakDoseRate(), 0.0f);
  page->AddChartPoint(1, Start + 2);
  ASSERT_EQ(page->MeanSeries()->count(), 2);
  EXPECT_DOUBLE_EQ(page->MeanSeries()->at(0).y(), 3.0);
}

TEST_F(PageTest, ZoomedChartStaysPutWhileReadingsArriveAndTheWholeRangeFollows) {
  page->resize(945, 490);
  page->show();
  for (int i = 0; i < 120; ++i) {
    page->AddChartPoint(1.0f + static_cast<float>(i % 5), Start + i);
  }
  Settle();
  TimeChart* chart = page->ChartView();
  const auto axis = [chart] {
    return std::pair{std::llround(chart->BottomAxis()->min()),
                     std::llround(chart->BottomAxis()->max())};
  };
  const QPointF at = chart->chart()->plotArea().center();
  QWheelEvent notch(at, chart->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(chart->viewport(), &notch);
  ASSERT_TRUE(chart->Zoomed());
  const auto zoomed = axis();
  const qsizetype drawn = page->PointSeries()->count();

  for (int i = 120; i < 180; ++i) {
    page->AddChartPoint(2.0f, Start + i);
  }
  EXPECT_EQ(axis(), zoomed);
  EXPECT_EQ(page->PointSeries()->count(), drawn);
  ASSERT_EQ(page->MeanSeries()->count(), 2);
  EXPECT_EQ(page->MeanSeries()->at(1).x(), (Start + 179) * 1000.0) << "the mean of every point";

  chart->Fit();
  EXPECT_GE(axis().second, (Start + 179) * 1000);
  page->AddChartPoint(3.0f, Start + 180);
  EXPECT_GE(axis().second, (Start + 180) * 1000) << "the whole range follows the newest point";
  page->hide();
}

TEST_F(PageTest, PollRunsOnlyWhileTheTabIsOnDisplay) {
  QTabWidget tabs;
  auto* other = new QWidget;
  tabs.addTab(other, "Настройки");
  tabs.addTab(page.get(), "Результат измерения");
  tabs.setCurrentWidget(other);
  page->SetLiveRefreshPending();
  Act([this] { page->Timer1Timer(); });
  EXPECT_TRUE(outcomes.empty());  // no exchange at all

  tabs.setCurrentWidget(page.get());
  Act([this] { page->Timer1Timer(); });
  // The read failed (no instrument): reported, and nothing else changes.
  EXPECT_EQ(outcomes, std::vector<int>{RowConnectionError});
  EXPECT_TRUE(page->LiveRefreshPending());
  EXPECT_EQ(Text("Label2"), "- - -");
  EXPECT_TRUE(page->ChartState().Points().Empty());
  tabs.removeTab(1);
  page->setParent(nullptr);
}

// Hue in degrees around the colour wheel between two colours.
int HueApart(const QColor& a, const QColor& b) {
  const int d = std::abs(a.hsvHue() - b.hsvHue()) % 360;
  return std::min(d, 360 - d);
}

// The three thresholds stand apart from each other, from the mean line's
// orange and from the points' own colour: not three shades of one.
TEST_F(PageTest, ThresholdColoursDifferInHueFromEachOtherTheMeanAndThePoints) {
  struct Named {
    const char* Name;
    QColor Colour;
  };
  const std::vector<Named> colours{{"mean", page->MeanSeries()->pen().color()},
                                   {"points", page->PointSeries()->pen().color()},
                                   {"threshold 1", MeasurePage::ThresholdColour(0)},
                                   {"threshold 2", MeasurePage::ThresholdColour(1)},
                                   {"threshold 3", MeasurePage::ThresholdColour(2)}};
  for (size_t i = 0; i < colours.size(); ++i) {
    EXPECT_GT(colours[i].Colour.hsvSaturation(), 100) << colours[i].Name << " has a hue to see";
    for (size_t j = i + 1; j < colours.size(); ++j) {
      EXPECT_GE(HueApart(colours[i].Colour, colours[j].Colour), 35)
          << colours[i].Name << " and " << colours[j].Name;
    }
  }
}

// Polls a second apart, then none for ten minutes (the cable pulled), then
// polls again: two stretches of line, none across the ten minutes; a poll
// or two missed in a row leave the line whole.
TEST_F(PageTest, TheLiveLineBreaksWhereThePollsStopped) {
  for (int i = 0; i < 30; ++i) {
    page->AddChartPoint(1.6f, Start + i);
  }
  page->AddChartPoint(1.6f, Start + 32);  // two polls missed
  for (int i = 0; i < 30; ++i) {
    page->AddChartPoint(0.12f, Start + 632 + i);
  }
  const std::vector<QList<QPointF>> runs = page->ChartView()->LineRuns();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].size(), 31);
  EXPECT_EQ(runs[0].last().x(), (Start + 32) * 1000.0);
  EXPECT_EQ(runs[1].first().x(), (Start + 632) * 1000.0);
}

}  // namespace
}  // namespace vantor
