// The main window polling a virtual instrument while its shared PostgreSQL
// history freezes with the connection open (SIGSTOP) and thaws again: the
// notice line says so once the store's bound has passed and stays while it
// lasts, the polls go on, what the history owes waits in the spool, and
// once the server is back every reading shown is in the database, once,
// the spool is empty and the notice is gone.
#include <gtest/gtest.h>

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTimer>

#include "AppTestSupport.h"
#include "Dictionary.h"
#include "Eventually.h"
#include "FrozenServer.h"
#include "HistoryService.h"
#include "HistorySpool.h"
#include "MeasurePage.h"
#include "NoticeLine.h"
#include "PageFixture.h"
#include "ProgramWindows.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

using test::Eventually;

constexpr int Port = 3;
constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC

QString StoredSpan(const QString& url) {
  const HistoryLocation server = ParseHistoryLocation(url);
  QString span;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "spool-window-check");
    db.setDatabaseName(server.Database);
    db.setHostName(server.Host);
    db.setUserName(server.User);
    EXPECT_TRUE(db.open());
    QSqlQuery query(db);
    EXPECT_TRUE(
        query.exec("SELECT COUNT(*) || ' ' || COUNT(DISTINCT at_ms) || ' ' || MIN(at_ms) || ' ' || "
                   "MAX(at_ms) FROM readings"));
    if (query.next()) {
      span = query.value(0).toString();
    }
    query.finish();
    db.close();
  }
  QSqlDatabase::removeDatabase("spool-window-check");
  return span;
}

TEST(HistorySpoolE2e, AFrozenServerIsToldWhileItLastsAndGetsEveryReadingShownWhenThawed) {
  test::EnsureVantorApplication();
  test::WorkDir dir;
  TempConfigHome home;
  test::ErrorBoxCatcher boxes;
  test::FrozenServer server;
  if (!server.Ok()) {
    GTEST_SKIP() << "no PostgreSQL server could be started: " << server.Why().toStdString();
  }
  QDir().mkpath(home.Path() + "/vantor");
  test::WriteBytes(home.Path() + "/vantor/vantor.conf",
                   "[History]\nUrl=" + server.Url().toUtf8() + "\n");

  sim::VirtualInstrument sim;
  ASSERT_TRUE(sim.PinAs(Port));
  FixedClock clock(Start);
  sim.SetDeviceClock(clock.ToLocal(Start));
  ProgramWindows windows(&clock);
  TForm1& form = *windows.Form1;
  form.Timer2Timer();
  EXPECT_TRUE(test::Settled(form.GetSession()));
  ASSERT_EQ(form.GetSession().PortNumber, Port);
  form.PageControl()->setCurrentWidget(form.Measure());
  form.Timer1()->stop();  // the test ticks it
  Session& session = form.GetSession();
  int notices = 0;
  const auto show = session.ShowNotice;
  session.ShowNotice = [&](const Notice& notice) {
    ++notices;
    show(notice);
  };
  const auto tick = [&] {
    sim.AdvanceSeconds(1);
    clock.Advance(1);
    form.Measure()->Timer1Timer();
    EXPECT_TRUE(test::Settled(form.GetSession()));
    QCoreApplication::processEvents();
  };
  const QString spool = home.DataPath() + "/vantor/spool.sqlite";
  const auto spooled = [&] { return HistorySpool(spool, session.History->Location()).Count(); };

  sim.ResetCounters();
  for (int i = 0; i < 5; ++i) {
    tick();
  }
  ASSERT_TRUE(Eventually([&] { return session.History->Pending() == 0; }))
      << "the history works before the server freezes";
  EXPECT_EQ(StoredSpan(server.Url()).section(' ', 0, 0), "5");

  ASSERT_TRUE(server.Freeze());
  for (int i = 0; i < 5; ++i) {
    tick();
  }
  ASSERT_TRUE(Eventually([&] { return form.Notices()->Showing(); }, 30000));
  EXPECT_EQ(form.Notices()->Text(), "История недоступна");
  EXPECT_TRUE(form.Notices()->Detail().contains("it has not answered for 5 s"))
      << form.Notices()->Detail().toStdString();
  EXPECT_TRUE(form.Notices()->Detail().contains(spool));
  for (int i = 0; i < 10; ++i) {
    tick();
  }
  EXPECT_EQ(sim.RequestsSeen(IdMeasurement), 20u) << "a poll on every tick";
  ASSERT_TRUE(Eventually([&] { return spooled() == 15; })) << spooled();
  EXPECT_TRUE(form.Notices()->Showing()) << "the notice stays while it lasts";
  EXPECT_EQ(notices, 1);

  ASSERT_TRUE(server.Thaw());
  ASSERT_TRUE(Eventually(
      [&] { return session.History->Pending() == 0 && !form.Notices()->Showing(); }, 30000));
  EXPECT_EQ(form.PanelText(0), "История снова доступна");
  EXPECT_TRUE(Eventually([&] { return spooled() == 0; })) << "delivered, so gone from the spool";
  EXPECT_EQ(StoredSpan(server.Url()),
            QStringLiteral("20 20 %1 %2").arg((Start + 1) * 1000).arg((Start + 20) * 1000));
  EXPECT_EQ(notices, 1);
  EXPECT_TRUE(boxes.Messages.isEmpty()) << "no box waits for a click";
}

// Closed while the server is frozen: closing keeps its bound, what the
// history owes is in the spool, and the next start delivers it.
TEST(HistorySpoolE2e, AWindowClosedWhileTheServerIsFrozenLeavesItsReadingsToTheNextStart) {
  test::EnsureVantorApplication();
  test::WorkDir dir;
  TempConfigHome home;
  test::ErrorBoxCatcher boxes;
  test::FrozenServer server;
  if (!server.Ok()) {
    GTEST_SKIP() << "no PostgreSQL server could be started: " << server.Why().toStdString();
  }
  QDir().mkpath(home.Path() + "/vantor");
  test::WriteBytes(home.Path() + "/vantor/vantor.conf",
                   "[History]\nUrl=" + server.Url().toUtf8() + "\n");
  sim::VirtualInstrument sim;
  ASSERT_TRUE(sim.PinAs(Port));
  FixedClock clock(Start);
  sim.SetDeviceClock(clock.ToLocal(Start));
  const QString spool = home.DataPath() + "/vantor/spool.sqlite";
  const HistoryLocation location = ConfiguredHistoryLocation();
  {
    ProgramWindows windows(&clock);
    TForm1& form = *windows.Form1;
    form.Timer2Timer();
    EXPECT_TRUE(test::Settled(form.GetSession()));
    ASSERT_EQ(form.GetSession().PortNumber, Port);
    form.PageControl()->setCurrentWidget(form.Measure());
    form.Timer1()->stop();
    const auto tick = [&] {
      sim.AdvanceSeconds(1);
      clock.Advance(1);
      form.Measure()->Timer1Timer();
      EXPECT_TRUE(test::Settled(form.GetSession()));
      QCoreApplication::processEvents();
    };
    tick();
    ASSERT_TRUE(Eventually([&] { return form.GetSession().History->Pending() == 0; }));
    ASSERT_TRUE(server.Freeze());
    for (int i = 0; i < 7; ++i) {
      tick();
    }
    ASSERT_TRUE(Eventually([&] { return form.Notices()->Showing(); }, 30000));
    tick();
    tick();
  }  // closed while frozen
  EXPECT_EQ(HistorySpool(spool, location).Count(), 9) << "all that was owed";
  EXPECT_EQ(HistoryService::LeftRunning(), 1) << "the stuck store's thread is left to end";

  ASSERT_TRUE(server.Thaw());
  ASSERT_TRUE(HistoryService::WaitLeftRunning(30000));
  {
    ProgramWindows next(&clock);
    ASSERT_TRUE(Eventually([&] { return next.Form1->GetSession().History->Pending() == 0; }));
    EXPECT_TRUE(Eventually([&] { return HistorySpool(spool, location).Count() == 0; }));
  }
  EXPECT_EQ(StoredSpan(server.Url()),
            QStringLiteral("10 10 %1 %2").arg((Start + 1) * 1000).arg((Start + 10) * 1000));
  EXPECT_TRUE(boxes.Messages.isEmpty());
}

}  // namespace
}  // namespace vantor
