// vantorctl live against a PostgreSQL history whose server freezes with the
// connection open (SIGSTOP, as a frozen server in the field): it says so on
// standard error while it runs, SIGTERM ends it with the readings in the
// spool (status 9, the file named), and once the server is thawed the next
// run delivers them: every reading shown is in the database, once.
#include <gtest/gtest.h>

#include <signal.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <ctime>

#include "CoreApplication.h"
#include "Csv.h"
#include "FrozenServer.h"
#include "HistoryLocation.h"
#include "HistorySpool.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"
#include "WorkDir.h"

namespace vantor {
namespace {

constexpr int Port = 3;

// The accumulation times of the readings in `url`'s database, one a row.
QList<qint64> StoredAccumulation(const QString& url) {
  const HistoryLocation server = ParseHistoryLocation(url);
  QList<qint64> seconds;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "spool-check");
    db.setDatabaseName(server.Database);
    db.setHostName(server.Host);
    db.setUserName(server.User);
    EXPECT_TRUE(db.open());
    QSqlQuery query(db);
    EXPECT_TRUE(query.exec("SELECT accumulation_s FROM readings ORDER BY at_ms"));
    while (query.next()) {
      seconds << query.value(0).toLongLong();
    }
    query.finish();
    db.close();
  }
  QSqlDatabase::removeDatabase("spool-check");
  return seconds;
}

TEST(VantorctlSpool, AFrozenServersReadingsWaitInTheSpoolAndTheNextRunDeliversEveryOne) {
  test::EnsureCoreApplication();
  qputenv("TZ", "UTC");
  ::tzset();
  test::FrozenServer server;
  if (!server.Ok()) {
    GTEST_SKIP() << "no PostgreSQL server could be started: " << server.Why().toStdString();
  }
  TempConfigHome home;
  test::WorkDir work;
  sim::VirtualInstrument sim;
  ASSERT_TRUE(sim.PinAs(Port));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", home.Path());
  env.insert("XDG_DATA_HOME", home.DataPath());
  env.insert("TZ", "UTC");
  env.insert("LC_ALL", "C");
  const QString url = server.Url();

  QProcess live;
  live.setProcessEnvironment(env);
  live.setWorkingDirectory(work.Path());
  live.start(VANTORCTL_EXECUTABLE,
             {"--history", url, "--format", "csv", "live", "--interval", "1"});
  live.closeWriteChannel();
  ASSERT_TRUE(live.waitForStarted());
  QByteArray out;
  QByteArray err;
  const auto lines = [&out] { return out.count('\n'); };
  // Lets vantorctl run until `done`; the instrument makes a new measurement
  // after each poll, as one polled once a second does.
  qsizetype measuredAt = 0;
  const auto runUntil = [&](const auto& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
      if (deadline.hasExpired() || live.state() == QProcess::NotRunning) {
        return false;
      }
      live.waitForReadyRead(100);
      out += live.readAllStandardOutput();
      err += live.readAllStandardError();
      if (lines() > measuredAt) {
        measuredAt = lines();
        sim.AdvanceSeconds(1);
      }
    }
    return true;
  };
  ASSERT_TRUE(runUntil([&] { return lines() > 3; }, 30000)) << err.toStdString();
  ASSERT_TRUE(runUntil([&] { return !StoredAccumulation(url).isEmpty(); }, 30000))
      << "the history works before the server freezes";

  ASSERT_TRUE(server.Freeze());
  const qsizetype frozenAt = lines();
  // Said while it lasts, not only at the end.
  ASSERT_TRUE(runUntil([&] { return err.contains("has not answered for 5 s"); }, 30000))
      << err.toStdString();
  EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
  EXPECT_TRUE(err.contains(home.DataPath().toUtf8() + "/vantor/spool.sqlite"));
  ASSERT_TRUE(runUntil([&] { return lines() > frozenAt + 8; }, 30000));

  ASSERT_EQ(::kill(static_cast<pid_t>(live.processId()), SIGTERM), 0);
  ASSERT_TRUE(live.waitForFinished(30000));
  out += live.readAllStandardOutput();
  err += live.readAllStandardError();
  EXPECT_EQ(live.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(live.exitCode(), 9) << "the readings wait in the spool: " << err.toStdString();
  const QStringList said = QString::fromUtf8(err).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(said.size(), 2) << err.toStdString();
  EXPECT_TRUE(said[1].contains(" readings and events wait in the spool " + home.DataPath() +
                               "/vantor/spool.sqlite for the history (postgresql://postgres@"))
      << said[1].toStdString();
  const qint64 spooled = said[1].section(' ', 1, 1).toLongLong();
  EXPECT_GT(spooled, 0);
  EXPECT_EQ(
      HistorySpool(home.DataPath() + "/vantor/spool.sqlite", ParseHistoryLocation(url)).Count(),
      spooled)
      << "a row a reading";

  QSet<qint64> shown;
  const QList<QStringList> rows = ParseCsv(QString::fromUtf8(out));
  ASSERT_GT(rows.size(), 12);
  const qsizetype column = rows[0].indexOf("accumulation time (s)");
  ASSERT_GE(column, 0);
  for (qsizetype i = 1; i < rows.size(); ++i) {
    shown << rows[i][column].toLongLong();
  }

  // Thawed: the next run delivers the spool before its own work.
  ASSERT_TRUE(server.Thaw());
  QProcess next;
  next.setProcessEnvironment(env);
  next.setWorkingDirectory(work.Path());
  next.start(VANTORCTL_EXECUTABLE, {"--history", url, "info"});
  next.closeWriteChannel();
  ASSERT_TRUE(next.waitForFinished(60000));
  EXPECT_EQ(next.exitCode(), 0) << next.readAllStandardError().toStdString();
  EXPECT_EQ(
      HistorySpool(home.DataPath() + "/vantor/spool.sqlite", ParseHistoryLocation(url)).Count(), 0);

  const QList<qint64> stored = StoredAccumulation(url);
  const QSet<qint64> kept(stored.begin(), stored.end());
  EXPECT_EQ(kept.size(), stored.size()) << "no measurement twice";
  QStringList lost;
  for (const qint64 seconds : shown) {
    if (!kept.contains(seconds)) {
      lost << QString::number(seconds);
    }
  }
  QStringList all;
  for (const qint64 seconds : stored) {
    all << QString::number(seconds);
  }
  EXPECT_TRUE(lost.isEmpty()) << "shown but not kept, by accumulation time: "
                              << lost.join(' ').toStdString() << "; kept "
                              << all.join(' ').toStdString() << "\n"
                              << out.toStdString() << err.toStdString();
}

}  // namespace
}  // namespace vantor
