// Finding the instrument, timed on the real windows (offscreen) against the
// virtual instrument with no reply latency, at the prompt pace and at the
// fixed pace (sleeping the whole 100 ms reply window) side by side:
//  - start-up: the windows created and the first tick of the start-up timer
//    until panel 3 says "COM3", with COM1 and COM2 present but silent;
//  - a full search over COM1..COM254 with no instrument, once with no port
//    present (the map names one device that is gone) and once with several
//    silent ports present.
//
//   QT_QPA_PLATFORM=offscreen bench_startup [--runs N] [--silent N]
#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "BenchFigures.h"
#include "ErrorBox.h"
#include "PortMap.h"
#include "ProgramWindows.h"
#include "VirtualInstrument.h"
#include "WindowSettle.h"

using namespace vantor;
namespace {

struct Figures {
  double CreateMs = 0;  // the six windows
  double TickMs = 0;    // first tick of the start-up timer
  int Port = 0;
  uint64_t Exchanges = 0;
};

// One program start: windows, then the first start-up tick.
Figures StartOnce(DeviceLink::Pace pace, const FixedClock& base) {
  FixedClock clock = base;
  Figures f;
  const auto t0 = Clock::now();
  ProgramWindows windows(&clock);
  const auto t1 = Clock::now();
  windows.Form1->GetSession().Link.SetPace(pace);
  windows.Form1->Timer2Timer();
  bench::Settle(windows.Form1->GetSession());
  const auto t2 = Clock::now();
  f.CreateMs = Ms(t1 - t0);
  f.TickMs = Ms(t2 - t1);
  f.Port = windows.Form1->PanelText(3) == QStringLiteral("COM3") ? 3 : 0;
  f.Exchanges = windows.Form1->GetSession().Link.ExchangeCount();
  return f;
}

// A search from the dialog's code path, with nothing to find.
Figures SearchOnce(DeviceLink::Pace pace, TForm1& form) {
  Figures f;
  Session& session = form.GetSession();
  session.Link.SetPace(pace);
  const uint64_t before = session.Link.ExchangeCount();
  const auto t0 = Clock::now();
  form.ConnectDevice(1);
  bench::Settle(session);
  f.Port = session.PortNumber;
  f.TickMs = Ms(Clock::now() - t0);
  f.Exchanges = session.Link.ExchangeCount() - before;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  int silentCount = 8;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) {
      runs = std::max(1, std::atoi(argv[i + 1]));
    } else if (std::strcmp(argv[i], "--silent") == 0) {
      silentCount = std::clamp(std::atoi(argv[i + 1]), 1, 64);
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  VantorApplication app(argc, argv);
  QTemporaryDir home;  // a port map of its own; the machine's ports stay untouched
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
  QTemporaryDir work;  // prog.ini of the runs
  QDir::setCurrent(work.path());
  const FixedClock clock(1700000000);
  const DeviceLink::Pace paces[] = {DeviceLink::Pace::Prompt, DeviceLink::Pace::Fixed};

  std::printf("%d runs each, medians; virtual instrument with no reply latency\n", runs);
  std::printf("%-44s %12s %12s\n", "", "prompt", "fixed 100ms");

  // Start-up with the instrument on COM3 behind two silent ports.
  {
    sim::SilentPort com1(1);
    sim::SilentPort com2(2);
    sim::VirtualInstrument instrument;
    if (!com1.Ok() || !com2.Ok() || !instrument.PinAs(3)) {
      std::fprintf(stderr, "cannot set up the ports\n");
      return 1;
    }
    double create[2] = {};
    double tick[2] = {};
    uint64_t exchanges[2] = {};
    for (int p = 0; p < 2; ++p) {
      std::vector<double> c;
      std::vector<double> t;
      for (int r = 0; r < runs; ++r) {
        const Figures f = StartOnce(paces[p], clock);
        if (f.Port != 3) {
          std::fprintf(stderr, "start-up did not find COM3\n");
          return 1;
        }
        c.push_back(f.CreateMs);
        t.push_back(f.TickMs);
        exchanges[p] = f.Exchanges;
      }
      create[p] = Median(c);
      tick[p] = Median(t);
    }
    std::printf("%-44s %9.1f ms %9.1f ms\n", "windows created", create[0], create[1]);
    std::printf("%-44s %9.1f ms %9.1f ms\n", "first tick until COM3 (COM1, COM2 silent)", tick[0],
                tick[1]);
    std::printf("%-44s %9.1f ms %9.1f ms\n", "start-up to COM3", create[0] + tick[0],
                create[1] + tick[1]);
    std::printf("%-44s %12llu %12llu\n", "exchanges", static_cast<unsigned long long>(exchanges[0]),
                static_cast<unsigned long long>(exchanges[1]));
  }

  // Full searches with no instrument.
  {
    PinPort(254, home.path() + QStringLiteral("/absent"));  // mapped, device gone
    FixedClock searchClock = clock;
    ProgramWindows windows(&searchClock);
    double none[2] = {};
    for (int p = 0; p < 2; ++p) {
      std::vector<double> t;
      for (int r = 0; r < runs; ++r) {
        const Figures f = SearchOnce(paces[p], *windows.Form1);
        if (f.Port != 0 || f.Exchanges != 0) {
          std::fprintf(stderr, "a search with no port present exchanged\n");
          return 1;
        }
        t.push_back(f.TickMs);
      }
      none[p] = Median(t);
    }
    std::printf("%-44s %9.1f ms %9.1f ms\n", "search 1..254, no port present", none[0], none[1]);

    std::vector<std::unique_ptr<sim::SilentPort>> silent;
    for (int n = 1; n <= silentCount; ++n) {
      silent.push_back(std::make_unique<sim::SilentPort>(n * 30 % 253 + 1));
    }
    double some[2] = {};
    uint64_t exchanges = 0;
    for (int p = 0; p < 2; ++p) {
      std::vector<double> t;
      for (int r = 0; r < runs; ++r) {
        const Figures f = SearchOnce(paces[p], *windows.Form1);
        t.push_back(f.TickMs);
        exchanges = f.Exchanges;
      }
      some[p] = Median(t);
    }
    char label[64];
    std::snprintf(label, sizeof label, "search 1..254, %d silent ports", silentCount);
    std::printf("%-44s %9.1f ms %9.1f ms\n", label, some[0], some[1]);
    std::printf("%-44s %9.1f ms %9.1f ms\n", "  per silent port", some[0] / silentCount,
                some[1] / silentCount);
    std::printf("exchanges per search with silent ports: %llu\n",
                static_cast<unsigned long long>(exchanges));
  }
  return 0;
}
