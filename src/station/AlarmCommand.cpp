#include "AlarmCommand.h"

#include <QProcess>
#include <QTimer>

namespace vantor {

AlarmCommand::AlarmCommand(QString command, int64_t timeoutMs,
                           std::function<void(const QString&)> log, QObject* parent)
    : QObject(parent), command_(std::move(command)), timeoutMs_(timeoutMs), log_(std::move(log)) {}

AlarmCommand::~AlarmCommand() {
  for (QProcess* process : findChildren<QProcess*>()) {
    process->disconnect(this);
    process->kill();
    process->waitForFinished(500);
  }
}

void AlarmCommand::Run(const QProcessEnvironment& environment) {
  if (running_ < MaxRunning) {
    Start(environment);
    return;
  }
  if (static_cast<int>(waiting_.size()) < MaxWaiting) {
    waiting_.push_back(environment);
    return;
  }
  if (dropped_++ == 0) {
    log_(
        QStringLiteral("on-alarm: too many commands still running; later alarms run none "
                       "until they end"));
  }
}

void AlarmCommand::Start(const QProcessEnvironment& environment) {
  auto* process = new QProcess(this);
  process->setProcessEnvironment(environment);
  process->setProcessChannelMode(QProcess::MergedChannels);
  process->setStandardInputFile(QProcess::nullDevice());
  auto* timer = new QTimer(process);
  timer->setSingleShot(true);
  connect(timer, &QTimer::timeout, process, [this, process] {
    ++timedOut_;
    log_(QStringLiteral("on-alarm: the command ran longer than %1 s and was stopped")
             .arg(static_cast<double>(timeoutMs_) / 1000.0));
    process->kill();
  });
  const auto finish = [this, process, timer](bool ok, const QString& why) {
    timer->stop();
    const QByteArray output = process->readAll().trimmed();
    if (!output.isEmpty()) {
      // Its own words, a bounded share of them.
      log_(QStringLiteral("on-alarm: ") + QString::fromUtf8(output.left(2000)));
    }
    if (!ok) {
      ++failed_;
      log_(QStringLiteral("on-alarm: ") + why);
    }
    --running_;
    process->deleteLater();
    if (!waiting_.empty() && running_ < MaxRunning) {
      const QProcessEnvironment next = waiting_.front();
      waiting_.pop_front();
      Start(next);
    }
  };
  connect(process, &QProcess::finished, this,
          [process, finish](int code, QProcess::ExitStatus status) {
            if (status == QProcess::CrashExit) {
              finish(false, QStringLiteral("the command was killed"));
            } else {
              finish(code == 0, QStringLiteral("the command ended with status %1").arg(code));
            }
          });
  connect(process, &QProcess::errorOccurred, this, [process, finish](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) {
      finish(false, QStringLiteral("the command did not start: ") + process->errorString());
    }
  });
  ++running_;
  ++started_;
  timer->start(static_cast<int>(timeoutMs_));
  process->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command_});
}

}  // namespace vantor
