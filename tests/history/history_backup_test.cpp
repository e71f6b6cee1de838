// A backup of the SQLite history taken while another connection goes on
// writing: one file, whole, that opens alone and holds every reading
// committed before it began, as one consistent run of them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "CoreApplication.h"
#include "HistoryBackup.h"
#include "HistoryStore.h"
#include "HistoryTestData.h"

namespace vantor {
namespace {

constexpr int64_t T0 = 1767225600000;  // 2026-01-01T00:00:00Z

LiveReading ReadingNumber(int64_t i) {
  return {T0 + i * 1000,           0.1f + static_cast<float>(i % 100) / 1000, 0, 7.5f, 1.25f,
          static_cast<uint32_t>(i)};
}

// Every reading of the file, in order, read with nothing beside it.
std::vector<LiveReading> ReadingsOf(const QString& file) {
  HistoryOptions options;
  options.ReadOnly = true;
  HistoryStore store(ParseHistoryLocation(file), options);
  std::vector<LiveReading> readings;
  const HistoryOutcome outcome =
      store.VisitReadings(std::nullopt, {}, [&readings](const StoredReading& stored) {
        readings.push_back(stored.Reading);
        return true;
      });
  EXPECT_TRUE(outcome.Ok) << outcome.Error.toStdString();
  return readings;
}

class HistoryBackupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureCoreApplication(); }
  QTemporaryDir dir_;
  QString history_ = dir_.filePath("history.sqlite");
};

TEST_F(HistoryBackupTest, ACopyTakenWhileAnotherConnectionWritesHoldsEveryCommittedReading) {
  std::atomic<int64_t> committed{0};
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    HistoryStore store(ParseHistoryLocation(history_));
    for (int64_t i = 0; !stop.load(); ++i) {
      if (!store.AddReading(test::TestInstrument(), ReadingNumber(i)).Ok || !store.Flush().Ok) {
        ADD_FAILURE() << "the writer failed at reading " << i;
        return;
      }
      committed.store(i + 1);
    }
  });
  while (committed.load() < 200) {
    std::this_thread::yield();
  }
  const QString backup = dir_.filePath("backup.sqlite");
  const int64_t before = committed.load();
  const HistoryBackupResult result = BackUpHistory(ParseHistoryLocation(history_), backup);
  const int64_t after = committed.load();
  stop.store(true);
  writer.join();
  ASSERT_TRUE(result.Ok) << result.Error.toStdString();
  EXPECT_FALSE(QFile::exists(backup + ".part"));
  EXPECT_FALSE(QFile::exists(backup + "-wal"));

  // Alone in a folder of its own.
  QTemporaryDir elsewhere;
  const QString alone = elsewhere.filePath("alone.sqlite");
  ASSERT_TRUE(QFile::copy(backup, alone));
  const std::vector<LiveReading> kept = ReadingsOf(alone);
  EXPECT_GE(static_cast<int64_t>(kept.size()), before);
  EXPECT_LE(static_cast<int64_t>(kept.size()), after + 1);
  for (size_t i = 0; i < kept.size(); ++i) {
    ASSERT_EQ(kept[i], ReadingNumber(static_cast<int64_t>(i))) << "reading " << i;
  }
  // The history itself goes on, with everything the writer committed.
  EXPECT_EQ(static_cast<int64_t>(ReadingsOf(history_).size()), committed.load());
}

TEST_F(HistoryBackupTest, ABackupReplacesTheFileOnlyWhenWholeAndRefusesWhatItCannotCopy) {
  {
    HistoryStore store(ParseHistoryLocation(history_));
    ASSERT_TRUE(store.AddReading(test::TestInstrument(), ReadingNumber(0)).Ok);
    ASSERT_TRUE(store.Flush().Ok);
  }
  const QString backup = dir_.filePath("backup.sqlite");
  {
    QFile old(backup);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older backup");
  }
  ASSERT_TRUE(BackUpHistory(ParseHistoryLocation(history_), backup).Ok);
  EXPECT_EQ(ReadingsOf(backup).size(), 1u);

  // Into a folder that is not there: the error says so, nothing is left.
  const QString nowhere = dir_.filePath("no-such-folder/backup.sqlite");
  const HistoryBackupResult failed = BackUpHistory(ParseHistoryLocation(history_), nowhere);
  EXPECT_FALSE(failed.Ok);
  EXPECT_FALSE(failed.Error.isEmpty());
  EXPECT_FALSE(QFile::exists(nowhere + ".part"));
  // Onto the history itself, and from a history that is not there.
  EXPECT_FALSE(BackUpHistory(ParseHistoryLocation(history_), history_).Ok);
  EXPECT_EQ(ReadingsOf(history_).size(), 1u);
  const HistoryBackupResult missing =
      BackUpHistory(ParseHistoryLocation(dir_.filePath("none.sqlite")), backup);
  EXPECT_FALSE(missing.Ok);
  EXPECT_TRUE(missing.Error.contains("no history")) << missing.Error.toStdString();
  EXPECT_FALSE(QFile::exists(dir_.filePath("none.sqlite")));

  // A shared history is the server's to back up.
  const HistoryBackupResult shared =
      BackUpHistory(ParseHistoryLocation("postgresql://vantor@db.example/vantor"), backup);
  EXPECT_FALSE(shared.Ok);
  EXPECT_TRUE(shared.NotSqlite);
  EXPECT_TRUE(shared.Error.contains("pg_dump")) << shared.Error.toStdString();
}

}  // namespace
}  // namespace vantor
