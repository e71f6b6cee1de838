// The signals that end a program turned into an orderly end of its event
// loop: raised in the test process itself, which must live on.
#include <gtest/gtest.h>

#include <signal.h>
#include <QCoreApplication>
#include <QTimer>
#include <atomic>

#include "CoreApplication.h"
#include "ExitSignals.h"

namespace vantor {
namespace {

std::atomic<int> ownHandlerCalls{0};
void OwnHandler(int) {
  ownHandlerCalls.fetch_add(1);
}

// What `signal` does now: its handler.
sighandler_t HandlerOf(int signal) {
  struct sigaction now {};
  ::sigaction(signal, nullptr, &now);
  return now.sa_handler;
}

// Runs the event loop until something ends it; a signal that got lost ends
// it after five seconds with -1.
int RunLoop() {
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
  guard.start(5000);
  return QCoreApplication::exec();
}

class ExitSignalsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureCoreApplication(); }
};

TEST_F(ExitSignalsTest, EachSignalEndsTheEventLoopWithTheStatusAShellGives) {
  for (const auto& [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143},
                                       std::pair{SIGHUP, 129}, std::pair{SIGPIPE, 141}}) {
    SCOPED_TRACE(signal);
    const ExitSignals handlers;
    EXPECT_EQ(ExitSignals::Caught(), 0);
    QTimer::singleShot(0, [number = signal] { ::raise(number); });
    EXPECT_EQ(RunLoop(), status);
    EXPECT_EQ(ExitSignals::Caught(), signal);
  }
}

TEST_F(ExitSignalsTest, TheOwnStepRunsOnTheLoopWithTheFirstSignalAndLaterOnesAreKept) {
  std::vector<int> heard;
  {
    const ExitSignals handlers([&heard](int signal) {
      heard.push_back(signal);
      QCoreApplication::exit(0);
    });
    // Two at once: the first one is the one told and kept.
    ::raise(SIGHUP);
    ::raise(SIGPIPE);
    EXPECT_TRUE(heard.empty()) << "nothing runs inside the handler";
    EXPECT_EQ(RunLoop(), 0);
    EXPECT_EQ(heard, std::vector<int>{SIGHUP});
    EXPECT_EQ(ExitSignals::Caught(), SIGHUP);
    // Ctrl-C a second time ends the program as usual; a closed pipe or
    // terminal stays caught while the closing steps still write.
    ::raise(SIGINT);
    EXPECT_EQ(HandlerOf(SIGINT), SIG_DFL);
    EXPECT_NE(HandlerOf(SIGPIPE), SIG_DFL);
    EXPECT_NE(HandlerOf(SIGHUP), SIG_DFL);
  }
}

TEST_F(ExitSignalsTest, TheHandlersOfBeforeComeBackAndAFreshOneStartsUncaught) {
  struct sigaction own {};
  own.sa_handler = OwnHandler;
  sigemptyset(&own.sa_mask);
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGHUP, &own, &before), 0);
  ownHandlerCalls = 0;
  {
    const ExitSignals handlers;
    ::raise(SIGHUP);
    EXPECT_EQ(ownHandlerCalls.load(), 0);
    EXPECT_EQ(ExitSignals::Caught(), SIGHUP);
  }
  ::raise(SIGHUP);
  EXPECT_EQ(ownHandlerCalls.load(), 1);
  {
    const ExitSignals again;
    EXPECT_EQ(ExitSignals::Caught(), 0);
  }
  QCoreApplication::processEvents();  // the pipe of the first is gone: nothing to read
  ::sigaction(SIGHUP, &before, nullptr);
}

}  // namespace
}  // namespace vantor
