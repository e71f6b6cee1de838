// Reading the archive over a line that loses and spoils replies: the
// instrument moves on with every read it answers, so the read must get every
// record into its own slot anyway. In-memory line, manual clock.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
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
    std::set<int64_t> seen;
    const HistoryOutcome visited =
        store.VisitArchive(IdentityOf(link.Values()), {}, [&](const StoredArchiveRecord& r) {
          EXPECT_TRUE(seen.insert(r.Position).second) << context << ": a position kept twice";
          EXPECT_LT(r.Position, static_cast<int64_t>(truth.size())) << context;
          if (r.Position < static_cast<int64_t>(truth.size())) {
            EXPECT_EQ(r.Raw, BytesOf(truth[static_cast<size_t>(r.Position)]))
                << context << ", position " << r.Position;
          }
          return true;
        });
    EXPECT_TRUE(visited.Ok) << visited.Error.toStdString();
    // Every record placed is kept, equal ones too (separators are no
    // records there).
    const auto placed = std::count_if(read.Slots.begin(), read.Slots.end(), [](const auto& slot) {
      return slot.has_value() && !slot->IsSeparator();
    });
    EXPECT_GE(seen.size(), static_cast<size_t>(placed)) << context;
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

// The archive as the field makes it: readings in steps of 0.01 uSv/h and the
// clock set back an hour half way (the end of summer time, then a clock
// sync), so the second hour names the first hour's moments again and some
// of its records equal earlier ones byte for byte. Position comes from the
// line: equal records are records like any other.
constexpr sim::ArchiveShape SummerTime{0.01, 3600};

int RepeatedRecords(const std::vector<ArchiveRecordValue>& archive) {
  int repeated = 0;
  for (size_t i = 0; i < archive.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (!sim::IsSeparator(archive[i]) && sim::SameRecord(archive[i], archive[j])) {
        ++repeated;
        break;
      }
    }
  }
  return repeated;
}

TEST_F(ArchiveReadOverALossyLine, AnArchiveThatRepeatsItselfIsReadWholeInOnePassOnACleanLine) {
  for (const uint32_t seed : {1U, 2U, 3U}) {
    model.SetSeed(seed);
    model.PrefillArchive(120, 1, SummerTime);
    ASSERT_GT(RepeatedRecords(model.Archive()), 3) << "the archive repeats records";
    const std::string context = "seed " + std::to_string(seed);
    const ArchiveReadResult read = ReadKeepingHistory(120, context);
    ExpectEveryRecordInItsSlot(read);
    EXPECT_EQ(read.Missing, 0) << context;
    EXPECT_EQ(read.Passes, 1) << context;
    EXPECT_EQ(read.Retried, 0) << context;
  }
}

class RepeatingArchiveRecovered : public ArchiveReadOverALossyLine,
                                  public ::testing::WithParamInterface<Damage> {};

TEST_P(RepeatingArchiveRecovered, WhateverHappensToTheReplies) {
  for (const uint32_t seed : {1U, 2U, 3U}) {
    model.SetSeed(seed);
    model.PrefillArchive(600, 2, SummerTime);
    model.ClearFaults();
    model.InjectFault({GetParam().Kind, IdArchive, sim::EveryReply, GetParam().Share});
    const std::string context = "seed " + std::to_string(seed);
    const ArchiveReadResult read = ReadKeepingHistory(600, context);
    EXPECT_EQ(read.Missing, 0) << context;
    ExpectNoRecordOutOfItsSlot(read, context);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RepeatingArchiveRecovered,
    ::testing::Values(Damage{Fault::Garble, 0.10}, Damage{Fault::Cut, 0.10},
                      Damage{Fault::StrayByte, 0.10}, Damage{Fault::ErrorReply, 0.10},
                      Damage{Fault::Silence, 0.05}, Damage{Fault::LostReply, 0.10},
                      Damage{Fault::BareAck, 0.10}, Damage{Fault::OtherVariable, 0.10},
                      Damage{Fault::OtherVariableActedOn, 0.10}));

// What each fault costs: a late reply only its lateness, an answer that is
// no record about one request and what stays uncertain read again, never
// a pass after pass.
// Bare acknowledgements and lost replies together: each leaves the place of
// what follows uncertain by a slot, so a pass that meets one just where the
// known records end is adrift. Such a pass starts again at once instead of
// reading on; passes that place nothing used to end the read with most of the
// archive unread (one seed in fourteen).
TEST_F(ArchiveReadOverALossyLine, APassAdriftWhereTheKnownRecordsEndStartsAgainAndTheReadFinishes) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    model.SetSeed(seed);
    model.PrefillArchive(120, 1, SummerTime);
    model.ClearFaults();
    model.InjectFault({Fault::BareAck, IdArchive, sim::EveryReply, 0.1});
    model.InjectFault({Fault::LostReply, IdArchive, sim::EveryReply, 0.05});
    const ArchiveReadResult read = ReadArchive(link, 120, {});
    const std::string context = "seed " + std::to_string(seed);
    ASSERT_EQ(read.Missing, 0) << context << ", passes " << read.Passes;
    EXPECT_FALSE(read.Stalled) << context;
    ExpectEveryRecordInItsSlot(read);
  }
}

TEST_F(ArchiveReadOverALossyLine, RepliesLateBeyondTheLinksBoundStillFinishInAboutOneTransfer) {
  for (const int ms : {300, 600, 1000}) {
    model.SetSeed(5);
    model.PrefillArchive(1350, 5);
    model.ClearFaults();
    sim::FaultRule rule{Fault::Late, IdArchive, sim::EveryReply, 0.05};
    rule.Delay = std::chrono::milliseconds(ms);
    model.InjectFault(rule);
    const ArchiveReadResult read = ReadArchive(link, 1350, {});
    const std::string context = std::to_string(ms) + " ms late";
    EXPECT_EQ(read.Missing, 0) << context;
    ExpectEveryRecordInItsSlot(read);
    // The read learns how late the instrument is and then waits for it: all
    // but the first few late replies answer their own request.
    EXPECT_LE(read.Passes, 2) << context;
    EXPECT_LT(read.Requests, 1350 * 13 / 10) << context;
  }
}

TEST_F(ArchiveReadOverALossyLine, AnswersThatAreNoRecordCostAFewTransfersNotPassAfterPass) {
  for (const Fault kind : {Fault::BareAck, Fault::OtherVariable, Fault::ErrorReply}) {
    model.SetSeed(9);
    model.PrefillArchive(1350, 5);
    model.ClearFaults();
    model.InjectFault({kind, IdArchive, sim::EveryReply, 0.05});
    const ArchiveReadResult read = ReadArchive(link, 1350, {});
    EXPECT_EQ(read.Missing, 0);
    ExpectEveryRecordInItsSlot(read);
    // Only where both passes met such an answer within a slot of each other
    // does the place stay open for a third.
    EXPECT_LE(read.Passes, 4);
    EXPECT_LT(read.Requests, 1350 * 7 / 2);
    // The repeat count is what was asked beyond one read per record.
    EXPECT_EQ(read.Retried, read.Requests - 1350);
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

// Records that came but whose place the line left open are told apart from
// records that never came, and a read that cannot gain ends.
TEST(ArchiveAssemblerPlaces, RecordsAfterAnUncertainStepOnlyWhereTheLineOrKnownRecordsSay) {
  std::vector<ArchiveRecord> r(6);
  for (size_t i = 0; i < r.size(); ++i) {
    r[i].Bytes[0] = static_cast<uint8_t>(0x10 + i);
    r[i].Bytes[8] = 0x05;
  }
  ArchiveAssembler assembler(6);
  assembler.BeginPass();
  EXPECT_TRUE(assembler.Take(RecordAttempt::Record, &r[0]));
  EXPECT_TRUE(assembler.Take(RecordAttempt::Nothing));
  // The instrument stayed: r1 and on follow, though the line cannot tell.
  for (size_t i = 1; i < 6; ++i) {
    assembler.Take(RecordAttempt::Record, &r[i]);
  }
  assembler.EndPass();
  EXPECT_EQ(assembler.Known(), 1);
  EXPECT_EQ(assembler.Unplaced(), 5);

  // A second pass on which the line is sure places slots directly, and with
  // them the first pass's records. r1 may have been the late answer to the
  // request that heard nothing, and the answer after it lost unseen: until
  // slot 3 is known, r2 may be slot 3's record. Then the rest is known
  // without reading it.
  assembler.BeginPass();
  int reads = 0;
  for (bool more = true; more && reads < 6; ++reads) {
    more = assembler.Take(RecordAttempt::Record, &r[static_cast<size_t>(reads)]);
  }
  EXPECT_EQ(reads, 4);
  EXPECT_EQ(assembler.Known(), 6);
  EXPECT_TRUE(assembler.Complete());
  EXPECT_EQ(assembler.Unplaced(), 0);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(assembler.Slots()[i]->Bytes, r[i].Bytes) << "slot " << i;
  }
}

TEST(ArchiveAssemblerPlaces, EqualRecordsOnEitherSideOfAnUncertainStepAreKeptWhereTheyAgree) {
  // Eight equal records (a reading that did not change, a clock that stood
  // still): whether the instrument moved on after the failed read or not,
  // slots 2 to 7 hold the same bytes either way. Slot 1 holds them only if
  // it did not, so it stays open.
  ArchiveRecord same;
  same.Bytes[0] = 0x42;
  same.Bytes[8] = 0x05;
  ArchiveAssembler assembler(8);
  assembler.BeginPass();
  assembler.Take(RecordAttempt::Record, &same);
  assembler.Take(RecordAttempt::NoRecord);
  for (int i = 0; i < 7; ++i) {
    assembler.Take(RecordAttempt::Record, &same);
  }
  assembler.EndPass();
  EXPECT_EQ(assembler.Known(), 7);
  EXPECT_FALSE(assembler.Slots()[1].has_value());
  for (size_t i = 2; i < 8; ++i) {
    EXPECT_EQ(assembler.Slots()[i]->Bytes, same.Bytes) << "slot " << i;
  }
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
