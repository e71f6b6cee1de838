#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QGraphicsTextItem>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <memory>

#include "Csv.h"
#include "NumberText.h"
#include "SafeFile.h"
#include "TimeChart.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC

// The chart as the live tab builds it, shown offscreen at the live tab's
// size, driven by the mouse events a user's hand would send.
class TimeChartTest : public ::testing::Test {
 protected:
  TimeChartTest() {
    test::EnsureApplication();
    SetDecimalSeparator(QLatin1Char('.'));
    options.PointSeriesName = QStringLiteral("Series1");
    options.MeanSeriesName = QStringLiteral("Series3");
    options.ShowIntegral = true;
  }
  ~TimeChartTest() override { SetDecimalSeparator(QChar()); }

  void Make(int language = 1) {
    chart = std::make_unique<TimeChart>(points, options, language);
    chart->resize(934, 368);
    chart->SetValueRange(0, 20);
    chart->show();
    chart->Refresh();
    QApplication::processEvents();
  }

  // Points a second apart from Start, valued `scale` times their number.
  void AddSeconds(int count, float scale) {
    for (int i = 0; i < count; ++i) {
      points.Add(Start + i, scale * static_cast<float>(i));
    }
  }

  std::pair<double, double> Axis() const {
    return {chart->BottomAxis()->min(), chart->BottomAxis()->max()};
  }
  QRectF Plot() const { return chart->chart()->plotArea(); }
  // The view position of a value, and the value under a view position.
  QPoint At(double ms, double y) const {
    const QPointF p = chart->chart()->mapToPosition(QPointF(ms, y), chart->PointSeries());
    return chart->mapFromScene(chart->chart()->mapToScene(p));
  }
  QPointF ValueAt(QPoint p) const {
    return chart->chart()->mapToValue(chart->chart()->mapFromScene(chart->mapToScene(p)),
                                      chart->PointSeries());
  }

  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, QPointF(at), chart->viewport()->mapToGlobal(QPointF(at)), button,
                      buttons, modifiers);
    QApplication::sendEvent(chart->viewport(), &event);
  }
  void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, modifiers);
    Mouse(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton, modifiers);
    Mouse(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, modifiers);
    Mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, modifiers);
  }
  void Wheel(QPoint at, int delta) {
    QWheelEvent event(QPointF(at), chart->viewport()->mapToGlobal(QPointF(at)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart->viewport(), &event);
  }

  ChartPoints points;
  TimeChartOptions options;
  std::unique_ptr<TimeChart> chart;
};

TEST_F(TimeChartTest, WheelZoomsTimeAboutTheCursorAndZoomingOutFollowsAgain) {
  AddSeconds(600, 0.01f);
  Make();
  const auto whole = Axis();
  EXPECT_LE(whole.first, Start * 1000.0);
  EXPECT_GE(whole.second, (Start + 599) * 1000.0);

  const QPoint cursor(static_cast<int>(Plot().left() + Plot().width() / 4), 150);
  const double under = ValueAt(cursor).x();
  Wheel(cursor, 120);
  const auto zoomed = Axis();
  EXPECT_TRUE(chart->Zoomed());
  EXPECT_NEAR(zoomed.second - zoomed.first, 0.8 * (whole.second - whole.first), 2.0);
  EXPECT_NEAR(ValueAt(cursor).x(), under, (zoomed.second - zoomed.first) / Plot().width());
  EXPECT_EQ(chart->LeftAxis()->max(), 20.0) << "the wheel zooms time only";

  for (int notch = 0; notch < 3; ++notch) {
    Wheel(cursor, -120);
  }
  EXPECT_FALSE(chart->Zoomed());
  EXPECT_EQ(Axis(), whole);
}

TEST_F(TimeChartTest, DragPansShiftBoxZoomsAndDoubleClickOrFitShowsEverything) {
  AddSeconds(600, 0.01f);
  Make();
  const auto whole = Axis();
  const double msPerPixel = (whole.second - whole.first) / Plot().width();

  // Dragging the picture left brings later times into view.
  const QPoint middle = Plot().center().toPoint();
  Drag(middle, middle - QPoint(100, 0));
  const auto panned = Axis();
  EXPECT_TRUE(chart->Zoomed());
  EXPECT_NEAR(panned.first - whole.first, 100 * msPerPixel, 2.0);
  EXPECT_NEAR(panned.second - panned.first, whole.second - whole.first, 2.0);

  // A box drawn with Shift becomes the view, in time and in value.
  const QPoint a = middle - QPoint(120, 60);
  const QPoint b = middle + QPoint(80, 40);
  const QPointF va = ValueAt(a);
  const QPointF vb = ValueAt(b);
  Drag(a, b, Qt::ShiftModifier);
  const auto boxed = Axis();
  EXPECT_NEAR(boxed.first, va.x(), 2.0);
  EXPECT_NEAR(boxed.second, vb.x(), 2.0);
  EXPECT_NEAR(chart->LeftAxis()->max(), va.y(), 1e-6);
  EXPECT_NEAR(chart->LeftAxis()->min(), vb.y(), 1e-6);
  // A drag without Shift now pans values too.
  Drag(middle, middle + QPoint(0, 30));
  EXPECT_GT(chart->LeftAxis()->min(), vb.y());

  Mouse(QEvent::MouseButtonDblClick, middle, Qt::LeftButton, Qt::LeftButton);
  EXPECT_FALSE(chart->Zoomed());
  EXPECT_EQ(Axis(), whole);
  EXPECT_EQ(chart->LeftAxis()->max(), 20.0);

  Wheel(middle, 240);
  ASSERT_TRUE(chart->Zoomed());
  QTest::mouseClick(chart->FitButton(), Qt::LeftButton);
  EXPECT_FALSE(chart->Zoomed());
  EXPECT_EQ(Axis(), whole);
}

TEST_F(TimeChartTest, StatisticsBandAndReadOutDescribeTheVisibleIntervalInTheLanguage) {
  AddSeconds(20, 1.0f);
  points.Add(Start + 100, 100.0f);  // outside the view below
  Make();
  EXPECT_EQ(chart->StatisticsLabel()->text(),
            "Points: 21   mean 13.81   σ 20.57   min 0   max 100 uSv/h   dose 0.05014 uSv")
      << "the whole range; the 81-second pause is not integrated";

  // Points 2..8 (values 2..8): mean 5, standard deviation 2.16, and a dose
  // of six one-second trapezoids, 30 uSv/h x 1 s.
  chart->ZoomTime((Start + 2) * 1000.0, (Start + 8) * 1000.0);
  EXPECT_EQ(chart->StatisticsLabel()->text(),
            "Points: 7   mean 5   σ 2.16   min 2   max 8 uSv/h   dose 0.008333 uSv");
  EXPECT_EQ(chart->MeanSeries()->at(0).y(), points.Mean()) << "the mean line keeps every point";

  EXPECT_FALSE(chart->Band()->isVisible());
  chart->BandSwitch()->click();
  ASSERT_TRUE(chart->Band()->isVisible());
  const QList<QPointF> upper = chart->Band()->upperSeries()->points();
  const QList<QPointF> lower = chart->Band()->lowerSeries()->points();
  ASSERT_EQ(upper.size(), 2);
  ASSERT_EQ(lower.size(), 2);
  EXPECT_NEAR(upper[0].y(), 5 + 2 * 2.1602469, 1e-6);
  EXPECT_NEAR(lower[1].y(), 5 - 2 * 2.1602469, 1e-6);
  EXPECT_EQ(upper[0].x(), Axis().first);
  EXPECT_EQ(upper[1].x(), Axis().second);

  // Hovering near point 6 names it.
  const QPoint near = At((Start + 6) * 1000.0, 6) + QPoint(3, -2);
  Mouse(QEvent::MouseMove, near, Qt::NoButton, Qt::NoButton);
  ASSERT_TRUE(chart->ReadOut()->isVisible());
  const QString time =
      QDateTime::fromSecsSinceEpoch(Start + 6).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
  EXPECT_EQ(chart->ReadOut()->text(), time + "\n6 uSv/h");

  SetDecimalSeparator(QLatin1Char(','));
  chart->ApplyLanguage(0);
  EXPECT_EQ(chart->StatisticsLabel()->text(),
            QString::fromUtf8(
                "Точек: 7   среднее 5   σ 2,16   мин 2   макс 8 мкЗв/ч   доза 0,008333 мкЗв"));
  EXPECT_EQ(chart->FitButton()->text(), QString::fromUtf8("Целиком"));
  Mouse(QEvent::MouseMove, near, Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(chart->ReadOut()->text(), time + QString::fromUtf8("\n6 мкЗв/ч"));
}

TEST_F(TimeChartTest, FocusedItTakesTheKeysAndShowsAMark) {
  AddSeconds(600, 0.01f);
  Make();
  const QImage unfocused = chart->grab().toImage();
  chart->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_NE(chart->grab().toImage(), unfocused) << "a visible focus mark";
  const auto whole = Axis();

  QTest::keyClick(chart.get(), Qt::Key_Plus);
  ASSERT_TRUE(chart->Zoomed());
  const auto zoomed = Axis();
  EXPECT_NEAR(zoomed.second - zoomed.first, 0.8 * (whole.second - whole.first), 2.0);
  QTest::keyClick(chart.get(), Qt::Key_Right);
  EXPECT_NEAR(Axis().first - zoomed.first, 0.1 * (zoomed.second - zoomed.first), 2.0);
  QTest::keyClick(chart.get(), Qt::Key_Home);
  EXPECT_FALSE(chart->Zoomed());
  EXPECT_EQ(Axis(), whole);
  QTest::keyClick(chart.get(), Qt::Key_Minus);
  EXPECT_FALSE(chart->Zoomed()) << "out past every point is the whole range";
}

// Points 0..19 valued 0..19; a box over seconds 5..15 and values 8..12.
TEST_F(TimeChartTest, ABoxZoomCountsOnlyThePointsInsideTheBoxAndTheBandStaysInView) {
  AddSeconds(20, 1.0f);
  Make();
  chart->ZoomTime((Start + 5) * 1000.0, (Start + 15) * 1000.0);
  chart->ZoomValues(8, 12);
  const IntervalStatistics stats = chart->VisibleStatistics();
  EXPECT_EQ(stats.Count, 5u);
  EXPECT_EQ(stats.Min, 8);
  EXPECT_EQ(stats.Max, 12);
  EXPECT_EQ(stats.Mean, 10);
  EXPECT_TRUE(chart->StatisticsLabel()->text().startsWith("Points: 5   mean 10   σ 1.581   min 8"))
      << chart->StatisticsLabel()->text().toStdString();

  // Readings close together far above zero: with the band on, the values
  // fit the band instead of running from zero.
  points.Clear();
  for (int i = 0; i < 60; ++i) {
    points.Add(Start + i, 10.0f + 0.01f * static_cast<float>(i % 3));
  }
  chart->Fit();
  chart->BandSwitch()->click();
  const double band =
      chart->Band()->upperSeries()->at(0).y() - chart->Band()->lowerSeries()->at(0).y();
  const double axis = chart->LeftAxis()->max() - chart->LeftAxis()->min();
  EXPECT_GT(band / axis, 0.3) << "the band is a good part of the plot's height";
  EXPECT_GE(chart->LeftAxis()->min(), 0.0);
}

TEST_F(TimeChartTest, ExportWritesTheVisibleIntervalAndSaysWhenItCannot) {
  AddSeconds(100, 0.5f);
  Make();
  chart->ZoomTime((Start + 10) * 1000.0, (Start + 19) * 1000.0);
  QTemporaryDir dir;
  QString answer;
  chart->AskPath = [&answer](const QString&, const QString&) { return answer; };
  QStringList errors;
  chart->ShowError = [&errors](const QString& message) { errors << message; };

  answer = dir.filePath("view.csv");
  QTest::mouseClick(chart->findChild<QToolButton*>("ChartCsv"), Qt::LeftButton);
  QByteArray bytes;
  ASSERT_TRUE(ReadRegularFile(answer, bytes));
  EXPECT_TRUE(bytes.startsWith("time,dose rate (uSv/h)\r\n"));
  const QList<QStringList> records = ParseCsv(QString::fromUtf8(bytes));
  ASSERT_EQ(records.size(), 11);
  const QRegularExpression iso(
      QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(Z|[+-]\d\d:\d\d)$)"));
  for (int k = 0; k < 10; ++k) {
    const QStringList& row = records[k + 1];
    ASSERT_EQ(row.size(), 2);
    EXPECT_TRUE(iso.match(row[0]).hasMatch()) << row[0].toStdString();
    EXPECT_EQ(QDateTime::fromString(row[0], Qt::ISODate).toSecsSinceEpoch(), Start + 10 + k);
    EXPECT_EQ(row[1].toDouble(), 0.5 * (10 + k));
  }
  EXPECT_EQ(records[6][1], "7.5") << "a dot whatever the locale";

  answer = dir.filePath("view.png");
  QTest::mouseClick(chart->findChild<QToolButton*>("ChartPng"), Qt::LeftButton);
  const QImage picture(answer);
  EXPECT_EQ(picture.width(), chart->width());
  EXPECT_LT(picture.height(), chart->height()) << "the chart without the tools above it";
  EXPECT_TRUE(errors.isEmpty());

  answer = dir.filePath("missing/view.csv");
  QTest::mouseClick(chart->findChild<QToolButton*>("ChartCsv"), Qt::LeftButton);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].startsWith("Could not save " + answer + ": ")) << errors[0].toStdString();
  EXPECT_FALSE(QFile::exists(answer));
}

TEST_F(TimeChartTest, AxisNumbersUseTheLocaleSeparator) {
  SetDecimalSeparator(QLatin1Char(','));
  AddSeconds(10, 0.25f);
  Make();
  chart->SetValueRange(0, 0.86);
  QApplication::processEvents();
  QStringList numbers;
  for (QGraphicsItem* item : chart->scene()->items()) {
    if (auto* text = dynamic_cast<QGraphicsTextItem*>(item)) {
      const QString label = text->toPlainText();
      if (label.contains(QRegularExpression(QStringLiteral(R"(^[\d.,]+$)")))) {
        numbers << label;
      }
    }
  }
  EXPECT_TRUE(numbers.contains("0,4")) << numbers.join(' ').toStdString();
  EXPECT_TRUE(numbers.filter(QStringLiteral(".")).isEmpty()) << numbers.join(' ').toStdString();
}

// What is on screen must be what a full repaint draws: markers at the
// plot's edge reach past the series' own area, and a partial repaint left
// them behind when the axes moved.
TEST_F(TimeChartTest, ALonePointSitsInsideThePlotAndNoMarkerIsLeftBehind) {
  points.Add(Start, 5.0f);
  Make();
  const QPoint lone = At(Start * 1000.0, 5);
  EXPECT_NEAR(lone.x(), Plot().center().x(), 1.5);

  // Pixels where the window as shown differs from a full repaint.
  const auto stale = [this] {
    QApplication::processEvents();
    const QImage shown =
        chart->screen()->grabWindow(chart->winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage full = chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QStringList where;
    for (int y = 0; y < std::min(shown.height(), full.height()); ++y) {
      for (int x = 0; x < std::min(shown.width(), full.width()); ++x) {
        if (shown.pixel(x, y) != full.pixel(x, y)) {
          where << QStringLiteral("(%1,%2)").arg(x).arg(y);
        }
      }
    }
    return where.join(' ').toStdString();
  };
  AddSeconds(30, 0.5f);
  chart->Refresh();
  ASSERT_EQ(stale(), "");
  points.Add(Start + 30, 19.0f);
  chart->SetValueRange(0, 40);
  chart->Refresh();
  EXPECT_EQ(stale(), "") << "after the axes rescaled";
  points.Clear();
  chart->Refresh();
  EXPECT_EQ(stale(), "") << "after a clear";
}

}  // namespace
}  // namespace vantor
