// The main window polling a virtual instrument while its history (a shared
// PostgreSQL database) first takes the connection and never answers, then
// refuses every connection, then works again: the live tab polls on every
// tick all along, no box waits for a click, the notice line says it once,
// and every reading reaches the database once it is back.
#include <gtest/gtest.h>

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTimer>
#include <QUuid>

#include "AppTestSupport.h"
#include "Dictionary.h"
#include "Eventually.h"
#include "HistoryService.h"
#include "MeasurePage.h"
#include "NoticeLine.h"
#include "PageFixture.h"
#include "ProgramWindows.h"
#include "ServerStandIn.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

using test::Eventually;
using test::ServerStandIn;

constexpr int Port = 3;
constexpr int64_t Start = 1741600800;  // 10 March 2025 10:00 UTC

// Runs `sql` on the test server's database `database`; the first column of
// its first row, if any.
QVariant ServerSql(const QString& database, const QString& sql) {
  const HistoryLocation server = ParseHistoryLocation(qEnvironmentVariable("VANTOR_TEST_PG_URL"));
  QVariant first;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "outage-check");
    db.setDatabaseName(database.isEmpty() ? server.Database : database);
    db.setHostName(server.Host);
    db.setUserName(server.User);
    EXPECT_TRUE(db.open());
    QSqlQuery query(db);
    EXPECT_TRUE(query.exec(sql)) << sql.toStdString();
    if (query.next()) {
      first = query.value(0);
    }
    query.finish();
    db.close();
  }
  QSqlDatabase::removeDatabase("outage-check");
  return first;
}

TEST(HistoryOutageE2e, TheLiveTabPollsOnEveryTickWhileTheHistoryHangsOrRefusesAndLosesNothing) {
  if (qEnvironmentVariableIsEmpty("VANTOR_TEST_PG_URL")) {
    GTEST_SKIP() << "VANTOR_TEST_PG_URL is not set; ctest starts the server and sets it";
  }
  test::EnsureVantorApplication();
  test::WorkDir dir;
  TempConfigHome home;
  test::ErrorBoxCatcher boxes;
  const QString database =
      QStringLiteral("outage_%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
  ServerSql(QString(), "CREATE DATABASE " + database);
  ServerStandIn server(test::PostgresSocketOf(qEnvironmentVariable("VANTOR_TEST_PG_URL")));
  // A connection may take 20 s here, so the store's thread stays in its
  // first one for as long as the server hangs.
  QDir().mkpath(home.Path() + "/vantor");
  test::WriteBytes(home.Path() + "/vantor/vantor.conf",
                   "[History]\nUrl=" + server.Url(database, "connect_timeout=20").toUtf8() + "\n");

  sim::VirtualInstrument sim;
  ASSERT_TRUE(sim.PinAs(Port));
  FixedClock clock(Start);
  sim.SetDeviceClock(clock.ToLocal(Start));
  ProgramWindows windows(&clock);
  TForm1& form = *windows.Form1;
  form.Timer2Timer();  // the start-up search finds the instrument
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
  // One tick of the poll timer a second, as the timer would.
  const auto tick = [&] {
    sim.AdvanceSeconds(1);
    clock.Advance(1);
    form.Measure()->Timer1Timer();
    EXPECT_TRUE(test::Settled(form.GetSession()));
  };

  sim.ResetCounters();
  for (int i = 0; i < 30; ++i) {
    tick();
  }
  EXPECT_EQ(sim.RequestsSeen(IdMeasurement), 30u) << "a poll on every tick";
  EXPECT_EQ(server.Accepted(), 1);
  EXPECT_EQ(server.Held(), 1) << "every poll went by while the store still waited for the server";
  EXPECT_EQ(session.History->Pending(), 30);

  // The server goes away: it is said once, on the notice line, and the
  // polls go on.
  server.SetMode(ServerStandIn::Mode::Refuse);
  ASSERT_TRUE(Eventually([&] { return form.Notices()->Showing(); }));
  EXPECT_EQ(form.Notices()->Text(), "История недоступна");
  for (int i = 0; i < 30; ++i) {
    tick();
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(sim.RequestsSeen(IdMeasurement), 60u);
  EXPECT_EQ(notices, 1);
  EXPECT_TRUE(boxes.Messages.isEmpty()) << "no box waits for a click";

  // Back: every reading goes in, once, and the notice goes.
  server.SetMode(ServerStandIn::Mode::Forward);
  session.History->Flush();
  ASSERT_TRUE(Eventually([&] { return session.History->Pending() == 0; }));
  ASSERT_TRUE(Eventually([&] { return !form.Notices()->Showing(); }));
  EXPECT_EQ(form.PanelText(0), "История снова доступна");
  const QVariant stored = ServerSql(
      database, "SELECT COUNT(*) || ' ' || MIN(at_ms) || ' ' || MAX(at_ms) FROM readings");
  EXPECT_EQ(stored.toString(),
            QStringLiteral("60 %1 %2").arg((Start + 1) * 1000).arg((Start + 60) * 1000));
  EXPECT_TRUE(boxes.Messages.isEmpty());
}

}  // namespace
}  // namespace vantor
