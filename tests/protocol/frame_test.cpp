#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Station.h"

using namespace vantor;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Head(const FrameBuffer& frame, size_t length) {
  return Bytes(frame.begin(), frame.begin() + static_cast<long>(length));
}

Station Requester() {
  Station s;
  s.InitDictionary();
  return s;
}

Station Instrument() {
  Station s;
  s.SetOwnAddress(DefaultDeviceAddress);
  s.InitDictionary();
  return s;
}

// Puts `bytes` into a frame buffer that otherwise holds `fill`.
FrameBuffer Load(const Bytes& bytes, uint8_t fill = 0) {
  FrameBuffer frame;
  frame.fill(fill);
  std::copy(bytes.begin(), bytes.end(), frame.begin());
  return frame;
}

}  // namespace

TEST(Checksum32, KnownAnswers) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  const uint8_t word[] = {0x12, 0x34};
  const uint8_t three[] = {0x01, 0x02, 0x03};
  const uint8_t one[] = {0xA7};
  EXPECT_EQ(Checksum32(abc, 0), 0u);
  EXPECT_EQ(Checksum32(one, 1), 0xA7u);
  EXPECT_EQ(Checksum32(word, 2), 0x1234u);
  EXPECT_EQ(Checksum32(three, 3), 0x0223u);
  EXPECT_EQ(Checksum32(abc, 3), 0x6E43u);
}

TEST(Frames, ReadRequestForTheMeasurementRecordIsTheWorkedExample) {
  Station s = Requester();
  FrameBuffer frame{};
  const size_t n = s.BuildReadRequest(frame, s.LookupIndex(IdMeasurement), DefaultDeviceAddress);
  const Bytes expected = {0x02, 0x00, 0x00, 0x01, 0x01, 0x01, 0x06, 0x7D, 0x01, 0x00,
                          0xA0, 0x4A, 0x04, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Head(frame, n), expected);

  FrameBuffer service{};
  ASSERT_EQ(s.BuildReadRequest(service, s.LookupIndex(IdService), DefaultDeviceAddress), 19u);
  for (size_t i = 0; i < 19; ++i) {
    if (i == 14 || i == 15) {
      EXPECT_EQ(service[i], 0x03) << i;
    } else {
      EXPECT_EQ(service[i], expected[i]) << i;
    }
  }
}

TEST(Frames, WriteOfTheCommandByteIsTheTwentyByteExample) {
  Station s = Requester();
  s.Values.Command = 0;
  FrameBuffer frame{};
  const size_t n = s.BuildWriteRequest(frame, s.LookupIndex(IdCommandAlias), DefaultDeviceAddress);
  const Bytes expected = {0x02, 0x00, 0x00, 0x01, 0x01, 0x01, 0x08, 0x01, 0x02, 0x00,
                          0x20, 0x86, 0x05, 0x20, 0x08, 0x00, 0x00, 0x08, 0x00, 0x00};
  EXPECT_EQ(Head(frame, n), expected);
}

TEST(Frames, AcknowledgeOfASettingsWriteIsTheWorkedExample) {
  Station device = Instrument();
  Bytes sent;
  device.OnFrameReady = [&](const uint8_t* f, size_t n) { sent.assign(f, f + n); };
  FrameBuffer frame{};
  device.BuildReply(frame, OpAck, 0x7D, 0);
  const Bytes expected = {0x01, 0x01, 0x01, 0x02, 0x00, 0x00, 0x01,
                          0x7D, 0x00, 0x00, 0xA0, 0x2F, 0x91, 0x10};
  EXPECT_EQ(sent, expected);
}

TEST(Frames, ReadOfTheWriteOnlyCommandByteIsRefusedAsInTheWorkedExample) {
  Station host = Requester();
  Station device = Instrument();
  Bytes sent;
  device.OnFrameReady = [&](const uint8_t* f, size_t n) { sent.assign(f, f + n); };
  FrameBuffer frame{};
  const size_t n = host.BuildReadRequest(frame, host.LookupIndex(IdCommand), DefaultDeviceAddress);
  EXPECT_EQ(device.HandleRequest(frame, n), 1);
  const Bytes expected = {0x01, 0x01, 0x01, 0x02, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00,
                          0x00, 0x61, 0x91, 0x10, 0x04, 0x04, 0x00, 0x00, 0x00};
  EXPECT_EQ(sent, expected);
  FrameBuffer reply = Load(sent);
  EXPECT_EQ(host.ParseReply(reply, sent.size()), 0) << "an error reply is a failure";
}

TEST(FindReplyStart, AcceptsOnlyRepliesToTheHostFromAnotherStation) {
  const Address noStation{};
  const Bytes reply = {0x01, 0x01, 0x01, 0x02, 0x00, 0x00, 0x01,
                       0x7D, 0x00, 0x00, 0xA0, 0x2F, 0x91, 0x10};
  EXPECT_EQ(FindReplyStart(reply.data(), reply.size(), noStation), 0);
  EXPECT_EQ(FindReplyStart(reply.data(), 13, noStation), NoStart);

  Bytes fromNobody = reply;
  fromNobody[3] = fromNobody[4] = fromNobody[5] = 0;
  EXPECT_EQ(FindReplyStart(fromNobody.data(), fromNobody.size(), noStation), NoStart);

  // The request just sent, still in the buffer, is found at offset 3.
  const Bytes request = {0x02, 0x00, 0x00, 0x01, 0x01, 0x01, 0x06, 0x7D, 0x01, 0x00,
                         0xA0, 0x4A, 0x04, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(FindReplyStart(request.data(), request.size(), noStation), 3);

  Bytes stray = {0x55};
  stray.insert(stray.end(), reply.begin(), reply.end());
  EXPECT_EQ(FindReplyStart(stray.data(), stray.size(), noStation), 1);
}

TEST(ParseReply, HeaderOnlyAckSucceeds) {
  Station host = Requester();
  FrameBuffer frame =
      Load({0x01, 0x01, 0x01, 0x02, 0x00, 0x00, 0x01, 0x7D, 0x00, 0x00, 0xA0, 0x2F, 0x91, 0x10});
  EXPECT_EQ(host.ParseReply(frame, 14), 1);
  EXPECT_EQ(host.ParseReply(frame, 13), 0);
  frame[12] ^= 1;
  EXPECT_EQ(host.ParseReply(frame, 14), 0) << "header checksum";
}

TEST(ParseReply, PayloadAnnouncedBeyondTheMaximumIsTooLong) {
  Station host = Requester();
  FrameBuffer frame{};
  const Bytes head = {0x01, 0x01, 0x01, 0x02, 0x00, 0x00, OpReadReply, 0x7D, 0x80, 0x3E};  // 16000
  std::copy(head.begin(), head.end(), frame.begin());
  WriteLe32(frame.data() + 10, Checksum32(frame.data(), 10));
  EXPECT_EQ(host.ParseReply(frame, frame.size()), 0);
  EXPECT_EQ(host.LastParse().Status, StatusTooLong);
}

namespace {

// A read reply built by an instrument whose storage holds `device`'s values.
Bytes ReadReply(Station& device, uint8_t id) {
  Station host = Requester();
  Bytes sent;
  device.OnFrameReady = [&](const uint8_t* f, size_t n) { sent.assign(f, f + n); };
  FrameBuffer frame{};
  const size_t n = host.BuildReadRequest(frame, host.LookupIndex(id), DefaultDeviceAddress);
  device.HandleRequest(frame, n);
  return sent;
}

}  // namespace

TEST(ParseReply, ReadReplyWithEvenTypeByteSucceedsAndStoresNothing) {
  Station device = Instrument();
  device.Values.Measurement.DoseRate = 4.0f;
  Bytes reply = ReadReply(device, IdMeasurement);
  reply[7] = 0;
  WriteLe32(reply.data() + 10, Checksum32(reply.data(), 10));
  Station host = Requester();
  FrameBuffer frame = Load(reply);
  EXPECT_EQ(host.ParseReply(frame, reply.size()), 1);
  EXPECT_EQ(host.Values.Measurement.DoseRate, 0.0f);
}

TEST(ParseReply, FirmwareTextIsAcceptedAtAnyLength) {
  Station device;
  device.SetOwnAddress(DefaultDeviceAddress);
  std::strcpy(device.Values.Firmware.data(), "v2.13ru");
  device.InitDictionary();  // the instrument sizes its text at start-up
  const Bytes reply = ReadReply(device, IdFirmware);
  ASSERT_EQ(ReadLe16(reply.data() + 8), 9);
  Station host = Requester();
  FrameBuffer frame = Load(reply);
  EXPECT_EQ(host.ParseReply(frame, reply.size(), host.LookupIndex(IdFirmware)), 1);
  EXPECT_STREQ(host.Values.Firmware.data(), "v2.13ru");
}

TEST(ParseReply, ReplyNamingAnotherVariableThanRequestedFailsAndStoresNothing) {
  Station device = Instrument();
  device.Values.Measurement.DoseRate = 7.0f;
  const Bytes reply = ReadReply(device, IdMeasurement);
  Station host = Requester();
  FrameBuffer frame = Load(reply);
  EXPECT_EQ(host.ParseReply(frame, reply.size(), host.LookupIndex(IdSettings)), 0);
  EXPECT_EQ(host.Values.Measurement.DoseRate, 0.0f);
  EXPECT_EQ(host.ParseReply(frame, reply.size(), host.LookupIndex(IdMeasurement)), 1);
  EXPECT_EQ(host.Values.Measurement.DoseRate, 7.0f);
}

TEST(ParseReply, CutPayloadFailsEvenWhenStaleBytesWouldMatch) {
  Station device = Instrument();
  device.Values.Measurement.DoseRate = 7.0f;
  const Bytes reply = ReadReply(device, IdMeasurement);
  Station host = Requester();
  // The whole reply sits in the buffer from an earlier exchange, but only part
  // of it arrived this time.
  FrameBuffer frame = Load(reply);
  EXPECT_EQ(host.ParseReply(frame, reply.size() - 3), 0);
  EXPECT_EQ(host.LastParse().Status, StatusChecksum);
  EXPECT_EQ(host.Values.Measurement.DoseRate, 0.0f);
}

TEST(ParseReply, WrongLengthOrLayoutLeavesStorageUntouched) {
  Station device = Instrument();
  device.Values.Settings.ArchivePeriod = 60;
  Bytes reply = ReadReply(device, IdSettings);
  Station host = Requester();
  reply[14 + 1] = 12;  // member count
  WriteLe32(reply.data() + 14 + 50, Checksum32(reply.data() + 14, 50));
  FrameBuffer frame = Load(reply);
  EXPECT_EQ(host.ParseReply(frame, reply.size()), 0);
  EXPECT_EQ(host.Values.Settings.ArchivePeriod, 0);
}

TEST(HandleRequest, RefusesBadRequestsWithTheirErrorCodes) {
  Station host = Requester();
  Station device = Instrument();
  Bytes sent;
  device.OnFrameReady = [&](const uint8_t* f, size_t n) { sent.assign(f, f + n); };

  FrameBuffer frame{};
  size_t n = host.BuildWriteRequest(frame, IndexSettings, DefaultDeviceAddress);
  frame[n - 1] ^= 0xFF;  // payload checksum
  EXPECT_EQ(device.HandleRequest(frame, n), 1);
  ASSERT_EQ(sent.size(), 19u);
  EXPECT_EQ(sent[6], OpError);
  EXPECT_EQ(sent[14], ErrChecksum);

  n = host.BuildWriteRequest(frame, host.LookupIndex(IdDeviceData), DefaultDeviceAddress);
  device.HandleRequest(frame, n);
  EXPECT_EQ(sent[14], ErrRefused) << "variable 12 is read-only";

  n = host.BuildReadRequest(frame, IndexService, DefaultDeviceAddress);
  frame[10] ^= 1;
  sent.clear();
  EXPECT_EQ(device.HandleRequest(frame, n), 0) << "a bad header is ignored";
  EXPECT_TRUE(sent.empty());

  // A write whose length differs from the encoded size.
  n = host.BuildWriteRequest(frame, IndexCommand, DefaultDeviceAddress);
  frame[8] = 3;
  WriteLe32(frame.data() + 10, Checksum32(frame.data(), 10));
  frame[16] = 0;
  WriteLe32(frame.data() + 17, Checksum32(frame.data() + 14, 3));
  device.HandleRequest(frame, 21);
  EXPECT_EQ(sent[14], ErrLength);
}

TEST(HandleRequest, AcceptedWriteReportsTheStoredVariableOnce) {
  Station host = Requester();
  Station device = Instrument();
  std::vector<int> stored;
  device.OnFrameReady = [](const uint8_t*, size_t) {};
  device.OnVariableStored = [&](uint8_t id) { stored.push_back(id); };
  FrameBuffer frame{};
  host.Values.Command = CommandEraseArchive;
  size_t n = host.BuildWriteRequest(frame, host.LookupIndex(IdCommandAlias), DefaultDeviceAddress);
  device.HandleRequest(frame, n);
  n = host.BuildReadRequest(frame, IndexMeasurement, DefaultDeviceAddress);
  device.HandleRequest(frame, n);
  EXPECT_EQ(stored, std::vector<int>{IdCommand});
  EXPECT_EQ(device.Values.Command, CommandEraseArchive);
}

TEST(FindRequestStart, AcceptsOwnAndBroadcastAddresses) {
  const Address own = DefaultDeviceAddress;
  Bytes request(19, 0);
  std::copy(own.begin(), own.end(), request.begin());
  EXPECT_EQ(FindRequestStart(request.data(), request.size(), own), 0);
  Bytes broadcast(19, 0);
  broadcast[1] = broadcast[2] = broadcast[3] = 0xFF;
  EXPECT_EQ(FindRequestStart(broadcast.data(), broadcast.size(), own), 1);
  Bytes other(19, 0x33);
  EXPECT_EQ(FindRequestStart(other.data(), other.size(), own), NoStart);
  EXPECT_EQ(FindRequestStart(request.data(), 10, own), NoStart);
}
