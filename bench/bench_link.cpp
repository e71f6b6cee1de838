// The serial link against the virtual instrument on a pseudo-terminal paced
// at 115200 baud (86.8 us a byte, request and reply alike) with 2 ms reply
// latency: the median time of one exchange and the time to read a full
// archive of 1350 records, at the prompt pace and at the fixed pace
// (sleeping the whole 100 ms reply window), side by side, each against the
// floor the line itself sets. Then the same archive read with 1% and 10% of
// the archive replies garbled on the line, and with 10% of them 300 ms late
// (each holding up the replies after it), against the clean read.
//
//   bench_link [--records N] [--exchanges N] [--latency MS] [--no-fixed]
//              [--no-garbled]
#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ArchiveRead.h"
#include "BenchFigures.h"
#include "DeviceLink.h"
#include "Dictionary.h"
#include "VirtualInstrument.h"

using namespace vantor;
namespace {

struct ArchiveFigures {
  double Seconds = 0;
  int Recovered = 0;  // records in their own slot, equal to the instrument's
  int Wrong = 0;      // slots holding a record that is not theirs
  int Passes = 0;
  int Retried = 0;
};

double MedianExchangeMs(DeviceLink& link, int exchanges) {
  std::vector<double> times;
  for (int i = 0; i < exchanges; ++i) {
    const auto start = Clock::now();
    if (link.ReadVariable(IdMeasurement) != 1) {
      std::fprintf(stderr, "exchange %d failed\n", i);
    }
    times.push_back(Ms(Clock::now() - start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

ArchiveFigures ReadWholeArchive(DeviceLink& link, sim::VirtualInstrument& instrument, int records) {
  const std::vector<ArchiveRecordValue> stored =
      instrument.WithLock([](sim::InstrumentModel& m) { return m.Archive(); });
  const auto start = Clock::now();
  const ArchiveReadResult read = ReadArchive(link, records, {});
  ArchiveFigures f;
  f.Seconds = Ms(Clock::now() - start) / 1000.0;
  f.Passes = read.Passes;
  f.Retried = read.Retried;
  for (size_t k = 0; k < read.Slots.size() && k < stored.size(); ++k) {
    if (read.Slots[k] && read.Slots[k]->Bytes == ArchiveRecord::From(stored[k]).Bytes) {
      ++f.Recovered;
    } else if (read.Slots[k]) {
      ++f.Wrong;
    }
  }
  return f;
}

// Bytes of a read reply for variable `id`: header, payload, checksum.
int ReplyBytes(Station& station, uint8_t id) {
  return static_cast<int>(HeaderSize) + station.EncodedSize(station.LookupIndex(id)) + 4;
}

}  // namespace

int main(int argc, char** argv) {
  int records = sim::ArchiveCapacity;
  int exchanges = 51;
  int latency = 2;
  bool fixedToo = true;
  bool garbled = true;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--records") == 0 && hasValue) {
      records = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--exchanges") == 0 && hasValue) {
      exchanges = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--latency") == 0 && hasValue) {
      latency = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--no-fixed") == 0) {
      fixedToo = false;
    } else if (std::strcmp(argv[i], "--no-garbled") == 0) {
      garbled = false;
    }
  }
  records = std::clamp(records, 0, sim::ArchiveCapacity);

  QCoreApplication app(argc, argv);
  QTemporaryDir home;  // a port map of its own; the machine's ports stay untouched
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));

  sim::VirtualInstrument instrument;  // paced at the line rate
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

  // The floor the line sets for one exchange: the quiet gap, the request's
  // 19 bytes and the reply's bytes at 86.8 us each, and the instrument's
  // latency.
  Station& station = link.Protocol();
  const double byteMs = std::chrono::duration<double, std::milli>(sim::LineByteTime).count();
  const double gapMs = std::chrono::duration<double, std::milli>(DeviceLink::QuietGap).count();
  const auto floorMs = [&](uint8_t id) {
    return gapMs + latency + (19 + ReplyBytes(station, id)) * byteMs;
  };
  const double exchangeFloor = floorMs(IdMeasurement);
  const double archiveFloor =
      (records * floorMs(IdArchive) + floorMs(IdCommand) /* the start command, roughly */) / 1000.0;

  std::printf(
      "virtual instrument on %s, paced at 115200 baud (%.1f us a byte), reply latency %d ms,\n"
      "%d exchanges, %d archive records\n",
      instrument.PtyPath().c_str(), byteMs * 1000, latency, exchanges, records);
  link.SetPace(DeviceLink::Pace::Prompt);
  const double promptExchange = MedianExchangeMs(link, exchanges);
  const ArchiveFigures promptArchive = ReadWholeArchive(link, instrument, records);
  double fixedExchange = 0;
  ArchiveFigures fixedArchive;
  if (fixedToo) {
    link.SetPace(DeviceLink::Pace::Fixed);
    fixedExchange = MedianExchangeMs(link, exchanges);
    fixedArchive = ReadWholeArchive(link, instrument, records);
    link.SetPace(DeviceLink::Pace::Prompt);
  }

  std::printf("\n%-30s %11s %11s %11s %9s %9s\n", "", "line floor", "prompt", "fixed 100ms",
              "prompt/", "fixed/");
  std::printf("%-30s %11s %11s %11s %9s %9s\n", "", "", "", "", "floor", "prompt");
  std::printf("%-30s %8.2f ms %8.2f ms %8.2f ms %8.3fx %8.1fx\n", "median exchange (variable 0)",
              exchangeFloor, promptExchange, fixedExchange, promptExchange / exchangeFloor,
              fixedExchange / promptExchange);
  std::printf("%-30s %9.2f s %9.2f s %9.2f s %8.3fx %8.1fx\n", "archive read", archiveFloor,
              promptArchive.Seconds, fixedArchive.Seconds, promptArchive.Seconds / archiveFloor,
              promptArchive.Seconds > 0 ? fixedArchive.Seconds / promptArchive.Seconds : 0.0);
  std::printf("records in their slot: prompt %d of %d, fixed %d of %d\n", promptArchive.Recovered,
              records, fixedToo ? fixedArchive.Recovered : records, records);
  bool ok = promptArchive.Recovered == records && (!fixedToo || fixedArchive.Recovered == records);

  if (garbled) {
    std::printf("\n%-30s %9s %12s %6s %8s %8s %8s\n", "archive read, prompt", "time", "recovered",
                "wrong", "passes", "retried", "vs clean");
    const auto row = [&](const char* label, const ArchiveFigures& f) {
      std::printf("%-30s %7.2f s %7d/%-4d %6d %8d %8d %7.2fx\n", label, f.Seconds, f.Recovered,
                  records, f.Wrong, f.Passes, f.Retried, f.Seconds / promptArchive.Seconds);
      ok = ok && f.Recovered == records && f.Wrong == 0;
    };
    row("clean", promptArchive);
    std::vector<std::pair<std::string, sim::FaultRule>> lossy;
    for (const double share : {0.01, 0.10}) {
      char label[64];
      std::snprintf(label, sizeof label, "%.0f%% of replies garbled", share * 100);
      lossy.push_back({label, {sim::Fault::Garble, IdArchive, sim::EveryReply, share}});
    }
    sim::FaultRule late{sim::Fault::Late, IdArchive, sim::EveryReply, 0.10};
    late.Delay = std::chrono::milliseconds(300);
    lossy.push_back({"10% of replies 300 ms late", late});
    for (const auto& [label, rule] : lossy) {
      instrument.WithLock([&rule = rule](sim::InstrumentModel& m) { m.InjectFault(rule); });
      const ArchiveFigures f = ReadWholeArchive(link, instrument, records);
      instrument.ClearFaults();
      row(label.c_str(), f);
    }
  }
  return ok ? 0 : 1;
}
