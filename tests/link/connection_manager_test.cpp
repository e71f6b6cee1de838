// The port search on its own: which ports it opens and tests, in which order,
// when it stops, and what it leaves in the session and the status bar. The
// instrument test is a stand-in here; the ports are real pseudo-terminals.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "CalendarClock.h"
#include "ConnectionManager.h"
#include "CoreApplication.h"
#include "PortMap.h"
#include "PortSearch.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

class ConnectionManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureCoreApplication();
    // A pinned map, so the machine's own ports are never looked at: COM200
    // names a device that does not exist.
    bool pinned = false;
    PinPort(200, home.Path() + "/absent", &pinned);
    ASSERT_TRUE(pinned);
    session.SetPanel = [this](int panel, const QString& text) { panels[panel] = text; };
    steps.TestPort = [this] {
      tested.push_back(session.Link.OpenPortNumber());
      return session.Link.OpenPortNumber() == answering ? 1 : 0;
    };
    steps.ShowProgress = [this](int port) { progress.push_back(port); };
    steps.ShowFoundPort = [this](int port) { found.push_back(port); };
  }

  // Ports that exist and open, but where nothing answers by itself.
  void Present(std::initializer_list<int> numbers) {
    for (int n : numbers) {
      ports.push_back(std::make_unique<sim::SilentPort>(n));
      ASSERT_TRUE(ports.back()->Ok());
    }
  }

  TempConfigHome home;
  std::vector<std::unique_ptr<sim::SilentPort>> ports;
  FixedClock clock{1700000000};
  Session session{&clock};
  ConnectSteps steps;
  int answering = 0;  // the port whose test succeeds
  std::map<int, QString> panels;
  std::vector<int> tested;
  std::vector<int> progress;
  std::vector<int> found;
};

std::vector<int> Range(int first, int last) {
  std::vector<int> v;
  for (int i = first; i <= last; ++i) {
    v.push_back(i);
  }
  return v;
}

TEST_F(ConnectionManagerTest, AutoDetectTestsOnlyPortsThatOpenInOrderAndStopsAtTheFirstAnswer) {
  Present({2, 5, 9});
  answering = 5;
  panels[3] = "COM7";

  EXPECT_EQ(ConnectDevice(session, ConnectAutoDetect, 0, steps), 5);
  EXPECT_EQ(progress, Range(1, 5));
  EXPECT_EQ(tested, (std::vector<int>{2, 5}));
  EXPECT_EQ(session.Link.OpenPortNumber(), 5);  // left open for the program
  EXPECT_EQ(found, std::vector<int>{5});
  EXPECT_EQ(panels[3], "COM7");  // the caller writes the port it found
  EXPECT_EQ(panels.count(0), 0u);

  // Nothing answers: every number is shown, the last port opened is closed.
  answering = 0;
  tested.clear();
  progress.clear();
  EXPECT_EQ(ConnectDevice(session, ConnectAutoDetect, 3, steps), 0);
  EXPECT_EQ(progress, Range(1, 254));
  EXPECT_EQ(tested, (std::vector<int>{2, 5, 9}));
  EXPECT_FALSE(session.Link.PortOpen());
  EXPECT_EQ(found, (std::vector<int>{5, 0}));
  EXPECT_EQ(panels[3], "---");
  EXPECT_EQ(panels[0], "Прибор не обнаружен");
}

TEST_F(ConnectionManagerTest, SearchGivesUpAfterTheTimeLimitAndLeavesThePortPanelAlone) {
  // Each port takes 1000 s on the calendar: the check before port 6 sees
  // exactly the limit and goes on, the one before port 7 sees more.
  steps.ShowProgress = [this](int port) {
    progress.push_back(port);
    clock.Advance(1000);
  };
  panels[3] = "COM3";
  session.LanguageIndex = 1;

  EXPECT_EQ(ConnectDevice(session, ConnectAutoDetect, 0, steps), 0);
  EXPECT_EQ(progress, Range(1, 6));
  EXPECT_EQ(session.PortNumber, 0);
  EXPECT_EQ(panels[0], "No device");
  EXPECT_EQ(panels[3], "COM3");
}

TEST_F(ConnectionManagerTest, ChosenPortOutsideTheMapClosesTheOldPortWithoutATest) {
  Present({2});
  answering = 2;
  ASSERT_EQ(ConnectDevice(session, ConnectChosenPort, 2, steps), 2);
  ASSERT_TRUE(session.Link.PortOpen());
  tested.clear();

  session.LanguageIndex = 2;  // no language: no text, but still the dashes
  for (int chosen : {0, 7, 255, -1}) {
    panels.clear();
    EXPECT_EQ(ConnectDevice(session, ConnectChosenPort, chosen, steps), 0) << chosen;
    EXPECT_FALSE(session.Link.PortOpen()) << chosen;
    EXPECT_EQ(panels[3], "---") << chosen;
    EXPECT_EQ(panels.count(0), 0u) << chosen;
  }
  EXPECT_TRUE(tested.empty());
  EXPECT_TRUE(progress.empty());
}

}  // namespace
}  // namespace vantor
