// The live chart's look back at the last week: a week of 1 Hz readings in
// a SQLite history (and a day before it), then "Последняя неделя" chosen on
// the live tab as the user chooses it, timed from the choice to the chart
// painted: the fetch, the chart's points, the reduction and the series, and
// the paint. Offscreen, no display needed.
//   bench_history_chart [--days N]
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtCharts/QLineSeries>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "BenchFigures.h"
#include "HistoryService.h"
#include "MeasurePage.h"
#include "Session.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  int days = 8;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--days") == 0) {
      days = std::max(1, std::atoi(argv[i + 1]));
    }
  }

  QTemporaryDir dir;
  const vantor::HistoryLocation location =
      vantor::ParseHistoryLocation(dir.filePath(QStringLiteral("history.sqlite")));
  constexpr int64_t now = 1767225600;  // 1 January 2026 00:00 UTC
  const int64_t readings = int64_t{days} * 86400;
  vantor::InstrumentIdentity instrument;
  instrument.DeviceType = 7;
  instrument.Firmware = QStringLiteral("bench 1.0");
  {
    vantor::HistoryStore store(location);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.12f, 0.012f);
    std::vector<vantor::LiveReading> chunk;
    const auto t = Clock::now();
    for (int64_t i = 0; i < readings; i += chunk.size()) {
      chunk.clear();
      for (int64_t k = i; k < std::min(readings, i + 100000); ++k) {
        vantor::LiveReading reading;
        reading.AtMs = (now - readings + k + 1) * 1000 + 250;
        reading.DoseRate = noise(random);
        chunk.push_back(reading);
      }
      if (!store.AddReadings(instrument, chunk).Ok) {
        std::printf("insert failed\n");
        return 1;
      }
    }
    std::printf("%lld readings at 1 Hz (%d days) stored in %.1f s\n",
                static_cast<long long>(readings), days, Ms(Clock::now() - t) / 1000);
  }

  vantor::HistoryService service(location);
  // Opened outside the timing, as a running program has it.
  service.Ask<int>([](vantor::HistoryStore& store) { return store.SchemaVersion(); }, 60000);
  vantor::FixedClock clock(now);
  vantor::Session session(&clock);
  session.History = &service;
  vantor::MeasurePage page(session);
  page.resize(934, 487);
  page.show();
  QApplication::processEvents();

  // The whole path: the choice, the history read on its thread (the window
  // answering meanwhile), then the chart painted.
  std::vector<double> choose;
  std::vector<double> paint;
  std::vector<double> whole;
  qsizetype drawn = 0;
  QComboBox* choice = page.PeriodChoice();
  for (int r = 0; r < 5; ++r) {
    emit choice->activated(vantor::MeasurePage::PeriodLive);
    page.ChartView()->viewport()->repaint();
    const auto t = Clock::now();
    emit choice->activated(vantor::MeasurePage::PeriodWeek);
    while (page.LookingBack()) {
      QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    const auto chosen = Clock::now();
    page.ChartView()->viewport()->repaint();
    const auto painted = Clock::now();
    choose.push_back(Ms(chosen - t));
    paint.push_back(Ms(painted - chosen));
    whole.push_back(Ms(painted - t));
    drawn = page.PointSeries()->count();
  }
  // The fetch and the reduction on their own: bench_history.
  const size_t fetched = page.ChartView()->Points().Size();
  std::printf(
      "the last week, %zu readings, chosen on the live tab: fetched, reduced to %lld points and "
      "set in %.0f ms, painted in %.0f ms; %.0f ms from the choice to the painted chart (median "
      "of 5, worst %.0f ms)\n",
      fetched, static_cast<long long>(drawn), Median(choose), Median(paint), Median(whole),
      *std::max_element(whole.begin(), whole.end()));
  return page.ShowingPast() && fetched > 0 ? 0 : 1;
}
