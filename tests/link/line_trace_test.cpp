// The line's trace: the text of each event as people read it and the replay
// parses it, what a traced line records and when, and how much the ring in
// memory keeps.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "CoreApplication.h"
#include "DeviceLink.h"
#include "LineTrace.h"
#include "MemoryLine.h"
#include "MessageTable.h"
#include "WorkDir.h"

namespace vantor {
namespace {

using namespace std::chrono_literals;
using Clock = LineTransport::Clock;

TraceEvent Event(TraceKind kind, int64_t micros) {
  TraceEvent event;
  event.Kind = kind;
  event.Micros = micros;
  return event;
}

struct Golden {
  const char* Line;
  TraceEvent Event;
};

std::vector<Golden> GoldenLines() {
  TraceEvent open = Event(TraceKind::Open, 33343);
  open.Port = 3;
  open.Path = "/dev/serial/by-id/usb-FTDI My Cable-if00-port0";  // spaces and all
  TraceEvent refused = Event(TraceKind::Open, 1000000);
  refused.Port = 0;
  refused.Failure = OpenFailure::PermissionDenied;
  refused.Path = "/dev/ttyUSB0";
  TraceEvent write = Event(TraceKind::Write, 44103);
  write.Bytes = {0x02, 0x00, 0x00, 0x01, 0x01, 0x01, 0x06, 0x7d, 0x01, 0x00,
                 0xa0, 0x4a, 0x04, 0x20, 0x03, 0x03, 0x00, 0x00, 0x00};
  TraceEvent failed = Event(TraceKind::WriteFailed, 5);
  failed.Bytes = {0xff};
  TraceEvent read = Event(TraceKind::Read, 47235);
  read.Bytes = {0x01, 0x01, 0x01, 0x02, 0x00, 0x00, 0x07};
  TraceEvent purge = Event(TraceKind::Purge, 85);
  TraceEvent dropped = Event(TraceKind::Purge, 10190);
  dropped.Bytes = {0x0d, 0x0a};
  TraceEvent timeout = Event(TraceKind::Timeout, 126031);
  timeout.Got = 3;
  timeout.Want = 14;
  TraceEvent drop = Event(TraceKind::Drop, 410000);
  drop.Bytes = {0x55};
  TraceEvent close = Event(TraceKind::Close, 2000200);
  close.Port = 3;
  TraceEvent outcome = Event(TraceKind::Outcome, 22990);
  outcome.Status = LinkStatus::Timeout;
  TraceEvent gone = Event(TraceKind::Outcome, 22991);
  gone.Status = LinkStatus::PortGone;
  TraceEvent row = Event(TraceKind::Outcome, 22992);  // as version 1 noted it
  row.Value = 39;
  TraceEvent calendar = Event(TraceKind::Calendar, 12);
  calendar.Value = 1796840526;
  return {
      {"0.033343 open COM3 ok /dev/serial/by-id/usb-FTDI My Cable-if00-port0", open},
      {"1.000000 open - permission-denied /dev/ttyUSB0", refused},
      {"0.044103 write 020000010101067d0100a04a04200303000000", write},
      {"0.000005 write-failed ff", failed},
      {"0.047235 read 01010102000007", read},
      {"0.000085 purge", purge},
      {"0.010190 purge 0d0a", dropped},
      {"0.126031 timeout 3/14", timeout},
      {"0.410000 drop 55", drop},
      {"2.000113 lost", Event(TraceKind::Lost, 2000113)},
      {"2.000200 close COM3", close},
      {"0.022990 outcome timeout", outcome},
      {"0.022991 outcome port-gone", gone},
      {"0.022992 outcome 39", row},
      {"0.000012 calendar 1796840526", calendar},
  };
}

TEST(TraceFormat, EveryKindOfEventIsOneLineThatReadsBackToIt) {
  for (const Golden& golden : GoldenLines()) {
    SCOPED_TRACE(golden.Line);
    EXPECT_EQ(FormatTraceEvent(golden.Event), QString::fromUtf8(golden.Line));
    const std::optional<TraceEvent> parsed = ParseTraceEvent(QString::fromUtf8(golden.Line));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->Micros, golden.Event.Micros);
    EXPECT_EQ(parsed->Kind, golden.Event.Kind);
    EXPECT_EQ(parsed->Bytes, golden.Event.Bytes);
    EXPECT_EQ(parsed->Port, golden.Event.Port);
    EXPECT_EQ(parsed->Failure, golden.Event.Failure);
    EXPECT_EQ(parsed->Path, golden.Event.Path);
    EXPECT_EQ(parsed->Got, golden.Event.Got);
    EXPECT_EQ(parsed->Want, golden.Event.Want);
    EXPECT_EQ(parsed->Value, golden.Event.Value);
    EXPECT_EQ(parsed->Status, golden.Event.Status);
  }
}

TEST(TraceFormat, ATraceReadsItsNotesAndToleratesOnlyALastLineCutShort) {
  const QByteArray text =
      "# vantor line trace, version 1\n"
      "# started 2026-12-09T18:22:06.123Z\n"
      "# clock -10800 -10800\n"
      "# command [\"--port\",\"3\",\"settings\",\"restore\",\"my settings.json\"]\n"
      "0.000000 open COM3 ok /dev/pts/4\n"
      "0.010000 purge\n"
      "# exit 0\n"
      "0.020000 wri";
  QString error;
  const std::optional<ParsedTrace> trace = ParseTrace(text, &error);
  ASSERT_TRUE(trace.has_value()) << error.toStdString();
  EXPECT_EQ(trace->Events.size(), 2u);
  EXPECT_EQ(trace->Started, "2026-12-09T18:22:06.123Z");
  EXPECT_EQ(trace->UtcMinusLocal, -10800);
  ASSERT_TRUE(trace->Command.has_value());
  EXPECT_EQ(*trace->Command,
            (QStringList{"--port", "3", "settings", "restore", "my settings.json"}));
  EXPECT_EQ(trace->Exit, 0);

  // The same damage inside the trace is an error that names its line.
  EXPECT_FALSE(ParseTrace("0.000000 purge\n0.020000 wri\n0.030000 purge\n", &error));
  EXPECT_EQ(error, "line 2: unknown event \"wri\"");
  for (const char* bad :
       {"0.5 purge", "x.000000 purge", "0.000001 read 0", "0.000001 read zz", "0.000001 read",
        "0.000001 open COM300 ok /dev/x", "0.000001 open COM3 maybe /dev/x", "0.000001 timeout 3",
        "0.000001 lost now", "0.000001 outcome x"}) {
    EXPECT_FALSE(ParseTraceEvent(QString::fromLatin1(bad)).has_value()) << bad;
  }
}

TEST(TraceFormat, AnOutcomeIsAStatusOrTheMessageRowAnOlderTraceNoted) {
  const QByteArray older =
      "# vantor line trace, version 1\n"
      "0.010000 outcome 41\n"
      "0.020000 outcome 39\n";
  const QByteArray newer =
      "# vantor line trace, version 2\n"
      "0.010000 outcome read\n"
      "0.020000 outcome refused\n"
      "0.030000 outcome written\n";
  const std::optional<ParsedTrace> before = ParseTrace(older);
  const std::optional<ParsedTrace> now = ParseTrace(newer);
  ASSERT_TRUE(before.has_value());
  ASSERT_TRUE(now.has_value());
  ASSERT_EQ(before->Events.size(), 2u);
  EXPECT_EQ(before->Events[0].Value, 41);
  EXPECT_EQ(before->Events[1].Value, 39);
  ASSERT_EQ(now->Events.size(), 3u);
  EXPECT_EQ(now->Events[0].Status, LinkStatus::Read);
  EXPECT_EQ(now->Events[1].Status, LinkStatus::Refused);
  EXPECT_EQ(now->Events[2].Status, LinkStatus::Written);
  for (const TraceEvent& event : now->Events) {
    EXPECT_EQ(event.Value, 0) << "a status carries no row";
  }
  // Neither a word nor a row: no outcome.
  for (const char* bad : {"0.000001 outcome 0", "0.000001 outcome -39", "0.000001 outcome read 41",
                          "0.000001 outcome Read", "0.000001 outcome"}) {
    EXPECT_FALSE(ParseTraceEvent(QString::fromLatin1(bad)).has_value()) << bad;
  }
  EXPECT_EQ(FormatTraceEvent(OutcomeEvent(LinkStatus::Damaged)), "0.000000 outcome damaged");
}

class TracedLine : public ::testing::Test {
 protected:
  void SetUp() override {
    test::InstrumentPeer peer;
    peer.Model = &model;
    auto line = std::make_unique<test::MemoryLine>(peer.AsPeer());
    memory = line.get();
    link.SetLineOpener(TracingOpener(trace, test::OpenerFor(std::move(line), 1)));
    link.InitDictionary();
  }

  // The events kept so far, parsed back.
  std::vector<TraceEvent> Events() const {
    const std::optional<ParsedTrace> parsed = ParseTrace(trace.Recent());
    return parsed ? parsed->Events : std::vector<TraceEvent>{};
  }

  sim::InstrumentModel model;
  LineTrace trace;
  DeviceLink link;
  test::MemoryLine* memory = nullptr;
};

TEST_F(TracedLine, RecordsEveryCallOnTheLineAtItsTimeOnTheLinesOwnClock) {
  link.OpenPort(2);  // no such port: a search leaves no trace of it
  link.OpenPort(1);
  ASSERT_TRUE(link.PortOpen());
  // Noise before the request: the purge throws it away and says what it was.
  memory->Deliver({memory->Now(), {0xAA, 0xBB}, {}});
  ASSERT_EQ(link.ReadVariable(3), 1);
  memory->Unplug();
  EXPECT_EQ(link.ReadVariable(3), 0);
  link.ClosePort();

  const std::vector<TraceEvent> events = Events();
  std::vector<TraceKind> kinds;
  for (const TraceEvent& event : events) {
    kinds.push_back(event.Kind);
  }
  const std::vector<TraceKind> expected = {
      TraceKind::Open, TraceKind::Purge, TraceKind::Purge, TraceKind::Write, TraceKind::Read,
      TraceKind::Read, TraceKind::Purge, TraceKind::Purge, TraceKind::Lost,  TraceKind::Close};
  ASSERT_EQ(kinds, expected);
  EXPECT_EQ(events[0].Port, 1);
  EXPECT_EQ(events[1].Bytes, (std::vector<uint8_t>{0xAA, 0xBB}));
  EXPECT_EQ(events[3].Bytes,
            (std::vector<uint8_t>{0x02, 0x00, 0x00, 0x01, 0x01, 0x01, 0x06, 0x7d, 0x01, 0x00, 0xa0,
                                  0x4a, 0x04, 0x20, 0x03, 0x03, 0x00, 0x00, 0x00}));
  // The quiet gap of 10 ms between the purges and the request, to the
  // microsecond, and the header read as it arrived: 19 request bytes and 14
  // reply bytes at 86.806 us each.
  EXPECT_EQ(events[2].Micros - events[1].Micros, 10000);
  EXPECT_EQ(events[3].Micros, events[2].Micros);
  EXPECT_EQ(events[4].Bytes.size(), HeaderSize);
  EXPECT_NEAR(static_cast<double>(events[4].Micros - events[3].Micros), (19 + 14) * 86.806, 1.0);
}

TEST_F(TracedLine, AWaitThatEndsShortIsATimeoutAndOutcomesAndCalendarReadingsAreKept) {
  auto silent = std::make_unique<test::MemoryLine>(nullptr);
  link.SetLineOpener(TracingOpener(trace, test::OpenerFor(std::move(silent), 1)));
  link.SetOutcomeHandler(
      [this](LinkStatus status) { trace.Record(OutcomeEvent(status), Clock::now()); });
  FixedClock fixed(1796840526);
  TracedClock calendar(&fixed);
  calendar.SetTrace(&trace);
  link.OpenPort(1);
  calendar.Now();
  calendar.Now();  // the same second: noted once
  EXPECT_EQ(link.ReadVariable(0), 0);
  fixed.Advance(1);
  calendar.Now();

  std::vector<TraceEvent> events = Events();
  const auto find = [&events](TraceKind kind) {
    return std::count_if(events.begin(), events.end(),
                         [kind](const TraceEvent& e) { return e.Kind == kind; });
  };
  EXPECT_EQ(find(TraceKind::Calendar), 2);
  EXPECT_EQ(find(TraceKind::Timeout), 1);
  const auto timeout = std::find_if(events.begin(), events.end(), [](const TraceEvent& e) {
    return e.Kind == TraceKind::Timeout;
  });
  EXPECT_EQ(timeout->Got, 0u);
  EXPECT_EQ(timeout->Want, HeaderSize);
  EXPECT_EQ(events.back().Kind, TraceKind::Calendar);
  EXPECT_EQ(events.back().Value, 1796840527);
  EXPECT_EQ(events[events.size() - 2].Kind, TraceKind::Outcome);
  EXPECT_EQ(events[events.size() - 2].Status, LinkStatus::Timeout);
}

TEST(LineTraceRing, KeepsTheLastTenMinutesAndNoMoreThanItsBytes) {
  LineTrace trace;
  const Clock::time_point start = trace.Start();
  for (int minute = 0; minute <= 15; ++minute) {
    TraceEvent event;
    event.Kind = TraceKind::Lost;
    trace.Record(event, start + std::chrono::minutes(minute));
  }
  std::optional<ParsedTrace> parsed = ParseTrace(trace.Recent());
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->Events.size(), 11u);  // minutes 5 to 15
  EXPECT_EQ(parsed->Events.front().Micros, 5 * 60 * 1000000LL);

  // Big events within a second: only the newest that fit the bytes.
  TraceEvent big;
  big.Kind = TraceKind::Read;
  big.Bytes.assign(100000, 0x5A);
  for (int i = 0; i < 40; ++i) {
    trace.Record(big, start + std::chrono::minutes(16));
  }
  const QByteArray recent = trace.Recent();
  EXPECT_LE(static_cast<size_t>(recent.size()), LineTrace::RingBytes + 1000);
  EXPECT_GE(static_cast<size_t>(recent.size()), LineTrace::RingBytes - 200001);
}

TEST(LineTraceFile, StartsWithWhatTheRingHoldsAndTakesEveryLaterEvent) {
  test::EnsureCoreApplication();
  QTemporaryDir dir;
  LineTrace trace;
  trace.Record(Event(TraceKind::Lost, 0), trace.Start() + 1ms);
  ASSERT_TRUE(trace.WriteTo(dir.filePath("t.trace")));
  trace.Note("exit 0");
  trace.Record(Event(TraceKind::Lost, 0), trace.Start() + 2ms);
  ASSERT_TRUE(trace.Flush());
  const QByteArray file = test::ReadBytes(dir.filePath("t.trace"));
  EXPECT_TRUE(file.contains("0.001000 lost\n# exit 0\n0.002000 lost\n")) << file.toStdString();
  EXPECT_TRUE(file.startsWith("# vantor line trace, version 2\n# started "));

  QString error;
  LineTrace other;
  EXPECT_FALSE(other.WriteTo(dir.filePath("no/such/folder/t.trace"), &error));
  EXPECT_FALSE(error.isEmpty());
}

// A trace goes along with reports: its notes, the command line above all,
// never carry a password, in the ring or in the file, and still read back.
TEST(LineTraceFile, NotesCarryNoPassword) {
  test::EnsureCoreApplication();
  QTemporaryDir dir;
  LineTrace trace;
  ASSERT_TRUE(trace.WriteTo(dir.filePath("t.trace")));
  trace.Note(R"(command ["--history","postgresql://u:s3cret@db/h","live"])");
  trace.Note("history postgresql://u@db/h?password=s3cret");
  ASSERT_TRUE(trace.Flush());
  for (const QByteArray& text : {trace.Recent(), test::ReadBytes(dir.filePath("t.trace"))}) {
    EXPECT_FALSE(text.contains("s3cret")) << text.toStdString();
    const std::optional<ParsedTrace> parsed = ParseTrace(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->Command, (QStringList{"--history", "postgresql://u:***@db/h", "live"}));
  }
}

}  // namespace
}  // namespace vantor
