// How each operation on the line ends, as the link reports it: the front
// ends show one text for every failure, but the trace and whoever reads it
// must tell a silent instrument from a damaged reply, a refusal or a port
// that is gone.
#include <gtest/gtest.h>

#include <QStringList>
#include <tuple>

#include "DeviceLink.h"
#include "Dictionary.h"
#include "InstrumentModel.h"
#include "LinkStatus.h"
#include "MemoryLine.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using test::MemoryLine;

std::vector<LinkStatus> EveryStatus() {
  std::vector<LinkStatus> all;
  for (int i = 0; i <= static_cast<int>(LinkStatus::NoPort); ++i) {
    all.push_back(static_cast<LinkStatus>(i));
  }
  return all;
}

// A line whose writes never get out, as a stuck port's do.
class StuckLine : public LineTransport {
 public:
  explicit StuckLine(std::unique_ptr<MemoryLine> inner) : inner_(std::move(inner)) {}
  Clock::time_point Now() const override { return inner_->Now(); }
  void SleepFor(Clock::duration duration) override { inner_->SleepFor(duration); }
  void Purge() override { inner_->Purge(); }
  bool Write(const uint8_t*, size_t, Clock::time_point deadline) override {
    inner_->SleepFor(deadline - inner_->Now());
    return false;
  }
  size_t WaitForBytes(size_t want, Clock::time_point deadline) override {
    return inner_->WaitForBytes(want, deadline);
  }
  size_t Read(uint8_t* into, size_t count) override { return inner_->Read(into, count); }
  bool Lost() const override { return inner_->Lost(); }

 private:
  std::unique_ptr<MemoryLine> inner_;
};

class LinkStatusOnAModel : public ::testing::Test {
 protected:
  void SetUp() override {
    test::InstrumentPeer peer;
    peer.Model = &model;
    auto line = std::make_unique<MemoryLine>(peer.AsPeer());
    memory = line.get();
    link.SetLineOpener(test::OpenerFor(std::move(line), 1));
    link.OpenPort(1);
    link.InitDictionary();
    link.SetOutcomeHandler([this](LinkStatus status) { reported.push_back(status); });
  }

  sim::InstrumentModel model;
  DeviceLink link;
  MemoryLine* memory = nullptr;
  std::vector<LinkStatus> reported;
};

TEST_F(LinkStatusOnAModel, AReadThatCarriesItsValueIsReadAndAnAcknowledgedWriteIsWritten) {
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(link.LastStatus(), LinkStatus::Read);
  link.Values().Command = CommandResetDose;
  EXPECT_EQ(link.WriteVariable(IdCommandAlias), 1);
  EXPECT_EQ(link.LastStatus(), LinkStatus::Written);
  EXPECT_EQ(reported, (std::vector<LinkStatus>{LinkStatus::Read, LinkStatus::Written}));
}

TEST_F(LinkStatusOnAModel, ARetryReportsEveryAttemptAndEndsWithTheOneThatWent) {
  model.InjectFault({Fault::Silence, sim::AnyVariable, 2});
  EXPECT_EQ(link.ReadVariableWithRetry(IdMeasurement), 1);
  EXPECT_EQ(reported,
            (std::vector<LinkStatus>{LinkStatus::Timeout, LinkStatus::Timeout, LinkStatus::Read}));
}

TEST_F(LinkStatusOnAModel, AnUnpluggedDeviceIsAPortGoneUntilItComesBack) {
  memory->Unplug();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_EQ(link.LastStatus(), LinkStatus::PortGone);
  // The opener has no line to give again: still gone, not "no port".
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_EQ(reported, (std::vector<LinkStatus>{LinkStatus::PortGone, LinkStatus::PortGone}));
  EXPECT_EQ(link.LostPortNumber(), 1);
}

TEST(LinkStatusWithoutALine, NoPortOpenedOrOneThatWouldNotOpenIsNoPort) {
  DeviceLink link;
  link.InitDictionary();
  EXPECT_EQ(link.LastStatus(), LinkStatus::NoPort);  // before anything was asked
  std::vector<LinkStatus> reported;
  link.SetOutcomeHandler([&reported](LinkStatus status) { reported.push_back(status); });
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  link.SetLineOpener([](int) { return OpenedLine(); });
  link.OpenPort(4);
  EXPECT_EQ(link.WriteVariable(IdCommandAlias), 0);
  EXPECT_EQ(reported, (std::vector<LinkStatus>{LinkStatus::NoPort, LinkStatus::NoPort}));
}

TEST(LinkStatusWithoutALine, ARequestThatCannotGetOutIsUnsentNotATimeout) {
  sim::InstrumentModel model;
  test::InstrumentPeer peer;
  peer.Model = &model;
  auto stuck = std::make_shared<std::unique_ptr<LineTransport>>(
      std::make_unique<StuckLine>(std::make_unique<MemoryLine>(peer.AsPeer())));
  DeviceLink link;
  link.SetLineOpener([stuck](int) {
    OpenedLine opened;
    opened.Line = std::move(*stuck);
    return opened;
  });
  link.OpenPort(1);
  ASSERT_TRUE(link.PortOpen());
  link.InitDictionary();
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_EQ(link.LastStatus(), LinkStatus::Unsent);
  EXPECT_EQ(model.RequestsSeen(IdMeasurement), 0u);
}

TEST(LinkStatusName, EveryStatusHasADistinctWordThatReadsBack) {
  QStringList words;
  for (const LinkStatus status : EveryStatus()) {
    const QString word = LinkStatusName(status);
    EXPECT_FALSE(word.contains(QLatin1Char(' '))) << word.toStdString();
    EXPECT_EQ(LinkStatusFromName(word), status) << word.toStdString();
    EXPECT_FALSE(words.contains(word)) << word.toStdString();
    words << word;
  }
  for (const char* unknown : {"", "39", "Read", "port gone", "unknown"}) {
    EXPECT_FALSE(LinkStatusFromName(QString::fromLatin1(unknown)).has_value()) << unknown;
  }
}

// A fault of the instrument's reply to a read, and the status it must give.
class AFailedRead : public LinkStatusOnAModel,
                    public ::testing::WithParamInterface<std::tuple<Fault, LinkStatus>> {};

TEST_P(AFailedRead, SaysHowItFailed) {
  const auto [fault, expected] = GetParam();
  sim::FaultRule rule{fault, IdMeasurement, 1};
  rule.Delay = 200ms;
  model.InjectFault(rule);
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 0);
  EXPECT_EQ(link.LastStatus(), expected);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported.front(), expected);
  // The next read goes through: a failure's status does not stick.
  EXPECT_EQ(link.ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(link.LastStatus(), LinkStatus::Read);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AFailedRead,
    ::testing::Values(std::make_tuple(Fault::Silence, LinkStatus::Timeout),
                      std::make_tuple(Fault::LostReply, LinkStatus::Timeout),
                      std::make_tuple(Fault::Late, LinkStatus::Timeout),
                      std::make_tuple(Fault::Garble, LinkStatus::Damaged),
                      std::make_tuple(Fault::Cut, LinkStatus::Damaged),
                      std::make_tuple(Fault::BareAck, LinkStatus::Damaged),
                      std::make_tuple(Fault::OtherVariable, LinkStatus::Damaged),
                      std::make_tuple(Fault::ErrorReply, LinkStatus::Refused)));

}  // namespace
}  // namespace vantor
