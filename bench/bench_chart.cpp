// Live chart at a day, a week and a month of points (one a second), side by
// side: the time to add one more point and repaint the chart offscreen, the
// time to zoom or pan to a range and repaint, and the memory per point.
//
//   bench_chart [--repeat N] [--no-unreduced]
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

#include "BenchFigures.h"
#include "CalendarClock.h"
#include "MeasurePage.h"
#include "Session.h"

namespace {

constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC

// This thread's processor time in milliseconds: on a machine shared with
// builds, wall time also counts the waits for a core.
double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
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

void Repaint(vantor::MeasurePage& page) {
  QCoreApplication::processEvents();
  if (page.ChartView()->grab().isNull()) {
    std::fprintf(stderr, "grab gave no picture\n");
    std::exit(1);
  }
}

struct Result {
  const char* Name = "";
  int64_t Points = 0;
  double Fill = 0;
  double FirstDraw = 0;
  Figures Add, Paint, Total, Cpu, Zoom, Pan, ZoomedAdd;
  double ModelBytes = 0;
  double ResidentBytes = 0;
  size_t Drawn = 0;
};

Result Run(vantor::MeasurePage& page, const char* name, int64_t points, int repeat) {
  Result r;
  r.Name = name;
  r.Points = points;
  std::mt19937 random(1);
  vantor::TimeChart& chart = *page.ChartView();
  page.ClearChart();
  vantor::ChartPoints& model = page.ChartState().Points();
  const long before = ResidentBytes();
  auto t0 = Clock::now();
  for (int64_t i = 0; i < points; ++i) {
    model.Add(Start + i, Reading(random, i));
  }
  r.Fill = Ms(Clock::now() - t0);
  const long after = ResidentBytes();

  t0 = Clock::now();
  page.RefreshChart();
  Repaint(page);
  r.FirstDraw = Ms(Clock::now() - t0);

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
    Repaint(page);
    const auto c = Clock::now();
    cpu.push_back(CpuMs() - cpuStart);
    add.push_back(Ms(b - a));
    paint.push_back(Ms(c - b));
    total.push_back(Ms(c - a));
  }
  r.Drawn = page.PointSeries()->count();

  // Zoom to ranges from a minute to the whole span, anywhere; then pan each
  // by a tenth of its span; then add points while zoomed in.
  const double first = static_cast<double>(model.FirstSecond()) * 1000.0;
  const double last = static_cast<double>(model.LastSecond()) * 1000.0;
  std::uniform_real_distribution<double> share(0.0, 1.0);
  std::vector<double> zoom;
  std::vector<double> pan;
  for (int i = 0; i < repeat; ++i) {
    const double span = 60000.0 * std::pow((last - first) / 60000.0, share(random));
    const double from = first + share(random) * (last - first - span);
    auto a = Clock::now();
    chart.ZoomTime(from, from + span);
    Repaint(page);
    zoom.push_back(Ms(Clock::now() - a));
    a = Clock::now();
    chart.ZoomTime(from + span / 10, from + span * 1.1);
    Repaint(page);
    pan.push_back(Ms(Clock::now() - a));
  }
  chart.ZoomTime(last - 3600000.0, last - 1800000.0);
  std::vector<double> zoomedAdd;
  for (int i = 0; i < repeat; ++i) {
    const auto a = Clock::now();
    page.AddChartPoint(Reading(random, next), next);
    ++next;
    Repaint(page);
    zoomedAdd.push_back(Ms(Clock::now() - a));
  }
  chart.Fit();

  r.Add = Summarise(add);
  r.Paint = Summarise(paint);
  r.Total = Summarise(total);
  r.Cpu = Summarise(cpu);
  r.Zoom = Summarise(zoom);
  r.Pan = Summarise(pan);
  r.ZoomedAdd = Summarise(zoomedAdd);
  const double n = static_cast<double>(model.Size());
  r.ModelBytes = static_cast<double>(model.BytesUsed()) / n;
  r.ResidentBytes = static_cast<double>(after - before) / static_cast<double>(points);
  return r;
}

void Print(const std::vector<Result>& results) {
  std::printf("%-34s", "");
  for (const Result& r : results) {
    std::printf(" %18s", r.Name);
  }
  std::printf("\n%-34s", "points");
  for (const Result& r : results) {
    std::printf(" %18lld", static_cast<long long>(r.Points));
  }
  const auto row = [&](const char* label, auto value) {
    std::printf("\n%-34s", label);
    for (const Result& r : results) {
      value(r);
    }
  };
  const auto figures = [](const Figures& f) { std::printf("     %6.2f / %6.2f", f.Median, f.Max); };
  std::printf("\n  (times in ms, median / max)");
  row("add one point", [&](const Result& r) { figures(r.Add); });
  row("repaint (grab)", [&](const Result& r) { figures(r.Paint); });
  row("add + repaint (goal 8 / 16)", [&](const Result& r) { figures(r.Total); });
  row("add + repaint, CPU time", [&](const Result& r) { figures(r.Cpu); });
  row("zoom to a range + repaint (16)", [&](const Result& r) { figures(r.Zoom); });
  row("pan + repaint (16)", [&](const Result& r) { figures(r.Pan); });
  row("add + repaint while zoomed in", [&](const Result& r) { figures(r.ZoomedAdd); });
  row("fill the model (all points)", [](const Result& r) { std::printf(" %18.1f", r.Fill); });
  row("first draw after filling", [](const Result& r) { std::printf(" %18.1f", r.FirstDraw); });
  row("points drawn at the whole range", [](const Result& r) { std::printf(" %18zu", r.Drawn); });
  row("model bytes/point (goal 12)", [](const Result& r) { std::printf(" %18.2f", r.ModelBytes); });
  row("resident growth bytes/point",
      [](const Result& r) { std::printf(" %18.2f", r.ResidentBytes); });
  std::printf("\n");
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

  std::vector<Result> results;
  results.push_back(Run(page, "a day", 86400, repeat));
  results.push_back(Run(page, "a week", 604800, repeat));
  results.push_back(Run(page, "a month", 2592000, repeat));
  Print(results);
  if (unreduced) {
    RunUnreduced(86400);
  }
  return 0;
}
