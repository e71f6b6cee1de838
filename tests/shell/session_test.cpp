// The window's operations on the session's engine: one at a time, in the
// order they were asked for, and the busy flag only while a long one runs
// or waits. No port is open: the operations here exchange nothing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "CoreApplication.h"
#include "Eventually.h"
#include "Session.h"

namespace vantor {
namespace {

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() { test::EnsureCoreApplication(); }

  // An operation that holds the line until the test lets it go.
  void RunHeld(bool longOperation) {
    session.Run(
        &context, QStringLiteral("held"),
        [this](OperationControl&) {
          held = true;
          while (!release) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        },
        [this](const OperationOutcome&) { order.push_back(0); }, {}, longOperation);
    ASSERT_TRUE(test::Eventually([this] { return held.load(); }));
  }
  void RunMark(int mark, bool longOperation = false) {
    session.Run(
        &context, QStringLiteral("mark"), [](OperationControl&) {},
        [this, mark](const OperationOutcome&) { order.push_back(mark); }, {}, longOperation);
  }

  Session session{nullptr};
  QObject context;
  std::atomic_bool held{false};
  std::atomic_bool release{false};
  std::vector<int> order;
};

TEST_F(SessionTest, OperationsWaitTheirTurnAndEndInTheOrderTheyWereAskedFor) {
  int idle = 0;
  session.OnIdle = [&idle] { ++idle; };
  RunHeld(false);
  RunMark(1);
  RunMark(2);
  EXPECT_FALSE(session.Idle());
  bool afterOthers = false;
  session.AfterOthers(&context, [&] { afterOthers = order.size() == 3; });
  release = true;
  ASSERT_TRUE(test::Eventually([this] { return session.Idle(); }));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(afterOthers) << "after the operations asked for before it";
  EXPECT_EQ(idle, 1);
}

TEST_F(SessionTest, BusyOnlyWhileALongOperationRunsOrWaits) {
  RunHeld(false);
  EXPECT_FALSE(session.Busy) << "a short operation does not drop clicks";
  RunMark(1, true);
  EXPECT_TRUE(session.Busy) << "a long one waiting already does";
  // Cancelled before its turn: it never runs, and nothing is busy any more.
  session.CancelAll();
  EXPECT_FALSE(session.Busy);
  release = true;
  ASSERT_TRUE(test::Eventually([this] { return session.Idle(); }));
  EXPECT_EQ(order, (std::vector<int>{0}));

  RunMark(2, true);
  EXPECT_TRUE(session.Busy);
  ASSERT_TRUE(test::Eventually([this] { return session.Idle(); }));
  EXPECT_FALSE(session.Busy);
}

TEST_F(SessionTest, AnOperationWhosePageIsGoneNeitherShowsNorKeepsTheSessionBusy) {
  auto page = std::make_unique<QObject>();
  RunHeld(false);
  bool shown = false;
  session.Run(
      page.get(), QStringLiteral("gone"), [](OperationControl&) {},
      [&shown](const OperationOutcome&) { shown = true; }, {}, true);
  page.reset();
  release = true;
  ASSERT_TRUE(test::Eventually([this] { return session.Idle(); }));
  EXPECT_FALSE(shown);
  EXPECT_FALSE(session.Busy);
}

}  // namespace
}  // namespace vantor
