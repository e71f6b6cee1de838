// The archive read on a line that spoils replies: 1350 records from the
// virtual instrument paced at the line rate, read clean, then with each kind
// of fault on a share of the replies, then an archive whose clock was set
// back an hour (equal records in it), clean. Each time is printed against
// the clean read and against the clean read plus the fault's own cost: one
// exchange more for each reply it spoils, and the time that reply keeps the
// line waiting. Every slot is checked against the instrument's own archive.
//
//   bench_archive_faults [--records N] [--share S] [--limit SECONDS] [--only NAME]
//
// --limit ends a read that takes longer (default 600 s), keeping what came.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ArchiveRead.h"
#include "BenchFigures.h"
#include "DeviceLink.h"
#include "Dictionary.h"
#include "VirtualInstrument.h"

namespace {

using vantor::sim::Fault;

struct Case {
  std::string Name;
  Fault Kind = Fault::Garble;
  double Share = 0;
  int LateMs = 0;
  bool SummerTime = false;
};

// One run of records a minute apart, readings in steps of 0.01 uSv/h, whose
// clock was set back an hour half way: the second hour names the moments of
// the first again, and some of its records equal the first hour's byte for
// byte.
std::vector<vantor::ArchiveRecordValue> SummerTimeArchive(int count) {
  std::mt19937 random(7);
  std::normal_distribution<double> scatter(0.12, 0.02);
  std::vector<vantor::ArchiveRecordValue> records;
  int64_t at = vantor::sim::CivilSeconds({2026, 10, 25, 1, 0, 0});
  for (int i = 0; i < count; ++i) {
    at += (i == count / 2) ? -3600 : 60;
    const double value = std::max(0.01, std::round(scatter(random) * 100.0) / 100.0);
    records.push_back(
        vantor::sim::MakeArchiveRecord(static_cast<float>(value), 0, vantor::sim::CivilTime(at)));
  }
  return records;
}

struct Figures {
  double Seconds = 0;
  uint64_t Exchanges = 0;
  int Right = 0;
  int Wrong = 0;
  int Open = 0;
  int Passes = 0;
};

Figures Read(vantor::DeviceLink& link, vantor::sim::VirtualInstrument& sim, int records,
             double limitSeconds) {
  const std::vector<vantor::ArchiveRecordValue> truth = sim.Snapshot().Archive;
  const uint64_t before = link.ExchangeCount();
  const auto start = Clock::now();
  const vantor::ArchiveReadResult read = vantor::ReadArchive(
      link, records, {}, [&] { return Ms(Clock::now() - start) > limitSeconds * 1000.0; });
  Figures f;
  f.Seconds = Ms(Clock::now() - start) / 1000.0;
  f.Exchanges = link.ExchangeCount() - before;
  f.Passes = read.Passes;
  for (size_t i = 0; i < read.Slots.size(); ++i) {
    if (!read.Slots[i]) {
      ++f.Open;
    } else if (i < truth.size() &&
               read.Slots[i]->Bytes == vantor::ArchiveRecord::From(truth[i]).Bytes) {
      ++f.Right;
    } else {
      ++f.Wrong;
    }
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int records = 1350;
  double share = 0.05;
  double limit = 600;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--records") == 0) {
      records = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--share") == 0) {
      share = std::atof(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--limit") == 0) {
      limit = std::atof(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--only") == 0) {
      only = argv[i + 1];
    }
  }
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));

  using vantor::sim::VirtualInstrument;
  VirtualInstrument sim(VirtualInstrument::TimeMode::RealTime);
  sim.WithLock([](vantor::sim::InstrumentModel& m) { m.Values().Settings.ArchivePeriod = 0; });
  if (!sim.PinAs(3)) {
    std::fprintf(stderr, "cannot pin the virtual instrument as COM3\n");
    return 1;
  }
  vantor::DeviceLink link;
  link.InitDictionary();
  link.OpenPort(3);
  if (link.ReadVariable(vantor::IdMeasurement) == 0) {
    std::fprintf(stderr, "the virtual instrument does not answer\n");
    return 1;
  }

  const std::vector<Case> cases = {
      {"clean", Fault::Garble, 0},
      {"garbled", Fault::Garble, share},
      {"cut", Fault::Cut, share},
      {"another variable", Fault::OtherVariable, share},
      {"another variable, moved on", Fault::OtherVariableActedOn, share},
      {"bare acknowledgement", Fault::BareAck, share},
      {"refused", Fault::ErrorReply, share},
      {"lost", Fault::LostReply, share},
      {"silent", Fault::Silence, share},
      {"300 ms late", Fault::Late, share, 300},
      {"600 ms late", Fault::Late, share, 600},
      {"1000 ms late", Fault::Late, share, 1000},
      {"300 ms late, 10%", Fault::Late, 0.10, 300},
      {"summer time, clean", Fault::Garble, 0, 0, true},
  };
  std::printf("%d records, faults on %.0f%% of the archive replies, paced line\n", records,
              share * 100);
  std::printf("%-28s %9s %8s %10s %9s %6s %6s %6s %7s %10s\n", "case", "seconds", "x clean",
              "own cost s", "x c+own", "right", "wrong", "open", "passes", "exchanges");
  double clean = 0;
  for (const Case& c : cases) {
    if (!only.empty() && c.Name != only && c.Name != "clean") {
      continue;
    }
    sim.ClearFaults();
    sim.WithLock([&](vantor::sim::InstrumentModel& m) {
      if (c.SummerTime) {
        m.SetArchive(SummerTimeArchive(records));
      } else {
        m.SetSeed(11);
        m.PrefillArchive(records, 5);
      }
    });
    if (c.Share > 0) {
      vantor::sim::FaultRule rule{c.Kind, vantor::IdArchive, vantor::sim::EveryReply, c.Share};
      rule.Delay = std::chrono::milliseconds(c.LateMs);
      sim.WithLock([&](vantor::sim::InstrumentModel& m) { m.InjectFault(rule); });
    }
    const Figures f = Read(link, sim, records, limit);
    sim.ClearFaults();
    if (c.Name == "clean") {
      clean = f.Seconds;
    }
    // The fault's own cost: one more exchange for each reply it spoils in a
    // transfer, at the clean pace, and the time that reply keeps the line
    // waiting (its lateness, or the link's wait for a reply that never
    // comes).
    const double perExchange = clean / (records + 1);
    const bool unanswered = c.Kind == Fault::LostReply || c.Kind == Fault::Silence;
    const double waitMs =
        c.LateMs +
        (unanswered ? static_cast<double>(vantor::DeviceLink::LateReplyBound.count()) : 0);
    const double own = c.Share * records * (perExchange + waitMs / 1000.0);
    std::printf("%-28s %9.1f %8.2f %10.1f %9.2f %6d %6d %6d %7d %10llu\n", c.Name.c_str(),
                f.Seconds, clean > 0 ? f.Seconds / clean : 0.0, own,
                clean > 0 ? f.Seconds / (clean + own) : 0.0, f.Right, f.Wrong, f.Open, f.Passes,
                static_cast<unsigned long long>(f.Exchanges));
    std::fflush(stdout);
  }
  return 0;
}
