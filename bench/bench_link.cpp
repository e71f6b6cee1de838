// The serial link against the virtual instrument on a pseudo-terminal, with
// 2 ms reply latency: the median time of one exchange and the time to read a
// full archive of 1350 records, at the prompt pace and at the fixed pace
// (sleeping the whole 100 ms reply window), side by side.
//
//   bench_link [--records N] [--exchanges N] [--latency MS]
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DeviceLink.h"
#include "VirtualInstrument.h"

using namespace vantor;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
  double MedianExchangeMs = 0;
  double ArchiveSeconds = 0;
  int Mismatches = 0;
};

Figures Run(DeviceLink& link, sim::VirtualInstrument& instrument, DeviceLink::Pace pace,
            int exchanges, int records) {
  Figures f;
  link.SetPace(pace);
  std::vector<double> times;
  for (int i = 0; i < exchanges; ++i) {
    const auto start = Clock::now();
    if (link.ReadVariable(IdMeasurement) != 1) {
      std::fprintf(stderr, "exchange %d failed\n", i);
    }
    times.push_back(Ms(Clock::now() - start));
  }
  std::sort(times.begin(), times.end());
  f.MedianExchangeMs = times[times.size() / 2];

  const std::vector<ArchiveRecordValue> stored =
      instrument.WithLock([](sim::InstrumentModel& m) { return m.Archive(); });
  const auto start = Clock::now();
  link.Values().Command = CommandStartArchiveTransfer;
  link.WriteVariableWithRetry(IdCommandAlias);
  for (int k = 0; k < records; ++k) {
    link.Values().Archive = ArchiveRecordValue{};
    while (link.ReadVariableWithRetry(IdArchive) != 1) {
    }
    if (k < static_cast<int>(stored.size()) && !sim::SameRecord(link.Values().Archive, stored[k])) {
      ++f.Mismatches;
    }
  }
  f.ArchiveSeconds = Ms(Clock::now() - start) / 1000.0;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  int records = sim::ArchiveCapacity;
  int exchanges = 51;
  int latency = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--records") == 0) {
      records = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--exchanges") == 0) {
      exchanges = std::max(1, std::atoi(argv[i + 1]));
    } else if (std::strcmp(argv[i], "--latency") == 0) {
      latency = std::atoi(argv[i + 1]);
    }
  }
  records = std::clamp(records, 0, sim::ArchiveCapacity);

  QCoreApplication app(argc, argv);
  QTemporaryDir home;  // a port map of its own; the machine's ports stay untouched
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));

  sim::VirtualInstrument instrument;
  instrument.PrefillArchive(sim::ArchiveCapacity, 3);
  instrument.SetLatency(std::chrono::milliseconds(latency));
  if (!instrument.PinAs(3)) {
    std::fprintf(stderr, "cannot pin the virtual instrument\n");
    return 1;
  }
  DeviceLink link;
  link.InitDictionary();
  link.OpenPort(3);
  if (!link.PortOpen()) {
    std::fprintf(stderr, "cannot open COM3\n");
    return 1;
  }

  std::printf("virtual instrument on %s, reply latency %d ms, %d exchanges, %d archive records\n",
              instrument.PtyPath().c_str(), latency, exchanges, records);
  const Figures prompt = Run(link, instrument, DeviceLink::Pace::Prompt, exchanges, records);
  const Figures fixed = Run(link, instrument, DeviceLink::Pace::Fixed, exchanges, records);

  std::printf("%-28s %12s %12s %8s\n", "", "prompt", "fixed 100ms", "ratio");
  std::printf("%-28s %9.1f ms %9.1f ms %7.1fx\n", "median exchange (variable 0)",
              prompt.MedianExchangeMs, fixed.MedianExchangeMs,
              fixed.MedianExchangeMs / prompt.MedianExchangeMs);
  std::printf("%-28s %10.2f s %10.2f s %7.1fx\n", "archive read", prompt.ArchiveSeconds,
              fixed.ArchiveSeconds,
              prompt.ArchiveSeconds > 0 ? fixed.ArchiveSeconds / prompt.ArchiveSeconds : 0.0);
  std::printf("records differing from the instrument's: prompt %d, fixed %d\n", prompt.Mismatches,
              fixed.Mismatches);
  return prompt.Mismatches == 0 && fixed.Mismatches == 0 ? 0 : 1;
}
