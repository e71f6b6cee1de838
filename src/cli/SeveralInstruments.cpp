#include "SeveralInstruments.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

#include "PortMap.h"
#include "ReturningPort.h"
#include "Terminal.h"
#include "Vantorctl.h"

namespace vantor::cli {
namespace {

// A CSV block's header row is kept in `header` the first time; later blocks
// starting with the same header lose it, so it goes out once.
void DropRepeatedHeader(QByteArray& block, QByteArray& header) {
  const qsizetype end = block.indexOf('\n') + 1;
  if (header.isEmpty()) {
    header = block.left(end);
  } else if (block.left(end) == header) {
    block.remove(0, end);
  }
}

QString PortName(int port) {
  return QStringLiteral("COM%1").arg(port);
}

// What the instruments of a run share: the output as it is put together.
struct Together {
  Format Output = Format::People;
  bool Streams = false;  // live: rows go out as they come
  ProgressLines* Lines = nullptr;
  std::mutex Mutex;
  QByteArray CsvHeader;  // the header row once written, streaming
};

// One instrument of the run: its line and context, worked on a thread of
// its own, and its share of the output.
class InstrumentWork : public OutputShare {
 public:
  InstrumentWork(int port, int line, Together& together)
      : Port(port), Line(line), together_(together) {}

  void Out(const QByteArray& bytes) override {
    if (!together_.Streams) {
      Output += bytes;
      return;
    }
    QByteArray rows = bytes;
    const std::lock_guard lock(together_.Mutex);
    if (together_.Output == Format::Csv && !headerSeen_) {
      // Every instrument's rows start with the same header: it goes out once.
      headerSeen_ = true;
      DropRepeatedHeader(rows, together_.CsvHeader);
    } else if (together_.Output == Format::People) {
      // Lines of several instruments as they come: each says whose it is.
      QByteArray led;
      for (const QByteArray& line : rows.split('\n')) {
        if (!line.isEmpty()) {
          led += Label().toUtf8() + "  " + line + '\n';
        }
      }
      rows = led;
    }
    WriteOutWhole(rows);
  }

  void Note(const QString& line) override {
    const QString own = QStringLiteral("vantorctl: ");
    Notes << (line.startsWith(own) ? line.mid(own.size()) : line);
  }

  void Progress(int done, int total, const QString& what) override {
    ShowState(ProgressText(done, total, what));
  }

  void ShowState(const QString& state) const {
    if (together_.Lines != nullptr) {
      together_.Lines->Set(Line, Label() + QStringLiteral("  ") + state);
    }
  }

  // "COM3 SN004711", or the port alone until the instrument is known.
  QString Label() const {
    return Serial.isEmpty() ? PortName(Port) : PortName(Port) + ' ' + Serial;
  }

  const int Port;
  const int Line;
  Context C;
  int Status = ExitDone;
  bool Answered = false;  // the instrument was found on its port
  QString Serial;
  QByteArray Output;  // not streaming: everything it wrote
  QStringList Notes;

 private:
  Together& together_;
  bool headerSeen_ = false;
};

// The heading of an instrument's rows for people.
QString Heading(const InstrumentWork& work) {
  QStringList parts = {QStringLiteral("%1 (%2)").arg(PortName(work.Port), work.C.Device)};
  if (!work.Serial.isEmpty()) {
    parts << work.Serial;
  }
  if (work.C.Identification.FirmwareRead) {
    parts << work.C.Identification.Firmware;
  }
  return parts.join(QStringLiteral(", "));
}

// Everything the instruments wrote, in port order, as one output: one CSV
// header, people's rows under a heading per instrument.
QByteArray PutTogether(const std::vector<std::unique_ptr<InstrumentWork>>& works, Format format) {
  QByteArray all;
  QByteArray header;
  for (const auto& work : works) {
    QByteArray block = work->Output;
    if (block.isEmpty()) {
      continue;
    }
    if (format == Format::Csv) {
      DropRepeatedHeader(block, header);
    } else if (format == Format::People) {
      block.prepend((Heading(*work) + '\n').toUtf8());
      if (!all.isEmpty()) {
        block.prepend('\n');
      }
    }
    all += block;
  }
  return all;
}

// The one line that says what happened on an instrument.
QString Summary(const InstrumentWork& work, bool skipped) {
  const QString said = work.Notes.join(QLatin1Char(' '));
  if (work.Status == ExitDone) {
    return work.Label() + QStringLiteral(": ") + (said.isEmpty() ? QStringLiteral("done.") : said);
  }
  return work.Label() +
         (skipped ? QStringLiteral(": skipped: ")
                  : QStringLiteral(": failed (status %1): ").arg(work.Status)) +
         said;
}

// The folder the instruments' files go into, made when missing; an empty
// text when it can be used, else why not.
QString MakeFolder(const QString& folder) {
  const QFileInfo info(folder);
  if (info.exists() && !info.isDir()) {
    return QStringLiteral(
               "%1 is a file; with several instruments it names the folder their files "
               "go into")
        .arg(folder);
  }
  if (!QDir().mkpath(folder)) {
    return QStringLiteral("could not make the folder %1").arg(folder);
  }
  return {};
}

void Work(InstrumentWork& work, const SeveralRun& run, const QString& folder) {
  const ShareOutput share(&work);
  Context& c = work.C;
  work.ShowState(QStringLiteral("looking for the instrument"));
  work.Status = FindTheInstrument(c, work.Port, QString());
  if (work.Status == ExitDone) {
    work.Answered = true;
    work.Serial = InstrumentSerial(c.Identification.DeviceData);
    if (!folder.isEmpty()) {
      const QString file =
          QDir(folder).filePath(InstrumentFileName(work.Port, work.Serial, run.FileSuffix));
      if (run.File == SeveralRun::FileName::OutOption) {
        c.OutFile = file;
      } else if (!c.Words.isEmpty()) {
        c.Words.front() = file;
      }
    }
    work.ShowState(QStringLiteral("working"));
    work.Status = InterruptRequest::Requested() ? InterruptRequest::ExitStatus() : run.Command(c);
  }
  work.ShowState(work.Status == ExitDone ? QStringLiteral("done")
                                         : QStringLiteral("failed (status %1)").arg(work.Status));
  // The line was opened on this thread, and goes with it.
  c.Link.ClosePort();
}

}  // namespace

std::optional<PortChoice> ParsePortChoice(const QString& text, QString* error) {
  PortChoice choice;
  if (text.trimmed() == QLatin1String("all")) {
    choice.All = true;
    return choice;
  }
  std::set<int> seen;
  for (const QString& part : text.split(QLatin1Char(','))) {
    bool ok = false;
    const int port = part.trimmed().toInt(&ok);
    if (!ok || port < FirstPortNumber || port > LastPortNumber) {
      *error =
          QStringLiteral("--port needs a COM number from 1 to 254, a list of them (3,4,5) or all");
      return std::nullopt;
    }
    if (!seen.insert(port).second) {
      *error = QStringLiteral("--port names COM%1 twice").arg(port);
      return std::nullopt;
    }
    choice.Ports.push_back(port);
  }
  std::sort(choice.Ports.begin(), choice.Ports.end());
  return choice;
}

QString InstrumentFileName(int port, const QString& serial, const QString& suffix) {
  return (serial.isEmpty() ? PortName(port) : PortName(port) + '-' + serial) + suffix;
}

int RunOnSeveral(const SeveralRun& run) {
  std::vector<int> ports = run.Choice.Ports;
  if (run.Choice.All) {
    ports.clear();
    for (const PortEntry& entry : PortMapEntries()) {
      ports.push_back(entry.Number);
    }
    if (ports.empty()) {
      Complain(QStringLiteral("the port map lists no ports"));
      return ExitNoInstrument;
    }
  }
  QString folder;
  if (run.File == SeveralRun::FileName::OutOption) {
    folder = run.Options.OutFile;
  } else if (run.File == SeveralRun::FileName::Argument && !run.Options.Words.isEmpty()) {
    folder = run.Options.Words.front();
  }
  if (!folder.isEmpty()) {
    const QString why = MakeFolder(folder);
    if (!why.isEmpty()) {
      Complain(why);
      return ExitRefused;
    }
  }

  Together together;
  together.Output = run.Options.Output;
  together.Streams = run.Command == &LiveCommand;
  // Live rows are their own progress; the lines would only stand in their way.
  std::unique_ptr<ProgressLines> lines;
  if (!together.Streams) {
    lines = std::make_unique<ProgressLines>(static_cast<int>(ports.size()));
    together.Lines = lines.get();
  }
  std::vector<std::unique_ptr<InstrumentWork>> works;
  // Each instrument's work is one operation of its engine; this thread
  // waits for them all, handing the history's news on meanwhile.
  std::mutex endMutex;
  std::condition_variable endChanged;
  size_t ended = 0;
  for (size_t i = 0; i < ports.size(); ++i) {
    auto work = std::make_unique<InstrumentWork>(ports[i], static_cast<int>(i), together);
    Context& c = work->C;
    static_cast<CommandOptions&>(c) = run.Options;
    // Rows going into a file of their own need not say whose they are.
    c.RowPort = run.File == SeveralRun::FileName::OutOption && !folder.isEmpty() ? 0 : ports[i];
    c.Clock.SetBase(run.Calendar);
    c.Link.SetLineOpener(IdentifyingOnReturn(
        c.Link, run.OpenPort ? run.OpenPort : DeviceLink::LineOpener(&DeviceLink::OpenMappedPort)));
    c.History = {run.History};
    works.push_back(std::move(work));
  }
  for (const auto& work : works) {
    InstrumentWork* own = work.get();
    own->C.Engine.Run(QStringLiteral("command"),
                      [own, &run, folder, &endMutex, &endChanged, &ended](OperationControl&) {
                        try {
                          Work(*own, run, folder);
                        } catch (const std::exception& e) {
                          // A failure of this instrument's, not taken for done.
                          own->Note(QString::fromLocal8Bit(e.what()));
                          own->Status = ExitLineFailure;
                          own->C.Link.ClosePort();
                        }
                        const std::lock_guard lock(endMutex);
                        ++ended;
                        endChanged.notify_all();
                      });
  }
  // The history's outcomes come to this thread meanwhile.
  {
    std::unique_lock lock(endMutex);
    while (!endChanged.wait_for(lock, std::chrono::milliseconds(50),
                                [&ended, &works] { return ended == works.size(); })) {
      lock.unlock();
      TellHistory();
      lock.lock();
    }
  }
  lines.reset();
  TellHistory();

  if (!together.Streams) {
    WriteOutWhole(PutTogether(works, run.Options.Output));
  }
  // With every port of the map, those where no instrument answers are
  // named once; a port another program holds, or the user may not open, is
  // skipped, and says so.
  QStringList silent;
  int worst = ExitDone;
  int refused = ExitDone;
  bool answered = false;
  for (const auto& work : works) {
    const bool refusal = work->Status == ExitPermission || work->Status == ExitBusy;
    if (run.Choice.All && !work->Answered) {
      if (refusal) {
        WriteNoteWhole(Summary(*work, true));
        refused = refused == ExitPermission ? refused : work->Status;
      } else {
        silent << PortName(work->Port);
      }
      continue;
    }
    answered = answered || work->Answered;
    worst = std::max(worst, work->Status);
    WriteNoteWhole(Summary(*work, false));
  }
  if (!silent.isEmpty()) {
    WriteNoteWhole(QStringLiteral("No instrument answers on %1.").arg(silent.join(", ")));
  }
  if (run.Choice.All && !answered) {
    Complain(QStringLiteral("no instrument found on the ports of the port map"));
    return refused != ExitDone ? refused : ExitNoInstrument;
  }
  return worst;
}

}  // namespace vantor::cli
