// Renders the main window (each tab, both languages), the About and splash
// windows and the connection dialog to PNG files in the directory given.
// The main window finds a virtual instrument pinned as COM3 through its own
// start-up sequence (connected.png), then shows a minute of live readings on
// the chart and the archive read. Last, a quarter of an hour of readings
// with a source held near the instrument for two minutes, the live chart
// zoomed in on it with its statistics, the ±2σ band and the instrument's
// thresholds (chart-zoomed-*.png), the same in a window of its own
// (chart-window-*.png), the instruments register with the change log of
// this instrument, whose clock, settings and dose the program changed, beside
// a second one read on COM4 as vantorctl would (register-*.png), the live
// figures gone stale with the cable pulled (main-*-stale.png) and the file
// dialog in Russian (file-dialog-ru.png).
// Run it with a private XDG_CONFIG_HOME.
//   QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$(mktemp -d) vantor-screenshots docs
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "ArchiveHistory.h"
#include "ArchivePage.h"
#include "DataMenu.h"
#include "ErrorBox.h"
#include "HistoryService.h"
#include "InstrumentRegister.h"
#include "MeasureHistory.h"
#include "MeasurePage.h"
#include "ProgramWindows.h"
#include "SettingsHistory.h"
#include "SettingsPage.h"
#include "TimeChart.h"
#include "VirtualInstrument.h"

namespace {

bool Save(QWidget* window, const QDir& dir, const QString& name) {
  window->show();
  QApplication::processEvents();
  const QString path = dir.filePath(name);
  const bool saved = window->grab().save(path, "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  window->hide();
  return saved;
}

// The window's operations run on the instrument's engine: this waits for
// them to end and their ends to show, before the next step or picture.
void Settle(vantor::Session& session) {
  do {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  } while (!session.Idle());
  QApplication::processEvents();
}

void UseLanguage(vantor::TForm1& form, const char* language) {
  if (QByteArray(language) == "ru") {
    form.N4Click();
  } else {
    form.English1Click();
  }
}

}  // namespace

int main(int argc, char** argv) {
  vantor::VantorApplication app(argc, argv);
  const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
  if (!dir.exists()) {
    std::fprintf(stderr, "no directory %s\n", qPrintable(dir.path()));
    return 1;
  }

  constexpr int port = 3;
  vantor::sim::VirtualInstrument instrument;
  if (!instrument.PinAs(port)) {
    std::fprintf(stderr, "cannot pin the virtual instrument as COM%d\n", port);
    return 1;
  }
  instrument.PrefillArchive(40, 2);

  bool ok = true;
  vantor::FixedClock clock(QDateTime::currentSecsSinceEpoch(),
                           -QDateTime::currentDateTime().offsetFromUtc());
  vantor::ProgramWindows windows(&clock);
  vantor::TForm1& form = *windows.Form1;
  vantor::Session& session = form.GetSession();

  // The start-up sequence as the program runs it: the first tick searches
  // the ports behind the splash window, the next one shows the main window.
  form.show();
  form.Timer2Timer();
  Settle(session);
  form.Timer2Timer();
  form.Timer1()->stop();  // ticks are driven below
  if (session.PortNumber != port) {
    std::fprintf(stderr, "the start-up did not find the virtual instrument on COM%d\n", port);
    return 1;
  }
  ok &= Save(&form, dir, QStringLiteral("connected.png"));

  form.PageControl()->setCurrentIndex(0);
  for (int second = 0; second < 60; ++second) {
    instrument.AdvanceSeconds(1);
    clock.Advance(1);
    form.Measure()->Timer1Timer();
    Settle(session);
  }
  // The archive read takes its record count from the last poll.
  form.Archive()->ComputeArchiveLayout();
  form.Archive()->ServeDuringRead = [](int) {};
  form.Archive()->Button4Click();
  Settle(session);

  const char* tabs[] = {"measure", "settings", "archive"};
  for (const char* language : {"ru", "en"}) {
    UseLanguage(form, language);
    for (int tab = 0; tab < 3; ++tab) {
      form.PageControl()->setCurrentIndex(tab);
      form.Measure()->Timer1Timer();
      Settle(session);
      form.Archive()->ShowArchivePage();  // archive texts follow the language
      ok &= Save(&form, dir, QStringLiteral("main-%1-%2.png").arg(language, tabs[tab]));
    }
  }
  // Still in English: the longest accumulation time the live tab shows.
  instrument.WithLock([](vantor::sim::InstrumentModel& model) {
    model.SetAccumulationTime(9999u * 86400u + 23u * 3600u + 59u * 60u);
  });
  form.PageControl()->setCurrentIndex(0);
  form.Measure()->SetLiveRefreshPending();
  form.Measure()->Timer1Timer();
  Settle(session);
  ok &= Save(&form, dir, QStringLiteral("main-en-measure-long-time.png"));
  // The live chart zoomed in on a source: readings every second for a
  // quarter of an hour, the source near the instrument from minute 6 to 8.
  form.PageControl()->setCurrentIndex(0);
  vantor::MeasurePage& measure = *form.Measure();
  measure.ClearChart();
  const int64_t sourceFrom = clock.Now() + 360;
  for (int second = 0; second < 900; ++second) {
    if (second == 360) {
      instrument.SetBackground(0.45, false);
    } else if (second == 480) {
      instrument.SetBackground(0.12, false);
    }
    instrument.AdvanceSeconds(1);
    clock.Advance(1);
    measure.Timer1Timer();
    Settle(session);
  }
  vantor::TimeChart& chart = *measure.ChartView();
  chart.BandSwitch()->setChecked(true);
  chart.ZoomTime(1000.0 * static_cast<double>(sourceFrom - 150),
                 1000.0 * static_cast<double>(sourceFrom + 300));
  for (const char* language : {"ru", "en"}) {
    UseLanguage(form, language);
    // One more reading, in that language; the zoomed view stays put.
    instrument.AdvanceSeconds(1);
    clock.Advance(1);
    measure.Timer1Timer();
    Settle(session);
    ok &= Save(&form, dir, QStringLiteral("chart-zoomed-%1.png").arg(language));
  }

  // The same view in a window of its own, as large as a laptop's screen.
  vantor::TimeChart* big = chart.OpenWindow();
  big->window()->resize(1280, 720);
  QApplication::processEvents();
  big->BandSwitch()->setChecked(true);
  big->ZoomTime(1000.0 * static_cast<double>(sourceFrom - 150),
                1000.0 * static_cast<double>(sourceFrom + 300));
  for (const char* language : {"ru", "en"}) {
    UseLanguage(form, language);
    ok &= Save(big->window(), dir, QStringLiteral("chart-window-%1.png").arg(language));
  }
  big->window()->close();

  // The instruments register. This instrument's clock falls 412 s behind
  // and the live tab's next poll sets it; the program changes two settings
  // and resets the dose, each through its own operation, so each goes into
  // the history as the window's would.
  {
    const vantor::HistorySink history{session.History};
    instrument.SetDeviceClock(clock.ToLocal(clock.Now() - 412));
    instrument.AdvanceSeconds(1);
    clock.Advance(1);
    measure.Timer1Timer();
    Settle(session);
    vantor::UserSettings settings = session.Link.Values().Settings;
    settings.ArchivePeriod = 30;
    settings.DoseRateAlarm[0] = 1.2f;
    session.Engine.RunAndWait(QStringLiteral("settings"), [&](vantor::OperationControl& control) {
      vantor::WriteUserSettings(control.Link(), settings, history);
      vantor::ResetDose(control.Link(), history);
    });
    Settle(session);

    // A second instrument on COM4, read as vantorctl reads it: a few
    // readings, its archive, its clock.
    vantor::sim::VirtualInstrument other;
    other.WithLock([](vantor::sim::InstrumentModel& model) {
      model.Values().DeviceData[7] = '9';  // SN004719
    });
    other.SetFirmware("VI-01 fw 2.11");
    other.PrefillArchive(120, 1);
    other.SetDeviceClock(clock.ToLocal(clock.Now() + 95));
    constexpr int otherPort = 4;
    if (!other.PinAs(otherPort)) {
      std::fprintf(stderr, "cannot pin the second virtual instrument as COM%d\n", otherPort);
      return 1;
    }
    vantor::DeviceLink link;
    link.InitDictionary();
    link.OpenPort(otherPort);
    const vantor::SettingsRead read = vantor::ReadSettings(link);
    if (!read.Identified()) {
      std::fprintf(stderr, "the second virtual instrument did not answer on COM%d\n", otherPort);
      return 1;
    }
    for (int second = 0; second < 5; ++second) {
      other.AdvanceSeconds(1);
      clock.Advance(1);
      vantor::PollMeasurement(link, clock, history, false);
    }
    vantor::ReadArchive(link, 120, history, {});
    vantor::SyncClock(link, clock, history);
    link.ClosePort();

    vantor::DataMenu& data = *form.Data();
    data.InstrumentsClick();
    vantor::InstrumentRegister& view = *data.Register();
    view.resize(1180, 560);
    const auto settle = [&view] {
      while (view.Loading()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
      }
    };
    settle();
    for (const char* language : {"ru", "en"}) {
      UseLanguage(form, language);
      view.Refresh();
      settle();
      ok &= Save(&view, dir, QStringLiteral("register-%1.png").arg(language));
    }
  }

  // The cable pulled: after a few failed polls the figures go stale.
  instrument.Unplug();
  for (int second = 0; second < 4; ++second) {
    instrument.AdvanceSeconds(1);
    clock.Advance(1);
    measure.Timer1Timer();
    Settle(session);
  }
  for (const char* language : {"ru", "en"}) {
    UseLanguage(form, language);
    ok &= Save(&form, dir, QStringLiteral("main-%1-stale.png").arg(language));
  }

  // Qt's own file dialog speaks the program's language.
  form.N4Click();
  {
    QFileDialog dialog(&form, QString(), QDir::currentPath(), QStringLiteral("PNG (*.png)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(QStringLiteral("chart-20261209-182206.png"));
    dialog.resize(760, 460);
    ok &= Save(&dialog, dir, QStringLiteral("file-dialog-ru.png"));
  }

  ok &= Save(windows.Form3.get(), dir, QStringLiteral("about-ru.png"));
  ok &= Save(windows.Form4.get(), dir, QStringLiteral("about-en.png"));
  ok &= Save(windows.Form5.get(), dir, QStringLiteral("splash-ru.png"));
  ok &= Save(windows.Form6.get(), dir, QStringLiteral("splash-en.png"));
  ok &= Save(windows.Form2.get(), dir, QStringLiteral("connect.png"));
  session.Engine.RunAndWait(QStringLiteral("close port"),
                            [](vantor::OperationControl& control) { control.Link().ClosePort(); });
  return ok ? 0 : 1;
}
