// The on-alarm command: it runs beside the polling, gets what the alarm is
// about, is stopped past its time, and a flood of alarms costs a bounded
// number of processes.
#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include "AlarmCommand.h"
#include "AlarmTracker.h"
#include "Eventually.h"
#include "MqttBroker.h"

namespace vantor {
namespace {

using test::Eventually;

class AlarmCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::EnsureApplication(); }

  std::function<void(const QString&)> Logger() {
    return [this](const QString& line) { log << line; };
  }

  QProcessEnvironment Raised() const {
    AlarmTransition t;
    t.Threshold = 2;
    t.Raised = true;
    t.Value = 3.5;
    t.Level = 3;
    t.AtMs = 1'765'440'438'000;
    return AlarmEnvironment(QProcessEnvironment::systemEnvironment(), QStringLiteral("SN1"),
                            QStringLiteral("COM3"), t);
  }

  QTemporaryDir dir;
  QStringList log;
};

TEST_F(AlarmCommandTest, RunsWithTheAlarmInItsEnvironmentAndLogsWhatItSays) {
  const QString out = dir.filePath(QStringLiteral("out"));
  AlarmCommand command(QStringLiteral("echo \"$VANTOR_STATE $VANTOR_THRESHOLD $VANTOR_VALUE "
                                      "$VANTOR_INSTRUMENT\" > '%1'; echo sent; exit 3")
                           .arg(out),
                       30000, Logger());
  command.Run(Raised());
  ASSERT_TRUE(Eventually([&] { return command.Started() == 1 && command.Running() == 0; }));
  QFile file(out);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().trimmed(), "raised 2 3.5 SN1");
  EXPECT_EQ(command.Failed(), 1u);
  EXPECT_TRUE(log.contains(QStringLiteral("on-alarm: sent"))) << log.join('\n').toStdString();
  EXPECT_TRUE(log.join('\n').contains(QStringLiteral("status 3")));
}

TEST_F(AlarmCommandTest, ACommandThatHangsIsStoppedPastItsTime) {
  AlarmCommand command(QStringLiteral("sleep 60"), 200, Logger());
  command.Run(Raised());
  EXPECT_EQ(command.Running(), 1);
  ASSERT_TRUE(Eventually([&] { return command.Running() == 0; }, 20000));
  EXPECT_EQ(command.TimedOut(), 1u);
  EXPECT_TRUE(log.join('\n').contains(QStringLiteral("longer than 0.2 s")));
}

TEST_F(AlarmCommandTest, AFloodOfAlarmsRunsAFewWaitsAFewAndDropsTheRest) {
  const QString out = dir.filePath(QStringLiteral("count"));
  // Each waits until the test lets them go, then leaves a line.
  const QString gate = dir.filePath(QStringLiteral("gate"));
  AlarmCommand command(
      QStringLiteral("while [ ! -e '%1' ]; do sleep 0.05; done; echo x >> '%2'").arg(gate, out),
      30000, Logger());
  const int extra = 5;
  for (int i = 0; i < AlarmCommand::MaxRunning + AlarmCommand::MaxWaiting + extra; ++i) {
    command.Run(Raised());
  }
  EXPECT_EQ(command.Running(), AlarmCommand::MaxRunning);
  EXPECT_EQ(command.Dropped(), static_cast<uint64_t>(extra));
  EXPECT_EQ(log.count(), 1) << "the drops are told once";
  QFile(gate).open(QIODevice::WriteOnly);
  ASSERT_TRUE(Eventually(
      [&] {
        return command.Started() == AlarmCommand::MaxRunning + AlarmCommand::MaxWaiting &&
               command.Running() == 0;
      },
      30000));
  QFile file(out);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().count('x'), AlarmCommand::MaxRunning + AlarmCommand::MaxWaiting);
  EXPECT_EQ(command.Failed(), 0u);
}

}  // namespace
}  // namespace vantor
