// vantorctl live against a PostgreSQL history whose server freezes with the
// connection open (SIGSTOP, as a frozen server in the field): it says so on
// standard error while it runs, SIGTERM ends it with the readings in the
// spool (status 9, the file named), and once the server is thawed the next
// run delivers them: every reading shown is in the database, once. Killed
// with SIGKILL instead, it loses at most the readings of the last batch.
#include <gtest/gtest.h>

#include <signal.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
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

class VantorctlSpool : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::EnsureCoreApplication();
    qputenv("TZ", "UTC");
    ::tzset();
  }

  void SetUp() override {
    if (!server.Ok()) {
      GTEST_SKIP() << "no PostgreSQL server could be started: " << server.Why().toStdString();
    }
    ASSERT_TRUE(sim.PinAs(Port));
    env.insert("XDG_CONFIG_HOME", home.Path());
    env.insert("XDG_DATA_HOME", home.DataPath());
    env.insert("TZ", "UTC");
    env.insert("LC_ALL", "C");
    url = server.Url();
  }

  QString SpoolFile() const { return home.DataPath() + "/vantor/spool.sqlite"; }
  int64_t Spooled() const { return HistorySpool(SpoolFile(), ParseHistoryLocation(url)).Count(); }

  // `vantorctl live` once a second, until the server has frozen under it
  // and it has said so and shown more readings.
  void LiveUntilFrozen() {
    live.setProcessEnvironment(env);
    live.setWorkingDirectory(work.Path());
    live.start(VANTORCTL_EXECUTABLE,
               {"--history", url, "--format", "csv", "live", "--interval", "1"});
    live.closeWriteChannel();
    ASSERT_TRUE(live.waitForStarted());
    ASSERT_TRUE(RunUntil([&] { return Lines() > 3; })) << err.toStdString();
    ASSERT_TRUE(RunUntil([&] { return !StoredAccumulation(url).isEmpty(); }))
        << "the history works before the server freezes";
    ASSERT_TRUE(server.Freeze());
    const qsizetype frozenAt = Lines();
    // Said while it lasts, not only at the end.
    ASSERT_TRUE(RunUntil([&] { return err.contains("has not answered for 5 s"); }))
        << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(SpoolFile().toUtf8()));
    ASSERT_TRUE(RunUntil([&] { return Lines() > frozenAt + 8; }));
  }

  qsizetype Lines() const { return out.count('\n'); }

  // Lets vantorctl run until `done`; the instrument makes a new measurement
  // after each poll, as one polled once a second does.
  template <class Done>
  bool RunUntil(const Done& done, int timeoutMs = 30000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
      if (deadline.hasExpired() || live.state() == QProcess::NotRunning) {
        return false;
      }
      live.waitForReadyRead(100);
      out += live.readAllStandardOutput();
      err += live.readAllStandardError();
      if (Lines() > measuredAt_) {
        measuredAt_ = Lines();
        sim.AdvanceSeconds(1);
      }
    }
    return true;
  }

  void End(int signal) {
    ASSERT_EQ(::kill(static_cast<pid_t>(live.processId()), signal), 0);
    ASSERT_TRUE(live.waitForFinished(30000));
    out += live.readAllStandardOutput();
    err += live.readAllStandardError();
  }

  // The accumulation times of the readings shown, in order.
  QList<qint64> Shown() const {
    QList<qint64> shown;
    const QList<QStringList> rows = ParseCsv(QString::fromUtf8(out));
    const qsizetype column = rows.isEmpty() ? -1 : rows[0].indexOf("accumulation time (s)");
    EXPECT_GE(column, 0);
    for (qsizetype i = 1; i < rows.size() && column >= 0; ++i) {
      if (rows[i].size() > column) {
        shown << rows[i][column].toLongLong();
      }
    }
    return shown;
  }

  // Thawed, a run of its own delivers the spool; what the database lacks of
  // `shown` after it.
  QList<qint64> LostAfterTheNextRun(const QList<qint64>& shown) {
    EXPECT_TRUE(server.Thaw());
    QProcess next;
    next.setProcessEnvironment(env);
    next.setWorkingDirectory(work.Path());
    next.start(VANTORCTL_EXECUTABLE, {"--history", url, "info"});
    next.closeWriteChannel();
    EXPECT_TRUE(next.waitForFinished(60000));
    EXPECT_EQ(next.exitCode(), 0) << next.readAllStandardError().toStdString();
    EXPECT_EQ(Spooled(), 0) << "delivered, so gone from the spool";
    const QList<qint64> stored = StoredAccumulation(url);
    const QSet<qint64> kept(stored.begin(), stored.end());
    EXPECT_EQ(kept.size(), stored.size()) << "no measurement twice";
    QList<qint64> lost;
    for (const qint64 seconds : shown) {
      if (!kept.contains(seconds) && !lost.contains(seconds)) {
        lost << seconds;
      }
    }
    return lost;
  }

  test::FrozenServer server;
  TempConfigHome home;
  test::WorkDir work;
  sim::VirtualInstrument sim;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  QString url;
  QProcess live;
  QByteArray out;
  QByteArray err;

 private:
  qsizetype measuredAt_ = 0;
};

TEST_F(VantorctlSpool, SigtermLeavesEveryReadingInTheSpoolWithStatus9AndTheNextRunDeliversThem) {
  ASSERT_NO_FATAL_FAILURE(LiveUntilFrozen());
  ASSERT_NO_FATAL_FAILURE(End(SIGTERM));
  EXPECT_EQ(live.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(live.exitCode(), 9) << "the readings wait in the spool: " << err.toStdString();
  const QStringList said = QString::fromUtf8(err).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(said.size(), 2) << err.toStdString();
  EXPECT_TRUE(said[1].contains(" readings and events wait in the spool " + SpoolFile() +
                               " for the history (postgresql://postgres@"))
      << said[1].toStdString();
  const qint64 spooled = said[1].section(' ', 1, 1).toLongLong();
  EXPECT_GT(spooled, 8);
  EXPECT_EQ(Spooled(), spooled) << "a row a reading";

  const QList<qint64> shown = Shown();
  ASSERT_GE(shown.size(), 10);
  EXPECT_EQ(LostAfterTheNextRun(shown), QList<qint64>()) << out.toStdString();
}

TEST_F(VantorctlSpool, SigkillLosesAtMostTheReadingsOfTheLastBatch) {
  ASSERT_NO_FATAL_FAILURE(LiveUntilFrozen());
  ASSERT_NO_FATAL_FAILURE(End(SIGKILL));
  EXPECT_EQ(live.exitStatus(), QProcess::CrashExit);
  const QList<qint64> shown = Shown();
  ASSERT_GE(shown.size(), 10);
  const QList<qint64> lost = LostAfterTheNextRun(shown);
  // The batch on its way when the kill came: the last reading shown, at
  // most, since a batch goes every tenth of a second and a reading every
  // second.
  EXPECT_TRUE(lost.isEmpty() || lost == QList<qint64>{shown.back()})
      << "lost " << lost.size() << " readings\n"
      << out.toStdString();
}

}  // namespace
}  // namespace vantor
