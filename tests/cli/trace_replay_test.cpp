// Every trace in tests/data/traces plays back through the program on the
// manual clock: the program must make exactly the recorded requests, come to
// the recorded outcome of every exchange (a status; in a trace of version 1
// the message row it showed) and, for a vantorctl command, end
// with the recorded exit status. scripts/record-traces recorded them from the
// virtual instrument; a trace of a real instrument becomes a test by being
// put into that folder (with any file its command names beside it).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <string>

#include "CoreApplication.h"
#include "DeviceLink.h"
#include "Frame.h"
#include "LineTrace.h"
#include "LinkOutcome.h"
#include "PortMap.h"
#include "TempConfigHome.h"
#include "TraceReplay.h"
#include "Vantorctl.h"
#include "WorkDir.h"

namespace vantor {
namespace {

QString TraceDirectory() {
  return QStringLiteral(TRACE_DIRECTORY);
}

std::vector<std::string> TraceFiles() {
  std::vector<std::string> names;
  for (const QString& name :
       QDir(TraceDirectory()).entryList({QStringLiteral("*.trace")}, QDir::Files, QDir::Name)) {
    names.push_back(name.toStdString());
  }
  return names;
}

// A trace of version 1 noted the message row of each outcome, not its status.
bool NotesRows(const std::vector<TraceEvent>& events) {
  return std::any_of(events.begin(), events.end(), [](const TraceEvent& event) {
    return event.Kind == TraceKind::Outcome && event.Value != 0;
  });
}

// The outcomes in order, as statuses, or as the rows panel 0 showed for them.
std::vector<std::string> Outcomes(const std::vector<TraceEvent>& events, bool asRows) {
  std::vector<std::string> outcomes;
  for (const TraceEvent& event : events) {
    if (event.Kind != TraceKind::Outcome) {
      continue;
    }
    if (asRows) {
      outcomes.push_back(std::to_string(event.Value != 0 ? event.Value : OutcomeRow(event.Status)));
    } else {
      outcomes.push_back(LinkStatusName(event.Status).toStdString());
    }
  }
  return outcomes;
}

void ExpectOutcomesAsRecorded(const std::vector<TraceEvent>& again, const ParsedTrace& trace) {
  const bool rows = NotesRows(trace.Events);
  EXPECT_EQ(Outcomes(again, rows), Outcomes(trace.Events, rows));
}

// Standard output goes nowhere while it lives: a command's listing is not
// what the replay checks.
class SilencedOutput {
 public:
  SilencedOutput() {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  ~SilencedOutput() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  SilencedOutput(const SilencedOutput&) = delete;
  SilencedOutput& operator=(const SilencedOutput&) = delete;

 private:
  int saved_;
};

// vantorctl's command again, its lines and clock the replay's.
void ReplayCommand(const ParsedTrace& trace, test::TraceReplay& replay, const test::WorkDir& work) {
  cli::Surroundings around;
  around.OpenPort = [&replay](int number) { return replay.Open(number); };
  around.OpenDevice = [&replay](const QString&) { return replay.Open(0); };
  around.Calendar = &replay.Calendar();
  around.SteadyNow = [&replay] { return replay.Now(); };
  around.Sleep = [&replay](LineTransport::Clock::duration d) { replay.Sleep(d); };
  // The files the command names come from beside the trace.
  for (const QString& word : *trace.Command) {
    const QString beside = TraceDirectory() + QLatin1Char('/') + word;
    if (!word.contains(QLatin1Char('/')) && QFileInfo(beside).isFile()) {
      QFile::copy(beside, work.File(word));
    }
  }
  const QString again = work.File(QStringLiteral("again.trace"));
  int status = -1;
  {
    const SilencedOutput quiet;
    status = cli::RunVantorctl(
        QStringList{QStringLiteral("vantorctl"), QStringLiteral("--trace"), again} + *trace.Command,
        around);
  }
  if (trace.Exit) {
    EXPECT_EQ(status, *trace.Exit);
  }
  const std::optional<ParsedTrace> replayed = ParseTrace(test::ReadBytes(again));
  ASSERT_TRUE(replayed.has_value());
  ExpectOutcomesAsRecorded(replayed->Events, trace);
}

// A trace of the window, which no command repeats: each recorded request is
// made again through the link, as a read or a write of its variable.
void ReplayRequests(const ParsedTrace& trace, test::TraceReplay& replay) {
  DeviceLink link;
  link.InitDictionary();
  std::vector<TraceEvent> outcomes;
  link.SetOutcomeHandler(
      [&outcomes](LinkStatus status) { outcomes.push_back(OutcomeEvent(status)); });
  link.SetLineOpener([&replay](int number) { return replay.Open(number); });
  size_t opens = 0;
  for (const TraceEvent& event : trace.Events) {
    if (event.Kind == TraceKind::Open) {
      // The link opens a port it lost again by itself.
      if (replay.OpensMade() <= opens) {
        link.OpenPort(event.Port);
      }
      ++opens;
      continue;
    }
    if ((event.Kind != TraceKind::Write && event.Kind != TraceKind::WriteFailed) ||
        event.Bytes.size() < HeaderSize + 1) {
      continue;
    }
    const uint8_t opcode = event.Bytes[6];
    const uint8_t id = event.Bytes[HeaderSize];
    if (opcode == OpWrite) {
      const uint16_t length = ReadLe16(event.Bytes.data() + 8);
      Station& station = link.Protocol();
      ASSERT_TRUE(station.DecodeValue(station.LookupIndex(id), event.Bytes.data() + HeaderSize + 1,
                                      length - 1u))
          << "a recorded write of variable " << int(id) << " that the dictionary cannot take";
      link.WriteVariable(id);
    } else {
      link.ReadVariable(id);
    }
  }
  ExpectOutcomesAsRecorded(outcomes, trace);
}

class RecordedTrace : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() { test::EnsureCoreApplication(); }
};

TEST_P(RecordedTrace, PlaysBackWithTheRecordedRequestsAndOutcomes) {
  QString error;
  const std::optional<ParsedTrace> trace = ParseTrace(
      test::ReadBytes(TraceDirectory() + QLatin1Char('/') + QString::fromStdString(GetParam())),
      &error);
  ASSERT_TRUE(trace.has_value()) << error.toStdString();
  ASSERT_FALSE(trace->Events.empty());

  TempConfigHome home;
  const test::WorkDir work;
  // The ports the trace opened are in the port map, as they were.
  for (const TraceEvent& event : trace->Events) {
    if (event.Kind == TraceKind::Open && event.Port != 0 && !event.Path.isEmpty()) {
      PinPort(event.Port, event.Path);
    }
  }
  test::TraceReplay replay(*trace);
  if (trace->Command) {
    ReplayCommand(*trace, replay, work);
  } else {
    ReplayRequests(*trace, replay);
  }
  const QStringList differences = replay.Differences();
  EXPECT_TRUE(differences.isEmpty()) << differences.join(QLatin1Char('\n')).toStdString();
  EXPECT_GT(replay.RequestsMatched(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Traces, RecordedTrace, ::testing::ValuesIn(TraceFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           QString name =
                               QFileInfo(QString::fromStdString(info.param)).completeBaseName();
                           name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")),
                                        QStringLiteral("_"));
                           return name.toStdString();
                         });

}  // namespace
}  // namespace vantor
