#include "Vantorctl.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <memory>

#include "CommandLine.h"
#include "Commands.h"
#include "ConnectionManager.h"
#include "HistoryLocation.h"
#include "LineTrace.h"
#include "PortMap.h"
#include "PortSearch.h"
#include "ReturningPort.h"
#include "Secrets.h"
#include "SeveralInstruments.h"
#include "Terminal.h"

namespace vantor::cli {
namespace {

// The suffix of an instrument's file in a folder of several.
QString FileSuffix(const CommandForm& form, Format format) {
  if (form.File == SeveralRun::FileName::Argument) {
    return QStringLiteral(".json");  // a settings backup
  }
  switch (format) {
    case Format::Csv:
      return QStringLiteral(".csv");
    case Format::Json:
      return QStringLiteral(".jsonl");
    default:
      return QStringLiteral(".txt");
  }
}

// The exit status for a search that found a port there but closed to the
// user, after saying why; 0 for any other failure.
int Refused(const InstrumentSearch& search) {
  const QString text = SearchRefusalText(search, 1);
  if (text.isEmpty()) {
    return 0;
  }
  Complain(text);
  // A stale lock the user may not remove is a matter of rights, not of
  // another program.
  return search.Refusal == OpenFailure::Busy ? ExitBusy : ExitPermission;
}

// The same for a single port that did not open.
int Refused(OpenFailure failure, int port, const QString& path) {
  InstrumentSearch search;
  search.Refusal = failure;
  search.RefusedPort = port;
  search.RefusedPath = path;
  return Refused(search);
}

}  // namespace

int FindTheInstrument(Context& c, int port, const QString& device) {
  c.Link.InitDictionary();
  c.Link.SetDeviceAddress(DefaultDeviceAddress);
  const auto answers = [&c] {
    c.Identification = ReadSettings(c.Link);
    return c.Identification.Identified();
  };
  if (!device.isEmpty()) {
    // Any number will do: the opener opens the one device named.
    if (FindInstrument(c.Link, c.Clock, ConnectChosenPort, FirstPortNumber, answers).Port == 0) {
      if (c.Link.PortOpen()) {
        Complain(QStringLiteral("no instrument answers on %1").arg(device));
      } else if (const int status = Refused(c.Link.LastOpenFailure(), 0, device)) {
        return status;
      } else {
        Complain(QStringLiteral("%1 does not open").arg(device));
      }
      return ExitNoInstrument;
    }
    c.Device = device;
    return ExitDone;
  }
  if (port != 0) {
    c.Device = PortPath(port);
    if (c.Device.isEmpty()) {
      Complain(QStringLiteral("COM%1 is not in the port map").arg(port));
      return ExitNoInstrument;
    }
    if (FindInstrument(c.Link, c.Clock, ConnectChosenPort, port, answers).Port == 0) {
      if (c.Link.PortOpen()) {
        Complain(QStringLiteral("no instrument answers on COM%1 (%2)").arg(port).arg(c.Device));
      } else if (const int status = Refused(c.Link.LastOpenFailure(), port, c.Device)) {
        return status;
      } else {
        Complain(QStringLiteral("COM%1 (%2) does not open").arg(port).arg(c.Device));
      }
      return ExitNoInstrument;
    }
    c.Port = port;
    return ExitDone;
  }
  const InstrumentSearch search = FindInstrument(c.Link, c.Clock, ConnectAutoDetect, 0, answers);
  if (search.Port == 0) {
    Complain(search.TimedOut ? QStringLiteral("no instrument found before the search timed out")
                             : QStringLiteral("no instrument found on the ports of the port map"));
    if (const int status = Refused(search)) {
      return status;
    }
    return ExitNoInstrument;
  }
  c.Port = search.Port;
  c.Device = PortPath(search.Port);
  return ExitDone;
}

namespace {

// The arguments a replay runs again: all but the program's name and the
// trace option.
QStringList ArgumentsToReplay(const QStringList& arguments) {
  QStringList kept;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == QLatin1String("--trace")) {
      ++i;
    } else if (!arguments[i].startsWith(QLatin1String("--trace="))) {
      kept << arguments[i];
    }
  }
  return kept;
}

// Lines through the port map (or what the surroundings give instead), traced
// when a trace is written.
void SetUpLines(Context& c, const QString& device, const Surroundings& surroundings,
                LineTrace* trace) {
  DeviceLink::LineOpener opener = surroundings.OpenPort;
  if (!opener) {
    opener = &DeviceLink::OpenMappedPort;
  }
  if (!device.isEmpty()) {
    opener = [device, open = surroundings.OpenDevice](int) -> OpenedLine {
      return open ? open(device) : DeviceLink::OpenDevicePath(device);
    };
  }
  if (trace != nullptr) {
    opener = TracingOpener(*trace, std::move(opener));
    c.Engine.SetExchangeListener([trace](LinkStatus status) {
      trace->Record(OutcomeEvent(status), LineTransport::Clock::now());
    });
    c.Clock.SetTrace(trace);
  }
  if (!device.isEmpty()) {
    // A device named by its path has no number.
    opener = [numbered = std::move(opener)](int) { return numbered(0); };
  }
  // A port that comes back is asked who is on it before anything it says
  // is kept.
  c.Link.SetLineOpener(IdentifyingOnReturn(c.Link, std::move(opener)));
}

}  // namespace

int RunVantorctl(const QStringList& arguments, const Surroundings& surroundings) {
  const CommandLine line = ReadCommandLine(arguments);
  if (!line.Mistake.isEmpty()) {
    Complain(line.Mistake + QStringLiteral(" (see vantorctl --help)"));
    return ExitUsage;
  }
  if (line.Form == nullptr) {
    WriteOut(line.Text.toUtf8());
    return ExitDone;
  }
  const CommandForm& form = *line.Form;

  // Before the context: the lines it opens record into it to the end.
  LineTrace trace;
  Context c;
  static_cast<CommandOptions&>(c) = line.Options;
  const QString& traceFile = line.TraceFile;
  if (!traceFile.isEmpty()) {
    QString error;
    if (!trace.WriteTo(traceFile, &error)) {
      Complain(QStringLiteral("cannot write the trace %1: %2").arg(traceFile, error));
      return ExitRefused;
    }
    trace.Note(QStringLiteral("program vantorctl %1 (Qt %2)")
                   .arg(QCoreApplication::applicationVersion(), QString::fromLatin1(qVersion())));
    trace.Note(ClockNote(surroundings.Calendar != nullptr ? *surroundings.Calendar : c.Clock));
    trace.Note(QStringLiteral("command ") +
               QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(
                                                   MaskSecrets(ArgumentsToReplay(arguments))))
                                     .toJson(QJsonDocument::Compact)));
  }
  c.Clock.SetBase(surroundings.Calendar);
  if (surroundings.SteadyNow) {
    c.SteadyNow = surroundings.SteadyNow;
  }
  if (surroundings.Sleep) {
    c.Sleep = surroundings.Sleep;
  }
  SetUpLines(c, line.Device, surroundings, traceFile.isEmpty() ? nullptr : &trace);

  // SIGTERM and Ctrl-C from here on stop the work after its current step,
  // and what was read still goes into the history.
  const InterruptRequest interrupt;
  int status = ExitDone;
  if (form.NeedsInstrument && line.Ports.Several()) {
    OpenHistory(c, line.History);
    SeveralRun run;
    run.Choice = line.Ports;
    run.Command = form.Run;
    run.Options = c;
    run.File = form.File;
    run.FileSuffix = FileSuffix(form, c.Output);
    run.OpenPort = surroundings.OpenPort;
    run.Calendar = surroundings.Calendar;
    run.History = c.Service.get();
    return FinishHistory(c, RunOnSeveral(run));
  }
  const auto work = [&c, &status, &form, &line] {
    if (form.NeedsInstrument) {
      status = FindTheInstrument(c, line.Port, line.Device);
      if (status == ExitDone && InterruptRequest::Requested()) {
        status = InterruptRequest::ExitStatus();
      }
    }
    if (status == ExitDone) {
      status = form.Run(c);
    }
  };
  if (form.NeedsInstrument) {
    OpenHistory(c, line.History);
  }
  if (form.NeedsInstrument || form.Run == &PortsCommand) {
    // On the instrument's engine; the history's news come out meanwhile.
    c.Engine.RunAndWait(
        QStringLiteral("command"), [&work](OperationControl&) { work(); }, &TellHistory);
  } else {
    work();
  }
  status = FinishHistory(c, status);
  if (!traceFile.isEmpty()) {
    trace.Note(QStringLiteral("exit %1").arg(status));
    if (!trace.Flush()) {
      Complain(QStringLiteral("the trace %1 could not be written whole").arg(traceFile));
    }
  }
  return status;
}

}  // namespace vantor::cli
