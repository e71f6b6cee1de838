// The window ended by a signal (SIGTERM from a session's end or a service
// manager, SIGHUP from its terminal, Ctrl-C where it was started) closes as
// its close button does, with the status a shell gives: prog.ini written,
// the port closed with its lock, the history closed whole.
#include <gtest/gtest.h>

#include <signal.h>
#include <QFile>
#include <QTimer>

#include "AppTestSupport.h"
#include "IniFile.h"
#include "PageFixture.h"
#include "PortLock.h"
#include "ProgramWindows.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

class WindowExitSignalsE2e : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureVantorApplication(); }
};

TEST_F(WindowExitSignalsE2e, ASignalClosesTheWindowAsItsCloseButtonDoes) {
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(signal);
    TempConfigHome home;
    test::WorkDir dir;
    test::ErrorBoxCatcher errors;
    FixedClock clock(1700000000);
    sim::VirtualInstrument instrument(sim::VirtualInstrument::TimeMode::Manual);
    ASSERT_TRUE(instrument.PinAs(3));
    instrument.SetDeviceClock(clock.ToLocal(clock.Now()));
    const QString lock = PortLockFile(QString::fromStdString(instrument.PtyPath()));
    {
      ProgramWindows windows(&clock);
      windows.Form1->show();
      windows.Form1->Timer2Timer();
      EXPECT_TRUE(test::Settled(windows.Form1->GetSession()));
      ASSERT_EQ(windows.Form1->GetSession().PortNumber, 3);
      ASSERT_TRUE(QFile::exists(lock));
      windows.Form1->English1Click();
      windows.CloseOnExitSignals();

      QTimer::singleShot(0, [signal] { ::raise(signal); });
      QTimer guard;
      guard.setSingleShot(true);
      QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
      guard.start(10000);
      EXPECT_EQ(QApplication::exec(), 128 + signal);

      EXPECT_FALSE(windows.Form1->isVisible());
      EXPECT_EQ(windows.Form1->GetSession().Link.OpenPortNumber(), 0);
      EXPECT_FALSE(QFile::exists(lock));
      EXPECT_EQ(ReadIniInteger(dir.File("prog.ini"), "Common", "Language", -1), 1);
    }
    // The windows gone, so is the history's connection: nothing beside it.
    EXPECT_FALSE(QFile::exists(home.HistoryPath() + "-wal"));
    EXPECT_FALSE(QFile::exists(home.HistoryPath() + "-shm"));
    EXPECT_TRUE(errors.Messages.isEmpty()) << errors.Messages.join('\n').toStdString();
  }
}

}  // namespace
}  // namespace vantor
