// The link's timing rules on an in-memory line with a manual clock: every
// wait is checked to the microsecond and nothing really waits.
#include <gtest/gtest.h>

#include <tuple>

#include "DeviceLink.h"
#include "LinkOutcome.h"
#include "MemoryLine.h"
#include "MessageTable.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using test::MemoryLine;
using Clock = LineTransport::Clock;
using Bytes = std::vector<uint8_t>;

// A reply frame from the instrument (02 00 00) with `payload`.
Bytes Reply(uint8_t opcode, uint8_t typeByte, const Bytes& payload) {
  Bytes f = {0x01,
             0x01,
             0x01,
             0x02,
             0x00,
             0x00,
             opcode,
             typeByte,
             static_cast<uint8_t>(payload.size()),
             static_cast<uint8_t>(payload.size() >> 8)};
  f.resize(HeaderSize);
  WriteLe32(f.data() + 10, Checksum32(f.data(), 10));
  if (!payload.empty()) {
    f.insert(f.end(), payload.begin(), payload.end());
    f.resize(f.size() + 4);
    WriteLe32(f.data() + HeaderSize + payload.size(),
              Checksum32(payload.data(), static_cast<uint16_t>(payload.size())));
  }
  return f;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

class LinkTiming : public ::testing::Test {
 protected:
  // A new link, for a test that tries several lines.
  void Fresh() { owned_ = std::make_unique<DeviceLink>(); }
  // Attaches a line on which `peer` answers, as COM1.
  MemoryLine& Attach(MemoryLine::Peer peer) {
    auto line = std::make_unique<MemoryLine>(std::move(peer));
    MemoryLine& ref = *line;
    link().SetLineOpener(test::OpenerFor(std::move(line), 1));
    link().OpenPort(1);
    link().InitDictionary();
    link().SetOutcomeHandler([this](LinkStatus status) { rows.push_back(OutcomeRow(status)); });
    return ref;
  }
  // Attaches the virtual instrument's model.
  MemoryLine& AttachInstrument(test::InstrumentPeer peer = {}) {
    peer.Model = &model;
    return Attach(peer.AsPeer());
  }
  // A new link to `late`, an instrument with 20 archive records that
  // answers `latency` after each request.
  MemoryLine& AttachLate(sim::InstrumentModel& late, std::chrono::milliseconds latency) {
    late.PrefillArchive(20);
    late.SetLatency(latency);
    Fresh();
    test::InstrumentPeer peer;
    peer.Model = &late;
    return Attach(peer.AsPeer());
  }
  // A peer that answers every request with `reply` after `delay`, at once or
  // paced.
  MemoryLine& AttachScripted(Bytes reply, Clock::duration delay,
                             Clock::duration byteTime = Clock::duration::zero()) {
    return Attach([=](const Bytes&, Clock::time_point at) {
      return std::vector<MemoryLine::Delivery>{{at + delay, reply, byteTime}};
    });
  }

  DeviceLink& link() { return *owned_; }

  sim::InstrumentModel model;
  std::vector<int> rows;

 private:
  std::unique_ptr<DeviceLink> owned_ = std::make_unique<DeviceLink>();
};

TEST_F(LinkTiming, RequestGoesOutAfterAQuietGapOfTenMillisecondsBetweenTwoPurges) {
  MemoryLine& line = AttachInstrument();
  ASSERT_EQ(link().ReadVariable(IdMeasurement), 1);
  ASSERT_EQ(line.Writes().size(), 1U);
  const Bytes golden = {0x02, 0x00, 0x00, 0x01, 0x01, 0x01, 0x06, 0x7D, 0x01, 0x00,
                        0xA0, 0x4A, 0x04, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(line.Writes()[0].Bytes, golden);
  const std::vector<Clock::time_point> purges = line.Purges();
  ASSERT_GE(purges.size(), 2U);
  EXPECT_EQ(purges[purges.size() - 1] - purges[purges.size() - 2], 10ms);
  EXPECT_EQ(purges.back(), line.Writes()[0].At);

  // A successful exchange costs the next one nothing but its own gap.
  const Clock::time_point end = line.Now();
  ASSERT_EQ(link().ReadVariable(IdSettings), 1);
  EXPECT_EQ(line.Writes()[1].At - end, 10ms);
}

// The window may work in the time the link waits anyway (the quiet gap, the
// wait for a late reply to pass, the fixed pace's reply window); whatever it
// does there, every byte goes out at the same moment.
TEST_F(LinkTiming, TimeLentToTheWindowMovesNothingOnTheLine) {
  struct Run {
    std::vector<MemoryLine::Written> Writes;
    std::vector<Clock::time_point> Purges;
    std::vector<int> Results;
    int Offers = 0;
  };
  const auto run = [this](int lendPercent) {
    Fresh();
    sim::InstrumentModel instrument;
    instrument.InjectFault({sim::Fault::Garble, IdSettings, 1});
    instrument.InjectFault({sim::Fault::Silence, IdService, 1});
    test::InstrumentPeer peer;
    peer.Model = &instrument;
    peer.Latency = 2ms;
    MemoryLine& line = Attach(peer.AsPeer());
    Run r;
    link().OnIdle = [&](Clock::time_point now, Clock::time_point until) {
      ++r.Offers;
      // The window works for a share of what it was lent, on the line's clock.
      line.SleepFor((until - now) * lendPercent / 100);
      // A poll that slipped through cannot exchange in the middle of one.
      EXPECT_EQ(link().ReadVariable(IdMeasurement), 0);
    };
    for (const uint8_t id : {IdMeasurement, IdSettings, IdSettings, IdService, IdService}) {
      r.Results.push_back(link().ReadVariable(id));
    }
    link().SetPace(DeviceLink::Pace::Fixed);
    r.Results.push_back(link().ReadVariable(IdMeasurement));
    r.Writes = line.Writes();
    r.Purges = line.Purges();
    return r;
  };
  const Run asleep = run(0);
  EXPECT_EQ(asleep.Results, (std::vector<int>{1, 0, 1, 0, 1, 1}));
  for (const int share : {50, 100}) {
    const Run working = run(share);
    EXPECT_EQ(working.Results, asleep.Results) << share << "%";
    EXPECT_EQ(working.Offers, asleep.Offers);
    ASSERT_EQ(working.Writes.size(), asleep.Writes.size());
    for (size_t i = 0; i < asleep.Writes.size(); ++i) {
      EXPECT_EQ(working.Writes[i].At, asleep.Writes[i].At) << share << "%, write " << i;
      EXPECT_EQ(working.Writes[i].Bytes, asleep.Writes[i].Bytes);
    }
    EXPECT_EQ(working.Purges, asleep.Purges) << share << "%";
  }
  // Offered: four quiet gaps, the wait for the late reply and the fixed
  // pace's window; not the gap after the spoilt reply, which watches the
  // line for the rest of it.
  EXPECT_EQ(asleep.Offers, 6);
}

TEST_F(LinkTiming, HeaderIsTakenUpToTheReplyWindowPlusItsReadTimeOut) {
  // The acknowledgement of a command write, arriving whole at once.
  const Bytes ack = Reply(OpAck, TypeInt8, {});
  for (const auto& [delay, accepted] :
       std::vector<std::pair<Clock::duration, bool>>{{0ms, true}, {116ms, true}, {117ms, false}}) {
    Fresh();
    AttachScripted(ack, delay);
    link().Values().Command = CommandResetDose;
    EXPECT_EQ(link().WriteVariable(IdCommandAlias), accepted ? 1 : 0) << Ms(delay) << " ms";
    EXPECT_EQ(rows.back(), accepted ? RowDone : RowConnectionError);
  }
}

TEST_F(LinkTiming, PayloadAfterAPauseInsideTheWindowIsAccepted) {
  // The header comes at once, the rest 80 ms later: the whole reply is in
  // well inside the window, so the prompt read must take it as the fixed
  // pace does.
  test::InstrumentPeer peer;
  peer.HeaderPause = 80ms;
  AttachInstrument(peer);
  EXPECT_EQ(link().ReadVariable(IdService), 1);
  EXPECT_EQ(link().Values().Service.HvDac, sim::FactoryServiceParameters().HvDac);
  link().SetPace(DeviceLink::Pace::Fixed);
  EXPECT_EQ(link().ReadVariable(IdSettings), 1);
}

TEST_F(LinkTiming, PayloadDeadlineCountsFromTheLaterOfHeaderAndWindow) {
  // Variable 4 read reply: header at 1 ms, payload L + 4 bytes later.
  model.Protocol().InitDictionary();
  const uint16_t size = model.Protocol().EncodedSize(model.Protocol().LookupIndex(IdSettings));
  Bytes payload(size);
  payload[0] = IdSettings;
  model.Protocol().EncodeValue(model.Protocol().LookupIndex(IdSettings), payload.data());
  const Bytes whole = Reply(OpReadReply, TypeStruct, payload);
  const Bytes header(whole.begin(), whole.begin() + HeaderSize);
  const Bytes rest(whole.begin() + HeaderSize, whole.end());
  const auto deadline = 100ms + 2ms + std::chrono::milliseconds(rest.size());
  for (const auto& [late, accepted] :
       std::vector<std::pair<Clock::duration, bool>>{{deadline, true}, {deadline + 1ms, false}}) {
    Fresh();
    Attach([&, late = late](const Bytes&, Clock::time_point at) {
      return std::vector<MemoryLine::Delivery>{{at + 1ms, header, {}}, {at + late, rest, {}}};
    });
    EXPECT_EQ(link().ReadVariable(IdSettings), accepted ? 1 : 0) << Ms(late) << " ms";
  }
}

TEST_F(LinkTiming, AHeaderAnnouncingAnotherLengthFailsAtOnce) {
  // A checksummed header that announces 15999 bytes for a 2-byte value.
  Bytes header = Reply(OpReadReply, TypeText, {});
  header[8] = 0x7F;
  header[9] = 0x3E;
  WriteLe32(header.data() + 10, Checksum32(header.data(), 10));
  MemoryLine& line = AttachScripted(header, 1ms);
  link().Values().Settings.Brightness = 77;
  EXPECT_EQ(link().ReadVariable(IdSettings), 0);
  EXPECT_LT(line.Now() - line.Writes()[0].At, 5ms);  // no wait for 16 kB
  EXPECT_EQ(link().Values().Settings.Brightness, 77);
}

TEST_F(LinkTiming, AReadAnsweredWithoutItsValueFailsAndStoresNothing) {
  for (const Bytes& reply : {Reply(OpAck, TypeStruct, {}),
                             // A read reply whose type byte says it carries no value.
                             Reply(OpReadReply, 0, {IdScreen})}) {
    Fresh();
    AttachScripted(reply, 1ms);
    link().Values().Screen.fill(0x5A);
    EXPECT_EQ(link().ReadVariable(IdScreen), 0);
    EXPECT_EQ(rows.back(), RowConnectionError);
    EXPECT_EQ(link().Values().Screen[0], 0x5A);
  }
}

TEST_F(LinkTiming, LateRepliesAreNeverTakenForTheNextRequestsReply) {
  for (const auto latency : {140ms, 200ms}) {
    sim::InstrumentModel late;
    MemoryLine& line = AttachLate(late, latency);
    for (int i = 0; i < 6; ++i) {
      link().Values().Archive = ArchiveRecordValue{};
      EXPECT_EQ(link().ReadVariable(IdArchive), 0) << latency.count() << " ms, read " << i;
      EXPECT_TRUE(sim::IsSeparator(link().Values().Archive));
    }
    // After a failure the next request waits until a late reply has come
    // and gone.
    const auto& w = line.Writes();
    for (size_t i = 1; i < w.size(); ++i) {
      EXPECT_GE(w[i].At - w[i - 1].At, DeviceLink::LateReplyBound);
    }
  }
}

// A read that waits for late replies takes one that comes after the window
// as its own request's answer, up to its patience; any other read fails on
// it, and the wait changes nothing on the line but the next request's time.
TEST_F(LinkTiming, AReadAwaitingLateRepliesTakesAReplyLaterThanTheWindowUpToItsPatience) {
  for (const auto& [latency, patience, accepted] :
       std::vector<std::tuple<std::chrono::milliseconds, std::chrono::milliseconds, bool>>{
           {400ms, 500ms, true}, {480ms, 500ms, true}, {600ms, 500ms, false}}) {
    sim::InstrumentModel late;
    MemoryLine& line = AttachLate(late, latency);
    const std::string context = std::to_string(latency.count()) + " ms";
    link().Values().Archive = ArchiveRecordValue{};
    EXPECT_EQ(link().ReadVariableAwaitingLate(IdArchive, patience), accepted ? 1 : 0) << context;
    EXPECT_EQ(rows.back(), accepted ? RowReading : RowConnectionError) << context;
    if (accepted) {
      EXPECT_TRUE(link().LastReplyLate()) << context;
      EXPECT_GE(link().LastReplyDelay(), latency) << context;
      EXPECT_TRUE(sim::SameRecord(link().Values().Archive, late.Archive()[0])) << context;
      // The next read is an ordinary one, after the ordinary gap, and the
      // record after it is the second.
      late.SetLatency(0ms);
      const Clock::time_point before = line.Now();
      EXPECT_EQ(link().ReadVariable(IdArchive), 1);
      EXPECT_LT(line.Writes().back().At - before, 12ms);
      EXPECT_TRUE(sim::SameRecord(link().Values().Archive, late.Archive()[1]));
    } else {
      // Given up at the patience, not before.
      EXPECT_GE(line.Now() - line.Writes().back().At, patience) << context;
    }
  }
  // Without patience the same late reply is no answer.
  sim::InstrumentModel late;
  AttachLate(late, 400ms);
  EXPECT_EQ(link().ReadVariable(IdArchive), 0);
  EXPECT_FALSE(link().LastReplyLate());
}

TEST_F(LinkTiming, RetryingFormsMakeTwentyOneAttemptsAndSayEachFailure) {
  MemoryLine& line = Attach({});  // nothing answers
  int told = 0;
  link().OnAttemptFailed = [&] { ++told; };
  EXPECT_EQ(link().ReadVariableWithRetry(IdService), 0);
  EXPECT_EQ(line.Writes().size(), 21U);
  EXPECT_EQ(told, 21);
  EXPECT_EQ(rows.size(), 21U);
  EXPECT_EQ(link().LastReply(), DeviceLink::ReplyKind::Nothing);
}

TEST_F(LinkTiming, ASpoiltReplyIsToldFromSilenceAndFromARefusal) {
  model.InjectFault({sim::Fault::Garble, sim::AnyVariable, 1});
  model.InjectFault({sim::Fault::ErrorReply, sim::AnyVariable, 1});
  model.InjectFault({sim::Fault::Silence, sim::AnyVariable, 1});
  AttachInstrument();
  EXPECT_EQ(link().ReadVariable(IdService), 0);
  EXPECT_EQ(link().LastReply(), DeviceLink::ReplyKind::Spoilt);
  EXPECT_EQ(link().ReadVariable(IdService), 0);
  EXPECT_EQ(link().LastReply(), DeviceLink::ReplyKind::Refusal);
  EXPECT_EQ(link().ReadVariable(IdService), 0);
  EXPECT_EQ(link().LastReply(), DeviceLink::ReplyKind::Nothing);
  EXPECT_EQ(link().ReadVariable(IdService), 1);
  EXPECT_EQ(link().LastReply(), DeviceLink::ReplyKind::Accepted);
}

TEST_F(LinkTiming, APortThatWentAwayIsOpenedAgainByItselfWhenItIsBack) {
  test::InstrumentPeer peer;
  peer.Model = &model;
  auto first = std::make_unique<MemoryLine>(peer.AsPeer());
  MemoryLine* firstLine = first.get();
  std::unique_ptr<MemoryLine> second;  // the device once it is back
  std::vector<int> asked;
  link().SetLineOpener([&](int number) -> std::unique_ptr<LineTransport> {
    asked.push_back(number);
    if (first) {
      return std::move(first);
    }
    return std::move(second);
  });
  std::vector<bool> presence;
  link().OnPortPresence = [&](bool present) { presence.push_back(present); };
  link().OpenPort(3);
  ASSERT_EQ(link().ReadVariable(IdMeasurement), 1);

  firstLine->Unplug();
  EXPECT_EQ(link().ReadVariable(IdMeasurement), 0);  // a look for it at once
  EXPECT_EQ(link().LostPortNumber(), 3);
  EXPECT_EQ(link().ReadVariable(IdMeasurement), 0);  // still gone: one cheap look
  second = std::make_unique<MemoryLine>(peer.AsPeer());
  MemoryLine* secondLine = second.get();
  EXPECT_EQ(link().ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(link().OpenPortNumber(), 3);
  EXPECT_EQ(presence, (std::vector<bool>{false, true}));
  EXPECT_EQ(asked, (std::vector<int>{3, 3, 3, 3}));  // only the port that was in use

  // Gone and back between two operations, unseen: the next one finds the
  // line lost before its request goes out and sends it on the new one.
  secondLine->Unplug();
  second = std::make_unique<MemoryLine>(peer.AsPeer());
  EXPECT_EQ(link().ReadVariable(IdMeasurement), 1);
  EXPECT_EQ(presence, (std::vector<bool>{false, true, false, true}));
}

}  // namespace
}  // namespace vantor
