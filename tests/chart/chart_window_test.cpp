// The chart's own window and its exported picture: what the picture says it
// shows, and the keys that close the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "ChartModel.h"
#include "NumberText.h"
#include "TimeChart.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC

QString Local(int64_t second) {
  return QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

class ChartWindowTest : public ::testing::Test {
 protected:
  ChartWindowTest() {
    test::EnsureApplication();
    SetDecimalSeparator(QLatin1Char('.'));
    for (int i = 0; i < 100; ++i) {
      points.Add(Start + i, 0.1f * static_cast<float>(i % 7));
    }
    TimeChartOptions options;
    options.PointSeriesName = QStringLiteral("Series1");
    chart = std::make_unique<TimeChart>(points, options, 1);
    chart->resize(934, 368);
    chart->SetValueRange(0, 1);
    chart->show();
    chart->Refresh();
    QApplication::processEvents();
  }
  ~ChartWindowTest() override { SetDecimalSeparator(QChar()); }

  // Dark pixels in the picture's rows [top, bottom).
  static int DarkPixels(const QImage& picture, int top, int bottom) {
    int dark = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = 0; x < picture.width(); ++x) {
        dark += qGray(picture.pixel(x, y)) < 100 ? 1 : 0;
      }
    }
    return dark;
  }

  // The chart's window, shown and active as after a click on "Window".
  QWidget* OpenActive() {
    TimeChart* big = chart->OpenWindow();
    QWidget* window = big->window();
    QApplication::setActiveWindow(window);
    big->setFocus();
    QApplication::processEvents();
    return window;
  }
  void Closed() {
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  ChartPoints points;
  std::unique_ptr<TimeChart> chart;
};

TEST_F(ChartWindowTest, AnExportedPictureNamesTheInstrumentAndThePeriodInTheLanguage) {
  ASSERT_FALSE(chart->Zoomed());
  EXPECT_EQ(chart->PictureTitle(),
            QStringLiteral("From %1 to %2").arg(Local(Start), Local(Start + 99)))
      << "the whole range: the readings' period, not the margins around them";
  chart->ZoomTime((Start + 10) * 1000.0, (Start + 40) * 1000.0);
  EXPECT_EQ(chart->PictureTitle(),
            QStringLiteral("From %1 to %2").arg(Local(Start + 10), Local(Start + 40)))
      << "no instrument to name";
  chart->InstrumentName = [] { return QStringLiteral(" SN004711 "); };
  EXPECT_EQ(chart->PictureTitle(), QStringLiteral("Instrument SN004711, from %1 to %2")
                                       .arg(Local(Start + 10), Local(Start + 40)));
  chart->ApplyLanguage(0);
  EXPECT_EQ(
      chart->PictureTitle(),
      QString::fromUtf8("Прибор SN004711, с %1 по %2").arg(Local(Start + 10), Local(Start + 40)));

  // A fractional view end is named by the whole seconds inside it.
  chart->ZoomTime((Start + 10) * 1000.0 + 400, (Start + 40) * 1000.0 + 700);
  EXPECT_TRUE(chart->PictureTitle().endsWith(
      QString::fromUtf8("с %1 по %2").arg(Local(Start + 11), Local(Start + 40))))
      << chart->PictureTitle().toStdString();

  // The title is drawn in a band above the chart; without a title the band
  // would be as blank as the chart's own top margin below it.
  const QImage picture = chart->ExportPicture();
  EXPECT_GT(DarkPixels(picture, 0, 20), 100);
  EXPECT_EQ(DarkPixels(picture, 20, 24), 0);
  EXPECT_EQ(picture.width(), chart->width());
  EXPECT_LT(picture.height(), chart->height());
}

TEST_F(ChartWindowTest, TheWindowOpenedFromTheChartTakesItsInstrumentName) {
  chart->InstrumentName = [] { return QStringLiteral("SN1"); };
  TimeChart* big = chart->OpenWindow();
  EXPECT_TRUE(big->PictureTitle().startsWith("Instrument SN1, from "))
      << big->PictureTitle().toStdString();
  big->window()->close();
  Closed();
}

TEST_F(ChartWindowTest, EscapeAndControlWCloseTheChartsWindowAndOtherKeysDoNot) {
  QWidget* window = OpenActive();
  ASSERT_TRUE(window->isVisible());
  TimeChart* big = chart->WindowChart();
  QTest::keyClick(big, Qt::Key_Plus);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(big->Zoomed()) << "the chart's own keys still work";
  QTest::keyClick(big, Qt::Key_W);
  EXPECT_TRUE(window->isVisible()) << "W alone is no shortcut";

  QTest::keyClick(big, Qt::Key_Escape);
  Closed();
  EXPECT_EQ(chart->WindowChart(), nullptr) << "closed and gone";

  window = OpenActive();
  ASSERT_NE(chart->WindowChart(), nullptr);
  QTest::keyClick(chart->WindowChart()->FitButton(), Qt::Key_W, Qt::ControlModifier);
  Closed();
  EXPECT_EQ(chart->WindowChart(), nullptr);
  EXPECT_TRUE(chart->isVisible()) << "the chart on the page stays";
}

}  // namespace
}  // namespace vantor
