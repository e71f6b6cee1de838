// What names the instruments of a run on several ports: the ports chosen,
// and the serial their files are named by.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "CoreApplication.h"
#include "InstrumentModel.h"
#include "MemoryLine.h"
#include "SeveralInstruments.h"
#include "TempConfigHome.h"
#include "Vantorctl.h"

namespace vantor::cli {
namespace {

TEST(SeveralInstruments, PortListsAreNumbersOfTheMapEachOnceOrAll) {
  QString error;
  EXPECT_TRUE(ParsePortChoice("all", &error)->All);
  const std::optional<PortChoice> listed = ParsePortChoice(" 5, 3 ,4", &error);
  ASSERT_TRUE(listed.has_value());
  EXPECT_EQ(listed->Ports, (std::vector<int>{3, 4, 5}));
  EXPECT_TRUE(listed->Several());
  EXPECT_FALSE(ParsePortChoice("7", &error)->Several()) << "one port works as ever";
  for (const char* wrong : {"3,,4", "0", "255", "3,x", "", "All"}) {
    EXPECT_FALSE(ParsePortChoice(wrong, &error).has_value()) << wrong;
  }
  EXPECT_FALSE(ParsePortChoice("3,4,3", &error).has_value());
  EXPECT_EQ(error, "--port names COM3 twice");
}

TEST(SeveralInstruments, TheSerialIsTheTextTheDeviceDataBeginsWithElseItsBytes) {
  std::array<uint8_t, 20> data{};
  EXPECT_EQ(InstrumentSerial(data), "");
  EXPECT_EQ(InstrumentFileName(3, "", ".csv"), "COM3.csv");
  const char text[] = "SN004711";
  std::copy(text, text + 8, data.begin());
  data[12] = 26;
  EXPECT_EQ(InstrumentSerial(data), "SN004711");
  EXPECT_EQ(InstrumentFileName(12, "SN004711", ".jsonl"), "COM12-SN004711.jsonl");
  // No text a file name could carry: the bytes, without the zeros after them.
  data = {0x01, '/', 0xFF, 0x00, 0x07};
  EXPECT_EQ(InstrumentSerial(data), "012fff0007");
}

std::mutex commandMutex;
std::map<int, std::thread::id> commandThreads;

// Notes where it runs; the instrument on COM2 breaks it.
int NoteThreadCommand(Context& c) {
  {
    const std::lock_guard lock(commandMutex);
    commandThreads[c.Port] = std::this_thread::get_id();
  }
  if (c.Port == 2) {
    throw std::runtime_error("record 3 makes no sense");
  }
  return ExitDone;
}

TEST(SeveralInstruments, EachWorksOnAThreadOfItsOwnWhereItsPortOpenedAndABreakFailsOnlyIt) {
  test::EnsureCoreApplication();
  const test::TempConfigHome home;
  ASSERT_TRUE(QDir().mkpath(home.PortsPath()));
  for (int port : {1, 2}) {
    const QString device = home.Path() + QStringLiteral("/tty%1").arg(port);
    QFile file(device);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link(device, home.PortsPath() + QStringLiteral("/COM%1").arg(port)));
  }
  std::array<sim::InstrumentModel, 2> models;
  std::mutex openMutex;
  std::map<int, std::thread::id> openedOn;
  SeveralRun run;
  run.Choice.Ports = {1, 2};
  run.Command = &NoteThreadCommand;
  run.OpenPort = [&](int number) -> OpenedLine {
    if (number < 1 || number > 2) {
      return nullptr;
    }
    {
      const std::lock_guard lock(openMutex);
      openedOn[number] = std::this_thread::get_id();
    }
    test::InstrumentPeer peer;
    peer.Model = &models.at(number - 1);
    return std::make_unique<test::MemoryLine>(peer.AsPeer());
  };
  commandThreads.clear();

  EXPECT_EQ(RunOnSeveral(run), ExitLineFailure);

  ASSERT_EQ(commandThreads.size(), 2U);
  EXPECT_NE(commandThreads[1], commandThreads[2]);
  for (int port : {1, 2}) {
    EXPECT_NE(commandThreads[port], std::this_thread::get_id());
    EXPECT_EQ(openedOn[port], commandThreads[port]) << "COM" << port;
  }
}

}  // namespace
}  // namespace vantor::cli
