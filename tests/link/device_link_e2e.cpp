// The serial link against the virtual instrument on real pseudo-terminals.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QCoreApplication>
#include "CoreApplication.h"
#include "DeviceLink.h"
#include "LinkOutcome.h"
#include "MessageTable.h"
#include "PortMap.h"
#include "PseudoTerminal.h"
#include "SerialTransport.h"
#include "TempConfigHome.h"
#include "VirtualInstrument.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class LinkOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureCoreApplication();
    link.InitDictionary();
    link.SetOutcomeHandler([this](LinkStatus status) { rows.push_back(OutcomeRow(status)); });
    ASSERT_TRUE(sim.Plugged());
    ASSERT_TRUE(sim.PinAs(3));
    link.OpenPort(3);
    ASSERT_TRUE(link.PortOpen());
    ASSERT_EQ(link.OpenPortNumber(), 3);
  }

  TempConfigHome home;  // first in, last out: the instrument unpins inside it
  sim::VirtualInstrument sim;
  DeviceLink link;
  std::vector<int> rows;
};

TEST_F(LinkOverPty, CommandWriteSendsTheDocumentedFrameAndAHeaderOnlyAckSucceeds) {
  sim.WithLock([](sim::InstrumentModel& m) { m.SetDose(7.5); });
  link.Values().Command = CommandResetDose;

  EXPECT_EQ(link.WriteVariable(IdCommandAlias), 1);
  EXPECT_EQ(rows.back(), RowDone);
  EXPECT_EQ(link.ReceivedLength(), 14);
  const std::vector<uint8_t> expected = {0x02, 0x00, 0x00, 0x01, 0x01, 0x01, 0x08,
                                         0x01, 0x02, 0x00, 0x20, 0x86, 0x05, 0x20,
                                         0x08, 0x00, 0x00, 0x08, 0x00, 0x00};
  EXPECT_EQ(sim.LastRequest(), expected);
  EXPECT_EQ(sim.WritesSeen(IdCommand), 1U);
  EXPECT_EQ(sim.Values().Measurement.Dose, 0.0F);  // the instrument acted on it
}

TEST_F(LinkOverPty, ReadsBringEveryVariableAcross) {
  sim.SetFirmware("Build 2.14.7 of 2026");  // twenty characters, all of them travel
  sim.AdvanceSeconds(3);
  const ValueStorage truth = sim.Values();
  for (uint8_t id : {IdService, IdSettings, IdDeviceData, IdFirmware, IdScreen, IdMeasurement}) {
    EXPECT_EQ(link.ReadVariable(id), 1) << "variable " << int{id};
    EXPECT_EQ(rows.back(), RowReading);
  }
  const ValueStorage& got = link.Values();
  EXPECT_EQ(got.Service.Floats, truth.Service.Floats);
  EXPECT_EQ(got.Service.HvDac, truth.Service.HvDac);
  EXPECT_EQ(got.Settings.DoseRateAlarm, truth.Settings.DoseRateAlarm);
  EXPECT_EQ(got.Settings.ArchivePeriod, truth.Settings.ArchivePeriod);
  EXPECT_EQ(got.Settings.Flags, truth.Settings.Flags);
  EXPECT_STREQ(got.Firmware.data(), "Build 2.14.7 of 2026");
  EXPECT_EQ(got.DeviceData, truth.DeviceData);
  EXPECT_EQ(got.Measurement.DoseRate, truth.Measurement.DoseRate);
  EXPECT_EQ(got.Measurement.AccumulationTime, 3U);
  EXPECT_EQ(got.Measurement.DeviceClock, truth.Measurement.DeviceClock);
  // The screen is drawn when asked for; it shows the same reading.
  EXPECT_EQ(got.Screen, sim.Values().Screen);
  EXPECT_NE(std::count(got.Screen.begin(), got.Screen.end(), 0), ScreenBytes);
}

TEST_F(LinkOverPty, SettingsWriteArrivesUnchanged) {
  ASSERT_EQ(link.ReadVariable(IdSettings), 1);
  link.Values().Settings.ArchivePeriod = 40000;
  link.Values().Settings.DoseRateAlarm[1] = 2.5F;
  link.Values().Settings.Brightness = 250;
  EXPECT_EQ(link.WriteVariable(IdSettings), 1);
  EXPECT_EQ(rows.back(), RowDone);
  const UserSettings s = sim.Values().Settings;
  EXPECT_EQ(s.ArchivePeriod, 40000);
  EXPECT_EQ(s.DoseRateAlarm[1], 2.5F);
  EXPECT_EQ(s.Brightness, 250);
  EXPECT_EQ(s.Unused9, sim::FactoryUserSettings().Unused9);
}

TEST_F(LinkOverPty, NoInstrumentFailsAfterOneBoundedExchange) {
  sim::SilentPort silent(5);
  ASSERT_TRUE(silent.Ok());
  link.OpenPort(5);
  ASSERT_TRUE(link.PortOpen());
  const uint64_t before = link.ExchangeCount();
  const auto start = Clock::now();

  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  const double ms = MsSince(start);
  EXPECT_EQ(rows.back(), RowConnectionError);
  EXPECT_EQ(link.ExchangeCount() - before, 1U);
  EXPECT_EQ(link.ReceivedLength(), 14);  // nothing came; the request is still in the buffer
  // The reply window is 10 + 100 + 16 ms; it does not end early.
  EXPECT_GE(ms, 120.0);
  for (int i = 0; i < 50 && silent.BytesReceived() < 19; ++i) {
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(silent.BytesReceived(), 19U);
}

TEST_F(LinkOverPty, MissingPortLeavesNoPortAndOperationsFailQuietly) {
  link.OpenPort(12);  // closes COM3 first, then finds no COM12
  EXPECT_FALSE(link.PortOpen());
  EXPECT_EQ(link.OpenPortNumber(), 0);
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_EQ(rows.back(), RowConnectionError);
  EXPECT_EQ(link.WriteVariable(IdSettings), 0);
  EXPECT_EQ(rows.back(), RowConnectionError);
  EXPECT_EQ(link.ReadVariableWithRetry(IdArchive), 0);
  EXPECT_EQ(sim.TotalRequests(), 0U);
  EXPECT_EQ(link.LastOpenFailure(), OpenFailure::NoSuchPort);
}

// Why a port did not open, as the user needs to hear it: an adapter that is
// not plugged in, a device that is no serial port, and a port that another
// program holds (whoever runs the test, root included). Lacking permission is
// tried by vantorctl's tests, under a user who lacks it.
TEST_F(LinkOverPty, APortThatDoesNotOpenSaysWhy) {
  PinPort(4, home.Path() + "/ttyUSB-unplugged");
  PinPort(5, "/dev/null");
  link.OpenPort(4);
  EXPECT_EQ(link.LastOpenFailure(), OpenFailure::Missing);
  EXPECT_EQ(link.LastOpenPath(), home.Path() + "/ttyUSB-unplugged");
  link.OpenPort(5);
  EXPECT_EQ(link.LastOpenFailure(), OpenFailure::Failed);

  sim::PseudoTerminal other([](const uint8_t*, size_t) {});
  ASSERT_TRUE(other.Open());
  PinPort(6, QString::fromStdString(other.SlavePath()));
  link.OpenPort(6);
  ASSERT_TRUE(link.PortOpen());
  EXPECT_EQ(link.LastOpenFailure(), OpenFailure::None);
  DeviceLink second;
  second.OpenPort(6);
  EXPECT_FALSE(second.PortOpen());
  EXPECT_EQ(second.LastOpenFailure(), OpenFailure::Busy);
  link.ClosePort();  // let go: it opens again
  second.OpenPort(6);
  EXPECT_TRUE(second.PortOpen());
}

TEST_F(LinkOverPty, StrayLeadingByteFailsAndTheNextExchangeIsClean) {
  sim.InjectFault(Fault::StrayByte, IdMeasurement, 1);
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_EQ(rows.back(), RowConnectionError);
  // Whatever of that reply is still on the line is purged before the next.
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(rows.back(), RowReading);
}

// Each kind of spoilt reply fails the single read, stores nothing, and the
// next read works again.
class SpoiltReply : public LinkOverPty, public ::testing::WithParamInterface<Fault> {};

TEST_P(SpoiltReply, FailsWithoutStoringAndTheLineRecovers) {
  link.Values().Service.HvDac = 1;
  sim.InjectFault(GetParam(), IdService, 1);
  EXPECT_EQ(link.ReadVariable(IdService), 0);
  EXPECT_EQ(rows.back(), RowConnectionError);
  EXPECT_EQ(link.Values().Service.HvDac, 1);
  EXPECT_EQ(link.ReadVariable(IdService), 1);
  EXPECT_EQ(link.Values().Service.HvDac, sim.Values().Service.HvDac);
}

INSTANTIATE_TEST_SUITE_P(Faults, SpoiltReply,
                         ::testing::Values(Fault::Garble, Fault::Cut, Fault::ErrorReply,
                                           Fault::StrayByte, Fault::Silence));

TEST_F(LinkOverPty, CutReplyFailsEvenWhenTheBufferStillHoldsTheSameReply) {
  // Two identical good replies leave a complete copy of the next one in the
  // frame buffer; a cut third reply must not borrow its missing bytes.
  ASSERT_EQ(link.ReadVariable(IdService), 1);
  ASSERT_EQ(link.ReadVariable(IdService), 1);
  link.Values().Service.HvDac = 1;
  sim.InjectFault(Fault::Cut, IdService, 1);
  EXPECT_EQ(link.ReadVariable(IdService), 0);
  EXPECT_EQ(link.Values().Service.HvDac, 1);
}

TEST_F(LinkOverPty, SilenceForOneVariableLeavesTheOthersWorking) {
  sim.InjectFault(Fault::Silence, IdArchive);
  EXPECT_EQ(link.ReadVariable(IdArchive), 0);
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(link.ReadVariable(IdArchive), 0);
}

TEST_F(LinkOverPty, RetrySucceedsOnTheTwentyFirstAttempt) {
  sim.InjectFault(Fault::Garble, IdMeasurement, 20);
  EXPECT_EQ(link.ReadVariableWithRetry(IdMeasurement), 1);
  EXPECT_EQ(sim.RequestsSeen(IdMeasurement), 21U);
  ASSERT_EQ(rows.size(), 21U);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), RowConnectionError), 20);
  EXPECT_EQ(rows.back(), RowReading);

  rows.clear();
  sim.InjectFault(Fault::ErrorReply, IdCommand, 20);
  link.Values().Command = CommandStartArchiveTransfer;
  EXPECT_EQ(link.WriteVariableWithRetry(IdCommandAlias), 1);
  EXPECT_EQ(sim.WritesSeen(IdCommand), 21U);
  EXPECT_EQ(rows.back(), RowDone);
}

TEST_F(LinkOverPty, TwentyOneFailuresMakeExactlyTwentyOneExchanges) {
  sim.InjectFault(Fault::Garble, IdArchive);
  const uint64_t before = link.ExchangeCount();
  EXPECT_EQ(link.ReadVariableWithRetry(IdArchive), 0);
  EXPECT_EQ(link.ExchangeCount() - before, 21U);
  EXPECT_EQ(sim.RequestsSeen(IdArchive), 21U);
  EXPECT_EQ(rows.size(), 21U);
  EXPECT_EQ(rows.back(), RowConnectionError);

  sim.InjectFault(Fault::ErrorReply, IdCommand);
  EXPECT_EQ(link.WriteVariableWithRetry(IdCommandAlias), 0);
  EXPECT_EQ(sim.WritesSeen(IdCommand), 21U);
}

TEST_F(LinkOverPty, UnpluggedInstrumentFailsUntilItIsBackThenItsPortReopensByItself) {
  ASSERT_EQ(link.ReadVariable(IdMeasurement), 1);
  sim.Unplug();

  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_EQ(rows.back(), RowConnectionError);
  EXPECT_FALSE(link.PortOpen());
  EXPECT_EQ(link.LostPortNumber(), 3);
  EXPECT_EQ(link.WriteVariable(IdSettings), 0);
  EXPECT_EQ(rows.back(), RowConnectionError);

  // Plugged in again: a new terminal under the same COM number.
  ASSERT_TRUE(sim.Plug());
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(rows.back(), RowReading);
  EXPECT_EQ(link.OpenPortNumber(), 3);

  // A port the user closes (or replaces) is not reopened behind their back.
  sim.Unplug();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  link.ClosePort();
  ASSERT_TRUE(sim.Plug());
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_FALSE(link.PortOpen());
}

TEST_F(LinkOverPty, AnUnplugInsideAnExchangeIsSeenAtOnceAndTheFirstReadAfterReturnWorks) {
  std::vector<bool> presence;
  link.OnPortPresence = [&](bool present) { presence.push_back(present); };
  ASSERT_EQ(link.ReadVariable(IdMeasurement), 1);
  sim.SetLatency(60ms);
  std::thread puller([&] {
    std::this_thread::sleep_for(20ms);  // the request is out, the reply not yet
    sim.Unplug();
  });
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  puller.join();
  EXPECT_EQ(presence, std::vector<bool>{false});
  EXPECT_EQ(link.LostPortNumber(), 3);

  sim.SetLatency(0ms);
  ASSERT_TRUE(sim.Plug());
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(presence, (std::vector<bool>{false, true}));
}

TEST_F(LinkOverPty, WhatArrivesBetweenExchangesIsDroppedNotHoarded) {
  // A device babbling while nobody asks: the port must not keep it.
  sim::PseudoTerminal babbler([](const uint8_t*, size_t) {});
  ASSERT_TRUE(babbler.Open());
  auto flood = SerialTransport::Open(QString::fromStdString(babbler.SlavePath()));
  ASSERT_TRUE(flood);
  qint64 most = 0;
  for (int i = 0; i < 200; ++i) {
    babbler.Send(std::vector<uint8_t>(16 * 1024, 0x55), Clock::now());
    std::this_thread::sleep_for(1ms);
    QCoreApplication::processEvents();
    most = std::max(most, flood->Buffered());
  }
  EXPECT_LE(most, SerialTransport::ReadBufferLimit);
}

TEST_F(LinkOverPty, LateReplyInsideTheDeadlineIsAcceptedAndPastItRefused) {
  sim.SetLatency(95ms);
  auto start = Clock::now();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_GE(MsSince(start), 95.0);

  sim.SetLatency(200ms);
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_EQ(rows.back(), RowConnectionError);

  // The late reply lands after the exchange ended; the next exchange lets
  // it come and go before its own request.
  sim.SetLatency(0ms);
  sim.ResetCounters();
  EXPECT_EQ(link.ReadVariable(IdSettings), 1);
  EXPECT_EQ(sim.RequestsSeen(IdSettings), 1U);
}

TEST_F(LinkOverPty, PromptPaceReturnsAtOnceAndFixedPaceWaitsTheWholeWindow) {
  sim.SetLatency(2ms);
  auto start = Clock::now();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  const double prompt = MsSince(start);

  link.SetPace(DeviceLink::Pace::Fixed);
  start = Clock::now();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  const double fixed = MsSince(start);

  EXPECT_GE(prompt, 12.0);  // the quiet gap and the latency are kept
  EXPECT_GE(fixed, 110.0);
}

TEST_F(LinkOverPty, InstrumentStateChangesWhileTheLinkReads) {
  // The test thread changes the instrument while its thread answers. What
  // is checked is that the two never trip over each other, not the pace: on
  // a loaded machine a single reply may miss its window, so the reads retry
  // as the program's own polls would.
  std::atomic<bool> done{false};
  std::thread changer([&] {
    double background = 0.1;
    while (!done) {
      sim.SetBackground(background);
      sim.AdvanceSeconds(1);
      background = background > 10 ? 0.1 : background * 1.5;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  int ok = 0;
  for (int i = 0; i < 30; ++i) {
    ok += link.ReadVariableWithRetry(IdMeasurement);
  }
  done = true;
  changer.join();
  EXPECT_EQ(ok, 30);
}

}  // namespace
}  // namespace vantor
