// How long the interface thread stalls, and whether the live tab misses a
// poll, while the history works: live polling, an archive read, the week's
// look back and an export of a year of readings, each with a working SQLite
// history, a PostgreSQL server that takes the connection and never answers,
// and one that refuses it. Each runs twice in the same process: "before"
// with the store called on the interface thread, as the program had it
// (HistoryService's inline mode, with the 5 s connection bound it had), and
// "after" with the store on its own thread.
//
// The stall is the lateness of a 10 ms timer of the interface thread; the
// poll gap the longest time between two polls of the once-a-second timer
// (the read runs on the archive tab, where nothing polls). The instrument is
// the virtual one on a pseudo-terminal, in real time.
//
//   bench_history_stall [--seconds S] [--records N] [--days D] [--only NAME]
//                       [--vantorctl PATH [--old-vantorctl PATH]]
//
// --days is how many days of 1 Hz readings the SQLite history holds for the
// look back and the export (365: a year, 31.5 M readings, 1.2 GB). With
// --vantorctl it also times `live --count 5` against the hanging server and a
// paced 1350-record `archive read` with the hanging server and with a
// working history, for each vantorctl given (an old build side by side).
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QMainWindow>
#include <QMenuBar>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ArchivePage.h"
#include "BenchFigures.h"
#include "DataMenu.h"
#include "Dictionary.h"
#include "HistoryService.h"
#include "MeasurePage.h"
#include "PortMap.h"
#include "ServerStandIn.h"
#include "Session.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"
#include "WindowSettle.h"

namespace {

using vantor::HistoryService;

constexpr int Port = 7;

// The interface thread's lateness, and the gaps between polls.
class Watch {
 public:
  Watch() {
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.setInterval(10);
    QObject::connect(&tick_, &QTimer::timeout, [this] {
      const auto now = Clock::now();
      Late(now);
      expected_ = now + std::chrono::milliseconds(10);
    });
  }
  void Late(Clock::time_point now) {
    if (Ms(now - expected_) > worst_) {
      worst_ = Ms(now - expected_);
      worstAt_ = Ms(expected_ - started_) / 1000;
    }
  }
  void Start() {
    started_ = Clock::now();
    worst_ = 0;
    polls_ = 0;
    worstGap_ = 0;
    lastPoll_ = Clock::now();
    expected_ = Clock::now() + std::chrono::milliseconds(10);
    tick_.start();
  }
  // A stall the timer had no chance to see yet, and the wait since the last
  // poll, count too.
  void Stop(bool polling) {
    const auto now = Clock::now();
    Late(now);
    if (polling) {
      worstGap_ = std::max(worstGap_, Ms(now - *lastPoll_));
    }
    tick_.stop();
  }
  void Polled() {
    const auto now = Clock::now();
    if (lastPoll_) {
      worstGap_ = std::max(worstGap_, Ms(now - *lastPoll_));
    }
    lastPoll_ = now;
    ++polls_;
  }
  double WorstStall() const { return worst_; }
  double WorstStallAt() const { return worstAt_; }
  double WorstGap() const { return worstGap_; }
  int Polls() const { return polls_; }

 private:
  QTimer tick_;
  Clock::time_point expected_;
  Clock::time_point started_;
  double worst_ = 0;
  double worstAt_ = 0;  // s after the start
  int polls_ = 0;
  double worstGap_ = 0;
  std::optional<Clock::time_point> lastPoll_;
};

// Runs the event loop until `done` or `seconds` have passed.
void RunUntil(const std::function<bool()>& done, double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done() && Clock::now() < end) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
}

void RunFor(double seconds) {
  RunUntil([] { return false; }, seconds);
}

struct Row {
  std::string Operation;
  std::string Store;
  double Before[3];  // stall ms, poll gap ms (or duration s), polls
  double After[3];
  bool Polling;
};

// The program's live tab, archive tab and Data menu on one session, with
// the history given.
struct Window {
  explicit Window(HistoryService& history) : session(&clock) {
    session.History = &history;
    measure = new vantor::MeasurePage(session);
    archive = new vantor::ArchivePage(session);
    tabs = new QTabWidget(&main);
    tabs->addTab(measure, QStringLiteral("live"));
    tabs->addTab(archive, QStringLiteral("archive"));
    main.setCentralWidget(tabs);
    data = new vantor::DataMenu(session, main.menuBar(), &main);
    history.OnOutcome = [this](const vantor::HistoryOutcome& outcome) { data->Report(outcome); };
    main.resize(953, 600);
    main.show();
    session.Link.InitDictionary();
    session.Link.SetDeviceAddress(vantor::DefaultDeviceAddress);
    session.Engine.RunAndWait(QStringLiteral("bench"),
                              [&](vantor::OperationControl& line) { line.Link().OpenPort(Port); });
    for (const uint8_t id : {vantor::IdService, vantor::IdDeviceData, vantor::IdFirmware}) {
      session.Engine.RunAndWait(QStringLiteral("bench"), [&](vantor::OperationControl& line) {
        line.Link().ReadVariable(id);
      });
    }
    session.PortNumber = Port;
    archive->ComputeArchiveLayout();
    poll.setInterval(1000);
  }
  ~Window() {
    session.Engine.RunAndWait(QStringLiteral("bench"),
                              [](vantor::OperationControl& line) { line.Link().ClosePort(); });
  }

  vantor::SystemClock clock;
  vantor::Session session;
  QMainWindow main;
  QTabWidget* tabs = nullptr;
  vantor::MeasurePage* measure = nullptr;
  vantor::ArchivePage* archive = nullptr;
  vantor::DataMenu* data = nullptr;
  QTimer poll;
};

// One operation with one history and one path: the worst stall, the worst
// poll gap (or the operation's time when nothing polls) and the polls.
std::array<double, 3> Measure(const std::string& operation, const vantor::HistoryLocation& where,
                              bool inlineStore, double seconds, int records,
                              vantor::sim::VirtualInstrument& sim, const QString& exportPath) {
  vantor::HistoryOptions options;
  if (inlineStore) {
    options.ConnectTimeoutS = 5;  // the bound the program had
  }
  HistoryService history(
      where, options,
      inlineStore ? HistoryService::Threading::Inline : HistoryService::Threading::OwnThread);
  Window window(history);
  Watch watch;
  // A poll runs on the engine: it counts once its end is shown.
  uint32_t seen = 0;
  QObject::connect(&window.poll, &QTimer::timeout, [&] { window.measure->Timer1Timer(); });
  QObject::connect(&window.session.Engine, &vantor::InstrumentEngine::Ended, [&] {
    const uint32_t now = sim.RequestsSeen(vantor::IdMeasurement);
    if (now != seen) {
      seen = now;
      watch.Polled();
    }
  });
  double duration = 0;
  if (operation == "archive read") {
    sim.PrefillArchive(records);
    window.session.Engine.RunAndWait(QStringLiteral("bench"), [&](vantor::OperationControl& line) {
      line.Link().ReadVariable(vantor::IdMeasurement);
    });
    window.tabs->setCurrentWidget(window.archive);
    watch.Start();
    const auto t = Clock::now();
    window.archive->Button4Click();
    vantor::bench::Settle(window.session);
    duration = Ms(Clock::now() - t) / 1000;
    RunFor(0.5);
    watch.Stop(false);
    if (std::getenv("BENCH_STALL_AT") != nullptr) {
      std::printf("  worst stall %.0f ms at %.2f s\n", watch.WorstStall(), watch.WorstStallAt());
    }
    return {watch.WorstStall(), duration, 0};
  }
  window.tabs->setCurrentWidget(window.measure);
  window.measure->SetLiveRefreshPending();
  watch.Start();
  window.poll.start();
  if (operation == "live polling") {
    RunFor(seconds);
  } else if (operation == "week look back") {
    RunFor(2.2);
    emit window.measure->PeriodChoice()->activated(vantor::MeasurePage::PeriodWeek);
    RunUntil([&] { return !window.measure->LookingBack(); }, 600);
    RunFor(2.2);
  } else if (operation == "year export") {
    window.data->RunDialog = [](vantor::HistoryExportDialog& dialog) {
      dialog.From()->setDateTime(dialog.To()->dateTime().addYears(-1).addDays(-1));
      return true;
    };
    window.data->AskPath = [&exportPath](const QString&) { return exportPath; };
    RunFor(2.2);
    const auto t = Clock::now();
    window.data->ExportReadingsClick();
    RunUntil([&] { return !window.data->Exporting(); }, 3600);
    duration = Ms(Clock::now() - t) / 1000;
    RunFor(2.2);
  }
  window.poll.stop();
  watch.Stop(true);
  if (std::getenv("BENCH_STALL_AT") != nullptr) {
    std::printf("  worst stall %.0f ms at %.2f s\n", watch.WorstStall(), watch.WorstStallAt());
  }
  return {watch.WorstStall(), watch.WorstGap(), static_cast<double>(watch.Polls())};
}

// A year (or `days`) of 1 Hz readings of the instrument, up to now.
bool Fill(const vantor::HistoryLocation& where, const vantor::InstrumentIdentity& instrument,
          int days) {
  vantor::HistoryStore store(where);
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0.12f, 0.012f);
  const int64_t count = int64_t{days} * 86400;
  const int64_t end = QDateTime::currentMSecsSinceEpoch() - 5000;
  std::vector<vantor::LiveReading> chunk;
  const auto t = Clock::now();
  for (int64_t i = 0; i < count; i += static_cast<int64_t>(chunk.size())) {
    chunk.clear();
    for (int64_t k = i; k < std::min(count, i + 200000); ++k) {
      vantor::LiveReading reading;
      reading.AtMs = end - (count - k) * 1000;
      reading.DoseRate = noise(random);
      reading.AccumulationSeconds = static_cast<uint32_t>(k);
      chunk.push_back(reading);
    }
    if (!store.AddReadings(instrument, chunk).Ok) {
      return false;
    }
  }
  std::printf("%lld readings at 1 Hz (%d days) stored in %.0f s\n", static_cast<long long>(count),
              days, Ms(Clock::now() - t) / 1000);
  return true;
}

// vantorctl against the hanging server and a working history.
void TimeVantorctl(const std::vector<QString>& programs, const QString& hanging,
                   const QString& working, vantor::sim::VirtualInstrument& sim) {
  const auto run = [](const QString& program, const QStringList& arguments, int* status) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const auto t = Clock::now();
    process.start(program, arguments);
    process.waitForFinished(-1);
    *status = process.exitCode();
    return Ms(Clock::now() - t) / 1000;
  };
  std::printf("\nvantorctl (s)                               %s\n",
              programs.size() > 1 ? "     old      new" : "     new");
  std::vector<std::vector<double>> figures(3);
  for (const QString& program : programs) {
    int status = 0;
    figures[0].push_back(run(
        program, {"--port", QString::number(Port), "--history", hanging, "live", "--count", "5"},
        &status));
    sim.PrefillArchive(1350);
    QFile::remove(working);
    figures[1].push_back(
        run(program, {"--port", QString::number(Port), "--history", working, "archive", "read"},
            &status));
    sim.PrefillArchive(1350);
    figures[2].push_back(
        run(program, {"--port", QString::number(Port), "--history", hanging, "archive", "read"},
            &status));
  }
  const char* names[] = {"live --count 5, hanging server         ",
                         "archive read 1350, working SQLite      ",
                         "archive read 1350, hanging server      "};
  for (size_t i = 0; i < 3; ++i) {
    std::printf("  %s", names[i]);
    for (const double figure : figures[i]) {
      std::printf(" %8.1f", figure);
    }
    std::printf("\n");
  }
  for (size_t p = 0; p < programs.size(); ++p) {
    std::printf("  read with a hanging server / with a working one (%s): %.3f\n",
                programs.size() > 1 && p == 0 ? "old" : "new", figures[2][p] / figures[1][p]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // The offscreen platform's note on every window shown stays out of the
  // figures.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (!message.contains(QLatin1String("propagateSizeHints"))) {
      std::fprintf(stderr, "%s\n", qPrintable(message));
    }
    if (type == QtFatalMsg) {
      std::abort();
    }
  });
  QApplication app(argc, argv);
  double seconds = 20;
  int records = 600;
  int days = 365;
  std::string only;
  std::vector<QString> programs;
  for (int i = 1; i + 1 < argc; ++i) {
    if (!std::strcmp(argv[i], "--seconds")) {
      seconds = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "--records")) {
      records = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--days")) {
      days = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--only")) {
      only = argv[++i];
    } else if (!std::strcmp(argv[i], "--vantorctl")) {
      programs.push_back(QString::fromLocal8Bit(argv[++i]));
    } else if (!std::strcmp(argv[i], "--old-vantorctl")) {
      programs.insert(programs.begin(), QString::fromLocal8Bit(argv[++i]));
    }
  }

  vantor::test::TempConfigHome home;
  QTemporaryDir dir;
  vantor::sim::VirtualInstrument sim(vantor::sim::VirtualInstrument::TimeMode::RealTime);
  if (!sim.PinAs(Port)) {
    std::printf("cannot pin the virtual instrument\n");
    return 1;
  }
  vantor::test::ServerStandIn hanging;
  vantor::test::ServerStandIn refusing;
  refusing.SetMode(vantor::test::ServerStandIn::Mode::Refuse);
  const QString file = dir.filePath(QStringLiteral("history.sqlite"));
  const std::vector<std::pair<std::string, vantor::HistoryLocation>> stores = {
      {"working SQLite", vantor::ParseHistoryLocation(file)},
      {"hanging server", vantor::ParseHistoryLocation(hanging.Url())},
      {"refusing server", vantor::ParseHistoryLocation(refusing.Url())}};
  const std::vector<std::string> operations = {"live polling", "archive read", "week look back",
                                               "year export"};
  if (only != "none") {
    vantor::Session session(nullptr);
    session.Link.InitDictionary();
    session.Link.SetDeviceAddress(vantor::DefaultDeviceAddress);
    session.Engine.RunAndWait(QStringLiteral("bench"),
                              [&](vantor::OperationControl& line) { line.Link().OpenPort(Port); });
    for (const uint8_t id : {vantor::IdService, vantor::IdDeviceData, vantor::IdFirmware}) {
      session.Engine.RunAndWait(QStringLiteral("bench"), [&](vantor::OperationControl& line) {
        line.Link().ReadVariable(id);
      });
    }
    const vantor::InstrumentIdentity instrument = vantor::IdentityOf(session.Link.Values());
    session.Engine.RunAndWait(QStringLiteral("bench"),
                              [&](vantor::OperationControl& line) { line.Link().ClosePort(); });
    if (!Fill(stores[0].second, instrument, days)) {
      std::printf("cannot fill the history\n");
      return 1;
    }
  }

  std::vector<Row> rows;
  for (const std::string& operation : operations) {
    if (!only.empty() && only != operation) {
      continue;
    }
    for (const auto& [store, where] : stores) {
      Row row{operation, store, {}, {}, operation != "archive read"};
      for (const bool inlineStore : {true, false}) {
        const QString exportPath = dir.filePath(QStringLiteral("export.csv"));
        const auto figures =
            Measure(operation, where, inlineStore, seconds, records, sim, exportPath);
        std::copy(figures.begin(), figures.end(), inlineStore ? row.Before : row.After);
        QFile::remove(exportPath);
        std::fflush(stdout);
      }
      rows.push_back(row);
      std::printf("%-15s %-16s stall %7.0f -> %5.0f ms   %s %7.1f -> %5.1f %s\n", operation.c_str(),
                  store.c_str(), row.Before[0], row.After[0], row.Polling ? "poll gap" : "read    ",
                  row.Polling ? row.Before[1] / 1000 : row.Before[1],
                  row.Polling ? row.After[1] / 1000 : row.After[1], "s");
      std::fflush(stdout);
    }
  }

  std::printf(
      "\nlongest stall of the interface thread (ms) and longest gap between polls (s), before "
      "(store on the\ninterface thread) -> after (store on its own thread); the read's column is "
      "its duration (s)\n");
  std::printf("%-15s %-16s %18s %22s %12s\n", "operation", "history", "stall ms", "poll gap s",
              "polls");
  for (const Row& row : rows) {
    std::printf("%-15s %-16s %8.0f -> %5.0f    %s%6.1f -> %5.1f%s   %4.0f -> %4.0f\n",
                row.Operation.c_str(), row.Store.c_str(), row.Before[0], row.After[0],
                row.Polling ? "" : "(read) ", row.Polling ? row.Before[1] / 1000 : row.Before[1],
                row.Polling ? row.After[1] / 1000 : row.After[1], row.Polling ? "       " : "",
                row.Before[2], row.After[2]);
  }
  if (!programs.empty()) {
    TimeVantorctl(programs, hanging.Url(), dir.filePath(QStringLiteral("cli.sqlite")), sim);
  }
  HistoryService::WaitLeftRunning(30000);
  return 0;
}
