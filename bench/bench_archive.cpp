// Archive tab: the time from "Чтение архива" to the table for 1350 records
// from the virtual instrument paced at the line rate with 2 ms reply
// latency, at the prompt and at the fixed pace side by side, against the
// floor the wire itself sets, and the time for the table and the chart of a
// 1350-record page to appear. With --vantorctl it then times the window's
// read and `vantorctl archive read` of the same archive in turn (the whole
// command: start, finding the instrument, reading, writing the file).
//
//   bench_archive [--records N] [--latency MS] [--no-fixed] [--repeat N] [--vantorctl]
//
// With --screenshots DIR it instead renders the main window's archive tab,
// read from the virtual instrument, as a table and as a chart into DIR
// (archive-table.png, archive-chart.png).
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "ArchivePage.h"
#include "BenchFigures.h"
#include "CalendarClock.h"
#include "Dictionary.h"
#include "ProgramWindows.h"
#include "Session.h"
#include "StringGrid.h"
#include "VirtualInstrument.h"
#include "WindowSettle.h"
#include "WindowStyle.h"

namespace {

struct ReadFigures {
  double Seconds = 0;
  int Records = 0;
  double RepaintMs = 0;  // time spent repainting the window during the read
};

// The window's own read, as the program runs it: the read runs on the
// instrument's engine while the window shows its progress; the time that
// showing takes is summed.
ReadFigures TimeRead(vantor::Session& session, vantor::ArchivePage& page,
                     vantor::DeviceLink::Pace pace) {
  session.Link.SetPace(pace);
  Clock::duration painting{};
  const std::function<void(int)> serve = page.ServeDuringRead;
  page.ServeDuringRead = [&](int budgetMs) {
    const auto t = Clock::now();
    serve(budgetMs);
    painting += Clock::now() - t;
  };
  const auto start = Clock::now();
  page.Button4Click();
  vantor::bench::Settle(session);
  page.window()->repaint();  // the table on screen
  const auto end = Clock::now();
  page.ServeDuringRead = serve;
  return {Ms(end - start) / 1000.0, page.RecordsRead(), Ms(painting)};
}

// What the line itself takes for a read of `records`: the start command and
// one exchange per record, each its quiet gap, the request's and the reply's
// bytes at the line rate, and the instrument's latency.
double WireFloorSeconds(vantor::Station& station, int records, int latencyMs) {
  using namespace vantor;
  const double byteMs = std::chrono::duration<double, std::milli>(sim::LineByteTime).count();
  const double gapMs = std::chrono::duration<double, std::milli>(DeviceLink::QuietGap).count();
  const auto exchangeMs = [&](uint8_t id, bool write) {
    const int size = station.EncodedSize(station.LookupIndex(id));
    const int request = write ? static_cast<int>(HeaderSize) + size + 4 : 19;
    const int reply =
        write ? static_cast<int>(HeaderSize) : static_cast<int>(HeaderSize) + size + 4;
    return gapMs + latencyMs + (request + reply) * byteMs;
  };
  return (exchangeMs(IdCommandAlias, true) + records * exchangeMs(IdArchive, false)) / 1000.0;
}

// From a page step to the page drawn: the step fills the table or the chart,
// then the window paints synchronously.
std::vector<double> TimePageShow(vantor::ArchivePage& page, int view, int repeat) {
  page.findChild<QComboBox*>("ComboBox5")->setCurrentIndex(view);
  std::vector<double> samples;
  for (int i = 0; i < repeat; ++i) {
    const auto start = Clock::now();
    page.BitBtn2Click();  // one page only: steps back onto itself
    page.window()->repaint();
    samples.push_back(Ms(Clock::now() - start));
  }
  return samples;
}

bool Save(QWidget& window, const QDir& dir, const char* name) {
  QApplication::processEvents();
  const QString path = dir.absoluteFilePath(QString::fromLatin1(name));
  const bool saved = window.grab().save(path, "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  return saved;
}

// The archive tab of the real main window after reading a few runs of
// records, as a table (page 1) and as a chart (page 2).
int Screenshots(const QDir& dir, vantor::sim::VirtualInstrument& instrument, int port) {
  instrument.SetLatency(std::chrono::milliseconds(0));
  instrument.PrefillArchive(150, 3);
  QTemporaryDir workDir;  // prog.ini goes there, not into the repository
  QDir::setCurrent(workDir.path());
  vantor::FixedClock clock(QDateTime::currentSecsSinceEpoch(),
                           -QDateTime::currentDateTime().offsetFromUtc());
  vantor::ProgramWindows windows(&clock);
  vantor::TForm1& form = *windows.Form1;
  form.Timer1()->stop();
  form.Timer2()->stop();
  vantor::Session& session = form.GetSession();
  session.Link.InitDictionary();
  session.Engine.RunAndWait(QStringLiteral("bench"),
                            [&](vantor::OperationControl& line) { line.Link().OpenPort(port); });
  bool answered = false;
  session.Engine.RunAndWait(QStringLiteral("bench"), [&](vantor::OperationControl& line) {
    answered = line.Link().ReadVariable(vantor::IdMeasurement) != 0;
  });
  if (!answered) {
    std::fprintf(stderr, "the virtual instrument does not answer\n");
    return 1;
  }
  session.PortNumber = static_cast<uint8_t>(port);
  form.SetPanelText(3, QStringLiteral("COM%1").arg(port));
  form.show();
  form.PageControl()->setCurrentIndex(2);
  vantor::ArchivePage& page = *form.Archive();
  page.ComputeArchiveLayout();
  const vantor::MeasurementRecord& m = session.Link.Values().Measurement;
  page.ShowMemoryFilling(m.ArchiveRecordCount, (m.StatusFlags & 1) != 0);
  page.Button4Click();
  vantor::bench::Settle(session);
  bool ok = Save(form, dir, "archive-table.png");
  page.BitBtn2Click();
  page.findChild<QComboBox*>("ComboBox5")->setCurrentIndex(1);
  ok &= Save(form, dir, "archive-chart.png");
  session.Engine.RunAndWait(QStringLiteral("bench"),
                            [&](vantor::OperationControl& line) { line.Link().ClosePort(); });
  return ok ? 0 : 1;
}

#ifdef VANTORCTL_EXECUTABLE
// The window's read and vantorctl's of the same archive, alternately, so both
// see the same machine load; the window lets go of the port while vantorctl
// has it.
void CompareWithVantorctl(vantor::Session& session, vantor::ArchivePage& page, int port, int rounds,
                          double floor) {
  std::vector<double> window;
  std::vector<double> command;
  QTemporaryDir outDir;
  for (int round = 0; round < rounds; ++round) {
    session.Engine.RunAndWait(QStringLiteral("bench"),
                              [&](vantor::OperationControl& line) { line.Link().OpenPort(port); });
    window.push_back(TimeRead(session, page, vantor::DeviceLink::Pace::Prompt).Seconds);
    session.Engine.RunAndWait(QStringLiteral("bench"),
                              [&](vantor::OperationControl& line) { line.Link().ClosePort(); });

    QProcess vantorctl;
    const QString out = outDir.filePath(QStringLiteral("archive.csv"));
    QElapsedTimer timer;
    timer.start();
    vantorctl.start(QStringLiteral(VANTORCTL_EXECUTABLE),
                    {QStringLiteral("--port"), QString::number(port), QStringLiteral("--format"),
                     QStringLiteral("csv"), QStringLiteral("archive"), QStringLiteral("read"),
                     QStringLiteral("--out"), out});
    vantorctl.waitForFinished(-1);
    command.push_back(timer.elapsed() / 1000.0);
    if (vantorctl.exitCode() != 0) {
      std::fprintf(stderr, "vantorctl failed: %s\n", vantorctl.readAllStandardError().constData());
      return;
    }
  }
  const double w = Median(window);
  const double c = Median(command);
  std::printf("window and vantorctl in turn, median of %d, against the wire floor\n", rounds);
  std::printf("  wire floor:         %7.2f s\n", floor);
  std::printf("  window read:        %7.2f s  %.3fx the floor\n", w, w / floor);
  std::printf("  vantorctl read:     %7.2f s  %.3fx the floor\n", c, c / floor);
  std::printf("  window / vantorctl: %.3f\n", w / c);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  int records = 1350;
  int latency = 2;
  int repeat = 15;
  bool fixed = true;
  bool compare = false;
  const char* screenshots = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--records") && i + 1 < argc) {
      records = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--latency") && i + 1 < argc) {
      latency = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--screenshots") && i + 1 < argc) {
      screenshots = argv[++i];
    } else if (!std::strcmp(argv[i], "--no-fixed")) {
      fixed = false;
    } else if (!std::strcmp(argv[i], "--vantorctl")) {
      compare = true;
    } else {
      std::fprintf(stderr,
                   "usage: bench_archive [--records N] [--latency MS] [--no-fixed] "
                   "[--repeat N] [--vantorctl] [--screenshots DIR]\n");
      return 2;
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // A private port map: the machine's own serial ports are never touched.
  QTemporaryDir configHome;
  qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
  // vantorctl's reads go into a history of their own, not the user's.
  qputenv("XDG_DATA_HOME", (configHome.path() + QStringLiteral("/data")).toUtf8());
  QApplication app(argc, argv);
  vantor::LoadDesignFonts();  // the window's design font, as the program has it

  vantor::sim::VirtualInstrument instrument;
  constexpr int Port = 9;
  if (!instrument.PinAs(Port)) {
    std::fprintf(stderr, "cannot pin the virtual instrument\n");
    return 1;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (screenshots != nullptr) {
    return Screenshots(QDir(QString::fromLocal8Bit(screenshots)), instrument, Port);
  }
  instrument.PrefillArchive(records, 1);
  instrument.SetLatency(std::chrono::milliseconds(latency));

  vantor::FixedClock clock(1741600800);
  vantor::Session session(&clock);
  session.Link.InitDictionary();
  session.Engine.RunAndWait(QStringLiteral("bench"),
                            [&](vantor::OperationControl& line) { line.Link().OpenPort(Port); });
  bool answered = false;
  session.Engine.RunAndWait(QStringLiteral("bench"), [&](vantor::OperationControl& line) {
    answered = line.Link().PortOpen() && line.Link().ReadVariable(vantor::IdMeasurement) != 0;
  });
  if (!answered) {
    std::fprintf(stderr, "the virtual instrument does not answer\n");
    return 1;
  }

  // The page in a window of the main window's size, painted as on screen.
  QWidget window;
  window.resize(953, 555);
  auto* layout = new QVBoxLayout(&window);
  layout->setContentsMargins(4, 24, 4, 24);
  vantor::ArchivePage page(session, &window);
  layout->addWidget(&page);
  page.ComputeArchiveLayout();
  window.show();
  app.processEvents();

  const double floor = WireFloorSeconds(session.Link.Protocol(), records, latency);
  std::printf("archive read of %u records, reply latency %d ms, wire floor %.2f s\n",
              session.Link.Values().Measurement.ArchiveRecordCount, latency, floor);
  const ReadFigures prompt = TimeRead(session, page, vantor::DeviceLink::Pace::Prompt);
  std::printf(
      "  prompt pace: %7.2f s for %d records (%.2f ms a record, %.0f ms of it serving the "
      "window), %.3fx the floor\n",
      prompt.Seconds, prompt.Records, prompt.Seconds * 1000 / std::max(1, prompt.Records),
      prompt.RepaintMs, prompt.Seconds / floor);
  if (fixed) {
    const ReadFigures slow = TimeRead(session, page, vantor::DeviceLink::Pace::Fixed);
    std::printf(
        "  fixed pace:  %7.2f s for %d records (%.2f ms a record, %.0f ms of it serving the "
        "window)\n",
        slow.Seconds, slow.Records, slow.Seconds * 1000 / std::max(1, slow.Records),
        slow.RepaintMs);
    std::printf("  ratio fixed / prompt: %.1fx\n", slow.Seconds / prompt.Seconds);
  }

  std::printf("page of %d records on screen (median / max of %d)\n", page.Grid()->RowCount() - 1,
              repeat);
  for (int view : {0, 1}) {
    const std::vector<double> samples = TimePageShow(page, view, repeat);
    std::printf("  %-6s %7.1f ms / %7.1f ms\n", view == 0 ? "table" : "chart", Median(samples),
                *std::max_element(samples.begin(), samples.end()));
  }
  if (compare) {
    session.Engine.RunAndWait(QStringLiteral("bench"),
                              [&](vantor::OperationControl& line) { line.Link().ClosePort(); });
#ifdef VANTORCTL_EXECUTABLE
    CompareWithVantorctl(session, page, Port, 3, floor);
#else
    std::fprintf(stderr, "vantorctl is not part of this build\n");
    return 1;
#endif
  }
  return 0;
}
