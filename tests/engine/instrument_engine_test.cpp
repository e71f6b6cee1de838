// The engine against the virtual instrument's model on an in-memory line:
// what it tells and in which order, its queue, cancelling, the poll, and its
// end while it reads.
#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CoreApplication.h"
#include "Dictionary.h"
#include "Eventually.h"
#include "InstrumentEngine.h"
#include "InstrumentModel.h"
#include "LinkStatus.h"
#include "MemoryLine.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;

// A line that notes on which thread it was closed.
class WatchedLine : public test::MemoryLine {
 public:
  WatchedLine(Peer peer, std::atomic<bool>& closed, std::thread::id& closedOn)
      : MemoryLine(std::move(peer)), closed_(closed), closedOn_(closedOn) {}
  ~WatchedLine() override {
    closedOn_ = std::this_thread::get_id();
    closed_ = true;
  }

 private:
  std::atomic<bool>& closed_;
  std::thread::id& closedOn_;
};

// Everything the engine tells its owner, in the order it arrived, and
// whether all of it arrived on the owner's thread.
struct Told {
  explicit Told(InstrumentEngine& engine) {
    QObject::connect(&engine, &InstrumentEngine::Exchanged, &engine,
                     [this](ExchangeStatus s) { Note("x " + LinkStatusName(s).toStdString()); });
    QObject::connect(
        &engine, &InstrumentEngine::Started, &engine,
        [this](OperationId id, const QString&) { Note("start" + std::to_string(id)); });
    QObject::connect(&engine, &InstrumentEngine::Progressed, &engine,
                     [this](OperationId, int done, int total, const QString&) {
                       Note("p" + std::to_string(done) + "/" + std::to_string(total));
                     });
    QObject::connect(
        &engine, &InstrumentEngine::Ended, &engine,
        [this](OperationId id, const OperationOutcome& o) {
          Note("end" + std::to_string(id) + ":" + std::to_string(static_cast<int>(o.End)));
        });
    QObject::connect(&engine, &InstrumentEngine::BusyChanged, &engine,
                     [this](bool busy) { Note(busy ? "busy" : "idle"); });
  }
  void Note(const std::string& what) {
    OnOwner = OnOwner && QThread::currentThread() == QCoreApplication::instance()->thread();
    Events.push_back(what);
  }
  bool Has(const std::string& what) const {
    return std::find(Events.begin(), Events.end(), what) != Events.end();
  }
  std::vector<std::string> Events;
  bool OnOwner = true;
};

std::string EndOf(OperationId id, OperationEnd end) {
  return "end" + std::to_string(id) + ":" + std::to_string(static_cast<int>(end));
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureCoreApplication();
    engine = std::make_unique<InstrumentEngine>();
    Connect();
  }

  // Opens the engine's link as COM1 on its own thread, as every front end does.
  void Connect() {
    test::InstrumentPeer peer;
    peer.Model = &model;
    auto owned = std::make_unique<WatchedLine>(peer.AsPeer(), closed, closedOn);
    line = owned.get();
    const OperationOutcome opened = engine->RunAndWait("open", [&owned](OperationControl& c) {
      c.Link().SetLineOpener(test::OpenerFor(std::move(owned), 1));
      c.Link().InitDictionary();
      c.Link().OpenPort(1);
      if (!c.Link().PortOpen()) {
        c.Fail(QStringLiteral("COM1 did not open"));
      }
    });
    ASSERT_TRUE(opened.Ok()) << opened.Detail.toStdString();
    // Its end reaches this thread before a test starts listening.
    ASSERT_TRUE(test::Eventually([this] { return !engine->Busy(); }));
  }

  sim::InstrumentModel model;
  std::atomic<bool> closed{false};
  std::thread::id closedOn;
  WatchedLine* line = nullptr;  // the engine's, used on its thread only
  std::unique_ptr<InstrumentEngine> engine;
};

TEST_F(EngineTest, EachExchangeIsToldOnTheOwnersThreadInOrderBeforeItsOperationEnds) {
  Told told(*engine);
  model.InjectFault({sim::Fault::Silence, IdMeasurement, 1});
  int doneCalls = 0;
  const OperationId id = engine->Run(
      "three exchanges",
      [](OperationControl& c) {
        c.Link().ReadVariable(IdSettings);
        c.Progress(1, 3);
        c.Link().Values().Command = CommandResetDose;
        c.Link().WriteVariable(IdCommandAlias);
        c.Link().ReadVariable(IdMeasurement);  // silence: fails
      },
      [&doneCalls](const OperationOutcome& o) {
        ++doneCalls;
        EXPECT_EQ(o.End, OperationEnd::Done);
      });
  ASSERT_TRUE(test::Eventually([&] { return told.Has(EndOf(id, OperationEnd::Done)); }));

  const std::vector<std::string> expected = {
      "busy",      "start" + std::to_string(id),  "x read", "p1/3", "x written",
      "x timeout", EndOf(id, OperationEnd::Done), "idle"};
  EXPECT_EQ(told.Events, expected);
  EXPECT_TRUE(told.OnOwner);
  EXPECT_EQ(doneCalls, 1);
  EXPECT_FALSE(engine->Busy());
}

TEST_F(EngineTest, OperationsRunOneAtATimeInTheOrderAskedOnTheEnginesThread) {
  std::mutex mutex;
  std::vector<std::string> trail;
  std::vector<std::thread::id> threads;
  std::atomic<int> inside{0};
  std::atomic<int> mostInside{0};
  std::vector<OperationId> ids;
  int ended = 0;
  for (int i = 0; i < 4; ++i) {
    ids.push_back(engine->Run(
        QStringLiteral("read %1").arg(i),
        [&, i](OperationControl& c) {
          mostInside = std::max(mostInside.load(), ++inside);
          {
            const std::lock_guard lock(mutex);
            trail.push_back("in" + std::to_string(i));
            threads.push_back(std::this_thread::get_id());
          }
          c.Link().ReadVariable(IdMeasurement);
          std::this_thread::sleep_for(2ms);  // room for another to break in, were it able
          {
            const std::lock_guard lock(mutex);
            trail.push_back("out" + std::to_string(i));
          }
          --inside;
        },
        [&ended](const OperationOutcome&) { ++ended; }));
  }
  ASSERT_TRUE(test::Eventually([&] { return ended == 4; }));
  EXPECT_EQ(trail,
            (std::vector<std::string>{"in0", "out0", "in1", "out1", "in2", "out2", "in3", "out3"}));
  EXPECT_EQ(mostInside.load(), 1);
  ASSERT_EQ(threads.size(), 4U);
  for (const std::thread::id& thread : threads) {
    EXPECT_EQ(thread, threads.front());
  }
  EXPECT_NE(threads.front(), std::this_thread::get_id());
  EXPECT_LT(ids[0], ids[1]);
}

TEST_F(EngineTest, ACancelledQueuedOperationNeverRunsAndARunningOneStopsBetweenExchanges) {
  Told told(*engine);
  std::atomic<int> reads{0};
  std::atomic<bool> secondRan{false};
  const OperationId reading = engine->Run("read until stopped", [&reads](OperationControl& c) {
    while (!c.StopRequested()) {
      if (c.Link().ReadVariable(IdMeasurement) == 1) {
        ++reads;
      }
    }
  });
  const OperationId second =
      engine->Run("never", [&secondRan](OperationControl&) { secondRan = true; });
  const OperationId third = engine->Run("after", [](OperationControl& c) {
    if (c.Link().ReadVariable(IdSettings) != 1) {
      c.Fail(QStringLiteral("settings"));
    }
  });
  engine->Cancel(second);
  ASSERT_TRUE(test::Eventually([&] { return reads >= 3; }));
  engine->Cancel(reading);
  ASSERT_TRUE(test::Eventually([&] { return told.Has(EndOf(third, OperationEnd::Done)); }));

  EXPECT_FALSE(secondRan);
  EXPECT_TRUE(told.Has(EndOf(second, OperationEnd::Cancelled)));
  EXPECT_TRUE(told.Has(EndOf(reading, OperationEnd::Cancelled)));
  EXPECT_FALSE(told.Has("start" + std::to_string(second)));
  // Busy from the first till the last, once.
  EXPECT_EQ(std::count(told.Events.begin(), told.Events.end(), "busy"), 1);
  EXPECT_EQ(told.Events.back(), "idle");
  // Cancelling what has ended changes nothing.
  engine->Cancel(reading);
  engine->Cancel(12345);
  EXPECT_FALSE(engine->Busy());
}

TEST_F(EngineTest, CancelAllStopsTheRunningOneAndDropsTheRest) {
  Told told(*engine);
  std::atomic<bool> running{false};
  const OperationId first = engine->Run("loop", [&running](OperationControl& c) {
    running = true;
    while (!c.StopRequested()) {
      c.Link().ReadVariable(IdMeasurement);
    }
  });
  const OperationId second = engine->Run("queued", [](OperationControl&) {});
  ASSERT_TRUE(test::Eventually([&] { return running.load(); }));
  engine->CancelAll();
  ASSERT_TRUE(test::Eventually([&] { return !engine->Busy(); }));
  EXPECT_TRUE(told.Has(EndOf(first, OperationEnd::Cancelled)));
  EXPECT_TRUE(told.Has(EndOf(second, OperationEnd::Cancelled)));
  EXPECT_FALSE(told.Has("start" + std::to_string(second)));
}

TEST_F(EngineTest, ThePollWaitsWhileAnOperationRunsOrWaitsItsTurnAndWhilePaused) {
  std::atomic<bool> inOperation{false};
  std::atomic<bool> pollSawOperation{false};
  std::vector<float> shown;
  model.SetBackground(0.25);
  engine->SetPoll<float>(
      0ms,
      [&](DeviceLink& link) {
        pollSawOperation = pollSawOperation || inOperation;
        return link.ReadVariable(IdMeasurement) == 1 ? link.Values().Measurement.DoseRate : -1.0F;
      },
      [&shown](float rate) { shown.push_back(rate); });

  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  int ended = 0;
  engine->Run(
      "held",
      [&, opened](OperationControl&) {
        inOperation = true;
        opened.wait();
        inOperation = false;
      },
      [&ended](const OperationOutcome&) { ++ended; });
  ASSERT_TRUE(test::Eventually([&] { return inOperation.load(); }));
  engine->PollNow();  // comes while the first runs ...
  engine->PollNow();
  engine->Run(
      "waiting",
      [&inOperation](OperationControl& c) {  // ... and finds this waiting
        inOperation = true;
        c.Link().ReadVariable(IdSettings);
        inOperation = false;
      },
      [&ended](const OperationOutcome&) { ++ended; });
  gate.set_value();
  ASSERT_TRUE(test::Eventually([&] { return ended == 2; }));
  EXPECT_EQ(engine->PollsRun(), 0U);
  EXPECT_EQ(engine->PollsSkipped(), 2U);

  engine->PollNow();
  ASSERT_TRUE(test::Eventually([&] { return shown.size() == 1; }));
  EXPECT_GT(shown.front(), 0.0F);
  EXPECT_FALSE(pollSawOperation);

  engine->SetPollActive(false);
  engine->PollNow();
  ASSERT_TRUE(test::Eventually([&] { return engine->PollsSkipped() == 3U; }));
  EXPECT_EQ(engine->PollsRun(), 1U);
  EXPECT_EQ(shown.size(), 1U);
}

TEST_F(EngineTest, ThePollTimerTicksOnTheEnginesThread) {
  std::atomic<int> ticks{0};
  std::thread::id tickedOn;
  engine->SetPoll<int>(5ms,
                       [&](DeviceLink& link) {
                         tickedOn = std::this_thread::get_id();
                         link.ReadVariable(IdMeasurement);
                         return ++ticks;
                       },
                       {});
  ASSERT_TRUE(test::Eventually([&] { return ticks >= 3; }, 5000));
  engine->SetPoll<int>(0ms, {}, {});
  const OperationOutcome sync = engine->RunAndWait("sync", [](OperationControl&) {});
  EXPECT_TRUE(sync.Ok());
  EXPECT_NE(tickedOn, std::this_thread::get_id());
}

TEST_F(EngineTest, DestroyingTheEngineWhileItReadsStopsTheReadAndClosesThePortOnItsThread) {
  std::atomic<int> reads{0};
  std::atomic<bool> sawStop{false};
  std::atomic<bool> laterRan{false};
  bool told = false;
  std::thread::id engineThread;
  engine->Run(
      "long read",
      [&](OperationControl& c) {
        engineThread = std::this_thread::get_id();
        while (!c.StopRequested()) {
          c.Link().ReadVariable(IdMeasurement);
          ++reads;
        }
        sawStop = true;
      },
      [&told](const OperationOutcome&) { told = true; });
  engine->Run("later", [&laterRan](OperationControl&) { laterRan = true; });
  ASSERT_TRUE(test::Eventually([&] { return reads >= 2; }));
  EXPECT_FALSE(closed);

  engine.reset();

  EXPECT_TRUE(sawStop);
  EXPECT_FALSE(laterRan);
  EXPECT_TRUE(closed);
  EXPECT_EQ(closedOn, engineThread);
  // Nothing of a gone engine arrives afterwards.
  QCoreApplication::processEvents();
  EXPECT_FALSE(told);
}

// The command line hands queued history news over from inside its commands,
// which lets the engine thread's own posted calls in as well.
TEST_F(EngineTest, AnOperationThatLetsPostedCallsInIsNotBrokenIntoByTheNextOrThePoll) {
  std::atomic<bool> inFirst{false};
  std::atomic<bool> brokenInto{false};
  std::promise<void> queued;
  std::shared_future<void> ready = queued.get_future().share();
  engine->SetPoll<int>(0ms,
                       [&](DeviceLink&) {
                         brokenInto = brokenInto || inFirst;
                         return 0;
                       },
                       {});
  int ended = 0;
  engine->Run(
      "lets posted calls in",
      [&, ready](OperationControl& c) {
        inFirst = true;
        ready.wait();
        for (int i = 0; i < 5; ++i) {
          QCoreApplication::sendPostedEvents();
          c.Link().ReadVariable(IdMeasurement);
        }
        inFirst = false;
      },
      [&ended](const OperationOutcome&) { ++ended; });
  engine->Run(
      "next", [&](OperationControl&) { brokenInto = brokenInto || inFirst; },
      [&ended](const OperationOutcome&) { ++ended; });
  engine->PollNow();
  queued.set_value();
  ASSERT_TRUE(test::Eventually([&] { return ended == 2; }));
  EXPECT_FALSE(brokenInto);
  engine->PollNow();
  ASSERT_TRUE(test::Eventually([&] { return engine->PollsRun() == 1U; }));
  EXPECT_FALSE(brokenInto);

  // The same while the engine goes away: its port closes after the operation.
  std::atomic<bool> running{false};
  std::atomic<bool> closedInside{false};
  engine->Run("lets posted calls in until stopped", [&](OperationControl& c) {
    running = true;
    while (!c.StopRequested()) {
      QCoreApplication::sendPostedEvents();
      c.Link().ReadVariable(IdMeasurement);
      closedInside = closedInside || closed;
    }
    QCoreApplication::sendPostedEvents();
    closedInside = closedInside || closed;
  });
  ASSERT_TRUE(test::Eventually([&] { return running.load(); }));
  engine.reset();
  EXPECT_FALSE(closedInside);
  EXPECT_TRUE(closed);
}

TEST_F(EngineTest, AnOperationThatThrowsEndsSoAndTheNextRunsAsEver) {
  const OperationOutcome threw = engine->RunAndWait("throws", [](OperationControl& c) {
    c.Link().ReadVariable(IdSettings);
    throw std::runtime_error("record 7 makes no sense");
  });
  EXPECT_EQ(threw.End, OperationEnd::Threw);
  EXPECT_EQ(threw.Detail, QStringLiteral("record 7 makes no sense"));

  const OperationOutcome odd = engine->RunAndWait("throws an int", [](OperationControl&) {
    throw 7;  // NOLINT(hicpp-exception-baseclass)
  });
  EXPECT_EQ(odd.End, OperationEnd::Threw);

  int value = 0;
  const OperationOutcome next = engine->RunAndWait(
      "reads", [&value](OperationControl& c) { value = c.Link().ReadVariable(IdSettings); });
  EXPECT_TRUE(next.Ok());
  EXPECT_EQ(value, 1);
}

TEST_F(EngineTest, AnOperationWhosePortWentAwayEndsPortGoneAndSoDoLaterOnes) {
  Told told(*engine);
  const OperationOutcome gone = engine->RunAndWait("unplugged", [this](OperationControl& c) {
    EXPECT_EQ(c.Link().ReadVariable(IdSettings), 1);
    line->Unplug();
    EXPECT_EQ(c.Link().ReadVariable(IdSettings), 0);
  });
  EXPECT_EQ(gone.End, OperationEnd::PortGone);
  EXPECT_TRUE(gone.Detail.contains(QStringLiteral("COM1")));

  const OperationOutcome later = engine->RunAndWait(
      "still gone", [](OperationControl& c) { c.Link().ReadVariable(IdMeasurement); });
  EXPECT_EQ(later.End, OperationEnd::PortGone);
  ASSERT_TRUE(test::Eventually([&] { return !engine->Busy(); }));
  const std::vector<std::string> rows(std::find(told.Events.begin(), told.Events.end(), "x read"),
                                      told.Events.end());
  ASSERT_GE(rows.size(), 3U);
  EXPECT_EQ(rows[1], "x port-gone");
}

TEST_F(EngineTest, AnOperationSaysItFailedAndAResultComesBackTyped) {
  const OperationOutcome failed = engine->RunAndWait(
      "fails", [](OperationControl& c) { c.Fail(QStringLiteral("no archive")); });
  EXPECT_EQ(failed.End, OperationEnd::Failed);
  EXPECT_EQ(failed.Detail, QStringLiteral("no archive"));

  model.SetFirmware("Build 9");
  std::optional<Finished<QString>> firmware;
  engine->RunFor<QString>(
      "firmware",
      [](OperationControl& c) {
        c.Link().ReadVariable(IdFirmware);
        return QString::fromLatin1(c.Link().Values().Firmware.data());
      },
      [&firmware](Finished<QString> f) { firmware = std::move(f); });
  std::optional<Finished<int>> broken;
  engine->RunFor<int>(
      "broken", [](OperationControl&) -> int { throw std::logic_error("no"); },
      [&broken](Finished<int> f) { broken = std::move(f); });
  ASSERT_TRUE(test::Eventually([&] { return firmware && broken; }));
  EXPECT_TRUE(firmware->Outcome.Ok());
  ASSERT_TRUE(firmware->Value.has_value());
  EXPECT_EQ(*firmware->Value, QStringLiteral("Build 9"));
  EXPECT_EQ(broken->Outcome.End, OperationEnd::Threw);
  EXPECT_FALSE(broken->Value.has_value());
}

TEST_F(EngineTest, RunAndWaitServesAnyThreadButNeverWaitsForItself) {
  OperationOutcome fromThread;
  int read = 0;
  std::thread other([&] {
    fromThread = engine->RunAndWait("from another thread", [&read](OperationControl& c) {
      read = c.Link().ReadVariable(IdSettings);
    });
  });
  other.join();
  EXPECT_TRUE(fromThread.Ok());
  EXPECT_EQ(read, 1);

  // A waiter with something to do meanwhile does it while it waits.
  int between = 0;
  const OperationOutcome slow = engine->RunAndWait(
      "slow", [](OperationControl&) { std::this_thread::sleep_for(30ms); },
      [&between] { ++between; }, 5ms);
  EXPECT_TRUE(slow.Ok());
  EXPECT_GE(between, 2);

  OperationOutcome inner;
  const OperationOutcome outer = engine->RunAndWait("outer", [&](OperationControl&) {
    inner = engine->RunAndWait("inner", [](OperationControl&) {});
  });
  EXPECT_TRUE(outer.Ok());
  EXPECT_EQ(inner.End, OperationEnd::NotRun);
  ASSERT_TRUE(test::Eventually([&] { return !engine->Busy(); }));
}

TEST_F(EngineTest, TheExchangeListenerHearsEachExchangeOnTheEnginesThread) {
  std::mutex mutex;
  std::vector<LinkStatus> heard;
  std::vector<std::thread::id> on;
  engine->SetExchangeListener([&](ExchangeStatus status) {
    const std::lock_guard lock(mutex);
    heard.push_back(status);
    on.push_back(std::this_thread::get_id());
  });
  model.InjectFault({sim::Fault::Silence, IdSettings, 1});
  std::thread::id engineThread;
  engine->RunAndWait("two", [&engineThread](OperationControl& c) {
    engineThread = std::this_thread::get_id();
    c.Link().ReadVariable(IdSettings);
    c.Link().ReadVariable(IdSettings);
  });
  const std::lock_guard lock(mutex);
  EXPECT_EQ(heard, (std::vector<LinkStatus>{LinkStatus::Timeout, LinkStatus::Read}));
  ASSERT_EQ(on.size(), 2U);
  EXPECT_EQ(on[0], engineThread);
}

}  // namespace
}  // namespace vantor
