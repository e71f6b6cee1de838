// The archive tab with a history, against the virtual instrument on a real
// pseudo-terminal: what the buttons read ends up in the history once, an
// unplug keeps what came before it, and the erase loses nothing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <map>
#include <memory>

#include "ArchivePage.h"
#include "HistoryService.h"
#include "LinkOutcome.h"
#include "MessageTable.h"
#include "PageFixture.h"
#include "StringGrid.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"
#include "WidgetApplication.h"

namespace vantor {
namespace {

constexpr int Port = 4;

class ArchiveHistoryE2e : public test::PageFixture {
 protected:
  static void SetUpTestSuite() { test::EnsureApplication(); }

  void SetUp() override {
    ASSERT_TRUE(sim.PinAs(Port));
    sim.SetFirmware("VNT-2 v1.07");
    Wire(session);
    ASSERT_TRUE(Open(session, Port));
    Look(&page);
    // Identified as at connection time: variables 3, 12 and 10.
    for (const uint8_t id : {IdService, IdDeviceData, IdFirmware}) {
      ASSERT_EQ(test::OnLine(session, [&](DeviceLink& line) { return int(line.ReadVariable(id)); }),
                1);
    }
    service = std::make_unique<HistoryService>(location);
    Use(*service);
    page.ComputeArchiveLayout();
  }

  void Use(HistoryService& history) {
    history.OnOutcome = [this](const HistoryOutcome& outcome) {
      notices += outcome.Notify ? 1 : 0;
    };
    session.History = &history;
  }
  // Lets the history write what it was handed and tell its outcomes.
  void SettleHistory() {
    ASSERT_TRUE(session.History->WaitIdle(20000));
    Settle();
  }

  void Poll() {
    ASSERT_EQ(test::OnLine(session,
                           [&](DeviceLink& line) { return int(line.ReadVariable(IdMeasurement)); }),
              1);
  }

  // The instrument's records (separators left out), as the history keeps them.
  std::vector<ArchiveBytes> InstrumentRecords() {
    std::vector<ArchiveBytes> records;
    for (const ArchiveRecordValue& record : sim.Snapshot().Archive) {
      if (!sim::IsSeparator(record)) {
        records.push_back(BytesOf(record));
      }
    }
    return records;
  }
  std::vector<ArchiveBytes> Stored() {
    SettleHistory();
    HistoryStore store(location);
    std::vector<ArchiveBytes> records;
    const HistoryOutcome outcome = store.VisitArchive(IdentityOf(session.Link.Values()), {},
                                                      [&](const StoredArchiveRecord& record) {
                                                        records.push_back(record.Raw);
                                                        return true;
                                                      });
    EXPECT_TRUE(outcome.Ok) << outcome.Error.toStdString();
    return records;
  }
  size_t ArchiveSize() { return sim.Snapshot().Archive.size(); }

  TempConfigHome home;
  QTemporaryDir dir;
  sim::VirtualInstrument sim;
  FixedClock clock{1'741'600'800};
  Session session{&clock};
  ArchivePage page{session};
  HistoryLocation location = ParseHistoryLocation(dir.filePath("history.sqlite"));
  std::unique_ptr<HistoryService> service;
  int notices = 0;
};

TEST_F(ArchiveHistoryE2e, ReadingAgainAddsNothingAndTheEraseReadsFirstWhatTheHistoryLacks) {
  sim.PrefillArchive(40, 3);
  Poll();
  Press("Button4");
  const std::vector<ArchiveBytes> first = InstrumentRecords();
  ASSERT_EQ(first.size(), 38u);
  EXPECT_EQ(Stored(), first);
  Press("Button4");
  EXPECT_EQ(Stored(), first) << "a second read adds nothing";

  // Covered: the erase sends nothing but the count's poll and command 1.
  sim.ResetCounters();
  Press("Button5");
  EXPECT_EQ(sim.RequestsSeen(IdArchive), 0u);
  EXPECT_EQ(ArchiveSize(), 0u);
  EXPECT_EQ(panels[0], "Записано ");

  // New records since the last read: read into the history, then erased.
  sim.PrefillArchive(25, 2);
  const std::vector<ArchiveBytes> second = InstrumentRecords();
  Poll();
  sim.ResetCounters();
  Press("Button5");
  EXPECT_EQ(sim.RequestsSeen(IdArchive), 25u);
  EXPECT_EQ(ArchiveSize(), 0u);
  std::vector<ArchiveBytes> every = first;
  every.insert(every.end(), second.begin(), second.end());
  EXPECT_EQ(Stored(), every);
  EXPECT_EQ(page.RecordsRead(), 0) << "the erased archive is not shown";

  SettleHistory();
  int erases = 0;
  HistoryStore store(location);
  store.VisitEvents(IdentityOf(session.Link.Values()), {}, [&](const StoredEvent& event) {
    if (event.Event.Kind == EventKind::ArchiveErase) {
      EXPECT_EQ(event.Event.RecordCount, erases == 0 ? 40 : 25);
      ++erases;
    }
    return true;
  });
  EXPECT_EQ(erases, 2);
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(notices, 0);
}

TEST_F(ArchiveHistoryE2e, AnUnplugKeepsTheRecordsBeforeItAndAFailedReadErasesNothing) {
  sim.PrefillArchive(400);
  const std::vector<ArchiveBytes> records = InstrumentRecords();
  Poll();
  // The cable comes out during the erase's read, past the first batch.
  int exchanges = 0;
  session.Link.SetOutcomeHandler([&](LinkStatus status) {
    panels[0] = MessageText(OutcomeRow(status), session.LanguageIndex);
    if (++exchanges == 300) {
      sim.Unplug();
    }
  });
  Press("Button5");
  EXPECT_EQ(ArchiveSize(), 400u) << "nothing erased";
  EXPECT_TRUE(panels[0].contains("не получено")) << panels[0].toStdString();
  const std::vector<ArchiveBytes> kept = Stored();
  ASSERT_GE(kept.size(), 250u);
  ASSERT_LT(kept.size(), records.size());
  EXPECT_TRUE(std::equal(kept.begin(), kept.end(), records.begin()))
      << "the records before the unplug, in order";
  EXPECT_EQ(page.RecordsRead(), static_cast<int>(kept.size())) << "the failed read shows";

  // Back again: the erase reads the whole archive, nothing twice.
  session.Link.SetOutcomeHandler([this](LinkStatus status) {
    panels[0] = MessageText(OutcomeRow(status), session.LanguageIndex);
  });
  ASSERT_TRUE(sim.Plug());
  Press("Button5");
  EXPECT_EQ(ArchiveSize(), 0u);
  EXPECT_EQ(Stored(), records);
}

TEST_F(ArchiveHistoryE2e, AHistoryThatCannotBeWrittenIsSaidOnceTheReadShowsAndNothingIsErased) {
  // A file stands where the history's folder should be.
  QFile blocker(dir.filePath("blocked"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  HistoryService broken(ParseHistoryLocation(dir.filePath("blocked/history.sqlite")));
  Use(broken);
  sim.PrefillArchive(12);
  Poll();

  Press("Button4");
  SettleHistory();
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(page.RecordsRead(), 12);
  EXPECT_FALSE(page.Grid()->Cell(2, 12).isEmpty()) << "the last record is on the page";
  EXPECT_EQ(panels[0], "Чтение");
  Press("Button4");
  SettleHistory();
  EXPECT_EQ(notices, 1) << "said once an outage";

  Press("Button5");
  EXPECT_EQ(ArchiveSize(), 12u);
  EXPECT_EQ(panels[0], "Архив не стёрт");
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].startsWith("Архив не стёрт: его записи не удалось сохранить в истории ("))
      << errors[0].toStdString();
  EXPECT_EQ(page.RecordsRead(), 12);
  SettleHistory();
  EXPECT_EQ(notices, 1);
}

}  // namespace
}  // namespace vantor
