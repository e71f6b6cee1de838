#include "LineTrace.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cctype>

#include "LinkLog.h"
#include "PortMap.h"
#include "Secrets.h"
#include "SerialTransport.h"

namespace vantor {
namespace {

struct KindName {
  TraceKind Kind;
  const char* Name;
};
constexpr KindName KindNames[] = {
    {TraceKind::Open, "open"},
    {TraceKind::Write, "write"},
    {TraceKind::WriteFailed, "write-failed"},
    {TraceKind::Read, "read"},
    {TraceKind::Purge, "purge"},
    {TraceKind::Timeout, "timeout"},
    {TraceKind::Drop, "drop"},
    {TraceKind::Lost, "lost"},
    {TraceKind::Close, "close"},
    {TraceKind::Outcome, "outcome"},
    {TraceKind::Calendar, "calendar"},
};

struct FailureName {
  OpenFailure Failure;
  const char* Name;
};
constexpr FailureName FailureNames[] = {
    {OpenFailure::None, "ok"},
    {OpenFailure::NoSuchPort, "no-such-port"},
    {OpenFailure::Missing, "missing"},
    {OpenFailure::PermissionDenied, "permission-denied"},
    {OpenFailure::Busy, "busy"},
    {OpenFailure::Failed, "failed"},
    {OpenFailure::StaleLock, "stale-lock"},
};

bool CarriesBytes(TraceKind kind) {
  return kind == TraceKind::Write || kind == TraceKind::WriteFailed || kind == TraceKind::Read ||
         kind == TraceKind::Purge || kind == TraceKind::Drop;
}

QString PortName(int port) {
  return port > 0 ? QStringLiteral("COM%1").arg(port) : QStringLiteral("-");
}

// "COM3" or "-" (a device named by its path).
std::optional<int> ParsePort(const QString& text) {
  if (text == QLatin1String("-")) {
    return 0;
  }
  const int port = PortNumberFromName(text);
  return port != 0 ? std::optional<int>(port) : std::nullopt;
}

std::optional<std::vector<uint8_t>> ParseHex(const QString& text) {
  if (text.size() % 2 != 0) {
    return std::nullopt;
  }
  for (const QChar c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c.toLatin1())) || c.unicode() > 0x7F) {
      return std::nullopt;
    }
  }
  const QByteArray bytes = QByteArray::fromHex(text.toLatin1());
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::optional<TraceEvent> Refuse(QString* error, const QString& why) {
  if (error != nullptr) {
    *error = why;
  }
  return std::nullopt;
}

}  // namespace

QString OpenFailureName(OpenFailure failure) {
  for (const FailureName& name : FailureNames) {
    if (name.Failure == failure) {
      return QString::fromLatin1(name.Name);
    }
  }
  return QStringLiteral("failed");
}

TraceEvent OutcomeEvent(LinkStatus status) {
  TraceEvent event;
  event.Kind = TraceKind::Outcome;
  event.Status = status;
  return event;
}

QString FormatTraceEvent(const TraceEvent& event) {
  QString kind;
  for (const KindName& name : KindNames) {
    if (name.Kind == event.Kind) {
      kind = QString::fromLatin1(name.Name);
    }
  }
  const int64_t micros = std::max<int64_t>(event.Micros, 0);
  QString line = QStringLiteral("%1.%2 %3")
                     .arg(micros / 1000000)
                     .arg(micros % 1000000, 6, 10, QLatin1Char('0'))
                     .arg(kind);
  if (CarriesBytes(event.Kind)) {
    if (!event.Bytes.empty()) {
      line += QLatin1Char(' ') +
              QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(event.Bytes.data()),
                                             static_cast<qsizetype>(event.Bytes.size()))
                                      .toHex());
    }
  } else if (event.Kind == TraceKind::Open) {
    line += QStringLiteral(" %1 %2 %3")
                .arg(PortName(event.Port), OpenFailureName(event.Failure),
                     event.Path.isEmpty() ? QStringLiteral("-") : event.Path);
  } else if (event.Kind == TraceKind::Close) {
    line += QLatin1Char(' ') + PortName(event.Port);
  } else if (event.Kind == TraceKind::Timeout) {
    line += QStringLiteral(" %1/%2").arg(event.Got).arg(event.Want);
  } else if (event.Kind == TraceKind::Outcome && event.Value == 0) {
    line += QLatin1Char(' ') + LinkStatusName(event.Status);
  } else if (event.Kind == TraceKind::Outcome || event.Kind == TraceKind::Calendar) {
    line += QLatin1Char(' ') + QString::number(event.Value);
  }
  return line;
}

std::optional<TraceEvent> ParseTraceEvent(const QString& line, QString* error) {
  const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (words.size() < 2) {
    return Refuse(error, QStringLiteral("no time and kind"));
  }
  TraceEvent event;
  const QStringList time = words[0].split(QLatin1Char('.'));
  bool okSeconds = false;
  bool okMicros = false;
  const qint64 seconds = time.value(0).toLongLong(&okSeconds);
  const qint64 micros = time.value(1).toLongLong(&okMicros);
  if (time.size() != 2 || time[1].size() != 6 || !okSeconds || !okMicros || seconds < 0 ||
      micros < 0) {
    return Refuse(error, QStringLiteral("\"%1\" is no time stamp").arg(words[0]));
  }
  event.Micros = seconds * 1000000 + micros;
  bool known = false;
  for (const KindName& name : KindNames) {
    if (words[1] == QLatin1String(name.Name)) {
      event.Kind = name.Kind;
      known = true;
    }
  }
  if (!known) {
    return Refuse(error, QStringLiteral("unknown event \"%1\"").arg(words[1]));
  }
  if (CarriesBytes(event.Kind)) {
    if (words.size() > 3) {
      return Refuse(error, QStringLiteral("more than one run of bytes"));
    }
    if (words.size() == 3) {
      const std::optional<std::vector<uint8_t>> bytes = ParseHex(words[2]);
      if (!bytes) {
        return Refuse(error, QStringLiteral("\"%1\" is no hexadecimal bytes").arg(words[2]));
      }
      event.Bytes = *bytes;
    }
    if (event.Bytes.empty() && event.Kind != TraceKind::Purge) {
      return Refuse(error, QStringLiteral("%1 without bytes").arg(words[1]));
    }
    return event;
  }
  switch (event.Kind) {
    case TraceKind::Open: {
      const std::optional<int> port = ParsePort(words.value(2));
      bool outcome = false;
      for (const FailureName& name : FailureNames) {
        if (words.value(3) == QLatin1String(name.Name)) {
          event.Failure = name.Failure;
          outcome = true;
        }
      }
      if (!port || !outcome || words.size() < 5) {
        return Refuse(error, QStringLiteral("open needs a port, an outcome and a path"));
      }
      event.Port = *port;
      // The path is the rest of the line, spaces and all.
      event.Path = line.section(QLatin1Char(' '), 4, -1, QString::SectionSkipEmpty);
      if (event.Path == QLatin1String("-")) {
        event.Path.clear();  // an opener that knows no path
      }
      return event;
    }
    case TraceKind::Close: {
      const std::optional<int> port = ParsePort(words.value(2));
      if (!port || words.size() != 3) {
        return Refuse(error, QStringLiteral("close needs a port"));
      }
      event.Port = *port;
      return event;
    }
    case TraceKind::Timeout: {
      const QStringList counts = words.value(2).split(QLatin1Char('/'));
      bool okGot = false;
      bool okWant = false;
      event.Got = counts.value(0).toULongLong(&okGot);
      event.Want = counts.value(1).toULongLong(&okWant);
      if (words.size() != 3 || counts.size() != 2 || !okGot || !okWant) {
        return Refuse(error, QStringLiteral("timeout needs got/wanted"));
      }
      return event;
    }
    case TraceKind::Outcome: {
      if (const std::optional<LinkStatus> status = LinkStatusFromName(words.value(2));
          status && words.size() == 3) {
        event.Status = *status;
        return event;
      }
      // Version 1 noted the message row the outcome showed.
      bool ok = false;
      event.Value = words.value(2).toLongLong(&ok);
      if (words.size() != 3 || !ok || event.Value <= 0) {
        return Refuse(error, QStringLiteral("outcome needs a status"));
      }
      return event;
    }
    case TraceKind::Calendar: {
      bool ok = false;
      event.Value = words.value(2).toLongLong(&ok);
      if (words.size() != 3 || !ok) {
        return Refuse(error, QStringLiteral("calendar needs a number"));
      }
      return event;
    }
    default:
      if (words.size() != 2) {
        return Refuse(error, QStringLiteral("%1 takes nothing more").arg(words[1]));
      }
      return event;
  }
}

std::optional<ParsedTrace> ParseTrace(const QByteArray& text, QString* error) {
  ParsedTrace trace;
  const QList<QByteArray> lines = text.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString line = QString::fromUtf8(lines[i]).trimmed();
    if (line.isEmpty()) {
      continue;
    }
    if (line.startsWith(QLatin1Char('#'))) {
      const QString note = line.mid(1).trimmed();
      const QString key = note.section(QLatin1Char(' '), 0, 0);
      const QString value = note.section(QLatin1Char(' '), 1);
      if (key == QLatin1String("started")) {
        trace.Started = value;
      } else if (key == QLatin1String("command")) {
        const QJsonDocument doc = QJsonDocument::fromJson(value.toUtf8());
        if (!doc.isArray()) {
          if (error != nullptr) {
            *error = QStringLiteral("line %1: the command is no JSON array").arg(i + 1);
          }
          return std::nullopt;
        }
        QStringList command;
        for (const auto& word : doc.array()) {
          command << word.toString();
        }
        trace.Command = command;
      } else if (key == QLatin1String("clock")) {
        trace.UtcMinusLocal = value.section(QLatin1Char(' '), 0, 0).toLongLong();
        trace.UtcMinusStandard = value.section(QLatin1Char(' '), 1, 1).toLongLong();
      } else if (key == QLatin1String("exit")) {
        bool ok = false;
        const int status = value.toInt(&ok);
        if (ok) {
          trace.Exit = status;
        }
      }
      continue;
    }
    QString why;
    std::optional<TraceEvent> event = ParseTraceEvent(line, &why);
    if (!event && i == lines.size() - 1) {
      break;  // the last line of a trace cut short, as a crash leaves it
    }
    if (!event) {
      if (error != nullptr) {
        *error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
      }
      return std::nullopt;
    }
    trace.Events.push_back(std::move(*event));
  }
  return trace;
}

LineTrace::LineTrace() : start_(Clock::now()) {
  notes_.push_back("# vantor line trace, version 2");
  notes_.push_back(
      ("# started " + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)).toUtf8());
}

LineTrace::~LineTrace() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) {
    writer_.join();
  }
}

bool LineTrace::WriteTo(const QString& path, QString* error) {
  auto file = std::make_unique<QFile>(path);
  if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    if (error != nullptr) {
      *error = file->errorString();
    }
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (writing_) {
    return true;
  }
  queue_ = notes_;
  for (const Kept& kept : ring_) {
    queue_.push_back(kept.Line);
  }
  file_ = std::move(file);
  writing_ = true;
  writer_ = std::thread([this] { WriterLoop(); });
  return true;
}

bool LineTrace::Writing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writing_;
}

bool LineTrace::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  drained_.wait(lock, [this] { return !writing_ || (queue_.empty() && !busy_) || failed_; });
  return !failed_;
}

void LineTrace::WriterLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty() && stop_) {
      break;
    }
    std::vector<QByteArray> batch;
    batch.swap(queue_);
    busy_ = true;
    lock.unlock();
    QByteArray text;
    for (const QByteArray& line : batch) {
      text += line;
      text += '\n';
    }
    const bool ok = failed_ || (file_->write(text) == text.size() && file_->flush());
    lock.lock();
    busy_ = false;
    if (!ok && !failed_) {
      failed_ = true;
      qCWarning(lcLink) << "the trace" << file_->fileName()
                        << "cannot be written:" << file_->errorString();
    }
    drained_.notify_all();
  }
  file_->close();
  drained_.notify_all();
}

void LineTrace::Note(const QString& text) {
  // A trace is sent along with reports: a note (the command line) never
  // carries a password.
  const QByteArray line = "# " + MaskSecrets(text).toUtf8();
  std::lock_guard<std::mutex> lock(mutex_);
  notes_.push_back(line);
  if (writing_) {
    queue_.push_back(line);
    wake_.notify_one();
  }
}

void LineTrace::Record(TraceEvent event, Clock::time_point at) {
  event.Micros = std::chrono::duration_cast<std::chrono::microseconds>(at - start_).count();
  Keep(event.Micros, FormatTraceEvent(event).toUtf8());
}

void LineTrace::Keep(int64_t micros, QByteArray line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (writing_) {
    queue_.push_back(line);
    wake_.notify_one();
  }
  ringBytes_ += static_cast<size_t>(line.size());
  ring_.push_back({micros, std::move(line)});
  const int64_t oldest =
      micros - std::chrono::duration_cast<std::chrono::microseconds>(RingAge).count();
  while (!ring_.empty() && (ring_.front().Micros < oldest || ringBytes_ > RingBytes)) {
    ringBytes_ -= static_cast<size_t>(ring_.front().Line.size());
    ring_.pop_front();
  }
}

QByteArray LineTrace::Recent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  QByteArray text;
  for (const QByteArray& line : notes_) {
    text += line + '\n';
  }
  for (const Kept& kept : ring_) {
    text += kept.Line + '\n';
  }
  return text;
}

TracingTransport::TracingTransport(std::unique_ptr<LineTransport> inner, LineTrace& trace, int port)
    : inner_(std::move(inner)), trace_(trace), port_(port), offset_(Clock::now() - inner_->Now()) {}

TracingTransport::~TracingTransport() {
  TraceEvent event;
  event.Kind = TraceKind::Close;
  event.Port = port_;
  Record(std::move(event));
}

void TracingTransport::Record(TraceEvent event) const {
  trace_.Record(std::move(event), inner_->Now() + offset_);
}

void TracingTransport::Purge() {
  TraceEvent event;
  event.Kind = TraceKind::Purge;
  // What the purge throws away is worth seeing: a late reply, noise.
  const size_t held = inner_->WaitForBytes(0, inner_->Now());
  if (held > 0) {
    event.Bytes.resize(held);
    event.Bytes.resize(inner_->Read(event.Bytes.data(), held));
  }
  inner_->Purge();
  Record(std::move(event));
}

bool TracingTransport::Write(const uint8_t* bytes, size_t count, Clock::time_point deadline) {
  const bool written = inner_->Write(bytes, count, deadline);
  TraceEvent event;
  event.Kind = written ? TraceKind::Write : TraceKind::WriteFailed;
  event.Bytes.assign(bytes, bytes + count);
  Record(std::move(event));
  return written;
}

size_t TracingTransport::WaitForBytes(size_t want, Clock::time_point deadline) {
  const size_t got = inner_->WaitForBytes(want, deadline);
  if (got < want && !inner_->Lost()) {
    TraceEvent event;
    event.Kind = TraceKind::Timeout;
    event.Want = want;
    event.Got = got;
    Record(std::move(event));
  }
  return got;
}

size_t TracingTransport::Read(uint8_t* into, size_t count) {
  const size_t got = inner_->Read(into, count);
  if (got > 0) {
    TraceEvent event;
    event.Kind = TraceKind::Read;
    event.Bytes.assign(into, into + got);
    Record(std::move(event));
  }
  return got;
}

bool TracingTransport::Lost() const {
  const bool lost = inner_->Lost();
  if (lost && !lostRecorded_) {
    lostRecorded_ = true;
    TraceEvent event;
    event.Kind = TraceKind::Lost;
    Record(std::move(event));
  }
  return lost;
}

int64_t TracedClock::Now() const {
  const int64_t now = Base().Now();
  if (trace_ != nullptr && now != last_) {
    last_ = now;
    TraceEvent event;
    event.Kind = TraceKind::Calendar;
    event.Value = now;
    trace_->Record(std::move(event), LineTransport::Clock::now());
  }
  return now;
}

int64_t TracedClock::NowMs() const {
  // The millisecond within the second the trace notes, so readings polled
  // within one second keep times of their own.
  const int64_t ms = Base().NowMs();
  const int64_t now = Now();
  const int64_t second = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
  return second == now ? ms : now * 1000;
}

QString ClockNote(const CalendarClock& clock) {
  const int64_t now = clock.Now();
  const LocalTime local = clock.ToLocal(now);
  const int64_t localAsUtc = DaysFromCivil(local.Year, local.Month, local.Day) * 86400 +
                             local.Hour * 3600 + local.Minute * 60 + local.Second;
  return QStringLiteral("clock %1 %2").arg(now - localAsUtc).arg(clock.StandardOffset());
}

DeviceLink::LineOpener TracingOpener(LineTrace& trace, DeviceLink::LineOpener base) {
  return [&trace, base = std::move(base)](int number) -> OpenedLine {
    OpenedLine opened = base ? base(number) : OpenedLine();
    // The numbers a port search asks for that name nothing leave no trace.
    if (!opened.Line && opened.Failure == OpenFailure::NoSuchPort) {
      return opened;
    }
    TraceEvent event;
    event.Kind = TraceKind::Open;
    event.Port = number;
    event.Failure = opened.Line ? OpenFailure::None : opened.Failure;
    event.Path = opened.Path;
    trace.Record(std::move(event), LineTransport::Clock::now());
    if (!opened.Line) {
      return opened;
    }
    if (auto* serial = dynamic_cast<SerialTransport*>(opened.Line.get())) {
      serial->OnUnasked = [&trace](const QByteArray& bytes) {
        if (bytes.isEmpty()) {
          return;
        }
        TraceEvent drop;
        drop.Kind = TraceKind::Drop;
        drop.Bytes.assign(bytes.begin(), bytes.end());
        trace.Record(std::move(drop), LineTransport::Clock::now());
      };
    }
    opened.Line = std::make_unique<TracingTransport>(std::move(opened.Line), trace, number);
    return opened;
  };
}

}  // namespace vantor
