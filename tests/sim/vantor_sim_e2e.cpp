// The vantor-sim executable as the README's demo uses it.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>

#include <cmath>
#include <set>

#include "ArchiveRead.h"
#include "CoreApplication.h"
#include "DeviceLink.h"
#include "PortMap.h"
#include "TempConfigHome.h"

namespace vantor {
namespace {

QProcessEnvironment EnvironmentWith(const TempConfigHome& home) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", home.Path());
  return env;
}

TEST(VantorSim, PinsItsTerminalAnswersAndRemovesThePinOnTerminate) {
  test::EnsureCoreApplication();
  TempConfigHome home;
  PinPort(4, "/dev/ttyUSB9");  // an entry that was there before
  QProcess sim;
  sim.setProcessEnvironment(EnvironmentWith(home));
  sim.start(VANTOR_SIM_EXECUTABLE, {"--com", "4", "--firmware", "Demo 1.0", "--archive", "40,2"});
  ASSERT_TRUE(sim.waitForStarted(5000));
  ASSERT_TRUE(sim.waitForReadyRead(5000));
  const QString pty = QString::fromLocal8Bit(sim.readLine()).trimmed();
  EXPECT_TRUE(pty.startsWith("/dev/pts/")) << pty.toStdString();
  EXPECT_EQ(PortPath(4), pty);

  DeviceLink link;
  link.InitDictionary();
  link.OpenPort(4);
  ASSERT_TRUE(link.PortOpen());
  EXPECT_EQ(link.ReadVariable(IdService), 1);
  EXPECT_EQ(link.ReadVariable(IdFirmware), 1);
  EXPECT_STREQ(link.Values().Firmware.data(), "Demo 1.0");
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(link.Values().Measurement.ArchiveRecordCount, 40U);
  link.ClosePort();

  sim.terminate();  // SIGTERM
  ASSERT_TRUE(sim.waitForFinished(5000));
  EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(sim.exitCode(), 0);
  EXPECT_EQ(PortPath(4), "/dev/ttyUSB9");  // put back as it was
}

// An archive as the field makes it: readings in steps, the clock set back an
// hour half way. Read over a line that spoils a tenth of the replies, every
// record comes in its place: each moment twice, readings on the step, some
// records equal to earlier ones.
TEST(VantorSim, AnArchiveWithItsClockSetBackIsReadWholeThroughFaults) {
  test::EnsureCoreApplication();
  TempConfigHome home;
  QProcess sim;
  sim.setProcessEnvironment(EnvironmentWith(home));
  sim.start(VANTOR_SIM_EXECUTABLE,
            {"--com", "4", "--archive", "120", "--archive-steps", "0.01", "--clock-back", "3600",
             "--seed", "3", "--fault", "ack:5@0.1", "--fault", "lost:5@0.05", "--unpaced"});
  ASSERT_TRUE(sim.waitForStarted(5000));
  ASSERT_TRUE(sim.waitForReadyRead(5000));
  sim.readLine();

  DeviceLink link;
  link.InitDictionary();
  link.OpenPort(4);
  ASSERT_TRUE(link.PortOpen());
  const ArchiveReadResult read = ReadArchive(link, 120, {});
  EXPECT_EQ(read.Missing, 0) << "passes " << read.Passes << ", requests " << read.Requests
                             << (read.Stalled ? ", stalled" : "") << (read.Lost ? ", lost" : "");
  std::set<std::pair<int, int>> moments;
  std::set<std::array<uint8_t, ArchiveSlotSize>> distinct;
  for (const auto& slot : read.Slots) {
    ASSERT_TRUE(slot.has_value());
    const ArchiveTime t = DecodeArchiveTime(*slot);
    moments.emplace(t.Day * 24 + t.Hour, t.Minute * 60 + t.Second);
    distinct.insert(slot->Bytes);
    EXPECT_NEAR(slot->Value() * 100, std::round(slot->Value() * 100), 1e-3);
  }
  EXPECT_EQ(moments.size(), 60U);
  EXPECT_LT(distinct.size(), 120U) << "some records repeat byte for byte";
  link.ClosePort();
  sim.terminate();
  ASSERT_TRUE(sim.waitForFinished(5000));
}

TEST(VantorSim, HelpListsEveryOptionAndBadOptionsAreRefused) {
  QProcess help;
  help.start(VANTOR_SIM_EXECUTABLE, {"--help"});
  ASSERT_TRUE(help.waitForFinished(5000));
  EXPECT_EQ(help.exitCode(), 0);
  const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
  for (const char* option :
       {"--com", "--background", "--mode", "--latency", "--archive", "--archive-period",
        "--archive-steps", "--clock-back", "--firmware", "--clock-offset", "--seed", "--fault",
        "silence", "garble", "stray", "cut", "error"}) {
    EXPECT_TRUE(text.contains(option)) << option;
  }

  for (const QStringList& args :
       {QStringList{}, QStringList{"--com", "0"}, QStringList{"--com", "3", "--fault", "smoke"},
        QStringList{"--com", "3", "--latency", "soon"},
        QStringList{"--com", "3", "--archive-steps", "-1"}}) {
    QProcess bad;
    bad.start(VANTOR_SIM_EXECUTABLE, args);
    ASSERT_TRUE(bad.waitForFinished(5000));
    EXPECT_EQ(bad.exitCode(), 2) << args.join(' ').toStdString();
  }
}

}  // namespace
}  // namespace vantor
