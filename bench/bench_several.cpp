// Several instruments at once: four virtual instruments (vantor-sim, each
// on its own pseudo-terminal, paced at the line rate), 1350 archive records
// each; `vantorctl --port 3,4,5,6 archive read` beside `vantorctl --port 3
// archive read` of one of them alone, in turn in the same run, so both see
// the same machine load. The goal: four at once within 1.15 times one
// alone. It then checks that every record read is in the history under its
// own instrument.
//
//   bench_several [--rounds N] [--records N]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "BenchFigures.h"
#include "Csv.h"
#include "HistoryStore.h"

namespace {

constexpr int Ports[] = {3, 4, 5, 6};

QString Serial(int port) {
  return QStringLiteral("SN-BENCH-%1").arg(port);
}

// One vantor-sim, pinned as COM`port` in the bench's own port map.
std::unique_ptr<QProcess> StartInstrument(int port, int records) {
  auto sim = std::make_unique<QProcess>();
  sim->start(QStringLiteral(VANTOR_SIM_EXECUTABLE),
             {QStringLiteral("--com"), QString::number(port), QStringLiteral("--serial"),
              Serial(port), QStringLiteral("--archive"), QString::number(records)});
  // It prints its terminal's path once the port map names it.
  if (!sim->waitForReadyRead(10000)) {
    return nullptr;
  }
  return sim;
}

struct Read {
  double Seconds = 0;
  QByteArray Csv;
  bool Ok = false;
};

Read ReadArchives(const QString& ports, const QString& history) {
  QProcess vantorctl;
  QElapsedTimer timer;
  timer.start();
  vantorctl.start(QStringLiteral(VANTORCTL_EXECUTABLE),
                  {QStringLiteral("--history"), history, QStringLiteral("--port"), ports,
                   QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("archive"),
                   QStringLiteral("read")});
  vantorctl.waitForFinished(-1);
  Read read;
  read.Seconds = timer.elapsed() / 1000.0;
  read.Csv = vantorctl.readAllStandardOutput();
  read.Ok = vantorctl.exitStatus() == QProcess::NormalExit && vantorctl.exitCode() == 0;
  if (!read.Ok) {
    std::fprintf(stderr, "vantorctl --port %s failed: %s\n", qPrintable(ports),
                 vantorctl.readAllStandardError().constData());
  }
  return read;
}

// Every record of the read's output is in the history, in its order, under
// the instrument of its port and no other; each instrument holds `records`.
bool EveryRecordUnderItsOwnInstrument(const QByteArray& csv, const QString& history, int records) {
  std::map<int, QStringList> read;  // port -> raw bytes, in order
  const QList<QStringList> rows = vantor::ParseCsv(QString::fromUtf8(csv));
  for (qsizetype i = 1; i < rows.size(); ++i) {
    read[rows[i].front().toInt()] << rows[i].back();
  }
  vantor::HistoryStore store(vantor::ParseHistoryLocation(history));
  const auto instruments = store.Instruments();
  if (!instruments.Outcome.Ok || instruments.Value.size() != std::size(Ports)) {
    std::printf("  history: %zu instruments, not %zu\n", instruments.Value.size(),
                std::size(Ports));
    return false;
  }
  bool all = true;
  for (const vantor::StoredInstrument& instrument : instruments.Value) {
    const QString serial =
        QString::fromLatin1(reinterpret_cast<const char*>(instrument.Identity.DeviceData.data()));
    const int port = serial.section(QLatin1Char('-'), 2).toInt();
    QStringList stored;
    store.VisitArchive(instrument.Identity, {}, [&](const vantor::StoredArchiveRecord& record) {
      stored << QString::fromLatin1(
          QByteArray(reinterpret_cast<const char*>(record.Raw.data()), 9).toHex());
      return true;
    });
    const bool same = stored.size() == records && stored == read[port];
    std::printf("  COM%d %s: %lld records in the history, %s\n", port, qPrintable(serial),
                static_cast<long long>(stored.size()),
                same ? "each as read from it" : "NOT as read from it");
    all = all && same;
  }
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 2;
  int records = 1350;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--records") && i + 1 < argc) {
      records = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_several [--rounds N] [--records N]\n");
      return 2;
    }
  }
  // A private port map and history: the machine's own are never touched.
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
  QCoreApplication app(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  std::vector<std::unique_ptr<QProcess>> instruments;
  for (const int port : Ports) {
    instruments.push_back(StartInstrument(port, records));
    if (!instruments.back()) {
      std::fprintf(stderr, "vantor-sim --com %d did not start\n", port);
      return 1;
    }
  }
  std::printf(
      "archive read of %zu virtual instruments, %d records each, paced line; "
      "%d rounds, one alone and all at once in turn\n",
      std::size(Ports), records, rounds);
  std::vector<double> alone;
  std::vector<double> together;
  QByteArray lastCsv;
  QString lastHistory;
  for (int round = 0; round < rounds; ++round) {
    const Read one = ReadArchives(QStringLiteral("3"),
                                  home.filePath(QStringLiteral("alone-%1.sqlite").arg(round)));
    lastHistory = home.filePath(QStringLiteral("together-%1.sqlite").arg(round));
    const Read all = ReadArchives(QStringLiteral("3,4,5,6"), lastHistory);
    if (!one.Ok || !all.Ok) {
      return 1;
    }
    alone.push_back(one.Seconds);
    together.push_back(all.Seconds);
    lastCsv = all.Csv;
    std::printf("  round %d: one alone %6.2f s, four at once %6.2f s\n", round + 1, one.Seconds,
                all.Seconds);
  }
  const double a = Median(alone);
  const double t = Median(together);
  std::printf("median: one alone (--port 3) %6.2f s, four at once (--port 3,4,5,6) %6.2f s\n", a,
              t);
  std::printf("ratio four at once / one alone: %.3f (goal <= 1.15)\n", t / a);
  std::printf("history of the last four at once:\n");
  const bool kept = EveryRecordUnderItsOwnInstrument(lastCsv, lastHistory, records);

  for (const auto& sim : instruments) {
    sim->terminate();  // SIGTERM: it takes its port map entry out
    sim->waitForFinished(5000);
  }
  return kept && t / a <= 1.15 ? 0 : 1;
}
