// The store against both engines: SQLite in a temporary folder and the
// throwaway PostgreSQL server CTest starts (VANTOR_TEST_PG_URL), one fresh
// database per test.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <bit>
#include <limits>

#include "CoreApplication.h"
#include "Csv.h"
#include "Dictionary.h"
#include "HistoryExport.h"
#include "HistoryStore.h"
#include "HistoryTestData.h"
#include "MemberChanges.h"

using namespace vantor;
using test::TestInstrument;
using test::TestRecord;

namespace {

constexpr int64_t T0 = 1767225600000;  // 2026-01-01T00:00:00Z
const QTimeZone Moscow(3 * 3600);
const ArchiveBytes Separator{};

enum class Engine { Sqlite, Postgres };

void PrintTo(Engine engine, std::ostream* os) {
  *os << (engine == Engine::Sqlite ? "SQLite" : "PostgreSQL");
}

bool SameBits(float a, float b) {
  return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

LiveReading Reading(int64_t atMs, float rate, uint8_t mode = 0) {
  return {atMs, rate, mode, 7.5f, 12.25f, 3600};
}

// Runs one SQL statement on a database of the location, outside the store.
bool RawSql(const HistoryLocation& location, const QString& sql, QVariant* result = nullptr) {
  const QString name = QUuid::createUuid().toString();
  bool ok = false;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(
        location.Engine == HistoryEngine::Sqlite ? "QSQLITE" : "QPSQL", name);
    db.setDatabaseName(location.Engine == HistoryEngine::Sqlite ? location.Path
                                                                : location.Database);
    db.setHostName(location.Host);
    db.setUserName(location.User);
    if (db.open()) {
      QSqlQuery query(db);
      ok = query.exec(sql);
      if (!ok) {
        ADD_FAILURE() << sql.toStdString() << ": " << query.lastError().text().toStdString();
      }
      if (ok && result != nullptr && query.next()) {
        *result = query.value(0);
      }
    } else {
      ADD_FAILURE() << db.lastError().text().toStdString();
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  return ok;
}

class History : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    test::EnsureCoreApplication();
    ASSERT_TRUE(dir_.isValid());
    if (GetParam() == Engine::Sqlite) {
      location_.Path = dir_.path() + "/data/history.sqlite";
      return;
    }
    const QString url = qEnvironmentVariable("VANTOR_TEST_PG_URL");
    if (url.isEmpty()) {
      GTEST_SKIP() << "VANTOR_TEST_PG_URL is not set; ctest starts the server and sets it";
    }
    server_ = ParseHistoryLocation(url);
    ASSERT_TRUE(server_.Valid()) << server_.Error.toStdString();
    location_ = server_;
    location_.Database = QStringLiteral("h_%1_%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(QUuid::createUuid().toString(QUuid::Id128).left(8));
    ASSERT_TRUE(ServerSql("CREATE DATABASE " + location_.Database));
  }

  void TearDown() override {
    Mend();
    if (GetParam() == Engine::Postgres && !location_.Database.isEmpty()) {
      ServerSql("DROP DATABASE IF EXISTS " + location_.Database + " WITH (FORCE)");
    }
  }

  bool ServerSql(const QString& sql) { return RawSql(server_, sql); }

  HistoryOptions Options() {
    HistoryOptions options;
    options.Zone = Moscow;
    options.NowMs = [this] { return now_; };
    options.Actor = QStringLiteral("tester@bench");
    options.BusyTimeoutMs = 50;
    return options;
  }
  std::unique_ptr<HistoryStore> Open(HistoryOptions options) {
    return std::make_unique<HistoryStore>(location_, std::move(options));
  }
  std::unique_ptr<HistoryStore> Open() { return Open(Options()); }

  // Makes the store's writes fail until Mend(): for SQLite another program
  // holds the write lock; for PostgreSQL the server cuts the store's
  // connection and takes no new ones.
  void Break() {
    if (GetParam() == Engine::Sqlite) {
      lock_ = QUuid::createUuid().toString();
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", lock_);
      db.setDatabaseName(location_.Path);
      ASSERT_TRUE(db.open());
      ASSERT_TRUE(QSqlQuery(db).exec("BEGIN IMMEDIATE"));
    } else {
      ASSERT_TRUE(ServerSql("ALTER DATABASE " + location_.Database + " ALLOW_CONNECTIONS false"));
      ASSERT_TRUE(
          ServerSql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                    location_.Database + "'"));
      broken_ = true;
    }
  }
  void Mend() {
    if (!lock_.isEmpty()) {
      {
        QSqlDatabase db = QSqlDatabase::database(lock_);
        QSqlQuery(db).exec("ROLLBACK");
        db.close();
      }
      QSqlDatabase::removeDatabase(lock_);
      lock_.clear();
    }
    if (broken_) {
      ServerSql("ALTER DATABASE " + location_.Database + " ALLOW_CONNECTIONS true");
      broken_ = false;
    }
  }

  static std::vector<StoredArchiveRecord> Archive(HistoryStore& store,
                                                  const InstrumentIdentity& instrument) {
    std::vector<StoredArchiveRecord> records;
    EXPECT_TRUE(store
                    .VisitArchive(instrument, {},
                                  [&](const StoredArchiveRecord& r) {
                                    records.push_back(r);
                                    return true;
                                  })
                    .Ok);
    return records;
  }
  static std::vector<StoredReading> Readings(HistoryStore& store, const TimeRange& range = {}) {
    std::vector<StoredReading> readings;
    EXPECT_TRUE(store
                    .VisitReadings(std::nullopt, range,
                                   [&](const StoredReading& r) {
                                     readings.push_back(r);
                                     return true;
                                   })
                    .Ok);
    return readings;
  }

  QTemporaryDir dir_;
  HistoryLocation location_;
  HistoryLocation server_;
  int64_t now_ = T0;
  QString lock_;
  bool broken_ = false;
};

struct RecordAt {
  int64_t Run;
  int64_t Position;
  ArchiveBytes Raw;
};

std::vector<RecordAt> Places(const std::vector<StoredArchiveRecord>& records) {
  std::vector<RecordAt> places;
  places.reserve(records.size());
  for (const auto& r : records) {
    places.push_back({r.Run, r.Position, r.Raw});
  }
  return places;
}

bool operator==(const RecordAt& a, const RecordAt& b) {
  return a.Run == b.Run && a.Position == b.Position && a.Raw == b.Raw;
}

void PrintTo(const RecordAt& r, std::ostream* os) {
  *os << "{run " << r.Run << ", position " << r.Position << ", minute " << (r.Raw[7] & 0x3F) << "}";
}

TEST_P(History, ReadingTheSameArchiveAgainAddsNothingWhateverTheLineLost) {
  auto store = Open();
  const auto device = TestInstrument(1);
  const ArchiveBytes a = TestRecord(0.11f, 0, 1);
  const ArchiveBytes b = TestRecord(0.12f, 4, 2);
  const ArchiveBytes c = TestRecord(0.13f, 0, 3);
  const ArchiveBytes e = TestRecord(0.15f, 0, 5);
  const ArchiveBytes f = TestRecord(0.16f, 0, 6);
  const ArchiveBytes g = TestRecord(0.17f, 0, 7);
  // b twice: a clock that stood still logs equal records, and both count.
  const std::vector<ArchiveBytes> first = {a, b, b, Separator, c, Separator, Separator, e};
  ASSERT_TRUE(store->StoreArchiveRead(device, 8, first, true).Ok);
  now_ += 1000;
  ASSERT_TRUE(store->StoreArchiveRead(device, 8, first, true).Ok);
  EXPECT_EQ(store->ArchiveRecordCount(device).Value, 5);
  EXPECT_TRUE(store->Coverage(device).Value.Covers(8));

  // The archive grew by f, a separator and g; this read lost c on the line
  // (the instrument moved on), so everything after it came one place early.
  // It is incomplete and adds only f and g.
  const std::vector<ArchiveBytes> lossy = {a,         b, b, Separator, Separator,
                                           Separator, e, f, Separator, g};
  now_ += 1000;
  ASSERT_TRUE(store->StoreArchiveRead(device, 11, lossy, false).Ok);
  const std::vector<RecordAt> expected = {{1, 0, a}, {1, 1, b}, {1, 2, b}, {2, 4, c},
                                          {3, 7, e}, {3, 7, f}, {4, 9, g}};
  EXPECT_EQ(Places(Archive(*store, device)), expected);
  // An incomplete read says nothing about the archive as a whole.
  EXPECT_FALSE(store->Coverage(device).Value.Covers(11));
  EXPECT_EQ(store->Coverage(device).Value.Records, 8);

  // Another instrument with the very same bytes has records of its own.
  ASSERT_TRUE(store->StoreArchiveRead(TestInstrument(2), 1, {a}, true).Ok);
  EXPECT_EQ(store->ArchiveRecordCount(TestInstrument(2)).Value, 1);
  EXPECT_EQ(store->ArchiveRecordCount(device).Value, 7);

  // After an erase the empty archive is covered; its new records start the
  // next run.
  now_ += 1000;
  HistoryEvent erase;
  erase.Kind = EventKind::ArchiveErase;
  erase.RecordCount = 11;
  ASSERT_TRUE(store->AddEvent(device, erase).Ok);
  EXPECT_TRUE(store->Coverage(device).Value.Covers(0));
  now_ += 1000;
  const ArchiveBytes h = TestRecord(0.2f, 0, 30);
  ASSERT_TRUE(store->StoreArchiveRead(device, 1, {h}, true).Ok);
  EXPECT_EQ(Places(Archive(*store, device)).back(), (RecordAt{5, 0, h}));
  EXPECT_TRUE(store->Coverage(device).Value.Covers(1));
}

TEST_P(History, AnArchiveReadIsCommittedBatchByBatchAndAnUnfinishedOneStaysIncomplete) {
  HistoryOptions options = Options();
  options.BatchRecords = 3;
  options.BatchMs = 3600 * 1000;
  auto store = Open(options);
  const auto device = TestInstrument();
  {
    ArchiveReadLog log = store->BeginArchiveRead(device, 7);
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(log.Add(TestRecord(0.1f, 0, i)).Ok);
    }
    // A second store on the same history (its own connection) sees the
    // committed batch while the read goes on.
    auto other = Open();
    EXPECT_EQ(other->ArchiveRecordCount(device).Value, 3);
    EXPECT_EQ(store->Pending(), 2);
  }  // unplugged: the log ends without Finish
  EXPECT_EQ(store->ArchiveRecordCount(device).Value, 5);
  EXPECT_EQ(store->Pending(), 0);
  EXPECT_FALSE(store->Coverage(device).Value.Records.has_value());
}

TEST_P(History, ARecordThatNeverArrivedLeavesItsPositionEmpty) {
  auto store = Open();
  const auto device = TestInstrument();
  const ArchiveBytes a = TestRecord(0.11f, 0, 1);
  const ArchiveBytes c = TestRecord(0.13f, 0, 3);
  {
    ArchiveReadLog log = store->BeginArchiveRead(device, 3);
    ASSERT_TRUE(log.Add(a).Ok);
    log.Skip();
    ASSERT_TRUE(log.Add(c).Ok);
    ASSERT_TRUE(log.Finish(false).Ok);
  }
  // What was missing may have been a separator: c starts a run of its own.
  const std::vector<RecordAt> expected = {{1, 0, a}, {2, 2, c}};
  EXPECT_EQ(Places(Archive(*store, device)), expected);
}

TEST_P(History, ReadingsComeBackBitForBitInTimeOrderWithinTheirRange) {
  auto store = Open();
  const auto one = TestInstrument(1);
  const auto two = TestInstrument(2);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ASSERT_TRUE(store->AddReading(one, Reading(T0 + 2000, nan)).Ok);
  ASSERT_TRUE(store->AddReading(one, Reading(T0 + 1000, 1e-45f, 1)).Ok);
  ASSERT_TRUE(store->AddReading(two, Reading(T0 + 1500, 0.1f)).Ok);
  ASSERT_TRUE(store->AddReading(one, Reading(T0 + 3000, 3.4e38f)).Ok);
  // The same moment again is the same reading.
  ASSERT_TRUE(store->AddReading(one, Reading(T0 + 1000, 5.0f)).Ok);
  // Many at once go in several statements; a few are left over after the
  // full ones.
  std::vector<LiveReading> many(150);
  for (int i = 0; i < 150; ++i) {
    many[i] = {
        T0 + 10000 + i, 0.1f * static_cast<float>(i),          3, 1.0f * static_cast<float>(i),
        2.0f,           static_cast<uint32_t>(4000000000U + i)};
  }
  ASSERT_TRUE(store->AddReadings(two, many).Ok);

  const auto rates = store->Rates(one, {T0 + 1000, T0 + 3000});
  ASSERT_TRUE(rates.Outcome.Ok);
  ASSERT_EQ(rates.Value.AtMs, (std::vector<int64_t>{T0 + 1000, T0 + 2000}));
  EXPECT_TRUE(SameBits(rates.Value.Rates[0], 1e-45f));
  EXPECT_TRUE(std::isnan(rates.Value.Rates[1]));

  const auto all = Readings(*store);
  ASSERT_EQ(all.size(), 154u);
  EXPECT_EQ(all[0].Reading, Reading(T0 + 1000, 1e-45f, 1));
  EXPECT_EQ(all[2].Reading, Reading(T0 + 3000, 3.4e38f));
  EXPECT_EQ(all[3].Reading, Reading(T0 + 1500, 0.1f));
  EXPECT_NE(all[0].InstrumentId, all[3].InstrumentId);
  for (size_t i = 0; i < many.size(); ++i) {
    EXPECT_EQ(all[4 + i].Reading, many[i]) << i;
  }
}

TEST_P(History, EventsKeepWhoChangedWhichMemberFromWhatToWhatAndWhen) {
  ValueStorage before;
  before.Settings.ArchivePeriod = 30;
  ValueStorage after = before;
  after.Settings.ArchivePeriod = 60;
  after.Settings.DoseRateAlarm[1] = 1.5f;
  after.Service.Floats[0] = 0.00123f;  // not a member of the settings
  const std::vector<MemberChange> settings = ChangedMembers(IdSettings, before, after);
  const std::vector<MemberChange> expected = {{2, "Порог 2", "0", "1.5"},
                                              {8, "Период записи в архив, с", "30", "60"}};
  EXPECT_EQ(settings, expected);
  const std::vector<MemberChange> service = ChangedMembers(IdService, before, after);
  EXPECT_EQ(
      service,
      (std::vector<MemberChange>{{0, "Чувствительность ((мкЗв/ч)/(имп/c))", "0", "0.00123"}}));
  // A calibration value that is no number is told by its bits, not as "nan".
  ValueStorage spoilt = after;
  spoilt.Service.Floats[0] = std::bit_cast<float>(0x7FC00001u);
  EXPECT_EQ(ChangedMembers(IdService, after, spoilt).at(0).New, "0x7FC00001");

  auto store = Open();
  const auto device = TestInstrument();
  HistoryEvent write;
  write.Kind = EventKind::SettingsWrite;
  write.AtMs = T0 + 5000;
  write.Changes = settings;
  HistoryEvent clock;
  clock.Kind = EventKind::ClockSet;
  clock.AtMs = T0 + 1000;
  clock.DeviceMs = T0 + 1000 + 412000;
  clock.DriftSeconds = 412;
  clock.Actor = QStringLiteral("service@lab");
  ASSERT_TRUE(store->AddEvent(device, write).Ok);
  ASSERT_TRUE(store->AddEvent(device, clock).Ok);

  std::vector<HistoryEvent> events;
  ASSERT_TRUE(store
                  ->VisitEvents(device, {},
                                [&](const StoredEvent& e) {
                                  events.push_back(e.Event);
                                  return true;
                                })
                  .Ok);
  write.Actor = QStringLiteral("tester@bench");  // the store's own actor
  EXPECT_EQ(events, (std::vector<HistoryEvent>{clock, write}));
}

// The instruments register: what each instrument the history knows came to,
// whichever computer sharing the history wrote it, and an instrument's
// change log by time and kind.
TEST_P(History, EachInstrumentIsSummedUpAndItsChangeLogFiltersByTimeAndKind) {
  auto here = Open();
  HistoryOptions elsewhere = Options();
  elsewhere.Actor = QStringLiteral("anna@desk-2");
  auto there = Open(elsewhere);  // another computer on the same history
  const auto one = TestInstrument(1);
  const auto two = TestInstrument(2);

  ASSERT_TRUE(here->AddReading(one, Reading(T0 + 1000, 0.1f)).Ok);
  ASSERT_TRUE(here->AddReading(one, Reading(T0 + 4000, 0.25f, 1)).Ok);
  now_ = T0 + 2000;
  ASSERT_TRUE(here->StoreArchiveRead(
                      one, 3, {TestRecord(0.1f, 0, 1), Separator, TestRecord(0.2f, 0, 2)}, true)
                  .Ok);
  // A later read lost the line after two of its five records.
  now_ = T0 + 6000;
  ASSERT_TRUE(there->StoreArchiveRead(one, 5, {TestRecord(0.1f, 0, 1), Separator}, false).Ok);
  HistoryEvent clock;
  clock.Kind = EventKind::ClockSet;
  clock.AtMs = T0 + 3000;
  clock.DeviceMs = T0 + 3000 - 600000;
  clock.DriftSeconds = -600;
  ASSERT_TRUE(there->AddEvent(one, clock).Ok);
  HistoryEvent write;
  write.Kind = EventKind::SettingsWrite;
  write.AtMs = T0 + 5000;
  write.Changes = {{8, "Период записи в архив, с", "30", "60"}, {2, "Порог 2", "0", "1.5"}};
  ASSERT_TRUE(here->AddEvent(one, write).Ok);
  HistoryEvent reset;
  reset.Kind = EventKind::DoseReset;
  reset.AtMs = T0 + 7000;
  ASSERT_TRUE(here->AddEvent(one, reset).Ok);
  now_ = T0 + 500;
  HistoryEvent erase;
  erase.Kind = EventKind::ArchiveErase;
  erase.AtMs = T0 + 500;
  erase.RecordCount = 12;
  ASSERT_TRUE(there->AddEvent(two, erase).Ok);

  for (HistoryStore* store : {here.get(), there.get()}) {
    const auto summaries = store->Summaries();
    ASSERT_TRUE(summaries.Outcome.Ok) << summaries.Outcome.Error.toStdString();
    ASSERT_EQ(summaries.Value.size(), 2u);
    const InstrumentSummary& first = summaries.Value[0];
    EXPECT_EQ(first.Instrument.Identity, one);
    EXPECT_EQ(first.Instrument.FirstSeenMs, T0);
    EXPECT_EQ(first.LastSeenMs, T0 + 7000) << "the dose reset";
    ASSERT_TRUE(first.LastReading.has_value());
    EXPECT_EQ(*first.LastReading, Reading(T0 + 4000, 0.25f, 1));
    EXPECT_EQ(first.RecordsKept, 2);
    EXPECT_EQ(first.LastReadMs, T0 + 6000);
    EXPECT_FALSE(first.LastReadComplete);
    EXPECT_EQ(first.LastReadPositions, 2);
    EXPECT_EQ(first.LastReadDeviceCount, 5);
    const InstrumentSummary& second = summaries.Value[1];
    EXPECT_EQ(second.Instrument.Identity, two);
    EXPECT_EQ(second.LastSeenMs, T0 + 500);
    EXPECT_FALSE(second.LastReading.has_value());
    EXPECT_EQ(second.RecordsKept, 0);
    EXPECT_FALSE(second.LastReadMs.has_value());
  }

  const auto log = [&](const TimeRange& range, const std::vector<EventKind>& kinds) {
    std::vector<HistoryEvent> events;
    EXPECT_TRUE(here->VisitEvents(
                        one, range,
                        [&](const StoredEvent& e) {
                          events.push_back(e.Event);
                          return true;
                        },
                        kinds)
                    .Ok);
    return events;
  };
  clock.Actor = QStringLiteral("anna@desk-2");
  write.Actor = reset.Actor = QStringLiteral("tester@bench");
  EXPECT_EQ(log({}, {}), (std::vector<HistoryEvent>{clock, write, reset}));
  EXPECT_EQ(log({}, {EventKind::SettingsWrite, EventKind::DoseReset}),
            (std::vector<HistoryEvent>{write, reset}));
  EXPECT_EQ(log({T0 + 3001, T0 + 7000}, {}), (std::vector<HistoryEvent>{write}));
  EXPECT_EQ(log({T0, T0 + 5000}, {EventKind::SettingsWrite}), std::vector<HistoryEvent>{});
}

TEST_P(History, AFailedCommitKeepsEverythingInMemoryAndWritesItOnceLater) {
  bool refuse = true;
  HistoryOptions options = Options();
  options.BeforeCommit = [&refuse] { return !refuse; };
  auto store = Open(options);
  const auto device = TestInstrument();
  const ArchiveBytes a = TestRecord(0.11f, 0, 1);
  const ArchiveBytes b = TestRecord(0.12f, 0, 2);

  const HistoryOutcome first = store->AddReading(device, Reading(T0, 0.1f));
  EXPECT_FALSE(first.Ok);
  EXPECT_TRUE(first.Notify);
  EXPECT_FALSE(first.Error.isEmpty());
  EXPECT_EQ(first.Pending, 1);
  // The same outage is told once.
  const HistoryOutcome second = store->StoreArchiveRead(device, 3, {a, Separator, b}, true);
  EXPECT_FALSE(second.Ok);
  EXPECT_FALSE(second.Notify);
  EXPECT_EQ(second.Pending, 3);  // a reading and two records
  const auto coverage = store->Coverage(device);
  EXPECT_FALSE(coverage.Outcome.Ok);
  EXPECT_FALSE(coverage.Value.Covers(3));
  EXPECT_EQ(store->Flush().Pending, 3);  // the commit fails again, nothing lost

  refuse = false;
  const HistoryOutcome back = store->Flush();
  EXPECT_TRUE(back.Ok);
  EXPECT_TRUE(back.Recovered);
  EXPECT_EQ(back.Pending, 0);
  EXPECT_EQ(Places(Archive(*store, device)), (std::vector<RecordAt>{{1, 0, a}, {2, 2, b}}));
  EXPECT_EQ(Readings(*store).size(), 1u);
  EXPECT_TRUE(store->Coverage(device).Value.Covers(3));

  // A new outage is told again.
  refuse = true;
  EXPECT_TRUE(store->AddReading(device, Reading(T0 + 1000, 0.1f)).Notify);
}

TEST_P(History, AStoreThatBreaksKeepsWhatWasReadUntilItWorksAgain) {
  auto store = Open();
  const auto device = TestInstrument();
  ASSERT_TRUE(store->AddReading(device, Reading(T0, 0.1f)).Ok);
  if (GetParam() == Engine::Postgres) {
    // A server that restarted since the last write is no outage.
    ASSERT_TRUE(
        ServerSql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
                  location_.Database + "'"));
    const HistoryOutcome quiet = store->AddReading(device, Reading(T0 + 500, 0.1f));
    EXPECT_TRUE(quiet.Ok) << quiet.Error.toStdString();
    EXPECT_FALSE(quiet.Notify);
  }
  Break();
  const HistoryOutcome failed = store->AddReading(device, Reading(T0 + 1000, 0.2f));
  EXPECT_FALSE(failed.Ok);
  EXPECT_TRUE(failed.Notify);
  EXPECT_EQ(failed.Pending, 1);
  // Within the wait the store does not try; asked to, it tries and fails.
  EXPECT_FALSE(store->AddReading(device, Reading(T0 + 2000, 0.3f)).Notify);
  const HistoryOutcome still = store->Flush();
  EXPECT_FALSE(still.Ok);
  EXPECT_FALSE(still.Notify);
  EXPECT_EQ(still.Pending, 2);
  Mend();
  const HistoryOutcome back = store->Flush();
  EXPECT_TRUE(back.Ok) << back.Error.toStdString();
  EXPECT_TRUE(back.Recovered);
  EXPECT_EQ(Readings(*store).size(), GetParam() == Engine::Postgres ? 4u : 3u);
}

TEST_P(History, AStoreThatCannotBeOpenedKeepsItemsAndAnExportLeavesTheOldFile) {
  if (GetParam() == Engine::Sqlite) {
    // A file where the history's folder should be: not even root can
    // create the folder.
    QFile blocker(dir_.path() + "/data");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  } else {
    ASSERT_TRUE(ServerSql("DROP DATABASE " + location_.Database));
  }
  auto store = Open();
  const auto device = TestInstrument();
  const HistoryOutcome failed = store->AddReading(device, Reading(T0, 0.1f));
  EXPECT_FALSE(failed.Ok);
  EXPECT_TRUE(failed.Notify);
  EXPECT_EQ(failed.Pending, 1);
  EXPECT_EQ(store->SchemaVersion(), -1);

  const QString csv = dir_.path() + "/readings.csv";
  QFile old(csv);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("old\r\n");
  old.close();
  const HistoryExportResult exported = ExportHistoryCsv(*store, {}, csv);
  EXPECT_FALSE(exported.Ok);
  EXPECT_FALSE(exported.Error.isEmpty());
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), "old\r\n");

  if (GetParam() == Engine::Sqlite) {
    ASSERT_TRUE(QFile::remove(dir_.path() + "/data"));
  } else {
    ASSERT_TRUE(ServerSql("CREATE DATABASE " + location_.Database));
  }
  EXPECT_TRUE(store->Flush().Recovered);
  EXPECT_EQ(Readings(*store).size(), 1u);
}

TEST_P(History, TheSchemaIsMadeOnFirstUseKeptOnReopenAndANewerOneIsLeftAlone) {
  const auto device = TestInstrument();
  {
    auto store = Open();
    EXPECT_EQ(store->SchemaVersion(), 2);
    ASSERT_TRUE(store->AddReading(device, Reading(T0, 0.1f)).Ok);
  }
  {
    auto store = Open();
    EXPECT_EQ(store->SchemaVersion(), 2);
    EXPECT_EQ(Readings(*store).size(), 1u);
  }
  QVariant versions;
  ASSERT_TRUE(RawSql(location_, "SELECT COUNT(*) FROM schema_version", &versions));
  EXPECT_EQ(versions.toInt(), 2);

  ASSERT_TRUE(RawSql(location_, "INSERT INTO schema_version VALUES (99, 0)"));
  auto store = Open();
  const HistoryOutcome refused = store->AddReading(device, Reading(T0 + 1000, 0.2f));
  EXPECT_FALSE(refused.Ok);
  EXPECT_TRUE(refused.Error.contains("newer")) << refused.Error.toStdString();
  EXPECT_EQ(refused.Pending, 1);
  QVariant readings;
  ASSERT_TRUE(RawSql(location_, "SELECT COUNT(*) FROM readings", &readings));
  EXPECT_EQ(readings.toInt(), 1);
}

// A history made by the first version of the program, as it made it: it is
// brought up to date on first use and keeps everything, its readings of
// whole seconds beside new ones of any millisecond.
TEST_P(History, ADatabaseOfTheFirstSchemaIsBroughtUpToDateAndKeepsWhatItHolds) {
  const bool lite = GetParam() == Engine::Sqlite;
  if (lite) {
    QDir().mkpath(dir_.path() + "/data");
  }
  const QString id =
      lite ? "INTEGER PRIMARY KEY" : "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
  const QString bytes = lite ? "BLOB" : "BYTEA";
  const QString f32 = lite ? "INTEGER" : "REAL";
  const QString first[] = {
      "CREATE TABLE schema_version ( version INTEGER NOT NULL PRIMARY KEY, applied_ms BIGINT NOT "
      "NULL)",
      "CREATE TABLE instruments ( id " + id + ", device_type INTEGER NOT NULL, device_data " +
          bytes +
          " NOT NULL, firmware TEXT NOT NULL, first_seen_ms BIGINT NOT NULL, UNIQUE (device_type, "
          "device_data, firmware))",
      "CREATE TABLE archive_reads ( id " + id +
          ", instrument_id BIGINT NOT NULL REFERENCES instruments (id), started_ms BIGINT NOT "
          "NULL, finished_ms BIGINT, device_count BIGINT NOT NULL, positions BIGINT NOT NULL, "
          "complete INTEGER NOT NULL)",
      "CREATE INDEX archive_reads_instrument ON archive_reads (instrument_id)",
      "CREATE TABLE archive_records ( instrument_id BIGINT NOT NULL REFERENCES instruments (id), "
      "raw " +
          bytes +
          " NOT NULL, ordinal INTEGER NOT NULL, run BIGINT NOT NULL, position BIGINT NOT NULL, "
          "device_ms BIGINT, value " +
          (lite ? "REAL" : "DOUBLE PRECISION") +
          ", flags INTEGER NOT NULL, read_id BIGINT NOT NULL REFERENCES archive_reads (id), "
          "read_ms BIGINT NOT NULL, PRIMARY KEY (instrument_id, raw, ordinal))",
      "CREATE INDEX archive_records_order ON archive_records (instrument_id, run, position)",
      "CREATE TABLE readings ( instrument_id BIGINT NOT NULL, at_ms BIGINT NOT NULL, dose_rate " +
          f32 + ", mode INTEGER NOT NULL, uncertainty " + f32 + ", dose " + f32 +
          ", accumulation_s BIGINT NOT NULL, PRIMARY KEY (instrument_id, at_ms))" +
          (lite ? " WITHOUT ROWID" : ""),
      "CREATE TABLE events ( id " + id +
          ", instrument_id BIGINT NOT NULL REFERENCES instruments (id), at_ms BIGINT NOT NULL, "
          "kind TEXT NOT NULL, actor TEXT NOT NULL, device_ms BIGINT, drift_s BIGINT, "
          "record_count BIGINT, UNIQUE (instrument_id, at_ms, kind))",
      "CREATE TABLE event_changes ( event_id BIGINT NOT NULL REFERENCES events (id), seq INTEGER "
      "NOT NULL, member INTEGER NOT NULL, name TEXT NOT NULL, old_value TEXT NOT NULL, new_value "
      "TEXT NOT NULL, PRIMARY KEY (event_id, seq))",
      "INSERT INTO schema_version VALUES (1, 1767225600000)",
      // TestInstrument(1), a reading of 0.1 uSv/h at a whole second, a
      // complete read of TestRecord(0.11f, 0, 1), a dose reset.
      "INSERT INTO instruments (device_type, device_data, firmware, first_seen_ms) VALUES (7, " +
          QString(lite ? "x'01000000000000000000000000000000000000a5'"
                       : "'\\x01000000000000000000000000000000000000a5'::bytea") +
          ", 'ДКС v1.2', 1767225600000)",
      "INSERT INTO readings VALUES (1, 1767225601000, " + QString(lite ? "1036831949" : "0.1") +
          ", 0, " + (lite ? "1089470464" : "7.5") + ", " + (lite ? "1094975488" : "12.25") +
          ", 3600)",
      "INSERT INTO archive_reads (instrument_id, started_ms, finished_ms, device_count, positions, "
      "complete) VALUES (1, 1767225602000, 1767225603000, 1, 1, 1)",
      "INSERT INTO archive_records VALUES (1, " +
          QString(lite ? "x'ae47e13d0019e981c0'" : "'\\xae47e13d0019e981c0'::bytea") +
          ", 0, 1, 0, 1762495260000, 0.11, 0, 1, 1767225602500)",
      "INSERT INTO events (instrument_id, at_ms, kind, actor) VALUES (1, 1767225604000, "
      "'dose_reset', 'tester@bench')",
  };
  for (const QString& statement : first) {
    ASSERT_TRUE(RawSql(location_, statement));
  }

  auto store = Open();
  const auto device = TestInstrument();
  EXPECT_EQ(store->SchemaVersion(), 2);
  ASSERT_TRUE(store->AddReading(device, Reading(T0 + 1250, 0.2f)).Ok);
  const auto readings = Readings(*store);
  ASSERT_EQ(readings.size(), 2u);
  EXPECT_EQ(readings[0].Reading, Reading(T0 + 1000, 0.1f));
  EXPECT_EQ(readings[1].Reading, Reading(T0 + 1250, 0.2f));
  EXPECT_EQ(Places(Archive(*store, device)),
            (std::vector<RecordAt>{{1, 0, TestRecord(0.11f, 0, 1)}}));
  EXPECT_TRUE(store->Coverage(device).Value.Covers(1));
  // Reading the same archive again adds nothing to what the old one holds.
  ASSERT_TRUE(store->StoreArchiveRead(device, 1, {TestRecord(0.11f, 0, 1)}, true).Ok);
  EXPECT_EQ(store->ArchiveRecordCount(device).Value, 1);
  int events = 0;
  store->VisitEvents(device, {}, [&events](const StoredEvent& e) {
    events += e.Event.Kind == EventKind::DoseReset ? 1 : 0;
    return true;
  });
  EXPECT_EQ(events, 1);
}

TEST_P(History, ExportedCsvReadsBackAsStored) {
  auto store = Open();
  const auto device = TestInstrument();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ASSERT_TRUE(store->AddReading(device, Reading(T0 + 1500, 0.11f)).Ok);
  ASSERT_TRUE(store->AddReading(device, Reading(T0 + 2000, nan, 1)).Ok);
  ASSERT_TRUE(store->AddReading(device, Reading(T0 + 9000, 1.0f)).Ok);  // out of range
  ArchiveBytes undated{};
  undated[0] = 0x01;  // a value and no date
  now_ = T0 + 6000;
  ASSERT_TRUE(store
                  ->StoreArchiveRead(
                      device, 4,
                      {TestRecord(1234.5f, 5, 1, 2), Separator, undated, TestRecord(0.05f, 0, 3)},
                      true)
                  .Ok);
  HistoryEvent write;
  write.Kind = EventKind::ServiceWrite;
  write.AtMs = T0;
  write.Changes = {{8, "Напряжение разряженного аккумулятора, В", "3.3", "3.25"},
                   {9, "Say \"hi\"", "", "x"}};
  ASSERT_TRUE(store->AddEvent(device, write).Ok);
  HistoryEvent reset;
  reset.Kind = EventKind::DoseReset;
  reset.AtMs = T0 + 60000;
  ASSERT_TRUE(store->AddEvent(device, reset).Ok);

  const QString instrument = "7:01000000000000000000000000000000000000a5";
  const QString firmware = "ДКС v1.2";
  auto exportAs = [&](HistoryExportKind what, TimeRange range) {
    HistoryExportRequest request;
    request.What = what;
    request.Range = range;
    request.Zone = Moscow;
    const QString path = dir_.path() + "/export.csv";
    const HistoryExportResult result = ExportHistoryCsv(*store, request, path);
    EXPECT_TRUE(result.Ok) << result.Error.toStdString();
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    QList<QStringList> rows = ParseCsv(QString::fromUtf8(file.readAll()));
    EXPECT_EQ(result.Rows, rows.size() - 1);
    return rows;
  };

  const QList<QStringList> readings = exportAs(HistoryExportKind::Readings, {T0, T0 + 9000});
  const QList<QStringList> expectedReadings = {
      {"instrument", "firmware", "time", "dose rate", "dose rate unit", "mode", "uncertainty (%)",
       "dose (uSv)", "accumulation time (s)"},
      {instrument, firmware, "2026-01-01T03:00:01.500+03:00", "0.11", "uSv/h", "0", "7.5", "12.25",
       "3600"},
      {instrument, firmware, "2026-01-01T03:00:02+03:00", "", "1/(min*cm2)", "1", "7.5", "12.25",
       "3600"}};
  EXPECT_EQ(readings, expectedReadings);

  const QList<QStringList> archive = exportAs(HistoryExportKind::Archive, {});
  const QList<QStringList> expectedArchive = {
      {"instrument", "firmware", "run", "position", "time", "dose rate (uSv/h)", "flags",
       "threshold exceeded", "read at", "raw"},
      {instrument, firmware, "1", "0", "2025-11-07T09:01:02+03:00", "1234.5", "5", "true",
       "2026-01-01T03:00:06+03:00", "00509a440519e981c2"},
      {instrument, firmware, "2", "2", "", "1e-45", "0", "false", "2026-01-01T03:00:06+03:00",
       "010000000000000000"},
      {instrument, firmware, "2", "3", "2025-11-07T09:03:00+03:00", "0.05", "0", "false",
       "2026-01-01T03:00:06+03:00", "cdcc4c3d0019e983c0"}};
  EXPECT_EQ(archive, expectedArchive);

  const QList<QStringList> events = exportAs(HistoryExportKind::Events, {T0, T0 + 61000});
  const QList<QStringList> expectedEvents = {
      {"instrument", "firmware", "time", "event", "by", "instrument time", "drift (s)",
       "record count", "member", "name", "old value", "new value"},
      {instrument, firmware, "2026-01-01T03:00:00+03:00", "service_write", "tester@bench", "", "",
       "", "8", "Напряжение разряженного аккумулятора, В", "3.3", "3.25"},
      {instrument, firmware, "2026-01-01T03:00:00+03:00", "service_write", "tester@bench", "", "",
       "", "9", "Say \"hi\"", "", "x"},
      {instrument, firmware, "2026-01-01T03:01:00+03:00", "dose_reset", "tester@bench", "", "", "",
       "", "", "", ""}};
  EXPECT_EQ(events, expectedEvents);
}

TEST_P(History, AKilledWriterLeavesEveryCommittedBatchAndNothingOfTheRest) {
  QProcess writer;
  writer.start(QStringLiteral(HISTORY_WRITER), {location_.Text()});
  ASSERT_TRUE(writer.waitForFinished(60000));
  EXPECT_EQ(writer.exitStatus(), QProcess::CrashExit) << writer.exitCode();

  auto store = Open();
  const auto device = TestInstrument();
  EXPECT_EQ(store->ArchiveRecordCount(device).Value, 2 * test::CrashTestBatch);
  EXPECT_FALSE(store->Coverage(device).Value.Records.has_value());
  std::vector<ArchiveBytes> all(test::CrashTestRecords);
  for (int i = 0; i < test::CrashTestRecords; ++i) {
    all[i] = test::CrashTestRecord(i);
  }
  ASSERT_TRUE(store->StoreArchiveRead(device, test::CrashTestRecords, all, true).Ok);
  EXPECT_EQ(store->ArchiveRecordCount(device).Value, test::CrashTestRecords);
  EXPECT_TRUE(store->Coverage(device).Value.Covers(test::CrashTestRecords));
}

INSTANTIATE_TEST_SUITE_P(Engines, History, ::testing::Values(Engine::Sqlite, Engine::Postgres),
                         [](const ::testing::TestParamInfo<Engine>& info) {
                           return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
                         });

}  // namespace
