// The port search against the virtual instrument with real exchanges: a
// port whose device is gone costs nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <vector>

#include "CalendarClock.h"
#include "ConnectionManager.h"
#include "CoreApplication.h"
#include "PageFixture.h"
#include "PortSearch.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

using Clock = std::chrono::steady_clock;

class ConnectionOverPty : public test::PageFixture {
 protected:
  void SetUp() override { test::EnsureCoreApplication(); }

  // The program's side, created after the ports so it closes first.
  void Attach(Session& session) {
    Wire(session);
    steps.TestPort = [&session] { return session.Link.ReadVariable(IdService); };
  }

  TempConfigHome home;
  FixedClock clock{1700000000};
  ConnectSteps steps;
};

TEST_F(ConnectionOverPty, UnpluggedInstrumentKeepsItsNumberButCostsNoExchangeNorWait) {
  sim::VirtualInstrument instrument;
  ASSERT_TRUE(instrument.PinAs(7));
  Session session(&clock);
  Attach(session);
  ASSERT_EQ(ConnectDevice(session, ConnectAutoDetect, 0, steps), 7);
  const uint64_t before = session.Link.ExchangeCount();

  instrument.Unplug();  // the map still names COM7; its device is gone
  EXPECT_EQ(ConnectDevice(session, ConnectAutoDetect, 0, steps), 0);

  EXPECT_EQ(session.Link.ExchangeCount(), before);
  EXPECT_FALSE(session.Link.PortOpen());
  EXPECT_EQ(panels[3], "---");
  EXPECT_EQ(panels[0], "Прибор не обнаружен");
}

}  // namespace
}  // namespace vantor
