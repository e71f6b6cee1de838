// How long the main window's thread leaves an event waiting: a thread of its
// own posts an event to the window every 2 ms, stamped with the time it was
// posted, and the window's thread notes how late it handled it. Measured
// while the window polls the virtual instrument (paced at the line rate,
// 2 ms reply latency) and while it reads a 1350-record archive. A screen
// shows a frame every 16 ms: an event waiting longer is a frame late.
// With --vantorctl it then times the window's read against
// `vantorctl archive read` of the same archive, in turn.
//
//   bench_event_loop [--records N] [--poll-seconds S] [--vantorctl]
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ArchivePage.h"
#include "BenchFigures.h"
#include "CalendarClock.h"
#include "PortMap.h"
#include "ProgramWindows.h"
#include "VirtualInstrument.h"
#include "WindowStyle.h"

namespace {

// Posts stamped events to `receiver`'s thread from a thread of its own and
// keeps how late each was handled.
class LatencyProbe {
 public:
  explicit LatencyProbe(QObject* receiver) : receiver_(receiver) {}
  ~LatencyProbe() { Stop(); }

  void Start() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      delays_.clear();
    }
    running_ = true;
    poster_ = std::thread([this] {
      while (running_) {
        const auto posted = Clock::now();
        QMetaObject::invokeMethod(
            receiver_,
            [this, posted] {
              const double late = Ms(Clock::now() - posted);
              const std::lock_guard<std::mutex> lock(mutex_);
              delays_.push_back(late);
            },
            Qt::QueuedConnection);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }

  // Stops posting; what is still queued is handled first.
  std::vector<double> Stop() {
    if (poster_.joinable()) {
      running_ = false;
      poster_.join();
      QApplication::processEvents();
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return delays_;
  }

 private:
  QObject* receiver_;
  std::atomic<bool> running_{false};
  std::thread poster_;
  std::mutex mutex_;
  std::vector<double> delays_;
};

void PrintDelays(const char* what, std::vector<double> delays) {
  if (delays.empty()) {
    std::printf("  %-22s no event handled\n", what);
    return;
  }
  std::sort(delays.begin(), delays.end());
  const double p99 = delays[delays.size() * 99 / 100];
  const double worst = delays.back();
  const auto late = std::count_if(delays.begin(), delays.end(), [](double d) { return d > 16.0; });
  std::printf(
      "  %-22s %6zu events  median %6.2f ms  p99 %6.2f ms  max %7.2f ms  over 16 ms: %ld "
      "(goal: max at most 16 ms: %s)\n",
      what, delays.size(), Median(delays), p99, worst, static_cast<long>(late),
      worst <= 16.0 ? "met" : "missed");
}

// Runs the window's event loop until `done` holds or `limitMs` passes.
bool RunUntil(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer timer;
  timer.start();
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done() || timer.elapsed() > limitMs) {
      loop.quit();
    }
  });
  check.start(5);
  loop.exec();
  return done();
}

// "Чтение архива" pressed as a user presses it, timed until the page holds
// every record.
double ReadInWindow(vantor::TForm1& form, int records) {
  vantor::ArchivePage& page = *form.Archive();
  auto* button = page.findChild<QAbstractButton*>(QStringLiteral("Button4"));
  const auto start = Clock::now();
  QTimer::singleShot(0, button, [button] { button->click(); });
  RunUntil([&] { return page.RecordsRead() == records; }, 600000);
  return Ms(Clock::now() - start) / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
  int records = 1350;
  int pollSeconds = 10;
  bool compare = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--records") && i + 1 < argc) {
      records = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--poll-seconds") && i + 1 < argc) {
      pollSeconds = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--vantorctl")) {
      compare = true;
    } else {
      std::fprintf(stderr,
                   "usage: bench_event_loop [--records N] [--poll-seconds S] [--vantorctl]\n");
      return 2;
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // A private port map and history, and prog.ini in a directory of its own:
  // nothing of the user's is touched.
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
  QDir::setCurrent(home.path());
  QApplication app(argc, argv);
  vantor::LoadDesignFonts();
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  // The only port the map knows, so the start-up's search finds it first.
  constexpr int Port = 1;
  vantor::sim::VirtualInstrument instrument;
  if (!instrument.PinAs(Port)) {
    std::fprintf(stderr, "cannot pin the virtual instrument\n");
    return 1;
  }
  instrument.PrefillArchive(records, 1);
  instrument.SetLatency(std::chrono::milliseconds(2));

  vantor::SystemClock clock;
  vantor::ProgramWindows windows(&clock);
  vantor::TForm1& form = *windows.Form1;
  form.show();
  form.Timer2()->start();  // the start-up sequence, as the program entry runs it
  if (!RunUntil([&] { return form.StartupDone() && form.GetSession().PortNumber == Port; },
                20000)) {
    std::fprintf(stderr, "the window did not find the virtual instrument\n");
    return 1;
  }
  RunUntil([] { return false; }, 3500);  // the splash goes, the window shows

  std::printf("window's event-loop latency, events posted every 2 ms from another thread\n");
  LatencyProbe probe(&form);
  form.PageControl()->setCurrentIndex(0);
  probe.Start();
  RunUntil([] { return false; }, pollSeconds * 1000);
  PrintDelays("polling:", probe.Stop());

  form.PageControl()->setCurrentIndex(2);
  probe.Start();
  const double windowRead = ReadInWindow(form, records);
  PrintDelays("reading the archive:", probe.Stop());
  std::printf("  archive read of %d records in the window: %.2f s\n", form.Archive()->RecordsRead(),
              windowRead);

  if (compare) {
    // The window and vantorctl in turn, so both see the same machine load;
    // the window lets go of the port while vantorctl has it.
    std::vector<double> window{windowRead};
    std::vector<double> command;
    QTemporaryDir out;
    for (int round = 0; round < 3; ++round) {
      form.GetSession().Engine.RunAndWait(
          QStringLiteral("bench"),
          [&](vantor::OperationControl& line) { line.Link().ClosePort(); });
      QProcess vantorctl;
      QElapsedTimer timer;
      timer.start();
      vantorctl.start(QStringLiteral(VANTORCTL_EXECUTABLE),
                      {QStringLiteral("--port"), QString::number(Port), QStringLiteral("--format"),
                       QStringLiteral("csv"), QStringLiteral("archive"), QStringLiteral("read"),
                       QStringLiteral("--out"), out.filePath(QStringLiteral("archive.csv"))});
      vantorctl.waitForFinished(-1);
      command.push_back(timer.elapsed() / 1000.0);
      if (vantorctl.exitCode() != 0) {
        std::fprintf(stderr, "vantorctl failed: %s\n",
                     vantorctl.readAllStandardError().constData());
        return 1;
      }
      form.GetSession().Engine.RunAndWait(
          QStringLiteral("bench"),
          [&](vantor::OperationControl& line) { line.Link().OpenPort(Port); });
      if (round < 2) {
        window.push_back(ReadInWindow(form, records));
      }
    }
    const double w = Median(window);
    const double c = Median(command);
    std::printf("window and vantorctl in turn, median of 3\n");
    std::printf("  window read:        %7.2f s\n", w);
    std::printf("  vantorctl read:     %7.2f s (the whole command)\n", c);
    std::printf("  window / vantorctl: %.3f (goal: at most 1.02)\n", w / c);
  }
  return 0;
}
