// Reading the archive over a line that loses and spoils replies: the
// instrument moves on with every read it answers, so the read must get every
// record into its own slot anyway. In-memory line, manual clock.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <mutex>

#include "ArchiveHistory.h"
#include "ArchiveRead.h"
#include "CoreApplication.h"
#include "DeviceLink.h"
#include "MemoryLine.h"

namespace vantor {
namespace {

using sim::Fault;

class ArchiveReadOverALossyLine : public ::testing::Test {
 protected:
  void SetUp() override { test::ConnectToModel(link, model); }

  // Every slot holds the instrument's record of that position.
  void ExpectEveryRecordInItsSlot(const ArchiveReadResult& read) {
    const auto& truth = model.Archive();
    ASSERT_EQ(read.Slots.size(), truth.size());
    for (size_t i = 0; i < truth.size(); ++i) {
      ASSERT_TRUE(read.Slots[i].has_value()) << "slot " << i;
      ASSERT_EQ(read.Slots[i]->Bytes, ArchiveRecord::From(truth[i]).Bytes) << "slot " << i;
    }
  }

  sim::InstrumentModel model;
  DeviceLink link;
};

struct Damage {
  Fault Kind;
  double Share;
};

class EveryRecordRecovered : public ArchiveReadOverALossyLine,
                             public ::testing::WithParamInterface<Damage> {};

TEST_P(EveryRecordRecovered, WhateverHappensToTheReplies) {
  for (const uint32_t seed : {1U, 2U, 3U}) {
    model.SetSeed(seed);
    model.PrefillArchive(1350, 5);
    model.ClearFaults();
    model.InjectFault({GetParam().Kind, IdArchive, sim::EveryReply, GetParam().Share});
    int calls = 0;
    const ArchiveReadResult read = ReadArchive(link, 1350, [&](int known, int count) {
      ++calls;
      EXPECT_LE(known, count);
    });
    EXPECT_EQ(read.Missing, 0) << "seed " << seed;
    EXPECT_FALSE(read.Lost);
    EXPECT_GT(read.Retried, 0);
    EXPECT_GE(calls, 1350 + read.Retried);  // progress after every attempt
    ExpectEveryRecordInItsSlot(read);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, EveryRecordRecovered,
                         ::testing::Values(Damage{Fault::Garble, 0.01}, Damage{Fault::Garble, 0.10},
                                           Damage{Fault::Cut, 0.10}, Damage{Fault::StrayByte, 0.10},
                                           Damage{Fault::ErrorReply, 0.10},
                                           Damage{Fault::Silence, 0.05},
                                           Damage{Fault::LostReply, 0.05},
                                           Damage{Fault::LostReply, 0.10}));

TEST_F(ArchiveReadOverALossyLine, ACleanLineReadsEachRecordOnceInOnePass) {
  model.PrefillArchive(300, 3);
  const ArchiveReadResult read = ReadArchive(link, 300, {});
  ExpectEveryRecordInItsSlot(read);
  EXPECT_EQ(read.Passes, 1);
  EXPECT_EQ(read.Retried, 0);
  EXPECT_EQ(model.RequestsSeen(IdArchive), 300U);
}

TEST_F(ArchiveReadOverALossyLine, AnEmptyArchiveGetsTheStartCommandAndNoRead) {
  const ArchiveReadResult read = ReadArchive(link, 0, {});
  EXPECT_TRUE(read.Slots.empty());
  EXPECT_EQ(model.RequestsSeen(IdArchive), 0U);
}

TEST_F(ArchiveReadOverALossyLine, AnInstrumentFallingSilentEndsTheReadKeepingWhatCame) {
  model.PrefillArchive(100);
  int attempts = 0;
  const ArchiveReadResult read = ReadArchive(link, 100, [&](int known, int) {
    if (++attempts == 40) {
      model.InjectFault({Fault::Silence});  // the cable comes out
    }
    EXPECT_LE(known, 40);
  });
  EXPECT_TRUE(read.Lost);
  EXPECT_EQ(read.Missing, 60);
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(read.Slots[static_cast<size_t>(i)].has_value());
  }
  // A silent instrument is given one retrying read's worth of attempts.
  EXPECT_EQ(read.Retried, DeviceLink::RetryAttempts);
}

TEST_F(ArchiveReadOverALossyLine, AStopEndsTheReadAfterTheCurrentRecordKeepingWhatCame) {
  model.PrefillArchive(100);
  int progress = 0;
  const ArchiveReadResult read = ReadArchive(
      link, 100, [&](int, int) { ++progress; }, [&] { return progress == 10; });
  EXPECT_TRUE(read.Stopped);
  EXPECT_FALSE(read.Lost);
  EXPECT_EQ(read.Passes, 1);
  EXPECT_EQ(model.RequestsSeen(IdArchive), 10U);
  EXPECT_EQ(read.Missing, 90);
  for (size_t i = 0; i < 10; ++i) {
    ASSERT_EQ(read.Slots[i]->Bytes, ArchiveRecord::From(model.Archive()[i]).Bytes);
  }
}

TEST_F(ArchiveReadOverALossyLine, AnEraseTellsTheCountItKnewAndARefusedOneKeepsTheArchive) {
  model.PrefillArchive(20);
  ASSERT_EQ(link.ReadVariable(IdMeasurement), 1);
  model.InjectFault({Fault::ErrorReply, IdCommand, 1});
  ArchiveErase erase = EraseArchive(link);
  EXPECT_FALSE(erase.Erased);
  EXPECT_EQ(model.Archive().size(), 20U);

  erase = EraseArchive(link);
  EXPECT_TRUE(erase.Erased);
  EXPECT_EQ(erase.RecordCount, 20U);
  EXPECT_TRUE(model.Archive().empty());
}

// The erase asks the history whether it holds every record, and waits no
// longer than its bound: a store busy past it (a server that is slow to
// answer) gets no erase.
TEST_F(ArchiveReadOverALossyLine, AnEraseTheHistoryDoesNotAnswerForInTimeErasesNothing) {
  test::EnsureCoreApplication();
  QTemporaryDir dir;
  HistoryService history(ParseHistoryLocation(dir.filePath("history.sqlite")));
  model.PrefillArchive(20);
  std::mutex busy;
  busy.lock();
  history.Ask<int>(
      [&busy](HistoryStore&) {
        const std::lock_guard wait(busy);
        return 0;
      },
      0);
  ArchiveEraseSteps steps;
  steps.HistoryWaitMs = 100;
  const ArchiveSafeErase erase = EraseArchive(link, HistorySink{&history}, steps);
  busy.unlock();
  EXPECT_EQ(erase.Result, ArchiveSafeErase::Outcome::Unanswered);
  EXPECT_EQ(erase.History.Error, "the history did not answer within 0.1 s");
  EXPECT_EQ(model.Archive().size(), 20U);
  EXPECT_EQ(model.WritesSeen(IdCommand), 0U) << "no command went to the instrument";
}

TEST_F(ArchiveReadOverALossyLine, RecordsThatCannotBePlacedAreCountedMissingNotGuessed) {
  // Every read of one run's records spoilt on every pass: those slots stay
  // empty, the others are read, and the number of passes is bounded.
  model.PrefillArchive(40);
  model.InjectFault({Fault::LostReply, IdArchive, sim::EveryReply, 0.5});
  const ArchiveReadResult read = ReadArchive(link, 40, {});
  EXPECT_LE(read.Passes, MaxArchivePasses);
  int known = 0;
  const auto& truth = model.Archive();
  for (size_t i = 0; i < truth.size(); ++i) {
    if (read.Slots[i]) {
      ++known;
      EXPECT_EQ(read.Slots[i]->Bytes, ArchiveRecord::From(truth[i]).Bytes) << "slot " << i;
    }
  }
  EXPECT_EQ(read.Missing, 40 - known);
}

}  // namespace
}  // namespace vantor
