// Live chart at a day and a week of points (one a second): the time to add
// one more point and repaint the chart offscreen, and the memory per point.
//
//   bench_chart [--repeat N]
#include <QApplication>
#include <QPixmap>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <vector>

#include "CalendarClock.h"
#include "LiveTexts.h"
#include "MeasurePage.h"
#include "Session.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// This thread's processor time in milliseconds: on a machine shared with
// builds, wall time also counts the waits for a core.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * 4096;
}

struct Figures {
  double Median = 0;
  double Max = 0;
};

Figures Summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples.back()};
}

// A background of about 0.12 uSv/h with its scatter and a rare source.
float Reading(std::mt19937& random, int64_t i) {
  static std::normal_distribution<float> scatter(0.12f, 0.03f);
  return (i % 20000 == 19999) ? 35.0f : std::max(0.0f, scatter(random));
}

void Run(vantor::MeasurePage& page, int64_t points, int repeat) {
  std::mt19937 random(1);
  page.ClearChart();
  vantor::ChartPoints& model = page.ChartState().Points();
  const long before = ResidentBytes();
  for (int64_t i = 0; i < points; ++i) {
    model.Add(vantor::PointTimeFor(Start + i, 0), Reading(random, i));
  }
  const long after = ResidentBytes();

  auto t0 = Clock::now();
  page.RefreshChart();
  QCoreApplication::processEvents();
  QPixmap first = page.ChartView()->grab();
  const double firstDraw = Ms(Clock::now() - t0);

  // A new plot width rescans every point once.
  t0 = Clock::now();
  const int columns = model.Columns();
  model.SetColumns(columns - 1);
  model.DrawIndexes();
  const double rescan = Ms(Clock::now() - t0);
  model.SetColumns(columns);
  const size_t drawn = model.DrawIndexes().size();

  std::vector<double> add;
  std::vector<double> paint;
  std::vector<double> total;
  std::vector<double> cpu;
  int64_t next = Start + points;
  for (int i = 0; i < repeat; ++i) {
    const double cpuStart = CpuMs();
    const auto a = Clock::now();
    page.AddChartPoint(Reading(random, next), next);
    ++next;
    const auto b = Clock::now();
    QCoreApplication::processEvents();
    QPixmap picture = page.ChartView()->grab();
    const auto c = Clock::now();
    cpu.push_back(CpuMs() - cpuStart);
    if (picture.isNull()) {
      std::fprintf(stderr, "grab gave no picture\n");
      std::exit(1);
    }
    add.push_back(Ms(b - a));
    paint.push_back(Ms(c - b));
    total.push_back(Ms(c - a));
  }
  const Figures fa = Summarise(add);
  const Figures fp = Summarise(paint);
  const Figures ft = Summarise(total);
  const Figures fc = Summarise(cpu);
  const double n = static_cast<double>(model.Size());
  std::printf("%lld points (%s)\n", static_cast<long long>(points),
              points == 86400    ? "a day"
              : points == 604800 ? "a week"
                                 : "custom");
  std::printf("  add one point:            median %7.3f ms, max %7.3f ms\n", fa.Median, fa.Max);
  std::printf("  repaint (grab):           median %7.3f ms, max %7.3f ms\n", fp.Median, fp.Max);
  std::printf("  add + repaint:            median %7.3f ms, max %7.3f ms  (goal < 16 ms)\n",
              ft.Median, ft.Max);
  std::printf("  add + repaint, CPU time:  median %7.3f ms, max %7.3f ms\n", fc.Median, fc.Max);
  std::printf("  first draw after filling: %7.3f ms; rescan for a new width: %7.3f ms\n", firstDraw,
              rescan);
  std::printf("  points drawn: %zu of %.0f (plot %d px wide, %d columns summarised)\n", drawn, n,
              static_cast<int>(page.ChartView()->chart()->plotArea().width()), model.Columns());
  std::printf("  memory: model %.1f bytes/point, resident growth %.1f bytes/point (goal < 64)\n",
              static_cast<double>(model.BytesUsed()) / n,
              static_cast<double>(after - before) / static_cast<double>(points));
  (void)first;
}

// What drawing every point straight through the chart component would cost.
void RunUnreduced(int64_t points) {
  std::mt19937 random(1);
  QList<QPointF> all;
  all.reserve(points);
  for (int64_t i = 0; i < points; ++i) {
    all.append(QPointF(1000.0 * static_cast<double>(Start + i), Reading(random, i)));
  }
  auto* series = new QLineSeries();
  series->setPointsVisible(true);
  series->setMarkerSize(5);
  auto* chart = new QChart();
  chart->legend()->hide();
  chart->addSeries(series);
  chart->createDefaultAxes();
  QChartView view(chart);
  view.resize(934, 368);
  const auto t0 = Clock::now();
  series->replace(all);
  chart->axes(Qt::Horizontal).first()->setRange(all.front().x(), all.back().x());
  chart->axes(Qt::Vertical).first()->setRange(0, 40);
  QCoreApplication::processEvents();
  QPixmap picture = view.grab();
  const auto t1 = Clock::now();
  series->append(QPointF(all.back().x() + 1000.0, 0.1));
  QCoreApplication::processEvents();
  picture = view.grab();
  const auto t2 = Clock::now();
  std::printf(
      "unreduced, %lld points straight into the line series: first draw %.1f ms, "
      "add + repaint %.1f ms\n",
      static_cast<long long>(points), Ms(t1 - t0), Ms(t2 - t1));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  int repeat = 40;
  bool unreduced = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--no-unreduced") == 0) {
      unreduced = false;
    } else {
      std::fprintf(stderr, "usage: bench_chart [--repeat N] [--no-unreduced]\n");
      return 2;
    }
  }
  QApplication app(argc, argv);
  vantor::FixedClock clock(Start, 0);
  vantor::Session session(&clock);
  vantor::MeasurePage page(session);
  // Not shown: grab() is the one repaint of each step, and processEvents()
  // only lays the chart out.
  page.resize(945, 490);
  QCoreApplication::processEvents();

  Run(page, 86400, repeat);
  Run(page, 604800, repeat);
  if (unreduced) {
    RunUnreduced(86400);
  }
  return 0;
}
