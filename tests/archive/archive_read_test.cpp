// Reading the archive over a line that loses and spoils replies: the
// instrument moves on with every read it answers, so the read must get every
// record into its own slot anyway. In-memory line, manual clock.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <mutex>
#include <set>
#include <string>

#include "ArchiveHistory.h"
#include "ArchiveRead.h"
#include "CoreApplication.h"
#include "DeviceLink.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "MemoryLine.h"

namespace vantor {
namespace {

using sim::Fault;

class ArchiveReadOverALossyLine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureCoreApplication(); }
  void SetUp() override { test::ConnectToModel(link, model); }

  // Reads into a history of its own, which must keep each record it got
  // once, under the record's own position.
  ArchiveReadResult ReadKeepingHistory(int count, const std::string& context) {
    QTemporaryDir dir;
    const HistoryLocation location = ParseHistoryLocation(dir.filePath("history.sqlite"));
    ArchiveReadResult read;
    {
      HistoryService service(location);
      read = ReadArchive(link, count, HistorySink{&service}, {});
      EXPECT_TRUE(service.Close()) << context;
    }
    HistoryStore store(location);
    const auto& truth = model.Archive();
    std::set<ArchiveBytes> seen;
    const HistoryOutcome visited =
        store.VisitArchive(IdentityOf(link.Values()), {}, [&](const StoredArchiveRecord& r) {
          EXPECT_TRUE(seen.insert(r.Raw).second) << context << ": a record kept twice";
          EXPECT_LT(r.Position, static_cast<int64_t>(truth.size())) << context;
          if (r.Position < static_cast<int64_t>(truth.size())) {
            EXPECT_EQ(r.Raw, BytesOf(truth[static_cast<size_t>(r.Position)]))
                << context << ", position " << r.Position;
          }
          return true;
        });
    EXPECT_TRUE(visited.Ok) << visited.Error.toStdString();
    return read;
  }

  // Whatever a slot holds is the instrument's record of that position, and
  // no record is in two slots.
  void ExpectNoRecordOutOfItsSlot(const ArchiveReadResult& read, const std::string& context) {
    const auto& truth = model.Archive();
    ASSERT_EQ(read.Slots.size(), truth.size()) << context;
    int known = 0;
    for (size_t i = 0; i < truth.size(); ++i) {
      if (read.Slots[i]) {
        ++known;
        ASSERT_EQ(read.Slots[i]->Bytes, ArchiveRecord::From(truth[i]).Bytes)
            << context << ", slot " << i;
      }
    }
    EXPECT_EQ(read.Missing, static_cast<int>(truth.size()) - known) << context;
  }

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

// Replies that come later than the link waits for, from an instrument that
// answers one request after the other: a late reply holds up the replies
// after it and lands inside a later exchange, where it looks like that
// exchange's own answer.
class LateReplies : public ArchiveReadOverALossyLine,
                    public ::testing::WithParamInterface<int /* ms late */> {};

TEST_P(LateReplies, NeverPutARecordInAnotherSlot) {
  const auto late = std::chrono::milliseconds(GetParam());
  for (const uint32_t seed : {1U, 2U, 3U, 4U}) {
    model.SetSeed(seed);
    model.PrefillArchive(200, 3);
    model.ClearFaults();
    sim::FaultRule rule{Fault::Late, IdArchive, sim::EveryReply, 0.1};
    rule.Delay = late;
    model.InjectFault(rule);
    const std::string context = "seed " + std::to_string(seed);
    ExpectNoRecordOutOfItsSlot(ReadKeepingHistory(200, context), context);
  }
}

INSTANTIATE_TEST_SUITE_P(Lateness, LateReplies, ::testing::Values(300, 600, 1000));

TEST_F(ArchiveReadOverALossyLine, OccasionalRepliesLaterThanTheLinkWaitsStillGetEveryRecord) {
  for (const uint32_t seed : {1U, 2U, 3U}) {
    model.SetSeed(seed);
    model.PrefillArchive(200, 3);
    model.ClearFaults();
    sim::FaultRule rule{Fault::Late, IdArchive, sim::EveryReply, 0.1};
    rule.Delay = std::chrono::milliseconds(300);
    model.InjectFault(rule);
    const ArchiveReadResult read = ReadArchive(link, 200, {});
    EXPECT_EQ(read.Missing, 0) << "seed " << seed;
    ExpectEveryRecordInItsSlot(read);
  }
}

// Answers that are well-formed but no record: whether the instrument moved
// on cannot be told from them, so the records after them are placed only
// where the records themselves say.
struct NoRecord {
  Fault Kind;
  const char* Name;
};

class AnswersThatAreNoRecord : public ArchiveReadOverALossyLine,
                               public ::testing::WithParamInterface<NoRecord> {};

TEST_P(AnswersThatAreNoRecord, NeverShiftTheRecordsAfterThem) {
  for (const uint32_t seed : {1U, 2U, 3U}) {
    model.SetSeed(seed);
    model.PrefillArchive(300, 3);
    model.ClearFaults();
    model.InjectFault({GetParam().Kind, IdArchive, sim::EveryReply, 0.05});
    const std::string context = std::string(GetParam().Name) + ", seed " + std::to_string(seed);
    const ArchiveReadResult read = ReadKeepingHistory(300, context);
    ExpectNoRecordOutOfItsSlot(read, context);
    EXPECT_EQ(read.Missing, 0) << GetParam().Name << ", seed " << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AnswersThatAreNoRecord,
    ::testing::Values(NoRecord{Fault::BareAck, "bare acknowledgement, cursor kept"},
                      NoRecord{Fault::OtherVariable, "another variable, cursor kept"},
                      NoRecord{Fault::OtherVariableActedOn, "another variable, cursor moved"}),
    [](const auto& info) {
      return std::string(info.param.Kind == Fault::BareAck         ? "BareAck"
                         : info.param.Kind == Fault::OtherVariable ? "OtherVariableKept"
                                                                   : "OtherVariableMoved");
    });

TEST_F(ArchiveReadOverALossyLine, EveryFaultAtOnceMayLeaveSlotsEmptyButNoneWrong) {
  // A late reply followed by one lost on the line leaves no trace in the
  // exchanges; only what the records say shows the gap.
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    model.SetSeed(seed);
    model.PrefillArchive(600, 4);
    model.ClearFaults();
    for (const int ms : {300, 600, 1000}) {
      sim::FaultRule rule{Fault::Late, IdArchive, sim::EveryReply, 0.02};
      rule.Delay = std::chrono::milliseconds(ms);
      model.InjectFault(rule);
    }
    for (const Fault f :
         {Fault::LostReply, Fault::Silence, Fault::Garble, Fault::Cut, Fault::StrayByte,
          Fault::ErrorReply, Fault::BareAck, Fault::OtherVariable, Fault::OtherVariableActedOn}) {
      model.InjectFault({f, IdArchive, sim::EveryReply, 0.02});
    }
    const std::string context = "seed " + std::to_string(seed);
    const ArchiveReadResult read = ReadKeepingHistory(600, context);
    ExpectNoRecordOutOfItsSlot(read, context);
  }
}

TEST_F(ArchiveReadOverALossyLine, AClockSetWithinARunDoesNotKeepTheReadFromFinishing) {
  // One run whose clock was put forward an hour at record 150 and back half
  // an hour at record 220, as a clock correction does: records out of step
  // make their place uncertain, they do not stop the read.
  std::vector<ArchiveRecordValue> records;
  int64_t at = sim::CivilSeconds({2025, 3, 1, 8, 0, 0});
  for (int i = 0; i < 300; ++i) {
    at += i == 150 ? 3600 : i == 220 ? -1800 : 60;
    records.push_back(
        sim::MakeArchiveRecord(0.1F + 0.001F * static_cast<float>(i % 97), 0, sim::CivilTime(at)));
  }
  for (const uint32_t seed : {1U, 2U, 3U}) {
    model.SetSeed(seed);
    model.SetArchive(records);
    model.ClearFaults();
    model.InjectFault({Fault::LostReply, IdArchive, sim::EveryReply, 0.1});
    const ArchiveReadResult read = ReadArchive(link, 300, {});
    ExpectNoRecordOutOfItsSlot(read, "seed " + std::to_string(seed));
    EXPECT_EQ(read.Missing, 0) << "seed " << seed;
  }
}

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
