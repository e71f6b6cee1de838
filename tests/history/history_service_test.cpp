// The history service: the store on its own thread. What is handed over goes
// in, in order, whatever the store does meanwhile; the owner hears of an
// outage through queued calls only; questions keep their bound against a
// server that takes the connection and never answers; jobs let writes in
// between their chunks and stop when asked; closing writes what waits and
// never hangs on such a server.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <atomic>
#include <mutex>

#include "CoreApplication.h"
#include "Eventually.h"
#include "HistoryService.h"
#include "HistorySpool.h"
#include "HistoryTestData.h"
#include "ServerStandIn.h"

namespace vantor {
namespace {

using test::ServerStandIn;
using test::TestInstrument;

constexpr int64_t T0 = 1767225600000;  // 2026-01-01T00:00:00Z

LiveReading Reading(int64_t atMs, float rate = 0.1f) {
  return {atMs, rate, 0, 7.5f, 12.25f, 3600};
}

using test::Eventually;

// Lets queued calls in for `ms`: long enough for the watch to have looked
// several times.
void Settle(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

// A database of its own on the test server, for one test.
QString FreshDatabase(const QString& url) {
  const QString database =
      QStringLiteral("s_%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
  {
    const HistoryLocation admin = ParseHistoryLocation(url);
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "service-admin");
    db.setDatabaseName(admin.Database);
    db.setHostName(admin.Host);
    db.setUserName(admin.User);
    EXPECT_TRUE(db.open());
    EXPECT_TRUE(QSqlQuery(db).exec("CREATE DATABASE " + database));
    db.close();
  }
  QSqlDatabase::removeDatabase("service-admin");
  return database;
}

class HistoryServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureCoreApplication(); }

  HistoryLocation Sqlite() const { return ParseHistoryLocation(dir.filePath("history.sqlite")); }
  QString SpoolFile() const { return dir.filePath("spool.sqlite"); }

  std::vector<int64_t> SpooledTimes(const HistoryLocation& location) const {
    std::vector<HistorySpool::Row> rows;
    QString error;
    EXPECT_TRUE(HistorySpool(SpoolFile(), location).Load(rows, &error)) << error.toStdString();
    std::vector<int64_t> times;
    for (const HistorySpool::Row& row : rows) {
      for (const LiveReading& r : std::get<ReadingsItem>(row.Item).Readings) {
        times.push_back(r.AtMs);
      }
    }
    return times;
  }

  std::vector<int64_t> StoredTimes(const HistoryLocation& location) const {
    HistoryStore store(location);
    std::vector<int64_t> times;
    store.VisitReadings(std::nullopt, {}, [&times](const StoredReading& stored) {
      times.push_back(stored.Reading.AtMs);
      return true;
    });
    return times;
  }

  QTemporaryDir dir;
};

TEST_F(HistoryServiceTest, AnOutageIsToldThroughQueuedCallsOnceAndWhatWaitedGoesInByItself) {
  bool refuse = true;
  std::mutex guard;
  HistoryOptions options;
  options.RetryMs = 50;
  options.MaxRetryMs = 50;
  options.BeforeCommit = [&] {
    const std::lock_guard lock(guard);
    return !refuse;
  };
  HistoryService service(Sqlite(), options);
  std::vector<HistoryOutcome> told;
  service.OnOutcome = [&told](const HistoryOutcome& outcome) { told.push_back(outcome); };
  for (int i = 0; i < 5; ++i) {
    service.AddReading(TestInstrument(), Reading(T0 + 1000 * i));
  }
  ASSERT_TRUE(service.WaitIdle(20000));
  EXPECT_TRUE(told.empty()) << "nothing is told on the store's thread";
  ASSERT_TRUE(Eventually([&] { return !told.empty(); }));
  EXPECT_TRUE(told[0].Notify);
  EXPECT_EQ(service.Pending(), 5);

  // Back, and nothing more handed over: the store tries again on its own.
  {
    const std::lock_guard lock(guard);
    refuse = false;
  }
  ASSERT_TRUE(Eventually([&] { return service.Pending() == 0; }));
  ASSERT_TRUE(Eventually([&] { return told.size() == 2; }));
  EXPECT_TRUE(told[1].Recovered);
  service.Close();
  EXPECT_EQ(StoredTimes(Sqlite()),
            (std::vector<int64_t>{T0, T0 + 1000, T0 + 2000, T0 + 3000, T0 + 4000}));
}

TEST_F(HistoryServiceTest, ClosingWritesEverythingHandedOverInTheOrderItCame) {
  std::vector<int64_t> expected;
  {
    HistoryService service(Sqlite());
    for (int i = 0; i < 3000; ++i) {
      service.AddReading(TestInstrument(), Reading(T0 + i));
      expected.push_back(T0 + i);
    }
    HistoryEvent reset;
    reset.Kind = EventKind::DoseReset;
    service.AddEvent(TestInstrument(), reset);
    HistoryService::ArchiveRead read = service.BeginArchiveRead(TestInstrument(), 3);
    read.Add(test::TestRecord(0.1f, 0, 1));
    read.Add(ArchiveBytes{});
    read.Add(test::TestRecord(0.2f, 0, 2));
    read.Finish(true);
  }  // closed at once
  EXPECT_EQ(StoredTimes(Sqlite()), expected);
  HistoryStore store(Sqlite());
  EXPECT_TRUE(store.Coverage(TestInstrument()).Value.Covers(3));
  EXPECT_EQ(store.ArchiveRecordCount(TestInstrument()).Value, 2);
}

// A server that takes the connection and never answers holds only the
// store's thread: handing over costs nothing, a question gives up at its
// bound and says so, and closing does not wait for the server.
TEST_F(HistoryServiceTest, AServerThatNeverAnswersHoldsOnlyTheStoresThread) {
  ServerStandIn server;
  HistoryOptions options;
  options.SpoolPath = SpoolFile();
  const HistoryLocation location = ParseHistoryLocation(server.Url());
  auto service = std::make_unique<HistoryService>(location, options);
  service->AddReading(TestInstrument(), Reading(T0));
  ASSERT_TRUE(Eventually([&] { return server.Held() == 1; })) << "the store is connecting";
  // While the store's thread waits for the server, everything else goes on.
  for (int i = 1; i <= 30; ++i) {
    service->AddReading(TestInstrument(), Reading(T0 + 1000 * i));
  }
  const HistoryAnswer<ArchiveCoverage> coverage = service->Coverage(TestInstrument(), 300);
  EXPECT_FALSE(coverage.Outcome.Ok);
  EXPECT_TRUE(coverage.Outcome.Unanswered);
  EXPECT_EQ(coverage.Outcome.Error, "the history did not answer within 0.3 s");
  EXPECT_EQ(server.Held(), 1) << "still connecting: every poll above went by meanwhile";
  EXPECT_EQ(service->Pending(), 31);

  EXPECT_FALSE(service->Close(100)) << "left to end by itself";
  EXPECT_EQ(HistoryService::LeftRunning(), 1);
  EXPECT_EQ(service->Spooled(), 31) << "what it owed waits in the spool";
  EXPECT_EQ(SpooledTimes(location).size(), 31u);
  service.reset();
  // The server's connection bound ends it, touching nothing of the service.
  EXPECT_TRUE(HistoryService::WaitLeftRunning(20000));
}

// The same server coming back: every reading handed over while it hung
// reaches the database, once.
TEST_F(HistoryServiceTest, EveryReadingHandedOverWhileTheServerHungGoesInOnceItIsBack) {
  const QString url = qEnvironmentVariable("VANTOR_TEST_PG_URL");
  if (url.isEmpty()) {
    GTEST_SKIP() << "VANTOR_TEST_PG_URL is not set; ctest starts the server and sets it";
  }
  const QString database =
      QStringLiteral("s_%1").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
  {
    const HistoryLocation admin = ParseHistoryLocation(url);
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "service-admin");
    db.setDatabaseName(admin.Database);
    db.setHostName(admin.Host);
    db.setUserName(admin.User);
    ASSERT_TRUE(db.open());
    ASSERT_TRUE(QSqlQuery(db).exec("CREATE DATABASE " + database));
    db.close();
  }
  QSqlDatabase::removeDatabase("service-admin");

  ServerStandIn server(test::PostgresSocketOf(url));
  HistoryOptions options;
  options.RetryMs = 100;
  options.MaxRetryMs = 100;
  const HistoryLocation location = ParseHistoryLocation(server.Url(database));
  HistoryService service(location, options);
  int notices = 0;
  service.OnOutcome = [&notices](const HistoryOutcome& outcome) { notices += outcome.Notify; };
  std::vector<int64_t> expected;
  for (int i = 0; i < 10; ++i) {
    service.AddReading(TestInstrument(), Reading(T0 + 1000 * i));
    expected.push_back(T0 + 1000 * i);
  }
  ASSERT_TRUE(Eventually([&] { return server.Held() >= 1; }));
  server.SetMode(ServerStandIn::Mode::Refuse);
  for (int i = 10; i < 20; ++i) {
    service.AddReading(TestInstrument(), Reading(T0 + 1000 * i));
    expected.push_back(T0 + 1000 * i);
  }
  ASSERT_TRUE(Eventually([&] { return notices == 1; }));
  server.SetMode(ServerStandIn::Mode::Forward);
  ASSERT_TRUE(Eventually([&] { return service.Pending() == 0; }));
  EXPECT_EQ(notices, 1) << "one notice for the whole outage";
  EXPECT_EQ(StoredTimes(location), expected);
  service.Close();
}

// A store stuck inside the client library: the watch, on its own clock,
// tells at the bound and not before, once however long it lasts, and what
// the store owes goes to the spool in the order it came, also what is
// handed over after; closing neither waits for the store nor loses them.
TEST_F(HistoryServiceTest, AStoreThatNeverAnswersIsToldAtItsBoundAndWhatItOwesGoesToTheSpool) {
  ServerStandIn server;
  std::atomic<int64_t> watch{0};
  HistoryOptions options;
  options.WatchMs = [&watch] { return watch.load(); };
  options.SpoolPath = SpoolFile();
  const HistoryLocation location = ParseHistoryLocation(server.Url("vantor", "connect_timeout=30"));
  auto service = std::make_unique<HistoryService>(location, options);
  std::vector<HistoryOutcome> told;
  service->OnOutcome = [&told](const HistoryOutcome& outcome) { told.push_back(outcome); };
  std::vector<int64_t> expected;
  const auto add = [&](int i) {
    service->AddReading(TestInstrument(), Reading(T0 + 1000 * i));
    expected.push_back(T0 + 1000 * i);
  };
  add(0);
  ASSERT_TRUE(Eventually([&] { return server.Held() == 1; })) << "the store is connecting";
  for (int i = 1; i < 10; ++i) {
    add(i);
  }

  watch = 4999;
  Settle(400);
  EXPECT_TRUE(told.empty()) << "within its bound the store is only slow";
  EXPECT_TRUE(SpooledTimes(location).empty());

  watch = 5000;
  ASSERT_TRUE(Eventually([&] { return !told.empty(); }));
  EXPECT_TRUE(told[0].Notify);
  EXPECT_FALSE(told[0].Ok);
  EXPECT_TRUE(told[0].Error.startsWith("it has not answered for 5 s"))
      << told[0].Error.toStdString();
  EXPECT_TRUE(told[0].Error.contains(SpoolFile()));
  ASSERT_TRUE(Eventually([&] { return SpooledTimes(location).size() == 10; }));
  EXPECT_EQ(SpooledTimes(location), expected);

  // Handed over while it hangs: spooled within a batch, never behind the
  // stuck task.
  for (int i = 10; i < 15; ++i) {
    add(i);
  }
  // The file holds them a moment before the service's ledger says so.
  ASSERT_TRUE(
      Eventually([&] { return SpooledTimes(location).size() == 15 && service->Spooled() == 15; }));
  EXPECT_EQ(service->Pending(), 15);
  watch = 60000;
  Settle(300);
  EXPECT_EQ(told.size(), 1u) << "told once while it lasts";

  EXPECT_FALSE(service->Close(3000)) << "a store that does not answer is left to end";
  EXPECT_EQ(service->Spooled(), 15);
  EXPECT_EQ(SpooledTimes(location), expected);
  service.reset();
  server.SetMode(ServerStandIn::Mode::Refuse);  // drops the held connection
  EXPECT_TRUE(HistoryService::WaitLeftRunning(20000));
  EXPECT_EQ(SpooledTimes(location), expected) << "the thread left behind takes nothing away";
}

// The next run delivers the spool before anything of its own, once: what
// the history already holds (the stuck write went in after all) is not
// written twice, and a later run finds nothing left to deliver.
TEST_F(HistoryServiceTest, TheNextRunDeliversTheSpoolFirstAndOnce) {
  HistoryEvent erased;
  erased.Kind = EventKind::ArchiveErase;
  erased.AtMs = T0 + 9000;
  erased.RecordCount = 600;
  erased.Actor = QStringLiteral("lab@bench");
  {
    HistorySpool left(SpoolFile(), Sqlite());
    std::vector<int64_t> ids;
    QString error;
    ASSERT_TRUE(left.Append(
        {ReadingsItem{TestInstrument(), {Reading(T0 + 1000), Reading(T0 + 2000)}},
         EventItem{TestInstrument(), erased}, ReadingsItem{TestInstrument(), {Reading(T0 + 3000)}}},
        ids, &error))
        << error.toStdString();
    // A spool of another history stays for it.
    ASSERT_TRUE(HistorySpool(SpoolFile(), ParseHistoryLocation(dir.filePath("other.sqlite")))
                    .Append({ReadingsItem{TestInstrument(), {Reading(T0 + 7000)}}}, ids, &error));
    HistoryStore store(Sqlite());
    ASSERT_TRUE(store.AddReading(TestInstrument(), Reading(T0 + 2000)).Ok);
  }
  HistoryOptions options;
  options.SpoolPath = SpoolFile();
  const auto events = [this] {
    std::vector<StoredEvent> seen;
    HistoryStore(Sqlite()).VisitEvents(std::nullopt, {}, [&seen](const StoredEvent& event) {
      seen.push_back(event);
      return true;
    });
    return seen;
  };
  {
    HistoryService service(Sqlite(), options);
    EXPECT_EQ(service.Spooled(), 4);
    HistoryEvent reset;
    reset.Kind = EventKind::DoseReset;
    reset.AtMs = T0 + 4000;  // earlier than the spooled erase, handed over later
    service.AddEvent(TestInstrument(), reset);
    service.AddReading(TestInstrument(), Reading(T0 + 4000));
    ASSERT_TRUE(service.Close());
    EXPECT_EQ(service.Pending(), 0);
    EXPECT_EQ(service.Spooled(), 0);
  }
  EXPECT_EQ(StoredTimes(Sqlite()),
            (std::vector<int64_t>{T0 + 1000, T0 + 2000, T0 + 3000, T0 + 4000}));
  std::vector<StoredEvent> stored = events();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[1].Event, erased);
  EXPECT_LT(stored[1].Id, stored[0].Id) << "the spool went in first";
  EXPECT_TRUE(SpooledTimes(Sqlite()).empty());
  EXPECT_EQ(HistorySpool(SpoolFile(), ParseHistoryLocation(dir.filePath("other.sqlite"))).Count(),
            1);

  { HistoryService again(Sqlite(), options); }
  EXPECT_EQ(StoredTimes(Sqlite()).size(), 4u);
  EXPECT_EQ(events().size(), 2u);
}

// Hanging, then refusing, then back, in one run: one notice, one
// recovery, every reading in the database once and the spool empty again.
TEST_F(HistoryServiceTest, AHungServerThatComesBackGetsTheSpoolInTheSameRun) {
  const QString url = qEnvironmentVariable("VANTOR_TEST_PG_URL");
  if (url.isEmpty()) {
    GTEST_SKIP() << "VANTOR_TEST_PG_URL is not set; ctest starts the server and sets it";
  }
  const QString database = FreshDatabase(url);
  ServerStandIn server(test::PostgresSocketOf(url));
  std::atomic<int64_t> watch{0};
  HistoryOptions options;
  options.RetryMs = 100;
  options.MaxRetryMs = 100;
  options.WatchMs = [&watch] { return watch.load(); };
  options.SpoolPath = SpoolFile();
  const HistoryLocation location = ParseHistoryLocation(server.Url(database, "connect_timeout=30"));
  HistoryService service(location, options);
  std::vector<HistoryOutcome> told;
  service.OnOutcome = [&told](const HistoryOutcome& outcome) { told.push_back(outcome); };
  std::vector<int64_t> expected;
  for (int i = 0; i < 5; ++i) {
    service.AddReading(TestInstrument(), Reading(T0 + 1000 * i));
    expected.push_back(T0 + 1000 * i);
  }
  ASSERT_TRUE(Eventually([&] { return server.Held() == 1; }));
  watch = 6000;
  ASSERT_TRUE(Eventually([&] { return told.size() == 1; }));
  for (int i = 5; i < 10; ++i) {
    service.AddReading(TestInstrument(), Reading(T0 + 1000 * i));
    expected.push_back(T0 + 1000 * i);
  }
  ASSERT_TRUE(Eventually([&] { return SpooledTimes(location).size() == 10; }));

  server.SetMode(ServerStandIn::Mode::Refuse);
  Settle(300);
  EXPECT_EQ(told.size(), 1u) << "the refusal belongs to the same outage";
  server.SetMode(ServerStandIn::Mode::Forward);
  ASSERT_TRUE(Eventually([&] { return service.Pending() == 0 && told.size() == 2; }));
  EXPECT_TRUE(told[1].Recovered);
  EXPECT_EQ(StoredTimes(location), expected);
  EXPECT_TRUE(SpooledTimes(location).empty());
  EXPECT_EQ(service.Spooled(), 0);
  service.Close();
}

// A job reads in chunks; what is handed over meanwhile goes in between them,
// and a cancel ends it early with what it had.
TEST_F(HistoryServiceTest, AJobLetsWritesAndQuestionsInBetweenItsChunksAndStopsWhenCancelled) {
  {
    HistoryStore seed(Sqlite());
    std::vector<LiveReading> readings;
    for (int i = 0; i < 70000; ++i) {
      readings.push_back(Reading(T0 + i));
    }
    ASSERT_TRUE(seed.AddReadings(TestInstrument(), readings).Ok);
  }
  HistoryService service(Sqlite());
  std::mutex gate;
  gate.lock();
  std::atomic<bool> answered{false};
  struct Seen {
    int64_t Rows = 0;
    bool AnsweredWithin = false;
  };
  std::optional<Seen> done;
  std::vector<double> progress;
  auto job = service.Start<Seen>(
      [&](HistoryStore& store, HistoryJob& running) {
        Seen seen;
        store.VisitReadings(TestInstrument(), {}, [&](const StoredReading&) {
          if (seen.Rows++ == 0) {
            const std::lock_guard wait(gate);  // until the writes are handed over
          }
          if (seen.Rows % 10000 == 0) {
            running.SetProgress(static_cast<double>(seen.Rows) / 70000);
          }
          return true;
        });
        seen.AnsweredWithin = answered.load();
        return seen;
      },
      [&progress](double share) { progress.push_back(share); },
      [&done](Seen seen) { done = seen; });
  service.AddReading(TestInstrument(2), Reading(T0));
  service.Ask<int>(
      [&answered](HistoryStore& store) {
        answered.store(store.Pending() == 0);
        return 0;
      },
      0);
  gate.unlock();
  ASSERT_TRUE(Eventually([&] { return done.has_value(); }));
  EXPECT_EQ(done->Rows, 70000);
  EXPECT_TRUE(done->AnsweredWithin) << "the question (after the write) ran between chunks";
  EXPECT_TRUE(job->Done());
  EXPECT_FALSE(progress.empty()) << "progress reached the asking thread";

  // Cancelled: the work sees it and ends; its result still comes.
  gate.lock();
  done.reset();
  job = service.Start<Seen>(
      [&](HistoryStore& store, HistoryJob& running) {
        Seen seen;
        store.VisitReadings(TestInstrument(), {}, [&](const StoredReading&) {
          if (seen.Rows++ == 0) {
            const std::lock_guard wait(gate);
          }
          return !running.Cancelled();
        });
        return seen;
      },
      {}, [&done](Seen seen) { done = seen; });
  job->Cancel();
  gate.unlock();
  ASSERT_TRUE(Eventually([&] { return done.has_value(); }));
  EXPECT_EQ(done->Rows, 1);
}

}  // namespace
}  // namespace vantor
