// Live polling for hours of simulated time: the whole program (main window,
// live tab in front) polls the virtual instrument once a simulated second,
// and the resident memory is sampled every simulated ten minutes, with the
// chart's own bytes for its points taken out. The instrument's time and the
// program's clock are advanced by hand, so an hour takes well under a
// minute.
//
//   bench_soak [--hours H] [--no-chart] [--real-time MINUTES]
//
// --no-chart clears "На график" first, so no point is kept at all.
// --real-time runs the program as it runs for a user instead: its own
// timers, the event loop, the computer's clock and an instrument living in
// real time, for that many minutes, sampling once a minute.
#include <malloc.h>
#include <QApplication>
#include <QCheckBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "BenchFigures.h"
#include "CalendarClock.h"
#include "MeasurePage.h"
#include "ProgramWindows.h"
#include "TimeChart.h"
#include "VirtualInstrument.h"
#include "WindowSettle.h"

namespace {

// What the heap holds in use, which unlike the resident size does not
// depend on when the allocator returns freed pages.
long HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return static_cast<long>(info.uordblks + info.hblkhd);
}

}  // namespace

int main(int argc, char** argv) {
  double hours = 1;
  bool chart = true;
  int realMinutes = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--hours") == 0 && i + 1 < argc) {
      hours = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--no-chart") == 0) {
      chart = false;
    } else if (std::strcmp(argv[i], "--real-time") == 0 && i + 1 < argc) {
      realMinutes = std::atoi(argv[++i]);
    }
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir home;  // a port map of its own; the machine's ports stay untouched
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
  QTemporaryDir work;
  QDir::setCurrent(work.path());

  vantor::sim::LineOptions line;
  line.Paced = false;  // hours of polls; the line's pace is not the point
  vantor::sim::VirtualInstrument instrument(realMinutes > 0
                                                ? vantor::sim::VirtualInstrument::TimeMode::RealTime
                                                : vantor::sim::VirtualInstrument::TimeMode::Manual,
                                            line);
  if (!instrument.PinAs(3)) {
    std::fprintf(stderr, "cannot pin the virtual instrument\n");
    return 1;
  }
  vantor::FixedClock clock(1741600800);
  vantor::SystemClock system;
  vantor::CalendarClock& programClock =
      realMinutes > 0 ? static_cast<vantor::CalendarClock&>(system) : clock;
  instrument.SetDeviceClock(programClock.ToLocal(programClock.Now()));
  vantor::ProgramWindows windows(&programClock);
  vantor::TForm1& form = *windows.Form1;
  form.show();
  form.Timer2()->stop();
  form.Timer1()->stop();  // the bench drives the poll itself
  form.Timer2Timer();
  vantor::bench::Settle(form.GetSession());
  form.Timer2Timer();
  if (form.GetSession().PortNumber != 3) {
    std::fprintf(stderr, "the program did not find the instrument\n");
    return 1;
  }
  form.PageControl()->setCurrentIndex(0);
  vantor::MeasurePage& measure = *form.Measure();
  measure.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->setChecked(chart);

  if (realMinutes > 0) {
    std::printf("%d minutes in real time, chart %s\n", realMinutes, chart ? "on" : "off");
    std::printf("%10s %12s %12s %14s %16s\n", "minutes", "resident MB", "heap MB", "chart points",
                "heap - chart MB");
    int minute = 0;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
      const vantor::ChartPoints& points = measure.ChartView()->Points();
      const long heap = HeapInUse();
      std::printf("%10d %12.2f %12.2f %14zu %16.2f\n", minute, ResidentBytes() / 1e6, heap / 1e6,
                  points.Size(), (heap - static_cast<long>(points.BytesUsed())) / 1e6);
      std::fflush(stdout);
      if (++minute > realMinutes) {
        QApplication::quit();
      }
    });
    sample.start(60000);
    form.Timer1()->start();
    return QApplication::exec();
  }

  const long polls = static_cast<long>(hours * 3600);
  std::printf("%ld polls (%.1f simulated hours), chart %s\n", polls, hours, chart ? "on" : "off");
  std::printf("%10s %12s %12s %14s %16s\n", "minutes", "resident MB", "heap MB", "chart points",
              "heap - chart MB");
  long firstHeap = 0;
  long firstResident = 0;
  size_t firstChart = 0;
  int failed = 0;
  for (long i = 0; i <= polls; ++i) {
    if (i % 600 == 0) {
      QApplication::processEvents();
      const vantor::ChartPoints& points = measure.ChartView()->Points();
      const long heap = HeapInUse();
      const long resident = ResidentBytes();
      if (i == 0) {
        firstHeap = heap;
        firstResident = resident;
        firstChart = points.BytesUsed();
      }
      std::printf("%10ld %12.2f %12.2f %14zu %16.2f\n", i / 60, resident / 1e6, heap / 1e6,
                  points.Size(), (heap - static_cast<long>(points.BytesUsed())) / 1e6);
      std::fflush(stdout);
    }
    instrument.AdvanceSeconds(1);
    clock.Advance(1);
    measure.Timer1Timer();
    vantor::bench::Settle(form.GetSession());
    if (form.PanelText(0) != QStringLiteral("Чтение")) {
      ++failed;
    }
    // What the event loop does between ticks: every change is painted.
    QApplication::processEvents();
  }
  const vantor::ChartPoints& points = measure.ChartView()->Points();
  const long heapGrowth =
      HeapInUse() - firstHeap - static_cast<long>(points.BytesUsed() - firstChart);
  std::printf(
      "over %.1f h: heap grew %.2f MB beyond the chart's %.2f MB for its points (%.2f MB an "
      "hour), resident %.2f MB; %d polls failed\n",
      hours, heapGrowth / 1e6, (points.BytesUsed() - firstChart) / 1e6, heapGrowth / 1e6 / hours,
      (ResidentBytes() - firstResident) / 1e6, failed);
  return 0;
}
